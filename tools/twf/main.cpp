// twf: the reference workflow server. Runs one workflow file: creates and drives the queuer
// modules, feeds the input files through the store and takes the results out to the sinks.
#include "tools/twf/TTwfLog.h"
#include "tools/twf/TWorkflow.h"
#include "tools/twf/TWorkflowRunner.h"
#include "version/ProgramVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
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

} // namespace

int main(int argc, char** argv) {
    using namespace raduvuz;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("twf"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(ProgramVersion()));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs one workflow file: creates and drives the queuer modules, feeds the\n"
                       "input files through the document store and takes the results out to the\n"
                       "sinks. The file format is described in docs/twf.md."));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("Give up after this many seconds (the file's timeout)."),
        QStringLiteral("seconds"));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Write the workflow log to this file (the file's log)."),
        QStringLiteral("file"));
    const QCommandLineOption privateBusOption(
        QStringLiteral("private-bus"),
        QStringLiteral("Start a dbus-daemon of the run's own and run everything on it."));
    const QCommandLineOption quietOption(
        QStringLiteral("quiet"),
        QStringLiteral("Log to the log file only, not to standard output."));
    const QCommandLineOption showOption(
        QStringLiteral("show"),
        QStringLiteral("Open the console of each module and keep the modules after the run until "
                       "Enter, or until every console has chosen Exit."));
    const QCommandLineOption keepOption(
        QStringLiteral("keep"),
        QStringLiteral("Keep the modules after the run, without consoles, until "
                       "Enter or an interrupt."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Print the version and end."));
    parser.addHelpOption();
    parser.addOptions({timeoutOption, logOption, privateBusOption, quietOption, showOption,
                       keepOption, versionOption});
    parser.addPositionalArgument(QStringLiteral("workflow"), QStringLiteral("The workflow file."));
    const auto wrongUsage = [&](const std::string& what) {
        std::cerr << "twf: " << what << "\nTry \"twf --help\".\n";
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return wrongUsage(parser.errorText().toStdString());
    if (parser.isSet(versionOption)) {
        std::printf("twf %s\n", ProgramVersion());
        return 0;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return wrongUsage(positional.isEmpty()
                              ? "no workflow file"
                              : "one workflow file, not " + std::to_string(positional.size()));
    bool timeoutIsNumber = true;
    const int timeout =
        parser.isSet(timeoutOption) ? parser.value(timeoutOption).toInt(&timeoutIsNumber) : 0;
    if (!timeoutIsNumber)
        return wrongUsage("--timeout takes seconds, not \"" +
                          parser.value(timeoutOption).toStdString() + "\"");
    const std::string file = positional.front().toStdString();
    const std::string logFile = parser.value(logOption).toStdString();
    const bool privateBus = parser.isSet(privateBusOption);
    const bool quiet = parser.isSet(quietOption);
    const bool show = parser.isSet(showOption);
    const bool keep = parser.isSet(keepOption);
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
