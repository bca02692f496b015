#pragma once

#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

namespace raduvuz {

class TModuleControl;

// When a process started by automation (-AUTOMATION, -EMBEDDING) ends. Without reference counts
// on the bus, a peer holds the module while it stays on the bus after calling it. The process
// ends, once no call is in progress in either direction and no self-reference holds an
// initialised module (SelfReg not given, or dropped by Close), as soon as either
//  - every peer that has called it has left the bus, or
//  - its module was closed and no call has come in for kClosedGraceMs (a caller that closed the
//    module has let it go; it may still be on the bus for other work), or
//  - its module was never initialised and no call has come in for the release grace (30 s),
//    so a creator that went quiet does not keep it, even one that gave it a self-reference
//    (GetObject does).
// A process started without those switches ends only by the window's shut-down action.
class TProcessLifetime : public QObject {
    Q_OBJECT

public:
    TProcessLifetime(TModuleControl& module, bool automation, int graceMs = 30000,
                     QObject* parent = nullptr);

    // Every incoming call brackets itself with these.
    void CallStarted(const QString& caller);
    void CallFinished();
    // Looks again whether the process may end (queued, so that replies go out first).
    void Reconsider();

    // How long a closed module's process waits for one more call before it ends.
    static constexpr qint64 kClosedGraceMs = 200;

private:
    void Check();
    // Whether the process may end now; else, when only a grace keeps it, waitMs is the time left.
    bool MayEnd(qint64& waitMs);

    TModuleControl& Module;
    bool Automation;
    int IncomingCalls = 0;
    bool EverCalled = false;
    int GraceMs;
    QSet<QString> Callers;
    QDBusServiceWatcher* Watcher = nullptr;
    QElapsedTimer SinceLastCall;
    QTimer IdleCheck;
    // Fires when a grace runs out, so the end does not wait for the next idle check.
    QTimer GraceEnd;
    bool WasInUse = false;
    bool Ending = false;
};

} // namespace raduvuz
