#include "control/JobControlLimits.h"

#include "jobs/SpoolFile.h"
#include "services/Dispatch.h"

#include <algorithm>

namespace raduvuz {

void RequireIdCount(const std::string& argument, size_t count) {
    if (count > kMaxJobIdsPerCall)
        throw TInvalidArgument(argument, std::to_string(count) + " ids are more than the " +
                                             std::to_string(kMaxJobIdsPerCall) + " one call takes");
}

void RequireJobPriority(const std::string& argument, int32_t priority) {
    if (priority < kMinJobPriority || priority > kMaxJobPriority)
        throw TInvalidArgument(argument, std::to_string(priority) + " is not a priority from " +
                                             std::to_string(kMinJobPriority) + " to " +
                                             std::to_string(kMaxJobPriority));
}

void RequireJobName(const std::string& argument, const std::string& name) {
    if (name.size() > SpoolMaxNameLength)
        throw TInvalidArgument(
            argument, "a name of " + std::to_string(name.size()) + " bytes is longer than the " +
                          std::to_string(SpoolMaxNameLength) + " bytes a job name may have");
}

void RequireFolderLength(const std::string& argument, const std::string& folder) {
    if (folder.size() > kMaxFolderBytes)
        throw TInvalidArgument(argument, "a folder of " + std::to_string(folder.size()) +
                                             " bytes is longer than the " +
                                             std::to_string(kMaxFolderBytes) +
                                             " bytes a path may have");
}

void RequireTerminators(const std::string& argument, const std::vector<int32_t>& devices,
                        const TTaggedList& terminators) {
    for (size_t i = 0; i < devices.size(); ++i) {
        const int32_t device = devices[i];
        const bool given = std::any_of(
            terminators.begin(), terminators.end(),
            [device](const TTaggedString& terminator) { return terminator.Tag == device; });
        if (!given) {
            // The operator chooses again from what the message names.
            std::string known;
            for (const TTaggedString& t : terminators)
                known += (known.empty() ? "" : ", ") + std::to_string(t.Tag) + " (" + t.Text + ")";
            throw TInvalidArgument(argument, "the module has no terminator " +
                                                 std::to_string(device) + "; its terminators are " +
                                                 (known.empty() ? "none" : known));
        }
        if (std::find(devices.begin(), devices.begin() + static_cast<std::ptrdiff_t>(i), device) !=
            devices.begin() + static_cast<std::ptrdiff_t>(i))
            throw TInvalidArgument(argument, std::to_string(device) + " is named twice");
    }
}

} // namespace raduvuz
