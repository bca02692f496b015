#include "control/SettingRules.h"

#include "common/CommaText.h"
#include "common/Utils.h"
#include "services/Dispatch.h"

#include <algorithm>
#include <cmath>

namespace raduvuz {

bool IsPlainName(std::string_view key) {
    return !key.empty() && key != "." && key.find('/') == std::string_view::npos &&
           key.find("..") == std::string_view::npos && key.find('\0') == std::string_view::npos;
}

namespace {

// A text for a message: a NUL would end it.
std::string Shown(const std::string& text) {
    std::string shown;
    for (char c : text)
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    return shown;
}

} // namespace

void RequirePlainName(const std::string& argument, const std::string& key) {
    if (!IsPlainName(key))
        throw TInvalidArgument(argument, "\"" + Shown(key) +
                                             "\" is not a plain name (it must not be empty or "
                                             "\".\", nor hold \"/\", \"..\" or a NUL)");
}

bool IsAbsoluteFolder(std::string_view folder) {
    return !folder.empty() && folder.front() == '/' && folder.find('\0') == std::string_view::npos;
}

void RequireAbsoluteFolder(const std::string& argument, const std::string& folder) {
    if (!IsAbsoluteFolder(folder))
        throw TInvalidArgument(argument, "\"" + Shown(folder) + "\" is not an absolute path");
}

std::string StorageFolderProblem(const std::string& folder) {
    if (!IsAbsoluteFolder(folder))
        return "\"" + Shown(folder) + "\" is not an absolute path";
    if (folder.find('"') != std::string::npos)
        return "\"" + folder + "\" holds a double quote, which the configuration cannot keep";
    return std::string();
}

void RequireStorageFolder(const std::string& argument, const std::string& folder) {
    const std::string problem = StorageFolderProblem(folder);
    if (!problem.empty())
        throw TInvalidArgument(argument, problem);
}

std::string RangeProblem(const TSettingRange& range, int32_t value) {
    if (value >= range.Min && value <= range.Max)
        return std::string();
    std::string text = std::string(range.Name) + " " + std::to_string(value) + " is outside ";
    if (range.Max == INT32_MAX)
        return text + "the values from " + std::to_string(range.Min) + " up";
    return text + std::to_string(range.Min) + " to " + std::to_string(range.Max);
}

int32_t RequireInRange(const std::string& argument, const TSettingRange& range, int32_t value) {
    const std::string problem = RangeProblem(range, value);
    if (!problem.empty())
        throw TInvalidArgument(argument, problem);
    return value;
}

namespace {

int32_t Within(const TSettingRange& range, int32_t value) {
    return std::clamp(value, range.Min, range.Max);
}

} // namespace

TJobSettings JobSettingsOf(TJobSettings values) {
    values.Copies = Within(kCopiesRange, values.Copies);
    values.DeletePolicy = Within(kDeletePolicyRange, values.DeletePolicy);
    values.WorkMode = Within(kWorkModeRange, values.WorkMode);
    return values;
}

std::string FreeSpaceProblem(double value) {
    if (!std::isfinite(value))
        return "FreeSpace must be a finite number";
    if (value < 0)
        return "FreeSpace " + WriteRealPoint(value) + " is below 0";
    return std::string();
}

double RequireFreeSpace(const std::string& argument, const std::string& text) {
    std::string_view word = text;
    while (!word.empty() && (word.front() == ' ' || word.front() == '\t'))
        word.remove_prefix(1);
    if (!word.empty() && (word.front() == '+' || word.front() == '-'))
        word.remove_prefix(1);
    // The conversion would make them 0, but they mean no threshold at all.
    if (SameTextAscii(word.substr(0, 3), "nan") || SameTextAscii(word.substr(0, 3), "inf"))
        throw TInvalidArgument(argument, "FreeSpace must be a finite number, not \"" + text + "\"");
    double value = ReadRealPoint(text, 0);
    if (std::fabs(value) < 0.0001)
        value = 0;
    const std::string problem = FreeSpaceProblem(value);
    if (!problem.empty())
        throw TInvalidArgument(argument, problem);
    return value;
}

} // namespace raduvuz
