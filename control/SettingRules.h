#pragma once

// What the module takes as a configuration key, a folder and the value of a setting. Calls
// refuse anything else with RAduvuz.Error.InvalidArgs and keep the old value; a loaded or
// imported configuration logs it and keeps the old value.

#include "jobs/TJobSettings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace raduvuz {

// A configuration key names the .set and hold files and the job folder, so it must stay inside
// the folders they lie in: not empty, not ".", no "/", no "..", no NUL.
bool IsPlainName(std::string_view key);
// TInvalidArgument naming argument when key is not a plain name.
void RequirePlainName(const std::string& argument, const std::string& key);

// Storage and forced folders are absolute paths: a relative one would depend on whatever
// folder the process happens to run in.
bool IsAbsoluteFolder(std::string_view folder);
void RequireAbsoluteFolder(const std::string& argument, const std::string& folder);
// The storage folder is also written between double quotes into the configuration string,
// which has no way to hold one inside. Empty when folder is fine, else what is wrong.
std::string StorageFolderProblem(const std::string& folder);
void RequireStorageFolder(const std::string& argument, const std::string& folder);

// An integer setting and the values that mean something for it.
struct TSettingRange {
    const char* Name;
    int32_t Min;
    int32_t Max;
};
inline constexpr TSettingRange kDeletePolicyRange{"DeletePolicy", 0, 3};
inline constexpr TSettingRange kWorkModeRange{"WorkMode", 0, 1};
inline constexpr TSettingRange kKeepTimeRange{"KeepTime", 0, INT32_MAX};
inline constexpr TSettingRange kMaxFilesRange{"MaxFiles", 0, INT32_MAX};
// More copies than a press run needs only keep a core busy.
inline constexpr TSettingRange kCopiesRange{"Copies", 0, 999};

// Empty when value lies in the range, else what is wrong with it.
std::string RangeProblem(const TSettingRange& range, int32_t value);
// value when it lies in the range, else TInvalidArgument naming argument.
int32_t RequireInRange(const std::string& argument, const TSettingRange& range, int32_t value);

// The settings a job reads, made from the module's values: an integer setting outside its range is
// brought to the range's nearest end, so that a value set other than through the checks above
// (by code) never reaches a job out of its range.
TJobSettings JobSettingsOf(TJobSettings values);

// The free-space threshold in MB: finite and not below 0. Empty when value is one.
std::string FreeSpaceProblem(double value);
// The threshold a text gives: a decimal number with "." (text that is no number gives 0, and a
// magnitude below 0.0001 gives exactly 0); TInvalidArgument naming argument for "nan", "inf" and
// values below 0.
double RequireFreeSpace(const std::string& argument, const std::string& text);

} // namespace raduvuz
