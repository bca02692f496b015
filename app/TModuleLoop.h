#pragma once

#include "control/IEventLoop.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <utility>

namespace raduvuz {

class TModuleControl;

// The event loop part of the module: the timer that calls the module every second, the queued
// tick that ScheduleTick asks for, and the waits that serve events meanwhile. QtCore only, so a
// module without a display runs on it as one with a console does.
class TModuleLoop : public QObject, public IEventLoop {
    Q_OBJECT

public:
    TModuleLoop();

    // The module this loop drives; the program sets it once both exist. The timer calls it only
    // while it is initialised and not closed.
    void SetModule(TModuleControl* module) { Module = module; }
    QTimer& ProcessingTimer() { return Timer; }

    void StopTimer() override;
    void ProcessPendingMessages() override;
    void WaitForEvents(int maxMs, const std::function<bool()>& done) override;
    bool WaitAside(const std::function<bool()>& work) override;
    void ScheduleTick() override;
    void SetTickEnded(std::function<void()> ended) override { TickEnded = std::move(ended); }

private:
    TModuleControl* ActiveModule() const;
    void TimerTimer();

    TModuleControl* Module = nullptr;
    QTimer Timer;
    // The queued call of ScheduleTick.
    QTimer Soon;
    std::function<void()> TickEnded;
    // Event handling of the module's own in progress (ProcessPendingMessages, WaitForEvents).
    int Serving = 0;
};

} // namespace raduvuz
