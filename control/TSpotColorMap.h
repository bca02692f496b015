#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

// A CMYK recipe in whole percent and where it came from.
struct TSpotColorStruc {
    int32_t Cyan = 0;
    int32_t Magenta = 0;
    int32_t Yellow = 0;
    int32_t Black = 0;
    // The header block the entry was read under; empty for entries the operator made.
    std::string Prefix;
    std::string Suffix;
    // The name as the file writes it.
    std::string Name;
    // Prefix, name and suffix in upper case, joined by blanks: what lookups compare with.
    std::string Key;
};

struct TSpotColor {
    TSpotColorStruc Color;
    // Kept beside the recipe and never filled.
    TSpotColorStruc Spare;
    int32_t Reserved = 0;
};

// The spot colour map: each known spot colour name with its CMYK recipe, in file order and then
// in the order they were added. Names may repeat; a lookup finds the first.
class TSpotColorMap {
public:
    // The map file's name in the program folder.
    static constexpr const char* kFileName = "ColorsCMYK.map";
    static constexpr const char* kBackupName = "ColorsCMYK.bak";

    std::vector<TSpotColor> Entries;

    // Appends the entries of a map text, line by line as the file holds them.
    void Read(std::string_view text);
    // The map as its file holds it: header blocks where prefix or suffix change, lines ended by
    // CR LF. An entry without a name takes its key as name; one without either is left out.
    std::string Write();

    // Reads the file at path; false, with the map unchanged, when there is no such file or it
    // cannot be read.
    bool Load(const std::string& path, std::string& error);
    // Writes the map over the file at path; the previous file stays as backup. The old map is
    // still whole at path whenever the save is cut short.
    bool Save(const std::string& path, const std::string& backup, std::string& error);

    // The first entry whose key equals the upper-cased name, or -1.
    int FindColor(std::string_view name) const;
    void Clear() { Entries.clear(); }
};

// Nearest integer of a percentage text with "." as decimal point, halves to the even integer
// (12.5 is 12, 13.5 is 14); 0 for a text that is not a number.
int32_t PercentOfText(std::string_view text);

struct TSwatchColour {
    int Red = 255;
    int Green = 255;
    int Blue = 255;
};

// The screen colour of a CMYK recipe: each ink and black take their share off white.
TSwatchColour SwatchOf(int32_t cyan, int32_t magenta, int32_t yellow, int32_t black);

} // namespace raduvuz
