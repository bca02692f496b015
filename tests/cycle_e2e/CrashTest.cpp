#include "cycle_e2e/WorkflowFixture.h"

#include "jobs/SpoolFile.h"
#include "jobs/TWaitJournal.h"
#include "platform/TFileStream.h"

#include <QDBusVariant>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace raduvuz::test {
namespace {

// The module is killed in the middle of its work and started again by a second run of the
// workflow. The bus and the store belong to the test and outlive both runs, as a store outlives
// a module that crashed, so the store can take back what the dead module held.
class CrashTest : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        // The faults come at moments the test must not miss: a look every few milliseconds.
        WaitMs = 60000;
        PollMs = 5;
        StopGraceMs = 10000;
        if (!IsSkipped())
            StartBusAndStore();
    }

    // A bus and a store of the test's own; those of an earlier call are gone or go.
    void StartBusAndStore() {
        if (Store)
            StopProcess(*Store, 0);
        Bus = std::make_unique<TPrivateBus>();
        ASSERT_TRUE(Bus->Ok());
        Address = Bus->Address();
        ASSERT_NO_FATAL_FAILURE(Connect());
        StartStore({}, "store.log");
    }

    QProcessEnvironment Environment() const override {
        return OnBus(WorkflowTest::Environment(), Address);
    }

    // Starts twf on the test's bus and store; its log is <name>.log, its standard error (where
    // the module's lines go when the machine has no system logger) <name>.err.
    void Start(TRun run, const std::string& name) {
        run.Workflow += "bus = session\nstore = existing\n";
        run.LogName = name + ".log";
        StartTwf(run, name + ".err");
    }

    // Kills the module with signal once condition holds and ends the run once the process is
    // gone. The store's lines so far come back.
    void KillModuleWhen(const std::function<bool()>& condition, int signal) {
        ASSERT_TRUE(WaitFor(condition)) << Log();
        const auto pid = static_cast<pid_t>(ModulePid());
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
        if (const long pid = ModulePid(); pid > 0)
            Pids.push_back(static_cast<pid_t>(pid));
        return WorkflowTest::Finish();
    }

    // Every line about the faults: the workflow logs, the store's lines and the module's lines
    // in the system log (from the journal where the machine has a system logger, else from the
    // standard error the runs kept).
    std::string FaultLog() const {
        std::string text = ReadTextFile(Root / "store.log");
        for (const char* name : {"first", "second"})
            text += ReadTextFile(Root / (std::string(name) + ".log")) +
                    ReadTextFile(Root / (std::string(name) + ".err"));
        for (const pid_t pid : Pids)
            text += SystemLogOf(pid);
        return text;
    }

    // The second run, to its end: printer A gets the plates named, each as often as named, and
    // the store is left empty. The fault log then.
    std::string RunAgainDelivering(const TRun& run, const std::multiset<std::string>& toA) {
        Start(run, "second");
        EXPECT_EQ(Finish(), 0) << RunLog;
        ExpectDelivered("a", toA);
        ExpectStoreEmpty();
        return FaultLog();
    }

    // Whether process pid is there and not a zombie its parent has not reaped yet.
    static bool Running(pid_t pid) {
        std::string stat = ReadTextFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
    }

    // The one spool file of the job folder.
    std::string OnlySpoolFile() const {
        const std::set<std::string> names = SpoolFiles();
        return names.size() == 1 ? *names.begin() : std::string();
    }
    static bool Whole(const fs::path& path) {
        TFileStream file;
        std::string why;
        return file.Open(path.string(), TFileStream::TMode::ReadDenyWrite) &&
               SpoolFileWhole(file, why);
    }

    std::unique_ptr<TPrivateBus> Bus;
    std::vector<pid_t> Pids;
};

// How soon after its Close a module's process must have left the bus: a second, and more in the
// sanitizer build, whose processes check for leaks as they end.
#ifdef RADUVUZ_SANITIZED
constexpr qint64 kEndAfterCloseMs = 3000;
#else
constexpr qint64 kEndAfterCloseMs = 1000;
#endif

// A plate of 4 MB, in small blocks so that spooling and sending it take many steps.
constexpr int kBigPlate = 2048;
constexpr int kSmallBlocks = 4096;

