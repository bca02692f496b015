#include "cycle_e2e/WorkflowFixture.h"

#include <chrono>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace raduvuz::test {
namespace {

struct TModeCase {
    const char* Config;
    const char* Policy;
    size_t SpoolFiles;
    size_t Transferred;
    // Passed jobs the retention policy deleted at once.
    size_t Deleted;
    // A store that sends no signals.
    bool Quiet = false;
    // A session without a display (bus activation on a server, say), and twf asked to show the
    // module: it runs without a console and ShowModule says why it cannot.
    bool Headless = false;
};
void PrintTo(const TModeCase& c, std::ostream* out) {
    *out << (*c.Config ? c.Config : "defaults") << (c.Quiet ? " quiet store" : "")
         << (c.Headless ? " headless" : "");
}
class WorkModeTest : public WorkflowTest, public ::testing::WithParamInterface<TModeCase> {
protected:
    QProcessEnvironment Environment() const override {
        QProcessEnvironment env = WorkflowTest::Environment();
        if (GetParam().Headless) {
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                env.remove(name);
        }
        return env;
    }
};

// Policy 0 deletes passed jobs at once, so a transferring job writes no spool copy at all and a
// spooled job's file goes as soon as it is sent; policy 2 keeps them all. With a store that sends
// no signals nothing tells the module of new documents or of blocks: only its one-second timer
// and the ticks that follow ones that moved something find them.
INSTANTIATE_TEST_SUITE_P(Modes, WorkModeTest,
                         ::testing::Values(TModeCase{"", "1", 4, 4, 0},
                                           TModeCase{"DeletePolicy=0", "0", 0, 4, 0},
                                           TModeCase{"WorkMode=1", "1", 4, 0, 0},
                                           TModeCase{"WorkMode=1;DeletePolicy=0", "0", 0, 0, 4},
                                           TModeCase{"WorkMode=1;DeletePolicy=2", "2", 4, 0, 0},
                                           TModeCase{"", "1", 4, 4, 0, true},
                                           TModeCase{"", "1", 4, 4, 0, false, true}));

TEST_P(WorkModeTest, EveryPlateArrivesUnchanged) {
    const TModeCase& c = GetParam();
    MakePages("plates", 5);
    if (*c.Config)
        WriteConfig(c.Config);
    TRun run;
    run.Module += "before-close = GetValue 53\n";
    if (c.Quiet)
        run.Workflow = "store-options = --no-signals\nbackstop = 1\n";
    if (c.Headless)
        run.Options = {"--show"};
    ASSERT_TRUE(Passes(run));
    EXPECT_EQ(AfterInLog(RunLog, "module 3 (Queuer): GetValue(53) = "), c.Policy);
    ExpectSent("a", 2);
    ExpectSent("b", 2);
    EXPECT_EQ(Count(RunLog, " transferred at "), c.Transferred) << RunLog;
    EXPECT_EQ(Count(RunLog, ") deleted at "), c.Deleted) << RunLog;
    EXPECT_TRUE(fs::is_directory(JobFolder()));
    EXPECT_EQ(SpoolFiles().size(), c.SpoolFiles);
    if (c.Quiet || c.Headless) {
        EXPECT_THAT(RunLog, Not(HasSubstr("Exception in")));
    }
    if (c.Headless) {
        EXPECT_THAT(RunLog, HasSubstr("module 3 (Queuer): ShowModule failed: "));
        EXPECT_THAT(RunLog, HasSubstr("runs without a display"));
    }
}

TEST_F(WorkflowTest, AJobWaitingForAPausedDestinationCostsOnlyTheTimersFewCalls) {
    // Spooled, the job waits in the module; passed through, thirty documents wait in the store,
    // and a search that walked them all would ask for each one.
    const struct {
        const char* Config;
        int Jobs;
        const char* Waiting;
    } cases[] = {{"WorkMode=1", 1, "File idle1-1-C.rst spooled"},
                 {"WorkMode=0", 10, "idle10-1-Y.rst as document"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Config);
        // Each case from nothing: no job of the case before comes back.
        for (const fs::path& folder : {Root / "pages", JobFolder(), ConfigFolder()})
            fs::remove_all(folder);
        for (int i = 1; i <= c.Jobs; ++i)
            MakePages("idle" + std::to_string(i), 5, c.Jobs == 1 ? "C" : "CMY");
        WriteConfig(c.Config);
        // Once the job waits, every call on the bus is listened to for three seconds; the sinks
        // make none of their own.
        ASSERT_TRUE(Passes(
            {.Module = "flow = 12: Device=*\n",
             .Workflow = "expect = 0\nbackstop = 0\nbefore-close = " + ShellWaitForLog(c.Waiting) +
                         "sleep 1; timeout 3 dbus-monitor --session "
                         "\"type='method_call'\" >calls.txt; true\n",
             .Sink12 = "paused = yes\n"}));
        const std::string calls = ReadTextFile(Root / "calls.txt");
        // Each second the timer's tick asks once or twice whether the destination is ready
        // (the server's two values and the store's answer, at once) and searches the store
        // once or twice; a module that kept trying made thousands of calls a second.
        const size_t count = Count(calls, "method call ");
        EXPECT_GE(count, 2u) << calls;
        EXPECT_LE(count, 50u) << calls;
        EXPECT_EQ(Count(calls, "member=GetValue") + Count(calls, "member=IsDocForExists") +
                      Count(calls, "member=RNextFindDoc"),
                  count)
            << calls;
        EXPECT_TRUE(Outputs("a").empty());
    }
}

TEST_F(WorkflowTest, OutputTheStoreRefusesEndsOnlyThatJob) {
    // Yellow and black match no flow entry: the store refuses an output without destination.
    MakePages("refused", 10);
    // The last plate may still be on its way when the second output arrives.
    ASSERT_TRUE(Passes({.Module = "flow = 12: Color=Cyan,Magenta\n",
                        .Workflow = "expect = 2\nbefore-close = sleep 1\n"}));
    ExpectSent("a", 2);
    EXPECT_TRUE(Outputs("b").empty());
    EXPECT_EQ(Count(RunLog, " transferred at "), 2u) << RunLog;
    EXPECT_THAT(RunLog, Not(HasSubstr("Exception in")));
    // Every input was read and closed, the refused ones too.
    EXPECT_THAT(StoreSummary(), HasSubstr(" 0 documents")) << RunLog;
}

TEST_F(WorkflowTest, SigtermClosesTheModuleSoAHeldJobStaysHeldAcrossARestart) {
    // What the module makes is its user's alone under the usual umask, which twf hands on.
    const mode_t umask = ::umask(022);
    MakePages("term", 10, "C");
    WriteConfig("WorkMode=1;Copies=2;HoldList=PRN_A");
    // The signals that come after the first one do not cut its Close short.
    const TRun first{.Module = ColourFlows,
                     .Workflow = TerminateAfterLog("File term-1-C.rst spooled", true),
                     .Extra = Terminators};
    Run(first);
    ::umask(umask);
    EXPECT_THAT(RunLog, HasSubstr("before-close| module gone"));
    EXPECT_THAT(RunLog, HasSubstr("module 3 (Queuer): process ended (exit code 0)"));
    EXPECT_THAT(RunLog, HasSubstr("module 3 (Queuer): Closing on SIG"));
    // Close wrote the hold file before the process ended: a line for each held copy, both named
    // after the plate's spool file.
    const std::set<std::string> spooled = SpoolFiles();
    ASSERT_EQ(spooled.size(), 1u) << RunLog;
    const std::string holdFile = (ConfigFolder() / "Q.hld").string();
    const std::vector<std::string> held(2, *spooled.begin());
    EXPECT_EQ(Lines(ReadTextFile(holdFile)), held);
    EXPECT_TRUE(Outputs("a").empty());
    EXPECT_EQ(Count(RunLog, "Closing on "), 1u) << RunLog;
    for (const auto& entry : fs::directory_iterator(ConfigFolder()))
        EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr(".tmp"))) << entry.path();

    const auto mode = [](const fs::path& path) {
        return fs::status(path).permissions() & fs::perms::all;
    };
    EXPECT_EQ(mode(JobFolder().parent_path()), fs::perms::owner_all);
    EXPECT_EQ(mode(JobFolder()), fs::perms::owner_all);
    EXPECT_EQ(mode(JobFolder() / *spooled.begin()), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(mode(holdFile), fs::perms::owner_read | fs::perms::owner_write);

    // Started again, the module holds both copies again; a second SIGTERM writes them down again.
    const TRun second = first.Again(TerminateAfterLog("Resume()"));
    ::rename(LogFile.c_str(), (Root / "first.log").c_str());
    Run(second);
    EXPECT_THAT(RunLog, HasSubstr("before-close| module gone"));
    EXPECT_EQ(Lines(ReadTextFile(holdFile)), held) << RunLog;
    EXPECT_THAT(RunLog, Not(HasSubstr("sending")));
    EXPECT_TRUE(Outputs("a").empty());
    EXPECT_EQ(SpoolFiles(), spooled);
}

