// The window's layout in the "Config" stream of the module's configuration file: the keys of the
// original layout, then the order each list is sorted in (PSort, CSort: column and 1 for
// descending; column -1 for the list's own order) and the optional columns shown (PState,
// PPriority, CState, CPriority).

#include "console/TfMain.h"

#include "common/TParams.h"
#include "common/Utils.h"
#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "platform/TCompoundFile.h"

#include <QAction>

#include <utility>

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
    text += FormatText(";PSort=%d,%d;CSort=%d,%d",
                       {lvProcessJobs->SortColumn(),
                        lvProcessJobs->SortOrder() == Qt::DescendingOrder ? 1 : 0,
                        lvCompletedJobs->SortColumn(),
                        lvCompletedJobs->SortOrder() == Qt::DescendingOrder ? 1 : 0});
    text += FormatText(
        ";PState=%d;PPriority=%d;CState=%d;CPriority=%d",
        {AViewProcessState->isChecked() ? 1 : 0, AViewProcessPriority->isChecked() ? 1 : 0,
         AViewPassedState->isChecked() ? 1 : 0, AViewPassedPriority->isChecked() ? 1 : 0});
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
    // The preview panel comes back as it was left.
    AViewPreview->setChecked(ItemOf(params, "PreviewView") == "1");
    ReadInt(params, "ProcessJobsHeight", SavedProcessJobsHeight);
    for (const auto& [key, choice] :
         {std::pair{"PState", AViewProcessState}, std::pair{"PPriority", AViewProcessPriority},
          std::pair{"CState", AViewPassedState}, std::pair{"CPriority", AViewPassedPriority}}) {
        const std::string shown = ItemOf(params, key);
        if (!shown.empty())
            choice->setChecked(shown != "0");
    }

    for (int i = 0; i < kColumnCount; ++i) {
        const std::string process = params.GetItem("PCol" + std::to_string(i), 0);
        if (!process.empty())
            lvProcessJobs->SetColumnWidth(i, StrToIntDef(process, 0));
        const std::string completed = params.GetItem("CCol" + std::to_string(i), 0);
        if (!completed.empty())
            lvCompletedJobs->SetColumnWidth(i, StrToIntDef(completed, 0));
    }
    ApplyColumnChoice();
    for (const auto& [key, list] :
         {std::pair{"PSort", lvProcessJobs}, std::pair{"CSort", lvCompletedJobs}}) {
        const std::string column = params.GetItem(key, 0);
        if (!column.empty())
            list->SortBy(StrToIntDef(column, -1),
                         params.GetItem(key, 1) == "1" ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
    // The process list takes the height it had: the splitter between the lists stands where it
    // was left (the rules below repair only a layout that does not fit).
    if (AViewProcessJobs->isChecked() && AViewCompletedJobs->isChecked()) {
        Panel2->SetAlign(lvProcessJobs, TAlignPanel::TAlign::Top);
        lvProcessJobs->resize(lvProcessJobs->width(), SavedProcessJobsHeight);
    }
    TuneJobsView();
    TunePreviewView();
    // AViewLog turns the check back and applies the log's visibility.
    AViewLog->setChecked(!AViewLog->isChecked());
    AViewLog->trigger();
    KeepLogRoom();
}

} // namespace raduvuz
