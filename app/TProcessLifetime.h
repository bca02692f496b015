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
// ends, once no call is in progress in either direction and no self-reference is held (SelfReg
// not given, or dropped by Close), as soon as either
//  - every peer that has called it has left the bus, or
//  - its module was closed and no call has come in for a second (a caller that closed the module
//    has let it go; it may still be on the bus for other work), or
//  - its module was never initialised and no call has come in for the release grace (30 s),
//    so a creator that went quiet does not keep it.
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

private:
    void Check();
    bool MayEnd();

    TModuleControl& Module;
    bool Automation;
    int IncomingCalls = 0;
    bool EverCalled = false;
    int GraceMs;
    QSet<QString> Callers;
    QDBusServiceWatcher* Watcher = nullptr;
    QElapsedTimer SinceLastCall;
    QTimer IdleCheck;
    bool WasInUse = false;
    bool Ending = false;
};

} // namespace raduvuz
