#include "control/HoldFile.h"

namespace raduvuz {

std::vector<std::string> ParseHoldFile(std::string_view text) {
    std::vector<std::string> entries;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty())
            entries.emplace_back(line);
    }
    return entries;
}

std::string HoldFileText(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries)
        text += entry + "\n";
    return text;
}

} // namespace raduvuz
