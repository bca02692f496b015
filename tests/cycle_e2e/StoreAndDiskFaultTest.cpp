// Faults caused for real in a running workflow: the document store is killed while the module
// spools, the disk of the job folder fills up while it spools or passes a document on. The test
// is the producer of the document the fault hits, block by block over twf's private bus, so
// the fault comes at a known point of the transfer.

#include "cycle_e2e/WorkflowFixture.h"

#include <QThread>

#include <chrono>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <sys/resource.h>

namespace raduvuz::test {
namespace {

// CPU seconds (user and system) a process has used so far.
double CpuSeconds(long pid) {
    std::istringstream stat(ReadTextFile("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    std::vector<std::string> fields;
    while (stat >> field)
        fields.push_back(field);
    if (fields.size() < 15)
        return -1;
    return static_cast<double>(std::stoll(fields[13]) + std::stoll(fields[14])) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

class StoreAndDiskFaultTest : public WorkflowTest {
protected:
    // Starts twf on run and connects to its private bus, as the producer of the test's documents.
    void Start(TRun run) {
        run.Workflow += "store-lost = wait\nbackstop = 1\n";
        StartAndConnect(run, "module 3 (Queuer): status 1, running");
        StorePid = NumberAfter(Log(), ", pid ");
        ASSERT_GT(ModulePid(), 0) << Log();
    }

    // A store call by member name, as the module makes it.
    QDBusMessage StoreCall(const QString& method, const QVariantList& args) {
        return Call("RozEza.MemoryMan", "/MemoryMan", QString(), method, args);
    }
    // A document for module 3 that the test writes block by block, with the parameter text of
    // the page file beside it.
    int CreateDoc(const fs::path& page, int jobId) {
        const QDBusMessage reply =
            StoreCall("WCreateDoc", {2, jobId, "3", Q(ReadTextFile(page.string() + ".dds"))});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).toInt();
    }
    // Writes blocks of the page's bytes [from, to) into doc; the page's last one says so.
    void WriteBlocks(int doc, const std::string& bytes, size_t from, size_t to) {
        for (size_t at = from; at < to; at += kBlock) {
            const size_t size = std::min(kBlock, to - at);
            const QDBusMessage got = StoreCall("WGetBlock", {doc, static_cast<int>(size)});
            ASSERT_EQ(got.type(), QDBusMessage::ReplyMessage) << got.errorMessage().toStdString();
            const std::string name = got.arguments().value(0).toString().toStdString();
            ASSERT_FALSE(name.empty()) << "the store has no room for a block";
            const int fd = ::open(("/dev/shm/" + name).c_str(), O_RDWR | O_CLOEXEC);
            ASSERT_GE(fd, 0) << name;
            const ssize_t written = ::pwrite(fd, bytes.data() + at, size, 0);
            ::close(fd);
            ASSERT_EQ(written, static_cast<ssize_t>(size));
            const int last = at + size == bytes.size() ? 1 : 0;
            const QDBusMessage closed =
                StoreCall("WCloseBlock", {doc, got.arguments().value(1).toInt(), last});
            ASSERT_EQ(closed.type(), QDBusMessage::ReplyMessage);
        }
    }
    void CloseDoc(int doc) {
        EXPECT_EQ(StoreCall("WCloseDoc", {doc}).type(), QDBusMessage::ReplyMessage);
    }

    // Feeds page to module 3 through the store; the number of its document.
    int Put(const fs::path& page) {
        const QDBusMessage put = StoreCall(
            "PutFile", {Q(page.string()), Q(ReadTextFile(page.string() + ".dds")), int(kBlock), 3});
        EXPECT_EQ(put.type(), QDBusMessage::ReplyMessage) << put.errorMessage().toStdString();
        return put.arguments().value(0).toInt();
    }
    // The store's line for document doc ("4 job=78 from=2 state=finished ... for=3:open ...").
    std::string StoreLine(int doc) {
        const QDBusMessage reply = StoreCall("ListDocs", {});
        for (const std::string& line : Lines(reply.arguments().value(0).toString().toStdString()))
            if (line.rfind(std::to_string(doc) + " ", 0) == 0)
                return line;
        return "<no document " + std::to_string(doc) + ">";
    }
    // Waits until the spool file has grown to at least bytes.
    void WaitForSpoolFile(const fs::path& file, int64_t bytes) {
        WaitUntil([&] { return SizeOf(file) >= bytes; }, 20000);
        ASSERT_GE(SizeOf(file), bytes) << file;
    }
    // Where the job folder's disk fills up: a small file system (tmpfs) when the test may mount
    // one, which CI can as root; else a file-size limit put on the module process, under which
    // a write fails as it would on a full disk ("File too large" for "No space left on device").
    // The small disk also runs out of the room the intake asks for; the limit does not.
    fs::path Storage() {
        Disk = std::make_unique<TSmallDisk>((Root / "disk").string(), 112);
        std::cout << "[ disk     ] "
                  << (Disk->Mounted() ? "a 112 MB tmpfs, filled up by the test"
                                      : "a file-size limit on the module (" + Disk->Why + ")")
                  << "\n";
        return Disk->Mounted() ? Root / "disk" / "Storage" : Root / "storage";
    }
    bool SmallDisk() const { return Disk && Disk->Mounted(); }
    std::string FullText() const {
        return SmallDisk() ? "No space left on device" : "File too large";
    }
    // The module's limit on the size of a file it writes: bytes, or the hard limit with none.
    void LimitFileSize(std::optional<rlim_t> bytes) {
        rlimit limit{};
        ASSERT_EQ(::prlimit(static_cast<pid_t>(ModulePid()), RLIMIT_FSIZE, nullptr, &limit), 0);
        limit.rlim_cur = bytes.value_or(limit.rlim_max);
        ASSERT_EQ(::prlimit(static_cast<pid_t>(ModulePid()), RLIMIT_FSIZE, &limit, nullptr), 0);
    }
    // No write of the module grows a file beyond what spool already holds.
    void FillUp(const fs::path& spool) {
        if (!SmallDisk())
            return LimitFileSize(static_cast<rlim_t>(fs::file_size(spool)));
        const fs::path filler = Root / "disk" / "filler";
        std::ofstream big(filler, std::ios::binary);
        const std::string chunk(1 << 20, 'f');
        while (big.write(chunk.data(), static_cast<std::streamsize>(chunk.size())))
            ;
        big.close();
        std::ofstream tail(filler.string() + ".tail", std::ios::binary);
        while (tail.put('f'))
            ;
    }
    void MakeRoom() {
        if (!SmallDisk())
            return LimitFileSize(std::nullopt);
        fs::remove(Root / "disk" / "filler");
        fs::remove(Root / "disk" / "filler.tail");
    }

    // A page of about 4 MB in own/, made as the workflow's pages are; its path.
    fs::path Page(const std::string& name, const std::string& plate) {
        return MakePages(name, 5, plate, "*", 2048, "own");
    }

    // No step failed (a fault this test causes must never end up as one), and the store is left
    // empty.
    void ExpectCleanEnd() const {
        EXPECT_THAT(RunLog, Not(HasSubstr("Exception in ")));
        ExpectStoreEmpty();
    }

    static constexpr size_t kBlock = 262144;
    std::unique_ptr<TSmallDisk> Disk;
    long StorePid = -1;
};

TEST_F(StoreAndDiskFaultTest, StoreKilledWhileSpoolingLosesOnlyThatInputAndANewStoreIsUsedAtOnce) {
    // "kept" passes before the fault and stays as a passed job with spool file 1_1; "waits"
    // waits for its paused printer through the fault.
    MakePages("kept", 10, "C");
    MakePages("waits", 10, "Y");
    WriteConfig("WorkMode=1");
    Start({.Workflow = "expect = 4\n", .Extra = "paused-for = 6\n"});
    ASSERT_TRUE(WaitForLog("File kept-1-C.rst sent")) << Log();
    ASSERT_TRUE(WaitForLog("File waits-1-Y.rst spooled")) << Log();
    ASSERT_TRUE(fs::exists(JobFolder() / "1_1"));

    const fs::path slow = Page("slow", "C");
    const std::string bytes = ReadTextFile(slow);
    const int doc = CreateDoc(slow, 77);
    WriteBlocks(doc, bytes, 0, 3 * kBlock);
    const std::string partial = "77_" + std::to_string(doc);
    ASSERT_TRUE(WaitForLog("File slow-1-C.rst spooling")) << Log();
    WaitForSpoolFile(JobFolder() / partial, 3 * kBlock / 4);

    ASSERT_EQ(::kill(static_cast<pid_t>(StorePid), SIGKILL), 0);
    const std::string gone = "Job " + partial +
                             " (slow): the document store has gone "
                             "while the job was spooling; its input went with "
                             "the store, the partial spool file ";
    ASSERT_TRUE(WaitForLog(gone)) << Log();
    EXPECT_FALSE(fs::exists(JobFolder() / partial));
    // While nobody owns the store's name the module only looks for it once a second.
    const double before = CpuSeconds(ModulePid());
    QThread::msleep(2000);
    const double away = CpuSeconds(ModulePid()) - before;
    std::cout << "[ figures  ] module CPU while the store was away: " << away << " s in 2 s\n";
    EXPECT_LT(away, 0.3);
    const std::string log = Log();
    const std::string afterGone = log.substr(log.find(gone));
    EXPECT_THAT(afterGone, HasSubstr("module 3 (Queuer): label 1"));
    EXPECT_THAT(afterGone, HasSubstr("module 3 (Queuer): status 1, running"));
    EXPECT_THAT(log, HasSubstr("The document store has gone ("));

    // A new store that numbers from 1 again: its first job is 1_1, as the kept one was.
    StartStore({"--state", Q((Root / "state2" / "numbers").string())}, "store2.err");
    ASSERT_TRUE(WaitForLog("A document store owns RozEza.MemoryMan again; the module goes on"))
        << Log();
    ASSERT_EQ(Put(Page("after", "C")), 1);
    // Neither the moved nor the partial file is listed as passed; the new 1_1 is, once.
    ASSERT_TRUE(WaitForLog("File after-1-C.rst sent")) << Log();
    EXPECT_EQ(PassedJobs(ListJobs()), (std::vector<std::string>{"1_1 after"}));
    Put(Page("last", "M"));

    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectDelivered("a", {"kept-1-C.rst", "after-1-C.rst", "last-1-M.rst"});
    ExpectDelivered("b", {"waits-1-Y.rst"});
    // The kept job's file was moved aside, and the line names both jobs.
    EXPECT_THAT(RunLog,
                HasSubstr("Job 1_1 (after): the spool file " + (JobFolder() / "1_1").string() +
                          " of the kept job 1_1 (kept) is in the way"));
    EXPECT_EQ(ReadTextFile(JobFolder() / "damaged" / "1_1.kept").size() > 0, true);
    // Those of waits (the first store's numbers), after and last (the second store's); the kept
    // job's is in damaged/.
    const std::set<std::string> files = SpoolFiles();
    EXPECT_EQ(files.size(), 3u);
    for (const char* name : {"1_1", "2_2"})
        EXPECT_EQ(files.count(name), 1u) << name;
    EXPECT_EQ(files.count(partial), 0u);
    ExpectCleanEnd();
}

TEST_F(StoreAndDiskFaultTest, FullDiskWhileSpoolingKeepsTheJobAndItsInputUntilThereIsRoom) {
    // The intake wants 100 MB free; the test fills what is left once the job is spooling.
    const fs::path storage = Storage();
    WriteConfig("WorkMode=1;StoreDir=\"" + storage.string() + "\"");
    TRun run;
    run.Inputs = false;
    run.Workflow = "expect = 1\n";
    Start(run);
    const fs::path page = Page("full", "C");
    const std::string bytes = ReadTextFile(page);
    const int doc = CreateDoc(page, 78);
    const std::string job = "78_" + std::to_string(doc);
    WriteBlocks(doc, bytes, 0, 4 * kBlock);
    WaitForSpoolFile(storage / "Q" / job, kBlock);

    // The module stops while the disk fills and the rest comes: a tick in between would find
    // the job waiting for its input, and the intake would pause for the disk before the job
    // met the full disk.
    ASSERT_EQ(::kill(static_cast<pid_t>(ModulePid()), SIGSTOP), 0);
    FillUp(storage / "Q" / job);
    WriteBlocks(doc, bytes, 4 * kBlock, bytes.size());
    CloseDoc(doc);
    ASSERT_EQ(::kill(static_cast<pid_t>(ModulePid()), SIGCONT), 0);
    ASSERT_TRUE(WaitForLog("Job " + job + " (full): the disk is full (" + FullText() + "; file " +
                           (storage / "Q" / job).string() +
                           "); the job waits with the rest of its input in the store"))
        << Log();
    // A disk without room pauses the module; under a file-size limit only the job waits.
    if (SmallDisk()) {
        ASSERT_TRUE(WaitForLog("Not enough free disk space")) << Log();
    }
    // The job is still there, and so is what it has not spooled yet.
    EXPECT_NE(StoreLine(doc).find(" for=3:open "), std::string::npos) << StoreLine(doc);
    EXPECT_TRUE(fs::exists(storage / "Q" / job));

    // The operator pauses as well: room alone no longer starts the module, Resume does.
    CallModule(QStringLiteral("Pause"));
    const size_t paused = Log().size();
    MakeRoom();
    QThread::msleep(2000);
    EXPECT_EQ(Log().find("There is room on the disk again", paused), std::string::npos) << Log();
    EXPECT_EQ(Log().find("File full-1-C.rst spooled"), std::string::npos) << Log();
    CallModule(QStringLiteral("Resume"));

    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectDelivered("a", {"full-1-C.rst"});
    EXPECT_NE(
        RunLog.find("Job " + job + " (full): there is room on the disk again; spooling goes on"),
        std::string::npos)
        << RunLog;
    EXPECT_EQ(Count(RunLog, "): the disk is full ("), 1u) << RunLog;
    EXPECT_EQ(SpoolFiles(storage / "Q"), (std::set<std::string>{job}));
    ExpectCleanEnd();
}

TEST_F(StoreAndDiskFaultTest, FullDiskInPassThroughDropsOnlyTheCopyAndIntakeStartsAgainWithRoom) {
    const fs::path storage = Storage();
    WriteConfig("StoreDir=\"" + storage.string() + "\"");
    Start({.Workflow = "expect = 2\n", .Inputs = false});
    const fs::path page = Page("copy", "C");
    const std::string bytes = ReadTextFile(page);
    const int doc = CreateDoc(page, 81);
    const std::string job = "81_" + std::to_string(doc);
    WriteBlocks(doc, bytes, 0, 4 * kBlock);
    WaitForSpoolFile(storage / "Q" / job, kBlock);

    FillUp(storage / "Q" / job);
    WriteBlocks(doc, bytes, 4 * kBlock, bytes.size());
    CloseDoc(doc);
    ASSERT_TRUE(WaitForLog("Job " + job + " (copy): its spool copy cannot be written (" +
                           FullText() + "; file " + (storage / "Q" / job).string() +
                           "); the copy is dropped and the document is passed on without it"))
        << Log();
    ASSERT_TRUE(WaitForLog("sink 12 (Printer A): received ")) << Log();
    EXPECT_FALSE(fs::exists(storage / "Q" / job));
    if (SmallDisk()) {
        // With the document out, the next search finds the disk full and pauses for it.
        ASSERT_TRUE(WaitForLog("Not enough free disk space")) << Log();
        MakeRoom();
        ASSERT_TRUE(WaitForLog("There is room on the disk again")) << Log();
    } else {
        MakeRoom();
    }
    Put(Page("next", "Y"));

    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectDelivered("a", {"copy-1-C.rst"});
    ExpectDelivered("b", {"next-1-Y.rst"});
    // Only the document that went while there was room has its copy.
    EXPECT_EQ(SpoolFiles(storage / "Q").size(), 1u);
    EXPECT_EQ(SpoolFiles(storage / "Q").count(job), 0u);
    ExpectCleanEnd();
}

TEST_F(StoreAndDiskFaultTest, DamagedFilesGoByAgeThenTheOldestWhileTheDiskIsLowBeforePassedJobs) {
    // Files set aside by earlier runs, and one this start's reload sets aside: a spool file cut
    // short whose own time is old, so only the moment it was set aside keeps it young.
    struct TFile {
        std::string Name;
        int AgeMinutes;
        int SizeMb;
        const char* Fate;
    };
    // On 112 MB with 100 MB wanted: 38 MB of them leave 74; the oldest three bring 98, 4_4 108.
    const std::vector<TFile> files = {
        {"1_1", 90, 5, "age"},    {"2_2.kept", 40, 10, "space"}, {"3_3", 30, 9, "space"},
        {"4_4", 20, 10, "space"}, {"5_5", 10, 2, "kept"},        {"6_6", 180, 2, "reload"},
    };
    const fs::path storage = Storage();
    if (!SmallDisk())
        GTEST_SKIP() << "the low-disk rule needs a small file system: " << Disk->Why;
    const fs::path folder = storage / "Q";
    fs::create_directories(folder / "damaged");
    // A spool file cut short after its header: TextLength, the text, Created, no block.
    const auto cutShort = [](const std::string& text) {
        return Counted(text) + std::string(8, '\0');
    };
    const auto now = fs::file_time_type::clock::now();
    for (const TFile& file : files) {
        const fs::path path =
            file.Name == "6_6" ? folder / file.Name : folder / "damaged" / file.Name;
        std::ofstream out(path, std::ios::binary);
        out << cutShort("Name=" + file.Name)
            << std::string(static_cast<size_t>(file.SizeMb) << 20, 'd');
        out.close();
        fs::last_write_time(path, now - std::chrono::minutes(file.AgeMinutes));
    }
    // A passed job, whole (one block of 3 bytes): under DeletePolicy 3 it would go only when
    // the damaged files were not enough.
    {
        std::string whole = cutShort("Name=passed;Color=Cyan");
        for (const int32_t field : {3, 4})
            whole += std::string(reinterpret_cast<const char*>(&field), 4);
        whole += std::string("\x02"
                             "abc",
                             4) +
                 std::string("\x01\0\0\0", 4);
        std::ofstream(folder / "7_7", std::ios::binary) << whole;
    }
    WriteConfig("WorkMode=1;DeletePolicy=3;FreeSpace=100;KeepTime=60;StoreDir=\"" +
                storage.string() + "\"");
    Start({.Workflow = "expect = 0\nbefore-close = while [ ! -e listed ]; do sleep 0.1; done\n",
           .Inputs = false});
    ASSERT_TRUE(WaitForLog("damaged spool file " + (folder / "damaged" / "4_4").string())) << Log();
    const TRunResult listed = RunOnBus(CTL_PATH, {"damaged", "-m", "Queuer"});
    ASSERT_EQ(listed.Code, 0) << listed;
    std::ofstream(Root / "listed").close();
    ASSERT_EQ(Finish(), 0) << RunLog;

    const std::string shown = listed.Out + listed.Err;
    for (const TFile& file : files) {
        const fs::path path = folder / "damaged" / file.Name;
        const std::string fate = file.Fate;
        EXPECT_EQ(fs::exists(path), fate == "kept" || fate == "reload") << file.Name << RunLog;
        EXPECT_EQ(shown.find(file.Name + " ") != std::string::npos, fs::exists(path))
            << file.Name << "\n"
            << shown;
        if (fate == "age") {
            // Minutes count the time of day truncated, plus whole days: a span over midnight
            // that is a little more than 90 minutes reads 91.
            const std::string line =
                AfterInLog(RunLog, "Damaged spool file " + path.string() + " (");
            EXPECT_TRUE(line.find(") deleted: set aside 90 minutes ago, KeepTime is 60") !=
                            std::string::npos ||
                        line.find(") deleted: set aside 91 minutes ago, KeepTime is 60") !=
                            std::string::npos)
                << RunLog;
        }
        if (fate == "space") {
            EXPECT_THAT(RunLog, HasSubstr("MB wanted): damaged spool file " + path.string()));
        }
    }
    EXPECT_THAT(shown, HasSubstr("Damaged spool files (2) in " + (folder / "damaged").string()));
    // The oldest first: 40, 30, then 20 minutes.
    EXPECT_LT(RunLog.find("damaged/2_2.kept"), RunLog.find("damaged/3_3 ")) << RunLog;
    EXPECT_LT(RunLog.find("damaged/3_3 "), RunLog.find("damaged/4_4 ")) << RunLog;
    EXPECT_THAT(RunLog, Not(HasSubstr("Low disk space. Job deleted")));
    EXPECT_TRUE(fs::exists(folder / "7_7"));
}

} // namespace
} // namespace raduvuz::test
