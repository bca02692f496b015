#pragma once

#include <string>

namespace raduvuz {

// The process-shared go event of the RIP side: a signalled flag with a mutex and a condition
// variable in POSIX shared memory. The module only opens and waits; tools create and set it.
// $RADUVUZ_GO_EVENT overrides the name "/NM_RIP_GO_EVENT" so tests can run side by side.
std::string GoEventName();

bool GoEventCreate(bool signalled = false);
bool GoEventSet();
bool GoEventReset();
bool GoEventRemove();
bool GoEventExists();

// Returns at once when the event does not exist; else blocks until it is signalled.
void WaitGoEvent();

} // namespace raduvuz
