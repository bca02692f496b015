#include "app/TModuleStarter.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <stdexcept>

namespace raduvuz {

namespace {

bool NameHasOwner(const QString& name) {
    TDBusObject bus("org.freedesktop.DBus", "/org/freedesktop/DBus");
    return VariantToBool(bus.Call("NameHasOwner", {name.toStdString()}, "s").Result);
}

} // namespace

TModuleStarter::TModuleStarter(QString program, QStringList options, int appearTimeoutMs)
    : Program(std::move(program)), Options(std::move(options)), AppearTimeoutMs(appearTimeoutMs) {}

QString TModuleStarter::StartModule() {
    qint64 pid = 0;
    if (!QProcess::startDetached(Program, QStringList{QStringLiteral("-EMBEDDING")} + Options,
                                 QString(), &pid))
        throw std::runtime_error("Cannot start the module program " + Program.toStdString());
    const QString name = QStringLiteral("RAduvuz.ModuleControl.p%1").arg(pid);

    // Wait in a local event loop so that calls to this process are served meanwhile.
    QDBusServiceWatcher watcher(name, RaduvuzBus(), QDBusServiceWatcher::WatchForRegistration);
    QEventLoop loop;
    bool appeared = false;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, [&] {
        appeared = true;
        loop.quit();
    });
    QTimer poll;
    poll.setInterval(50);
    const QDeadlineTimer deadline(AppearTimeoutMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (::kill(static_cast<pid_t>(pid), 0) != 0 || deadline.hasExpired())
            loop.quit();
    });
    appeared = NameHasOwner(name);
    if (!appeared) {
        poll.start();
        loop.exec();
        appeared = appeared || NameHasOwner(name);
    }
    if (!appeared)
        throw std::runtime_error("The module process " + std::to_string(pid) +
                                 " did not appear on the bus");

    const std::string reference = name.toStdString() + "/ModuleControl";
    TDBusObject(name.toStdString(), "/ModuleControl").Call("SelfReg", {reference}, "v");
    return QString::fromStdString(reference);
}

} // namespace raduvuz
