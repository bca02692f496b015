// The view: which of the lists, their columns, the log and the preview panel are shown, the
// splitters between them, and the preview of the selected job.

#include "console/TfMain.h"

#include "common/Language.h"
#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TSplitterBar.h"
#include "control/TModuleControl.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QToolBar>

namespace raduvuz {

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
    TJobListView* list = CompletedListActive ? lvCompletedJobs : lvProcessJobs;
    ShowPreview(list->Selected());
}

void TfMain::ApplyColumnChoice() {
    const struct {
        TJobListView* List;
        QAction* Choice;
        int Column;
    } columns[] = {{lvProcessJobs, AViewProcessState, TJobTableModel::kStateColumn},
                   {lvProcessJobs, AViewProcessPriority, TJobTableModel::kPriorityColumn},
                   {lvCompletedJobs, AViewPassedState, TJobTableModel::kStateColumn},
                   {lvCompletedJobs, AViewPassedPriority, TJobTableModel::kPriorityColumn}};
    for (const auto& column : columns) {
        const bool shown = column.Choice->isChecked();
        column.List->setColumnHidden(column.Column, !shown);
        // A column shown again that was never wide gets a width to be read.
        if (shown && column.List->ColumnWidth(column.Column) < 20)
            column.List->SetColumnWidth(column.Column, 60);
    }
}

void TfMain::KeepLogRoom() {
    if (!AViewLog->isChecked() || Log->isHidden())
        return;
    RealignAll();
    // The log keeps this many pixels; the lists above it give way, though never below the
    // height of the upper pane's own rule.
    constexpr int kLogRoom = 68;
    constexpr int kLowestJobs = 42;
    const int room = Root->contentsRect().height() - Splitter1->height();
    if (Log->height() >= kLogRoom || room <= kLowestJobs)
        return;
    Panel1->resize(Panel1->width(), std::max(kLowestJobs, room - kLogRoom));
    RealignAll();
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

void TfMain::ClearPreview() {
    pPageSize->setText(QString::fromStdString(LanguageText(1719, "Preview not found")));
    iPreview->hide();
    iPreview->clear();
    cbPreview->hide();
}

void TfMain::ShowPreview(TListRow* row) {
    if (!AViewPreview->isChecked())
        return;
    ClearPreview();
    // The text above the picture takes the lines it needs in the panel's width.
    const auto fit = [this] {
        const int width = pPreview->contentsRect().width();
        pPreviewText->resize(width, std::max(40, pPageSize->heightForWidth(width - 4) + 4));
        pPreview->Realign();
    };
    const auto say = [&](const std::string& why) {
        pPageSize->setText(QString::fromStdString(why));
        fit();
    };
    if (!row) {
        say(WindowText(wtNoJobSelected));
        return;
    }
    TModuleControl* module = ActiveModule();
    if (!module || module->GetPreviewDir().empty()) {
        say(WindowText(wtNoPreviewFolder));
        return;
    }
    // The workflow keeps a job's preview pictures in a folder named after its job number.
    const QString folder = QString::fromStdString(module->GetPreviewDir() + "/" + row->Caption);
    const QDir dir(folder);
    if (!dir.exists()) {
        say(FormatText(WindowText(wtNoPreview), {row->Caption, folder.toStdString()}));
        return;
    }
    for (const QString& name : dir.entryList(QDir::Files | QDir::Readable, QDir::Name)) {
        QImageReader reader(dir.filePath(name));
        const QImage picture = reader.read();
        if (picture.isNull())
            continue;
        pPageSize->setText(name);
        fit();
        const int width = std::max(32, pPreview->contentsRect().width() - 4);
        iPreview->setPixmap(QPixmap::fromImage(
            picture.scaledToWidth(std::min(width, picture.width()), Qt::SmoothTransformation)));
        iPreview->show();
        return;
    }
    say(FormatText(WindowText(wtNoPreviewPicture), {row->Caption, folder.toStdString()}));
}

} // namespace raduvuz
