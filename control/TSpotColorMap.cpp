#include "control/TSpotColorMap.h"

#include "common/Utils.h"
#include "platform/SafeReplace.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace raduvuz {

namespace {

constexpr std::string_view kPrefixTag = "PREFIX";
constexpr std::string_view kSuffixTag = "SUFFIX";
// The text of a prefix or suffix starts this many characters after the first of its tag.
constexpr size_t kTagValueOffset = 7;
constexpr int kPercentFields = 4;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string TagValue(const std::string& line, std::string_view tag) {
    const size_t start = line.find(tag) + kTagValueOffset;
    return start < line.size() ? Trim(std::string_view(line).substr(start)) : std::string();
}

void AppendLine(std::string& out, std::string_view line) {
    out.append(line);
    out.append("\r\n");
}

} // namespace

int32_t PercentOfText(std::string_view text) {
    const double value = std::nearbyint(ReadRealPoint(text, 0));
    constexpr double kLow = std::numeric_limits<int32_t>::min();
    constexpr double kHigh = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(value, kLow, kHigh));
}

TSwatchColour SwatchOf(int32_t cyan, int32_t magenta, int32_t yellow, int32_t black) {
    const int k = PercentToByte(black);
    const auto channel = [k](int32_t ink) { return 255 - std::min(255, PercentToByte(ink) + k); };
    return TSwatchColour{channel(cyan), channel(magenta), channel(yellow)};
}

void TSpotColorMap::Read(std::string_view text) {
    std::string prefix;
    std::string suffix;
    std::istringstream lines{std::string(text)};
    std::string raw;
    while (std::getline(lines, raw)) {
        const std::string line = UpperCaseText(Trim(raw));
        if (line.empty())
            continue;
        if (line.front() == '%') {
            if (line.find(kPrefixTag) != std::string::npos)
                prefix = TagValue(line, kPrefixTag);
            if (line.find(kSuffixTag) != std::string::npos)
                suffix = TagValue(line, kSuffixTag);
            continue;
        }
        TSpotColor entry;
        int32_t* percents[kPercentFields] = {&entry.Color.Cyan, &entry.Color.Magenta,
                                             &entry.Color.Yellow, &entry.Color.Black};
        std::string_view rest = line;
        for (int32_t* percent : percents) {
            const size_t tab = rest.find('\t');
            // Without a TAB the number is missing and the whole text is the rest.
            *percent = tab == std::string_view::npos ? 0 : PercentOfText(rest.substr(0, tab));
            if (tab != std::string_view::npos)
                rest.remove_prefix(tab + 1);
        }
        const std::string remaining = Trim(rest);
        const size_t tab = remaining.find('\t');
        entry.Color.Name = tab == std::string::npos ? remaining : Trim(remaining.substr(tab + 1));
        entry.Color.Key = Trim(prefix + " " + remaining + " " + suffix);
        entry.Color.Prefix = prefix;
        entry.Color.Suffix = suffix;
        Entries.push_back(std::move(entry));
    }
}

std::string TSpotColorMap::Write() {
    std::string out;
    std::string prefix;
    std::string suffix;
    for (TSpotColor& entry : Entries) {
        TSpotColorStruc& color = entry.Color;
        if (color.Prefix != prefix || color.Suffix != suffix) {
            AppendLine(out, "%PREFIX:" + color.Prefix);
            AppendLine(out, "%SUFFIX:" + color.Suffix);
            AppendLine(out, "%Space:CMYK");
            AppendLine(out, "%Noneditable");
            prefix = color.Prefix;
            suffix = color.Suffix;
        }
        if (color.Name.empty())
            color.Name = color.Key;
        if (color.Name.empty())
            continue;
        AppendLine(out, std::to_string(color.Cyan) + ".0\t" + std::to_string(color.Magenta) +
                            ".0\t" + std::to_string(color.Yellow) + ".0\t" +
                            std::to_string(color.Black) + ".0\t" + color.Name);
    }
    return out;
}

bool TSpotColorMap::Load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    Read(text.str());
    return true;
}

bool TSpotColorMap::Save(const std::string& path, const std::string& backup, std::string& error) {
    return ReplaceKeepingBackup(path, backup, Write(), error);
}

int TSpotColorMap::FindColor(std::string_view name) const {
    const std::string key = UpperCaseText(name);
    for (size_t i = 0; i < Entries.size(); ++i) {
        if (Entries[i].Color.Key == key)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace raduvuz
