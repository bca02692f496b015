#pragma once

#include <cstdint>
#include <string>

namespace raduvuz {

// The module's settings a job reads, as one value that a job only reads. The module makes it from
// its settings through control/SettingRules (JobSettingsOf), which also checks each value where
// it comes in (a loaded, imported or set value).
struct TJobSettings {
    int32_t ModuleNumber = 0;
    int32_t Copies = 0;
    bool Multiplex = false;
    int32_t DeletePolicy = 1;
    int32_t WorkMode = 0;
    bool LastInTop = true;
    int32_t LogLevel = 1;
    // Whether each step first waits for the go event.
    bool Event = true;
    std::string JobDir;
    // How long a transferring job waits, serving events, between two attempts to create its
    // output document.
    int RetryDelayMs = 1000;
};

} // namespace raduvuz
