// memoryman over a private bus, called by member name without an interface as the module does.
#include "peers/PeerTestSupport.h"

#include <QDBusVariant>
#include <gtest/gtest.h>

#include <csignal>

namespace raduvuz {
namespace {

using namespace test;

int Int(const QDBusMessage& m, int i = 0) {
    return m.arguments().value(i).toInt();
}

bool Bool(const QDBusMessage& m) {
    return m.arguments().value(0).toBool();
}

QString Str(const QDBusMessage& m, int i = 0) {
    return m.arguments().value(i).toString();
}

class StoreBusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Bus.Ok()); }
    // The test's file "in" put in for module 3 in blocks of blockSize: the document's number.
    int Put(TStoreProcess& store, const char* dds, int blockSize) {
        return Int(store.Call("PutFile", {Q(Temp / "in"), dds, blockSize, 3}));
    }
    TPrivateBus Bus;
    TTempFolder Temp;
};

TEST_F(StoreBusTest, BadInputGetsNamedErrorsAndLeaksNoBlock) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    WriteTextFile(Temp / "in", PatternBytes(100, 1));
    const int in = Put(store, "Name=b", 40);
    // The combined search a module uses is on the bus, with its DDS as the out value.
    const QDBusMessage found = store.Call("RNextFindDocDDS", {3, 0});
    EXPECT_EQ(Int(found), in);
    EXPECT_EQ(Str(found, 1), "Name=b");
    store.Call("ROpenDoc", {3, in});
    const int out = Int(store.Call("WCreateDoc", {3, 1, "12", "N=1"}));
    const auto blocksBefore = ShmFiles(store.Prefix()).size();

    struct TCase {
        const char* Method;
        QVariantList Args;
        const char* Error;
    };
    const TCase cases[] = {
        {"RGetDocDDS", {999}, "UnknownDocument"},
        {"ROpenDoc", {3, 999}, "UnknownDocument"},
        {"RGetBlock", {3, 999}, "UnknownDocument"},
        {"WGetBlock", {out, -5}, "InvalidArgument"},
        {"RCloseBlock", {3, in, 12345}, "UnknownHandle"},
        {"WCloseBlock", {out, 777, 1}, "UnknownHandle"},
        {"WFinishDoc", {3, in, out, 777}, "UnknownHandle"},
        {"RGetBlock", {4, in}, "NotOpen"},
        {"WCloseDoc", {-1}, "UnknownDocument"},
        {"PutFile", {"/nonexistent/file", "N=1", 10, 3}, "FileError"},
        {"PutFile", {Q(Temp / "in"), "N=1", -10, 3}, "InvalidArgument"},
    };
    for (const auto& c : cases) {
        QDBusMessage reply = store.Call(c.Method, c.Args);
        EXPECT_EQ(reply.errorName().toStdString(), "RozEza.MemoryMan.Error." + std::string(c.Error))
            << c.Method;
        EXPECT_FALSE(reply.errorMessage().isEmpty()) << c.Method;
    }
    // Wrong argument types are turned away by the bus layer, not by a crash.
    EXPECT_TRUE(IsError(store.Call("RGetBlock", {QStringLiteral("x"), 1})));
    // A member the store lacks is UnknownMethod, with or without the interface: the module then
    // makes the contract's single calls. A call naming the interface is served as one without.
    for (const QString& interface : {QString(), QStringLiteral("RozEza.MemoryMan")}) {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("RozEza.MemoryMan"),
                                                           QStringLiteral("/MemoryMan"), interface,
                                                           QStringLiteral("RCombineEverything"));
        call.setArguments({3});
        EXPECT_EQ(Bus.Connection().call(call, QDBus::Block, 20000).errorName().toStdString(),
                  "org.freedesktop.DBus.Error.UnknownMethod")
            << interface.toStdString();
        call = QDBusMessage::createMethodCall(QStringLiteral("RozEza.MemoryMan"),
                                              QStringLiteral("/MemoryMan"), interface,
                                              QStringLiteral("RGetDocDDS"));
        call.setArguments({in});
        EXPECT_EQ(Str(Bus.Connection().call(call, QDBus::Block, 20000)), "Name=b")
            << interface.toStdString();
    }
    EXPECT_EQ(ShmFiles(store.Prefix()).size(), blocksBefore);

    store.Call("RCloseDoc", {3, in});
    store.Call("WAbortDoc", {out});
    EXPECT_TRUE(ShmFiles(store.Prefix()).empty());
    EXPECT_EQ(store.Proc().state(), QProcess::Running);
}

