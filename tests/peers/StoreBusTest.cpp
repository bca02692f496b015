// memoryman over a private bus, called by member name without an interface as the module does.
#include "peers/PeerTestSupport.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <gtest/gtest.h>

#include <csignal>

namespace raduvuz {
namespace {

using namespace test;

class StoreBusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Bus.Ok()); }
    TPrivateBus Bus;
    TTempFolder Temp;
};

int Int(const QDBusMessage& m, int i = 0) {
    return m.arguments().value(i).toInt();
}

QString Str(const QDBusMessage& m, int i = 0) {
    return m.arguments().value(i).toString();
}

TEST_F(StoreBusTest, DocumentTravelsFromModule3ToDestination12WithItsBytesIntact) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    const std::string data = PatternBytes(10000, 7);
    const std::string input = Temp / "page-1-C.rst";
    WriteTextFile(input, data);
    const QString dds = QStringLiteral("Name=page;FileName=page-1-C.rst;Color=Cyan;File=RST");

    QDBusMessage put =
        store.Call(QStringLiteral("PutFile"), {QString::fromStdString(input), dds, 4096, 3});
    ASSERT_FALSE(IsError(put)) << put.errorMessage().toStdString();
    const int in = Int(put);
    EXPECT_EQ(Int(store.Call(QStringLiteral("RNextFindDoc"), {3, 0})), in);
    EXPECT_LT(Int(store.Call(QStringLiteral("RNextFindDoc"), {3, in})), 0);
    EXPECT_EQ(Str(store.Call(QStringLiteral("RGetDocDDS"), {in})), dds);

    QDBusMessage open = store.Call(QStringLiteral("ROpenDoc"), {3, in});
    ASSERT_EQ(open.arguments().size(), 2);
    EXPECT_EQ(Str(open, 0), dds);
    const int job = Int(open, 1);
    EXPECT_GT(job, 0);

    const int out =
        Int(store.Call(QStringLiteral("WCreateDoc"), {3, job, QStringLiteral("12"), dds}));
    ASSERT_GT(out, 0);
    std::string switched;
    std::vector<int> sizes;
    for (int guard = 0; guard < 10; ++guard) {
        QDBusMessage b = store.Call(QStringLiteral("RWSwitchBlock"), {3, in, out});
        ASSERT_EQ(b.arguments().size(), 4) << b.errorMessage().toStdString();
        const std::string name = Str(b, 0).toStdString();
        ASSERT_FALSE(name.empty());
        sizes.push_back(Int(b, 1));
        switched += ReadBlock(name, Int(b, 1));
        ASSERT_FALSE(
            IsError(store.Call(QStringLiteral("WCloseBlock"), {out, Int(b, 2), Int(b, 3)})));
        if (Int(b, 3))
            break;
    }
    EXPECT_EQ(sizes, (std::vector<int>{4096, 4096, 1808}));
    EXPECT_EQ(switched, data);
    ASSERT_FALSE(IsError(store.Call(QStringLiteral("RCloseDoc"), {3, in})));
    ASSERT_FALSE(IsError(store.Call(QStringLiteral("WCloseDoc"), {out})));

    EXPECT_TRUE(store.Call(QStringLiteral("IsDocForExists"), {12}).arguments().value(0).toBool());
    EXPECT_FALSE(store.Call(QStringLiteral("IsDocForExists"), {13}).arguments().value(0).toBool());
    QDBusMessage taken =
        store.Call(QStringLiteral("TakeFinished"), {12, QString::fromStdString(Temp / "sink")});
    QStringList files = taken.arguments().value(0).toStringList();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(ReadTextFile(files[0].toStdString()), data);
    EXPECT_EQ(ReadTextFile(files[0].toStdString() + ".dds"), dds.toStdString());
    EXPECT_FALSE(store.Call(QStringLiteral("IsDocForExists"), {12}).arguments().value(0).toBool());

    EXPECT_TRUE(
        Str(store.Call(QStringLiteral("ListDocs"))).startsWith(QStringLiteral("memory 0 ")));
    EXPECT_TRUE(ShmFiles(store.Prefix()).empty());
}

