// Module work whose behaviour comes with later parts of the module.

#include "control/TModuleControl.h"

namespace raduvuz {

// Nothing can keep a job yet: no job is taken in and no saved-job record is made before the
// intake, the saved-job store and the retention policy land, so the pass has nothing to delete.
void TModuleControl::RetentionPass() {}

} // namespace raduvuz