TEST_F(StoreBusTest, SecondStoreGivesUpAndATerminatedOneRemovesEveryBlockItStillHeld) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    WriteTextFile(Temp / "in", PatternBytes(300, 2));
    const int in = Put(store, "N=1", 100);
    store.Call("ROpenDoc", {3, in});
    store.Call("RGetBlock", {3, in});
    const int out = Int(store.Call("WCreateDoc", {3, 1, "12", "N=1"}));
    store.Call("WGetBlock", {out, 50});
    EXPECT_EQ(ShmFiles(store.Prefix()).size(), 4u);

    // A second store on the same bus gives up and leaves the running one's blocks alone.
    const TRunResult second =
        RunToEnd(QStringLiteral(MEMORYMAN_PATH), {"--state", Q(Temp / "state")}, Bus.Environment(),
                 {}, {}, 10000);
    EXPECT_EQ(second.Code, 1) << second;
    EXPECT_FALSE(IsError(store.Call("ListDocs")));
    EXPECT_EQ(ShmFiles(store.Prefix()).size(), 4u);

    const std::string prefix = store.Prefix();
    ::kill(static_cast<pid_t>(store.Pid()), SIGTERM);
    ASSERT_TRUE(store.Proc().waitForFinished(10000));
    EXPECT_EQ(store.Proc().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(store.Proc().exitCode(), 0);
    EXPECT_TRUE(ShmFiles(prefix).empty());
}

TEST_F(StoreBusTest, KilledReaderGetsItsDocumentOfferedAgainWholeAndTheSignalsSayWhen) {
    TStoreProcess store(Bus, {"--memory-limit", "16000"});
    ASSERT_TRUE(store.Ok());
    TStoreSignals heard(Bus.Connection());
    const std::string data = PatternBytes(10000, 11);
    WriteTextFile(Temp / "in", data);
    const int in = Put(store, "Name=k", 2000);
    const QString doc = QString::number(in);
    ASSERT_TRUE(heard.WaitFor(QStringLiteral("DocumentAvailable 3 ") + doc));
    // The store is full; the writer that is refused hears when memory is free again.
    EXPECT_EQ(store.Call("PutFile", {Q(Temp / "in"), "Name=l", 2000, 4}).errorName(),
              QStringLiteral("RozEza.MemoryMan.Error.NoMemory"));

    TStoreCaller reader(Bus);
    ASSERT_TRUE(reader.Ok());
    const std::string call = " 3 " + std::to_string(in);
    const QStringList opened = reader.Call("ROpenDoc" + call);
    ASSERT_EQ(opened.size(), 2) << opened.join(QLatin1Char(' ')).toStdString();
    const QStringList first = reader.Call("RGetBlock" + call);
    ASSERT_EQ(first.size(), 4);
    EXPECT_EQ(reader.Call("RCloseBlock" + call + " " + first[2].toStdString()),
              QStringList{QString()});
    EXPECT_EQ(reader.Call("RGetBlock" + call).size(), 4);
    ASSERT_TRUE(heard.WaitFor(QStringLiteral("DocumentTaken 3 ") + doc));
    EXPECT_EQ(Int(store.Call("RNextFindDoc", {3, 0})), -1);

    reader.Kill();
    const QString offered = QStringLiteral("DocumentAvailable 3 ") + doc;
    EXPECT_TRUE(WaitUntil([&] { return heard.Seen.count(offered) == 2; }, 10000))
        << heard.Seen.join(QLatin1Char(' ')).toStdString() << "\n"
        << store.Errors();
    EXPECT_TRUE(store.WaitForError("left the bus while reading document " + std::to_string(in) +
                                   " (job " + opened[1].toStdString() +
                                   "): offered to module 3 again from its first block"))
        << store.Errors();

    // The module, started again, finds it and reads it from the first byte to the last.
    EXPECT_EQ(Int(store.Call("RNextFindDoc", {3, 0})), in);
    QDBusMessage again = store.Call("ROpenDoc", {3, in});
    EXPECT_EQ(Str(again), QStringLiteral("Name=k"));
    EXPECT_EQ(Int(again, 1), opened[1].toInt());
    std::string read;
    for (int last = 0; !last;) {
        QDBusMessage b = store.Call("RGetBlock", {3, in});
        ASSERT_FALSE(IsError(b) || Str(b).isEmpty()) << b.errorMessage().toStdString();
        read += ReadBlock(Str(b).toStdString(), Int(b, 1));
        store.Call("RCloseBlock", {3, in, Int(b, 2)});
        last = Int(b, 3);
    }
    EXPECT_EQ(read, data);
    store.Call("RCloseDoc", {3, in});
    EXPECT_TRUE(heard.WaitFor(QStringLiteral("MemoryFreed")));
    EXPECT_TRUE(ShmFiles(store.Prefix()).empty());
}

