#include "cycle_e2e/WorkflowFixture.h"

#include "platform/System.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>

#include <map>

#include <cstdio>
#include <sys/types.h>
#include <unistd.h>

namespace raduvuz::test {
namespace {

// Notes when each JobsChanged signal came.
class TSignalClock : public QObject {
    Q_OBJECT

public:
    std::vector<qint64> Times;
    QElapsedTimer Clock;

public slots:
    void JobsChanged() { Times.push_back(Clock.elapsed()); }
};

// A workflow that runs while the test drives the module's jobs with raduvuz-ctl over twf's
// private bus, as an operator at a terminal or a script would.
class JobControlFlowTest : public WorkflowTest {
protected:
    // The modules' windows go to the test's display when it has one, else nowhere.
    QProcessEnvironment Environment() const override {
        QProcessEnvironment env = WorkflowTest::Environment();
        if (!Display.isEmpty()) {
            env.insert("QT_QPA_PLATFORM", "xcb");
            env.insert("DISPLAY", Display);
        }
        return env;
    }

    // Starts twf on run and connects to its bus once the module is on it.
    void Start(const TRun& run) { StartAndConnect(run, "module 3 (Queuer): created as "); }

    TRunResult Ctl(const QStringList& args) { return RunOnBus(CTL_PATH, args); }
    // The module's rows as "raduvuz-ctl jobs --json" gives them.
    QJsonArray Rows() {
        const TRunResult listed = Ctl({"jobs", "--json"});
        EXPECT_EQ(listed.Code, 0) << listed;
        return QJsonDocument::fromJson(QByteArray::fromStdString(listed.Out)).array();
    }
    std::vector<uint> WaitForRows(const TMatch& match, size_t count) {
        return WorkflowTest::WaitForRows([this] { return Rows(); }, match, count);
    }
    // The row with this id, empty when there is none.
    QJsonObject Row(uint id) {
        for (const QJsonValue& row : Rows()) {
            if (row.toObject().value("id").toInteger() == id)
                return row.toObject();
        }
        return {};
    }
    static bool WaitUntil(const std::function<bool()>& done) {
        return test::WaitUntil(done, 20000, 50);
    }
    static QString Id(uint id) { return QString::number(id); }
    static std::string Text(uint id) { return std::to_string(id); }

    // An X display for the modules (":7"); empty: they run off-screen.
    QString Display;
};

// An X server of the test's own (Xvfb), on a display number it chooses itself.
class TXDisplay {
public:
    bool Start() {
        X.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!X.waitForStarted(10000) || !X.waitForReadyRead(20000))
            return false;
        Name = QLatin1Char(':') + QString::fromLatin1(X.readLine()).trimmed();
        return Name.size() > 1;
    }
    ~TXDisplay() { StopProcess(X, 5000); }
    // xdotool on this display: its output, empty when it failed.
    QString Xdo(const QStringList& args) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", Name);
        return Q(RunToEnd("xdotool", args, env, {}, {}, 30000).Out).trimmed();
    }
    QString Name;

private:
    QProcess X;
};