// A damaged configuration, and after a restart the damaged copy kept in its place, leave the
// module paused with the documents in the store until a configuration is loaded. Temporary files
// of saves that did not end go, and only the newest damaged copies stay.
TEST_F(WorkflowTest, ADamagedConfigurationKeepsTheModulePausedUntilOneIsLoaded) {
    MakePages("conf", 10, "CY");
    fs::create_directories(ConfigFolder());
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    ::waitpid(ended, nullptr, 0);
    const std::vector<std::string> temporaries = {"Q.set.tmp" + std::to_string(ended) + "_1",
                                                  "Q.hld.tmp" + std::to_string(ended) + "_2"};
    for (const std::string& name : temporaries)
        WriteTextFile((ConfigFolder() / name).string(), "part");
    for (int n = 1; n <= 3; ++n) {
        const fs::path copy = ConfigFolder() / (n == 1 ? std::string("Q.set.damaged")
                                                       : "Q.set.damaged." + std::to_string(n));
        WriteTextFile(copy.string(), "old " + std::to_string(n));
        fs::last_write_time(copy, fs::file_time_type::clock::now() - std::chrono::hours(10 - n));
    }
    WriteTextFile((ConfigFolder() / "Q.set").string(), "not a compound file");

    const TRun run{.Module = std::string(ColourFlows) + "before-close = GetValue 6\n",
                   .Workflow = CloseAfterLog("The module stays paused", "1")};
    for (const char* start : {"damaged", "restarted"}) {
        SCOPED_TRACE(start);
        ::rename(LogFile.c_str(), (Root / (std::string(start) + ".log")).c_str());
        ASSERT_TRUE(Passes(run));
        const size_t resumed = RunLog.find("-> module 3 (Queuer): Resume()");
        ASSERT_NE(resumed, std::string::npos) << RunLog;
        EXPECT_NE(RunLog.find("module 3 (Queuer): status -1, paused", resumed), std::string::npos)
            << RunLog;
        EXPECT_THAT(AfterInLog(RunLog, "The module stays paused: its configuration "),
                    HasSubstr("; it starts once a configuration is loaded, imported or saved"))
            << RunLog;
        EXPECT_EQ(AfterInLog(RunLog, "GetValue(6) = "), "true");
        EXPECT_THAT(RunLog, Not(HasSubstr(" transferring at ")));
        // Nothing taken: both plates wait in the store for the module.
        const std::vector<std::string> store = StoreLines();
        ASSERT_EQ(store.size(), 3u) << RunLog;
        for (size_t i = 1; i < store.size(); ++i)
            EXPECT_THAT(store[i], HasSubstr("for=3:pending"));
        // Close keeps the window layout, and no settings beside it.
        EXPECT_THAT(ListStreams((ConfigFolder() / "Q.set").string()), Not(HasSubstr("\nQ:")));
    }
    for (const std::string& name : temporaries)
        EXPECT_FALSE(fs::exists(ConfigFolder() / name)) << name;
    // The newest three damaged copies: the file set aside now and the two younger old ones.
    EXPECT_FALSE(fs::exists(ConfigFolder() / "Q.set.damaged"));
    EXPECT_EQ(ReadTextFile(ConfigFolder() / "Q.set.damaged.2"), "old 2");
    EXPECT_EQ(ReadTextFile(ConfigFolder() / "Q.set.damaged.4"), "not a compound file");

    // A configuration given again: the module runs, and every plate arrives unchanged.
    WriteConfig("WorkMode=1");
    ASSERT_TRUE(Passes({.Module = ColourFlows}));
    ExpectSent("a", 1);
    ExpectSent("b", 1);
}

