#pragma once

#include <cstdint>

namespace raduvuz {

class TModuleControl;

// A processing tick, or any other work that pumps messages while it holds jobs. While one is
// open the module is Busy, a Close that arrives through the pump only detaches the jobs (they
// are freed when the outermost scope ends), and a job freed meanwhile is destroyed only then.
// After each Pump the work goes on only while Valid().
class TTickScope {
public:
    explicit TTickScope(TModuleControl& module);
    ~TTickScope();
    TTickScope(const TTickScope&) = delete;
    TTickScope& operator=(const TTickScope&) = delete;

    // Lets the user interface handle its pending events (incoming calls among them); false when
    // the module was closed or initialised again meanwhile.
    bool Pump();
    // The module still has the lists this scope started with and is still Current.
    bool Valid() const;

private:
    TModuleControl& Module;
    uint64_t StartGeneration;
    bool WasBusy;
};

} // namespace raduvuz
