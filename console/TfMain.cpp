#include "console/TfMain.h"

#include "common/Language.h"
#include "common/WindowTexts.h"
#include "console/ImageLists.h"
#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TResourceFile.h"
#include "console/TSplitterBar.h"
#include "console/TfDevices.h"
#include "console/TfPriority.h"
#include "control/TModuleControl.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QToolBar>
#include <QVBoxLayout>

namespace raduvuz {

namespace {

constexpr int kColumnCount = TJobTableModel::kColumnCount;
// Design widths of the list columns; -1 is a column of automatic width.
constexpr int kColumnWidths[kColumnCount] = {60, 0, -1, 38, 60, 60, 80, 40, 68, -1, 1, 40, 70, 45};

// The column captions of a list in a language: the job-name column is the list's own.
QStringList ColumnCaptions(int nameCaption, const std::function<std::string(int)>& text) {
    QStringList captions;
    for (int number : {int(wtColumnJobID), int(wtColumnDocID), nameCaption, int(wtColumnPage),
                       int(wtColumnColor), int(wtColumnDate), int(wtColumnTime), int(wtColumnType),
                       int(wtColumnSize), int(wtColumnDestination)})
        captions << QString::fromStdString(text(number));
    // The device column is kept out of sight and keeps its design caption.
    captions << QStringLiteral("dev");
    for (int number : {int(wtColumnId), int(wtColumnState), int(wtColumnPriority)})
        captions << QString::fromStdString(text(number));
    return captions;
}

// The tips of the column headers that need one.
QStringList ColumnTips(const std::function<std::string(int)>& text) {
    QStringList tips;
    for (int column = 0; column < kColumnCount; ++column)
        tips << QString();
    tips[TJobTableModel::kSizeColumn] = QString::fromStdString(text(wtColumnSizeTip));
    tips[TJobTableModel::kIdColumn] = QString::fromStdString(text(wtColumnIdTip));
    return tips;
}

} // namespace

TfMain::TfMain(TJobRows& rows, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      TTWForm(this, false), Rows(rows) {
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QString::fromStdString(WindowTextDefault(wtMainCaption)));
    SetTag(this, wtMainCaption);
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
    AppIcon = appIcon;
    Tray.setIcon(appIcon);

    CreateActions();
    CreateControls();
    CreateMenus();
    CreateToolBar();
    ConnectJobActions();
    WatchJobCounts();
    setGeometry(370, 205, 722, 446);
    connect(&Tray, &QSystemTrayIcon::activated, this, &TfMain::TrayActivated);
    // The desktop shows the menu itself (a notifier item's host through its menu interface):
    // nothing waits for it to close.
    Tray.setContextMenu(PopupMenu);

    LogTimer.setSingleShot(true);
    connect(&LogTimer, &QTimer::timeout, this, &TfMain::FlushLog);
    DeferredTimer.setSingleShot(true);
    connect(&DeferredTimer, &QTimer::timeout, this, [this] {
        if (InTick()) {
            DeferredTimer.start(10);
            return;
        }
        std::vector<std::function<void()>> work;
        work.swap(Deferred);
        for (const std::function<void()>& one : work)
            one();
    });
    FormCreate();
    ApplyColumnChoice();
    TranslateForm();
}

void TfMain::SetModule(TModuleControl* module) {
    if (Loop)
        Loop->SetTickEnded(nullptr);
    Module = module;
    FactsSerial = 0;
    Loop = module ? &module->Loop() : nullptr;
    if (Loop)
        Loop->SetTickEnded([this] { TickEnded(); });
}

TfMain::~TfMain() {
    if (Loop)
        Loop->SetTickEnded(nullptr);
    FormDestroy();
    // The views let go of the adapters before the adapters and the rows go.
    lvProcessJobs->setModel(nullptr);
    lvCompletedJobs->setModel(nullptr);
}

void TfMain::TranslateOwnTexts(TLanguageTable& language) {
    const auto text = [&language](int number) {
        return language.Text(number, WindowTextDefault(number));
    };
    ProcessJobsRows->SetCaptions(ColumnCaptions(wtColumnProcessingJob, text), ColumnTips(text));
    CompletedJobsRows->SetCaptions(ColumnCaptions(wtColumnPassedJob, text), ColumnTips(text));
    CountsFormat = text(wtJobCounts);
    ShowJobCounts();
}

TModuleControl* TfMain::ActiveModule() const {
    return Module && Module->IsCurrent() ? Module : nullptr;
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
    Log->setToolTip(QString::fromStdString(WindowTextDefault(wtLogHint)));
    SetTag(Log, TagOf(0, wtLogHint));
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
    // The reason a job has no preview takes a few lines in the narrow panel.
    pPageSize->setWordWrap(true);
    cbPreview = new QComboBox(pPreviewText);
    cbPreview->setObjectName(QStringLiteral("cbPreview"));
    cbPreview->hide();
    auto* previewText = new QVBoxLayout(pPreviewText);
    previewText->setContentsMargins(2, 2, 2, 2);
    previewText->addWidget(pPageSize);
    previewText->addWidget(cbPreview);
    iPreview = new QLabel;
    iPreview->setObjectName(QStringLiteral("iPreview"));
    iPreview->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
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
        Rows.Process(), ColumnCaptions(wtColumnProcessingJob, WindowTextDefault), ProcessImages);
    CompletedJobsRows = std::make_unique<TJobTableModel>(
        Rows.Passed(), ColumnCaptions(wtColumnPassedJob, WindowTextDefault), ProcessImages);
    ProcessJobsRows->SetCaptions(ColumnCaptions(wtColumnProcessingJob, WindowTextDefault),
                                 ColumnTips(WindowTextDefault));
    CompletedJobsRows->SetCaptions(ColumnCaptions(wtColumnPassedJob, WindowTextDefault),
                                   ColumnTips(WindowTextDefault));
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

} // namespace raduvuz
