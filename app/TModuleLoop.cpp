#include "app/TModuleLoop.h"

#include "control/TModuleControl.h"
#include "dbus/TDBusObject.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace raduvuz {

namespace {

struct TServing {
    explicit TServing(int& depth) : Depth(depth) { ++Depth; }
    ~TServing() { --Depth; }
    TServing(const TServing&) = delete;
    TServing& operator=(const TServing&) = delete;
    int& Depth;
};

} // namespace

TModuleLoop::TModuleLoop() {
    Timer.setInterval(1000);
    connect(&Timer, &QTimer::timeout, this, &TModuleLoop::TimerTimer);
    Timer.start();
    Soon.setSingleShot(true);
    Soon.setInterval(0);
    connect(&Soon, &QTimer::timeout, this, [this] {
        if (ActiveModule())
            TimerTimer();
    });
}

TModuleControl* TModuleLoop::ActiveModule() const {
    return Module && Module->IsCurrent() ? Module : nullptr;
}

void TModuleLoop::TimerTimer() {
    // The timer rests while the module works, and runs again afterwards in every case: a second
    // after the last tick, whatever started it.
    Soon.stop();
    Timer.stop();
    TModuleControl* module = ActiveModule();
    if (module)
        module->TimerTimer();
    Timer.start();
    // A tick started from inside another returns at once: the outer one tells when it ends.
    if (module && !module->InTick() && TickEnded)
        TickEnded();
}

void TModuleLoop::StopTimer() {
    Timer.stop();
}

void TModuleLoop::ProcessPendingMessages() {
    const TServing serving(Serving);
    QCoreApplication::processEvents();
}

void TModuleLoop::WaitForEvents(int maxMs, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    // A timer wakes the wait when nothing else comes first.
    QTimer bound;
    bound.setSingleShot(true);
    bound.start(maxMs);
    const TServing serving(Serving);
    QCoreApplication::processEvents();
    while (!done() && clock.elapsed() < maxMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool TModuleLoop::WaitAside(const std::function<bool()>& work) {
    // Within another wait, events are already being handled for a caller that may be in the
    // middle of its work: this one waits as it is.
    if (Serving > 0 || TDBusObject::PendingCalls() > 0)
        return work();
    return TDBusObject::RunAside(work);
}

void TModuleLoop::ScheduleTick() {
    Soon.start();
}

} // namespace raduvuz
