#pragma once

#include "jobs/TJobList.h"
#include "jobs/TJobState.h"

#include <array>
#include <cstdint>
#include <optional>

namespace raduvuz {

struct TListRow;

// The job actions of the main window whose enabled state the list rules decide.
enum class TJobAction {
    Abort,
    SelectAll,
    Delete,
    Reprocess,
    SendToDevice,
    SaveAs,
    UnHold,
    Hold,
    ChangeName,
    Compos,
    GenPreview,
    JobMerge,
    Priority,
    Count
};

// What a rule decides: enabled or disabled for the actions it names; the others keep their state.
class TJobActionStates {
public:
    void Set(TJobAction action, bool enabled) { States[Index(action)] = enabled; }
    std::optional<bool> Get(TJobAction action) const { return States[Index(action)]; }

private:
    static size_t Index(TJobAction action) { return static_cast<size_t>(action); }
    std::array<std::optional<bool>, static_cast<size_t>(TJobAction::Count)> States{};
};

// What the rules read of the job that owns the selected row of the list of jobs in process.
struct TRowJob {
    bool Found = false;
    TJobState State = TJobState::Reading;
    bool Held = false;
};

// The first job in jobs, in list order, whose row is row; nothing found for a null row.
TRowJob JobOfRow(const TJobList& jobs, const TListRow* row);

// A raster job: its "Type" column, upper-cased, is "RST" or "RSTBND".
bool IsRasterRow(const TListRow* row);

// The rules of the two job lists. selected is the list's current selected row (null without a
// selection); moduleSet tells whether there is a current module, job is what JobOfRow found.
TJobActionStates ProcessJobsEnterRule(const TListRow* selected, bool moduleSet, const TRowJob& job);
TJobActionStates ProcessJobsExitRule();
TJobActionStates CompletedJobsEnterRule(const TListRow* selected);
TJobActionStates CompletedJobsExitRule();

// Select all in the active list(s): with rows, the actions of that list; the composed previews
// only when every selected row is a raster job.
TJobActionStates SelectAllRule(bool processActive, int processRows, bool completedActive,
                               int completedRows, bool allRaster);
// After a command changed passed jobs, the actions of their list wait until the operator selects
// again.
TJobActionStates PassedJobsChangedRule();

} // namespace raduvuz
