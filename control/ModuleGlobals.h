#pragma once

#include "services/Dispatch.h"
#include "services/TServerClient.h"
#include "services/TStoreClient.h"

#include <cstdint>
#include <functional>
#include <string>

namespace raduvuz {

class TModuleControl;

// Process-wide state: one module object per process. The main window, the jobs and the timer
// reach the module through CurrentModule and do nothing while it is empty.
extern TModuleControl* CurrentModule;
// The first workflow server given to Init stays for the process's life.
extern TServerClient ServerObject;
// The document store, created once per process by Init.
extern TStoreClient StoreObject;
extern int32_t ServerValue1004;

// Creates an automation object by its ProgID; the application provides it (the D-Bus binding,
// or in-process objects in tests). Throws when the object cannot be created.
using TObjectFactory = std::function<TDispatchPtr(const std::string& progId)>;
void SetObjectFactory(TObjectFactory factory);
TDispatchPtr CreateObjectByProgId(const std::string& progId);

// Back to the state of a new process (tests only).
void ResetModuleProcessForTesting();

} // namespace raduvuz
