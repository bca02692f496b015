#include "common/Utils.h"
#include "platform/GoEvent.h"
#include "support/ConfigFiles.h"
#include "support/SmallDisk.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace raduvuz::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// What comes after "PREFIX" on the first log line that holds it, up to the end of that line.
std::string AfterInLog(const std::string& log, const std::string& prefix) {
    const size_t at = log.find(prefix);
    if (at == std::string::npos)
        return "<no line with " + prefix + ">";
    const size_t begin = at + prefix.size();
    return log.substr(begin, log.find('\n', begin) - begin);
}

// Flow entries by colour with the device of each destination as a terminator number, and the
// terminators whose keys a hold list names.
const char* const ColourFlows = "flow = 12: Color=Cyan,Magenta;Device=1\n"
                                "flow = 15: Color=Yellow,Black;Device=2\n";
const char* const Terminators = "[terminator 1]\nname = Printer A\nkey = PRN_A\n"
                                "[terminator 2]\nname = Printer B\nkey = PRN_B\n";

struct TRun {
    // Lines of [module 3] besides name and key: flow entries, values, before-close calls.
    std::string Module = "flow = 12: Color=Cyan,Magenta;Device=PrinterA\n"
                         "flow = 15: Color=Yellow,Black;Device=PrinterB\n";
    // Lines of [workflow], e.g. expect and before-close.
    std::string Workflow;
    // Sections after the sinks.
    std::string Extra;
    std::string Sink12 = "";
    bool Inputs = true;
    std::string LogName = "flow.log";
};

