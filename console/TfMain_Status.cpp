// The counts of jobs in the status bar and in the tray tip.

#include "console/TfMain.h"

#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/TJobTableModel.h"
#include "control/TModuleControl.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>

namespace raduvuz {

namespace {

// Counting waits this long after a change of the lists, so that a job streaming its blocks
// costs a count a few times a second, not one per block.
constexpr int kCountsDelayMs = 200;

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
}

void TfMain::SetTip(const QString& description) {
    TipDescription = description;
    ShowJobCounts();
}

} // namespace raduvuz
