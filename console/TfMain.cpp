#include "console/TfMain.h"

#include "common/Language.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "console/ImageLists.h"
#include "console/ShowAbout.h"
#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TResourceFile.h"
#include "console/TSplitterBar.h"
#include "control/TModuleControl.h"
#include "platform/TCompoundFile.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace raduvuz {

namespace {

// The tray tip field holds 63 characters.
constexpr int kTrayTipLength = 63;
// Adding this many lines to the log pane empties it.
constexpr int kLogLineLimit = 3500;
constexpr const char* kImageProperty = "ImageIndex";
constexpr int kColumnCount = TJobTableModel::kColumnCount;
// Design widths of the list columns; -1 is a column of automatic width.
constexpr int kColumnWidths[kColumnCount] = {60, 0, -1, 38, 60, 60, 80, 40, 68, -1, 1};

QStringList ColumnCaptions(const QString& nameCaption) {
    return {QStringLiteral("Job ID"),      QStringLiteral("DocID"), nameCaption,
            QStringLiteral("Page"),        QStringLiteral("Color"), QStringLiteral("Date"),
            QStringLiteral("Time"),        QStringLiteral("Type"),  QStringLiteral("Size"),
            QStringLiteral("Destination"), QStringLiteral("dev")};
}

QKeySequence Keys(QKeyCombination combination) {
    return QKeySequence(combination);
}

std::string ItemOf(const TParams& params, const char* key) {
    return params.GetItem(key, 0);
}

// A decimal layout value into target when the key has a value.
void ReadInt(const TParams& params, const char* key, int& target) {
    const std::string value = ItemOf(params, key);
    if (!value.empty())
        target = StrToIntDef(value, target);
}

} // namespace

TfMain::TfMain(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      TTWForm(this, false) {
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QStringLiteral("Queuer module"));
    HelpContext = 12;
    MainImages = MakeMainImages();
    ProcessImages = MakeProcessImages();
    QIcon appIcon;
    QPixmap picture;
    if (const auto icon = TResourceFile::Own().Find("MAINICON"))
        picture.loadFromData(reinterpret_cast<const uchar*>(icon->data()),
                             static_cast<uint>(icon->size()));
    appIcon = picture.isNull() ? QIcon(DrawApplicationPicture(32)) : QIcon(picture);
    setWindowIcon(appIcon);
    Tray.setIcon(appIcon);

    CreateActions();
    CreateControls();
    CreateMenus();
    CreateToolBar();
    setGeometry(370, 205, 722, 446);
    connect(&Tray, &QSystemTrayIcon::activated, this, &TfMain::TrayActivated);

    Timer.setInterval(1000);
    connect(&Timer, &QTimer::timeout, this, &TfMain::TimerTimer);
    Timer.start();
    FormCreate();
    TranslateForm();
}

TModuleControl* TfMain::ActiveModule() const {
    return Module && Module->Current ? Module : nullptr;
}

TfMain::~TfMain() {
    FormDestroy();
    // The views let go of the adapters before the adapters and the rows go.
    lvProcessJobs->setModel(nullptr);
    lvCompletedJobs->setModel(nullptr);
}

