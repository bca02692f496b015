#include "control/TTickScope.h"

#include "control/IEventLoop.h"
#include "control/TModuleControl.h"

namespace raduvuz {

TTickScope::TTickScope(TModuleControl& module)
    : Module(module), StartGeneration(module.Generation()), WasBusy(module.Busy) {
    ++Module.Ticks;
    Module.Busy = true;
}

TTickScope::~TTickScope() {
    Module.Busy = WasBusy;
    if (--Module.Ticks == 0) {
        Module.ReleaseDeferred();
        Module.WorkEnded();
    }
}

bool TTickScope::Pump() {
    Module.Loop().ProcessPendingMessages();
    return Valid();
}

bool TTickScope::Valid() const {
    return Module.Generation() == StartGeneration && Module.Current;
}

} // namespace raduvuz
