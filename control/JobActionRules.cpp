#include "control/JobActionRules.h"

#include "common/CommaText.h"
#include "jobs/TJobList.h"
#include "jobs/TJobListModel.h"

namespace raduvuz {

TRowJob JobOfRow(const TJobList& jobs, const TListRow* row) {
    TRowJob result;
    if (row == nullptr)
        return result;
    for (const TDoc* job : jobs) {
        if (job != nullptr && job->ListItem == row) {
            result.Found = true;
            result.State = job->State();
            result.Held = job->Held();
            break;
        }
    }
    return result;
}

bool IsRasterRow(const TListRow* row) {
    if (row == nullptr || row->SubItems.size() <= static_cast<size_t>(siType))
        return false;
    const std::string type = AsciiUpper(row->SubItems[siType]);
    return type == "RST" || type == "RSTBND";
}

TJobActionStates ProcessJobsEnterRule(const TListRow* selected, bool moduleSet,
                                      const TRowJob& job) {
    TJobActionStates states;
    const bool hasSelection = selected != nullptr;
    states.Set(TJobAction::Abort, hasSelection && (!job.Found || MayAbort(job.State)));
    states.Set(TJobAction::SelectAll, true);
    for (TJobAction action :
         {TJobAction::Delete, TJobAction::Reprocess, TJobAction::SendToDevice, TJobAction::SaveAs,
          TJobAction::UnHold, TJobAction::Hold, TJobAction::ChangeName, TJobAction::Compos,
          TJobAction::GenPreview, TJobAction::JobMerge})
        states.Set(action, false);
    states.Set(TJobAction::Priority, hasSelection && (!job.Found || MaySetPriority(job.State)));
    if (moduleSet && job.Found && MayRename(job.State) && hasSelection) {
        const bool raster = IsRasterRow(selected);
        states.Set(TJobAction::UnHold, MayRelease(job.State, job.Held));
        states.Set(TJobAction::Hold, MayHold(job.State, job.Held));
        states.Set(TJobAction::ChangeName, true);
        states.Set(TJobAction::Compos, raster);
        states.Set(TJobAction::GenPreview, raster);
        states.Set(TJobAction::JobMerge, true);
    }
    return states;
}

TJobActionStates ProcessJobsExitRule() {
    TJobActionStates states;
    states.Set(TJobAction::SelectAll, false);
    states.Set(TJobAction::UnHold, false);
    states.Set(TJobAction::Hold, false);
    return states;
}

TJobActionStates CompletedJobsEnterRule(const TListRow* selected) {
    TJobActionStates states;
    const bool hasSelection = selected != nullptr;
    for (TJobAction action : {TJobAction::Delete, TJobAction::Reprocess, TJobAction::SendToDevice,
                              TJobAction::SaveAs, TJobAction::ChangeName, TJobAction::JobMerge})
        states.Set(action, hasSelection);
    const bool raster = hasSelection && IsRasterRow(selected);
    states.Set(TJobAction::Compos, raster);
    states.Set(TJobAction::GenPreview, raster);
    for (TJobAction action :
         {TJobAction::Abort, TJobAction::UnHold, TJobAction::Hold, TJobAction::Priority})
        states.Set(action, false);
    states.Set(TJobAction::SelectAll, true);
    return states;
}

TJobActionStates CompletedJobsExitRule() {
    TJobActionStates states;
    states.Set(TJobAction::SelectAll, false);
    states.Set(TJobAction::SaveAs, false);
    return states;
}

TJobActionStates SelectAllRule(bool processActive, int processRows, bool completedActive,
                               int completedRows, bool allRaster) {
    TJobActionStates states;
    if (processActive && processRows > 0) {
        for (TJobAction action :
             {TJobAction::Abort, TJobAction::UnHold, TJobAction::Hold, TJobAction::Priority})
            states.Set(action, true);
    }
    if (completedActive && completedRows > 0) {
        for (TJobAction action :
             {TJobAction::Delete, TJobAction::Reprocess, TJobAction::SendToDevice,
              TJobAction::ChangeName, TJobAction::SaveAs, TJobAction::JobMerge})
            states.Set(action, true);
        states.Set(TJobAction::Compos, allRaster);
        states.Set(TJobAction::GenPreview, allRaster);
    }
    return states;
}

TJobActionStates PassedJobsChangedRule() {
    TJobActionStates states;
    for (TJobAction action : {TJobAction::Delete, TJobAction::Reprocess, TJobAction::SendToDevice,
                              TJobAction::ChangeName, TJobAction::SaveAs})
        states.Set(action, false);
    return states;
}

} // namespace raduvuz