TEST_F(CrashTest, KilledWhileSpoolingTheJobIsTakenAgainFromTheStoreAndThePartIsSetAside) {
    MakePages("cut", 5, "C", "*", kBigPlate);
    WriteConfig("WorkMode=1;Copies=2");
    // More than will come: the run goes on until the test ends it.
    const TRun first{
        .Module = "flow = 12: Device=*\n", .Workflow = "expect = 3\n", .BlockSize = kSmallBlocks};
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
    EXPECT_THAT(FaultLog(), HasSubstr("left the bus while reading document " +
                                      part.substr(part.find('_') + 1)));

    Start(first.Again("expect = 2\nbefore-close = sleep 2\n"), "second");
    ASSERT_TRUE(WaitForLog("before-close: sleep")) << Log();
    const TRows rows = ListJobs();
    EXPECT_EQ(Finish(), 0) << RunLog;

    // Both copies of the whole plate, from the document the store offered again.
    ExpectSent("a", 2);
    EXPECT_TRUE(Whole(JobFolder() / part));
    // The part is kept aside, named in the log, and not listed beside the whole job.
    EXPECT_TRUE(fs::exists(JobFolder() / "damaged" / part));
    EXPECT_FALSE(Whole(JobFolder() / "damaged" / part));
    EXPECT_EQ(PassedJobs(rows), std::vector<std::string>{part + " cut"});
    const std::string faults = FaultLog();
    // The kill leaves the file ending between two records or in the middle of one.
    const std::string damaged = AfterInLog(faults, "Error load saved job " + part + " (");
    EXPECT_EQ(damaged.rfind("it ends ", 0), 0u) << faults;
    EXPECT_THAT(damaged, HasSubstr("): it is kept as " + (JobFolder() / "damaged" / part).string() +
                                   " and is not listed as passed"))
        << faults;
    ExpectStoreEmpty();
}

TEST_F(CrashTest, KilledAfterSpooledEveryCopyNotSentYetIsSentOnceAfterTheRestart) {
    // Cyan waits for its paused printer, yellow's two copies reach theirs before the kill: they
    // come first by priority.
    MakePages("after", 9, "C", "*", 512);
    MakePages("done", 1, "Y", "*", 512);
    WriteConfig("WorkMode=1;Copies=2");
    const TRun first{.Workflow = "expect = 3\n", .Sink12 = "paused = yes\n"};
    Start(first, "first");
    KillModuleWhen(
        [&] {
            const std::string log = Log();
            // A copy the sink has is struck from the journal a moment later; one killed in
            // between is sent once more, the window the design leaves open.
            return Count(log, "sink 15 (Printer B): received") == 2 &&
                   log.find("File after-1-C.rst spooled") != std::string::npos &&
                   log.find("File done-1-Y.rst spooled") != std::string::npos &&
                   ReadWaitJournal(ReadTextFile(JobFolder() / "waiting.journal")).Records.size() ==
                       2;
        },
        SIGKILL);
    ASSERT_EQ(Outputs("b").size(), 2u);
    EXPECT_TRUE(Outputs("a").empty());

    const std::string faults = RunAgainDelivering(
        first.Again("expect = 2\nbefore-close = sleep 1\n"), {"after-1-C.rst", "after-1-C.rst"});
    // Yellow was not sent again.
    ExpectSent("b", 2);
    EXPECT_THAT(faults,
                HasSubstr("waited to be sent when the module ended: 2 copies wait again (to 12)"));
}

TEST_F(CrashTest, KilledWhileSendingTheCopyIsSentAgainAndTheDestinationIsNotBlocked) {
    MakePages("send", 5, "C", "*", kBigPlate);
    WriteConfig("WorkMode=1");
    const TRun first{
        .Module = "flow = 12: Device=*\n", .Workflow = "expect = 2\n", .BlockSize = kSmallBlocks};
    Start(first, "first");
    KillModuleWhen([&] { return Log().find("File send-1-C.rst sending") != std::string::npos; },
                   SIGKILL);
    EXPECT_THAT(FaultLog(), HasSubstr("left the bus while writing document"));
    EXPECT_TRUE(Outputs("a").empty());

    // A new plate for the same printer comes after the restart.
    MakePages("next", 5, "C", "*", 256, "own");
    TRun second = first.Again("expect = 2\n");
    second.Extra = "[input]\nto = 3\nfolder = own\n";
    EXPECT_THAT(RunAgainDelivering(second, {"next-1-C.rst", "send-1-C.rst"}),
                HasSubstr("waited to be sent when the module ended: 1 copy waits again (to 12)"));
}

