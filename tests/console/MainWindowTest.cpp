#include "console/ConsoleTestSupport.h"

#include "app/TModuleLoop.h"
#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TSplitterBar.h"
#include "console/TfMain.h"
#include "control/JobActionRules.h"
#include "control/TModuleControl.h"
#include "platform/TCompoundFile.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QToolBar>
#include <QtTest>

namespace raduvuz::test {

namespace {

TListRow JobRow(const std::string& job, const std::string& doc, const std::string& type) {
    TListRow row;
    row.Caption = job;
    row.SubItems = {doc, "Job " + job, "1", "CMYK", "01/01/26", "10:00:00", type, "1 Kb", "", ""};
    return row;
}

// A configuration file whose "Config" stream holds text.
void WriteConfig(const std::string& file, const std::string& text) {
    TCompoundFile storage;
    QVERIFY(storage.OpenOrCreate(file));
    QVERIFY(storage.WriteCountedText("Config", text));
}

void LoadConfigFile(TfMain& window, const std::string& file) {
    TCompoundFile storage;
    QVERIFY(storage.OpenRead(file));
    window.LoadConfig(storage);
}

// The list area's full height.
int ListArea(const TfMain& window) {
    return window.Panel2->contentsRect().height();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void layoutSavedByTheWindowLoadsIntoAnotherAndReadsBackIndependently() {
        TTestFolder folder;
        const std::string file = folder.StdPath("Queue.set");
        {
            TCompoundFile storage;
            QVERIFY(storage.OpenOrCreate(file));
            QVERIFY(storage.WriteCountedText("Queue", "StoreDir=\"/srv/q\";KeepTime=5"));
        }
        std::string saved;
        int processHeight = 0;
        {
            TJobRows rows;
            TfMain window(rows);
            window.setGeometry(100, 120, 800, 500);
            window.Panel1->resize(window.Panel1->width(), 300);
            window.pPreview->resize(140, window.pPreview->height());
            window.RealignAll();
            window.lvProcessJobs->SetColumnWidth(0, 77);
            window.lvProcessJobs->SetColumnWidth(1, 0);
            window.lvCompletedJobs->SetColumnWidth(3, 44);
            window.SavedProcessJobsHeight = 120;
            window.AViewCompletedJobs->trigger();
            QVERIFY(!window.AViewCompletedJobs->isChecked());
            // Without a file name nothing is written.
            window.SaveConfig();
            window.SetLayoutFile(file);
            window.SaveConfig();
            saved = window.LayoutText();
            // The stored process-list height is the list's own, not the saved one.
            processHeight = window.lvProcessJobs->height();
            QVERIFY(processHeight != 120);
        }
        QVERIFY(saved.rfind("Top=120;Left=100;Width=800;Height=500;JobsHeight=300;LogView=1;"
                            "PreviewWidth=140;PreviewView=0;ProcessJobsHeight=",
                            0) == 0);
        QVERIFY(saved.find(";ProcessJobs=1;CompletedJobs=0;PCol0=77;PCol1=0;PCol2=") !=
                std::string::npos);
        QVERIFY(saved.find(";PCol10=1;CCol0=") != std::string::npos);
        QVERIFY(saved.find(";CCol3=44;") != std::string::npos);

        // Debian's own reader finds a 4-byte little-endian count and exactly the text.
        QProcess reader;
        reader.start(QStringLiteral(RADUVUZ_SYSTEM_PYTHON),
                     {QStringLiteral(RADUVUZ_READ_OLE_STREAM), QString::fromStdString(file),
                      QStringLiteral("Config")});
        QVERIFY(reader.waitForFinished(30000));
        QCOMPARE(reader.exitCode(), 0);
        QCOMPARE(reader.readAllStandardOutput().toStdString(), saved);

        TCompoundFile check;
        QVERIFY(check.OpenRead(file));
        QCOMPARE(*check.ReadCountedText("Queue"), std::string("StoreDir=\"/srv/q\";KeepTime=5"));
        check.Close();

        TJobRows restoredRows;
        TfMain restored(restoredRows);
        LoadConfigFile(restored, file);
        QCOMPARE(restored.geometry(), QRect(100, 120, 800, 500));
        QCOMPARE(restored.Panel1->height(), 300);
        QCOMPARE(restored.pPreview->width(), 140);
        QCOMPARE(restored.SavedProcessJobsHeight, processHeight);
        QVERIFY(!restored.AViewCompletedJobs->isChecked());
        QVERIFY(restored.lvCompletedJobs->isHidden());
        QCOMPARE(restored.lvProcessJobs->ColumnWidth(0), 77);
        QCOMPARE(restored.lvCompletedJobs->ColumnWidth(3), 44);
        QCOMPARE(restored.LayoutText(), saved);
    }

    void logViewAndPreviewViewFromTheStream() {
        TTestFolder folder;
        const std::string hiddenLog = folder.StdPath("hidden.set");
        WriteConfig(hiddenLog, "Top=10;LogView=0");
        TJobRows rows;
        TfMain window(rows);
        LoadConfigFile(window, hiddenLog);
        QVERIFY(!window.AViewLog->isChecked());
        QVERIFY(window.Log->isHidden());
        QVERIFY(window.Splitter1->isHidden());
        QCOMPARE(window.geometry().top(), 10);
        // Without the log the list area fills the window below the toolbar.
        QCOMPARE(window.Panel1->height(), window.centralWidget()->height());

        const std::string noKey = folder.StdPath("nokey.set");
        WriteConfig(noKey, "Top=20");
        LoadConfigFile(window, noKey);
        QVERIFY(window.AViewLog->isChecked());
        QVERIFY(!window.Log->isHidden());
        QVERIFY(!window.Splitter1->isHidden());

        const std::string preview = folder.StdPath("preview.set");
        WriteConfig(preview, "PreviewView=1;PreviewWidth=150;ProcessJobs=1;CompletedJobs=1");
        LoadConfigFile(window, preview);
        QVERIFY(!window.AViewPreview->isChecked());
        QVERIFY(window.pPreview->isHidden());
        QVERIFY(window.Splitter2->isHidden());
        QCOMPARE(window.pPreview->width(), 150);

        // A stream shorter than its count, or none at all, changes nothing.
        const QRect before = window.geometry();
        const std::string shortStream = folder.StdPath("short.set");
        {
            TCompoundFile storage;
            QVERIFY(storage.OpenOrCreate(shortStream));
            QVERIFY(storage.WriteStream("Config", std::string("\x40\0\0\0Top=1;Left=1", 16)));
            QVERIFY(storage.WriteStream("Other", "x"));
        }
        LoadConfigFile(window, shortStream);
        QCOMPARE(window.geometry(), before);
        TCompoundFile empty;
        QVERIFY(empty.Create(folder.StdPath("empty.set")));
        window.LoadConfig(empty);
        QCOMPARE(window.geometry(), before);
    }

    void tuneJobsViewRepairsTheListHeights() {
        TJobRows rows;
        TfMain window(rows);
        window.RealignAll();
        const int area = ListArea(window);
        QVERIFY(area >= 64);

        // A list below 31 high takes the saved height when that still fits.
        window.SavedProcessJobsHeight = 96;
        window.lvProcessJobs->resize(window.lvProcessJobs->width(), 10);
        window.TuneJobsView();
        QCOMPARE(window.lvProcessJobs->height(), 96);
        QCOMPARE(window.lvCompletedJobs->height(), area - 96 - 3);

        // A layout that stands is kept.
        window.lvProcessJobs->resize(window.lvProcessJobs->width(), 50);
        window.TuneJobsView();
        QCOMPARE(window.lvProcessJobs->height(), 50);

        // A saved height that no longer fits gives half the area.
        window.SavedProcessJobsHeight = 20;
        window.lvProcessJobs->resize(window.lvProcessJobs->width(), 5);
        window.TuneJobsView();
        QCOMPARE(window.lvProcessJobs->height(), area / 2);
        QCOMPARE(window.SavedProcessJobsHeight, area / 2);

        // Lists taller than the area together.
        window.SavedProcessJobsHeight = 96;
        window.lvProcessJobs->resize(window.lvProcessJobs->width(), area + 40);
        window.TuneJobsView();
        QCOMPARE(window.lvProcessJobs->height(), 96);

        // An area below 64 hides the passed list instead.
        window.Panel1->resize(window.Panel1->width(), 60);
        window.TuneJobsView();
        QVERIFY(ListArea(window) < 64);
        QVERIFY(!window.AViewCompletedJobs->isChecked());
        QVERIFY(window.lvCompletedJobs->isHidden());
        QVERIFY(window.Splitter3->isHidden());
        QCOMPARE(window.lvProcessJobs->height(), ListArea(window));

        // Both lists shown again: the process list gets its saved height back.
        window.Panel1->resize(window.Panel1->width(), 248);
        window.SavedProcessJobsHeight = 70;
        window.AViewCompletedJobs->trigger();
        QVERIFY(!window.lvCompletedJobs->isHidden());
        QCOMPARE(window.lvProcessJobs->height(), 70);
    }

    void splitterRules() {
        TJobRows rows;
        TfMain window(rows);
        window.RealignAll();
        const int area = ListArea(window);

        // Splitter1: below 42 refused; a log left too low is hidden.
        int size = 41;
        QVERIFY(!window.Splitter1CanResize(size));
        size = 42;
        QVERIFY(window.Splitter1CanResize(size));
        QVERIFY(window.AViewLog->isChecked());
        QVERIFY(window.Splitter1->ProposeSize(200));
        QCOMPARE(window.Panel1->height(), 200);
        size = window.frameGeometry().height() - window.TB_Main->height() - 60;
        QVERIFY(window.Splitter1CanResize(size));
        QVERIFY(!window.AViewLog->isChecked());
        QVERIFY(window.Log->isHidden());
        window.AViewLog->trigger();
        QVERIFY(!window.Log->isHidden());

        // Splitter3: too low hides the process list, too near the bottom the passed list.
        window.Panel1->resize(window.Panel1->width(), 248);
        window.RealignAll();
        QVERIFY(window.Splitter3->ProposeSize(20));
        QVERIFY(!window.AViewProcessJobs->isChecked());
        QVERIFY(window.lvProcessJobs->isHidden());
        QVERIFY(window.Splitter3->isHidden());
        window.AViewProcessJobs->trigger();
        QVERIFY(window.lvProcessJobs->height() >= 31);
        QVERIFY(window.Splitter3->ProposeSize(ListArea(window) - 20));
        QVERIFY(!window.AViewCompletedJobs->isChecked());
        QVERIFY(window.lvCompletedJobs->isHidden());
        window.AViewCompletedJobs->trigger();

        // A drag that ends records the process list's height.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.lvProcessJobs->resize(window.lvProcessJobs->width(), 80);
        window.RealignAll();
        QTest::mousePress(window.Splitter3, Qt::LeftButton, {}, QPoint(10, 1));
        QTest::mouseMove(window.Splitter3, QPoint(10, 31));
        QTest::mouseRelease(window.Splitter3, Qt::LeftButton, {}, QPoint(10, 31));
        QCOMPARE(window.lvProcessJobs->height(), 110);
        QCOMPARE(window.SavedProcessJobsHeight, 110);
        QCOMPARE(ListArea(window), area);

        // Splitter2: the preview splitter shows only with the panel and a list beside it.
        window.AViewPreview->setChecked(true);
        window.TunePreviewView();
        QVERIFY(!window.pPreview->isHidden());
        QVERIFY(!window.Splitter2->isHidden());
        window.AViewProcessJobs->setChecked(false);
        window.AViewCompletedJobs->setChecked(false);
        window.TuneJobsView();
        QVERIFY(window.Splitter2->isHidden());
        window.AViewProcessJobs->setChecked(true);
        window.TuneJobsView();
        QVERIFY(!window.Splitter2->isHidden());
        QVERIFY(window.Splitter2->ProposeSize(32));
        QVERIFY(!window.AViewPreview->isChecked());
        QVERIFY(window.pPreview->isHidden());
        QVERIFY(window.Splitter2->isHidden());
    }

    void logEmptiesAtTheLimit() {
        TJobRows rows;
        TfMain window(rows);
        for (int i = 1; i < 3500; ++i)
            window.LogWriteLine("line " + std::to_string(i));
        QCOMPARE(window.LogLineCount(), 3499);
        QVERIFY(window.Log->toPlainText().endsWith(QStringLiteral("line 3499")));
        window.LogWriteLine("line 3500");
        QCOMPARE(window.LogLineCount(), 0);
        window.LogWriteLine("next");
        QCOMPARE(window.Log->toPlainText(), QStringLiteral("next"));
    }

    void enablingRulesOfThePassedList() {
        TJobRows rows;
        TfMain window(rows);
        window.CompletedJobs().Add(JobRow("11", "101", "rstbnd"));
        window.CompletedJobs().Add(JobRow("12", "102", "TIFF"));
        const QList<QAction*> eight = {window.ADelete, window.AReprocess,  window.ASendToDevice,
                                       window.ASaveAs, window.AChangeName, window.AJobMerge,
                                       window.ACompos, window.AGenPreview};
        window.AAbort->setEnabled(true);
        window.lvCompletedJobs->SelectRow(0);
        for (QAction* action : eight)
            QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));
        for (QAction* action : {window.AAbort, window.AUnHold, window.AHold, window.APriority})
            QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));
        QVERIFY(window.ASelectAll->isEnabled());
        QVERIFY(window.CompletedListActive);
        // The preview commands are enabled but never shown, and the preview stays hidden.
        QVERIFY(!window.ActionVisible(window.ACompos));
        QVERIFY(window.pPreview->isHidden());
        QCOMPARE(window.pPageSize->text(), QStringLiteral("Preview not found"));

        window.lvCompletedJobs->clearSelection();
        window.lvCompletedJobs->SelectRow(1);
        QVERIFY(window.ADelete->isEnabled());
        QVERIFY(!window.ACompos->isEnabled());
        QVERIFY(!window.AGenPreview->isEnabled());

        window.lvCompletedJobs->clearSelection();
        for (QAction* action : eight)
            QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));

        // While select-all runs, selection events change nothing.
        window.SelectionEventsSuppressed = true;
        window.lvCompletedJobs->SelectRow(0);
        QVERIFY(!window.ADelete->isEnabled());
        window.SelectionEventsSuppressed = false;

        window.lvCompletedJobsExit();
        QVERIFY(!window.CompletedListActive);
        QVERIFY(!window.ASelectAll->isEnabled());
        QVERIFY(!window.ASaveAs->isEnabled());
    }

    void enablingRulesOfTheProcessList() {
        TJobRows rows;
        TfMain window(rows);
        window.ProcessJobs().Add(JobRow("21", "201", "RST"));
        window.ADelete->setEnabled(true);
        window.AHold->setEnabled(true);
        window.lvProcessJobs->SelectRow(0);
        // Without a module only abort and priority apply.
        QVERIFY(window.AAbort->isEnabled());
        QVERIFY(window.APriority->isEnabled());
        QVERIFY(window.ProcessListActive);
        for (QAction* action : {window.ADelete, window.AReprocess, window.ASendToDevice,
                                window.ASaveAs, window.AUnHold, window.AHold, window.AChangeName,
                                window.ACompos, window.AGenPreview, window.AJobMerge})
            QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));
        window.lvProcessJobs->clearSelection();
        QVERIFY(!window.AAbort->isEnabled());
        QVERIFY(!window.APriority->isEnabled());
        window.lvProcessJobsExit();
        QVERIFY(!window.ProcessListActive);
        QVERIFY(!window.ASelectAll->isEnabled());
    }

    void processRuleReadsTheJobState() {
        TListRow raster = JobRow("31", "301", "RST");
        TListRow plain = JobRow("32", "302", "PDF");
        const auto enabled = [](const TJobActionStates& states, TJobAction action) {
            return states.Get(action).value_or(false);
        };
        TJobActionStates waiting = ProcessJobsEnterRule(&raster, true, {true, 1, false});
        QVERIFY(enabled(waiting, TJobAction::Hold));
        QVERIFY(!enabled(waiting, TJobAction::UnHold));
        QVERIFY(enabled(waiting, TJobAction::ChangeName));
        QVERIFY(enabled(waiting, TJobAction::JobMerge));
        QVERIFY(enabled(waiting, TJobAction::Compos));
        QVERIFY(!enabled(waiting, TJobAction::Delete));

        TJobActionStates held = ProcessJobsEnterRule(&plain, true, {true, 1, true});
        QVERIFY(enabled(held, TJobAction::UnHold));
        QVERIFY(!enabled(held, TJobAction::Hold));
        QVERIFY(!enabled(held, TJobAction::Compos));
        QVERIFY(!enabled(held, TJobAction::GenPreview));

        // A job still reading, or no job found, leaves the waiting-job actions off.
        for (const TRowJob& job : {TRowJob{true, 0, false}, TRowJob{true, 2, true}, TRowJob{}}) {
            TJobActionStates states = ProcessJobsEnterRule(&raster, true, job);
            QVERIFY(enabled(states, TJobAction::Abort));
            for (TJobAction action : {TJobAction::Hold, TJobAction::UnHold, TJobAction::ChangeName,
                                      TJobAction::JobMerge})
                QVERIFY(!enabled(states, action));
        }
        QVERIFY(!enabled(ProcessJobsEnterRule(&raster, false, {true, 1, false}), TJobAction::Hold));
        TJobActionStates none = ProcessJobsEnterRule(nullptr, true, {true, 1, false});
        QVERIFY(!enabled(none, TJobAction::Abort));
        QVERIFY(!enabled(none, TJobAction::Hold));
        // Exit rules name only their actions.
        QVERIFY(!ProcessJobsExitRule().Get(TJobAction::Abort).has_value());
        QVERIFY(!CompletedJobsExitRule().Get(TJobAction::Delete).has_value());
        QVERIFY(!JobOfRow({}, &raster).Found);
    }

    void trayMenuStopsTheTimerWhileItIsOpen() {
        TJobRows rows;
        TfMain window(rows);
        TModuleLoop loop;
        window.SetEventLoop(&loop);
        window.StartMessage();
        QVERIFY(window.isHidden());
        int ticks = 0;
        connect(&loop.ProcessingTimer(), &QTimer::timeout, this, [&ticks] { ++ticks; });
        loop.ProcessingTimer().setInterval(5);
        loop.ProcessingTimer().start();
        bool activeInside = true;
        int ticksInside = -1;
        window.OnTrayMenuShown = [&](QMenu* menu) {
            activeInside = loop.ProcessingTimer().isActive();
            // Ticks would be due many times over while the menu is open.
            QTest::qWait(60);
            ticksInside = ticks;
            menu->close();
        };
        ticks = 0;
        window.TrayActivated(QSystemTrayIcon::Context);
        QVERIFY(!activeInside);
        QCOMPARE(ticksInside, 0);
        QVERIFY(loop.ProcessingTimer().isActive());
        QTRY_VERIFY(ticks > 0);

        window.TrayActivated(QSystemTrayIcon::DoubleClick);
        QVERIFY(window.isVisible());
    }

    void anOperatorActionBringsTheNextTickAtOnceButNotInsideTheTrayMenu() {
        TTestFolder folder;
        TScopedVariable xdg("XDG_DATA_HOME", folder.Path(QStringLiteral("xdg")).toLocal8Bit());
        TJobRows rows;
        TfMain window(rows);
        TModuleLoop loop;
        window.StartMessage();
        // The timer alone would not tick during this test.
        loop.ProcessingTimer().setInterval(3600 * 1000);
        loop.ProcessingTimer().start();
        TModuleProcess process;
        process.ProgramFolder = folder.StdPath(QStringLiteral("prog")) + "/";
        process.GoEventName = "/raduvuz-console-test-no-event";
        process.FreeSpaceKb = [](const std::string&) { return int64_t{10000000}; };
        auto server = std::make_shared<TInProcessObject>();
        for (const char* method : {"ChangeStatus", "WriteLog", "ShowLabel"})
            server->Define(method, [](const std::vector<TVariant>&) { return TCallResult{}; });
        server->Define("GetValue", [](const std::vector<TVariant>&) {
            return TCallResult{std::string(), {}};
        });
        auto store = std::make_shared<TInProcessObject>();
        int searches = 0;
        store->Define("IsMainComputer", [](const std::vector<TVariant>&) {
            return TCallResult{true, {}};
        });
        store->Define("RNextFindDoc", [&searches](const std::vector<TVariant>&) {
            ++searches;
            return TCallResult{int32_t(-1), {}};
        });
        process.StoreObject = TStoreClient(store);
        TModuleControl module(process, loop, &window);
        loop.SetModule(&module);
        window.SetModule(&module);
        module.Init(3, "Queue", server);
        module.Resume();
        QTest::qWait(20);
        QCOMPARE(searches, 0);

        window.AViewLog->trigger();
        QTRY_COMPARE(searches, 1);

        // Inside the tray menu no tick runs; the one asked for comes once the menu is gone.
        int searchesInside = -1;
        window.OnTrayMenuShown = [&](QMenu* menu) {
            store->Emit("MemoryFreed", {});
            QTest::qWait(60);
            searchesInside = searches;
            menu->close();
        };
        window.TrayActivated(QSystemTrayIcon::Context);
        QCOMPARE(searchesInside, 1);
        QTRY_COMPARE(searches, 2);

        // After Close news brings no tick, and the stopped timer stays stopped.
        module.Close();
        window.AViewLog->trigger();
        QTest::qWait(60);
        QCOMPARE(searches, 2);
        QVERIFY(!loop.ProcessingTimer().isActive());
        window.SetModule(nullptr);
    }

    void escapeAndCloseHideTheWindow() {
        TJobRows rows;
        TfMain window(rows);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(TfMain::ImageIndex(window.AHide), 0);
        window.FormKeyDown(Qt::Key_Escape);
        QVERIFY(window.isHidden());
        QCOMPARE(TfMain::ImageIndex(window.AHide), 1);
        window.AHide->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(TfMain::ImageIndex(window.AHide), 0);
        // The desktop's close request only hides the window.
        window.close();
        QVERIFY(window.isHidden());
    }

    void debugActionHoldsTheRedirectKey() {
        TJobRows rows;
        TfMain window(rows);
        window.CompletedJobs().Add(JobRow("41", "401", "RST"));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.lvCompletedJobs->setFocus();
        window.lvCompletedJobs->SelectRow(0);
        QVERIFY(window.ASendToDevice->isEnabled());
        QVERIFY(window.ACompos->isEnabled());
        QSignalSpy debug(window.ADebug, &QAction::triggered);
        QSignalSpy redirect(window.ASendToDevice, &QAction::triggered);
        QSignalSpy compose(window.ACompos, &QAction::triggered);
        QSignalSpy preview(window.AViewPreview, &QAction::triggered);
        QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(debug.count(), 1);
        QCOMPARE(redirect.count(), 0);
        QCOMPARE(window.ASendToDevice->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D));
        // The hidden composed preview still has its key, and changes nothing.
        QTest::keyClick(&window, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(compose.count(), 1);
        QVERIFY(window.pPreview->isHidden());
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(preview.count(), 0);
        QVERIFY(window.pPreview->isHidden());
    }

    void startMessageAndCaption() {
        TJobRows rows;
        TfMain window(rows);
        window.show();
        window.SetCaption(std::string(80, 'q'));
        window.StartMessage();
        QVERIFY(window.isHidden());
        QCOMPARE(window.TrayTip().size(), 63);
        QCOMPARE(window.windowTitle().size(), 80);
        window.SetPauseAction("&Stop", "Stop", 2);
        QCOMPARE(window.PauseImage(), 2);
        QCOMPARE(window.APause->toolTip(), QStringLiteral("Stop"));
        // Toolbar toggle and the view menu's check follow the toolbar.
        window.show();
        QVERIFY(!window.TB_Main->isHidden());
        window.AViewToolBar->trigger();
        QVERIFY(window.TB_Main->isHidden());
    }

    void aMovingJobShowsItsProgressAndTheCountsFollowTheLists() {
        TJobRows jobRows;
        TfMain window(jobRows);
        window.SetCaption("Queue");
        window.StartMessage();
        TJobListModel& process = window.ProcessJobs();
        TListRow moving = JobRow("1", "10", "RST");
        moving.SubItems[siSize] = "Transfering";
        moving.ImageIndex = 1;
        moving.Bytes = 1000;
        moving.Done = 250;
        TListRow* movingRow = process.Add(std::move(moving));
        TListRow held = JobRow("2", "20", "RST");
        held.ImageIndex = 0;
        held.Bytes = 1000;
        process.Add(std::move(held));
        TListRow unknown = JobRow("3", "30", "RST");
        unknown.ImageIndex = 2;
        process.Add(std::move(unknown));
        window.CompletedJobs().Add(JobRow("4", "40", "RST"));

        // The Size cell keeps its text; a bar shows the part moved where the size is known.
        const QAbstractItemModel* rows = window.lvProcessJobs->model();
        const QModelIndex cell = rows->index(0, TJobTableModel::kSizeColumn);
        QCOMPARE(cell.data(Qt::DisplayRole).toString(), QStringLiteral("Transfering"));
        QCOMPARE(cell.data(TJobTableModel::kProgressRole).toDouble(), 0.25);
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), QStringLiteral("25% (250 / 1000)"));
        QVERIFY(!rows->index(1, TJobTableModel::kSizeColumn)
                     .data(TJobTableModel::kProgressRole)
                     .isValid());
        QVERIFY(!rows->index(2, TJobTableModel::kSizeColumn)
                     .data(TJobTableModel::kProgressRole)
                     .isValid());
        QVERIFY(!rows->index(0, 1).data(TJobTableModel::kProgressRole).isValid());
        process.SetProgress(movingRow, 750, 1000);
        QCOMPARE(cell.data(TJobTableModel::kProgressRole).toDouble(), 0.75);
        window.resize(800, 500);
        QVERIFY(!window.lvProcessJobs->grab().isNull());

        // The counts come a moment after the changes, in the status bar and below the tip's
        // description.
        const QString counts = QStringLiteral("3 in process, 1 held, 1 passed");
        QTRY_COMPARE(window.lJobCounts->text(), counts);
        QCOMPARE(window.TrayTip(), QStringLiteral("Queue\n") + counts);
        process.Delete(movingRow);
        QTRY_COMPARE(window.lJobCounts->text(), QStringLiteral("2 in process, 1 held, 1 passed"));
        window.SetTrayTip(std::string(70, 'd'));
        QCOMPARE(window.TrayTip().size(), 63);
        QVERIFY(window.TrayTip().endsWith(QStringLiteral("\n2 in process, 1 held, 1 passed")));
        QVERIFY(window.TrayTip().startsWith(QString(31, QLatin1Char('d'))));
    }
};

int RunMainWindowTests(int argc, char** argv) {
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace raduvuz::test

#include "MainWindowTest.moc"
