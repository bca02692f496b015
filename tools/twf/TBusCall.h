#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QVariantList>

namespace raduvuz {

// A call that waits for its reply in a local event loop, so the caller keeps serving incoming
// calls meanwhile (a module calls the server back from inside Init).
QDBusMessage CallAndWait(QDBusConnection& bus, const QDBusMessage& call, int timeoutMs);

QDBusMessage MakeCall(const QString& service, const QString& path, const QString& iface,
                      const QString& method, const QVariantList& args);

// "Name: message" of an error reply; empty for a good reply.
QString ErrorText(const QDBusMessage& reply);

// Waits, serving events, until the name has an owner on the bus; false on time-out, or as soon
// as the process that should own it has ended.
bool WaitForName(QDBusConnection& bus, const QString& name, int timeoutMs,
                 const QProcess* owner = nullptr);

// Waits, serving events, until the process has ended; false on time-out.
bool WaitForEnd(QProcess& process, int timeoutMs);

} // namespace raduvuz