bool HaveProgram(const char* name) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// The module program with its real window on an X display whose desktop has a tray (an XEmbed
// tray, trayer): held jobs released with raduvuz-ctl reach their printer within a second while
// the tray icon's menu is open, while a menu of the window is, and while a modal dialog of it is.
// The operator's mouse and keys come through xdotool.
TEST_F(JobControlFlowTest, AReleaseGoesOutWhileAMenuOrAModalDialogOfTheConsoleIsOpen) {
    if (!HaveProgram("Xvfb") || !HaveProgram("xdotool") || !HaveProgram("trayer"))
        GTEST_SKIP() << "needs Xvfb, xdotool and trayer";
    TXDisplay display;
    ASSERT_TRUE(display.Start()) << "Xvfb did not start";
    QProcess tray;
    QProcessEnvironment trayEnv = QProcessEnvironment::systemEnvironment();
    trayEnv.insert("DISPLAY", display.Name);
    tray.setProcessEnvironment(trayEnv);
    tray.start("trayer",
               {"--edge", "top", "--align", "left", "--widthtype", "request", "--height", "24"});
    ASSERT_TRUE(WaitUntil([&] {
        return !display.Xdo({"search", "--class", "trayer"}).isEmpty();
    })) << "no tray";
    Display = display.Name;
    for (const char* name : {"tray", "menu", "dialog"})
        MakePages(name, 10, "C");
    WriteConfig("WorkMode=1;HoldList=PRN_A");
    Start({.Module = "flow = 12: Color=Cyan;Device=1\n",
           .Workflow = "expect = 3\n",
           .Extra = Terminators});
    const std::vector<uint> held = WaitForRows(Where("state", "held"), 3);
    ASSERT_EQ(held.size(), 3u) << Log();

    const QString pid = QString::number(ModulePid());
    // The windows of the module process on the screen: the tray icon, then menus and dialogs.
    const auto shownWindows = [&] {
        return display.Xdo({"search", "--onlyvisible", "--pid", pid, "--name", QString()})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
            .size();
    };
    // Releases held[n] once what was opened shows: the job reaches the printer within a second,
    // and what was open still is. The time from the release to the printer's document, in ms.
    const auto releaseWhile = [&](size_t n, const char* what, const std::function<bool()>& open) {
        EXPECT_TRUE(WaitUntil(open)) << "no " << what << " opened";
        QElapsedTimer clock;
        clock.start();
        const TRunResult result = Ctl({"release", Id(held[n])});
        EXPECT_EQ(result.Code, 0) << result;
        while (Outputs("a").size() < n + 1 && clock.elapsed() <= 10000)
            QThread::msleep(5);
        const qint64 ms = clock.elapsed();
        EXPECT_LE(ms, 1000) << what << "\n" << Log();
        EXPECT_TRUE(open()) << "the " << what << " closed before the job went out";
        return ms;
    };

    // The tray icon's menu, opened with the right button on the icon in the tray.
    const QString trayWindow =
        display.Xdo({"search", "--class", "trayer"}).section(QLatin1Char('\n'), 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return shownWindows() >= 1; })) << "no tray icon";
    const qsizetype quiet = shownWindows();
    display.Xdo({"mousemove", "--window", trayWindow, "10", "12"});
    display.Xdo({"click", "3"});
    const qint64 inTrayMenu = releaseWhile(0, "tray menu", [&] { return shownWindows() > quiet; });
    display.Xdo({"key", "Escape"});
    ASSERT_TRUE(WaitUntil([&] { return shownWindows() == quiet; }));

    // The console comes up as the server's ShowModule brings it; its Jobs menu opens.
    CallModule("ShowModule");
    const QString window =
        display.Xdo({"search", "--sync", "--onlyvisible", "--pid", pid, "--name", "^Queuer$"})
            .section(QLatin1Char('\n'), 0, 0);
    ASSERT_FALSE(window.isEmpty()) << "no console window";
    const qsizetype alone = shownWindows();
    display.Xdo({"windowfocus", window});
    display.Xdo({"key", "--window", window, "alt+j"});
    const qint64 inMenu = releaseWhile(1, "menu", [&] { return shownWindows() > alone; });
    display.Xdo({"key", "Escape"});
    ASSERT_TRUE(WaitUntil([&] { return shownWindows() == alone; }));

    // The search dialog, modal, is open.
    display.Xdo({"windowfocus", window});
    display.Xdo({"key", "--window", window, "ctrl+f"});
    const auto dialog = [&] {
        return display.Xdo({"search", "--onlyvisible", "--pid", pid, "--name", "^Search$"});
    };
    const qint64 inDialog = releaseWhile(2, "search dialog", [&] { return !dialog().isEmpty(); });
    display.Xdo({"key", "--window", dialog().section(QLatin1Char('\n'), 0, 0), "Escape"});
    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 3);
    tray.kill();
    tray.waitForFinished();
    std::printf("release to printer: %lld ms with the tray menu open, %lld ms with a menu of the "
                "window open, %lld ms with a dialog open\n",
                static_cast<long long>(inTrayMenu), static_cast<long long>(inMenu),
                static_cast<long long>(inDialog));
}

