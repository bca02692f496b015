#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace raduvuz {

// What the module needs of the event loop that drives it: its timer, the queued tick and the
// waits that serve events meanwhile. The program gives one whether or not a console is shown;
// tests use a fake. Everything runs on the one thread of the loop.
class IEventLoop {
public:
    virtual ~IEventLoop() = default;

    // Stops the timer that calls the module every second (Close).
    virtual void StopTimer() = 0;
    // Lets the loop handle its pending events (incoming calls among them).
    virtual void ProcessPendingMessages() = 0;
    // Handles events as they arrive, sleeping while none does, until done() says so or maxMs
    // have passed. A loop without an event wait of its own looks every few milliseconds.
    virtual void WaitForEvents(int maxMs, const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        for (;;) {
            ProcessPendingMessages();
            const auto now = std::chrono::steady_clock::now();
            if (done() || now >= until)
                return;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                until - now, std::chrono::milliseconds(10)));
        }
    }
    // Calls the module's TimerTimer soon from the event loop, once however often it is asked
    // before then; not while the timer is stopped.
    virtual void ScheduleTick() = 0;
    // While resting (a menu's own event loop is up), no tick runs; one asked for meanwhile runs
    // once the rest ends, and the timer starts again.
    virtual void RestTicks(bool resting) { (void)resting; }
};

} // namespace raduvuz
