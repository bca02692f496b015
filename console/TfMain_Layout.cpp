// The view: which of the lists, the log and the preview panel are shown, the splitters between
// them, and the (switched off) preview.

#include "console/TfMain.h"

#include "common/Language.h"
#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TSplitterBar.h"

#include <QAction>
#include <QComboBox>
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
    cbPreview->hide();
}

void TfMain::ShowPreview(TListRow*) {
    // The preview display is switched off: selecting a job shows nothing.
}

} // namespace raduvuz
