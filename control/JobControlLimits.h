#pragma once

// What the job commands take from a caller on the bus. A call outside these bounds is refused
// with RAduvuz.Error.InvalidArgs naming the argument, before any job is touched.

#include "common/Types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace raduvuz {

// Ids in one call: a selection of every row of a big module, not an array that would block the
// module for seconds and keep hundreds of megabytes.
inline constexpr size_t kMaxJobIdsPerCall = 100000;
// The priorities the console's dialog offers.
inline constexpr int32_t kMinJobPriority = 0;
inline constexpr int32_t kMaxJobPriority = 10;
// A folder path as the system takes one.
inline constexpr size_t kMaxFolderBytes = 4095;

void RequireIdCount(const std::string& argument, size_t count);
void RequireJobPriority(const std::string& argument, int32_t priority);
// A job name that fits a spool file header (SpoolMaxNameLength bytes).
void RequireJobName(const std::string& argument, const std::string& name);
void RequireFolderLength(const std::string& argument, const std::string& folder);
// Each device a terminator the module was given, at most once each.
void RequireTerminators(const std::string& argument, const std::vector<int32_t>& devices,
                        const TTaggedList& terminators);

} // namespace raduvuz
