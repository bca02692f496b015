#pragma once

// raduvuz-ctl's command line: what the operator asked for, and the help of each command, read by
// QCommandLineParser; no bus, so the tests check it alone.

#include "tools/ctl/CtlTables.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace raduvuz::ctl {

// The exit codes.
enum TExitCode : int { kExitOk = 0, kExitRefused = 1, kExitUsage = 2, kExitNoModule = 3 };

struct TCtlRequest {
    // modules, jobs, hold, release, abort, delete, reprocess, redirect, priority, rename, copy,
    // find, watch; help and version.
    std::string Command;
    // The module by its number, bus name or description; empty: the only one on the bus.
    std::string Module;
    bool Json = false;
    // find: only the ids, one a line.
    bool IdsOnly = false;
    TListChoice Lists = TListChoice::Both;
    std::vector<uint32_t> Ids;
    // redirect: terminator numbers.
    std::vector<int32_t> Devices;
    int32_t Priority = 0;
    // rename: the name; copy: the folder as given.
    std::string Text;
    // find: FindJobs' criteria by key.
    std::map<std::string, std::string> Criteria;
    // help: the command asked about, empty for all.
    std::string HelpTopic;
    // No command was given: the help goes to standard error and the exit code is kExitUsage.
    bool NoCommand = false;
};

class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The arguments after the program's name; throws TUsageError naming what is wrong.
TCtlRequest ParseCommandLine(const std::vector<std::string>& args);

// The help of a command, or of the program for an empty or unknown one.
std::string HelpText(const std::string& command);

// Whether a command changes jobs by id (hold ... copy).
bool IsJobCommand(const std::string& command);

} // namespace raduvuz::ctl
