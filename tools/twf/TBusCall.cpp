#include "tools/twf/TBusCall.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
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

bool WaitForName(QDBusConnection& bus, const QString& name, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QDBusMessage reply = CallAndWait(bus,
                                         MakeCall(QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("NameHasOwner"), {name}),
                                         5000);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
            reply.arguments().first().toBool())
            return true;
        if (deadline.hasExpired())
            return false;
        ServeFor(50);
    }
}

void ServeFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace raduvuz
