#include "tools/twf/TBusCall.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QTimer>

namespace raduvuz {

QDBusMessage CallAndWait(QDBusConnection& bus, const QDBusMessage& call, int timeoutMs) {
    QDBusPendingCall pending = bus.asyncCall(call, timeoutMs);
    QDBusPendingCallWatcher watcher(pending);
    if (!watcher.isFinished()) {
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        // Our own deadline, in case the bus library's reply timeout never comes.
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(timeoutMs + 2000);
        loop.exec();
    }
    if (!watcher.isFinished())
        return call.createErrorReply(
            QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
            QStringLiteral("No reply to %1 within %2 ms").arg(call.member()).arg(timeoutMs + 2000));
    return watcher.reply();
}

QDBusMessage MakeCall(const QString& service, const QString& path, const QString& iface,
                      const QString& method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, iface, method);
    call.setArguments(args);
    return call;
}

QString ErrorText(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ErrorMessage)
        return {};
    return reply.errorName() + ": " + reply.errorMessage();
}

bool WaitForName(QDBusConnection& bus, const QString& name, int timeoutMs, const QProcess* owner) {
    QEventLoop loop;
    QDBusServiceWatcher watcher(name, bus, QDBusServiceWatcher::WatchForRegistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
    if (owner)
        QObject::connect(owner, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    // Asked once the watch is set, so a name that came meanwhile is not missed.
    auto hasOwner = [&] {
        QDBusMessage reply = CallAndWait(bus,
                                         MakeCall(QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("NameHasOwner"), {name}),
                                         5000);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
               reply.arguments().first().toBool();
    };
    if (hasOwner())
        return true;
    if (owner && owner->state() == QProcess::NotRunning)
        return false;
    loop.exec();
    return hasOwner();
}

bool WaitForEnd(QProcess& process, int timeoutMs) {
    if (process.state() == QProcess::NotRunning)
        return true;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
    return process.state() == QProcess::NotRunning;
}

} // namespace raduvuz
