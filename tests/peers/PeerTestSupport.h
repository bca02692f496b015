#pragma once

#include "support/TempFiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz::test {

// The one application object the Qt side of the tests needs.
void EnsureApplication();
// A crashed test leaves no daemon behind.
void EndWithParent(QProcess& process);

// A dbus-daemon of the test's own and a connection to it.
class TPrivateBus {
public:
    TPrivateBus();
    ~TPrivateBus();
    bool Ok() const { return Connected; }
    const QString& Address() const { return BusAddress; }
    QDBusConnection& Connection() { return Bus; }
    // The environment for a child process that must use this bus.
    QStringList Environment() const;
    bool WaitForName(const QString& name, int timeoutMs);
    qint64 PidOf(const QString& name);

private:
    QProcess Daemon;
    QString BusAddress;
    QString ConnectionName;
    QDBusConnection Bus{QString()};
    bool Connected = false;
};

// memoryman on a private bus.
class TStoreProcess {
public:
    explicit TStoreProcess(TPrivateBus& bus, const QStringList& args = {});
    ~TStoreProcess();
    bool Ok() const { return Started; }
    qint64 Pid() const { return Process.processId(); }
    // "rmm.<pid>.": the start of every block name of this store.
    std::string Prefix() const { return "rmm." + std::to_string(Pid()) + "."; }
    QProcess& Proc() { return Process; }

    // A call by member name without an interface, as the module makes it.
    QDBusMessage Call(const QString& method, const QVariantList& args = {});

private:
    TPrivateBus& Bus;
    QProcess Process;
    bool Started = false;
};

bool IsError(const QDBusMessage& reply);
// Names in /dev/shm starting with prefix.
std::vector<std::string> ShmFiles(const std::string& prefix);
void RemoveShm(const std::string& prefix);
// Maps a block as the module does (read-write, whole size) and copies it out / in.
std::string ReadBlock(const std::string& name, int64_t size);
bool WriteBlock(const std::string& name, const std::string& data);
// Bytes that differ from block to block, so a block out of order shows.
std::string PatternBytes(size_t size, unsigned seed);
// Serves events until done() or the guard expires; false on expiry.
bool ServeUntil(const std::function<bool()>& done, int guardMs);

} // namespace raduvuz::test
