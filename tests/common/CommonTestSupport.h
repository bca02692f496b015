#pragma once

#include "common/Language.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace raduvuz::test {

// A clean folder per test, with the registry file and the XDG data folder redirected into it, so
// that nothing of the machine's installation takes part, and a program folder of its own.
class TCommonTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(Root + "/prog"); }

    std::string PathOf(const std::string& name) const { return Root + "/" + name; }
    std::string ProgramDir() const { return Root + "/prog/"; }

    // The server key of the installation with the given values ("Name=Value" lines).
    void WriteRegistry(const std::string& values) const {
        WriteTextFile(Root + "/registry.ini",
                      "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\n" + values);
    }

    TTempFolder Folder;
    const std::string Root = Folder.Path();
    TScopedEnv Registry{"RADUVUZ_REGISTRY", Root + "/registry.ini"};
    TScopedEnv Xdg{"XDG_DATA_HOME", Root + "/xdg"};
};

} // namespace raduvuz::test
