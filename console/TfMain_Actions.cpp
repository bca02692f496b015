// The main window's actions, its menus and toolbar, and what the actions that are not about
// jobs or the view do.

#include "console/TfMain.h"

#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/ShowAbout.h"
#include "console/TJobListView.h"
#include "control/TModuleControl.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QToolBar>
#include <QToolButton>

namespace raduvuz {

namespace {

constexpr const char* kImageProperty = "ImageIndex";

QKeySequence Keys(QKeyCombination combination) {
    return QKeySequence(combination);
}

} // namespace

QAction* TfMain::NewAction(const char* name, int caption, int hint, const QKeySequence& shortcut,
                           int image) {
    auto* action = new QAction(QString::fromStdString(WindowTextDefault(caption)), this);
    action->setObjectName(QString::fromUtf8(name));
    if (hint != 0) {
        const QString text = QString::fromStdString(WindowTextDefault(hint));
        action->setToolTip(text);
        action->setStatusTip(text);
    }
    SetTag(action, TagOf(caption, hint));
    action->setShortcut(shortcut);
    SetImage(action, image);
    // Every action's shortcut works in the window, whether or not a menu shows it.
    addAction(action);
    // What the operator did may let a job move; the notice comes once the action is done.
    connect(
        action, &QAction::triggered, this,
        [this] {
            if (TModuleControl* module = ActiveModule())
                module->NoteWorkPossible();
        },
        Qt::QueuedConnection);
    return action;
}

void TfMain::SetImage(QAction* action, int image) {
    action->setProperty(kImageProperty, image);
    action->setIcon(image >= 0 && image < MainImages.size() ? MainImages[image] : QIcon());
}

int TfMain::ImageIndex(const QAction* action) {
    const QVariant value = action ? action->property(kImageProperty) : QVariant();
    return value.isValid() ? value.toInt() : -1;
}

void TfMain::CreateActions() {
    const QKeySequence none;
    AExit = NewAction("AExit", wtExit, wtExitHint, none, -1);
    AHide = NewAction("AHide", wtHide, wtHideHint, none, 0);
    APause = NewAction("APause", wtStart, wtStartHint, none, 3);
    AAbort = NewAction("AAbort", wtAbort, wtAbortHint, none, 4);
    AOptions = NewAction("AOptions", wtOptions, wtOptionsHint, Keys(Qt::Key_F5), -1);
    ADelete = NewAction("ADelete", wtDelete, wtDeleteHint, Keys(Qt::Key_Delete), 6);
    AViewLog = NewAction("AViewLog", wtViewLog, wtViewLogHint, Keys(Qt::CTRL | Qt::Key_L), -1);
    AViewToolBar =
        NewAction("AViewToolBar", wtViewToolBar, wtViewToolBarHint, Keys(Qt::CTRL | Qt::Key_T), -1);
    AAbout = NewAction("AAbout", wtAbout, wtAboutHint, none, -1);
    // ADebug comes before ASendToDevice with the same key and does nothing: it holds the key, so
    // Ctrl+Alt+D never redirects, and the redirect shows no key (see below). It is never shown
    // and takes no translation.
    ADebug = NewAction("ADebug", 0, 0, Keys(Qt::CTRL | Qt::ALT | Qt::Key_D), -1);
    ADebug->setText(QStringLiteral("ADebug"));
    AReprocess = NewAction("AReprocess", wtReprocess, wtReprocessHint,
                           Keys(Qt::CTRL | Qt::ALT | Qt::Key_R), 5);
    AViewProcessJobs =
        NewAction("AViewProcessJobs", wtViewProcessJobs, 0, Keys(Qt::CTRL | Qt::Key_R), -1);
    AViewCompletedJobs =
        NewAction("AViewCompletedJobs", wtViewCompletedJobs, 0, Keys(Qt::CTRL | Qt::Key_P), -1);
    AViewPreview = NewAction("AViewPreview", wtViewPreview, 0, Keys(Qt::CTRL | Qt::Key_W), -1);
    ASelectAll = NewAction("ASelectAll", wtSelectAll, 0, Keys(Qt::CTRL | Qt::Key_A), -1);
    ASaveAs = NewAction("ASaveAs", wtSaveAs, 0, Keys(Qt::CTRL | Qt::Key_S), -1);
    AChangeName = NewAction("AChangeName", wtChangeName, wtChangeNameHint,
                            Keys(Qt::CTRL | Qt::ALT | Qt::Key_N), 7);
    AUnHold = NewAction("AUnHold", wtUnHold, wtUnHoldHint, Keys(Qt::CTRL | Qt::ALT | Qt::Key_L), 8);
    APriority = NewAction("APriority", wtPriority, 0, Keys(Qt::CTRL | Qt::ALT | Qt::Key_P), 9);
    AHold = NewAction("AHold", wtHold, wtHoldHint, Keys(Qt::CTRL | Qt::ALT | Qt::Key_H), 10);
    ASearch = NewAction("ASearch", wtSearch, wtSearchHint, Keys(Qt::CTRL | Qt::Key_F), 11);
    ASearchAgain = NewAction("ASearchAgain", wtSearchAgain, wtSearchAgain, Keys(Qt::Key_F3), 11);
    ACompos =
        NewAction("ACompos", wtCompos, wtComposHint, Keys(Qt::CTRL | Qt::ALT | Qt::Key_C), 12);
    // Menus and toolbar show only keys that work: Ctrl+Alt+D is ADebug's.
    ASendToDevice = NewAction("ASendToDevice", wtSendToDevice, wtSendToDeviceHint, none, 13);
    AAddSpotColor = NewAction("AAddSpotColor", wtAddSpotColor, 0, none, -1);
    AJobMerge = NewAction("AJobMerge", wtJobMerge, wtJobMergeHint,
                          Keys(Qt::CTRL | Qt::ALT | Qt::Key_W), 14);
    AGenPreview = NewAction("AGenPreview", wtGenPreview, wtGenPreviewHint,
                            Keys(Qt::CTRL | Qt::ALT | Qt::Key_G), 17);
    ANegative = NewAction("ANegative", wtNegative, wtNegativeHint, Keys(Qt::CTRL | Qt::Key_N), 16);
    AHelp = NewAction("AHelp", wtHelp, 0, Keys(Qt::Key_F1), -1);
    AShow = NewAction("AShow", wtShow, 0, none, -1);
    AViewProcessState = NewAction("AViewProcessState", wtViewProcessState, 0, none, -1);
    AViewProcessPriority = NewAction("AViewProcessPriority", wtViewProcessPriority, 0, none, -1);
    AViewPassedState = NewAction("AViewPassedState", wtViewPassedState, 0, none, -1);
    AViewPassedPriority = NewAction("AViewPassedPriority", wtViewPassedPriority, 0, none, -1);
    // The state and priority of jobs in process are shown from the start, of passed jobs not.
    for (QAction* column :
         {AViewProcessState, AViewProcessPriority, AViewPassedState, AViewPassedPriority}) {
        column->setCheckable(true);
        column->setChecked(column == AViewProcessState || column == AViewProcessPriority);
    }

    for (QAction* view : {AViewLog, AViewProcessJobs, AViewCompletedJobs, AViewPreview}) {
        view->setCheckable(true);
        view->setChecked(true);
    }
    AViewToolBar->setCheckable(true);
    ANegative->setCheckable(true);
    ASaveAs->setEnabled(false);

    // The view toggles find their action's check already turned by the trigger. What may ask or
    // tell the operator something runs outside a tick.
    OnTriggered(AExit, [this] { AExitExecute(); });
    connect(AHide, &QAction::triggered, this, &TfMain::AHideExecute);
    connect(AShow, &QAction::triggered, this, &TfMain::ShowAndActivate);
    OnTriggered(APause, [this] { APauseExecute(); });
    OnTriggered(AAbout, [this] { AAboutExecute(); });
    OnTriggered(AHelp, [this] { AHelpExecute(); });
    for (QAction* column :
         {AViewProcessState, AViewProcessPriority, AViewPassedState, AViewPassedPriority})
        connect(column, &QAction::triggered, this, &TfMain::ApplyColumnChoice);
    connect(AViewLog, &QAction::triggered, this, &TfMain::AViewLogExecute);
    connect(AViewToolBar, &QAction::triggered, this, &TfMain::AViewToolBarExecute);
    connect(AViewProcessJobs, &QAction::triggered, this, &TfMain::AViewProcessJobsExecute);
    connect(AViewCompletedJobs, &QAction::triggered, this, &TfMain::AViewCompletedJobsExecute);
    connect(AViewPreview, &QAction::triggered, this, &TfMain::AViewPreviewExecute);
    connect(ANegative, &QAction::triggered, this, &TfMain::ANegativeExecute);
    OnTriggered(ASearch, [this] { ASearchExecute(); });
    OnTriggered(ASearchAgain, [this] { ASearchAgainExecute(); });
    OnTriggered(AAddSpotColor, [this] { AAddSpotColorExecute(); });
    // The composed previews and the custom generation show nothing: the preview is switched off.
}

void TfMain::CreateMenus() {
    // miStopall is the start/stop action with a key of its own.
    miStopall = new QAction(this);
    miStopall->setObjectName(QStringLiteral("miStopall"));
    miStopall->setShortcut(QKeySequence(Qt::Key_F2));
    auto followPause = [this] {
        miStopall->setText(APause->text());
        miStopall->setIcon(APause->icon());
        miStopall->setEnabled(APause->isEnabled());
    };
    followPause();
    connect(APause, &QAction::changed, this, followPause);
    connect(miStopall, &QAction::triggered, APause, &QAction::trigger);
    addAction(miStopall);

    Redirect1 = new QAction(QString::fromStdString(WindowTextDefault(wtRedirect)), this);
    Redirect1->setObjectName(QStringLiteral("Redirect1"));
    SetTag(Redirect1, wtRedirect);
    Redirect1->setIcon(ASendToDevice->icon());
    Redirect1->setEnabled(ASendToDevice->isEnabled());
    connect(ASendToDevice, &QAction::changed, this,
            [this] { Redirect1->setEnabled(ASendToDevice->isEnabled()); });
    connect(Redirect1, &QAction::triggered, ASendToDevice, &QAction::trigger);

    niSpotClr = new QAction(QString::fromStdString(WindowTextDefault(wtSpotColors)), this);
    niSpotClr->setObjectName(QStringLiteral("niSpotClr"));
    SetTag(niSpotClr, wtSpotColors);
    NegativePreviewOnOff1 = ANegative;

    QMenuBar* bar = menuBar();
    QMenu* miSystem = bar->addMenu(QString::fromStdString(WindowTextDefault(wtMenuModule)));
    miSystem->setObjectName(QStringLiteral("miSystem"));
    SetTag(miSystem, wtMenuModule);
    miSystem->addAction(miStopall);
    miSystem->addSeparator();
    miSystem->addAction(AOptions);
    miSystem->addAction(niSpotClr);
    miSystem->addSeparator();
    miSystem->addAction(AExit);

    QMenu* miView = bar->addMenu(QString::fromStdString(WindowTextDefault(wtMenuView)));
    miView->setObjectName(QStringLiteral("miView"));
    SetTag(miView, wtMenuView);
    miView->addAction(AHide);
    miView->addSeparator();
    miView->addActions(
        {AViewProcessJobs, AViewCompletedJobs, AViewPreview, AViewLog, AViewToolBar});
    QMenu* miColumns = miView->addMenu(QString::fromStdString(WindowTextDefault(wtMenuColumns)));
    miColumns->setObjectName(QStringLiteral("miColumns"));
    SetTag(miColumns, wtMenuColumns);
    miColumns->addActions({AViewProcessState, AViewProcessPriority});
    miColumns->addSeparator();
    miColumns->addActions({AViewPassedState, AViewPassedPriority});
    connect(miView, &QMenu::aboutToShow, this,
            [this] { AViewToolBar->setChecked(TB_Main->isVisible()); });

    QMenu* miJobs = bar->addMenu(QString::fromStdString(WindowTextDefault(wtMenuJobs)));
    miJobs->setObjectName(QStringLiteral("miJobs"));
    SetTag(miJobs, wtMenuJobs);
    miJobs->addActions({AReprocess, Redirect1, AAbort, ADelete, AHold, AUnHold, AChangeName,
                        APriority, ACompos, AJobMerge, AGenPreview});
    miJobs->addSeparator();
    miJobs->addActions({ASaveAs, ASelectAll});
    miJobs->addSeparator();
    miJobs->addActions({ASearch, ASearchAgain, NegativePreviewOnOff1});

    QMenu* miHelp = bar->addMenu(QString::fromStdString(WindowTextDefault(wtMenuHelp)));
    miHelp->setObjectName(QStringLiteral("miHelp"));
    SetTag(miHelp, wtMenuHelp);
    miHelp->addAction(AHelp);
    miHelp->addAction(AAbout);

    pmJobs = new QMenu(this);
    pmJobs->setObjectName(QStringLiteral("pmJobs"));
    pmJobs->addActions({AReprocess, ASendToDevice, AAbort, ADelete, AHold, AUnHold, AChangeName,
                        APriority, ACompos, AJobMerge, AGenPreview});
    pmJobs->addSeparator();
    pmJobs->addActions({ASaveAs, ASelectAll});
    pmJobs->addSeparator();
    pmJobs->addAction(AAddSpotColor);
    connect(pmJobs, &QMenu::aboutToShow, this, &TfMain::pmJobsPopup);
    for (TJobListView* list : {lvProcessJobs, lvCompletedJobs}) {
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
            pmJobs->popup(list->viewport()->mapToGlobal(at));
        });
    }

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addAction(AShow);
    PopupMenu->addSeparator();
    PopupMenu->addAction(APause);
    PopupMenu->addSeparator();
    PopupMenu->addAction(AExit);

    ppMerge = new QMenu(this);
    ppMerge->setObjectName(QStringLiteral("ppMerge"));
    pmGenPreview = new QMenu(this);
    pmGenPreview->setObjectName(QStringLiteral("pmGenPreview"));
    pmGenPreview->addAction(QStringLiteral("ManDpi"))->setObjectName(QStringLiteral("miManDpi"));
    pmGenPreview->addAction(QStringLiteral("LastDpi"))->setObjectName(QStringLiteral("miLastDpi"));
    pmGenPreview->addAction(QStringLiteral("Fit to Screen"))
        ->setObjectName(QStringLiteral("miFitToScreen"));
    pmGenPreview->addSeparator();
    pmGenPreview->addAction(QStringLiteral("Custom DPI"))
        ->setObjectName(QStringLiteral("miCustomDpi"));
}

