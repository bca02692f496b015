// Module work whose behaviour comes with later parts of the module.

#include "control/TModuleControl.h"

namespace raduvuz {

// Nothing can keep a job yet: no job is taken in and no saved-job record is made before the
// intake, the saved-job store and the retention policy land, so the pass has nothing to delete.
void TModuleControl::RetentionPass() {}

// The kept jobs come back into the lists with the saved-job store; until then the first complete
// terminator set finds nothing to reload.
void TModuleControl::ReloadSavedJobs() {}

// Retention triggers and the processing tick come with the intake; until then a timer tick has
// no job to serve.
void TModuleControl::TimerTimer() {}

} // namespace raduvuz
