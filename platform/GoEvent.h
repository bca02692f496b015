#pragma once

#include <string>

namespace raduvuz {

// The process-shared go event of the RIP side: a signalled flag with a mutex and a condition
// variable in POSIX shared memory. The module only opens and waits; tools create and set it.
// Each call names the event's shared-memory object; a missing leading "/" is added.
inline constexpr const char* kGoEventName = "/NM_RIP_GO_EVENT";

bool GoEventCreate(const std::string& name, bool signalled = false);
bool GoEventSet(const std::string& name);
bool GoEventReset(const std::string& name);
bool GoEventRemove(const std::string& name);
bool GoEventExists(const std::string& name);

// Returns at once when the event does not exist; else blocks until it is signalled. True when
// it had to wait (the event was there and not signalled).
bool WaitGoEvent(const std::string& name);

} // namespace raduvuz
