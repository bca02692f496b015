#pragma once

// What the tests that start the real programs share: the application object QProcess and QtDBus
// need, a private bus, starting, waiting for and stopping a program, running one to its end.

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <csignal>
#include <functional>
#include <ostream>
#include <string>

namespace raduvuz::test {

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The one application object of the test program; the first caller makes it.
void EnsureApplication();
// A crashed test leaves no child behind: the child gets signal when the test's process ends.
void EndWithParent(QProcess& process, int signal = SIGTERM);
// Asks a running process to end and kills it when it has not ended within graceMs (at once
// when graceMs is 0).
void StopProcess(QProcess& process, int graceMs = 10000);
// Serves events until done() or ms are up, looking every pollMs; done()'s last answer.
bool WaitUntil(const std::function<bool()>& done, int ms, int pollMs = 20);

// What a program run to its end answered: its exit code (-1 when it crashed or did not end),
// standard output and standard error.
struct TRunResult {
    int Code = -1;
    std::string Out;
    std::string Err;
};
std::ostream& operator<<(std::ostream& out, const TRunResult& result);
// Runs program with standard input in folder (the test program's when empty) until it ends,
// killing it after timeoutMs.
TRunResult RunToEnd(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                    const std::string& input = {}, const QString& folder = {},
                    int timeoutMs = 60000);
// The environment with the session bus at address and no bus a starter handed down.
QProcessEnvironment OnBus(QProcessEnvironment env, const QString& address);
// The system log's lines of process pid: empty where the machine has no system logger.
std::string SystemLogOf(qint64 pid);
// Serves events until somebody owns name on bus or timeoutMs are up; whether somebody does.
bool WaitForName(const QDBusConnection& bus, const QString& name, int timeoutMs);
// The process that owns name on bus; -1 when nobody does.
qint64 PidOf(const QDBusConnection& bus, const QString& name);

// A dbus-daemon of the test's own, with the daemon's session configuration or the file config,
// and a connection to it.
class TPrivateBus {
public:
    explicit TPrivateBus(const std::string& config = {});
    ~TPrivateBus();
    TPrivateBus(const TPrivateBus&) = delete;
    TPrivateBus& operator=(const TPrivateBus&) = delete;
    bool Ok() const { return Connected; }
    const QString& Address() const { return BusAddress; }
    QDBusConnection& Connection() { return Bus; }
    QProcess& Process() { return Daemon; }
    // The environment for a child process that must use this bus.
    QProcessEnvironment Environment() const;

private:
    QProcess Daemon;
    QString BusAddress;
    QString ConnectionName;
    QDBusConnection Bus{QString()};
    bool Connected = false;
};

} // namespace raduvuz::test
