#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace raduvuz {

// The read-only registry: an INI file whose sections are key paths as Windows writes them
// ("SOFTWARE\Tarnwick\Korvo PDF Server\5.0") and whose entries are values. The file is
// $RADUVUZ_REGISTRY, else /etc/opt/raduvuz/registry.ini; it is never created or written.
std::string RegistryFile();
std::optional<std::string> RegistryString(std::string_view keyPath, std::string_view valueName);

inline constexpr const char* kServerKey = "SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0";
inline constexpr const char* kWorkflowKey = "SOFTWARE\\Tarnwick\\TernWorkFlow";

} // namespace raduvuz
