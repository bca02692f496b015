#include "platform/Registry.h"

#include "platform/IniFile.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace raduvuz {

namespace {

constexpr const char* kDefaultRegistryFile = "/etc/opt/raduvuz/registry.ini";

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameAsciiText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Key paths are written with or without the leading "\" of the hive's root.
std::string_view KeyBody(std::string_view keyPath) {
    keyPath = Trim(keyPath);
    if (!keyPath.empty() && keyPath.front() == '\\')
        keyPath.remove_prefix(1);
    return keyPath;
}

struct TRegistryEntry {
    std::string Section;
    std::string Name;
    std::string Value;
};

struct TRegistryFile {
    std::vector<TRegistryEntry> Entries;
};

// Read afresh on every lookup: the file is tiny, and tests change it between calls. Malformed
// lines and entries before the first section are passed over.
TRegistryFile LoadRegistry() {
    TRegistryFile registry;
    std::ifstream in(RegistryFile(), std::ios::binary);
    if (!in)
        return registry;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TIniHandlers handlers;
    handlers.Entry = [&](const TIniEntry& entry) {
        if (entry.InSection)
            registry.Entries.push_back({std::string(KeyBody(entry.Section)),
                                        std::string(entry.Name), std::string(entry.Value)});
    };
    ReadIni(text, handlers);
    return registry;
}

} // namespace

std::string RegistryFile() {
    const char* overridden = std::getenv("RADUVUZ_REGISTRY");
    if (overridden != nullptr && *overridden != '\0')
        return overridden;
    return kDefaultRegistryFile;
}

std::optional<std::string> RegistryString(std::string_view keyPath, std::string_view valueName) {
    std::string_view wanted = KeyBody(keyPath);
    std::string_view name = Trim(valueName);
    TRegistryFile registry = LoadRegistry();
    for (const TRegistryEntry& entry : registry.Entries)
        if (SameAsciiText(entry.Section, wanted) && SameAsciiText(entry.Name, name))
            return entry.Value;
    return std::nullopt;
}

} // namespace raduvuz
