#include "cycle_e2e/WorkflowFixture.h"

#include "jobs/SpoolFile.h"
#include "platform/TFileStream.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <csignal>
#include <functional>
#include <map>
#include <memory>

namespace raduvuz::test {
namespace {

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

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The module is killed in the middle of its work and started again by a second run of the
// workflow. The bus and the store belong to the test and outlive both runs, as a store outlives
// a module that crashed, so the store can take back what the dead module held.
class CrashTest : public WorkflowTest {
protected:
    // The inputs the sink's outputs were made from, as often as each was sent.
    std::multiset<std::string> SentNames(const std::string& sink) const {
        std::multiset<std::string> names;
        for (const fs::path& output : Outputs(sink))
            names.insert(InputName(output));
        return names;
    }
    void SetUp() override {
        WorkflowTest::SetUp();
        if (IsSkipped())
            return;
        EnsureApplication();
        Bus = std::make_unique<QProcess>();
        Bus->start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
        ASSERT_TRUE(Bus->waitForStarted(10000));
        ASSERT_TRUE(Bus->waitForReadyRead(10000));
        Address = QString::fromUtf8(Bus->readLine()).trimmed();
        Connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(Address, QStringLiteral("crash-test")));
        ASSERT_TRUE(Connection->isConnected());

        Store = std::make_unique<QProcess>();
        Store->setProcessEnvironment(Environment());
        Store->setStandardOutputFile(QProcess::nullDevice());
        Store->setStandardErrorFile(Q((Root / "store.log").string()));
        Store->start(QStringLiteral(MEMORYMAN_PATH), {});
        ASSERT_TRUE(Store->waitForStarted(10000));
        QDeadlineTimer deadline(10000);
        while (!Connection->interface()->isServiceRegistered(QStringLiteral("RozEza.MemoryMan"))) {
            ASSERT_FALSE(deadline.hasExpired()) << "the store did not come on the bus";
            QThread::msleep(10);
        }
    }

