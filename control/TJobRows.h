#pragma once

#include "jobs/TJobListModel.h"

namespace raduvuz {

// The module's two job lists, owned by the core: the jobs in process and the passed jobs, with
// the change serials they share. The console, the job-control adaptor and the web gateway only
// view them; a module without a window has the same rows.
class TJobRows {
public:
    TJobListModel& Process() { return ProcessRows; }
    const TJobListModel& Process() const { return ProcessRows; }
    TJobListModel& Passed() { return PassedRows; }
    const TJobListModel& Passed() const { return PassedRows; }
    const TRowChanges& Changes() const { return Serials; }

private:
    // Declared first: the lists stamp their rows with it until they go.
    TRowChanges Serials;
    TJobListModel ProcessRows{&Serials};
    TJobListModel PassedRows{&Serials};
};

} // namespace raduvuz
