#pragma once

#include <string>

namespace raduvuz {

// How renaming the job of a spool file ended; Why tells the operator what failed and why.
struct TSpoolRename {
    enum class TResult {
        Renamed,
        // The file cannot be opened (gone, or a job still writes it).
        NotFound,
        // Its header cannot be read.
        BadHeader,
        // The new file could not be written or put in place; the old one is unchanged.
        NotWritten
    };
    TResult Result = TResult::NotWritten;
    std::string Why;
};

// Sets "Name" and "FileName" of the spool file at path to name, a parameter-safe value. The new
// file is written beside the old one under a temporary name (path + "_tmp", which the reload
// does not take for a job file), flushed to disk and only then renamed over the old one, so at
// every moment the job's file is whole under its own name; after a failure the temporary file
// is gone and the old file is as it was.
TSpoolRename RenameSpoolJob(const std::string& path, const std::string& name);

} // namespace raduvuz