TEST_F(CrashTest, SigtermKeepsTheWaitingJobAndGivesTheJobBeingSpooledBackToTheStore) {
    // The small plate waits for its paused printer; the big one is being spooled at the signal.
    MakePages("term", 5, "C", "*", 256);
    MakePages("termbig", 5, "M", "*", kBigPlate);
    WriteConfig("WorkMode=1");
    const TRun first{
        .Module = "flow = 12: Device=*\n", .Sink12 = "paused = yes\n", .BlockSize = kSmallBlocks};
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
    EXPECT_THAT(RunLog, HasSubstr("module 3 (Queuer): process ended (exit code 0)"));
    EXPECT_TRUE(fs::exists(JobFolder() / "damaged" / big)) << RunLog;
    EXPECT_FALSE(fs::exists(JobFolder() / big));
    EXPECT_THAT(FaultLog(),
                HasSubstr("(job " + big + ") was being spooled when the module closed"));

    EXPECT_THAT(
        RunAgainDelivering(first.Again("expect = 2\n"), {"term-1-C.rst", "termbig-1-M.rst"}),
        HasSubstr("waited to be sent when the module ended: 1 copy waits again"));
    EXPECT_TRUE(Whole(JobFolder() / big));
}

// The server stops answering while copies wait for their printer: the check that went
// unanswered is tried again, and every copy reaches the printer once.
TEST_F(CrashTest, ServerThatDoesNotAnswerLeavesWaitingCopiesWaiting) {
    MakePages("mute", 5, "CM", "*", 256);
    WriteConfig("WorkMode=1;Copies=2");
    Start({.Workflow = "expect = 4\n", .Sink12 = "paused-for = 3\n"}, "first");
    ASSERT_TRUE(WaitFor([&] { return Count(Log(), ".rst spooled") == 2; })) << Log();
    // Longer than the module waits for one answer.
    ASSERT_EQ(::kill(static_cast<pid_t>(Twf->processId()), SIGSTOP), 0);
    QThread::msleep(7000);
    ASSERT_EQ(::kill(static_cast<pid_t>(Twf->processId()), SIGCONT), 0);
    EXPECT_EQ(Finish(), 0) << RunLog;
    ExpectDelivered("a", {"mute-1-C.rst", "mute-1-C.rst", "mute-1-M.rst", "mute-1-M.rst"});
    const std::string faults = FaultLog();
    EXPECT_THAT(faults, HasSubstr("failed while the job waits to be sent "
                                  "(org.freedesktop.DBus.Error.NoReply"));
    EXPECT_THAT(faults, Not(HasSubstr("Exception in CheckWaitingDoc")));
    ExpectStoreEmpty();
}

// The bus daemon is killed while copies wait: the module closes as Close does and ends; the
// next start of the workflow, on a new bus with a new store, sends every copy once.
TEST_F(CrashTest, BusKilledWhileCopiesWaitTheModuleClosesAndTheNextStartSendsThem) {
    MakePages("bus", 5, "CM", "*", 256);
    WriteConfig("WorkMode=1;Copies=2");
    const TRun first{.Workflow = "expect = 4\n", .Sink12 = "paused = yes\n"};
    Start(first, "first");
    ASSERT_TRUE(WaitFor([&] { return Count(Log(), ".rst spooled") == 2; })) << Log();
    const auto pid = static_cast<pid_t>(ModulePid());
    ASSERT_GT(pid, 0);
    Pids.push_back(pid);
    ::unlink((ConfigFolder() / "Q.hld").c_str());
    ASSERT_EQ(::kill(static_cast<pid_t>(Bus->Process().processId()), SIGKILL), 0);
    Bus->Process().waitForFinished(5000);
    EXPECT_TRUE(WaitUntil([&] { return !Running(pid); }, 5000))
        << "the module still runs without its bus";
    EXPECT_TRUE(fs::exists(ConfigFolder() / "Q.hld"));
    Twf->kill();
    Twf->waitForFinished(10000);
    EXPECT_TRUE(Outputs("a").empty());

    StartBusAndStore();
    const std::string faults = RunAgainDelivering(
        first.Again(first.Workflow), {"bus-1-C.rst", "bus-1-C.rst", "bus-1-M.rst", "bus-1-M.rst"});
    EXPECT_THAT(faults, HasSubstr("The connection to the bus is lost; the module closes and ends"));
    EXPECT_EQ(Count(faults, "waited to be sent when the module ended: 2 copies wait again"), 2u)
        << faults;
    EXPECT_THAT(faults, Not(HasSubstr("Exception in CheckWaitingDoc")));
}

