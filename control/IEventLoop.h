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
    // Runs work (a wait for the disk) and gives its result. A loop that can runs it on another
    // thread and handles events meanwhile, but only where no other wait of its own is handling
    // them: a call that came in through one runs its disk waits on the calling thread.
    virtual bool WaitAside(const std::function<bool()>& work) { return work(); }
    // Calls the module's TimerTimer soon from the event loop, once however often it is asked
    // before then; not while the timer is stopped.
    virtual void ScheduleTick() = 0;
    // Calls ended after every tick the loop ran, once the module is out of it (a tick lets events
    // in, and one of them may start a tick that returns at once): a console runs there what the
    // operator asked for during the tick, and its tray icon follows the module. One at a time; an
    // empty function ends it. A loop that runs no ticks of its own has none to tell of.
    virtual void SetTickEnded(std::function<void()> ended) { (void)ended; }
};

} // namespace raduvuz
