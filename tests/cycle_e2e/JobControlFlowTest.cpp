#include "cycle_e2e/WorkflowFixture.h"

#include <gmock/gmock.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <functional>
#include <memory>

namespace raduvuz::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using TRows = QList<QVariantMap>;

// QtDBus needs an application object; the first test makes one for the program.
void EnsureApplication() {
    static int argc = 1;
    static char name[] = "cycle_e2e_tests";
    static char* argv[] = {name, nullptr};
    static const std::unique_ptr<QCoreApplication> app = [] {
        auto made = std::make_unique<QCoreApplication>(argc, argv);
        qDBusRegisterMetaType<TRows>();
        return made;
    }();
}

QVariant Ids(const std::vector<uint>& ids) {
    return QVariant::fromValue(QList<uint>(ids.begin(), ids.end()));
}

// A workflow that runs while the test drives the module's job commands over twf's private bus,
// as an operator's script would.
class JobControlFlowTest : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        EnsureApplication();
    }
    void TearDown() override {
        if (Twf && Twf->state() != QProcess::NotRunning) {
            Twf->kill();
            Twf->waitForFinished(10000);
        }
        if (!BusName.isEmpty())
            QDBusConnection::disconnectFromBus(BusName);
        WorkflowTest::TearDown();
    }

    // Starts twf on run and connects to its bus once the module is on it.
    void Start(const TRun& run) {
        WriteFlow(run);
        Twf = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"),
                   QString::fromStdString((Root / "xdg").string()));
        env.insert(QStringLiteral("XDG_STATE_HOME"),
                   QString::fromStdString((Root / "state").string()));
        env.insert(QStringLiteral("RADUVUZ_REGISTRY"),
                   QString::fromStdString((Root / "reg.ini").string()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        Twf->setProcessEnvironment(env);
        Twf->setStandardOutputFile(QProcess::nullDevice());
        Twf->setStandardErrorFile(QString::fromStdString((Root / "twf.err").string()));
        Twf->start(QStringLiteral(TWF_PATH),
                   {QStringLiteral("--quiet"), QStringLiteral("--log"),
                    QString::fromStdString(LogFile.string()),
                    QString::fromStdString((Root / "flow.ini").string())});
        ASSERT_TRUE(Twf->waitForStarted(10000));
        ASSERT_TRUE(WaitForLog("module 3 (Queuer): created as ")) << Log();
        const std::string log = Log();
        const std::string reference = AfterInLog(log, "module 3 (Queuer): created as ");
        Module = QString::fromStdString(reference.substr(0, reference.find('/')));
        BusName = QStringLiteral("flow-test");
        Bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
            QString::fromStdString(AfterInLog(log, "private bus at ")), BusName));
        ASSERT_TRUE(Bus->isConnected()) << log;
    }

    bool WaitForLog(const std::string& text, int ms = 30000) {
        QDeadlineTimer deadline(ms);
        while (Log().find(text) == std::string::npos) {
            if (deadline.hasExpired() || Twf->state() == QProcess::NotRunning)
                return Log().find(text) != std::string::npos;
            QThread::msleep(20);
        }
        return true;
    }

    QDBusMessage Call(const QString& method, const QVariantList& args) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(Module, QStringLiteral("/ModuleControl"),
                                           QStringLiteral("RAduvuz.IJobControl"), method);
        call.setArguments(args);
        return Bus->call(call, QDBus::Block, 30000);
    }
    std::vector<uint> Done(const QString& method, const QVariantList& args) {
        const QDBusMessage reply = Call(method, args);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const QList<uint> ids = qdbus_cast<QList<uint>>(reply.arguments().value(0));
        return std::vector<uint>(ids.begin(), ids.end());
    }
    TRows ListJobs() {
        const QDBusMessage reply = Call(QStringLiteral("ListJobs"), {});
        return reply.type() == QDBusMessage::ReplyMessage
                   ? qdbus_cast<TRows>(reply.arguments().value(0))
                   : TRows();
    }
    // The ids of the rows of ListJobs that match, once there are count of them.
    std::vector<uint> WaitForRows(const std::function<bool(const QVariantMap&)>& match, int count) {
        QDeadlineTimer deadline(30000);
        for (;;) {
            std::vector<uint> ids;
            for (const QVariantMap& row : ListJobs()) {
                if (match(row))
                    ids.push_back(row.value(QStringLiteral("id")).toUInt());
            }
            if (static_cast<int>(ids.size()) >= count || deadline.hasExpired() ||
                Twf->state() == QProcess::NotRunning)
                return ids;
            QThread::msleep(10);
        }
    }
    static std::function<bool(const QVariantMap&)> Where(const char* key, const QString& value) {
        return [key, value](const QVariantMap& row) {
            return row.value(QString::fromLatin1(key)).toString() == value;
        };
    }
    // A method of the module's own interface, as the workflow server calls it.
    void CallModule(const QString& method) {
        const QDBusMessage reply = Bus->call(
            QDBusMessage::createMethodCall(Module, QStringLiteral("/ModuleControl"),
                                           QStringLiteral("RAduvuz.IModuleControl"), method),
            QDBus::Block, 30000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    // Waits until twf has ended; its exit code, and the log in RunLog.
    int Finish() {
        Twf->waitForFinished(120000);
        RunLog = Log();
        return Twf->exitStatus() == QProcess::NormalExit ? Twf->exitCode() : -1;
    }

    std::unique_ptr<QProcess> Twf;
    std::unique_ptr<QDBusConnection> Bus;
    QString BusName;
    QString Module;
};

TEST_F(JobControlFlowTest, PassedJobsReprocessedOrRedirectedReachTheirSinksAgainUnchanged) {
    MakePages("again", 10, "CM", "1");
    TRun run;
    run.Module = "flow = 12: Device=1\nflow = 15: Device=2\n";
    run.Extra = Terminators;
    run.Workflow = "expect = 4\n";
    Start(run);
    const std::vector<uint> passed = WaitForRows(Where("list", QStringLiteral("passed")), 2);
    ASSERT_EQ(passed.size(), 2u) << Log();
    uint cyan = 0;
    uint magenta = 0;
    for (const QVariantMap& row : ListJobs()) {
        const QString color = row.value(QStringLiteral("color")).toString();
        (color == QStringLiteral("Cyan") ? cyan : magenta) =
            row.value(QStringLiteral("id")).toUInt();
    }
    ASSERT_NE(cyan, 0u);
    ASSERT_NE(magenta, 0u);

    EXPECT_THAT(Done(QStringLiteral("ReprocessJobs"), {Ids({cyan, 999999})}), ElementsAre(cyan));
    EXPECT_THAT(
        Done(QStringLiteral("RedirectJobs"), {Ids({magenta}), QVariant::fromValue(QList<int>{2})}),
        ElementsAre(magenta));
    ASSERT_EQ(Finish(), 0) << RunLog;

    // The cyan plate twice at its own printer, the magenta one also at the other.
    ExpectSent("a", 3);
    ExpectSent("b", 1);
    std::multiset<std::string> names;
    for (const fs::path& output : Outputs("a"))
        names.insert(InputName(output));
    EXPECT_EQ(names.count("again-1-C.rst"), 2u);
    ASSERT_EQ(Outputs("b").size(), 1u);
    EXPECT_EQ(InputName(Outputs("b")[0]), "again-1-M.rst");
}

TEST_F(JobControlFlowTest, HeldJobsReleasedReachTheirSink) {
    MakePages("held", 10);
    WriteConfig("WorkMode=1;HoldList=PRN_A");
    TRun run;
    run.Module = ColourFlows;
    run.Extra = Terminators;
    run.Workflow = "expect = 4\n";
    Start(run);
    const std::vector<uint> held = WaitForRows(Where("state", QStringLiteral("held")), 2);
    ASSERT_EQ(held.size(), 2u) << Log();
    for (const QVariantMap& row : ListJobs()) {
        if (row.value(QStringLiteral("state")).toString() != QStringLiteral("held"))
            continue;
        EXPECT_EQ(row.value(QStringLiteral("list")).toString(), QStringLiteral("process"));
        EXPECT_EQ(row.value(QStringLiteral("devices")).toString(), QStringLiteral("1"));
        EXPECT_EQ(row.value(QStringLiteral("priority")).toInt(), 10);
        EXPECT_TRUE(row.contains(QStringLiteral("done")));
    }
    EXPECT_EQ(Done(QStringLiteral("SetPriority"), {Ids(held), 3}), held);
    EXPECT_EQ(Done(QStringLiteral("ReleaseJobs"), {Ids(held)}), held);
    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 2);
    ExpectSent("b", 2);
}

