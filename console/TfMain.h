#pragma once

// The console layer (Qt Widgets): the operator's main window and dialogs over the module. It
// may include control/ and every layer below; nothing of the core includes it.

#include "console/ConsoleDialogs.h"
#include "console/TTWForm.h"
#include "control/IEventLoop.h"
#include "control/IModuleView.h"
#include "control/JobActionRules.h"
#include "control/TJobActions.h"
#include "control/TJobRows.h"
#include "jobs/TJobListModel.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QToolBar;
class QToolButton;

namespace raduvuz {

class TAlignPanel;
class TConsoleForms;
class TfDevices;
class TfPriority;
class TJobListView;
class TJobTableModel;
class TModuleControl;
class TSplitterBar;

// The module's main window and operator console: created hidden behind a tray icon (shown,
// minimised, where the desktop has no tray); the toolbar, the two job lists (views of the rows
// the module owns), the preview panel and the log pane. It is the module's IModuleView; the event
// loop that drives the module is the program's, and the window hears from it when a tick has
// ended. Nothing here decides what happens to a job: the job actions call the module's job
// commands (TJobActions). Its code is split by concern: TfMain.cpp (construction, controls),
// _Actions (actions, menus, toolbar), _JobActions (what the job actions do), _Events (form, tray,
// operator work outside ticks), _Window (the view interface the module calls), _Layout (view
// toggles, splitters, preview), _Rules (enabling rules), _Persist (layout persistence), _Status
// (the counts of jobs in the status bar and the tray tip).
class TfMain : public QMainWindow, public TTWForm, public IModuleView {
    Q_OBJECT

public:
    // The window views rows (the module's), which outlive it.
    explicit TfMain(TJobRows& rows, QWidget* parent = nullptr);
    ~TfMain() override;

    // The module this window shows; the program sets it once both exist. The window hears from
    // the module's event loop when a tick has ended (null: it lets go of both).
    void SetModule(TModuleControl* module);
    // Who answers the job actions' questions; Qt's dialogs unless a test answers them.
    void SetDialogs(IConsoleDialogs* dialogs) { Dialogs = dialogs ? dialogs : &QtDialogs; }
    // The process's forms (TConsoleForms gives them while they exist); null: none.
    void SetForms(TConsoleForms* forms) { Forms = forms; }
    // The priority and device dialogs: the process's forms when they exist, else the window's.
    TfPriority& PriorityForm();
    TfDevices& DevicesForm();
    // The module while it is initialised and not closed, else none: the actions and the timer
    // do nothing without one.
    TModuleControl* ActiveModule() const;

    // The start call queued at process start: adds the tray icon and hides the window; without a
    // tray on the desktop the window stays, minimised, and the log says why (off-screen, where
    // there is no desktop, it hides).
    void StartMessage();
    // The tray icon's callback: a click (what a desktop's notifier item sends as Activate) or a
    // double click shows and raises the window. The menu is the icon's own context menu.
    void TrayActivated(QSystemTrayIcon::ActivationReason reason);
    // What the tray icon shows besides the program's picture.
    enum class TTrayState { NoModule, Running, Paused, Held };
    TTrayState TrayState() const { return ShownTrayState; }
    QIcon TrayIcon() const { return Tray.icon(); }
    // Where the desktop shows the icon; empty where it does not tell.
    QRect TrayGeometry() const { return Tray.geometry(); }

    // Runs work now, or as soon as the module's tick has ended when it comes from inside one (a
    // tick lets events in between its steps): a dialog opened there would hold every later tick
    // until it closed.
    void OutsideTick(std::function<void()> work);
    // The module is in the middle of a tick (or other work that lets events in).
    bool InTick() const;

    // IModuleView.
    void SetCaption(const std::string& text) override;
    void SetTrayTip(const std::string& text) override;
    void SetToolbarCaption(const std::string& text) override;
    void LogWriteLine(const std::string& line) override;
    void SetPauseAction(const std::string& caption, const std::string& hint, int image) override;
    void SetPauseHint(const std::string& hint) override;
    void SaveLayout() override { SaveConfig(); }
    void LoadLayout(TCompoundFile& storage) override { LoadConfig(storage); }
    void SetLayoutFile(const std::string& path) override { LayoutFile = path; }
    void ShowAndActivate() override;
    void Beep() override;
    void SetBusyCursor(bool busy) override;
    void ShowMessage(const std::string& text) override;
    // The rows the lists show.
    TJobListModel& ProcessJobs() { return Rows.Process(); }
    TJobListModel& CompletedJobs() { return Rows.Passed(); }

    // Layout persistence: the "Config" stream of the configuration file.
    void SaveConfig();
    void LoadConfig(TCompoundFile& storage);
    // The layout as the "Config" stream keeps it, and its application to the window.
    std::string LayoutText() const;
    void ApplyLayoutText(const std::string& text);

