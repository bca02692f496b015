#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace raduvuz {

class TCompoundFile;
class TJobListModel;

// What the module needs of its main window. The console implements it; tests use a fake.
// Everything runs on the one user-interface thread.
class IModuleWindow {
public:
    virtual ~IModuleWindow() = default;

    // Window caption and application title.
    virtual void SetCaption(const std::string& text) = 0;
    // Tray tip (at most 63 characters are kept) and the tray icon update.
    virtual void SetTrayTip(const std::string& text) = 0;
    virtual void SetToolbarCaption(const std::string& text) = 0;
    // Appends one line to the log pane.
    virtual void LogWriteLine(const std::string& line) = 0;
    // The start/stop action: caption, hint and image index; or its hint alone.
    virtual void SetPauseAction(const std::string& caption, const std::string& hint, int image) = 0;
    virtual void SetPauseHint(const std::string& hint) = 0;
    // Layout in the "Config" stream of the configuration file.
    virtual void SaveLayout() = 0;
    virtual void LoadLayout(TCompoundFile& storage) = 0;
    virtual void SetLayoutFile(const std::string& path) = 0;
    virtual void StopTimer() = 0;
    virtual void ShowAndActivate() = 0;
    // Lets the user interface handle its pending events (incoming calls among them).
    virtual void ProcessPendingMessages() = 0;
    // Handles events as they arrive, sleeping while none does, until done() says so or maxMs
    // have passed. A user interface without an event wait of its own looks every few
    // milliseconds.
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
    // before then; not while the window keeps its timer stopped.
    virtual void ScheduleTick() = 0;
    virtual void Beep() = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void ShowMessage(const std::string& text) = 0;

    virtual TJobListModel& ProcessJobs() = 0;
    virtual TJobListModel& CompletedJobs() = 0;
};

} // namespace raduvuz
