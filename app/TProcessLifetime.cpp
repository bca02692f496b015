#include "app/TProcessLifetime.h"

#include "control/TModuleControl.h"
#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QCoreApplication>

#include <algorithm>

namespace raduvuz {

TProcessLifetime::TProcessLifetime(TModuleControl& module, bool automation, int graceMs,
                                   QObject* parent)
    : QObject(parent), Module(module), Automation(automation), GraceMs(graceMs) {
    SinceLastCall.start();
    if (!Automation)
        return;
    Watcher = new QDBusServiceWatcher(QString(), RaduvuzBus(),
                                      QDBusServiceWatcher::WatchForUnregistration, this);
    connect(Watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& name) {
        Callers.remove(name);
        Watcher->removeWatchedService(name);
        Reconsider();
    });
    Module.SetSelfReleasedHandler([this] { Reconsider(); });
    IdleCheck.setInterval(500);
    connect(&IdleCheck, &QTimer::timeout, this, &TProcessLifetime::Check);
    IdleCheck.start();
    GraceEnd.setSingleShot(true);
    GraceEnd.setTimerType(Qt::PreciseTimer);
    connect(&GraceEnd, &QTimer::timeout, this, &TProcessLifetime::Check);
}

void TProcessLifetime::CallStarted(const QString& caller) {
    ++IncomingCalls;
    EverCalled = true;
    SinceLastCall.restart();
    if (Watcher && !caller.isEmpty() && !Callers.contains(caller)) {
        Callers.insert(caller);
        Watcher->addWatchedService(caller);
    }
}

void TProcessLifetime::CallFinished() {
    --IncomingCalls;
    SinceLastCall.restart();
    Reconsider();
}

void TProcessLifetime::Reconsider() {
    if (Automation)
        QTimer::singleShot(0, this, &TProcessLifetime::Check);
}

bool TProcessLifetime::MayEnd(qint64& waitMs) {
    waitMs = -1;
    if (Module.IsCurrent())
        WasInUse = true;
    if (!Automation || IncomingCalls > 0 || TDBusObject::PendingCalls() > 0 ||
        (Module.HoldsSelfReference() && WasInUse))
        return false;
    // A module made by GetObject waits for its Init the whole grace time, even when the peer
    // that asked for it has left: the one that initialises it may be another.
    if (EverCalled && Callers.isEmpty() && (WasInUse || !Module.HoldsSelfReference()))
        return true;
    if (Module.IsCurrent())
        return false;
    const qint64 grace = WasInUse ? std::min<qint64>(kClosedGraceMs, GraceMs) : GraceMs;
    const qint64 left = grace - SinceLastCall.elapsed();
    if (left <= 0)
        return true;
    waitMs = left;
    return false;
}

void TProcessLifetime::Check() {
    if (Ending)
        return;
    qint64 waitMs = -1;
    if (!MayEnd(waitMs)) {
        if (waitMs >= 0)
            GraceEnd.start(static_cast<int>(std::min<qint64>(waitMs, 60000)) + 1);
        return;
    }
    Ending = true;
    // exit, not quit: quit asks the windows first, and the console's window (shown where the
    // desktop has no tray) only hides on a close request.
    QCoreApplication::exit(0);
}

} // namespace raduvuz