    void TearDown() override {
        for (const std::unique_ptr<QProcess>* process : {&Twf, &Store, &Bus}) {
            if (*process && (*process)->state() != QProcess::NotRunning) {
                (*process)->terminate();
                if (!(*process)->waitForFinished(10000)) {
                    (*process)->kill();
                    (*process)->waitForFinished(5000);
                }
            }
        }
        if (Connection)
            QDBusConnection::disconnectFromBus(QStringLiteral("crash-test"));
        WorkflowTest::TearDown();
    }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), Q((Root / "xdg").string()));
        env.insert(QStringLiteral("XDG_STATE_HOME"), Q((Root / "state").string()));
        env.insert(QStringLiteral("RADUVUZ_REGISTRY"), Q((Root / "reg.ini").string()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Address);
        env.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
        return env;
    }

    // Starts twf on the test's bus and store; its log is <name>.log, its standard error (where
    // the module's lines go when the machine has no system logger) <name>.err.
    void Start(TRun run, const std::string& name) {
        run.Workflow += "bus = session\nstore = existing\n";
        run.LogName = name + ".log";
        WriteFlow(run);
        Twf = std::make_unique<QProcess>();
        Twf->setProcessEnvironment(Environment());
        Twf->setStandardOutputFile(QProcess::nullDevice());
        Twf->setStandardErrorFile(Q((Root / (name + ".err")).string()));
        Twf->start(QStringLiteral(TWF_PATH),
                   {QStringLiteral("--quiet"), QStringLiteral("--log"), Q(LogFile.string()),
                    Q((Root / "flow.ini").string())});
        ASSERT_TRUE(Twf->waitForStarted(10000));
    }

    // Waits, looking every few milliseconds, until condition holds or the run has ended.
    bool WaitFor(const std::function<bool()>& condition, int ms = 60000) {
        QDeadlineTimer deadline(ms);
        while (!condition()) {
            if (deadline.hasExpired() || Twf->state() == QProcess::NotRunning)
                return condition();
            QThread::msleep(5);
        }
        return true;
    }
    bool WaitForLog(const std::string& text) {
        return WaitFor([&] { return Log().find(text) != std::string::npos; });
    }

    pid_t ModulePid() const {
        const std::string started = AfterInLog(Log(), "module 3: started ");
        const size_t at = started.rfind(", pid ");
        return at == std::string::npos ? 0 : std::stoi(started.substr(at + 6));
    }

    // Kills the module with signal once condition holds and ends the run once the process is
    // gone. The store's lines so far come back.
    void KillModuleWhen(const std::function<bool()>& condition, int signal) {
        ASSERT_TRUE(WaitFor(condition)) << Log();
        const pid_t pid = ModulePid();
        ASSERT_GT(pid, 0) << Log();
        Pids.push_back(pid);
        ASSERT_EQ(::kill(pid, signal), 0);
        ASSERT_TRUE(WaitForLog("module 3 (Queuer): process ended")) << Log();
        // The run waits for documents that will not come now.
        Twf->terminate();
        Twf->waitForFinished(30000);
        RunLog = Log();
    }

    // Runs to its end and keeps the log; the module's process is noted.
    int Finish() {
        WaitFor([&] { return ModulePid() > 0; });
        if (const pid_t pid = ModulePid())
            Pids.push_back(pid);
        Twf->waitForFinished(120000);
        RunLog = Log();
        return Twf->exitStatus() == QProcess::NormalExit ? Twf->exitCode() : -1;
    }

    // Every line about the faults: the workflow logs, the store's lines and the module's lines
    // in the system log (from the journal where the machine has a system logger, else from the
    // standard error the runs kept).
    std::string FaultLog() const {
        std::string text = ReadTextFile(Root / "store.log");
        for (const char* name : {"first", "second"})
            text += ReadTextFile(Root / (std::string(name) + ".log")) +
                    ReadTextFile(Root / (std::string(name) + ".err"));
        if (fs::exists("/dev/log")) {
            for (const pid_t pid : Pids) {
                const std::string out = (Root / "journal.txt").string();
                std::system(("journalctl -q -o cat _PID=" + std::to_string(pid) + " >'" + out +
                             "' 2>/dev/null")
                                .c_str());
                text += ReadTextFile(out);
            }
        }
        return text;
    }

    // The rows of the module's lists, asked over the bus while the run is on.
    TRows ListJobs() {
        const std::string reference = AfterInLog(Log(), "module 3 (Queuer): created as ");
        QDBusMessage call = QDBusMessage::createMethodCall(
            Q(reference.substr(0, reference.find('/'))), QStringLiteral("/ModuleControl"),
            QStringLiteral("RAduvuz.IJobControl"), QStringLiteral("ListJobs"));
        const QDBusMessage reply = Connection->call(call, QDBus::Block, 30000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return qdbus_cast<TRows>(reply.arguments().value(0));
    }
    static int RowsOf(const TRows& rows, const QString& list, int job, int doc) {
        int count = 0;
        for (const QVariantMap& row : rows) {
            count += row.value(QStringLiteral("list")).toString() == list &&
                     row.value(QStringLiteral("job")).toInt() == job &&
                     row.value(QStringLiteral("doc")).toInt() == doc;
        }
        return count;
    }

    // The one spool file of the job folder.
    std::string OnlySpoolFile() const {
        const std::set<std::string> names = SpoolFiles();
        return names.size() == 1 ? *names.begin() : std::string();
    }
    int64_t SizeOf(const fs::path& path) const {
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        return ec ? -1 : static_cast<int64_t>(size);
    }
    static bool Whole(const fs::path& path) {
        TFileStream file;
        std::string why;
        return file.Open(path.string(), TFileStream::TMode::ReadDenyWrite) &&
               SpoolFileWhole(file, why);
    }
    // What the store still holds at the end of the last run: nothing, so no destination waits
    // for a document that stays half written.
    void ExpectStoreEmpty() const {
        EXPECT_NE(StoreSummary().find(" 0 documents"), std::string::npos) << RunLog;
        for (const std::string& line : StoreLines())
            EXPECT_EQ(line.find("writing"), std::string::npos) << line;
    }

    QString Address;
    std::unique_ptr<QProcess> Bus;
    std::unique_ptr<QProcess> Store;
    std::unique_ptr<QProcess> Twf;
    std::unique_ptr<QDBusConnection> Connection;
    std::vector<pid_t> Pids;
};