TEST_F(StoreBusTest, ReadingBlockByBlockGivesEachBlockOnceThenAnError) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    const std::string data = PatternBytes(2500, 9);
    WriteTextFile(Temp / "in", data);
    const int in = Int(store.Call(QStringLiteral("PutFile"), {QString::fromStdString(Temp / "in"),
                                                              QStringLiteral("Name=r"), 1000, 3}));
    store.Call(QStringLiteral("ROpenDoc"), {3, in});
    std::string read;
    int last = 0;
    while (!last) {
        QDBusMessage b = store.Call(QStringLiteral("RGetBlock"), {3, in});
        ASSERT_EQ(b.arguments().size(), 4);
        ASSERT_FALSE(Str(b).isEmpty());
        read += ReadBlock(Str(b).toStdString(), Int(b, 1));
        last = Int(b, 3);
        ASSERT_FALSE(IsError(store.Call(QStringLiteral("RCloseBlock"), {3, in, Int(b, 2)})));
        // A handle is good for one close only.
        EXPECT_TRUE(IsError(store.Call(QStringLiteral("RCloseBlock"), {3, in, Int(b, 2)})));
    }
    EXPECT_EQ(read, data);
    QDBusMessage past = store.Call(QStringLiteral("RGetBlock"), {3, in});
    EXPECT_TRUE(Str(past).isEmpty());
    EXPECT_EQ(Int(past, 2), -1);
    store.Call(QStringLiteral("RCloseDoc"), {3, in});
    EXPECT_TRUE(ShmFiles(store.Prefix()).empty());
}

TEST_F(StoreBusTest, BadInputGetsNamedErrorsAndLeaksNoBlock) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    WriteTextFile(Temp / "in", PatternBytes(100, 1));
    const int in = Int(store.Call(QStringLiteral("PutFile"), {QString::fromStdString(Temp / "in"),
                                                              QStringLiteral("Name=b"), 40, 3}));
    store.Call(QStringLiteral("ROpenDoc"), {3, in});
    const int out = Int(store.Call(QStringLiteral("WCreateDoc"),
                                   {3, 1, QStringLiteral("12"), QStringLiteral("N=1")}));
    const auto blocksBefore = ShmFiles(store.Prefix()).size();

    struct TCase {
        const char* Method;
        QVariantList Args;
        const char* Error;
    };
    const TCase cases[] = {
        {"RGetDocDDS", {999}, "RozEza.MemoryMan.Error.UnknownDocument"},
        {"ROpenDoc", {3, 999}, "RozEza.MemoryMan.Error.UnknownDocument"},
        {"RGetBlock", {3, 999}, "RozEza.MemoryMan.Error.UnknownDocument"},
        {"WGetBlock", {out, -5}, "RozEza.MemoryMan.Error.InvalidArgument"},
        {"RCloseBlock", {3, in, 12345}, "RozEza.MemoryMan.Error.UnknownHandle"},
        {"WCloseBlock", {out, 777, 1}, "RozEza.MemoryMan.Error.UnknownHandle"},
        {"RGetBlock", {4, in}, "RozEza.MemoryMan.Error.NotOpen"},
        {"WCloseDoc", {-1}, "RozEza.MemoryMan.Error.UnknownDocument"},
        {"PutFile",
         {QStringLiteral("/nonexistent/file"), QStringLiteral("N=1"), 10, 3},
         "RozEza.MemoryMan.Error.FileError"},
        {"PutFile",
         {QString::fromStdString(Temp / "in"), QStringLiteral("N=1"), -10, 3},
         "RozEza.MemoryMan.Error.InvalidArgument"},
    };
    for (const auto& c : cases) {
        QDBusMessage reply = store.Call(QString::fromLatin1(c.Method), c.Args);
        EXPECT_TRUE(IsError(reply)) << c.Method;
        EXPECT_EQ(reply.errorName().toStdString(), c.Error) << c.Method;
        EXPECT_FALSE(reply.errorMessage().isEmpty()) << c.Method;
    }
    // Wrong argument types are turned away by the bus layer, not by a crash.
    EXPECT_TRUE(IsError(store.Call(QStringLiteral("RGetBlock"), {QStringLiteral("x"), 1})));
    EXPECT_EQ(ShmFiles(store.Prefix()).size(), blocksBefore);

    store.Call(QStringLiteral("RCloseDoc"), {3, in});
    store.Call(QStringLiteral("WAbortDoc"), {out});
    EXPECT_TRUE(ShmFiles(store.Prefix()).empty());
    EXPECT_EQ(store.Proc().state(), QProcess::Running);
}