    void TuneJobsView();
    void TunePreviewView();
    void lvProcessJobsEnter();
    void lvProcessJobsExit();
    void lvCompletedJobsEnter();
    void lvCompletedJobsExit();
    void ClearPreview();
    // The preview panel (View > Preview Window): the first picture of the job's preview folder,
    // or why there is none.
    void ShowPreview(TListRow* row);
    void FormKeyDown(int key);

    // Job search: the dialog's criteria over the chosen list as it is shown, from the row after
    // the last one found (SearchPosition, -1 before the first); the row found is selected.
    void JobSearch();
    int SearchPosition = -1;

    // The spot colour map of the process's spot colour form: read when that form exists,
    // written back when it goes, if an entry was added or edited since.
    void LoadColorsCMYKmap();
    void SaveColorsCMYKmap();
    bool SpotMapModified = false;
    // Before the job lists' popup opens: the spot colour item's caption and whether it works.
    void pmJobsPopup();
    // The job list that has the focus (also while one of its menus is open), or none.
    TJobListView* FocusedList() const;

    // The splitters' rules on a proposed size, and what follows a move.
    bool Splitter1CanResize(int& newSize);
    bool Splitter2CanResize(int& newSize);
    bool Splitter3CanResize(int& newSize);
    void Splitter3Moved();

    // Places every control now, also while the window is hidden.
    void RealignAll();

    // The window's state beside its controls.
    int SavedProcessJobsHeight = 96;
    bool ProcessListActive = false;
    bool CompletedListActive = false;
    bool SelectionEventsSuppressed = false;

    // Image list index an action shows (-1 none), and whether an action is shown anywhere.
    static int ImageIndex(const QAction* action);
    bool ActionVisible(const QAction* action) const;
    QAction* ActionFor(TJobAction action) const;

    // The counts of jobs in process, held and passed, as the status bar shows them; the tray tip
    // shows them after the module description. Both follow the lists a moment after they change,
    // and so do the State and Priority columns and the tray icon.
    TJobCounts JobCounts() const;
    QString JobCountsText() const;
    void ShowJobCounts();
    // The state and priority of every row, from the module's own listing of its jobs: the rows
    // changed since the last refresh, every row after SetModule.
    void RefreshJobFacts();
    // The words of a job's state ("waiting", "held" ...) in the user's language.
    static QString StateText(const std::string& state);
    // "3 jobs: poster 22, 23, 24" or "job poster 22": rows by name and id, as confirmations
    // name what they act on.
    static QString JobsNamed(const std::vector<TListRow*>& rows);
    // The description first, cut so that the counts fit in the tip's 63 characters.
    static QString TrayTipText(const QString& description, const QString& counts);
    QLabel* lJobCounts;

    // What the tray shows and how the start/stop action looks (tests read them).
    QString TrayTip() const { return Tip; }
    bool TrayIconAdded() const { return TrayAdded; }
    int PauseImage() const { return ImageIndex(APause); }
    QAction* PauseAction() const { return APause; }
    // Both show the lines written so far, those still held back included.
    QPlainTextEdit* LogPane();
    int LogLineCount();

    // The action list, in declaration order.
    QAction* AExit;
    QAction* AHide;
    QAction* APause;
    QAction* AAbort;
    QAction* AOptions;
    QAction* ADelete;
    QAction* AViewLog;
    QAction* AViewToolBar;
    QAction* AAbout;
    QAction* ADebug;
    QAction* AReprocess;
    QAction* AViewProcessJobs;
    QAction* AViewCompletedJobs;
    QAction* AViewPreview;
    QAction* ASelectAll;
    QAction* ASaveAs;
    QAction* AChangeName;
    QAction* AUnHold;
    QAction* APriority;
    QAction* AHold;
    QAction* ASearch;
    QAction* ASearchAgain;
    QAction* ACompos;
    QAction* ASendToDevice;
    QAction* AAddSpotColor;
    QAction* AJobMerge;
    QAction* AGenPreview;
    QAction* ANegative;
    QAction* AHelp;
    // The tray menu's first item, and the columns the View menu shows or hides.
    QAction* AShow;
    QAction* AViewProcessState;
    QAction* AViewProcessPriority;
    QAction* AViewPassedState;
    QAction* AViewPassedPriority;