// A plate of 4 MB, in small blocks so that spooling and sending it take many steps.
constexpr int kBigPlate = 2048;
constexpr int kSmallBlocks = 4096;

TEST_F(CrashTest, KilledWhileSpoolingTheJobIsTakenAgainFromTheStoreAndThePartIsSetAside) {
    MakePages("cut", 5, "C", "*", kBigPlate);
    WriteConfig("WorkMode=1;Copies=2");
    TRun first;
    first.Module = "flow = 12: Device=*\n";
    first.BlockSize = kSmallBlocks;
    // More than will come: the run goes on until the test ends it.
    first.Workflow = "expect = 3\n";
    Start(first, "first");
    // Killed once a part of the plate is in its spool file.
    KillModuleWhen(
        [&] {
            const std::string name = OnlySpoolFile();
            return !name.empty() && SizeOf(JobFolder() / name) > 256 * 1024;
        },
        SIGKILL);
    const std::string part = OnlySpoolFile();
    ASSERT_FALSE(part.empty());
    EXPECT_FALSE(Whole(JobFolder() / part)) << "the kill came after the spool had ended";
    EXPECT_NE(
        FaultLog().find("left the bus while reading document " + part.substr(part.find('_') + 1)),
        std::string::npos)
        << FaultLog();

    TRun second = first;
    second.Inputs = false;
    second.Workflow = "expect = 2\nbefore-close = sleep 2\n";
    Start(second, "second");
    ASSERT_TRUE(WaitForLog("before-close: sleep")) << Log();
    const TRows rows = ListJobs();
    EXPECT_EQ(Finish(), 0) << RunLog;

    // Both copies of the whole plate, from the document the store offered again.
    ExpectSent("a", 2);
    EXPECT_TRUE(Whole(JobFolder() / part));
    // The part is kept aside, named in the log, and not listed beside the whole job.
    EXPECT_TRUE(fs::exists(JobFolder() / "damaged" / part));
    EXPECT_FALSE(Whole(JobFolder() / "damaged" / part));
    const int job = std::stoi(part);
    const int doc = std::stoi(part.substr(part.find('_') + 1));
    EXPECT_EQ(RowsOf(rows, QStringLiteral("passed"), job, doc), 1);
    const std::string faults = FaultLog();
    // The kill leaves the file ending between two records or in the middle of one.
    const std::string damaged = AfterInLog(faults, "Error load saved job " + part + " (");
    EXPECT_EQ(damaged.rfind("it ends ", 0), 0u) << faults;
    EXPECT_NE(damaged.find("): it is kept as " + (JobFolder() / "damaged" / part).string() +
                           " and is not listed as passed"),
              std::string::npos)
        << faults;
    ExpectStoreEmpty();
}

