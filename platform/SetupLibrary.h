#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace raduvuz {

// The module's setup library, <program file name>.mod in the program folder: its export
// "extern C int32_t DoAction(int32_t zero, const char* selfReference)" shows the module's setup
// and answers non-zero when it changed the settings. Once loaded, the library stays loaded for
// the life of the process; one that is missing is looked for again at the next call.
class TSetupLibrary {
public:
    TSetupLibrary() = default;
    TSetupLibrary(const TSetupLibrary&) = delete;
    TSetupLibrary& operator=(const TSetupLibrary&) = delete;

    // DoAction's answer; nullopt when the library or its export cannot be found (Error says why).
    std::optional<int32_t> DoAction(const std::string& path, const std::string& selfReference);
    bool Loaded() const { return Handle != nullptr; }
    std::string Error;

private:
    void* Handle = nullptr;
};

} // namespace raduvuz