// The tool lists and finds the module's jobs, and each of its actions reaches its jobs, says
// what was done and makes one line in the log naming the jobs and who asked.
TEST_F(JobControlFlowTest, TheToolListsFindsAndChangesJobsAndEachActionLogsOneLineNamingWhoAsked) {
    // Three plates pass to printer A; black waits for the paused printer C.
    MakePages("log", 10, "CMY", "1");
    MakePages("log", 10, "K", "3");
    WriteConfig("WorkMode=1");
    // The three first, then the reprocessed and the redirected one.
    Start({.Module = "flow = 12: Device=1\nflow = 15: Device=2\nflow = 17: Device=3\n",
           .Workflow = "expect = 5\n",
           .Extra = std::string(Terminators) + PausedPrinterC});
    const std::vector<uint> passed = WaitForRows(Where("list", "passed"), 3);
    const std::vector<uint> waiting = WaitForRows(Where("state", "waiting"), 1);
    ASSERT_EQ(passed.size(), 3u) << Log();
    ASSERT_EQ(waiting.size(), 1u) << Log();
    std::map<std::string, uint> byColour;
    // "Job ID_DocID (name)", as a line names a job; and the passed ones in list order.
    std::map<uint, std::string> keys;
    std::string passedInOrder;
    for (const QJsonValue& value : Rows()) {
        const QJsonObject row = value.toObject();
        const uint id = static_cast<uint>(row.value("id").toInteger());
        byColour[row.value("color").toString().toStdString()] = id;
        keys[id] = std::to_string(row.value("job").toInt()) + "_" +
                   std::to_string(row.value("doc").toInt());
        if (row.value("list").toString() == "passed")
            passedInOrder += (passedInOrder.empty() ? "" : ", ") + keys[id] + " (log)";
    }
    const uint black = waiting[0];
    const uint cyan = byColour["Cyan"];
    const uint magenta = byColour["Magenta"];
    const uint yellow = byColour["Yellow"];

    // The table a person reads: both lists, each row's state, sizes as the console's Size column
    // says them (the module's "Kb", not the tool's own "KiB").
    const TRunResult table = Ctl({"jobs", "-m", "Queuer"});
    ASSERT_EQ(table.Code, 0) << table;
    const std::vector<std::string> lines = Lines(table.Out);
    ASSERT_EQ(lines.size(), 9u) << table;
    EXPECT_EQ(lines[0], "Jobs in process (1)");
    EXPECT_EQ(lines[4], "Passed jobs (3)");
    EXPECT_THAT(table.Out, HasSubstr(" waiting ")) << table;
    EXPECT_THAT(table.Out, HasSubstr(" Kb ")) << table;
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 80u) << line;
    const TRunResult onlyPassed = Ctl({"jobs", "--passed"});
    EXPECT_EQ(Lines(onlyPassed.Out).size(), 5u) << onlyPassed;
    // Found by colour; the criteria themselves are the bus interface's and the search's tests.
    const TRunResult byColor = Ctl({"find", "--color", "=yellow", "--ids"});
    EXPECT_EQ(byColor.Out, Text(yellow) + "\n") << byColor;
    const TRunResult malformed = Ctl({"find", "--date", "2026-02-30"});
    EXPECT_EQ(malformed.Code, 2) << malformed;
    EXPECT_THAT(malformed.Err, HasSubstr("\"date\"")) << malformed;

    const auto named = [&](uint id, const std::string& name = "log") {
        return keys[id] + " (" + name + ")";
    };
    const std::string copies = (Root / "copies").string();
    struct TAction {
        QStringList Args;
        // What the line says before " by ", and the jobs it names.
        std::string Did;
        std::string Jobs;
        // What the tool says it did (not looked at when empty), and why it refused an id.
        std::string Said;
        std::string Refused;
    };
    // An action on one job: the line says did and names the job by name, the tool says said.
    const auto one = [&](QStringList args, uint id, const std::string& did, const char* said,
                         const std::string& name = "log") {
        return TAction{args << Id(id), did, named(id, name), said + (" " + Text(id)) + "\n", ""};
    };
    const std::vector<TAction> actions = {
        one({"hold"}, black, "Jobs held", "held"),
        one({"release"}, black, "Jobs released", "released"),
        one({"priority", "3"}, black, "Priority set to 3", "priority set for"),
        // A renamed job is named by the name it had.
        one({"rename", "Renamed"}, black, "Jobs renamed to \"Renamed\"", "renamed"),
        one({"abort"}, black, "Jobs aborted", "aborted", "Renamed"),
        // Several jobs are named in list order.
        {{"copy", QString::fromStdString(copies), Id(yellow), Id(cyan), Id(magenta)},
         "Jobs copied to " + copies,
         passedInOrder,
         "",
         ""},
        // An id of no job is refused, naming the cause.
        {{"delete", Id(yellow), "999999"},
         "Jobs deleted",
         named(yellow),
         "deleted " + Text(yellow) + "\n",
         "delete refused 999999: no job has this id"},
        one({"reprocess"}, cyan, "Jobs reprocessed", "reprocessed"),
        // The last document the run waits for.
        one({"redirect", "--to", "2"}, magenta, "Jobs redirected to Printer B", "redirected"),
    };
    for (const TAction& action : actions) {
        const TRunResult result = Ctl(action.Args);
        EXPECT_EQ(result.Code, action.Refused.empty() ? 0 : 1) << action.Did << "\n" << result;
        if (!action.Said.empty()) {
            EXPECT_EQ(result.Out, action.Said) << action.Did;
        }
        if (!action.Refused.empty()) {
            EXPECT_THAT(result.Err, HasSubstr(action.Refused)) << action.Did;
        }
    }
    EXPECT_TRUE(Row(yellow).isEmpty());
    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 4);
    ExpectSent("b", 1);

    const std::string by =
        " by " + UserName(static_cast<uint32_t>(::getuid())) + " (raduvuz-ctl, pid ";
    for (const TAction& action : actions) {
        std::vector<std::string> logged;
        for (const std::string& line : Lines(RunLog)) {
            if (line.find("module 3 (Queuer): " + action.Did + by) != std::string::npos)
                logged.push_back(line);
        }
        ASSERT_EQ(logged.size(), 1u) << action.Did << "\n" << RunLog;
        EXPECT_THAT(logged[0], HasSubstr("): " + action.Jobs + " at "))
            << logged[0] << "\nexpected " << action.Jobs;
    }
}

