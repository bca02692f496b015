// The counts of jobs in the status bar and in the tray tip, the State and Priority columns, and
// the tray icon's picture of the module's state.

#include "console/TfMain.h"

#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "control/TJobActions.h"
#include "control/TModuleControl.h"

#include <QLabel>
#include <QPainter>
#include <QStatusBar>

#include <algorithm>
#include <map>

namespace raduvuz {

namespace {

// Counting waits this long after a change of the lists, so that a job streaming its blocks
// costs a count a few times a second, not one per block.
constexpr int kCountsDelayMs = 200;

// The states of a job's road, in order, with their words.
struct TStateWords {
    const char* State;
    int Text;
};
constexpr TStateWords kStates[] = {
    {"reading", wtStateReading},   {"transferring", wtStateTransferring},
    {"spooling", wtStateSpooling}, {"waiting", wtStateWaiting},
    {"held", wtStateHeld},         {"sending", wtStateSending},
    {"passed", wtStatePassed},     {"failed", wtStateFailed}};

int StateOrder(const std::string& state) {
    for (int i = 0; i < static_cast<int>(std::size(kStates)); ++i) {
        if (state == kStates[i].State)
            return i;
    }
    return static_cast<int>(std::size(kStates));
}

// Ids a confirmation names before it only counts the rest.
constexpr size_t kNamedIds = 12;

} // namespace

void TfMain::WatchJobCounts() {
    if (CountsFormat.empty())
        CountsFormat = WindowTextDefault(wtJobCounts);
    lJobCounts = new QLabel;
    lJobCounts->setObjectName(QStringLiteral("lJobCounts"));
    statusBar()->addWidget(lJobCounts);
    statusBar()->setSizeGripEnabled(false);
    CountsTimer.setSingleShot(true);
    CountsTimer.setInterval(kCountsDelayMs);
    connect(&CountsTimer, &QTimer::timeout, this, &TfMain::ShowJobCounts);
    for (TJobTableModel* rows : {ProcessJobsRows.get(), CompletedJobsRows.get()}) {
        const auto changed = [this] {
            if (!CountsTimer.isActive())
                CountsTimer.start();
        };
        connect(rows, &QAbstractItemModel::rowsInserted, this, changed);
        connect(rows, &QAbstractItemModel::rowsRemoved, this, changed);
        connect(rows, &QAbstractItemModel::modelReset, this, changed);
        connect(rows, &QAbstractItemModel::dataChanged, this, changed);
    }
    ShowJobCounts();
}

TJobCounts TfMain::JobCounts() const {
    if (Module)
        return TJobActions(*Module).Counts();
    // Without a module the rows alone tell: a held job's row shows image 0.
    TJobCounts counts;
    counts.InProcess = Rows.Process().Count();
    counts.Passed = Rows.Passed().Count();
    for (int i = 0; i < Rows.Process().Count(); ++i) {
        if (Rows.Process().At(i)->ImageIndex == 0)
            ++counts.Held;
    }
    return counts;
}

QString TfMain::JobCountsText() const {
    const TJobCounts counts = JobCounts();
    return QString::fromStdString(
        FormatText(CountsFormat, {counts.InProcess, counts.Held, counts.Passed}));
}

QString TfMain::TrayTipText(const QString& description, const QString& counts) {
    const int room = std::max<int>(0, kTrayTipLength - 1 - static_cast<int>(counts.size()));
    return (description.left(room) + QLatin1Char('\n') + counts).left(kTrayTipLength);
}

void TfMain::ShowJobCounts() {
    CountsTimer.stop();
    const QString counts = JobCountsText();
    lJobCounts->setText(counts);
    Tip = TrayTipText(TipDescription, counts);
    Tray.setToolTip(Tip);
    RefreshJobFacts();
    ShowTrayState();
}

void TfMain::SetTip(const QString& description) {
    TipDescription = description;
    ShowJobCounts();
}

QString TfMain::StateText(const std::string& state) {
    for (const TStateWords& words : kStates) {
        if (state == words.State)
            return QString::fromStdString(WindowText(words.Text));
    }
    return QString::fromStdString(state);
}

void TfMain::RefreshJobFacts() {
    // Without a module the rows keep the facts they were given.
    if (!Module)
        return;
    const TJobChanges changes = TJobActions(*Module).ListSince(FactsSerial);
    // Id 0, which no row has, among the removed: the module's log no longer reaches back.
    const bool whole = FactsSerial == 0 || std::find(changes.Removed.begin(), changes.Removed.end(),
                                                     0u) != changes.Removed.end();
    FactsSerial = changes.Serial;
    TRowFactsById facts;
    for (const TJobRowView& view : changes.Rows)
        facts[view.Id] = TRowFacts{StateText(view.State), StateOrder(view.State), view.Priority};
    if (whole) {
        ProcessJobsRows->SetFacts(facts);
        CompletedJobsRows->SetFacts(std::move(facts));
        return;
    }
    ProcessJobsRows->UpdateFacts(facts, changes.Removed);
    CompletedJobsRows->UpdateFacts(facts, changes.Removed);
}

QString TfMain::JobsNamed(const std::vector<TListRow*>& rows) {
    // Rows of one name together, in the order their names first come.
    std::vector<std::pair<std::string, std::vector<uint32_t>>> byName;
    for (const TListRow* row : rows) {
        const std::string& name = row->SubItems.size() > static_cast<size_t>(siName)
                                      ? row->SubItems[siName]
                                      : row->Caption;
        auto same = std::find_if(byName.begin(), byName.end(),
                                 [&name](const auto& entry) { return entry.first == name; });
        if (same == byName.end())
            byName.emplace_back(name, std::vector<uint32_t>{row->Id});
        else
            same->second.push_back(row->Id);
    }
    std::string named;
    size_t shown = 0;
    for (const auto& [name, ids] : byName) {
        if (shown >= kNamedIds)
            break;
        named += (named.empty() ? "" : "; ") + name;
        for (size_t i = 0; i < ids.size() && shown < kNamedIds; ++i, ++shown)
            named += (i == 0 ? " " : ", ") + std::to_string(ids[i]);
    }
    if (shown < rows.size())
        named += " ...";
    if (rows.size() == 1)
        return QString::fromStdString(FormatText(WindowText(wtJobNamed), {named}));
    return QString::fromStdString(
        FormatText(WindowText(wtJobsNamed), {static_cast<int>(rows.size()), named}));
}

void TfMain::ShowTrayState() {
    TTrayState state = TTrayState::NoModule;
    if (TModuleControl* module = ActiveModule()) {
        if (module->IsPaused())
            state = TTrayState::Paused;
        else if (JobCounts().Held > 0)
            state = TTrayState::Held;
        else
            state = TTrayState::Running;
    }
    if (state == ShownTrayState && !Tray.icon().isNull())
        return;
    ShownTrayState = state;
    if (state == TTrayState::NoModule) {
        Tray.setIcon(AppIcon);
        return;
    }
    // The program's picture with a badge in its lower right corner: a green triangle while it
    // runs, two grey bars while it is paused, an orange disc with a bar while jobs are held.
    QPixmap picture = AppIcon.pixmap(32, 32);
    if (picture.isNull())
        picture = QPixmap(32, 32);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(17, 17, 14, 14);
    const QColor fill = state == TTrayState::Running  ? QColor(0x2e, 0x9d, 0x3a)
                        : state == TTrayState::Paused ? QColor(0x80, 0x80, 0x80)
                                                      : QColor(0xf0, 0x8c, 0x00);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(fill);
    painter.drawEllipse(badge);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    if (state == TTrayState::Running) {
        const QPointF play[] = {{22, 20.5}, {22, 27.5}, {28, 24}};
        painter.drawPolygon(play, 3);
    } else if (state == TTrayState::Paused) {
        painter.drawRect(QRectF(20.5, 20.5, 2.5, 7));
        painter.drawRect(QRectF(25, 20.5, 2.5, 7));
    } else {
        painter.drawRect(QRectF(20.5, 22.75, 7, 2.5));
    }
    painter.end();
    Tray.setIcon(QIcon(picture));
}

} // namespace raduvuz
