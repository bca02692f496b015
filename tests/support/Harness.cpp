#include "support/Harness.h"

#include "support/TempFiles.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sys/prctl.h>

namespace raduvuz::test {

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "raduvuz-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

void EndWithParent(QProcess& process, int signal) {
    process.setChildProcessModifier([signal] { ::prctl(PR_SET_PDEATHSIG, signal); });
}

void StopProcess(QProcess& process, int graceMs) {
    if (process.state() == QProcess::NotRunning)
        return;
    if (graceMs > 0) {
        process.terminate();
        if (process.waitForFinished(graceMs))
            return;
    }
    process.kill();
    process.waitForFinished(10000);
}

bool WaitUntil(const std::function<bool()>& done, int ms, int pollMs) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        if (QCoreApplication::instance()) {
            QEventLoop loop;
            QTimer::singleShot(pollMs, &loop, &QEventLoop::quit);
            loop.exec();
        } else {
            QThread::msleep(static_cast<unsigned long>(pollMs));
        }
    }
    return true;
}

std::ostream& operator<<(std::ostream& out, const TRunResult& result) {
    return out << "exit code " << result.Code << "\nstdout:\n"
               << result.Out << "stderr:\n"
               << result.Err;
}

TRunResult RunToEnd(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                    const std::string& input, const QString& folder, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(env);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, args);
    process.write(QByteArray::fromStdString(input));
    process.closeWriteChannel();
    TRunResult result;
    if (!process.waitForFinished(timeoutMs)) {
        StopProcess(process, 0);
        result.Err = program.toStdString() + " did not end";
        return result;
    }
    result.Code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Out = process.readAllStandardOutput().toStdString();
    result.Err = process.readAllStandardError().toStdString();
    return result;
}

QProcessEnvironment OnBus(QProcessEnvironment env, const QString& address) {
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    env.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
    env.remove(QStringLiteral("DBUS_STARTER_BUS_TYPE"));
    return env;
}

std::string SystemLogOf(qint64 pid) {
    if (!std::filesystem::exists("/dev/log"))
        return {};
    const TTempFolder folder;
    const std::string out = folder / "journal.txt";
    std::system(("journalctl -q -o cat _PID=" + std::to_string(pid) + " >'" + out + "' 2>/dev/null")
                    .c_str());
    return ReadTextFile(out);
}

TPrivateBus::TPrivateBus(const std::string& config) {
    EnsureApplication();
    EndWithParent(Daemon);
    Daemon.start(QStringLiteral("dbus-daemon"),
                 {config.empty() ? QStringLiteral("--session")
                                 : QStringLiteral("--config-file=") + Q(config),
                  QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!Daemon.waitForStarted(10000) || !Daemon.waitForReadyRead(10000))
        return;
    BusAddress = QString::fromUtf8(Daemon.readLine()).trimmed();
    static std::atomic<int> counter{0};
    ConnectionName = QStringLiteral("private-bus-%1").arg(counter++);
    Bus = QDBusConnection::connectToBus(BusAddress, ConnectionName);
    Connected = Bus.isConnected();
}

TPrivateBus::~TPrivateBus() {
    if (!ConnectionName.isEmpty())
        QDBusConnection::disconnectFromBus(ConnectionName);
    StopProcess(Daemon, 5000);
}

QProcessEnvironment TPrivateBus::Environment() const {
    return OnBus(QProcessEnvironment::systemEnvironment(), BusAddress);
}

bool WaitForName(const QDBusConnection& bus, const QString& name, int timeoutMs) {
    return WaitUntil([&] { return bus.interface()->isServiceRegistered(name).value(); }, timeoutMs,
                     10);
}

qint64 PidOf(const QDBusConnection& bus, const QString& name) {
    auto reply = bus.interface()->servicePid(name);
    return reply.isValid() ? reply.value() : -1;
}

} // namespace raduvuz::test
