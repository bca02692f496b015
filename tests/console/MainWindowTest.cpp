#include "console/LiveConsole.h"

#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TManualViewer.h"
#include "console/TSplitterBar.h"
#include "console/TfDevices.h"
#include "console/TfMain.h"
#include "control/JobActionRules.h"
#include "control/TJobActions.h"
#include "control/TModuleControl.h"
#include "jobs/TDoc.h"
#include "platform/TCompoundFile.h"
#include "support/ModuleInside.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QToolBar>
#include <QtTest>

#include <map>
#include <set>
#include <tuple>

namespace raduvuz::test {

namespace {

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
            TBareWindow window;
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
        QVERIFY(saved.find(";PCol10=1;PCol11=") != std::string::npos);
        QVERIFY(saved.find(";CCol3=44;") != std::string::npos);

        TCompoundFile check;
        QVERIFY(check.OpenRead(file));
        QCOMPARE(*check.ReadCountedText("Queue"), std::string("StoreDir=\"/srv/q\";KeepTime=5"));
        check.Close();

        TBareWindow restored;
        LoadConfigFile(restored, file);
        // The layout text is read off the widgets: the same text means the same layout.
        QCOMPARE(restored.LayoutText(), saved);
        QCOMPARE(restored.SavedProcessJobsHeight, processHeight);
        QVERIFY(restored.lvCompletedJobs->isHidden());

        // A stream with values left out: the log and the preview views follow what it says.
        const struct {
            const char* Text;
            int Top;
            bool Log;
            bool Preview;
        } views[] = {
            {"Top=10;LogView=0", 10, false, false},
            {"Top=20", 20, true, false},
            {"PreviewView=1;PreviewWidth=150;ProcessJobs=1;CompletedJobs=1", 0, true, true},
            {"PreviewView=0", 0, true, false},
        };
        for (const auto& view : views) {
            WriteConfig(file, view.Text);
            LoadConfigFile(restored, file);
            QVERIFY2(restored.AViewLog->isChecked() == view.Log, view.Text);
            QVERIFY2(restored.Log->isHidden() != view.Log, view.Text);
            QVERIFY2(restored.Splitter1->isHidden() != view.Log, view.Text);
            QVERIFY2(restored.AViewPreview->isChecked() == view.Preview, view.Text);
            QVERIFY2(restored.pPreview->isHidden() != view.Preview, view.Text);
            QVERIFY2(restored.Splitter2->isHidden() != view.Preview, view.Text);
            if (view.Top)
                QCOMPARE(restored.geometry().top(), view.Top);
            // Without the log the list area fills the window below the toolbar.
            if (!view.Log)
                QCOMPARE(restored.Panel1->height(), restored.centralWidget()->height());
            if (view.Preview)
                QCOMPARE(restored.pPreview->width(), 150);
        }

        // A file without the stream changes nothing: the preview shown stays.
        restored.AViewPreview->trigger();
        TCompoundFile empty;
        QVERIFY(empty.Create(folder.StdPath("empty.set")));
        restored.LoadConfig(empty);
        QVERIFY(restored.AViewPreview->isChecked());
    }

