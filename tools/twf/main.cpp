// twf: the reference workflow server. Runs one workflow file: creates and drives the queuer
// modules, feeds the input files through the store and takes the results out to the sinks.
#include "tools/twf/TTwfLog.h"
#include "tools/twf/TWorkflow.h"
#include "tools/twf/TWorkflowRunner.h"
#include "version/ProgramVersion.h"

#include <QCoreApplication>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <csignal>
#include <cstring>
#include <iostream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

void Usage() {
    std::cerr << "usage: twf [--timeout SECONDS] [--log FILE] [--private-bus] [--quiet] [--show] "
                 "[--keep] WORKFLOW\n"
                 "  --timeout      give up after this many seconds (overrides the file)\n"
                 "  --log          log file (overrides the file's log key)\n"
                 "  --private-bus  start a private dbus-daemon for the run\n"
                 "  --quiet        log to the file only, not to stdout\n"
                 "  --show         show the module consoles and keep them up after the run\n"
                 "                 until Enter, or until every console has chosen Exit\n"
                 "  --keep         keep the modules up after the run, without consoles, until\n"
                 "                 Enter or an interrupt\n"
                 "  --version      print the version and end\n"
                 "The workflow file format is described in docs/twf.md.\n";
}

} // namespace

int main(int argc, char** argv) {
    if (raduvuz::PrintVersionIfAsked(argc, argv, "twf"))
        return 0;
    using namespace raduvuz;
    std::string file;
    std::string logFile;
    int timeout = -1;
    bool privateBus = false;
    bool quiet = false;
    bool show = false;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--timeout" && i + 1 < argc)
            timeout = std::atoi(argv[++i]);
        else if (arg == "--log" && i + 1 < argc)
            logFile = argv[++i];
        else if (arg == "--private-bus")
            privateBus = true;
        else if (arg == "--quiet")
            quiet = true;
        else if (arg == "--show")
            show = true;
        else if (arg == "--keep")
            keep = true;
        else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && file.empty())
            file = arg;
        else {
            std::cerr << "twf: unknown argument " << arg << "\n";
            Usage();
            return 2;
        }
    }
    if (file.empty()) {
        Usage();
        return 2;
    }
    TWorkflow workflow;
    try {
        workflow = TWorkflow::Load(file);
    } catch (const TWorkflowError& e) {
        std::cerr << "twf: " << e.what() << "\n";
        return 2;
    }
    if (timeout > 0)
        workflow.TimeoutSeconds = timeout;
    if (!logFile.empty())
        workflow.LogFile = logFile;
    if (privateBus)
        workflow.PrivateBus = true;

    QCoreApplication app(argc, argv);
    qRegisterMetaType<QDBusVariant>();
    // A module or store that dies mid-write must not take the server with it.
    std::signal(SIGPIPE, SIG_IGN);
    TTwfLog log;
    log.Quiet = quiet;
    if (!workflow.LogFile.empty() && !log.Open(workflow.LogFile))
        std::cerr << "twf: cannot open the log file " << workflow.LogFile << "\n";
    TWorkflowRunner runner(std::move(workflow), log, QCoreApplication::applicationDirPath());
    runner.ShowConsoles = show;
    runner.KeepModules = keep;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) == 0) {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = OnSignal;
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }
    QSocketNotifier signalNotifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &runner, [&] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(SignalPipe[0], &c, 1);
        runner.Interrupt();
    });
    return runner.Run();
}
