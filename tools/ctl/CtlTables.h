#pragma once

// What raduvuz-ctl prints: the job and module tables for a terminal, sizes and ages for people.
// Plain C++, so the tests check the layout without a bus.

#include "jobs/TJobRowView.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace raduvuz::ctl {

// One row of a module's job lists, as ListJobs gives it.
using TCtlJob = TJobRowView;

// One module on the bus.
struct TCtlModule {
    // The process number in its bus name, RAduvuz.ModuleControl.p<number>.
    int64_t Number = 0;
    std::string BusName;
    std::string Description;
    // The module's status value (1 idle, 2 working, below 0 failed); Answered false when the
    // module did not answer in time.
    int32_t Status = 0;
    bool Paused = false;
    int InProcess = 0;
    int Passed = 0;
    bool Answered = true;
};

// A spool file the module keeps in its job folder's damaged folder, as ListDamaged gives it.
struct TCtlDamaged {
    std::string File;
    std::string Path;
    int64_t Size = 0;
    // When it was set aside, ISO 8601 local time.
    std::string SetAside;
};

enum class TListChoice { Both, Process, Passed };

// 512 B, 8.2 KiB, 82 MiB, 1.2 GiB; "-" for a negative size.
std::string HumanSize(int64_t bytes);
// How long ago an ISO local time was, as of now: "12s", "5m", "3h05m", or its day (YYYY-MM-DD)
// from a day on; "-" when it cannot be read.
std::string AgeText(const std::string& created, std::time_t now);
// The size column: for a job that moves, the part done ("42%", or the bytes done when its size
// is unknown); else the size text the console's Size column shows.
std::string SizeOrProgress(const TCtlJob& job);
// The module's status in a word: idle, working, failed (N).
std::string StatusText(int32_t status);

// The jobs of the chosen lists as tables no wider than width, each under a title line with
// its count; the rows of each list in the order given.
std::string JobTables(const std::vector<TCtlJob>& jobs, TListChoice lists, int width,
                      std::time_t now);
std::string ModuleTable(const std::vector<TCtlModule>& modules, int width);
// The damaged files, oldest first, with their size and age; the folder on a line of its own.
std::string DamagedTable(const std::vector<TCtlDamaged>& files, int width, std::time_t now);

// Why a job command refused ids, one line per cause ("COMMAND refused IDS: CAUSE"), from the
// rows the module lists after the command: an id that names no row, a row of the other list, or
// what the command needs of a row of its list ("it is sending, not waiting to be sent").
std::string RefusalLines(const std::string& command, const std::vector<uint32_t>& refused,
                         const std::vector<TCtlJob>& jobs);

// The rows and modules as JSON, with ListJobs' keys.
std::string JobsJson(const std::vector<TCtlJob>& jobs);
std::string ModulesJson(const std::vector<TCtlModule>& modules);
std::string DamagedJson(const std::vector<TCtlDamaged>& files);

} // namespace raduvuz::ctl