    void tuneJobsViewRepairsTheListHeights() {
        TBareWindow window;
        window.RealignAll();
        const int area = ListArea(window);
        QVERIFY(area >= 64);

        const struct {
            int Saved;
            int Height;
            int Expected;
            int SavedAfter;
            const char* Why;
        } cases[] = {
            {96, 10, 96, 96, "a list below 31 high takes the saved height when that still fits"},
            {96, 50, 50, 96, "a layout that stands is kept"},
            {20, 5, area / 2, area / 2, "a saved height that no longer fits gives half the area"},
            {96, area + 40, 96, 96, "lists taller than the area together"},
        };
        for (const auto& tune : cases) {
            window.SavedProcessJobsHeight = tune.Saved;
            window.lvProcessJobs->resize(window.lvProcessJobs->width(), tune.Height);
            window.TuneJobsView();
            QVERIFY2(window.lvProcessJobs->height() == tune.Expected, tune.Why);
            QVERIFY2(window.lvCompletedJobs->height() == area - tune.Expected - 3, tune.Why);
            QVERIFY2(window.SavedProcessJobsHeight == tune.SavedAfter, tune.Why);
        }

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
        TBareWindow window;
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
        TBareWindow window;
        for (int i = 1; i < 3500; ++i)
            window.LogWriteLine("line " + std::to_string(i));
        QCOMPARE(window.LogLineCount(), 3499);
        QVERIFY(window.LogPane()->toPlainText().endsWith(QStringLiteral("line 3499")));
        window.LogWriteLine("line 3500");
        QCOMPARE(window.LogLineCount(), 0);
        window.LogWriteLine("next");
        QCOMPARE(window.LogPane()->toPlainText(), QStringLiteral("next"));

        // Lines held back together: the one that reaches the limit empties the pane.
        for (int i = 2; i <= 3500; ++i)
            window.LogWriteLine("line " + std::to_string(i));
        window.LogWriteLine("after the limit");
        QCOMPARE(window.LogPane()->toPlainText(), QStringLiteral("after the limit"));

        // Lines nobody asks for reach the pane by themselves, together and soon.
        window.LogWriteLine("first");
        window.LogWriteLine("second");
        QCOMPARE(window.Log->document()->blockCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(window.Log->toPlainText(),
                                  QStringLiteral("after the limit\nfirst\nsecond"), 1000);
    }

    // The actions follow the selection of the list that has it; leaving a list turns its own off.
    void enablingRulesFollowTheSelectionOfEitherList() {
        TBareWindow window;
        window.CompletedJobs().Add(JobRow("11", "101", "rstbnd"));
        window.CompletedJobs().Add(JobRow("12", "102", "TIFF"));
        window.ProcessJobs().Add(JobRow("21", "201", "RST"));
        const QList<QAction*> passed = {window.ADelete, window.AReprocess,  window.ASendToDevice,
                                        window.ASaveAs, window.AChangeName, window.AJobMerge,
                                        window.ACompos, window.AGenPreview};
        const QList<QAction*> process = {window.AAbort, window.APriority};
        const QList<QAction*> held = {window.AHold, window.AUnHold};
        const auto expect = [](const QList<QAction*>& actions, bool enabled) {
            for (QAction* action : actions)
                QVERIFY2(action->isEnabled() == enabled, qPrintable(action->objectName()));
        };
        window.AAbort->setEnabled(true);
        window.lvCompletedJobs->SelectRow(0);
        expect(passed, true);
        expect(process + held, false);
        QVERIFY(window.ASelectAll->isEnabled());
        QVERIFY(window.CompletedListActive);
        // The preview commands are enabled but never shown, and the preview stays hidden.
        QVERIFY(!window.ActionVisible(window.ACompos));
        QVERIFY(window.pPreview->isHidden());
        QCOMPARE(window.pPageSize->text(), QStringLiteral("Preview not found"));

        window.lvCompletedJobs->clearSelection();
        window.lvCompletedJobs->SelectRow(1);
        QVERIFY(window.ADelete->isEnabled());
        expect({window.ACompos, window.AGenPreview}, false);
        window.lvCompletedJobs->clearSelection();
        expect(passed, false);

        // While select-all runs, selection events change nothing.
        window.SelectionEventsSuppressed = true;
        window.lvCompletedJobs->SelectRow(0);
        QVERIFY(!window.ADelete->isEnabled());
        window.SelectionEventsSuppressed = false;
        window.lvCompletedJobsExit();
        QVERIFY(!window.CompletedListActive);
        expect({window.ASelectAll, window.ASaveAs}, false);

        // Without a module only abort and priority apply to a job in process.
        window.ADelete->setEnabled(true);
        window.AHold->setEnabled(true);
        window.lvProcessJobs->SelectRow(0);
        QVERIFY(window.ProcessListActive);
        expect(process, true);
        expect(passed + held, false);
        window.lvProcessJobs->clearSelection();
        expect(process, false);
        window.lvProcessJobsExit();
        QVERIFY(!window.ProcessListActive);
        QVERIFY(!window.ASelectAll->isEnabled());
    }

    // The process list's rule reads the job behind the row: the waiting-job actions only for a
    // waiting job of a module, the preview ones only for a raster job.
    void processRuleReadsTheJobState() {
        TListRow raster = JobRow("31", "301", "RST");
        TListRow plain = JobRow("32", "302", "PDF");
        const std::pair<TJobAction, const char*> names[] = {
            {TJobAction::Abort, "abort"},       {TJobAction::Priority, "priority"},
            {TJobAction::Hold, "hold"},         {TJobAction::UnHold, "release"},
            {TJobAction::ChangeName, "rename"}, {TJobAction::JobMerge, "merge"},
            {TJobAction::Compos, "compose"},    {TJobAction::GenPreview, "preview"},
            {TJobAction::Delete, "delete"}};
        const struct {
            const TListRow* Row;
            bool Module;
            TRowJob Job;
            const char* Enabled;
        } cases[] = {
            {&raster,
             true,
             {true, TJobState::Waiting, false},
             "abort priority hold rename merge compose preview"},
            {&plain, true, {true, TJobState::Waiting, true}, "abort priority release rename merge"},
            {&raster, true, {}, "abort priority"},
            {&raster, false, {true, TJobState::Waiting, false}, "abort priority"},
            {nullptr, true, {true, TJobState::Waiting, false}, ""},
        };
        for (const auto& row : cases) {
            const TJobActionStates states = ProcessJobsEnterRule(row.Row, row.Module, row.Job);
            std::string enabled;
            for (const auto& [action, name] : names)
                if (states.Get(action).value_or(false))
                    enabled += (enabled.empty() ? "" : " ") + std::string(name);
            QVERIFY2(enabled == row.Enabled,
                     qPrintable(QString::number(&row - cases) + ": " + enabled.c_str()));
        }
    }

    // A desktop without a tray, where Hide minimises, is tried on a display (test_console_no_tray);
    // off-screen there is no desktop at all, and the window stays hidden.
    void offScreenTheWindowHidesAndATrayClickShowsIt() {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        TBareWindow window;
        window.StartMessage();
        QVERIFY(!window.TrayIconAdded());
        QVERIFY(window.isHidden());
        QVERIFY(window.LogPane()->toPlainText().isEmpty());
        // A click on the icon (what a notifier item's Activate gives) shows and raises it, and
        // so does a double click; so does Show, the menu's first item.
        for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
            window.hide();
            window.TrayActivated(reason);
            QVERIFY(window.isVisible());
            QVERIFY(!window.isMinimized());
        }
        window.hide();
        window.TrayActivated(QSystemTrayIcon::MiddleClick);
        QVERIFY(window.isHidden());
        window.AShow->trigger();
        QVERIFY(window.isVisible());
    }