TEST_F(StoreBusTest, NullNameIsAMainComputerOnlyWhenNoneIsConfigured) {
    TStoreProcess store(Bus, {QStringLiteral("--main"), QStringLiteral("pressroom")});
    ASSERT_TRUE(store.Ok());
    auto ask = [&](const QVariant& v) {
        return store.Call(QStringLiteral("IsMainComputer"), {QVariant::fromValue(QDBusVariant(v))})
            .arguments()
            .value(0)
            .toBool();
    };
    EXPECT_TRUE(ask(QStringLiteral("\\\\PressRoom")));
    EXPECT_FALSE(ask(QStringLiteral("office")));
    EXPECT_FALSE(ask(QVariant::fromValue(QVariantList())));
}

TEST_F(StoreBusTest, TerminatedStoreRemovesEveryBlockItStillHeld) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    WriteTextFile(Temp / "in", PatternBytes(300, 2));
    const int in = Int(store.Call(QStringLiteral("PutFile"), {QString::fromStdString(Temp / "in"),
                                                              QStringLiteral("N=1"), 100, 3}));
    store.Call(QStringLiteral("ROpenDoc"), {3, in});
    store.Call(QStringLiteral("RGetBlock"), {3, in});
    const int out = Int(store.Call(QStringLiteral("WCreateDoc"),
                                   {3, 1, QStringLiteral("12"), QStringLiteral("N=1")}));
    store.Call(QStringLiteral("WGetBlock"), {out, 50});
    EXPECT_EQ(ShmFiles(store.Prefix()).size(), 4u);
    const std::string prefix = store.Prefix();
    ::kill(static_cast<pid_t>(store.Pid()), SIGTERM);
    ASSERT_TRUE(store.Proc().waitForFinished(10000));
    EXPECT_EQ(store.Proc().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(store.Proc().exitCode(), 0);
    EXPECT_TRUE(ShmFiles(prefix).empty());
}

TEST_F(StoreBusTest, KilledStoreMakesCallsFailAtOnce) {
    TStoreProcess store(Bus);
    ASSERT_TRUE(store.Ok());
    const int out = Int(store.Call(QStringLiteral("WCreateDoc"),
                                   {3, 1, QStringLiteral("12"), QStringLiteral("N=1")}));
    store.Call(QStringLiteral("WGetBlock"), {out, 50});
    const std::string prefix = store.Prefix();
    ::kill(static_cast<pid_t>(store.Pid()), SIGKILL);
    ASSERT_TRUE(store.Proc().waitForFinished(10000));
    QDBusMessage reply = store.Call(QStringLiteral("RNextFindDoc"), {3, 0});
    EXPECT_TRUE(IsError(reply));
    EXPECT_EQ(reply.errorName().toStdString(), "org.freedesktop.DBus.Error.ServiceUnknown");
    // A killed store cannot clean up; what it left carries its prefix and nothing else's.
    for (const auto& name : ShmFiles(prefix))
        EXPECT_EQ(name.rfind(prefix, 0), 0u);
    RemoveShm(prefix);
}

TEST_F(StoreBusTest, SecondStoreOnTheSameBusGivesUp) {
    TStoreProcess first(Bus);
    ASSERT_TRUE(first.Ok());
    QProcess second;
    second.setEnvironment(Bus.Environment());
    second.start(QStringLiteral(MEMORYMAN_PATH), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_FALSE(IsError(first.Call(QStringLiteral("ListDocs"))));
}

} // namespace
} // namespace raduvuz
