// The window's layout in the "Config" stream of the module's configuration file.

#include "console/TfMain.h"

#include "common/TParams.h"
#include "common/Utils.h"
#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "platform/TCompoundFile.h"

#include <QAction>

namespace raduvuz {

namespace {

constexpr int kColumnCount = TJobTableModel::kColumnCount;

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
