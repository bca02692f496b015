#pragma once

#include "support/Harness.h"
#include "support/TempFiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <string>
#include <vector>

namespace raduvuz::test {

// memoryman on a private bus, with a numbering file of its own unless args name one.
class TStoreProcess {
public:
    explicit TStoreProcess(TPrivateBus& bus, const QStringList& args = {});
    ~TStoreProcess();
    bool Ok() const { return Started; }
    qint64 Pid() const { return Pid_; }
    // "rmm.<pid>.": the start of every block name of this store.
    std::string Prefix() const { return "rmm." + std::to_string(Pid()) + "."; }
    QProcess& Proc() { return Process; }
    // Everything the store wrote on stderr so far.
    std::string Errors();
    // Serves events until the store has written text on stderr or guardMs are up.
    bool WaitForError(const std::string& text, int guardMs = 10000);

    // A call by member name without an interface, as the module makes it.
    QDBusMessage Call(const char* method, const QVariantList& args = {});

private:
    TPrivateBus& Bus;
    TTempFolder State;
    QProcess Process;
    qint64 Pid_ = 0;
    std::string ErrorText;
    bool Started = false;
};

// A module process as the store sees it: makes store calls given as text lines ("ROpenDoc 3 7")
// and answers each with its out arguments separated by tabs, or "error NAME". Killing it makes
// its bus connection vanish as a crashed module's does.
class TStoreCaller {
public:
    explicit TStoreCaller(TPrivateBus& bus);
    ~TStoreCaller();
    bool Ok() const { return Started; }
    QStringList Call(const std::string& line);
    void Kill();

private:
    QProcess Process;
    bool Started = false;
};

// The store's signals as they arrive, as lines such as "DocumentClosed 7 true"; a signal whose
// arguments are not of the types the module expects says so on its line.
class TStoreSignals : public QObject {
    Q_OBJECT

public:
    explicit TStoreSignals(QDBusConnection& bus);
    QStringList Seen;
    // Serves events until the line has arrived.
    bool WaitFor(const QString& line, int guardMs = 10000);

public slots:
    void Heard(const QDBusMessage& signal);
};

bool IsError(const QDBusMessage& reply);
// Names in /dev/shm starting with prefix.
std::vector<std::string> ShmFiles(const std::string& prefix);
void RemoveShm(const std::string& prefix);
// Opens a block as the module does and copies it out / in.
std::string ReadBlock(const std::string& name, int64_t size);
bool WriteBlock(const std::string& name, const std::string& data);
// Bytes that differ from block to block, so a block out of order shows.
std::string PatternBytes(size_t size, unsigned seed);

} // namespace raduvuz::test