TEST_F(StoreBusTest, KilledWriterHasItsDocumentsAbortedAndItsSwitchedInputDropped) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    TStoreSignals heard(Bus.Connection());
    WriteTextFile(Temp / "in", PatternBytes(3000, 12));
    const int in = Put(store, "Name=w", 1000);

    // A pass-through module: one block switched on to 12, one written for 15.
    TStoreCaller writer(Bus);
    ASSERT_TRUE(writer.Ok());
    const std::string job = writer.Call("ROpenDoc 3 " + std::to_string(in)).value(1).toStdString();
    const int out = writer.Call("WCreateDoc 3 " + job + " 12 Name=w").value(0).toInt();
    const int pending = writer.Call("WCreateDoc 3 " + job + " 15 Name=p").value(0).toInt();
    ASSERT_GT(out, 0);
    ASSERT_GT(pending, 0);
    const QStringList switched =
        writer.Call("RWSwitchBlock 3 " + std::to_string(in) + " " + std::to_string(out));
    ASSERT_EQ(switched.size(), 4);
    writer.Call("WCloseBlock " + std::to_string(out) + " " + switched[2].toStdString() + " 0");
    EXPECT_EQ(writer.Call("WGetBlock " + std::to_string(pending) + " 500").size(), 2);
    EXPECT_TRUE(Bool(store.Call("IsDocForExists", {15})));

    // Destination 12 streams behind the writer and waits for the next block.
    store.Call("ROpenDoc", {12, out});
    QDBusMessage b = store.Call("RGetBlock", {12, out});
    ASSERT_FALSE(Str(b).isEmpty());
    store.Call("RCloseBlock", {12, out, Int(b, 2)});
    EXPECT_EQ(Int(store.Call("RGetBlock", {12, out}), 2), 0);

    writer.Kill();
    ASSERT_TRUE(heard.WaitFor(QStringLiteral("DocumentClosed %1 true").arg(out)));
    ASSERT_TRUE(heard.WaitFor(QStringLiteral("DocumentClosed %1 true").arg(pending)));
    EXPECT_FALSE(Bool(store.Call("IsDocForExists", {15})));
    QDBusMessage gone = store.Call("RGetBlock", {12, out});
    EXPECT_TRUE(Str(gone).isEmpty());
    EXPECT_EQ(Int(gone, 2), -1);
    // The input was switched on in part: it cannot be given again, and the log says so.
    EXPECT_EQ(Int(store.Call("RNextFindDoc", {3, 0})), -1);
    EXPECT_TRUE(store.WaitForError("left the bus while writing document " +
                                   std::to_string(pending) + " (job " + job + ") for 15: aborted"))
        << store.Errors();
    EXPECT_TRUE(store.WaitForError("left the bus while reading document " + std::to_string(in) +
                                   " (job " + job + "): it cannot be given again (blocks of it " +
                                   "were switched into document " + std::to_string(out) +
                                   "); dropped for module 3"))
        << store.Errors();
    store.Call("RCloseDoc", {12, out});
    EXPECT_TRUE(ShmFiles(store.Prefix()).empty());
}