TEST_F(JobControlFlowTest, AJobAbortedWhileSendingNeverReachesItsSinkAndItsOutputIsAborted) {
    // A big plate in small blocks takes a while to send; the small one waits held meanwhile.
    MakePages("big", 10, "C", "1", 3072);
    MakePages("small", 10, "Y", "2");
    WriteConfig("WorkMode=1;HoldList=PRN_B");
    Start({.Module = "flow = 12: Device=1\nflow = 15: Device=2\n",
           .Workflow = "expect = 1\nstore-options = --verbose\n",
           .Extra = Terminators,
           .BlockSize = 2048});
    const std::vector<uint> sending = WaitForRows(Where("state", "sending"), 1);
    ASSERT_EQ(sending.size(), 1u) << Log();
    // While it moves, the table shows how far it got.
    const QJsonObject moving = Row(sending[0]);
    EXPECT_GT(moving.value("size").toInteger(), 9000000) << moving.value("size").toInteger();
    EXPECT_LT(moving.value("done").toInteger(), moving.value("size").toInteger());
    const TRunResult aborted = Ctl({"abort", Id(sending[0])});
    EXPECT_EQ(aborted.Code, 0) << aborted;
    ASSERT_TRUE(WaitForLog("Document big aborted")) << Log();

    // Once the aborted job is gone, the held one goes to the other sink and ends the run.
    const std::vector<uint> held = WaitForRows(Where("state", "held"), 1);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(Ctl({"release", Id(held[0])}).Code, 0);
    ASSERT_EQ(Finish(), 0) << RunLog;
    EXPECT_TRUE(Outputs("a").empty()) << RunLog;
    ExpectSent("b", 1);
    // The store dropped the half-written output (its lines are in the log), and the spool file
    // went with the job.
    const std::string created = AfterInLog(RunLog, "memoryman: module 3 created document ");
    ASSERT_EQ(created.substr(created.find(' ')), " for 12") << RunLog;
    const std::string doc = created.substr(0, created.find(' '));
    EXPECT_THAT(RunLog, HasSubstr("memoryman: document " + doc + " aborted"));
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
    Start({.Module = "flow = 12: Device=1\n", .Workflow = "expect = 2\n"});
    const std::vector<uint> passed = WaitForRows(Where("list", "passed"), 1);
    ASSERT_EQ(passed.size(), 1u) << Log();
    const fs::path spool = storage / "Q" / *SpoolFiles(storage / "Q").begin();
    const std::string before = ReadTextFile(spool);

    {
        std::ofstream filler(Root / "disk" / "filler", std::ios::binary);
        const std::string chunk(1 << 20, 'f');
        while (filler.write(chunk.data(), static_cast<std::streamsize>(chunk.size())))
            ;
    }
    const TRunResult renamed = Ctl({"rename", "Renamed", Id(passed[0])});
    EXPECT_EQ(renamed.Code, 1) << renamed;
    EXPECT_THAT(renamed.Err, HasSubstr("refused " + Text(passed[0]))) << renamed;
    ASSERT_TRUE(WaitForLog("Can not rename job ")) << Log();
    EXPECT_THAT(Log(), HasSubstr("No space left on device"));
    EXPECT_EQ(ReadTextFile(spool), before);
    EXPECT_EQ(SpoolFiles(storage / "Q").size(), 1u);

    // Room again: the operator starts the module the low disk paused, and the job, whole, goes
    // out once more unchanged.
    fs::remove(Root / "disk" / "filler");
    CallModule("Resume");
    EXPECT_EQ(Ctl({"reprocess", Id(passed[0])}).Code, 0);
    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 2);
}