void TfMain::CreateToolBar() {
    TB_Main = new QToolBar(QString::fromStdString(WindowTextDefault(wtToolbar)), this);
    TB_Main->setObjectName(QStringLiteral("TB_Main"));
    SetTag(TB_Main, wtToolbar);
    TB_Main->setIconSize(QSize(32, 32));
    TB_Main->setToolButtonStyle(Qt::ToolButtonIconOnly);
    TB_Main->setMovable(true);
    TB_Main->setFloatable(true);
    addToolBar(Qt::TopToolBarArea, TB_Main);
    auto add = [this](QAction* action, const char* name) {
        TB_Main->addAction(action);
        QWidget* button = TB_Main->widgetForAction(action);
        button->setObjectName(QString::fromUtf8(name));
        button->setMinimumSize(39, 38);
        return qobject_cast<QToolButton*>(button);
    };
    add(APause, "tbPause");
    add(AHide, "tbHide");
    TB_Main->addSeparator();
    add(AReprocess, "tbReprocess");
    add(ASendToDevice, "tbDevice");
    add(AAbort, "tbAbort");
    add(ADelete, "tbDelete");
    add(AHold, "tbHold");
    add(AUnHold, "bUnHold");
    add(AChangeName, "tbChangeName");
    add(APriority, "tbPriority");
    add(ACompos, "tbCompos");
    if (QToolButton* merge = add(AJobMerge, "tbJobMerge")) {
        merge->setMenu(ppMerge);
        merge->setPopupMode(QToolButton::MenuButtonPopup);
    }
    if (QToolButton* generate = add(AGenPreview, "tbGenPreview")) {
        generate->setMenu(pmGenPreview);
        generate->setPopupMode(QToolButton::MenuButtonPopup);
    }
    TB_Main->addSeparator();
    add(ASearchAgain, "tbSearch");
    tbPos = add(ANegative, "tbPos");
    TB_Main->resize(TB_Main->width(), 48);
}

