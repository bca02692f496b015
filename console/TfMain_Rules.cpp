// Which job actions are enabled: the rules of the two lists (JobActionRules) applied to the
// actions when a list is entered, left or its selection changes.

#include "console/TfMain.h"

#include "console/TJobListView.h"
#include "control/TModuleControl.h"

#include <QAction>

namespace raduvuz {

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
    const TRowJob job = module ? JobOfRow(module->JobsInProcess(), selected) : TRowJob{};
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

} // namespace raduvuz
