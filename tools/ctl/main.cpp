// raduvuz-ctl: lists and changes the jobs of queuer modules from a terminal or a script, over
// the modules' job-control interface on the session bus.

#include "tools/ctl/CtlCommandLine.h"
#include "tools/ctl/CtlTables.h"
#include "tools/ctl/TCtlBus.h"
#include "version/ProgramVersion.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace raduvuz::ctl;

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

bool Terminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

// The terminal's width; 80 when the output goes elsewhere, so that scripts see one layout.
int OutputWidth() {
    winsize size{};
    if (Terminal() && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40)
        return size.ws_col;
    return 80;
}

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::string IdList(const std::vector<uint32_t>& ids) {
    std::string text;
    for (uint32_t id : ids)
        text += (text.empty() ? "" : " ") + std::to_string(id);
    return text;
}

struct TCommandWords {
    const char* Method;
    const char* Done;
};

TCommandWords WordsOf(const std::string& command) {
    static const std::map<std::string, TCommandWords> kWords = {
        {"hold", {"HoldJobs", "held"}},
        {"release", {"ReleaseJobs", "released"}},
        {"abort", {"AbortJobs", "aborted"}},
        {"priority", {"SetPriority", "priority set for"}},
        {"delete", {"DeleteJobs", "deleted"}},
        {"reprocess", {"ReprocessJobs", "reprocessed"}},
        {"redirect", {"RedirectJobs", "redirected"}},
        {"rename", {"RenameJobs", "renamed"}},
        {"copy", {"CopyJobs", "copied"}}};
    return kWords.at(command);
}

int RunJobCommand(TCtlBus& bus, const TCtlRequest& request) {
    const TModuleName module = bus.Choose(request.Module);
    const TCommandWords words = WordsOf(request.Command);
    const QVariant ids = QVariant::fromValue(QList<uint>(request.Ids.begin(), request.Ids.end()));
    QVariantList arguments = {ids};
    if (request.Command == "priority") {
        arguments << request.Priority;
    } else if (request.Command == "redirect") {
        arguments << QVariant::fromValue(
            QList<int>(request.Devices.begin(), request.Devices.end()));
    } else if (request.Command == "rename") {
        arguments << QString::fromStdString(request.Text);
    } else if (request.Command == "copy") {
        // The module has a working folder of its own: the folder goes as an absolute path.
        arguments << QDir::current().absoluteFilePath(QString::fromStdString(request.Text));
    }
    const std::vector<uint32_t> done =
        bus.Act(module, QString::fromLatin1(words.Method), arguments);
    std::vector<uint32_t> refused;
    for (uint32_t id : request.Ids) {
        if (std::find(done.begin(), done.end(), id) == done.end() &&
            std::find(refused.begin(), refused.end(), id) == refused.end())
            refused.push_back(id);
    }
    if (!done.empty())
        Print(std::string(words.Done) + " " + IdList(done) + "\n");
    if (refused.empty())
        return kExitOk;
    // The rows as they are now tell why each id was refused.
    const std::string why = RefusalLines(request.Command, refused, bus.ListJobs(module));
    for (size_t at = 0; at < why.size();) {
        const size_t end = why.find('\n', at);
        std::fprintf(stderr, "raduvuz-ctl: %s\n", why.substr(at, end - at).c_str());
        at = end + 1;
    }
    return kExitRefused;
}

int RunFind(TCtlBus& bus, const TCtlRequest& request) {
    const TModuleName module = bus.Choose(request.Module);
    const std::vector<uint32_t> found = bus.Find(module, request.Criteria);
    if (request.IdsOnly) {
        for (uint32_t id : found)
            Print(std::to_string(id) + "\n");
        return kExitOk;
    }
    std::vector<TCtlJob> rows;
    const std::vector<TCtlJob> jobs = bus.ListJobs(module);
    for (uint32_t id : found) {
        for (const TCtlJob& job : jobs) {
            if (job.Id == id)
                rows.push_back(job);
        }
    }
    const TListChoice list =
        request.Lists == TListChoice::Process ? TListChoice::Process : TListChoice::Passed;
    Print(request.Json ? JobsJson(rows) : JobTables(rows, list, OutputWidth(), std::time(nullptr)));
    return kExitOk;
}

