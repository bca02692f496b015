// twf driving a module over a private bus: a fake module exported by the test, with the store
// twf starts itself.
#include "peers/FakeModule.h"
#include "peers/PeerTestSupport.h"
#include "platform/System.h"
#include "tools/rastergen/TRasterGen.h"

#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>

namespace raduvuz {
namespace {

using namespace test;

class TwfTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Bus.Ok());
        TRasterOptions o;
        o.Width = 96;
        o.Height = 40;
        o.Plates = "CM";
        o.Name = "job";
        Inputs = TRasterGen(o).WriteAll(Temp / "in");
    }

    // The fake module, put on the bus with the provider that hands it out.
    TFakeModule& ExportFake(bool passDocuments = true) {
        Fake = std::make_unique<TFakeModule>(Bus.Connection(), passDocuments);
        EXPECT_TRUE(Bus.Connection().registerObject(QStringLiteral("/ModuleControl"), Fake.get(),
                                                    QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(Bus.Connection().registerObject(QStringLiteral("/ServerProvider"), &Provider,
                                                    QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(Bus.Connection().registerService(QStringLiteral("RAduvuz.ServerProvider")));
        return *Fake;
    }

    void ExpectLogHas(std::initializer_list<const char*> lines) {
        const std::string log = Log();
        for (const char* line : lines)
            EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }

    QString Reference() {
        return Bus.Connection().baseService() + QStringLiteral("/ModuleControl");
    }

    std::string Workflow(const std::string& module, const std::string& extra = "") {
        std::string text = "[workflow]\nname = test run\nlog = twf.log\ntimeout = 60\n"
                           "store-program = " MEMORYMAN_PATH "\npreview = previews\n"
                           "value-1004 = 41\n" +
                           extra + "\n" + module +
                           "\n[sink 12]\nname = Printer A\nfolder = out\ncomputer = rip-host\n"
                           "\n[terminator 1]\nname = Printer A\nkey = KEY1\n"
                           "\n[input]\nto = 3\nblock-size = 1000\nfolder = in\n";
        WriteTextFile(Temp / "workflow.ini", text);
        return Temp / "workflow.ini";
    }

    void StartTwf(const std::string& file, const QStringList& options = {}) {
        // The module keeps its data under the test's folder.
        QProcessEnvironment env = Bus.Environment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), Q(Temp / "data"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), Q(Temp / "state"));
        Twf.setProcessEnvironment(env);
        Twf.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        EndWithParent(Twf);
        Twf.setStandardOutputFile(QString::fromStdString(Temp / "twf.out"));
        Twf.start(QStringLiteral(TWF_PATH), options + QStringList{QString::fromStdString(file)});
        ASSERT_TRUE(Twf.waitForStarted(10000));
    }

    // Waits until twf has ended: its exit code, -1 when it has not ended in time.
    int WaitForTwf(int guardMs = 90000) {
        if (!WaitUntil([&] { return Twf.state() == QProcess::NotRunning; }, guardMs))
            return -1;
        return Twf.exitCode();
    }

    std::string Log() { return ReadTextFile(Temp / "twf.log"); }
    bool WaitForLog(const char* text, int guardMs = 60000) {
        return WaitUntil([&] { return Log().find(text) != std::string::npos; }, guardMs);
    }

    TPrivateBus Bus;
    TTempFolder Temp;
    std::vector<std::string> Inputs;
    QProcess Twf;
    TFakeProvider Provider{Reference()};
    std::unique_ptr<TFakeModule> Fake;
};

const char* const FakeModuleSection = "[module 3]\nname = Queuer\ndescription = Queuer three\n"
                                      "create = provider\nconfig-key = Queue3\n"
                                      "flow = 12: Color=Cyan,Magenta\n";

TEST_F(TwfTest, DrivesAModuleThroughItsWholeLifeAndDeliversEveryDocument) {
    TFakeModule& fake = ExportFake();
    StartTwf(Workflow(std::string(FakeModuleSection) +
                          "value = 63: 2\nvalue = 58: true\nvalue = 51: /tmp/store\n"
                          "before-close = SaveConfig\nbefore-close = SaveConfig Other\n"
                          "before-close = ExportConfig\nbefore-close = GetValue 63\n"
                          "before-close = GetValue 99\nbefore-close = IsJobUse 5\n"
                          "before-close = IsJobUse 6\n",
                      "before-close = ls out | wc -l; echo second line; exit 3\n"));
    ASSERT_EQ(WaitForTwf(), 0) << Log();

    EXPECT_EQ(Provider.Given, 1);
    // Values are set after the configuration and before Resume; the calls asked for before
    // Close come after the documents.
    const QStringList expected = {
        QStringLiteral("Init 3 Queuer three"),
        QStringLiteral("LoadConfig Queue3"),
        QStringLiteral("ClearFlowEntrySet"),
        QStringLiteral("AddFlowEntry 12 Color=Cyan,Magenta"),
        QStringLiteral("ClearTerminatorsSet"),
        QStringLiteral("AddTerminator 1 Printer A"),
        QStringLiteral("CompletedSendTerminators"),
        QStringLiteral("StartLog"),
        QStringLiteral("SetValue 63 int 2"),
        QStringLiteral("SetValue 58 bool true"),
        QStringLiteral("SetValue 51 QString /tmp/store"),
        QStringLiteral("Resume"),
        QStringLiteral("SaveConfig Queue3"),
        QStringLiteral("SaveConfig Other"),
        QStringLiteral("ExportConfig"),
        QStringLiteral("GetValue 63"),
        QStringLiteral("GetValue 99"),
        QStringLiteral("IsJobUse 5"),
        QStringLiteral("IsJobUse 6"),
        QStringLiteral("Close"),
    };
    EXPECT_EQ(fake.Calls, expected);

    // The server's answers to the callbacks made from inside Init.
    EXPECT_EQ(fake.Value(0, 1004).toInt(), 41);
    EXPECT_EQ(fake.Value(0, 2).toString().toStdString(), ComputerName());
    EXPECT_EQ(fake.Value(0, 1).toString().toStdString(), Temp / "previews");
    EXPECT_EQ(fake.Value(12, 0).toInt(), 1);
    EXPECT_EQ(fake.Value(12, 2).toString(), QStringLiteral("Printer A"));
    EXPECT_EQ(fake.Value(12, 6).userType(), QMetaType::Bool);
    EXPECT_FALSE(fake.Value(12, 6).toBool());
    EXPECT_EQ(fake.Value(12, 7).toString(), QStringLiteral("rip-host"));
    EXPECT_EQ(fake.Value(3, 0).toInt(), 0);
    EXPECT_EQ(fake.Value(3, 100).toInt(), 1);
    EXPECT_EQ(fake.Value(99, 2).toString(), QStringLiteral("<null av>"));
    EXPECT_EQ(fake.TermKeys[1], QStringLiteral("KEY1"));
    EXPECT_EQ(fake.ConfigKey, QStringLiteral("Queue3"));
    EXPECT_FALSE(fake.IsJobUseAnswer);
    EXPECT_TRUE(fake.StoreErrors.isEmpty())
        << fake.StoreErrors.join(QStringLiteral("; ")).toStdString();

    EXPECT_EQ(fake.Passed, 2);
    for (const auto& input : Inputs) {
        std::string name = std::filesystem::path(input).filename().string();
        bool found = false;
        for (const auto& entry : std::filesystem::directory_iterator(Temp / "out"))
            if (entry.path().filename().string().ends_with("_" + name)) {
                found = true;
                EXPECT_EQ(ReadTextFile(entry.path().string()), ReadTextFile(input)) << name;
                EXPECT_EQ(ReadTextFile(entry.path().string() + ".dds"),
                          ReadTextFile(input + ".dds"));
            }
        EXPECT_TRUE(found) << name;
    }

    // Each call goes into the log the same way; the calls themselves are checked above.
    ExpectLogHas(
        {"-> module 3 (Queuer): Init(3, Queuer three, ", "module 3 (Queuer): status 1, paused",
         "module 3 (Queuer):  Connected at now", "-> module 3 (Queuer): SetValue(63, 2)",
         "module 3 (Queuer): status 2, running", "module 3 (Queuer): status 1, running",
         "module 3 (Queuer): label 0", "sink 12 (Printer A): received ",
         "module 3 (Queuer): SaveConfig(Queue3) = \n", "module 3 (Queuer): ExportConfig() = 4142\n",
         "module 3 (Queuer): GetValue(63) = 630\n", "module 3 (Queuer): GetValue(99) = <null>\n",
         "module 3 (Queuer): IsJobUse(5) = true\n", "module 3 (Queuer): IsJobUse(6) = false\n",
         // The command runs in the workflow file's folder: out/ holds two documents and their
         // parameter files.
         "before-close| 4\n", "before-close| second line\n", "before-close: exit code 3\n",
         "-> module 3 (Queuer): Close()", "summary: done", "delivered 2 of 2 documents"});
    const std::string log = Log();
    EXPECT_LT(log.find("sink 12 (Printer A): received"), log.find("before-close| 4"));
    EXPECT_LT(log.find("before-close: exit code 3"), log.find("-> module 3 (Queuer): Close()"));
    EXPECT_LT(log.find("IsJobUse(6) = false"), log.find("-> module 3 (Queuer): Close()"));
    // stdout carries the same lines as the log file.
    EXPECT_NE(ReadTextFile(Temp / "twf.out").find("summary: done"), std::string::npos);
}

TEST_F(TwfTest, PausedSinkRunsLaterAndSinksTakeDocumentsOnTheStoresSignals) {
    TFakeModule& fake = ExportFake();
    // No backstop: only the store's signals can bring the documents to the sink.
    std::string text = ReadTextFile(Workflow(FakeModuleSection, "backstop = 0\n"));
    text.replace(text.find("computer = rip-host\n"), 20, "computer = rip-host\npaused-for = 2\n");
    WriteTextFile(Temp / "workflow.ini", text);
    StartTwf(Temp / "workflow.ini");
    ASSERT_EQ(WaitForTwf(), 0) << Log();
    EXPECT_EQ(fake.Passed, 2);
    // Paused before Resume (the answer inside Init) and while the first document came; running
    // two seconds after Resume.
    EXPECT_TRUE(fake.Value(12, 6).toBool());
    ASSERT_GE(fake.DestPaused.size(), 2);
    EXPECT_TRUE(fake.DestPaused.front());
    EXPECT_FALSE(fake.DestPaused.back());
    ExpectLogHas({"delivered 2 of 2 documents"});
}

TEST_F(TwfTest, WaitingRunEndsAtItsTimeOut) {
    ExportFake(false);
    // The documents stay with module 3, which passes nothing on.
    StartTwf(Workflow(FakeModuleSection, "timeout = 2\n"));
    ASSERT_EQ(WaitForTwf(), 1) << Log();
    ExpectLogHas({"summary: FAILED (timed out after 2 s)"});
    // The sink's folder is made at the start, not by a call to the store.
    EXPECT_TRUE(std::filesystem::is_directory(Temp / "out"));
}

TEST_F(TwfTest, KilledStoreEndsTheRunWithoutAHang) {
    TFakeModule& fake = ExportFake(false);
    StartTwf(Workflow(FakeModuleSection));
    ASSERT_TRUE(WaitForLog("workflow running", 30000));
    const qint64 pid = PidOf(Bus.Connection(), QStringLiteral("RozEza.MemoryMan"));
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_EQ(WaitForTwf(60000), 1) << Log();
    ExpectLogHas({"the document store has gone", "summary: FAILED"});
    EXPECT_TRUE(fake.Calls.contains(QStringLiteral("Close")));
    RemoveShm("rmm." + std::to_string(pid) + ".");
}

TEST_F(TwfTest, InterruptedRunClosesTheModuleAndStopsTheStore) {
    TFakeModule& fake = ExportFake(false);
    StartTwf(Workflow(FakeModuleSection));
    ASSERT_TRUE(WaitForLog("workflow running", 30000));
    ::kill(static_cast<pid_t>(Twf.processId()), SIGTERM);
    ASSERT_EQ(WaitForTwf(60000), 1) << Log();
    // The documents still waiting for module 3 are listed before the store goes.
    ExpectLogHas({"summary: FAILED (interrupted)", "store: memory "});
    EXPECT_TRUE(fake.Calls.contains(QStringLiteral("Close")));
    EXPECT_FALSE(
        Bus.Connection().interface()->isServiceRegistered(QStringLiteral("RozEza.MemoryMan")));
}

TEST_F(TwfTest, BadWorkflowFileOrAModuleThatCannotBeCreatedFailsTheRun) {
    WriteTextFile(Temp / "bad.ini", "[workflow]\nname = x\n[module three]\n");
    const TRunResult bad = RunToEnd(QStringLiteral(TWF_PATH), {Q(Temp / "bad.ini")},
                                    QProcessEnvironment::systemEnvironment(), {}, {}, 20000);
    EXPECT_EQ(bad.Code, 2) << bad;
    EXPECT_NE(bad.Err.find("line 3"), std::string::npos);

    // No server provider on the bus.
    StartTwf(Workflow(FakeModuleSection));
    ASSERT_EQ(WaitForTwf(), 1) << Log();
    ExpectLogHas(
        {"the server provider failed", "summary: FAILED (the workflow could not be set up)"});
    EXPECT_FALSE(
        Bus.Connection().interface()->isServiceRegistered(QStringLiteral("RozEza.MemoryMan")));
}

TEST_F(TwfTest, ShownConsolesStayUpAfterTheRunUntilEnterOrUntilEveryModuleAsksToClose) {
    TFakeModule& fake = ExportFake();
    // Enter on stdin ends the wait.
    StartTwf(Workflow(FakeModuleSection), {QStringLiteral("--show")});
    ASSERT_TRUE(WaitForLog("press Enter here")) << Log();
    const qsizetype resume = fake.Calls.indexOf(QStringLiteral("Resume"));
    ASSERT_GE(resume, 0);
    EXPECT_EQ(fake.Calls.indexOf(QStringLiteral("ShowModule")), resume + 1);
    EXPECT_EQ(fake.Passed, 2);
    // Still waiting: the module is not closed while nobody has answered.
    WaitUntil([] { return false; }, 500);
    EXPECT_FALSE(fake.Calls.contains(QStringLiteral("Close")));
    EXPECT_EQ(Twf.state(), QProcess::Running);
    Twf.write("\n");
    ASSERT_EQ(WaitForTwf(30000), 0) << Log();
    EXPECT_EQ(fake.Calls.back(), QStringLiteral("Close"));

    // A module that asks to be closed ends the wait without Enter.
    std::filesystem::remove(Temp / "twf.log");
    fake.Calls.clear();
    StartTwf(Workflow(FakeModuleSection), {QStringLiteral("--show")});
    ASSERT_TRUE(WaitForLog("press Enter here")) << Log();
    fake.AskToClose();
    ASSERT_EQ(WaitForTwf(30000), 0) << Log();
    EXPECT_EQ(fake.Calls.count(QStringLiteral("Close")), 1);
    ExpectLogHas({"summary: done"});
}

} // namespace
} // namespace raduvuz
