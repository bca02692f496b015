#pragma once

#include "control/IEventLoop.h"
#include "control/IModuleView.h"
#include "platform/TCompoundFile.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace raduvuz::test {

// The event loop and view of a module without a user interface, recording what the module tells
// them. Like the console, it keeps its layout in the "Config" stream of the file it was last
// given.
class TFakeWindow : public IEventLoop, public IModuleView {
public:
    std::string Caption;
    std::string TrayTip;
    std::string ToolbarCaption;
    std::vector<std::string> LogLines;
    std::vector<std::string> Messages;
    std::string PauseCaption;
    std::string PauseHint;
    int PauseImage = -1;
    int LayoutSaves = 0;
    std::string LayoutFile;
    std::string Layout = "Width=800;Height=600";
    std::optional<std::string> LoadedLayout;
    bool TimerStopped = false;
    // Runs while the module pumps messages (calls that arrive meanwhile).
    std::function<void()> OnPump;
    int Waits = 0;
    // When set, runs at each bounded wait instead of waiting.
    std::function<void()> OnWait;
    // Runs as a disk write is let wait aside, before the write (a call that comes in meanwhile).
    std::function<void()> OnWaitAside;
    // Ticks the module asked for since the last look.
    int TicksScheduled = 0;

    void SetCaption(const std::string& text) override { Caption = text; }
    void SetTrayTip(const std::string& text) override { TrayTip = text; }
    void SetToolbarCaption(const std::string& text) override { ToolbarCaption = text; }
    void LogWriteLine(const std::string& line) override { LogLines.push_back(line); }
    void SetPauseAction(const std::string& caption, const std::string& hint, int image) override {
        PauseCaption = caption;
        PauseHint = hint;
        PauseImage = image;
    }
    void SetPauseHint(const std::string& hint) override { PauseHint = hint; }
    void SaveLayout() override {
        ++LayoutSaves;
        TCompoundFile storage;
        if (!LayoutFile.empty() && storage.OpenOrCreate(LayoutFile))
            storage.WriteStream("Config", Layout);
    }
    void LoadLayout(TCompoundFile& storage) override {
        LoadedLayout = storage.ReadStream("Config");
    }
    void SetLayoutFile(const std::string& path) override { LayoutFile = path; }
    void StopTimer() override { TimerStopped = true; }
    void ShowAndActivate() override {}
    void ProcessPendingMessages() override {
        if (OnPump)
            OnPump();
    }
    void WaitForEvents(int maxMs, const std::function<bool()>& done) override {
        ++Waits;
        if (OnWait)
            OnWait();
        else
            IEventLoop::WaitForEvents(maxMs, done);
    }
    bool WaitAside(const std::function<bool()>& work) override {
        if (OnWaitAside)
            OnWaitAside();
        return work();
    }
    void ScheduleTick() override { ++TicksScheduled; }
    void Beep() override {}
    void SetBusyCursor(bool) override {}
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
};

} // namespace raduvuz::test