TEST_F(StoreBusTest, RestartedStoreNeverRepeatsANumberAndRemovesTheBlocksAKilledOneLeft) {
    const QStringList state = {"--state", Q(Temp / "state/memoryman")};
    WriteTextFile(Temp / "in", PatternBytes(300, 13));
    auto jobOf = [](TStoreProcess& store, int doc) {
        return Int(store.Call("ROpenDoc", {3, doc}), 1);
    };
    int lastDoc = 0;
    int lastJob = 0;
    std::string killedPrefix;
    {
        TStoreProcess killed(Bus, state);
        ASSERT_TRUE(killed.Ok());
        for (int i = 0; i < 3; ++i) {
            lastDoc = Put(killed, "Name=n", 100);
            lastJob = jobOf(killed, lastDoc);
        }
        killedPrefix = killed.Prefix();
        EXPECT_EQ(ShmFiles(killedPrefix).size(), 9u);
        ::kill(static_cast<pid_t>(killed.Pid()), SIGKILL);
        ASSERT_TRUE(killed.Proc().waitForFinished(10000));
    }
    // No count of the blocks here: a store starting for a test beside this one may already have
    // cleared them.
    {
        TStoreProcess restarted(Bus, state);
        ASSERT_TRUE(restarted.Ok());
        // Any store that starts on this machine clears a dead store's blocks, so the line may
        // come from a store of another test; what counts is that none is left.
        EXPECT_TRUE(ShmFiles(killedPrefix).empty());
        const int doc = Put(restarted, "Name=n", 100);
        const int job = jobOf(restarted, doc);
        EXPECT_GT(doc, lastDoc);
        EXPECT_GT(job, lastJob);
        lastDoc = doc;
        lastJob = job;
    }
    // A store that ended cleanly gave back what it had not used: the next one goes on at once.
    TStoreProcess next(Bus, state);
    ASSERT_TRUE(next.Ok());
    const int doc = Put(next, "Name=n", 100);
    EXPECT_EQ(doc, lastDoc + 1);
    EXPECT_EQ(jobOf(next, doc), lastJob + 1);
    RemoveShm(killedPrefix);

    // Numbers that cannot be kept are no reason to risk repeating them: the store does not start.
    WriteTextFile(Temp / "damaged", "document x\n");
    const TRunResult refused =
        RunToEnd(QStringLiteral(MEMORYMAN_PATH), {"--state", Q(Temp / "damaged")},
                 Bus.Environment(), {}, {}, 10000);
    EXPECT_EQ(refused.Code, 1) << refused;
    EXPECT_NE(refused.Err.find(Temp / "damaged"), std::string::npos);
}

TEST_F(StoreBusTest, StoreWithoutSignalsShowsAndSendsNoneAndANamedMainComputerIsTheOnlyOne) {
    // Any name, null too, is a main computer when none is configured; else only that one.
    auto isMain = [](TStoreProcess& store, const QVariant& v) {
        return Bool(store.Call("IsMainComputer", {QVariant::fromValue(QDBusVariant(v))}));
    };
    auto introspect = [&] {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("RozEza.MemoryMan"), QStringLiteral("/MemoryMan"),
            QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
        return Str(Bus.Connection().call(call, QDBus::Block, 20000));
    };
    WriteTextFile(Temp / "in", "x");
    {
        TStoreProcess store(Bus);
        ASSERT_TRUE(store.Ok());
        const QString xml = introspect();
        for (const char* signal :
             {"<signal name=\"DocumentAvailable\">", "<signal name=\"DocumentTaken\">",
              "<signal name=\"DocumentClosed\">", "<signal name=\"MemoryFreed\""})
            EXPECT_TRUE(xml.contains(QLatin1String(signal))) << signal << "\n" << xml.toStdString();
        EXPECT_TRUE(isMain(store, QStringLiteral("whatever")));
        EXPECT_TRUE(isMain(store, QVariant::fromValue(QVariantList())));
    }
    TStoreProcess silent(Bus, {"--no-signals", "--main", "pressroom"});
    ASSERT_TRUE(silent.Ok());
    EXPECT_TRUE(isMain(silent, QStringLiteral("\\\\PressRoom")));
    EXPECT_FALSE(isMain(silent, QStringLiteral("office")));
    EXPECT_FALSE(isMain(silent, QVariant::fromValue(QVariantList())));
    TStoreSignals heard(Bus.Connection());
    EXPECT_FALSE(introspect().contains(QStringLiteral("<signal name=\"Document")));
    const int doc = Put(silent, "Name=s", 100);
    silent.Call("TakeFinished", {3, Q(Temp / "out")});
    // A signal would have come before the reply that follows it.
    EXPECT_FALSE(IsError(silent.Call("ListDocs")));
    WaitUntil([] { return false; }, 200);
    EXPECT_GT(doc, 0);
    EXPECT_TRUE(heard.Seen.isEmpty()) << heard.Seen.join(QLatin1Char(' ')).toStdString();
}

} // namespace
} // namespace raduvuz