// The storage folder is moved to another file system (a tmpfs) while eight copies wait: they
// move with the journal and damaged/, reach their printers once each from the new folder, and
// the next start lists them there.
TEST_F(CrashTest, StorageFolderMovedToAnotherFileSystemKeepsEveryJob) {
    // As root a tmpfs of the test's own, above the 100 MB the intake needs free; otherwise the
    // tmpfs most machines have mounted for everybody, when it has that room.
    TSmallDisk disk((Root / "elsewhere").string(), 160);
    fs::path elsewhere = Root / "elsewhere";
    struct TShared {
        fs::path Folder;
        ~TShared() {
            std::error_code ignored;
            if (!Folder.empty())
                fs::remove_all(Folder, ignored);
        }
    } shared;
    if (!disk.Mounted()) {
        struct statvfs room {};
        struct stat shm {};
        struct stat root {};
        std::string folder = "/dev/shm/raduvuz-move-XXXXXX";
        if (::statvfs("/dev/shm", &room) != 0 || ::stat("/dev/shm", &shm) != 0 ||
            ::stat(Root.c_str(), &root) != 0 || shm.st_dev == root.st_dev ||
            room.f_bavail * room.f_frsize < 110ull * 1024 * 1024 || !mkdtemp(folder.data()))
            GTEST_SKIP() << disk.Why << ", and /dev/shm is no other file system with 110 MB free";
        shared.Folder = elsewhere = folder;
    }
    MakePages("movea", 5, "CMYK", "*", 256);
    MakePages("moveb", 6, "CMYK", "*", 256);
    WriteConfig("WorkMode=1");
    const TRun first{.Workflow = "expect = 0\nbefore-close = for i in $(seq 600); do [ $(grep -c "
                                 "'[.]rst spooled' first.log) -ge 8 ] && break; sleep 0.1; done\n",
                     .Extra = "paused = yes\n",
                     .Sink12 = "paused = yes\n"};
    Start(first, "first");
    EXPECT_EQ(Finish(), 0) << RunLog;
    ASSERT_EQ(SpoolFiles().size(), 8u) << RunLog;
    const std::string aside = "damaged part";
    fs::create_directories(JobFolder() / "damaged");
    std::ofstream(JobFolder() / "damaged" / "7_70") << aside;

    const fs::path store = elsewhere / "store";
    TRun second = first.Again("expect = 8\n");
    second.Extra.clear();
    second.Module += "value = 51: " + store.string() + "\nbefore-close = SaveConfig\n";
    Start(second, "second");
    EXPECT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 4);
    ExpectSent("b", 4);
    // Eight plates, each sent once.
    std::multiset<std::string> sent = SentNames("a");
    sent.merge(SentNames("b"));
    EXPECT_EQ(sent.size(), 8u);
    EXPECT_EQ(std::set<std::string>(sent.begin(), sent.end()).size(), 8u);
    EXPECT_FALSE(fs::exists(JobFolder())) << "the old job folder is still there";
    EXPECT_EQ(SpoolFiles(store / "Q").size(), 8u);
    EXPECT_EQ(ReadTextFile(store / "Q" / "damaged" / "7_70"), aside);
    EXPECT_TRUE(fs::exists(store / "Q" / "waiting.journal"));
    const std::string faults = FaultLog();
    EXPECT_THAT(faults,
                HasSubstr("The storage folder moved from " + (Root / "prog" / "Storage").string() +
                          " to " + store.string() + ": the job folder " + JobFolder().string() +
                          " (spool files, the journal of waiting jobs and damaged/) was copied "
                          "to another file system, flushed and checked to " +
                          (store / "Q").string()));

    TRun third = second.Again("expect = 0\nbefore-close = sleep 1\n");
    third.Module = first.Module;
    Start(third, "third");
    ASSERT_TRUE(WaitForLog("before-close: sleep")) << Log();
    const TRows rows = ListJobs();
    EXPECT_EQ(Finish(), 0) << RunLog;
    EXPECT_EQ(PassedJobs(rows).size(), 8u);
    EXPECT_EQ(Outputs("a").size() + Outputs("b").size(), 8u);
}

