#pragma once

#include <string>

namespace raduvuz {

class TCompoundFile;

// What the module shows of itself when a console is there: caption, tray tip, log pane, the
// start/stop action, the layout, messages, beep and busy cursor. A module without a display has
// none (TNoView); tests use a fake.
class IModuleView {
public:
    virtual ~IModuleView() = default;

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
    virtual void ShowAndActivate() = 0;
    virtual void Beep() = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
};

// The view of a module without a console: it shows nothing. The log still reaches the system
// log and, after StartLog, the server.
class TNoView final : public IModuleView {
public:
    void SetCaption(const std::string&) override {}
    void SetTrayTip(const std::string&) override {}
    void SetToolbarCaption(const std::string&) override {}
    void LogWriteLine(const std::string&) override {}
    void SetPauseAction(const std::string&, const std::string&, int) override {}
    void SetPauseHint(const std::string&) override {}
    void SaveLayout() override {}
    void LoadLayout(TCompoundFile&) override {}
    void SetLayoutFile(const std::string&) override {}
    void ShowAndActivate() override {}
    void Beep() override {}
    void SetBusyCursor(bool) override {}
    void ShowMessage(const std::string&) override {}
};

} // namespace raduvuz