TEST_F(WorkflowTest, AJobForAPausedDestinationHoldsBackNoJobForAReadyOne) {
    // The black plate comes first and has the best priority, but its printer stays paused for
    // the first seconds; the three other plates' printers are ready all along.
    MakePages("first", 1, "K");
    MakePages("later", 20, "CMY");
    WriteConfig("WorkMode=1");
    ASSERT_TRUE(
        Passes({.Module = "flow = 12: Color=Cyan;Device=1\nflow = 15: Color=Magenta;Device=2\n"
                          "flow = 16: Color=Yellow;Device=3\nflow = 17: Color=Black;Device=4\n",
                .Workflow = "expect = 4\n",
                .Extra = "\n[sink 16]\nname = Printer C\nfolder = out/c\n"
                         "\n[sink 17]\nname = Printer D\nfolder = out/d\npaused-for = 4\n"}));
    ExpectSent("a", 1);
    ExpectSent("b", 1);
    ExpectSent("c", 1);
    ExpectSent("d", 1);

    // Printer D takes documents 4 s after the modules' Resume; a tick comes at least once a
    // second, so each plate is out within two ticks of the moment its printer could take it.
    const int64_t resumed = StampOf(RunLog, "-> module 3 (Queuer): Resume()");
    ASSERT_GT(resumed, 0) << RunLog;
    const int64_t dReady = resumed + 4000;
    struct TPlate {
        const char* File;
        const char* Sink;
    };
    for (const TPlate& plate :
         {TPlate{"later-1-C.rst", "12 (Printer A)"}, TPlate{"later-1-M.rst", "15 (Printer B)"},
          TPlate{"later-1-Y.rst", "16 (Printer C)"}}) {
        const int64_t fed = StampOf(RunLog, std::string("pages/") + plate.File + " as document");
        const int64_t received = StampOf(RunLog, std::string("sink ") + plate.Sink + ": received ");
        ASSERT_GT(fed, 0) << plate.File << "\n" << RunLog;
        ASSERT_GT(received, 0) << plate.File << "\n" << RunLog;
        EXPECT_LE(received - fed, 2000) << plate.File << "\n" << RunLog;
        EXPECT_LT(received, dReady) << plate.File << "\n" << RunLog;
    }
    const int64_t black = StampOf(RunLog, "sink 17 (Printer D): received ");
    EXPECT_GE(black, dReady) << RunLog;
    EXPECT_LE(black - dReady, 2000) << RunLog;
}

} // namespace
} // namespace raduvuz::test
