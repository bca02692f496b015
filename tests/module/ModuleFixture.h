#pragma once

#include "common/TTwfPaths.h"
#include "control/TModuleControl.h"
#include "module/ModuleTestSupport.h"
#include "platform/System.h"
#include "support/RecordingLogSink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace raduvuz::test {

// A module object with a fake window, a scripted server and store, and its data and program
// folders in a temporary folder.
class ModuleFixture : public ::testing::Test {
protected:
    TTempFolder Temp;
    TScopedEnv Registry{"RADUVUZ_REGISTRY", Temp.Path() + "/registry.ini"};
    TScopedEnv Xdg{"XDG_DATA_HOME", Temp.Path() + "/xdg"};
    TModuleProcess Process;
    TFakeWindow Window;
    std::unique_ptr<TModuleControl> Module;
    std::shared_ptr<TScriptedPeer> Server;
    std::shared_ptr<TScriptedPeer> Store;
    std::shared_ptr<TRecordingLogSink> SystemLog = std::make_shared<TRecordingLogSink>();
    int StoreCreations = 0;
    std::string CreatedProgId;

    void SetUp() override {
        Process.ProgramFolder = Temp.Path() + "/prog/";
        Process.LogSink = SystemLog;
        ForceDirectories(ConfigFolder());
        Module = std::make_unique<TModuleControl>(Process, Window, &Window);
        Server = MakeServer(::raduvuz::ComputerName(), Temp.Path() + "/preview");
        Store = MakeStore(true);
        Process.ObjectFactory = [this](const std::string& progId) -> TDispatchPtr {
            ++StoreCreations;
            CreatedProgId = progId;
            return Store;
        };
    }

    void TearDown() override { Module.reset(); }

    std::string ConfigFolder() const { return ExcludeTrailingSeparator(DataPath()) + "/Config"; }

    void InitModule(int32_t number = 5, const std::string& description = "Queue") {
        Module->Init(number, description, Server);
        Server->Calls.clear();
        Server->Args.clear();
    }
};

} // namespace raduvuz::test
