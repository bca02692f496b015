#include "tools/ctl/CtlCommandLine.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace raduvuz::ctl {

namespace {

struct TCommandHelp {
    const char* Name;
    const char* Synopsis;
    const char* Text;
};

// Every command, its synopsis and what it does; the program's help lists them in this order.
const TCommandHelp kCommands[] = {
    {"modules", "modules [--json]",
     "Lists every module on the bus: its number (the process number of its bus name\n"
     "RAduvuz.ModuleControl.p<number>), description, status, whether it is paused, and\n"
     "how many jobs it has in process and passed.\n"},
    {"jobs", "jobs [-m MODULE] [--process|--passed] [--json]",
     "Lists the module's jobs in process and its passed jobs: row id, job and document\n"
     "number, name, colour, state, progress (of a job that moves) or size,\n"
     "destination, priority and age (from a day on, the day it came). The ids are what\n"
     "the other commands take.\n"},
    {"hold", "hold [-m MODULE] ID...",
     "Holds jobs in process that wait to be sent; a held job is never sent.\n"},
    {"release", "release [-m MODULE] ID...", "Releases held jobs.\n"},
    {"abort", "abort [-m MODULE] ID...",
     "Aborts jobs in process: the module drops each and aborts its documents in the\n"
     "store; its spool file goes unless another copy or a passed job still uses it.\n"},
    {"delete", "delete [-m MODULE] ID...",
     "Deletes passed jobs: their spool files and rows. A job the workflow keeps, or\n"
     "one with a copy still in process, is refused.\n"},
    {"reprocess", "reprocess [-m MODULE] ID...",
     "Sends passed jobs through the module again, to their own devices.\n"},
    {"redirect", "redirect [-m MODULE] --to DEV[,DEV...] ID...",
     "Sends passed jobs through the module again, to these devices (terminator\n"
     "numbers).\n"},
    {"priority", "priority [-m MODULE] N ID...",
     "Gives jobs in process the priority N (the console offers 0 to 10).\n"},
    {"rename", "rename [-m MODULE] NAME ID...",
     "Renames passed jobs (their spool files are rewritten) and jobs in process that\n"
     "wait to be sent; \";\" and double quotes become blanks.\n"},
    {"copy", "copy [-m MODULE] FOLDER ID...",
     "Copies the spool files of passed jobs into FOLDER, made with its parents when\n"
     "missing.\n"},
    {"find", "find [-m MODULE] [--process|--passed] [CRITERIA] [--json|--ids]",
     "Lists the jobs of one list (passed jobs unless --process) that meet every\n"
     "criterion, or with --ids only their ids, one a line:\n"
     "  --job N, --doc N      the job or document number\n"
     "  --page TEXT           the page column, exactly\n"
     "  --name TEXT, --color TEXT, --destination TEXT\n"
     "                        contained in the column, in any case; \"=TEXT\" for equal\n"
     "  --type TEXT           the type, in any case\n"
     "  --date [OP]YYYY-MM-DD the day the job came\n"
     "  --size-kb [OP]NUMBER  the job's data in Kb of 1024 bytes, the unit of the\n"
     "                        console's Size column (sizeText in --json)\n"
     "OP is one of = > < >= <= (= when left out).\n"},
    {"damaged", "damaged [-m MODULE] [--json]",
     "Lists the spool files the module set aside in its job folder's damaged/ folder\n"
     "(cut short or damaged; they are never sent): name, size and when set aside,\n"
     "oldest first. Retention deletes them KeepTime minutes later, the oldest first\n"
     "when the disk is low.\n"},
    {"watch", "watch [-m MODULE] [--process|--passed]",
     "Shows the jobs table and draws it again whenever the module's jobs change, until\n"
     "interrupted (Ctrl+C).\n"},
};

const TCommandHelp* Find(const std::string& name) {
    for (const TCommandHelp& command : kCommands) {
        if (name == command.Name)
            return &command;
    }
    return nullptr;
}

const char* const kCommon = "MODULE is a module's number (see \"modules\"), its bus name or its "
                            "description;\n"
                            "without -m the only module on the bus is meant.\n"
                            "Exit status: 0 done, 1 some ids refused (named on standard error) "
                            "or the\n"
                            "module failed the call, 2 wrong usage, 3 no such module or no bus.\n";

// "usage: raduvuz-ctl SYNOPSIS", the synopsis broken before an option where it would pass 80
// columns.
std::string Usage(const std::string& synopsis) {
    const std::string first = "usage: raduvuz-ctl ";
    std::string text = first + synopsis;
    std::string lines;
    while (text.size() > 80) {
        const size_t cut = text.rfind(" [", 80);
        if (cut == std::string::npos || cut <= first.size())
            break;
        lines += text.substr(0, cut) + "\n";
        text = std::string(first.size(), ' ') + text.substr(cut + 1);
    }
    return lines + text + "\n";
}

bool IsNumber(const std::string& text) {
    const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > first &&
           std::all_of(text.begin() + static_cast<std::ptrdiff_t>(first), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

template <typename T> bool ReadNumber(const std::string& text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// Comma-separated numbers, each above 0 (ids) or any (devices).
template <typename T>
void ReadList(const std::string& text, std::vector<T>& into, const char* what) {
    size_t at = 0;
    for (;;) {
        const size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma - at);
        T value{};
        if (!ReadNumber(item, value) || (std::is_unsigned_v<T> && value == 0))
            throw TUsageError(std::string("not ") + what + ": \"" + item + "\"");
        into.push_back(value);
        if (comma == std::string::npos)
            return;
        at = comma + 1;
    }
}

// A comparison written first, or "=" put there.
std::string WithCompare(const std::string& text) {
    return !text.empty() && text[0] >= '0' && text[0] <= '9' ? "=" + text : text;
}

} // namespace

bool IsJobCommand(const std::string& command) {
    static const std::set<std::string> kJobCommands = {"hold",     "release",   "abort",
                                                       "delete",   "reprocess", "redirect",
                                                       "priority", "rename",    "copy"};
    return kJobCommands.count(command) > 0;
}

std::string HelpText(const std::string& command) {
    if (const TCommandHelp* help = Find(command))
        return Usage(help->Synopsis) + "\n" + help->Text + "\n" +
               (command == "modules" ? "" : kCommon);
    std::string text = "usage: raduvuz-ctl COMMAND [OPTIONS] [ARGUMENTS]\n"
                       "       raduvuz-ctl help [COMMAND] | --help | --version\n\n"
                       "Lists and changes the jobs of queuer modules over the D-Bus session bus.\n"
                       "Commands:\n";
    for (const TCommandHelp& help : kCommands)
        text += std::string("  ") + help.Synopsis + "\n";
    return text + "\n" + kCommon + "\"raduvuz-ctl help COMMAND\" tells more of a command.\n";
}

TCtlRequest ParseCommandLine(const std::vector<std::string>& args) {
    TCtlRequest request;
    std::vector<std::string> operands;
    bool help = false;
    bool listChosen = false;
    // Options that take a value, and the commands they belong to ("" for any command).
    static const std::map<std::string, std::string> kValueOptions = {
        {"-m", ""},         {"--module", ""},   {"--to", "redirect"},  {"--job", "find"},
        {"--doc", "find"},  {"--page", "find"}, {"--name", "find"},    {"--color", "find"},
        {"--type", "find"}, {"--date", "find"}, {"--size-kb", "find"}, {"--destination", "find"}};
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> flags;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-' || IsNumber(arg)) {
            operands.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (kValueOptions.count(name) > 0) {
            if (equals != std::string::npos)
                options.emplace_back(name, arg.substr(equals + 1));
            else if (i + 1 < args.size())
                options.emplace_back(name, args[++i]);
            else
                throw TUsageError(name + " needs a value");
        } else if (equals == std::string::npos) {
            flags.push_back(arg);
        } else {
            throw TUsageError("unknown option " + name);
        }
    }
    if (!operands.empty()) {
        request.Command = operands.front();
        operands.erase(operands.begin());
    }
    for (const std::string& flag : flags) {
        if (flag == "--help" || flag == "-h") {
            help = true;
        } else if (flag == "--version") {
            request.Command = "version";
            return request;
        } else if (flag == "--json" || flag == "--ids") {
            (flag == "--json" ? request.Json : request.IdsOnly) = true;
        } else if (flag == "--process" || flag == "--passed") {
            if (listChosen)
                throw TUsageError("--process and --passed exclude each other");
            listChosen = true;
            request.Lists = flag == "--process" ? TListChoice::Process : TListChoice::Passed;
        } else {
            throw TUsageError("unknown option " + flag);
        }
    }
    request.NoCommand = !help && request.Command.empty();
    if (help || request.Command.empty() || request.Command == "help") {
        request.HelpTopic = request.Command == "help" && !operands.empty() ? operands.front()
                            : request.Command == "help"                    ? std::string()
                                                                           : request.Command;
        if (!request.HelpTopic.empty() && !Find(request.HelpTopic))
            throw TUsageError("unknown command \"" + request.HelpTopic + "\"");
        request.Command = "help";
        return request;
    }
    const std::string& command = request.Command;
    if (!Find(command))
        throw TUsageError("unknown command \"" + command + "\"");

    for (const auto& [name, value] : options) {
        const std::string& owner = kValueOptions.at(name);
        if (!owner.empty() && owner != command)
            throw TUsageError(name + " is no option of " + command);
        if (name == "-m" || name == "--module") {
            if (command == "modules")
                throw TUsageError(name + " is no option of modules");
            request.Module = value;
        } else if (name == "--to") {
            ReadList(value, request.Devices, "a device number");
        } else if (name == "--date" || name == "--size-kb") {
            request.Criteria[name == "--date" ? "date" : "sizeKb"] = WithCompare(value);
        } else {
            request.Criteria[name.substr(2)] = value;
        }
    }
    if (request.Json && request.IdsOnly)
        throw TUsageError("--json and --ids exclude each other");
    if (request.IdsOnly && command != "find")
        throw TUsageError("--ids is an option of find only");
    if (request.Json && command != "modules" && command != "jobs" && command != "find" &&
        command != "damaged")
        throw TUsageError("--json is an option of modules, jobs, find and damaged only");
    if (listChosen && command != "jobs" && command != "find" && command != "watch")
        throw TUsageError("--process and --passed are options of jobs, find and watch only");
    if (command == "find")
        request.Criteria["list"] = request.Lists == TListChoice::Process ? "process" : "passed";

    if (!IsJobCommand(command)) {
        if (!operands.empty())
            throw TUsageError(command + " takes no argument \"" + operands.front() + "\"");
        return request;
    }
    if (command == "redirect" && request.Devices.empty())
        throw TUsageError("redirect needs --to DEV[,DEV...]");
    if (command == "priority" || command == "rename" || command == "copy") {
        const char* what = command == "priority" ? "a priority"
                           : command == "rename" ? "a name"
                                                 : "a folder";
        if (operands.empty())
            throw TUsageError(command + " needs " + what + " and job ids");
        const std::string first = operands.front();
        operands.erase(operands.begin());
        if (command == "priority" && !ReadNumber(first, request.Priority))
            throw TUsageError("not a priority: \"" + first + "\"");
        if (first.empty())
            throw TUsageError(command + " needs " + what);
        if (command != "priority")
            request.Text = first;
    }
    if (operands.empty())
        throw TUsageError(command + " needs job ids (see \"raduvuz-ctl jobs\")");
    for (const std::string& operand : operands)
        ReadList(operand, request.Ids, "a job id");
    return request;
}

} // namespace raduvuz::ctl
