#pragma once

#include "console/ConsoleTestSupport.h"

#include "app/TModuleLoop.h"
#include "console/TfMain.h"
#include "control/TModuleControl.h"
#include "module/ModuleTestSupport.h"
#include "platform/System.h"
#include "services/Dispatch.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

namespace raduvuz::test {

// The test answers the window's questions: what it was asked is recorded, the answers come
// from the functions the test sets.
class TAnsweringDialogs : public IConsoleDialogs {
public:
    QStringList Asked;
    bool ConfirmAnswer = true;
    std::function<bool(QDialog&)> OnExec = [](QDialog&) { return false; };
    std::optional<QString> TextAnswer;
    std::optional<QString> FolderAnswer;

    bool Confirm(QWidget*, const QString& text) override {
        Asked << text;
        return ConfirmAnswer;
    }
    bool Exec(QDialog& dialog) override {
        Asked << dialog.windowTitle();
        return OnExec(dialog);
    }
    std::optional<QString> AskText(QWidget*, const QString& caption, const QString& prompt,
                                   const QString& start) override {
        Asked << caption + " " + prompt + " [" + start + "]";
        return TextAnswer;
    }
    std::optional<QString> AskFolder(QWidget*, const QString& caption) override {
        Asked << caption;
        return FolderAnswer;
    }
};

// A real module behind the console in a folder of the test's own, with its loop and a server
// that notes what it is told; the test sets the process up further, then calls Init.
struct TLiveConsole {
    TTestFolder Folder;
    TScopedEnv Xdg{"XDG_DATA_HOME", Folder.StdPath(QStringLiteral("xdg"))};
    TModuleProcess Process;
    TModuleLoop Loop;
    TModuleControl Module{Process, Loop};
    TfMain Window{Module.Rows()};
    // The workflow server: what it was told, as "Method(arg,arg)".
    std::shared_ptr<TScriptedPeer> Server = std::make_shared<TScriptedPeer>(
        std::vector<std::string>{"ChangeStatus", "WriteLog", "ShowLabel", "ChangeSetup", "SetValue",
                                 "IsJobUse", "GetValue", "CloseMe"});

    TLiveConsole() {
        Process.ProgramFolder = Folder.StdPath(QStringLiteral("prog")) + "/";
        ForceDirectories(Process.ProgramFolder);
        Process.ProgramName = "raduvuz";
        Server->Answers["IsJobUse"] = TCallResult{false, {}};
        Loop.SetModule(&Module);
        Module.SetView(&Window);
        Window.SetModule(&Module);
    }
    ~TLiveConsole() {
        Window.SetModule(nullptr);
        Module.SetView(nullptr);
    }
    TLiveConsole(const TLiveConsole&) = delete;
    TLiveConsole& operator=(const TLiveConsole&) = delete;

    void Init() { Module.Init(3, "Queue", Server); }
};

} // namespace raduvuz::test
