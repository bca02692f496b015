// raduvuz-web: the job control of the queuer modules on the session bus, served to browsers and
// scripts over HTTPS, with accounts, sessions and a web console built into the program.

#include "dbus/DBusBus.h"
#include "platform/SystemLog.h"
#include "tools/web/TAccounts.h"
#include "tools/web/TGateway.h"
#include "tools/web/THttpServer.h"
#include "tools/web/TlsCertificate.h"
#include "tools/web/WebCommandLine.h"
#include "tools/web/WebPaths.h"
#include "version/ProgramVersion.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sodium.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace raduvuz;
using namespace raduvuz::web;

namespace {

int SignalPipe[2] = {-1, -1};
volatile sig_atomic_t SignalNumber = 0;

void OnSignal(int number) {
    SignalNumber = number;
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "raduvuz-web: %s\n", message.c_str());
}

// A line from the terminal without echo.
std::string AskHidden(const char* prompt) {
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    termios old{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (terminal) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
        std::fprintf(stderr, "\n");
    }
    return line;
}

// The new password: asked twice on a terminal, else one line of standard input.
std::string NewPassword(const std::string& user) {
    if (::isatty(STDIN_FILENO) != 1) {
        std::string line;
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    const std::string first = AskHidden(("New password for " + user + ": ").c_str());
    const std::string again = AskHidden("The same again: ");
    if (first != again)
        throw TAccountsError("the two passwords differ; nothing was changed");
    return first;
}

int RunUser(const TWebRequest& request) {
    const std::string folder = WebFolder();
    MakeWebFolder(folder);
    TAccounts accounts(UsersFile(folder));
    TSystemLog log("raduvuz-web");
    if (request.Command == "user-list") {
        accounts.Refresh();
        if (accounts.All().empty())
            std::printf("no user yet: add one with raduvuz-web user add NAME --role operator\n");
        for (const TAccount& account : accounts.All())
            std::printf("%s %s\n", account.Name.c_str(), RoleName(account.Role));
        return kWebOk;
    }
    if (request.Command == "user-del") {
        accounts.Remove(request.User);
        log.Write(TLogSeverity::Info, "user " + request.User + " removed");
        std::printf("removed user %s\n", request.User.c_str());
        return kWebOk;
    }
    if (request.Command == "user-add") {
        accounts.Refresh();
        if (accounts.Find(request.User))
            throw TAccountsError("the user " + request.User + " exists already (change the " +
                                 "password with \"raduvuz-web user passwd " + request.User + "\")");
        if (!TAccounts::ValidName(request.User))
            throw TAccountsError("\"" + request.User + "\" is no user name: 1 to 64 letters, " +
                                 "digits, \".\", \"_\" or \"-\"");
        accounts.Add(request.User, *RoleNamed(request.Role), NewPassword(request.User));
        log.Write(TLogSeverity::Info, "user " + request.User + " (" + request.Role + ") added");
        std::printf("added user %s (%s)\n", request.User.c_str(), request.Role.c_str());
        return kWebOk;
    }
    accounts.Refresh();
    if (!accounts.Find(request.User))
        throw TAccountsError("there is no user " + request.User);
    accounts.SetPassword(request.User, NewPassword(request.User));
    log.Write(TLogSeverity::Info, "password of user " + request.User + " changed");
    std::printf("changed the password of %s; its sessions have ended\n", request.User.c_str());
    return kWebOk;
}

// Refuses to start while another user may read the accounts or the key.
bool Private(const std::vector<std::string>& paths) {
    const std::vector<std::string> exposed = ExposedPaths(paths);
    for (const std::string& line : exposed)
        Fail("refusing to start: the " + line);
    return exposed.empty();
}

int Serve(const TWebRequest& request, int argc, char** argv) {
    const std::string folder = WebFolder();
    MakeWebFolder(folder);
    const std::string users = UsersFile(folder);
    if (!Private({folder, users, request.KeyFile.empty() ? folder + "/key.pem" : request.KeyFile}))
        return kWebFailed;
    const TTlsMaterial tls = LoadTlsMaterial(folder, request.CertFile, request.KeyFile);
    if (!Private({tls.KeyFile}))
        return kWebFailed;
    TAccounts accounts(users);
    accounts.Refresh();

    QCoreApplication app(argc, argv);
    TSystemLog log("raduvuz-web");
    QDBusConnection bus = RaduvuzBus();
    if (!bus.isConnected()) {
        Fail("no D-Bus session bus: " + bus.lastError().message().toStdString());
        return kWebFailed;
    }
    if (!tls.Note.empty())
        log.Write(TLogSeverity::Info, tls.Note);
    TGateway gateway(bus, accounts, log);
    THttpServer server(
        [&gateway](std::function<void()> work) {
            QMetaObject::invokeMethod(&gateway, std::move(work), Qt::QueuedConnection);
        },
        [&gateway](std::shared_ptr<TExchange> exchange) { gateway.Handle(exchange); });
    const std::vector<std::string> urls = server.Start(request.Listen, tls);
    gateway.Start();

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) {
        Fail("cannot watch for signals");
        return kWebFailed;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier interrupted(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupted, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });

    for (const std::string& url : urls) {
        std::printf("raduvuz-web: serving %s\n", url.c_str());
        log.Write(TLogSeverity::Info, "serving " + url + " (" + ProgramVersion() + ")");
    }
    std::printf("raduvuz-web: certificate %s, SHA-256 fingerprint %s\n",
                tls.CertificateFile.c_str(), Fingerprint(tls.Certificate).c_str());
    if (accounts.All().empty())
        std::printf("raduvuz-web: no user yet: add one with raduvuz-web user add NAME --role "
                    "operator\n");
    std::fflush(stdout);
    const int code = QCoreApplication::exec();
    log.Write(TLogSeverity::Info,
              std::string("stopping") +
                  (SignalNumber
                       ? std::string(" on ") + (SignalNumber == SIGTERM ? "SIGTERM" : "SIGINT")
                       : std::string()));
    gateway.CloseStreams();
    server.Stop();
    return code;
}

} // namespace

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv, "raduvuz-web"))
        return kWebOk;
    if (sodium_init() < 0) {
        Fail("libsodium cannot start");
        return kWebFailed;
    }
    TWebRequest request;
    try {
        request = ParseWebCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const TWebUsageError& error) {
        std::fprintf(stderr, "raduvuz-web: %s\nTry \"raduvuz-web --help\".\n", error.what());
        return kWebUsage;
    }
    try {
        if (request.Command == "help") {
            std::printf("%s", WebHelpText().c_str());
            return kWebOk;
        }
        if (request.Command.rfind("user-", 0) == 0)
            return RunUser(request);
        return Serve(request, argc, argv);
    } catch (const TSetupError& error) {
        Fail(error.what());
    } catch (const TAccountsError& error) {
        Fail(error.what());
    }
    return kWebFailed;
}
