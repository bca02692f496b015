#pragma once

#include "control/TModuleControl.h"
#include "cycle/CycleTestSupport.h"
#include "module/ModuleTestSupport.h"
#include "platform/System.h"
#include "support/RecordingLogSink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace raduvuz::test {

// A module object before Init, with a fake window, a scripted server and store, and its data and
// program folders in a temporary folder.
class ModuleFixture : public TModuleTest {
protected:
    std::shared_ptr<TScriptedStore> Store = std::make_shared<TScriptedStore>();
    int StoreCreations = 0;
    std::string CreatedProgId;

    void SetUp() override {
        TModuleTest::SetUp();
        // Nothing of what Init gives: no server, no number.
        Process.ServerObject = TServerClient();
        Module = std::make_unique<TModuleControl>(Process, Window, &Window);
        ForceDirectories(ConfigFolder());
        Process.ObjectFactory = [this](const std::string& progId) -> TDispatchPtr {
            ++StoreCreations;
            CreatedProgId = progId;
            return Store;
        };
    }

    void InitModule(int32_t number = 5, const std::string& description = "Queue") {
        Module->Init(number, description, Server);
        Server->Calls.clear();
        Server->Args.clear();
    }
};

} // namespace raduvuz::test
