#pragma once

#include "common/Language.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

namespace raduvuz::test {

// A clean folder per test, with the registry file and the XDG data folder redirected into it, so
// that nothing of the machine's installation takes part, and a program folder of its own.
class TCommonTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "raduvuz-common-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Root = pattern;
        std::filesystem::create_directories(Root + "/prog");
        Registry.emplace("RADUVUZ_REGISTRY", Root + "/registry.ini");
        Xdg.emplace("XDG_DATA_HOME", Root + "/xdg");
    }

    void TearDown() override {
        Xdg.reset();
        Registry.reset();
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    std::string PathOf(const std::string& name) const { return Root + "/" + name; }
    std::string ProgramDir() const { return Root + "/prog/"; }

    void WriteFile(const std::string& path, const std::string& content) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        ASSERT_TRUE(out.good()) << path;
    }

    // The server key of the installation with the given values ("Name=Value" lines).
    void WriteRegistry(const std::string& values) const {
        WriteFile(Root + "/registry.ini", "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\n" + values);
    }

    std::string Root;
    std::optional<TScopedEnv> Registry;
    std::optional<TScopedEnv> Xdg;
};

} // namespace raduvuz::test