QAction* TfMain::NewAction(const char* name, const char* caption, const char* hint,
                           const QKeySequence& shortcut, int image) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
    action->setObjectName(QString::fromUtf8(name));
    if (hint != nullptr) {
        action->setToolTip(QString::fromUtf8(hint));
        action->setStatusTip(QString::fromUtf8(hint));
    }
    action->setShortcut(shortcut);
    SetImage(action, image);
    // Every action's shortcut works in the window, whether or not a menu shows it.
    addAction(action);
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
    AExit = NewAction("AExit", "S&hut down", "Shut down module", none, -1);
    AHide = NewAction("AHide", "&Hide Window", "Hide/Show main window", none, 0);
    APause = NewAction("APause", "&Start", "Start", none, 3);
    AAbort = NewAction("AAbort", "&Abort Job", "Abort selected jobs", none, 4);
    AOptions = NewAction("AOptions", "S&etup...", "Setup module", Keys(Qt::Key_F5), -1);
    ADelete = NewAction("ADelete", "&Delete", "Delete selected jobs", Keys(Qt::Key_Delete), 6);
    AViewLog = NewAction("AViewLog", "&Log Window", "Hide/Show log window",
                         Keys(Qt::CTRL | Qt::Key_L), -1);
    AViewToolBar =
        NewAction("AViewToolBar", "&Toolbar", "Hide/Show toolbar", Keys(Qt::CTRL | Qt::Key_T), -1);
    AAbout = NewAction("AAbout", "&About", "About queuer module", none, -1);
    // ADebug comes before ASendToDevice with the same key and does nothing. In the original the
    // first action of the list with a key takes it, so Ctrl+Alt+D never redirects; here ADebug
    // holds the key and ASendToDevice only shows it (see below).
    ADebug = NewAction("ADebug", "ADebug", nullptr, Keys(Qt::CTRL | Qt::ALT | Qt::Key_D), -1);
    AReprocess = NewAction("AReprocess", "&Reprocess", "Reprocess selected jobs",
                           Keys(Qt::CTRL | Qt::ALT | Qt::Key_R), 5);
    AViewProcessJobs =
        NewAction("AViewProcessJobs", "P&rocess Jobs", nullptr, Keys(Qt::CTRL | Qt::Key_R), -1);
    AViewCompletedJobs =
        NewAction("AViewCompletedJobs", "&Passed Jobs", nullptr, Keys(Qt::CTRL | Qt::Key_P), -1);
    AViewPreview =
        NewAction("AViewPreview", "&Preview Window", nullptr, Keys(Qt::CTRL | Qt::Key_W), -1);
    ASelectAll = NewAction("ASelectAll", "Select &All", nullptr, Keys(Qt::CTRL | Qt::Key_A), -1);
    ASaveAs = NewAction("ASaveAs", "&Save As", nullptr, Keys(Qt::CTRL | Qt::Key_S), -1);
    AChangeName = NewAction("AChangeName", "Change &Names", "Change names",
                            Keys(Qt::CTRL | Qt::ALT | Qt::Key_N), 7);
    AUnHold = NewAction("AUnHold", "Re&lease", "Release selected jobs",
                        Keys(Qt::CTRL | Qt::ALT | Qt::Key_L), 8);
    APriority = NewAction("APriority", "Change &Priority", nullptr,
                          Keys(Qt::CTRL | Qt::ALT | Qt::Key_P), 9);
    AHold =
        NewAction("AHold", "&Hold", "Hold selected jobs", Keys(Qt::CTRL | Qt::ALT | Qt::Key_H), 10);
    ASearch =
        NewAction("ASearch", "&Search", "Search/Search again", Keys(Qt::CTRL | Qt::Key_F), 11);
    ASearchAgain = NewAction("ASearchAgain", "Search Again", "Search Again", Keys(Qt::Key_F3), 11);
    ACompos = NewAction("ACompos", "&Composed Preview", "Composed preview of selected jobs",
                        Keys(Qt::CTRL | Qt::ALT | Qt::Key_C), 12);
    ASendToDevice = NewAction("ASendToDevice", "Re&direct Selected Jobs", "Redirect selected jobs",
                              Keys(Qt::CTRL | Qt::ALT | Qt::Key_D), 13);
    // Shown in the menus, but the key is ADebug's: it is live only in a widget that never has
    // the focus.
    ASendToDevice->setShortcutContext(Qt::WidgetShortcut);
    removeAction(ASendToDevice);
    AAddSpotColor = NewAction("AAddSpotColor", "Add Spot Color", nullptr, none, -1);
    AJobMerge = NewAction("AJobMerge", "Composed Job Previe&w", "Composed job preview",
                          Keys(Qt::CTRL | Qt::ALT | Qt::Key_W), 14);
    AGenPreview = NewAction("AGenPreview", "Custom Preview &Generation",
                            "Custom preview generation", Keys(Qt::CTRL | Qt::ALT | Qt::Key_G), 17);
    ANegative = NewAction("ANegative", "&Negative Preview On/Off", "Show negative preview",
                          Keys(Qt::CTRL | Qt::Key_N), 16);
    AHelp = NewAction("AHelp", "&Queuer", nullptr, Keys(Qt::Key_F1), -1);

    for (QAction* view : {AViewLog, AViewProcessJobs, AViewCompletedJobs, AViewPreview}) {
        view->setCheckable(true);
        view->setChecked(true);
    }
    AViewToolBar->setCheckable(true);
    ANegative->setCheckable(true);
    ASaveAs->setEnabled(false);

    // The view toggles find their action's check already turned by the trigger.
    connect(AExit, &QAction::triggered, this, &TfMain::AExitExecute);
    connect(AHide, &QAction::triggered, this, &TfMain::AHideExecute);
    connect(APause, &QAction::triggered, this, &TfMain::APauseExecute);
    connect(AAbout, &QAction::triggered, this, &TfMain::AAboutExecute);
    connect(AHelp, &QAction::triggered, this, &TfMain::AHelpExecute);
    connect(AViewLog, &QAction::triggered, this, &TfMain::AViewLogExecute);
    connect(AViewToolBar, &QAction::triggered, this, &TfMain::AViewToolBarExecute);
    connect(AViewProcessJobs, &QAction::triggered, this, &TfMain::AViewProcessJobsExecute);
    connect(AViewCompletedJobs, &QAction::triggered, this, &TfMain::AViewCompletedJobsExecute);
    connect(AViewPreview, &QAction::triggered, this, &TfMain::AViewPreviewExecute);
    connect(ANegative, &QAction::triggered, this, &TfMain::ANegativeExecute);
    // The composed previews and the custom generation show nothing: the preview is switched off.
}