TEST_F(JobControlFlowTest, JobsChangedComesAtMostTenTimesASecondUnderAStreamOfSmallJobs) {
    const std::string pages = std::string(RASTERGEN_PATH) +
                              " --width 64 --height 64 --pages 30 --plates CMYK --name small '" +
                              (Root / "pages").string() + "' >/dev/null";
    ASSERT_EQ(std::system(pages.c_str()), 0);
    Start({.Module = "flow = 12: Color=Cyan,Magenta\nflow = 15: Color=Yellow,Black\n",
           .Workflow = "expect = 120\nbefore-close = sleep 1\n"});
    TSignalClock clock;
    clock.Clock.start();
    ASSERT_TRUE(Connection->connect(ModuleName(), "/ModuleControl", "RAduvuz.IJobControl",
                                    "JobsChanged", &clock, SLOT(JobsChanged())));
    // The operator's watch redraws its table on every signal, until interrupted.
    QProcess watch;
    watch.setProcessEnvironment(OnBus(QProcessEnvironment::systemEnvironment(), Address));
    watch.setStandardOutputFile(Q((Root / "watch.txt").string()));
    watch.start(QStringLiteral(CTL_PATH), {"watch"});
    ASSERT_TRUE(watch.waitForStarted(10000));

    test::WaitUntil(
        [&] {
            return Log().find("before-close: sleep 1") != std::string::npos ||
                   Twf->state() == QProcess::NotRunning;
        },
        120000, 5);
    // The last change's signal comes within 100 ms of it.
    test::WaitUntil([] { return false; }, 500);
    ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
    ASSERT_TRUE(watch.waitForFinished(10000));
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), 0);
    ASSERT_EQ(Finish(), 0) << RunLog;
    ExpectSent("a", 60);
    ExpectSent("b", 60);

    // 120 jobs came and went, each changing rows several times; the listeners heard far less,
    // never more than 10 times in a second (up to 100 ms allowed for the bus's delivery on a busy
    // machine; a module that signals every change sends dozens a second).
    const std::vector<qint64>& times = clock.Times;
    ASSERT_GE(times.size(), 3u);
    EXPECT_LT(times.size(), 120u);
    for (size_t first = 0; first < times.size(); ++first) {
        size_t inWindow = 0;
        for (size_t i = first; i < times.size() && times[i] < times[first] + 900; ++i)
            ++inWindow;
        EXPECT_LE(inWindow, 10u) << "from " << times[first] << " ms";
    }
    const std::string watched = ReadTextFile(Root / "watch.txt");
    const size_t tables = Count(watched, "Jobs in process");
    EXPECT_GE(tables, 2u);
    EXPECT_LE(tables, times.size() + 2);
    const std::string last = watched.substr(watched.rfind("Module "));
    EXPECT_THAT(last, HasSubstr("Jobs in process: none"));
    EXPECT_THAT(last, HasSubstr("Passed jobs (120)"));
}

} // namespace
} // namespace raduvuz::test

#include "JobControlFlowTest.moc"