// The table again on every change, until a signal ends it or the module leaves.
int RunWatch(TCtlBus& bus, const TCtlRequest& request) {
    const TModuleName module = bus.Choose(request.Module);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
        throw TCtlFailure(kExitRefused, "cannot watch for signals");
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    QSocketNotifier interrupted(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupted, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });

    const bool terminal = Terminal();
    const auto draw = [&] {
        const std::time_t now = std::time(nullptr);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
        const std::string table =
            JobTables(bus.ListJobs(module), request.Lists, OutputWidth(), now);
        // A terminal shows the newest table alone; a file or pipe gets one after the other.
        Print(std::string(terminal ? "\x1b[H\x1b[2J" : "\n") + "Module " +
              std::to_string(module.Number) + ", " + stamp + " (Ctrl+C ends)\n\n" + table);
    };
    // Subscribed before the first listing, so that no change falls between the two.
    TJobsWatcher watcher(bus.Connection(), module);
    int result = kExitOk;
    QObject::connect(&watcher, &TJobsWatcher::changed, [&] {
        try {
            draw();
        } catch (const TCtlFailure& failure) {
            std::fprintf(stderr, "raduvuz-ctl: %s\n", failure.what());
            result = failure.ExitCode;
            QCoreApplication::exit(result);
        }
    });
    QObject::connect(&watcher, &TJobsWatcher::moduleGone, [&] {
        std::fprintf(stderr, "raduvuz-ctl: module %lld left the bus\n",
                     static_cast<long long>(module.Number));
        result = kExitNoModule;
        QCoreApplication::exit(result);
    });
    draw();
    const int code = QCoreApplication::exec();
    return result != kExitOk ? result : code;
}

int Run(const TCtlRequest& request) {
    if (request.Command == "help") {
        if (request.NoCommand) {
            std::fputs(HelpText(std::string()).c_str(), stderr);
            return kExitUsage;
        }
        Print(HelpText(request.HelpTopic));
        return kExitOk;
    }
    if (request.Command == "version") {
        Print(std::string("raduvuz-ctl ") + raduvuz::ProgramVersion() + "\n");
        return kExitOk;
    }
    TCtlBus bus;
    if (request.Command == "modules") {
        const std::vector<TCtlModule> modules = bus.Describe(bus.Modules());
        Print(request.Json ? ModulesJson(modules) : ModuleTable(modules, OutputWidth()));
        return kExitOk;
    }
    if (request.Command == "jobs") {
        const std::vector<TCtlJob> jobs = bus.ListJobs(bus.Choose(request.Module));
        if (request.Json) {
            std::vector<TCtlJob> shown;
            for (const TCtlJob& job : jobs) {
                if (request.Lists == TListChoice::Both ||
                    (job.List == "process") == (request.Lists == TListChoice::Process))
                    shown.push_back(job);
            }
            Print(JobsJson(shown));
        } else {
            Print(JobTables(jobs, request.Lists, OutputWidth(), std::time(nullptr)));
        }
        return kExitOk;
    }
    if (request.Command == "damaged") {
        const std::vector<TCtlDamaged> files = bus.ListDamaged(bus.Choose(request.Module));
        Print(request.Json ? DamagedJson(files)
                           : DamagedTable(files, OutputWidth(), std::time(nullptr)));
        return kExitOk;
    }
    if (request.Command == "find")
        return RunFind(bus, request);
    if (request.Command == "watch")
        return RunWatch(bus, request);
    return RunJobCommand(bus, request);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return Run(ParseCommandLine(args));
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "raduvuz-ctl: %s\nTry \"raduvuz-ctl --help\".\n", error.what());
        return kExitUsage;
    } catch (const TCtlFailure& failure) {
        std::fprintf(stderr, "raduvuz-ctl: %s\n", failure.what());
        return failure.ExitCode;
    }
}