void TfMain::CreateControls() {
    Root = new TAlignPanel(this);
    Root->setObjectName(QStringLiteral("Root"));
    setCentralWidget(Root);

    Panel1 = new TAlignPanel;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->resize(722, 248);
    Splitter1 = new TSplitterBar(Qt::Vertical, 3, 20);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Log = new QPlainTextEdit;
    Log->setObjectName(QStringLiteral("Log"));
    Log->setReadOnly(true);
    Log->setFocusPolicy(Qt::ClickFocus);
    Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Log->viewport()->setCursor(Qt::ArrowCursor);
    Log->setToolTip(QStringLiteral("Log window for current server"));
    QFont logFont(QStringLiteral("Arial"));
    logFont.setStyleHint(QFont::SansSerif);
    logFont.setPixelSize(12);
    Log->setFont(logFont);
    Root->AddControl(Panel1, TAlignPanel::TAlign::Top);
    Root->AddControl(Splitter1, TAlignPanel::TAlign::Top);
    Root->AddControl(Log, TAlignPanel::TAlign::Client);
    Splitter1->SetControl(Panel1);

    pPreview = new TAlignPanel;
    pPreview->setObjectName(QStringLiteral("pPreview"));
    pPreview->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pPreview->resize(100, 248);
    pPreviewText = new QWidget;
    pPreviewText->setObjectName(QStringLiteral("pPreviewText"));
    pPreviewText->resize(100, 40);
    pPageSize = new QLabel(QStringLiteral("11.0 x 8.5"), pPreviewText);
    pPageSize->setObjectName(QStringLiteral("pPageSize"));
    pPageSize->setAlignment(Qt::AlignCenter);
    cbPreview = new QComboBox(pPreviewText);
    cbPreview->setObjectName(QStringLiteral("cbPreview"));
    cbPreview->hide();
    auto* previewText = new QVBoxLayout(pPreviewText);
    previewText->setContentsMargins(2, 2, 2, 2);
    previewText->addWidget(pPageSize);
    previewText->addWidget(cbPreview);
    iPreview = new QLabel;
    iPreview->setObjectName(QStringLiteral("iPreview"));
    iPreview->setScaledContents(true);
    iPreview->hide();
    pPreview->AddControl(pPreviewText, TAlignPanel::TAlign::Top);
    pPreview->AddControl(iPreview, TAlignPanel::TAlign::Client);

    Splitter2 = new TSplitterBar(Qt::Horizontal, 3, 32);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Panel2 = new TAlignPanel;
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->AddControl(pPreview, TAlignPanel::TAlign::Left);
    Panel1->AddControl(Splitter2, TAlignPanel::TAlign::Left);
    Panel1->AddControl(Panel2, TAlignPanel::TAlign::Client);
    Splitter2->SetControl(pPreview);

    lvProcessJobs = new TJobListView;
    lvProcessJobs->setObjectName(QStringLiteral("lvProcessJobs"));
    lvProcessJobs->resize(600, 96);
    Splitter3 = new TSplitterBar(Qt::Vertical, 3, 1);
    Splitter3->setObjectName(QStringLiteral("Splitter3"));
    lvCompletedJobs = new TJobListView;
    lvCompletedJobs->setObjectName(QStringLiteral("lvCompletedJobs"));
    Panel2->AddControl(lvProcessJobs, TAlignPanel::TAlign::Top);
    Panel2->AddControl(Splitter3, TAlignPanel::TAlign::Top);
    Panel2->AddControl(lvCompletedJobs, TAlignPanel::TAlign::Client);
    Splitter3->SetControl(lvProcessJobs);

    ProcessJobsRows = std::make_unique<TJobTableModel>(
        ProcessJobsModel, ColumnCaptions(QStringLiteral("Processing Job")), ProcessImages);
    CompletedJobsRows = std::make_unique<TJobTableModel>(
        CompletedJobsModel, ColumnCaptions(QStringLiteral("Passed Job ")), ProcessImages);
    lvProcessJobs->SetRows(ProcessJobsRows.get());
    lvCompletedJobs->SetRows(CompletedJobsRows.get());
    for (TJobListView* list : {lvProcessJobs, lvCompletedJobs}) {
        list->setIconSize(QSize(16, 16));
        QFont small = list->font();
        small.setPointSize(8);
        list->setFont(small);
        // The design widths suit a screen font of about 4.5 pixels a character; a wider font
        // widens them alike, so that "RSTBND" or "Transfering" still fit.
        const double scale = std::max(1.0, list->fontMetrics().averageCharWidth() / 4.5);
        for (int column = 0; column < kColumnCount; ++column) {
            const int width = kColumnWidths[column];
            if (width > 1)
                list->SetColumnWidth(column, static_cast<int>(width * scale + 0.5));
            else if (width >= 0)
                list->SetColumnWidth(column, width);
        }
    }
    lvProcessJobs->OnEnter = [this] { lvProcessJobsEnter(); };
    lvProcessJobs->OnExit = [this] { lvProcessJobsExit(); };
    lvProcessJobs->OnSelectItem = [this] { SelectionChanged(lvProcessJobs); };
    lvCompletedJobs->OnEnter = [this] { lvCompletedJobsEnter(); };
    lvCompletedJobs->OnExit = [this] { lvCompletedJobsExit(); };
    lvCompletedJobs->OnSelectItem = [this] { SelectionChanged(lvCompletedJobs); };

    Splitter1->CanResize = [this](int& size) { return Splitter1CanResize(size); };
    Splitter2->CanResize = [this](int& size) { return Splitter2CanResize(size); };
    Splitter3->CanResize = [this](int& size) { return Splitter3CanResize(size); };
    Splitter3->Moved = [this] { Splitter3Moved(); };

    // Esc reaches the window before any of its controls.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { FormKeyDown(Qt::Key_Escape); });
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

    Redirect1 = new QAction(QStringLiteral("Re&direct"), this);
    Redirect1->setObjectName(QStringLiteral("Redirect1"));
    Redirect1->setIcon(ASendToDevice->icon());
    Redirect1->setShortcut(ASendToDevice->shortcut());
    Redirect1->setShortcutContext(Qt::WidgetShortcut);
    Redirect1->setEnabled(ASendToDevice->isEnabled());
    connect(ASendToDevice, &QAction::changed, this,
            [this] { Redirect1->setEnabled(ASendToDevice->isEnabled()); });
    connect(Redirect1, &QAction::triggered, ASendToDevice, &QAction::trigger);

    niSpotClr = new QAction(QStringLiteral("Spot Colors..."), this);
    niSpotClr->setObjectName(QStringLiteral("niSpotClr"));
    NegativePreviewOnOff1 = ANegative;

    QMenuBar* bar = menuBar();
    QMenu* miSystem = bar->addMenu(QStringLiteral("&Module"));
    miSystem->setObjectName(QStringLiteral("miSystem"));
    miSystem->addAction(miStopall);
    miSystem->addSeparator();
    miSystem->addAction(AOptions);
    miSystem->addAction(niSpotClr);
    miSystem->addSeparator();
    miSystem->addAction(AExit);

    QMenu* miView = bar->addMenu(QStringLiteral("&View"));
    miView->setObjectName(QStringLiteral("miView"));
    miView->addAction(AHide);
    miView->addSeparator();
    miView->addActions(
        {AViewProcessJobs, AViewCompletedJobs, AViewPreview, AViewLog, AViewToolBar});
    connect(miView, &QMenu::aboutToShow, this,
            [this] { AViewToolBar->setChecked(TB_Main->isVisible()); });

    QMenu* miJobs = bar->addMenu(QStringLiteral("&Jobs"));
    miJobs->setObjectName(QStringLiteral("miJobs"));
    miJobs->addActions({AReprocess, Redirect1, AAbort, ADelete, AHold, AUnHold, AChangeName,
                        APriority, ACompos, AJobMerge, AGenPreview});
    miJobs->addSeparator();
    miJobs->addActions({ASaveAs, ASelectAll});
    miJobs->addSeparator();
    miJobs->addActions({ASearch, ASearchAgain, NegativePreviewOnOff1});

    QMenu* miHelp = bar->addMenu(QStringLiteral("&Help"));
    miHelp->setObjectName(QStringLiteral("miHelp"));
    miHelp->addAction(AAbout);

    pmJobs = new QMenu(this);
    pmJobs->setObjectName(QStringLiteral("pmJobs"));
    pmJobs->addActions({AReprocess, ASendToDevice, AAbort, ADelete, AHold, AUnHold, AChangeName,
                        APriority, ACompos, AJobMerge, AGenPreview});
    pmJobs->addSeparator();
    pmJobs->addActions({ASaveAs, ASelectAll});
    pmJobs->addSeparator();
    pmJobs->addAction(AAddSpotColor);
    for (TJobListView* list : {lvProcessJobs, lvCompletedJobs}) {
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
            pmJobs->popup(list->viewport()->mapToGlobal(at));
        });
    }

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
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
    TB_Main = new QToolBar(QStringLiteral("Queuer toolbar"), this);
    TB_Main->setObjectName(QStringLiteral("TB_Main"));
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
    // Qt disables an invisible action, shortcut and all; the original keeps an invisible
    // action's enabled state, so the action leaves every menu and toolbar instead.
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