// One workflow run in a clean folder: the module program installed in a program folder of its
// own, a data folder and a registry; twf starts a private bus, the store and the module program.
class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A test must not wait for somebody's RIP.
        if (GoEventExists(kGoEventName))
            GTEST_SKIP() << "a RIP's go event " << kGoEventName << " exists on this machine";
        std::string pattern = (fs::temp_directory_path() / "raduvuz-flow-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Root = pattern;
        fs::create_directories(Root / "prog");
        // A link where the file system allows one, else a copy: either way the program's folder
        // (its default storage) is the test's.
        std::error_code linked;
        fs::create_hard_link(RADUVUZ_PROGRAM, Program(), linked);
        if (linked)
            fs::copy_file(RADUVUZ_PROGRAM, Program());
        // The store numbers documents in a file of the test's own, not in the home folder.
        Env = "XDG_DATA_HOME='" + (Root / "xdg").string() + "' XDG_STATE_HOME='" +
              (Root / "state").string() + "' RADUVUZ_REGISTRY='" + (Root / "reg.ini").string() +
              "' QT_QPA_PLATFORM=offscreen ";
    }
    void TearDown() override {
        std::error_code ignored;
        if (!Root.empty())
            fs::remove_all(Root, ignored);
    }

    void MakePages(const std::string& name, int priority, const std::string& plates = "CMYK") {
        const std::string command = std::string(RASTERGEN_PATH) +
                                    " --width 256 --height 256 --device '*' --name " + name +
                                    " --priority " + std::to_string(priority) + " --plates " +
                                    plates + " '" + (Root / "pages").string() + "' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // The module's stored configuration before the server loads it.
    void WriteConfig(const std::string& text) {
        WriteSetFile((ConfigFolder() / "Q.set").string(), "Q", text);
    }

    int Run(const TRun& run) {
        std::ofstream ini(Root / "flow.ini");
        ini << "[workflow]\nname = Flow\nbus = private\ntimeout = 60\n"
            << "module-program = " << Program().string() << "\n"
            << "store-program = " << MEMORYMAN_PATH << "\n"
            << run.Workflow << "\n"
            << "[module 3]\nname = Queuer\nconfig-key = Q\n"
            << run.Module << "[sink 12]\nname = Printer A\nfolder = out/a\n"
            << run.Sink12 << "\n[sink 15]\nname = Printer B\nfolder = out/b\n"
            << run.Extra << "\n";
        if (run.Inputs)
            ini << "[input]\nto = 3\nblock-size = 16384\nfolder = pages\n";
        ini.close();
        LogFile = Root / run.LogName;
        const std::string command = Env + TWF_PATH + " --quiet --log '" + LogFile.string() + "' '" +
                                    (Root / "flow.ini").string() + "' >/dev/null 2>&1";
        return std::system(command.c_str());
    }
    std::string Log() const { return ReadTextFile(LogFile); }
    // Runs the workflow and keeps its log in RunLog; a failed run shows the log.
    ::testing::AssertionResult Passes(const TRun& run) {
        const int status = Run(run);
        RunLog = Log();
        if (status == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "twf ended with " << status << "\n" << RunLog;
    }

    // Workflow lines for a run that expects no output and closes once the log holds the text
    // (waiting up to 20 s) and then seconds more. The first letter goes in brackets, so neither
    // the pattern nor the test finds the log's own copy of the command.
    static std::string CloseAfterLog(const std::string& text, const std::string& seconds) {
        return "expect = 0\nbefore-close = for i in $(seq 200); do grep -q '[" + text.substr(0, 1) +
               "]" + text.substr(1) + "' flow.log && break; sleep 0.1; done; sleep " + seconds +
               "\n";
    }

    // Output documents of a sink folder, without their parameter files, in output number order.
    std::vector<fs::path> Outputs(const std::string& sink) const {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Root / "out" / sink, ec)) {
            if (entry.path().extension() != ".dds")
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
            return std::stol(a.filename().string()) < std::stol(b.filename().string());
        });
        return files;
    }

    // The input page an output carries after "<doc>_".
    static std::string InputName(const fs::path& output) {
        const std::string name = output.filename().string();
        return name.substr(name.find('_') + 1);
    }

    // Every output equals the input page whose file name it carries after "<doc>_".
    void ExpectOutputsEqualInputs(const std::string& sink) const {
        for (const fs::path& output : Outputs(sink)) {
            const fs::path input = Root / "pages" / InputName(output);
            ASSERT_TRUE(fs::exists(input)) << output;
            EXPECT_EQ(ReadTextFile(output), ReadTextFile(input)) << output;
        }
    }
    void ExpectSent(const std::string& sink, size_t count) const {
        EXPECT_EQ(Outputs(sink).size(), count) << sink << "\n" << RunLog;
        ExpectOutputsEqualInputs(sink);
    }

    fs::path Program() const { return Root / "prog" / "raduvuz"; }
    fs::path ConfigFolder() const { return Root / "xdg" / "TWF_Data" / "Config"; }
    fs::path JobFolder() const { return Root / "prog" / "Storage" / "Q"; }

    std::set<std::string> SpoolFiles() const { return SpoolFiles(JobFolder()); }
    static std::set<std::string> SpoolFiles(const fs::path& folder) {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            names.insert(entry.path().filename().string());
        return names;
    }

    // The lines of the store's listing at the end of the run.
    std::vector<std::string> StoreLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : Lines(RunLog)) {
            const size_t at = line.find(" store: ");
            if (at != std::string::npos)
                lines.push_back(line.substr(at + 8));
        }
        return lines;
    }

    // The store's first listing line: how many documents it still holds.
    std::string StoreSummary() const {
        const std::vector<std::string> store = StoreLines();
        return store.empty() ? "<no store listing>" : store.front();
    }

    // The count of the module's last label before Close.
    std::string LastLabelBeforeClose() const {
        const std::string before = RunLog.substr(0, RunLog.find("-> module 3 (Queuer): Close()"));
        const std::string label = "module 3 (Queuer): label ";
        const size_t at = before.rfind(label);
        return at == std::string::npos
                   ? "<no label>"
                   : before.substr(at + label.size(), before.find('\n', at) - at - label.size());
    }

    fs::path Root;
    std::string Env;
    fs::path LogFile;
    std::string RunLog;
};

struct TModeCase {
    const char* Config;
    const char* Policy;
    size_t SpoolFiles;
    size_t Transferred;
};
void PrintTo(const TModeCase& c, std::ostream* out) {
    *out << (*c.Config ? c.Config : "defaults");
}
class WorkModeTest : public WorkflowTest, public ::testing::WithParamInterface<TModeCase> {};

// Policy 0 deletes passed jobs at once, so a transferring job writes no spool copy at all.
INSTANTIATE_TEST_SUITE_P(Modes, WorkModeTest,
                         ::testing::Values(TModeCase{"", "1", 4, 4},
                                           TModeCase{"DeletePolicy=0", "0", 0, 4},
                                           TModeCase{"WorkMode=1", "1", 4, 0}));

TEST_P(WorkModeTest, EveryPlateArrivesUnchanged) {
    const TModeCase& c = GetParam();
    MakePages("plates", 5);
    if (*c.Config)
        WriteConfig(c.Config);
    TRun run;
    run.Module += "before-close = GetValue 53\n";
    ASSERT_TRUE(Passes(run));
    EXPECT_EQ(AfterInLog(RunLog, "module 3 (Queuer): GetValue(53) = "), c.Policy);
    ExpectSent("a", 2);
    ExpectSent("b", 2);
    EXPECT_EQ(Count(RunLog, " transferred at "), c.Transferred) << RunLog;
    EXPECT_TRUE(fs::is_directory(JobFolder()));
    EXPECT_EQ(SpoolFiles().size(), c.SpoolFiles);
}

