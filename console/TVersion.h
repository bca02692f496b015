#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace raduvuz {

// The version information of a program file, as the build embedded it. A file without it
// leaves every field zero or empty.
class TVersion {
public:
    // An empty name reads the running program's own file.
    explicit TVersion(const std::string& fileName);
    // Every field zero or empty, for ParseBlock to fill.
    TVersion() = default;

    // The raw version block (the "VERSION" text of the file).
    std::string Block;
    // Major, minor, release, build.
    std::array<uint16_t, 4> FileVersion{};
    std::array<uint16_t, 4> ProductVersion{};
    // At most 255 characters each.
    std::string FileDescription;
    std::string CompanyName;
    std::string LegalCopyright;
    std::string Comments;

    // Reads the fields from a version block's "Key=Value" lines.
    void ParseBlock(const std::string& block);
};

} // namespace raduvuz
