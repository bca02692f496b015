#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace raduvuz {

// Named data embedded in a program file at build time: the version information ("VERSION"),
// the about picture ("ABOUTIMAGE") and the program's icon ("MAINICON"). The build puts them in
// one block of the file, between a begin marker with the block's length and an end marker;
// reading a file scans it for a block that is whole.
class TResourceFile {
public:
    // An empty name reads the running program's own file.
    explicit TResourceFile(const std::string& fileName);
    TResourceFile() = default;

    bool Loaded() const { return Found; }
    std::optional<std::string> Find(std::string_view name) const;

    // The block of the running program, read from memory.
    static const TResourceFile& Own();
    // The first whole block in bytes; false when there is none.
    bool ParseFrom(std::string_view bytes);

private:
    bool Found = false;
    std::map<std::string, std::string, std::less<>> Entries;
};

} // namespace raduvuz