TEST_F(WorkflowTest, SpoolModeSendsEveryCopyAndHoldsTheJobsOfAHeldDevice) {
    MakePages("copies", 10);
    WriteConfig("WorkMode=1;Copies=2;HoldList=PRN_A");
    TRun run;
    run.Module = ColourFlows;
    run.Extra = Terminators;
    // The last output reaches the sink before the module has counted its rows again.
    run.Workflow = "expect = 4\nbefore-close = for i in $(seq 200); do grep '[Q]ueuer): label' "
                   "flow.log | tail -n 1 | grep -q ' 4$' && break; sleep 0.1; done\n";
    ASSERT_TRUE(Passes(run));

    // Two equal outputs of each plate for the free device; nothing for the held one.
    ExpectSent("b", 4);
    std::multiset<std::string> names;
    for (const fs::path& output : Outputs("b"))
        names.insert(InputName(output));
    EXPECT_EQ(names.count("copies-1-Y.rst"), 2u);
    EXPECT_EQ(names.count("copies-1-K.rst"), 2u);
    EXPECT_TRUE(Outputs("a").empty());

    // The held copies stayed in the job list until Close, which wrote them to the hold file:
    // two copies of each held plate, both named after that plate's spool file.
    const std::set<std::string> spooled = SpoolFiles();
    ASSERT_EQ(spooled.size(), 4u);
    const std::vector<std::string> held = Lines(ReadTextFile(ConfigFolder() / "Q.hld"));
    ASSERT_EQ(held.size(), 4u) << ReadTextFile(ConfigFolder() / "Q.hld");
    const std::set<std::string> heldFiles(held.begin(), held.end());
    EXPECT_EQ(heldFiles.size(), 2u);
    for (const std::string& entry : heldFiles)
        EXPECT_EQ(spooled.count(entry), 1u) << entry;
    // The module's last label before Close counted the four held rows.
    EXPECT_EQ(LastLabelBeforeClose(), "4") << RunLog;
}

TEST_F(WorkflowTest, MultiplexSendsAllPlatesOfAJobToOneDestinationAndTakesTurns) {
    MakePages("alpha", 5);
    MakePages("beta", 5);
    // Spooling takes every document at once; passing through would look for a destination that
    // is free for each document before taking it.
    WriteConfig("Multiplex=1;WorkMode=1");
    TRun run;
    run.Module = "flow = 12: Device=*\nflow = 15: Device=*\n";
    ASSERT_TRUE(Passes(run));
    EXPECT_NE(RunLog.find("module 3 (Queuer): value 1010 set to true"), std::string::npos);
    ExpectSent("a", 4);
    ExpectSent("b", 4);
    // The first job goes to the first destination, the next one to the other.
    for (const fs::path& output : Outputs("a"))
        EXPECT_EQ(InputName(output).substr(0, 6), "alpha-") << output;
    for (const fs::path& output : Outputs("b"))
        EXPECT_EQ(InputName(output).substr(0, 5), "beta-") << output;
}

TEST_F(WorkflowTest, OutputTheStoreRefusesEndsOnlyThatJob) {
    // Yellow and black match no flow entry: the store refuses an output without destination.
    MakePages("refused", 10);
    TRun run;
    run.Module = "flow = 12: Color=Cyan,Magenta\n";
    // The last plate may still be on its way when the second output arrives.
    run.Workflow = "expect = 2\nbefore-close = sleep 1\n";
    ASSERT_TRUE(Passes(run));
    ExpectSent("a", 2);
    EXPECT_TRUE(Outputs("b").empty());
    EXPECT_EQ(Count(RunLog, " transferred at "), 2u) << RunLog;
    EXPECT_EQ(RunLog.find("Exception in"), std::string::npos) << RunLog;
    // Every input was read and closed, the refused ones too.
    EXPECT_NE(StoreSummary().find(" 0 documents"), std::string::npos) << RunLog;
}