TEST_F(JobControlFlowTest, AnAbortedJobNeverReachesItsSinkAndItsOutputIsAborted) {
    // A big plate in small blocks takes a while to send; the small one waits held meanwhile.
    MakePages("big", 10, "C", "1", 3072);
    MakePages("small", 10, "Y", "2");
    WriteConfig("WorkMode=1;HoldList=PRN_B");
    TRun run;
    run.Module = "flow = 12: Device=1\nflow = 15: Device=2\n";
    run.Extra = Terminators;
    run.BlockSize = 2048;
    run.Workflow = "expect = 1\nstore-options = --verbose\n";
    Start(run);
    const std::vector<uint> sending = WaitForRows(Where("state", QStringLiteral("sending")), 1);
    ASSERT_EQ(sending.size(), 1u) << Log();
    EXPECT_THAT(Done(QStringLiteral("AbortJobs"), {Ids(sending)}), ElementsAre(sending[0]));
    ASSERT_TRUE(WaitForLog("Document big aborted")) << Log();

    // Once the aborted job is gone, the held one goes to the other sink and ends the run.
    const std::vector<uint> held = WaitForRows(Where("state", QStringLiteral("held")), 1);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(Done(QStringLiteral("ReleaseJobs"), {Ids(held)}), held);
    ASSERT_EQ(Finish(), 0) << RunLog;
    EXPECT_TRUE(Outputs("a").empty()) << RunLog;
    ExpectSent("b", 1);
    // The store dropped the half-written output (its lines are in the log), and the spool file
    // went with the job.
    const std::string created = AfterInLog(RunLog, "memoryman: module 3 created document ");
    ASSERT_EQ(created.substr(created.find(' ')), " for 12") << RunLog;
    const std::string doc = created.substr(0, created.find(' '));
    EXPECT_NE(RunLog.find("memoryman: document " + doc + " aborted"), std::string::npos) << RunLog;
    EXPECT_EQ(SpoolFiles().size(), 1u);
}

