#include "platform/Registry.h"

#include <cstdlib>
#include <fstream>
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
    std::vector<std::string> Sections;
    std::vector<TRegistryEntry> Entries;
};

// Read afresh on every lookup: the file is tiny, and tests change it between calls.
TRegistryFile LoadRegistry() {
    TRegistryFile registry;
    std::ifstream in(RegistryFile(), std::ios::binary);
    if (!in)
        return registry;

    std::string line;
    std::string section;
    bool inSection = false;
    bool firstLine = true;
    while (std::getline(in, line)) {
        std::string_view text(line);
        if (firstLine && text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        firstLine = false;
        text = Trim(text);
        if (text.empty() || text.front() == ';' || text.front() == '#')
            continue;
        if (text.front() == '[') {
            size_t close = text.rfind(']');
            if (close == std::string_view::npos || close == 0)
                continue;
            section = std::string(KeyBody(text.substr(1, close - 1)));
            inSection = true;
            registry.Sections.push_back(section);
            continue;
        }
        size_t equals = text.find('=');
        if (!inSection || equals == std::string_view::npos)
            continue;
        registry.Entries.push_back({section, std::string(Trim(text.substr(0, equals))),
                                    std::string(Trim(text.substr(equals + 1)))});
    }
    return registry;
}

} // namespace

std::string RegistryFile() {
    const char* overridden = std::getenv("RADUVUZ_REGISTRY");
    if (overridden != nullptr && *overridden != '\0')
        return overridden;
    return kDefaultRegistryFile;
}

bool RegistryKeyExists(std::string_view keyPath) {
    std::string_view wanted = KeyBody(keyPath);
    if (wanted.empty())
        return false;
    TRegistryFile registry = LoadRegistry();
    for (const std::string& section : registry.Sections) {
        std::string_view name(section);
        if (SameAsciiText(name, wanted))
            return true;
        // A key exists as soon as one of its sub keys does, as in the real registry.
        if (name.size() > wanted.size() && name[wanted.size()] == '\\' &&
            SameAsciiText(name.substr(0, wanted.size()), wanted))
            return true;
    }
    return false;
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