    void anOperatorActionBringsTheNextTickAtOnceAlsoWhileAMenuOrDialogIsOpen() {
        TLiveConsole console;
        TfMain& window = console.Window;
        window.StartMessage();
        // A store on this computer that never has a document; its first search, in the first
        // tick, asks for work that would open a dialog.
        int searches = 0;
        bool inTick = false;
        bool ranInside = false;
        bool ran = false;
        auto store = std::make_shared<TInProcessObject>();
        store->Define("IsMainComputer", [](const std::vector<TVariant>&) {
            return TCallResult{true, {}};
        });
        store->Define("RNextFindDoc", [&](const std::vector<TVariant>&) {
            if (++searches == 1) {
                inTick = window.InTick();
                window.OutsideTick([&ran] { ran = true; });
                ranInside = ran;
            }
            return TCallResult{int32_t(-1), {}};
        });
        console.Process.StoreObject = TStoreClient(store);
        // Only the news and the test's own calls bring a tick, never the RIP or a low disk.
        console.Process.GoEventName = "/raduvuz-console-test-no-event";
        console.Process.FreeSpaceKb = [](const std::string&) { return int64_t{10000000}; };
        console.Loop.ProcessingTimer().setInterval(3600 * 1000);
        console.Loop.ProcessingTimer().start();
        console.Init();
        console.Module.Resume();
        QTest::qWait(20);
        QCOMPARE(searches, 0);

        window.AViewLog->trigger();
        QTRY_COMPARE(searches, 1);
        // That work waits until the tick has ended; outside a tick it runs at once.
        QTRY_VERIFY(ran);
        QVERIFY(inTick);
        QVERIFY(!ranInside);
        bool now = false;
        window.OutsideTick([&now] { now = true; });
        QVERIFY(now);

        // With the tray menu open, news brings its tick at once.
        window.PopupMenu->popup(QPoint(10, 10));
        QVERIFY(window.PopupMenu->isVisible());
        store->Emit("MemoryFreed", {});
        QTRY_COMPARE(searches, 2);
        window.PopupMenu->close();

        // And inside a modal dialog of the console, too.
        int searchesInside = -1;
        QTimer::singleShot(0, &window, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            store->Emit("MemoryFreed", {});
            QTRY_COMPARE(searches, 3);
            searchesInside = searches;
            if (dialog)
                dialog->close();
        });
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Question"), QStringLiteral("?"),
                        QMessageBox::Ok, &window);
        box.exec();
        QCOMPARE(searchesInside, 3);

        // After Close news brings no tick, and the stopped timer stays stopped.
        console.Module.Close();
        window.AViewLog->trigger();
        QTest::qWait(60);
        QCOMPARE(searches, 3);
        QVERIFY(!console.Loop.ProcessingTimer().isActive());
    }

    void debugActionHoldsTheRedirectKey() {
        TBareWindow window;
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
        // The menus show only keys that work: the redirect shows none.
        QVERIFY(window.ASendToDevice->shortcut().isEmpty());
        QVERIFY(window.Redirect1->shortcut().isEmpty());
        // Every key a menu or the toolbar shows belongs to that action alone.
        std::map<QString, QStringList> owners;
        for (QAction* action : window.actions()) {
            if (!action->shortcut().isEmpty())
                owners[action->shortcut().toString()] << action->objectName();
        }
        QList<QMenu*> menus = window.menuBar()->findChildren<QMenu*>();
        menus << window.pmJobs << window.PopupMenu;
        for (QMenu* menu : menus) {
            for (QAction* action : menu->actions()) {
                const QString key = action->shortcut().toString();
                if (!key.isEmpty())
                    QVERIFY2(owners[key].size() == 1,
                             qPrintable(key + ": " + owners[key].join(',')));
            }
        }
        // The hidden composed preview still has its key, and changes nothing.
        QTest::keyClick(&window, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(compose.count(), 1);
        // Ctrl+W shows the preview panel, which says why the job has none.
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(preview.count(), 1);
        QVERIFY(!window.pPreview->isHidden());
        QCOMPARE(window.pPageSize->text(),
                 QStringLiteral("The workflow gave the module no preview folder"));
    }

    void aMovingJobShowsItsProgressAndTheCountsFollowTheLists() {
        TBareWindow window;
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

        // The Size cell shows the job's data as soon as that is known; a bar over it shows the
        // part moved, only for a moving job and only in that column.
        const QAbstractItemModel* rows = window.lvProcessJobs->model();
        const QModelIndex cell = rows->index(0, TJobTableModel::kSizeColumn);
        QCOMPARE(cell.data(Qt::DisplayRole).toString(), QStringLiteral("1000"));
        QCOMPARE(cell.data(TJobTableModel::kProgressRole).toDouble(), 0.25);
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), QStringLiteral("25% (250 / 1000)"));
        for (const QModelIndex& other :
             {rows->index(1, TJobTableModel::kSizeColumn),
              rows->index(2, TJobTableModel::kSizeColumn), rows->index(0, 1)})
            QVERIFY(!other.data(TJobTableModel::kProgressRole).isValid());
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
        // A notifier item's title is the application's name: the module's description, whole.
        window.SetCaption(std::string(80, 'q'));
        QCOMPARE(QCoreApplication::applicationName(), QString(80, QLatin1Char('q')));
        QCOMPARE(window.windowTitle().size(), 80);
        window.show();
        QVERIFY(!window.TB_Main->isHidden());
        window.AViewToolBar->trigger();
        QVERIFY(window.TB_Main->isHidden());
    }

    // Either list sorts by the column whose header is clicked, the other way round at the
    // second click, in its own order again at the third; the order and the columns shown come
    // back with the layout.
    void listsSortByAnyColumnAndKeepTheOrderAcrossRestarts() {
        const auto fill = [](TfMain& window) {
            for (const auto& [job, name, bytes] :
                 {std::tuple{"7", "poster", 500}, {"12", "Annual", 2048}, {"9", "menu", 100}}) {
                TListRow row = JobRow(job, std::string(job) + "0", "RST");
                row.SubItems[siName] = name;
                row.Bytes = bytes;
                window.CompletedJobs().Add(std::move(row));
            }
        };
        const auto order = [](const TfMain& window) {
            std::string text;
            for (const TListRow* row : window.lvCompletedJobs->ShownRows())
                text += (text.empty() ? "" : " ") + row->Caption;
            return text;
        };
        TBareWindow window;
        fill(window);
        window.resize(900, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QHeaderView* header = window.lvCompletedJobs->header();
        const auto click = [header](int column) {
            QTest::mouseClick(
                header->viewport(), Qt::LeftButton, {},
                QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                       header->height() / 2));
        };
        QCOMPARE(order(window), std::string("7 12 9"));
        // Job numbers as numbers, names in any case, sizes by their bytes.
        const int size = TJobTableModel::kSizeColumn;
        const std::pair<int, const char*> clicks[] = {{0, "7 9 12"},    {0, "12 9 7"},
                                                      {0, "7 12 9"},    {2, "12 9 7"},
                                                      {size, "9 7 12"}, {size, "12 7 9"}};
        for (const auto& [column, expected] : clicks) {
            click(column);
            QCOMPARE(order(window), std::string(expected));
        }

        // The id comes first; state and priority show for jobs in process, and the View menu
        // shows or hides them for either list.
        QCOMPARE(header->logicalIndex(0), TJobTableModel::kIdColumn);
        QVERIFY(!window.lvProcessJobs->isColumnHidden(TJobTableModel::kStateColumn));
        QVERIFY(!window.lvProcessJobs->isColumnHidden(TJobTableModel::kPriorityColumn));
        QVERIFY(window.lvCompletedJobs->isColumnHidden(TJobTableModel::kStateColumn));
        QVERIFY(window.lvCompletedJobs->isColumnHidden(TJobTableModel::kPriorityColumn));
        window.AViewPassedPriority->trigger();
        window.AViewProcessState->trigger();
        QVERIFY(!window.lvCompletedJobs->isColumnHidden(TJobTableModel::kPriorityColumn));
        QVERIFY(window.lvProcessJobs->isColumnHidden(TJobTableModel::kStateColumn));
        QVERIFY(window.lvCompletedJobs->ColumnWidth(TJobTableModel::kPriorityColumn) >= 20);

        TBareWindow restored;
        fill(restored);
        restored.ApplyLayoutText(window.LayoutText());
        QCOMPARE(order(restored), std::string("12 7 9"));
        QCOMPARE(restored.lvCompletedJobs->SortColumn(), TJobTableModel::kSizeColumn);
        QCOMPARE(restored.lvCompletedJobs->SortOrder(), Qt::DescendingOrder);
        QCOMPARE(restored.lvProcessJobs->SortColumn(), -1);
        QVERIFY(!restored.lvCompletedJobs->isColumnHidden(TJobTableModel::kPriorityColumn));
        QVERIFY(restored.lvProcessJobs->isColumnHidden(TJobTableModel::kStateColumn));
        QVERIFY(restored.AViewPassedPriority->isChecked());
        QVERIFY(!restored.AViewProcessState->isChecked());
    }

    // Rows that move (a priority, a name, rows coming and going, the core sorting its list) take
    // their selection with them.
    void theSelectionFollowsItsJobsWhenRowsMove() {
        TBareWindow window;
        TJobListModel& process = window.ProcessJobs();
        std::vector<TListRow*> rows;
        for (int i = 0; i < 4; ++i) {
            TListRow row = JobRow(std::to_string(10 + i), std::to_string(100 + i), "RST");
            row.Priority = i;
            rows.push_back(process.Add(std::move(row)));
        }
        TJobListView& list = *window.lvProcessJobs;
        const auto selected = [&list] {
            const std::vector<TListRow*> rows = list.SelectedRows();
            return std::set<const TListRow*>(rows.begin(), rows.end());
        };
        list.SortBy(TJobTableModel::kPriorityColumn, Qt::DescendingOrder);
        list.SelectIds({rows[1]->Id, rows[3]->Id});
        const std::set<const TListRow*> chosen = {rows[1], rows[3]};
        QCOMPARE(selected(), chosen);

        rows[1]->Priority = 9;
        process.Refresh(rows[1]);
        QCOMPARE(list.ShownRows().front(), rows[1]);
        QCOMPARE(selected(), chosen);

        list.SortBy(2, Qt::AscendingOrder);
        process.SetSubItem(rows[3], siName, "A first");
        QCOMPARE(list.ShownRows().front(), rows[3]);
        QCOMPARE(selected(), chosen);

        process.Insert(0, JobRow("20", "200", "RST"));
        process.Delete(rows[0]);
        QCOMPARE(selected(), chosen);

        list.SortBy(-1, Qt::AscendingOrder);
        process.Sort([](const TListRow& a, const TListRow& b) { return a.Caption > b.Caption; });
        QCOMPARE(list.ShownRows().front()->Caption, std::string("20"));
        QCOMPARE(selected(), chosen);
    }

    // The splitter between the lists stands where it was left, and the log never comes back
    // too low to read.
    void theSplitterAndTheLogComeBackAsTheyWereLeft() {
        std::string layout;
        {
            TBareWindow window;
            window.setGeometry(50, 50, 800, 640);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.Panel1->resize(window.Panel1->width(), 420);
            window.RealignAll();
            window.lvProcessJobs->resize(window.lvProcessJobs->width(), 262);
            window.RealignAll();
            window.Splitter3Moved();
            layout = window.LayoutText();
        }
        QVERIFY(layout.find(";ProcessJobsHeight=262;") != std::string::npos);
        TBareWindow restored;
        restored.ApplyLayoutText(layout);
        restored.show();
        QVERIFY(QTest::qWaitForWindowExposed(&restored));
        QCOMPARE(restored.lvProcessJobs->height(), 262);

        // Lists saved taller than the window now has room for leave the log its room.
        const size_t at = layout.find("JobsHeight=420");
        QVERIFY(at != std::string::npos);
        std::string tall = layout;
        tall.replace(at, 14, "JobsHeight=2000");
        TBareWindow squeezed;
        squeezed.ApplyLayoutText(tall);
        squeezed.show();
        QVERIFY(QTest::qWaitForWindowExposed(&squeezed));
        QVERIFY(squeezed.AViewLog->isChecked());
        QVERIFY2(squeezed.Log->height() >= 68, qPrintable(QString::number(squeezed.Log->height())));
    }

    void thePreviewPanelShowsTheJobsPreviewOrSaysWhyThereIsNone() {
        TLiveConsole console;
        TfMain& window = console.Window;
        TTestFolder& folder = console.Folder;
        TModuleControl& module = console.Module;
        console.Init();
        Inside(module).PreviewDir = folder.StdPath(QStringLiteral("preview"));
        window.CompletedJobs().Add(JobRow("7", "70", "RST"));
        window.AViewPreview->trigger();
        QVERIFY(!window.pPreview->isHidden());
        QCOMPARE(window.pPageSize->text(), QStringLiteral("No job selected"));

        window.lvCompletedJobs->SelectRow(0);
        const QString jobFolder = folder.Path(QStringLiteral("preview/7"));
        QCOMPARE(window.pPageSize->text(),
                 QStringLiteral("No preview of job 7: there is no folder ") + jobFolder);
        QVERIFY(QDir().mkpath(jobFolder));
        folder.WriteFile(QStringLiteral("preview/7/notes.txt"), "no picture");
        window.ShowPreview(window.lvCompletedJobs->Selected());
        QCOMPARE(window.pPageSize->text(), QStringLiteral("No preview of job 7: ") + jobFolder +
                                               QStringLiteral(" holds no picture"));
        QImage page(40, 60, QImage::Format_RGB32);
        page.fill(Qt::red);
        QVERIFY(page.save(jobFolder + QStringLiteral("/page1.png")));
        window.ShowPreview(window.lvCompletedJobs->Selected());
        QCOMPARE(window.pPageSize->text(), QStringLiteral("page1.png"));
        QVERIFY(!window.iPreview->isHidden());
        QCOMPARE(window.iPreview->pixmap().toImage().pixelColor(2, 2), QColor(Qt::red));
        module.Close();
    }

    void theTrayIconShowsTheModulesState() {
        QCOMPARE(TBareWindow().TrayState(), TfMain::TTrayState::NoModule);
        TLiveConsole console;
        TfMain& window = console.Window;
        TModuleControl& module = console.Module;
        console.Init();
        QTRY_COMPARE(window.TrayState(), TfMain::TTrayState::Paused);
        const QImage paused = window.TrayIcon().pixmap(32, 32).toImage();
        module.Resume();
        QCOMPARE(window.TrayState(), TfMain::TTrayState::Running);
        const QImage running = window.TrayIcon().pixmap(32, 32).toImage();
        TDoc* held = Inside(module).Jobs.Add(
            TDoc::Create(module, true, 10, 1, "Name=H", TJobState::Waiting));
        held->SetHeld(true);
        held->AddToList(0);
        QTRY_COMPARE(window.TrayState(), TfMain::TTrayState::Held);
        const QImage holding = window.TrayIcon().pixmap(32, 32).toImage();

        // The State and Priority columns follow the jobs change by change, as a whole listing
        // says them.
        const auto cell = [&window](int row, int column) {
            return window.lvProcessJobs->model()->index(row, column).data().toString();
        };
        const auto factsAsListed = [&] {
            std::map<uint32_t, TJobRowView> views;
            for (const TJobRowView& view : TJobActions(module).List())
                views[view.Id] = view;
            const int count = window.lvProcessJobs->model()->rowCount();
            for (int row = 0; row < count; ++row) {
                const auto view = views.find(cell(row, TJobTableModel::kIdColumn).toUInt());
                if (view == views.end() || view->second.List != std::string("process") ||
                    cell(row, TJobTableModel::kStateColumn).toStdString() != view->second.State ||
                    cell(row, TJobTableModel::kPriorityColumn).toInt() != view->second.Priority)
                    return false;
            }
            return static_cast<size_t>(count) == views.size();
        };
        QTRY_VERIFY(factsAsListed());
        TDoc* second = Inside(module).Jobs.Add(
            TDoc::Create(module, true, 20, 2, "Name=S", TJobState::Waiting));
        second->SetHeld(true);
        second->AddToList(0);
        QTRY_VERIFY(factsAsListed());
        QCOMPARE(TJobActions(module).SetPriority({held->ListItem->Id}, 7).size(), size_t{1});
        QTRY_VERIFY(factsAsListed());
        QVERIFY(cell(0, TJobTableModel::kPriorityColumn) == QStringLiteral("7") ||
                cell(1, TJobTableModel::kPriorityColumn) == QStringLiteral("7"));
        QCOMPARE(TJobActions(module).Abort({second->ListItem->Id}).size(), size_t{1});
        QTRY_VERIFY(factsAsListed());
        // The badge's colour differs from state to state.
        QVERIFY(paused.pixelColor(24, 19) != running.pixelColor(24, 19));
        QVERIFY(running.pixelColor(24, 19) != holding.pixelColor(24, 19));
        QVERIFY(paused.pixelColor(24, 19) != holding.pixelColor(24, 19));
        module.Close();
    }

    // F1 and Help open the manual, from the main window and from a dialog alike: the installed
    // page for a program without a built one beside it (as this one); a built page reads as text
    // in the viewer.
    void f1OpensTheManual() {
        TBareWindow window;
        QList<QUrl> opened;
        TTWForm::HelpOpener() = [&opened](const QUrl& url) {
            opened << url;
            return true;
        };
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F1);
        window.AHelp->trigger();
        TfDevices devices;
        devices.show();
        devices.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&devices));
        QTest::keyClick(&devices, Qt::Key_F1);
        TTWForm::HelpOpener() = [](const QUrl&) { return false; };
        QCOMPARE(opened, QList<QUrl>(3, QUrl(QStringLiteral("man:raduvuz(1)"))));
        QString why;
        const QString page =
            TManualViewer::PageText(QUrl::fromLocalFile(QStringLiteral(RADUVUZ_MANUAL_PAGE)), why);
        QVERIFY2(page.contains(QStringLiteral("NAME")) && page.contains(QStringLiteral("raduvuz")),
                 qPrintable(why));
        QVERIFY(!page.contains(QLatin1Char('\b')));
        QVERIFY(TManualViewer::PageText(QUrl(QStringLiteral("man:no-such-page-here(1)")), why)
                    .isEmpty());
        QVERIFY(!why.isEmpty());
    }
};

const TConsoleTests<MainWindowTest> kMainWindowTests;

} // namespace raduvuz::test

#include "MainWindowTest.moc"