    // Controls.
    QToolBar* TB_Main;
    QToolButton* tbPos = nullptr;
    TAlignPanel* Panel1;
    TAlignPanel* pPreview;
    QWidget* pPreviewText;
    QLabel* pPageSize;
    QComboBox* cbPreview;
    QLabel* iPreview;
    TSplitterBar* Splitter2;
    TAlignPanel* Panel2;
    TJobListView* lvProcessJobs;
    TSplitterBar* Splitter3;
    TJobListView* lvCompletedJobs;
    TSplitterBar* Splitter1;
    QPlainTextEdit* Log;
    QMenu* PopupMenu;
    QMenu* pmJobs;
    QMenu* ppMerge;
    QMenu* pmGenPreview;
    QAction* miStopall;
    QAction* niSpotClr;
    QAction* Redirect1;
    QAction* NegativePreviewOnOff1;

protected:
    void TranslateOwnTexts(TLanguageTable& language) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateControls();
    void CreateMenus();
    void CreateToolBar();
    void FormCreate();
    void FormShow();
    void FormActivate();
    void FormDestroy();

    // An action with the texts of two window text numbers (0: none) as its caption and hint.
    QAction* NewAction(const char* name, int caption, int hint, const QKeySequence& shortcut,
                       int image);
    void SetImage(QAction* action, int image);
    void HideAction(QAction* action);
    void ApplyRule(const TJobActionStates& states);
    void SelectionChanged(TJobListView* list);
    // After a command: the actions follow the rows that are still selected.
    void RulesAfterCommand(TJobListView* list);
    // An action whose work runs outside a tick.
    void OnTriggered(QAction* action, std::function<void()> work);
    // After a tick of the module's event loop: the work that came during it, and the tray icon.
    void TickEnded();
    // The columns the View menu shows or hides, as its actions say.
    void ApplyColumnChoice();
    // The log pane keeps room to be read: the lists above it give way.
    void KeepLogRoom();
    // The icon of the tray's state, when it changed.
    void ShowTrayState();
    // The jobs that a reprocess or redirect put into the list of jobs in process held (their
    // device is held): the operator is told they wait.
    void ReportHeldArrivals(const std::set<uint32_t>& before);
    std::set<uint32_t> ProcessIds() const;
    // Passed rows dropped on the list of jobs in process: reprocessed once the operator agrees.
    void ReprocessDropped();

    void ConnectJobActions();
    // The counts and the tip follow the lists once the changes of a moment are over.
    void WatchJobCounts();
    void SetTip(const QString& description);
    // The ids of a list's selected rows, first to last.
    static TJobIds SelectedIds(const TJobListView* list);
    // The module when a command may run on passed jobs: a selection in the passed list and the
    // job folder there; else none, after a beep.
    TModuleControl* PassedJobsModule();
    TModuleControl* ProcessJobsModule();
    void ADeleteExecute();
    void AAbortExecute();
    void AHoldExecute(bool hold);
    void APriorityExecute();
    void AReprocessExecute(bool ask = false);
    void ASendToDeviceExecute();
    void AChangeNameExecute();
    void ASaveAsExecute();
    void ASelectAllExecute();
    void AOptionsExecute();
    void AHideExecute();
    void APauseExecute();
    void AExitExecute();
    void AAboutExecute();
    void AHelpExecute();
    void AViewLogExecute();
    void AViewToolBarExecute();
    void AViewProcessJobsExecute();
    void AViewCompletedJobsExecute();
    void AViewPreviewExecute();
    void ANegativeExecute();
    void ASearchExecute();
    void ASearchAgainExecute();
    void AAddSpotColorExecute();

    // The tray tip field holds 63 characters.
    static constexpr int kTrayTipLength = 63;

    TJobRows& Rows;
    TModuleControl* Module = nullptr;
    // The module's change serial the facts of the rows stand at; 0: none yet.
    uint64_t FactsSerial = 0;
    IEventLoop* Loop = nullptr;
    TConsoleForms* Forms = nullptr;
    TQtDialogs QtDialogs;
    IConsoleDialogs* Dialogs = &QtDialogs;
    std::unique_ptr<TfPriority> OwnPriority;
    std::unique_ptr<TfDevices> OwnDevices;
    QList<QIcon> MainImages;
    QList<QIcon> ProcessImages;
    TAlignPanel* Root = nullptr;
    QSystemTrayIcon Tray;
    // Work that came from inside a tick, run once it has ended.
    std::vector<std::function<void()>> Deferred;
    QTimer DeferredTimer;
    // Log lines not yet in the pane, and the timer that puts them there together.
    QStringList LogPending;
    QTimer LogTimer;
    void FlushLog();
    // The lines in the pane itself.
    int PaneLineCount() const;
    TTrayState ShownTrayState = TTrayState::NoModule;
    QIcon AppIcon;
    QTimer CountsTimer;
    QString Tip;
    QString TipDescription;
    std::string CountsFormat;
    bool TrayAdded = false;
    bool Exiting = false;
    std::string LayoutFile;
    std::set<const QAction*> HiddenActions;
    std::unique_ptr<TJobTableModel> ProcessJobsRows;
    std::unique_ptr<TJobTableModel> CompletedJobsRows;
};

} // namespace raduvuz
