#pragma once

#include <cstdint>
#include <string>

namespace raduvuz {

// Registers a folder the module created for removal at uninstall through the installer's
// helper library zIzazoDa.so in the program folder; 0 and nothing done when it is missing.
int32_t RegisterForUninstall(const std::string& programFolder, const std::string& path,
                             int32_t flag);

} // namespace raduvuz