void TfMain::FormCreate() {
    ClearPreview();
    if (tbPos)
        tbPos->setChecked(false);
    ANegative->setChecked(false);
    // The preview is switched off for the life of the window.
    niSpotClr->setVisible(false);
    niSpotClr->setEnabled(false);
    for (QAction* preview : {ACompos, AJobMerge, AGenPreview, ANegative}) {
        HideAction(preview);
        preview->setEnabled(false);
    }
    // The toolbar dropped the negative preview's button with the action.
    tbPos = nullptr;
    pPreview->hide();
    AViewPreview->setChecked(false);
    HideAction(AViewPreview);
    AViewPreview->setEnabled(false);
    // The preview splitter goes with the panel from the start.
    TunePreviewView();
    QApplication::setApplicationDisplayName(windowTitle());
}

void TfMain::FormShow() {
    SetImage(AHide, isVisible() ? 0 : 1);
    if (TModuleControl* module = ActiveModule())
        SetImage(APause, module->Paused ? 3 : 2);
    lvProcessJobsEnter();
    lvCompletedJobsEnter();
}

void TfMain::FormActivate() {
    ProcessListActive = false;
    CompletedListActive = false;
    SelectionEventsSuppressed = false;
    lvCompletedJobsEnter();
}

void TfMain::FormKeyDown(int key) {
    if (key == Qt::Key_Escape)
        AHide->trigger();
}