// Module processes end by themselves: one made by GetObject that nobody initialises once its
// time for Init is up, though its creator stays on the bus; every module of a workflow, made by
// the program or by GetObject, within a second of its Close, though its server stays on the bus,
// and not at once: a moment is left for a last call after Close.
TEST_F(CrashTest, ModulesEndWithinASecondOfCloseAndAnUninitialisedOneAfterItsTimeForInit) {
    const auto gone = [&](const QString& name) {
        return !Connection->interface()->isServiceRegistered(name).value();
    };
    QProcess provider;
    provider.setProcessEnvironment(Environment());
    provider.start(RADUVUZ_PROGRAM, {"-EMBEDDING", "--init-timeout=2"});
    ASSERT_TRUE(provider.waitForStarted(10000));
    WaitUntil([&] { return !gone("RAduvuz.ServerProvider"); }, 10000, 10);
    const QDBusMessage made = Call("RAduvuz.ServerProvider", "/ServerProvider",
                                   "RAduvuz.IServerProvider", "GetObject", {QString()});
    ASSERT_EQ(made.type(), QDBusMessage::ReplyMessage) << made.errorMessage().toStdString();
    QElapsedTimer sinceMade;
    sinceMade.start();
    const QString unused = qvariant_cast<QDBusVariant>(made.arguments().value(0))
                               .variant()
                               .toString()
                               .section(QLatin1Char('/'), 0, 0);
    ASSERT_TRUE(unused.startsWith(QLatin1String("RAduvuz.ModuleControl.p")))
        << unused.toStdString();
    while (!gone(unused) && sinceMade.elapsed() < 10000)
        QThread::msleep(10);
    EXPECT_GE(sinceMade.elapsed(), 1900);
    EXPECT_LT(sinceMade.elapsed(), 2000 + kEndAfterCloseMs);
    EXPECT_TRUE(provider.waitForFinished(5000));

    // Four modules started as programs, four made by the first one's GetObject, one plate.
    MakePages("end", 5, "C");
    TRun run;
    for (int n = 4; n <= 10; ++n)
        run.Extra += "[module " + std::to_string(n) + "]\nname = M" + std::to_string(n) +
                     (n >= 7 ? "\ncreate = provider\n" : "\n");
    Start(run, "first");
    const auto module = [](int n) {
        return "module " + std::to_string(n) + " (" +
               (n == 3 ? "Queuer" : "M" + std::to_string(n)) + ")";
    };
    std::map<int, QString> names;
    std::map<int, qint64> ended;
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        const std::string log = Log();
        for (int n = 3; n <= 10; ++n) {
            const std::string created = AfterInLog(log, module(n) + ": created as ");
            if (created.rfind("RAduvuz.", 0) == 0)
                names[n] = Q(created.substr(0, created.find('/')));
        }
        for (const auto& [n, name] : names)
            if (!ended.count(n) && gone(name))
                ended[n] = QDateTime::currentMSecsSinceEpoch();
        if (ended.size() == 8 || (Twf->state() == QProcess::NotRunning && names.size() < 8))
            break;
        QThread::msleep(10);
    }
    Twf->waitForFinished(30000);
    RunLog = Log();
    ASSERT_EQ(ended.size(), 8u) << RunLog;
    ExpectSent("a", 1);
    for (const auto& [n, at] : ended) {
        const int64_t closed = StampOf(RunLog, "-> " + module(n) + ": Close()");
        ASSERT_GT(closed, 0) << "module " << n << "\n" << RunLog;
        EXPECT_LT(at - closed, kEndAfterCloseMs) << "module " << n;
        // twf stays on the bus until the processes it started have ended; a module made by
        // GetObject may end as soon as twf, its last caller, has left.
        if (n <= 6) {
            EXPECT_GE(at - closed, 150) << "module " << n;
        }
    }
    EXPECT_THAT(RunLog, Not(HasSubstr("still running")));
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
    const TRun first{.Module = "flow = 12: Device=*\n", .Sink12 = "paused = yes\n"};
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
    ASSERT_EQ(fileOf.size(), 3u) << Log();

    const std::string faults =
        RunAgainDelivering(first.Again("expect = 1\nbefore-close = sleep 1\n"), {"good-1-C.rst"});
    for (const TCase& c : cases) {
        const std::string name = fileOf[c.Plate];
        EXPECT_TRUE(fs::exists(JobFolder() / "damaged" / name)) << c.Plate;
        EXPECT_FALSE(fs::exists(JobFolder() / name)) << c.Plate;
        const std::string line = AfterInLog(faults, "Error load saved job " + name + " (");
        EXPECT_EQ(line.rfind("block record 1 is damaged (", 0), 0u) << c.Plate << "\n" << faults;
        EXPECT_THAT(line, HasSubstr(c.Why)) << c.Plate << "\n" << line;
        EXPECT_THAT(faults, HasSubstr("Job " + name +
                                      " waited to be sent (to 12) when the module ended, but "
                                      "its spool file " +
                                      (JobFolder() / name).string() +
                                      " is missing or damaged; it is not sent again"))
            << c.Plate;
    }
}

} // namespace
} // namespace raduvuz::test