TEST_F(WorkflowTest, RestartBringsBackPassedJobsAsCompletedAndHeldJobsHeld) {
    MakePages("again", 10);
    WriteConfig("WorkMode=1;HoldList=PRN_A");
    TRun first;
    first.Module = ColourFlows;
    first.Extra = Terminators;
    first.Workflow = "expect = 2\n";
    first.LogName = "first.log";
    ASSERT_TRUE(Passes(first));
    ASSERT_EQ(Outputs("b").size(), 2u);
    const std::set<std::string> spooled = SpoolFiles();
    ASSERT_EQ(spooled.size(), 4u);
    const std::string holdFile = (ConfigFolder() / "Q.hld").string();
    const std::vector<std::string> held = Lines(ReadTextFile(holdFile));
    ASSERT_EQ(held.size(), 2u);
    std::vector<std::string> passed;
    for (const std::string& name : spooled) {
        if (std::find(held.begin(), held.end(), name) == held.end())
            passed.push_back(name.substr(0, name.find('_')));
    }
    ASSERT_EQ(passed.size(), 2u);

    // The same module again, without a hold list and with nothing to feed: what it knows comes
    // from its job folder and the hold file alone.
    WriteConfig("WorkMode=1");
    TRun second = first;
    second.Inputs = false;
    second.LogName = "second.log";
    second.Workflow = "expect = 0\nbefore-close = sleep 2; test -e '" + holdFile +
                      "' && echo hold file kept || echo hold file gone\n";
    for (const std::string& job : passed)
        second.Module += "before-close = IsJobUse " + job + "\n";
    for (const std::string& entry : held)
        second.Module += "before-close = IsJobUse " + entry.substr(0, entry.find('_')) + "\n";
    second.Module += "before-close = IsJobUse 999\n";
    ASSERT_TRUE(Passes(second));
    EXPECT_NE(RunLog.find("before-close| hold file gone"), std::string::npos) << RunLog;
    // Passed jobs are known again only as completed rows; the held ones are back in the list.
    for (const std::string& job : passed)
        EXPECT_EQ(AfterInLog(RunLog, "IsJobUse(" + job + ") = "), "true") << RunLog;
    for (const std::string& entry : held)
        EXPECT_EQ(AfterInLog(RunLog, "IsJobUse(" + entry.substr(0, entry.find('_')) + ") = "),
                  "true");
    EXPECT_EQ(AfterInLog(RunLog, "IsJobUse(999) = "), "false");
    EXPECT_EQ(LastLabelBeforeClose(), "2") << RunLog;
    // Still held although nothing holds their device any more: nothing was sent.
    EXPECT_TRUE(Outputs("a").empty());
    EXPECT_NE(StoreSummary().find(" 0 documents"), std::string::npos) << RunLog;
    EXPECT_EQ(SpoolFiles(), spooled);
    // Close wrote the held jobs again.
    EXPECT_EQ(Lines(ReadTextFile(holdFile)), held);
}

TEST_F(WorkflowTest, SavedConfigurationIsOneCountedStreamBesideTheLayout) {
    WriteConfig("DeletePolicy=2;KeepTime=77;Copies=1;MaxFiles=5;FreeSpace=1.5");
    TRun run;
    run.Inputs = false;
    run.Workflow = "expect = 0\n";
    run.Module += "before-close = GetValue 63\nbefore-close = SaveConfig\n"
                  "before-close = ExportConfig\n";
    ASSERT_TRUE(Passes(run));
    // The stored limit is not read back.
    EXPECT_EQ(AfterInLog(RunLog, "GetValue(63) = "), "0");

    const std::string listing = ListStreams((ConfigFolder() / "Q.set").string());
    const std::vector<std::string> streams = Lines(listing);
    ASSERT_EQ(streams.size(), 2u) << listing;
    EXPECT_EQ(streams[0].substr(0, 7), "Config:") << listing;
    EXPECT_GT(streams[0].size(), 7u) << listing;
    const std::string expected = "StoreDir=\"" + (Root / "prog" / "Storage").string() +
                                 "\";DeletePolicy=2;KeepTime=77;WorkMode=0;Copies=1;LastPrvDpi=0;"
                                 "MaxFiles=0;FreeSpace=1.50;LastInTop=1;Multiplex=0;GenPreview=1;"
                                 "Event=1;HoldJobs=;HoldList=";
    EXPECT_EQ(streams[1], "Q:" + HexEncode(Counted(expected))) << HexDecode(streams[1].substr(2));

    // The portable form has the folder as a macro and no hold list key when the list is empty.
    const std::string exported = HexDecode(AfterInLog(RunLog, "ExportConfig() = "));
    EXPECT_EQ(exported, "StoreDir=\"$MAINTWFDIR$/Storage\";DeletePolicy=2;KeepTime=77;WorkMode=0;"
                        "Copies=1;LastPrvDpi=0;MaxFiles=0;FreeSpace=1.50;LastInTop=1;"
                        "Multiplex=0;GenPreview=1;Event=1");
}