void TfMain::FormDestroy() {
    Tray.hide();
    TrayAdded = false;
    ProcessListActive = false;
    CompletedListActive = false;
    SelectionEventsSuppressed = false;
}

void TfMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FormShow();
}

void TfMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TfMain::closeEvent(QCloseEvent* event) {
    // Only AExit ends the window; a close request of the desktop hides it.
    if (Exiting) {
        event->accept();
        return;
    }
    event->ignore();
    AHideExecute();
}

void TfMain::StartMessage() {
    Tip = windowTitle().left(kTrayTipLength);
    Tray.setToolTip(Tip);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        Tray.show();
        TrayAdded = true;
    }
    hide();
}

void TfMain::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
        show();
        return;
    }
    if (reason != QSystemTrayIcon::Context)
        return;
    const QPoint at = QCursor::pos();
    if (isVisible()) {
        raise();
        activateWindow();
    }
    // No tick runs from inside the menu's own event loop.
    Timer.stop();
    if (OnTrayMenuShown)
        QTimer::singleShot(0, PopupMenu, [this] { OnTrayMenuShown(PopupMenu); });
    PopupMenu->exec(at);
    Timer.start();
}

void TfMain::SetCaption(const std::string& text) {
    const QString caption = QString::fromStdString(text);
    setWindowTitle(caption);
    QApplication::setApplicationDisplayName(caption);
}

void TfMain::SetTrayTip(const std::string& text) {
    Tip = QString::fromStdString(text).left(kTrayTipLength);
    Tray.setToolTip(Tip);
}

void TfMain::SetToolbarCaption(const std::string& text) {
    TB_Main->setWindowTitle(QString::fromStdString(text));
}

