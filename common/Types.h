#pragma once

// The common layer: what every part of the module shares (parameter lists, comma texts, paths
// and their macros, date-times, formatting, language texts, small utilities). It includes
// platform/ and the C++ library; no Qt.

#include <cstdint>
#include <string>
#include <vector>

namespace raduvuz {

// Date-times are day counts since 30 December 1899 (local time); the fraction is the time of day.
using TDateTime = double;

// An entry of an ordered string list whose strings carry an integer tag: a flow-entry rule with
// its destination, a terminator name or key with its number, a destination name.
struct TTaggedString {
    std::string Text;
    int32_t Tag = 0;
};
using TTaggedList = std::vector<TTaggedString>;

} // namespace raduvuz