TEST_F(CrashTest, KilledAfterSpooledEveryCopyNotSentYetIsSentOnceAfterTheRestart) {
    // Cyan waits for its paused printer, yellow's two copies reach theirs before the kill: they
    // come first by priority.
    MakePages("after", 9, "C", "*", 512);
    MakePages("done", 1, "Y", "*", 512);
    WriteConfig("WorkMode=1;Copies=2");
    TRun first;
    first.Sink12 = "paused = yes\n";
    first.Workflow = "expect = 3\n";
    Start(first, "first");
    KillModuleWhen(
        [&] {
            const std::string log = Log();
            return Count(log, "sink 15 (Printer B): received") == 2 &&
                   log.find("File after-1-C.rst spooled") != std::string::npos &&
                   log.find("File done-1-Y.rst spooled") != std::string::npos;
        },
        SIGKILL);
    ASSERT_EQ(Outputs("b").size(), 2u);
    EXPECT_TRUE(Outputs("a").empty());

    TRun second = first;
    second.Inputs = false;
    second.Sink12 = "";
    second.Workflow = "expect = 2\nbefore-close = sleep 1\n";
    Start(second, "second");
    EXPECT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 2);
    for (const fs::path& output : Outputs("a"))
        EXPECT_EQ(InputName(output), "after-1-C.rst");
    // Yellow was not sent again.
    ExpectSent("b", 2);
    const std::string faults = FaultLog();
    EXPECT_NE(faults.find("waited to be sent when the module ended: 2 copies wait again (to 12)"),
              std::string::npos)
        << faults;
    ExpectStoreEmpty();
}

TEST_F(CrashTest, KilledWhileSendingTheCopyIsSentAgainAndTheDestinationIsNotBlocked) {
    MakePages("send", 5, "C", "*", kBigPlate);
    WriteConfig("WorkMode=1");
    TRun first;
    first.Module = "flow = 12: Device=*\n";
    first.BlockSize = kSmallBlocks;
    first.Workflow = "expect = 2\n";
    Start(first, "first");
    KillModuleWhen([&] { return Log().find("File send-1-C.rst sending") != std::string::npos; },
                   SIGKILL);
    EXPECT_NE(FaultLog().find("left the bus while writing document"), std::string::npos)
        << FaultLog();
    EXPECT_TRUE(Outputs("a").empty());

    // A new plate for the same printer comes after the restart.
    MakePages("next", 5, "C", "*", 256);
    fs::create_directories(Root / "more");
    for (const char* file : {"next-1-C.rst", "next-1-C.rst.dds"})
        fs::copy_file(Root / "pages" / file, Root / "more" / file);
    TRun second = first;
    second.Inputs = false;
    second.Extra = "[input]\nto = 3\nfolder = more\n";
    second.Workflow = "expect = 2\n";
    Start(second, "second");
    EXPECT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 2);
    EXPECT_EQ(SentNames("a"), (std::multiset<std::string>{"next-1-C.rst", "send-1-C.rst"}));
    const std::string faults = FaultLog();
    EXPECT_NE(faults.find("waited to be sent when the module ended: 1 copy waits again (to 12)"),
              std::string::npos)
        << faults;
    ExpectStoreEmpty();
}

TEST_F(CrashTest, SigtermKeepsTheWaitingJobAndGivesTheJobBeingSpooledBackToTheStore) {
    // The small plate waits for its paused printer; the big one is being spooled at the signal.
    MakePages("term", 5, "C", "*", 256);
    MakePages("termbig", 5, "M", "*", kBigPlate);
    WriteConfig("WorkMode=1");
    TRun first;
    first.Module = "flow = 12: Device=*\n";
    first.Sink12 = "paused = yes\n";
    first.BlockSize = kSmallBlocks;
    Start(first, "first");
    std::string big;
    KillModuleWhen(
        [&] {
            if (Log().find("File term-1-C.rst spooled") == std::string::npos)
                return false;
            for (const std::string& name : SpoolFiles())
                if (SizeOf(JobFolder() / name) > 256 * 1024 && !Whole(JobFolder() / name))
                    big = name;
            return !big.empty();
        },
        SIGTERM);
    EXPECT_NE(RunLog.find("module 3 (Queuer): process ended (exit code 0)"), std::string::npos)
        << RunLog;
    EXPECT_TRUE(fs::exists(JobFolder() / "damaged" / big)) << RunLog;
    EXPECT_FALSE(fs::exists(JobFolder() / big));
    EXPECT_NE(FaultLog().find("(job " + big + ") was being spooled when the module closed"),
              std::string::npos)
        << FaultLog();

    TRun second = first;
    second.Inputs = false;
    second.Sink12 = "";
    second.Workflow = "expect = 2\n";
    Start(second, "second");
    EXPECT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 2);
    EXPECT_EQ(SentNames("a"), (std::multiset<std::string>{"term-1-C.rst", "termbig-1-M.rst"}));
    EXPECT_TRUE(Whole(JobFolder() / big));
    EXPECT_NE(FaultLog().find("waited to be sent when the module ended: 1 copy waits again"),
              std::string::npos)
        << FaultLog();
    ExpectStoreEmpty();
}