TEST_F(JobControlFlowTest, RenameOnAFullDiskKeepsTheJobWhole) {
    // The intake wants 100 MB free; what is left after it is filled up by the test.
    TSmallDisk disk((Root / "disk").string(), 120);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    const fs::path storage = Root / "disk" / "Storage";
    WriteConfig("StoreDir=\"" + storage.string() + "\"");
    MakePages("kept", 10, "C", "1");
    TRun run;
    run.Module = "flow = 12: Device=1\n";
    run.Workflow = "expect = 2\n";
    Start(run);
    const std::vector<uint> passed = WaitForRows(Where("list", QStringLiteral("passed")), 1);
    ASSERT_EQ(passed.size(), 1u) << Log();
    const fs::path spool = storage / "Q" / *SpoolFiles(storage / "Q").begin();
    const std::string before = ReadTextFile(spool);

    {
        std::ofstream filler(Root / "disk" / "filler", std::ios::binary);
        const std::string chunk(1 << 20, 'f');
        while (filler.write(chunk.data(), static_cast<std::streamsize>(chunk.size())))
            ;
    }
    EXPECT_THAT(Done(QStringLiteral("RenameJobs"), {Ids(passed), QStringLiteral("Renamed")}),
                IsEmpty());
    ASSERT_TRUE(WaitForLog("Can not rename job ")) << Log();
    EXPECT_NE(Log().find("No space left on device"), std::string::npos) << Log();
    EXPECT_EQ(ReadTextFile(spool), before);
    EXPECT_EQ(SpoolFiles(storage / "Q").size(), 1u);

    // Room again: the operator starts the module the low disk paused, and the job, whole, goes
    // out once more unchanged.
    fs::remove(Root / "disk" / "filler");
    CallModule(QStringLiteral("Resume"));
    EXPECT_EQ(Done(QStringLiteral("ReprocessJobs"), {Ids(passed)}), passed);
    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 2);
}

} // namespace
} // namespace raduvuz::test
