#include "console/TResourceFile.h"

#include "platform/System.h"

#include <cstdint>
#include <fstream>

namespace raduvuz {

// The block the build makes for this program (EmbeddedResources.cpp, generated).
extern const unsigned char kEmbeddedResources[];
extern const unsigned kEmbeddedResourcesSize;

namespace {

constexpr std::string_view kBegin("\x7FRaduvuzResources\x01", 18);
constexpr std::string_view kEnd("\x7FRaduvuzResourcesEnd\x01", 21);

uint32_t ReadU32(std::string_view bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// Entries: a name ending in a zero byte, a 32-bit little-endian length, the data.
bool ParseEntries(std::string_view area, std::map<std::string, std::string, std::less<>>& out) {
    size_t at = 0;
    while (at < area.size()) {
        const size_t zero = area.find('\0', at);
        if (zero == std::string_view::npos || area.size() - zero - 1 < 4)
            return false;
        const std::string name(area.substr(at, zero - at));
        const uint32_t length = ReadU32(area, zero + 1);
        const size_t data = zero + 5;
        if (name.empty() || area.size() - data < length)
            return false;
        out[name] = std::string(area.substr(data, length));
        at = data + length;
    }
    return true;
}

} // namespace

TResourceFile::TResourceFile(const std::string& fileName) {
    const std::string path = fileName.empty() ? ProgramFile() : fileName;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return;
    const std::streamoff size = in.tellg();
    if (size <= 0)
        return;
    std::string bytes(static_cast<size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size))
        return;
    ParseFrom(bytes);
}

bool TResourceFile::ParseFrom(std::string_view bytes) {
    Found = false;
    Entries.clear();
    // The marker's text also lies among this program's own constants; only a whole block counts.
    for (size_t at = bytes.find(kBegin); at != std::string_view::npos;
         at = bytes.find(kBegin, at + 1)) {
        const size_t lengthAt = at + kBegin.size();
        if (bytes.size() - lengthAt < 4)
            break;
        const uint32_t length = ReadU32(bytes, lengthAt);
        const size_t area = lengthAt + 4;
        if (bytes.size() - area < static_cast<size_t>(length) + kEnd.size())
            continue;
        if (bytes.substr(area + length, kEnd.size()) != kEnd)
            continue;
        std::map<std::string, std::string, std::less<>> entries;
        if (!ParseEntries(bytes.substr(area, length), entries))
            continue;
        Entries = std::move(entries);
        Found = true;
        return true;
    }
    return false;
}

std::optional<std::string> TResourceFile::Find(std::string_view name) const {
    const auto entry = Entries.find(name);
    if (entry == Entries.end())
        return std::nullopt;
    return entry->second;
}

const TResourceFile& TResourceFile::Own() {
    static const TResourceFile own = [] {
        TResourceFile file;
        file.ParseFrom(std::string_view(reinterpret_cast<const char*>(kEmbeddedResources),
                                        kEmbeddedResourcesSize));
        return file;
    }();
    return own;
}

} // namespace raduvuz