TEST_F(CrashTest, SpoolFilesWhoseBlocksDoNotMatchTheirDataAreSetAsideAtTheReload) {
    // Damage whose record sizes still fit the file: found only when the data was sent, before.
    struct TCase {
        const char* Plate;
        std::function<int32_t(int32_t)> BlockSize;
        std::string Why;
    };
    const std::vector<TCase> cases = {
        {"overrun", [](int32_t size) { return size - 1; },
         "its packed data unpacks to more than its block size"},
        {"huge", [](int32_t) { return 0x7fffffff; }, "its block size is 2147483647"},
    };
    MakePages("good", 5, "C");
    for (const TCase& c : cases)
        MakePages(c.Plate, 5, "C");
    WriteConfig("WorkMode=1");
    TRun first;
    first.Module = "flow = 12: Device=*\n";
    first.Sink12 = "paused = yes\n";
    Start(first, "first");
    KillModuleWhen([&] { return Count(Log(), ".rst spooled") == 3; }, SIGTERM);

    // The first block record's BlockSize of each damaged plate's spool file is changed.
    std::map<std::string, std::string> fileOf;
    for (const std::string& name : SpoolFiles()) {
        TFileStream file;
        std::string text;
        TDateTime created = 0;
        ASSERT_TRUE(file.Open((JobFolder() / name).string(), TFileStream::TMode::ReadWrite));
        ASSERT_TRUE(ReadSpoolHeaderText(file, text, created));
        const std::string plate = text.substr(text.find("FileName=") + 9);
        fileOf[plate.substr(0, plate.find('-'))] = name;
        for (const TCase& c : cases) {
            if (plate.rfind(std::string(c.Plate) + "-", 0) != 0)
                continue;
            const int64_t at = file.Position();
            int32_t size = 0;
            ASSERT_EQ(file.Read(&size, 4), 4);
            size = c.BlockSize(size);
            ASSERT_TRUE(file.Seek(at));
            ASSERT_EQ(file.Write(&size, 4), 4);
        }
    }
    ASSERT_EQ(fileOf.size(), 3u);

    TRun second = first;
    second.Inputs = false;
    second.Sink12 = "";
    second.Workflow = "expect = 1\nbefore-close = sleep 1\n";
    Start(second, "second");
    EXPECT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 1);
    EXPECT_EQ(SentNames("a"), (std::multiset<std::string>{"good-1-C.rst"}));
    const std::string faults = FaultLog();
    for (const TCase& c : cases) {
        const std::string name = fileOf[c.Plate];
        EXPECT_TRUE(fs::exists(JobFolder() / "damaged" / name)) << c.Plate;
        EXPECT_FALSE(fs::exists(JobFolder() / name)) << c.Plate;
        const std::string line = AfterInLog(faults, "Error load saved job " + name + " (");
        EXPECT_EQ(line.rfind("block record 1 is damaged (", 0), 0u) << c.Plate << "\n" << faults;
        EXPECT_NE(line.find(c.Why), std::string::npos) << c.Plate << "\n" << line;
        EXPECT_NE(faults.find("Job " + name +
                              " waited to be sent (to 12) when the module ended, "
                              "but its spool file"),
                  std::string::npos)
            << c.Plate;
    }
    ExpectStoreEmpty();
}

} // namespace
} // namespace raduvuz::test
