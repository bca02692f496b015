#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

// The hold file (<key>.hld in the Config folder): the held jobs that Close leaves for the next
// start, one entry "JobID_DocID" per line.

// A hold file larger than this is not one the module wrote; it is left alone.
inline constexpr size_t kMaxHoldFileBytes = 16 * 1024 * 1024;

// The entries of a hold file's text: its lines without line ends ("\n", "\r\n"); empty lines
// hold no entry.
std::vector<std::string> ParseHoldFile(std::string_view text);
// The text Close writes: each entry and "\n".
std::string HoldFileText(const std::vector<std::string>& entries);

} // namespace raduvuz