TEST_F(WorkflowTest, IntakeLimitLeavesFurtherDocumentsInTheStore) {
    // A held job occupies the only place the limit allows; the next document stays unread.
    MakePages("limit", 10, "CY");
    WriteConfig("WorkMode=1;HoldList=PRN_A;MaxFiles=5");
    TRun run;
    run.Module = std::string(ColourFlows) + "value = 63: 1\nbefore-close = GetValue 63\n";
    run.Extra = Terminators;
    // Once the first plate waits held, the module has a second and more to take the next one.
    run.Workflow = CloseAfterLog("File limit-1-C.rst spooled", "1.5");
    ASSERT_TRUE(Passes(run));
    EXPECT_EQ(AfterInLog(RunLog, "GetValue(63) = "), "1");
    EXPECT_NE(RunLog.find("File limit-1-C.rst spooled"), std::string::npos) << RunLog;
    EXPECT_EQ(RunLog.find("File limit-1-Y.rst"), std::string::npos) << RunLog;
    const std::vector<std::string> store = StoreLines();
    ASSERT_EQ(store.size(), 2u) << RunLog;
    EXPECT_NE(store[0].find(" 1 documents"), std::string::npos) << store[0];
    EXPECT_NE(store[1].find("from=0 "), std::string::npos) << store[1];
    EXPECT_NE(store[1].find("3:pending"), std::string::npos) << store[1];
    EXPECT_EQ(Lines(ReadTextFile(ConfigFolder() / "Q.hld")).size(), 1u);
}

TEST_F(WorkflowTest, LowDiskSpacePausesTheModuleBeforeItTakesAnything) {
    // The storage folder lies on a file system with less room than the intake needs.
    TSmallDisk disk((Root / "disk").string(), 64);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    const fs::path storage = Root / "disk" / "Storage";
    WriteConfig("StoreDir=\"" + storage.string() + "\"");
    MakePages("disk", 10);
    TRun run;
    run.Module += "before-close = GetValue 6\n";
    run.Workflow = CloseAfterLog("Not enough free disk space", "1");
    ASSERT_TRUE(Passes(run));
    const size_t resumed = RunLog.find("-> module 3 (Queuer): Resume()");
    ASSERT_NE(resumed, std::string::npos) << RunLog;
    const size_t low = RunLog.find("Not enough free disk space", resumed);
    ASSERT_NE(low, std::string::npos) << RunLog;
    EXPECT_NE(RunLog.find("module 3 (Queuer): status 1, paused", low), std::string::npos) << RunLog;
    EXPECT_EQ(AfterInLog(RunLog, "GetValue(6) = "), "true");
    EXPECT_EQ(RunLog.find(" transferring at "), std::string::npos) << RunLog;
    const std::vector<std::string> store = StoreLines();
    ASSERT_EQ(store.size(), 5u) << RunLog;
    for (size_t i = 1; i < store.size(); ++i)
        EXPECT_NE(store[i].find("for=3:pending"), std::string::npos) << store[i];
    EXPECT_TRUE(fs::is_directory(storage / "Q"));
    EXPECT_TRUE(SpoolFiles(storage / "Q").empty());
}

TEST_F(WorkflowTest, WaitingJobsAreSentByPriorityComparedAsText) {
    // The destination is paused until every job waits, so only the priorities decide.
    MakePages("pa", 10, "C");
    MakePages("pb", 5, "C");
    MakePages("pc", 100, "C");
    MakePages("pd", 20, "C");
    WriteConfig("WorkMode=1");
    TRun run;
    run.Module = "flow = 12: Device=*\n";
    run.Sink12 = "paused-for = 3\n";
    ASSERT_TRUE(Passes(run));
    std::vector<std::string> order;
    for (const fs::path& output : Outputs("a"))
        order.push_back(InputName(output));
    // Keys are the priority with at least two digits, "_" and the creation time, compared as
    // text: "05_" < "100_" < "10_" < "20_".
    EXPECT_EQ(order,
              (std::vector<std::string>{"pb-1-C.rst", "pc-1-C.rst", "pa-1-C.rst", "pd-1-C.rst"}))
        << RunLog;
    ExpectOutputsEqualInputs("a");
}

} // namespace
} // namespace raduvuz::test