void TfMain::HideAction(QAction* action) {
    // Qt disables an invisible action, shortcut and all; a hidden action here keeps its enabled
    // state, so the action leaves every menu and toolbar instead.
    for (QObject* holder : action->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(holder))
            menu->removeAction(action);
        else if (auto* bar = qobject_cast<QToolBar*>(holder))
            bar->removeAction(action);
    }
    HiddenActions.insert(action);
}

bool TfMain::ActionVisible(const QAction* action) const {
    return action->isVisible() && HiddenActions.count(action) == 0;
}

void TfMain::AHideExecute() {
    // Without a tray icon a hidden window could not be found again: it is minimised instead.
    if (!TrayAdded) {
        if (isMinimized())
            ShowAndActivate();
        else
            showMinimized();
        SetImage(AHide, isMinimized() ? 1 : 0);
        return;
    }
    setVisible(!isVisible());
    SetImage(AHide, isVisible() ? 0 : 1);
}

void TfMain::APauseExecute() {
    TModuleControl* module = ActiveModule();
    if (!module)
        return;
    try {
        TJobActions actions(*module, TJobOrigin::Console());
        if (module->IsPaused())
            actions.Resume();
        else
            actions.Pause();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(e.what()));
    }
}

void TfMain::AExitExecute() {
    // Jobs in process go on after the next start, or wait held: the operator decides knowing so.
    if (TModuleControl* module = ActiveModule()) {
        const TJobCounts counts = TJobActions(*module).Counts();
        if (counts.InProcess > 0 &&
            !Dialogs->Confirm(
                this, QString::fromStdString(
                          FormatText(WindowText(wtConfirmShutDown),
                                     {module->GetDescription(), counts.InProcess, counts.Held}))))
            return;
    }
    // Both steps swallow their errors so that the window always closes.
    try {
        if (TModuleControl* module = ActiveModule())
            TJobActions(*module, TJobOrigin::Console()).ShutDown();
    } catch (const std::exception&) {
    }
    try {
        if (TModuleControl* module = ActiveModule())
            module->Close();
    } catch (const std::exception&) {
    }
    Exiting = true;
    close();
    QCoreApplication::exit(0);
}

void TfMain::AAboutExecute() {
    ShowAbout("");
}

void TfMain::AHelpExecute() {
    Help(kHelpContext, HelpContext);
}

void TfMain::AViewToolBarExecute() {
    TB_Main->setVisible(!TB_Main->isVisible());
}

} // namespace raduvuz