int TfMain::LogLineCount() const {
    return Log->document()->isEmpty() ? 0 : Log->document()->blockCount();
}

void TfMain::LogWriteLine(const std::string& line) {
    Log->appendPlainText(QString::fromStdString(line));
    if (LogLineCount() >= kLogLineLimit)
        Log->clear();
}

void TfMain::SetPauseAction(const std::string& caption, const std::string& hint, int image) {
    APause->setText(QString::fromStdString(caption));
    APause->setToolTip(QString::fromStdString(hint));
    APause->setStatusTip(QString::fromStdString(hint));
    SetImage(APause, image);
}

void TfMain::SetPauseHint(const std::string& hint) {
    APause->setToolTip(QString::fromStdString(hint));
    APause->setStatusTip(QString::fromStdString(hint));
}

void TfMain::StopTimer() {
    Timer.stop();
}

void TfMain::ShowAndActivate() {
    show();
    raise();
    activateWindow();
}

void TfMain::ProcessPendingMessages() {
    QCoreApplication::processEvents();
}

void TfMain::WaitForEvents(int maxMs) {
    // A timer wakes the wait when no event comes first.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(maxMs);
    if (QAbstractEventDispatcher* dispatcher = QCoreApplication::eventDispatcher())
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

void TfMain::Beep() {
    QApplication::beep();
}

void TfMain::SetBusyCursor(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfMain::ShowMessage(const std::string& text) {
    QMessageBox::information(this, windowTitle(), QString::fromStdString(text));
}

void TfMain::TimerTimer() {
    // The timer rests while the module works, and runs again afterwards in every case.
    Timer.stop();
    if (TModuleControl* module = ActiveModule())
        module->TimerTimer();
    Timer.start();
}

void TfMain::AHideExecute() {
    setVisible(!isVisible());
    SetImage(AHide, isVisible() ? 0 : 1);
}

void TfMain::APauseExecute() {
    TModuleControl* module = ActiveModule();
    if (!module)
        return;
    try {
        if (module->Paused)
            module->Resume();
        else
            module->Pause();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(e.what()));
    }
}

void TfMain::AExitExecute() {
    // Both steps swallow their errors so that the window always closes.
    try {
        TModuleControl* module = ActiveModule();
        if (module && module->GetServerObject().Assigned())
            module->GetServerObject().CloseMe(module->ModuleNumber);
    } catch (const std::exception&) {
    }
    try {
        if (TModuleControl* module = ActiveModule())
            module->Close();
    } catch (const std::exception&) {
    }
    Exiting = true;
    close();
    QCoreApplication::quit();
}

void TfMain::AAboutExecute() {
    ShowAbout("");
}

void TfMain::AHelpExecute() {
    Help(0, 0);
}

void TfMain::AViewToolBarExecute() {
    TB_Main->setVisible(!TB_Main->isVisible());
}

void TfMain::AViewLogExecute() {
    const bool shown = AViewLog->isChecked();
    if (shown && Log->height() < 21)
        Log->resize(Log->width(), 21);
    Splitter1->setVisible(shown);
    Log->setVisible(shown);
    // With the log the list area keeps its height above it; without, it fills the window.
    Root->SetAlign(Panel1, shown ? TAlignPanel::TAlign::Top : TAlignPanel::TAlign::Client);
    RealignAll();
}

void TfMain::AViewProcessJobsExecute() {
    TuneJobsView();
}

void TfMain::AViewCompletedJobsExecute() {
    TuneJobsView();
    if (AViewProcessJobs->isChecked() && AViewCompletedJobs->isChecked()) {
        Panel2->SetAlign(lvProcessJobs, TAlignPanel::TAlign::Top);
        lvProcessJobs->resize(lvProcessJobs->width(), SavedProcessJobsHeight);
        RealignAll();
    }
}

void TfMain::AViewPreviewExecute() {
    TunePreviewView();
}

void TfMain::ANegativeExecute() {
    SetImage(ANegative, ANegative->isChecked() ? 16 : 15);
    ShowPreview(lvProcessJobs->Selected());
    ShowPreview(lvCompletedJobs->Selected());
}

void TfMain::RealignAll() {
    // A hidden window lays nothing out by itself.
    if (QLayout* frame = layout()) {
        frame->invalidate();
        frame->activate();
    }
    Root->Realign();
}

void TfMain::TuneJobsView() {
    const bool processShown = AViewProcessJobs->isChecked();
    bool completedShown = AViewCompletedJobs->isChecked();
    lvProcessJobs->setVisible(processShown);
    lvCompletedJobs->setVisible(completedShown);
    Splitter3->setVisible(processShown && completedShown);
    pPreview->setVisible(AViewPreview->isChecked());
    RealignAll();
    if (!Splitter3->isHidden()) {
        const int p = lvProcessJobs->height();
        const int c = lvCompletedJobs->height();
        // The full height of the list area; the hidden preview panel beside it keeps an old one.
        const int h = Panel2->contentsRect().height();
        if (p < 31 || c < 31 || p + c > h) {
            if (h >= 64) {
                int s = SavedProcessJobsHeight;
                if (h - s < 32 || s < 32)
                    s = h / 2;
                SavedProcessJobsHeight = s;
                lvProcessJobs->resize(lvProcessJobs->width(), s);
            } else {
                AViewCompletedJobs->setChecked(false);
                lvCompletedJobs->hide();
                Splitter3->hide();
                completedShown = false;
            }
        }
    }
    Panel2->SetAlign(lvProcessJobs,
                     completedShown ? TAlignPanel::TAlign::Top : TAlignPanel::TAlign::Client);
    TunePreviewView();
}

void TfMain::TunePreviewView() {
    const bool previewShown = AViewPreview->isChecked();
    pPreview->setVisible(previewShown);
    const bool listsShown = AViewCompletedJobs->isChecked() || AViewProcessJobs->isChecked();
    Splitter2->setVisible(listsShown && previewShown);
    if (previewShown && pPreview->width() < 33)
        pPreview->resize(33, pPreview->height());
    RealignAll();
}

bool TfMain::Splitter1CanResize(int& newSize) {
    if (newSize < 42)
        return false;
    // The log would be too low to read: it goes.
    if (frameGeometry().height() - newSize - TB_Main->height() < 68)
        AViewLog->trigger();
    return true;
}

bool TfMain::Splitter3CanResize(int& newSize) {
    if (newSize < 31) {
        AViewProcessJobs->setChecked(false);
        TuneJobsView();
    }
    if (newSize > Panel2->contentsRect().height() - 33) {
        AViewCompletedJobs->setChecked(false);
        TuneJobsView();
    }
    return true;
}

void TfMain::Splitter3Moved() {
    SavedProcessJobsHeight = lvProcessJobs->height();
}

bool TfMain::Splitter2CanResize(int& newSize) {
    if (newSize < 33) {
        AViewPreview->setChecked(false);
        TunePreviewView();
    }
    pPageSize->update();
    return true;
}

QAction* TfMain::ActionFor(TJobAction action) const {
    switch (action) {
    case TJobAction::Abort:
        return AAbort;
    case TJobAction::SelectAll:
        return ASelectAll;
    case TJobAction::Delete:
        return ADelete;
    case TJobAction::Reprocess:
        return AReprocess;
    case TJobAction::SendToDevice:
        return ASendToDevice;
    case TJobAction::SaveAs:
        return ASaveAs;
    case TJobAction::UnHold:
        return AUnHold;
    case TJobAction::Hold:
        return AHold;
    case TJobAction::ChangeName:
        return AChangeName;
    case TJobAction::Compos:
        return ACompos;
    case TJobAction::GenPreview:
        return AGenPreview;
    case TJobAction::JobMerge:
        return AJobMerge;
    case TJobAction::Priority:
        return APriority;
    case TJobAction::Count:
        break;
    }
    return nullptr;
}

void TfMain::ApplyRule(const TJobActionStates& states) {
    for (int i = 0; i < static_cast<int>(TJobAction::Count); ++i) {
        const auto action = static_cast<TJobAction>(i);
        if (const std::optional<bool> enabled = states.Get(action))
            ActionFor(action)->setEnabled(*enabled);
    }
}

void TfMain::lvProcessJobsEnter() {
    TListRow* selected = lvProcessJobs->Selected();
    TModuleControl* module = ActiveModule();
    const TRowJob job = module ? JobOfRow(module->Jobs, selected) : TRowJob{};
    ProcessListActive = true;
    ApplyRule(ProcessJobsEnterRule(selected, module != nullptr, job));
}

void TfMain::lvProcessJobsExit() {
    ProcessListActive = false;
    ApplyRule(ProcessJobsExitRule());
}

void TfMain::lvCompletedJobsEnter() {
    CompletedListActive = true;
    ApplyRule(CompletedJobsEnterRule(lvCompletedJobs->Selected()));
}

void TfMain::lvCompletedJobsExit() {
    CompletedListActive = false;
    ApplyRule(CompletedJobsExitRule());
}

void TfMain::SelectionChanged(TJobListView* list) {
    if (SelectionEventsSuppressed)
        return;
    if (list == lvProcessJobs)
        lvProcessJobsEnter();
    else
        lvCompletedJobsEnter();
    ShowPreview(list->Selected());
}

void TfMain::ClearPreview() {
    pPageSize->setText(QString::fromStdString(LanguageText(1719, "Preview not found")));
    iPreview->hide();
    cbPreview->hide();
}

void TfMain::ShowPreview(TListRow*) {
    // The preview display is switched off: selecting a job shows nothing.
}

std::string TfMain::LayoutText() const {
    const QRect bounds = geometry();
    std::string text = FormatText(
        "Top=%d;Left=%d;Width=%d;Height=%d;JobsHeight=%d;LogView=%d;PreviewWidth=%d;"
        "PreviewView=%d;ProcessJobsHeight=%d;ProcessJobs=%d;CompletedJobs=%d",
        {bounds.top(), bounds.left(), bounds.width(), bounds.height(), Panel1->height(),
         AViewLog->isChecked() ? 1 : 0, pPreview->width(), AViewPreview->isChecked() ? 1 : 0,
         lvProcessJobs->height(), AViewProcessJobs->isChecked() ? 1 : 0,
         AViewCompletedJobs->isChecked() ? 1 : 0});
    for (int i = 0; i < kColumnCount; ++i)
        text += FormatText(";PCol%d=%d", {i, lvProcessJobs->ColumnWidth(i)});
    for (int i = 0; i < kColumnCount; ++i)
        text += FormatText(";CCol%d=%d", {i, lvCompletedJobs->ColumnWidth(i)});
    return text;
}

void TfMain::SaveConfig() {
    if (LayoutFile.empty())
        return;
    TCompoundFile storage;
    if (!storage.OpenOrCreate(LayoutFile))
        return;
    storage.WriteCountedText("Config", LayoutText());
}

void TfMain::LoadConfig(TCompoundFile& storage) {
    try {
        const std::optional<std::string> text = storage.ReadCountedText("Config");
        if (text)
            ApplyLayoutText(*text);
    } catch (const std::exception&) {
        // A damaged layout leaves what was applied before it.
    }
}

void TfMain::ApplyLayoutText(const std::string& text) {
    const TParams params(text);
    const QRect bounds = geometry();
    int top = bounds.top();
    int left = bounds.left();
    int width = bounds.width();
    int height = bounds.height();
    ReadInt(params, "Top", top);
    ReadInt(params, "Left", left);
    ReadInt(params, "Width", width);
    ReadInt(params, "Height", height);
    setGeometry(left, top, width, height);
    int jobsHeight = Panel1->height();
    ReadInt(params, "JobsHeight", jobsHeight);
    Panel1->resize(Panel1->width(), jobsHeight);
    int previewWidth = pPreview->width();
    ReadInt(params, "PreviewWidth", previewWidth);
    pPreview->resize(previewWidth, pPreview->height());

    AViewLog->setChecked(ItemOf(params, "LogView") != "0");
    AViewProcessJobs->setChecked(ItemOf(params, "ProcessJobs") != "0");
    AViewCompletedJobs->setChecked(ItemOf(params, "CompletedJobs") != "0");
    // The preview pane always starts hidden, whatever the layout says.
    AViewPreview->setChecked(ItemOf(params, "PreviewView") != "0");
    AViewPreview->setChecked(false);
    ReadInt(params, "ProcessJobsHeight", SavedProcessJobsHeight);

    for (int i = 0; i < kColumnCount; ++i) {
        const std::string process = params.GetItem("PCol" + std::to_string(i), 0);
        if (!process.empty())
            lvProcessJobs->SetColumnWidth(i, StrToIntDef(process, 0));
        const std::string completed = params.GetItem("CCol" + std::to_string(i), 0);
        if (!completed.empty())
            lvCompletedJobs->SetColumnWidth(i, StrToIntDef(completed, 0));
    }
    TuneJobsView();
    TunePreviewView();
    // AViewLog turns the check back and applies the log's visibility.
    AViewLog->setChecked(!AViewLog->isChecked());
    AViewLog->trigger();
}

} // namespace raduvuz
