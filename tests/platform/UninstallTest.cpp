#include "platform/Uninstall.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

namespace raduvuz {
namespace {

// The helper library is loaded once per process, so every case runs in a child of its own
// that starts with nothing loaded; the child writes what it saw to a file for the parent.
class UninstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(ProgramFolder);
        std::filesystem::create_directories(OtherFolder);
    }

    void InstallHelper(const char* built, const std::string& folder) {
        std::filesystem::copy_file(built, folder + "zIzazoDa.so");
    }

    void Record(const std::string& line) {
        std::string seen = test::ReadTextFile(Results);
        test::WriteTextFile(Results, seen + line + "\n");
    }

    test::TTempFolder Temp;
    std::string ProgramFolder = Temp / "program/";
    std::string OtherFolder = Temp / "other/";
    std::string Log = Temp / "uninstall.log";
    std::string Results = Temp / "results.txt";
    test::TScopedEnv LogName{"RADUVUZ_UNINSTALL_LOG", Log};
};

TEST_F(UninstallTest, CallsTheHelperOfTheFirstProgramFolderAndKeepsItLoaded) {
    InstallHelper(RADUVUZ_UNINSTALL_HELPER, ProgramFolder);
    ASSERT_EQ(test::RunInChild([this] {
                  Record(std::to_string(RegisterForUninstall(ProgramFolder, "/data/jobs", 1)));
                  // The helper stays loaded, whatever folder later calls name.
                  std::filesystem::remove(ProgramFolder + "zIzazoDa.so");
                  Record(std::to_string(RegisterForUninstall(OtherFolder, "/data/preview", 1)));
                  return 0;
              }),
              0);
    EXPECT_EQ(test::ReadTextFile(Results), "42\n42\n");
    EXPECT_EQ(test::ReadTextFile(Log), "1 /data/jobs\n1 /data/preview\n");
}

TEST_F(UninstallTest, MissingHelperDoesNothingAndIsNotLookedForAgain) {
    ASSERT_EQ(test::RunInChild([this] {
                  Record(std::to_string(RegisterForUninstall(ProgramFolder, "/data/jobs", 1)));
                  InstallHelper(RADUVUZ_UNINSTALL_HELPER, ProgramFolder);
                  Record(std::to_string(RegisterForUninstall(ProgramFolder, "/data/jobs", 1)));
                  return 0;
              }),
              0);
    EXPECT_EQ(test::ReadTextFile(Results), "0\n0\n");
    EXPECT_FALSE(std::filesystem::exists(Log));
}

TEST_F(UninstallTest, HelperWithoutTheExportDoesNothing) {
    InstallHelper(RADUVUZ_UNINSTALL_NOEXPORT, ProgramFolder);
    ASSERT_EQ(test::RunInChild([this] {
                  Record(std::to_string(RegisterForUninstall(ProgramFolder, "/data/jobs", 1)));
                  return 0;
              }),
              0);
    EXPECT_EQ(test::ReadTextFile(Results), "0\n");
    EXPECT_FALSE(std::filesystem::exists(Log));
}

} // namespace
} // namespace raduvuz
