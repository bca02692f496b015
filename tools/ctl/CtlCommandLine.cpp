#include "tools/ctl/CtlCommandLine.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <set>

namespace raduvuz::ctl {

namespace {

// Which options a command takes.
enum TOptionGroup : unsigned {
    kModuleOption = 1,
    kListOptions = 2,
    kJsonOption = 4,
    kIdsOption = 8,
    kToOption = 16,
    kCriteriaOptions = 32,
};

struct TOptionHelp {
    const char* Name;
    const char* ShortName;
    const char* ValueName;
    unsigned Group;
    const char* Text;
};

// Every option of every command, in the order the help lists them.
const TOptionHelp kOptions[] = {
    {"module", "m", "MODULE", kModuleOption,
     "The module: its number (see \"modules\"), its bus name or its description; without it "
     "the only module on the bus."},
    {"process", nullptr, nullptr, kListOptions, "Only the jobs in process."},
    {"passed", nullptr, nullptr, kListOptions, "Only the passed jobs."},
    {"json", nullptr, nullptr, kJsonOption, "JSON instead of a table."},
    {"ids", nullptr, nullptr, kIdsOption, "Only the ids of the rows found, one a line."},
    {"to", nullptr, "DEV[,DEV...]", kToOption, "The devices (terminator numbers) to send to."},
    {"job", nullptr, "N", kCriteriaOptions, "The job number."},
    {"doc", nullptr, "N", kCriteriaOptions, "The document number."},
    {"page", nullptr, "TEXT", kCriteriaOptions, "The page column, exactly."},
    {"name", nullptr, "TEXT", kCriteriaOptions,
     "Contained in the name, in any case; \"=TEXT\" for equal."},
    {"color", nullptr, "TEXT", kCriteriaOptions,
     "Contained in the colour, in any case; \"=TEXT\" for equal."},
    {"destination", nullptr, "TEXT", kCriteriaOptions,
     "Contained in the destination, in any case; \"=TEXT\" for equal."},
    {"type", nullptr, "TEXT", kCriteriaOptions, "The type, in any case."},
    {"date", nullptr, "[OP]YYYY-MM-DD", kCriteriaOptions, "The day the job came."},
    {"size-kb", nullptr, "[OP]NUMBER", kCriteriaOptions,
     "The job's data in Kb of 1024 bytes, the unit of the console's Size column (sizeText in "
     "--json)."},
};

struct TCommandHelp {
    const char* Name;
    const char* Synopsis;
    // What follows the command's name on the usage line.
    const char* Operands;
    unsigned Options;
    const char* Text;
};

// Every command, its synopsis, arguments and options and what it does; the program's help lists
// them in this order.
const TCommandHelp kCommands[] = {
    {"modules", "modules [--json]", "", kJsonOption,
     "Lists every module on the bus: its number (the process number of its bus name\n"
     "RAduvuz.ModuleControl.p<number>), description, status, whether it is paused, and\n"
     "how many jobs it has in process and passed.\n"},
    {"jobs", "jobs [-m MODULE] [--process|--passed] [--json]", "",
     kModuleOption | kListOptions | kJsonOption,
     "Lists the module's jobs in process and its passed jobs: row id, job and document\n"
     "number, name, colour, state, progress (of a job that moves) or size,\n"
     "destination, priority and age (from a day on, the day it came). The ids are what\n"
     "the other commands take.\n"},
    {"hold", "hold [-m MODULE] ID...", "ID...", kModuleOption,
     "Holds jobs in process that wait to be sent; a held job is never sent.\n"},
    {"release", "release [-m MODULE] ID...", "ID...", kModuleOption, "Releases held jobs.\n"},
    {"abort", "abort [-m MODULE] ID...", "ID...", kModuleOption,
     "Aborts jobs in process: the module drops each and aborts its documents in the\n"
     "store; its spool file goes unless another copy or a passed job still uses it.\n"},
    {"delete", "delete [-m MODULE] ID...", "ID...", kModuleOption,
     "Deletes passed jobs: their spool files and rows. A job the workflow keeps, or\n"
     "one with a copy still in process, is refused.\n"},
    {"reprocess", "reprocess [-m MODULE] ID...", "ID...", kModuleOption,
     "Sends passed jobs through the module again, to their own devices.\n"},
    {"redirect", "redirect [-m MODULE] --to DEV[,DEV...] ID...", "ID...", kModuleOption | kToOption,
     "Sends passed jobs through the module again, to these devices (terminator\n"
     "numbers).\n"},
    {"priority", "priority [-m MODULE] N ID...", "N ID...", kModuleOption,
     "Gives jobs in process the priority N (the console offers 0 to 10).\n"},
    {"rename", "rename [-m MODULE] NAME ID...", "NAME ID...", kModuleOption,
     "Renames passed jobs (their spool files are rewritten) and jobs in process that\n"
     "wait to be sent; \";\" and double quotes become blanks.\n"},
    {"copy", "copy [-m MODULE] FOLDER ID...", "FOLDER ID...", kModuleOption,
     "Copies the spool files of passed jobs into FOLDER, made with its parents when\n"
     "missing.\n"},
    {"find", "find [-m MODULE] [--process|--passed] [CRITERIA] [--json|--ids]", "",
     kModuleOption | kListOptions | kJsonOption | kIdsOption | kCriteriaOptions,
     "Lists the jobs of one list (passed jobs unless --process) that meet every\n"
     "criterion, or with --ids only their ids, one a line. The criteria are the\n"
     "options from --job on; OP is one of = > < >= <= (= when left out).\n"},
    {"damaged", "damaged [-m MODULE] [--json]", "", kModuleOption | kJsonOption,
     "Lists the spool files the module set aside in its job folder's damaged/ folder\n"
     "(cut short or damaged; they are never sent): name, size and when set aside,\n"
     "oldest first. Retention deletes them KeepTime minutes later, the oldest first\n"
     "when the disk is low.\n"},
    {"watch", "watch [-m MODULE] [--process|--passed]", "", kModuleOption | kListOptions,
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

// QCommandLineParser takes "-3" for an option; a negative number is an operand here (the module
// refuses "priority -3" itself), so it passes the parser behind this mark.
constexpr char16_t kNumberMark = u'\x1f';

QStringList ParserArguments(const std::vector<std::string>& args) {
    QStringList arguments{QStringLiteral("raduvuz-ctl")};
    for (const std::string& arg : args) {
        const QString text = QString::fromStdString(arg);
        arguments << (arg.size() > 1 && arg[0] == '-' && IsNumber(arg) ? kNumberMark + text : text);
    }
    return arguments;
}

std::string Unmarked(const QString& text) {
    return (text.startsWith(kNumberMark) ? text.mid(1) : text).toStdString();
}

QString OptionText(const std::string& name) {
    return QString::fromStdString((name.size() == 1 ? "-" : "--") + name);
}

QString OperandText(const std::string& operand) {
    if (operand == "N")
        return QStringLiteral("The priority (the console offers 0 to 10).");
    if (operand == "NAME")
        return QStringLiteral("The new name; \";\" and double quotes become blanks.");
    if (operand == "FOLDER")
        return QStringLiteral("The folder, made with its parents when missing.");
    return QStringLiteral("Row ids as \"jobs\" shows them, separated by blanks or commas.");
}

// The parser of one command's options and arguments, or of the program's (command null), with
// its help.
void SetUp(QCommandLineParser& parser, const TCommandHelp* command) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.addHelpOption();
    parser.addOption(QCommandLineOption(QStringLiteral("version"),
                                        QStringLiteral("Print the version and end.")));
    for (const TOptionHelp& option : kOptions) {
        if (command != nullptr && (command->Options & option.Group) == 0)
            continue;
        QStringList names{QString::fromLatin1(option.Name)};
        if (option.ShortName != nullptr)
            names.prepend(QString::fromLatin1(option.ShortName));
        parser.addOption(QCommandLineOption(names, QString::fromUtf8(option.Text),
                                            QString::fromLatin1(option.ValueName)));
    }
    if (command == nullptr) {
        std::string text = "Lists and changes the jobs of queuer modules over the D-Bus session "
                           "bus.\nCommands:\n";
        for (const TCommandHelp& help : kCommands)
            text += std::string("  ") + help.Synopsis + "\n";
        text +=
            std::string("\n") + kCommon + "\"raduvuz-ctl help COMMAND\" tells more of a command.";
        parser.setApplicationDescription(QString::fromStdString(text));
        parser.addPositionalArgument(QStringLiteral("command"),
                                     QStringLiteral("One of the commands above."),
                                     QStringLiteral("COMMAND [ARGUMENTS]"));
        return;
    }
    std::string text = command->Text;
    if (std::string(command->Name) != "modules")
        text += std::string("\n") + kCommon;
    text.pop_back();
    parser.setApplicationDescription(QString::fromStdString(text));
    parser.addPositionalArgument(QString::fromLatin1(command->Name),
                                 QStringLiteral("The command."));
    const std::string operands = command->Operands;
    for (size_t at = 0; at < operands.size();) {
        const size_t end = std::min(operands.find(' ', at), operands.size());
        const std::string operand = operands.substr(at, end - at);
        parser.addPositionalArgument(QString::fromStdString(operand), OperandText(operand));
        at = end + 1;
    }
}

} // namespace

bool IsJobCommand(const std::string& command) {
    static const std::set<std::string> kJobCommands = {"hold",     "release",   "abort",
                                                       "delete",   "reprocess", "redirect",
                                                       "priority", "rename",    "copy"};
    return kJobCommands.count(command) > 0;
}

std::string HelpText(const std::string& command) {
    QCommandLineParser parser;
    SetUp(parser, Find(command));
    return parser.helpText().toStdString();
}

TCtlRequest ParseCommandLine(const std::vector<std::string>& args) {
    const QStringList arguments = ParserArguments(args);
    // Every option first, so that an option's value is never taken for the command.
    QCommandLineParser any;
    SetUp(any, nullptr);
    if (!any.parse(arguments))
        throw TUsageError(any.errorText().toStdString());
    TCtlRequest request;
    if (any.isSet(QStringLiteral("version"))) {
        request.Command = "version";
        return request;
    }
    std::vector<std::string> operands;
    for (const QString& operand : any.positionalArguments())
        operands.push_back(Unmarked(operand));
    if (!operands.empty()) {
        request.Command = operands.front();
        operands.erase(operands.begin());
    }
    const bool help = any.isSet(QStringLiteral("help"));
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
    const TCommandHelp* commandHelp = Find(command);
    if (commandHelp == nullptr)
        throw TUsageError("unknown command \"" + command + "\"");

    // Then the command's own options: another one is an option of some other command.
    QCommandLineParser own;
    SetUp(own, commandHelp);
    if (!own.parse(arguments)) {
        const QStringList unknown = own.unknownOptionNames();
        throw TUsageError(unknown.isEmpty()
                              ? own.errorText().toStdString()
                              : OptionText(unknown.front().toStdString()).toStdString() +
                                    " is no option of " + command);
    }
    const auto isSet = [&](std::string_view name) {
        for (const TOptionHelp& option : kOptions) {
            if (name == option.Name)
                return (commandHelp->Options & option.Group) != 0 &&
                       own.isSet(QString::fromLatin1(option.Name));
        }
        return false;
    };
    const auto value = [&](const char* name) {
        return Unmarked(own.value(QString::fromLatin1(name)));
    };
    if (isSet("process") && isSet("passed"))
        throw TUsageError("--process and --passed exclude each other");
    if (isSet("json") && isSet("ids"))
        throw TUsageError("--json and --ids exclude each other");
    request.Lists = isSet("process")  ? TListChoice::Process
                    : isSet("passed") ? TListChoice::Passed
                                      : TListChoice::Both;
    request.Json = isSet("json");
    request.IdsOnly = isSet("ids");
    if (isSet("module"))
        request.Module = value("module");
    if (isSet("to")) {
        for (const QString& devices : own.values(QStringLiteral("to")))
            ReadList(Unmarked(devices), request.Devices, "a device number");
    }
    for (const TOptionHelp& option : kOptions) {
        if (option.Group != kCriteriaOptions || !isSet(option.Name))
            continue;
        const std::string name = option.Name;
        if (name == "date" || name == "size-kb")
            request.Criteria[name == "date" ? "date" : "sizeKb"] = WithCompare(value(option.Name));
        else
            request.Criteria[name] = value(option.Name);
    }
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
