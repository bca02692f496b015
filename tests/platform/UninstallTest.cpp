#include "platform/Uninstall.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

namespace raduvuz {
namespace {

// The helper library is loaded once per process, so every case runs in a child of its own
// that starts with nothing loaded; the child's exit status is the sum of what its calls answered
// (the helper answers 42).
class UninstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(ProgramFolder);
        std::filesystem::create_directories(OtherFolder);
    }

    void InstallHelper(const char* built, const std::string& folder) {
        std::filesystem::copy_file(built, folder + "zIzazoDa.so");
    }

    test::TTempFolder Temp;
    std::string ProgramFolder = Temp / "program/";
    std::string OtherFolder = Temp / "other/";
    std::string Log = Temp / "uninstall.log";
    test::TScopedEnv LogName{"RADUVUZ_UNINSTALL_LOG", Log};
};

TEST_F(UninstallTest, CallsTheHelperOfTheFirstProgramFolderAndKeepsItLoaded) {
    InstallHelper(RADUVUZ_UNINSTALL_HELPER, ProgramFolder);
    EXPECT_EQ(test::RunInChild([this] {
                  const int first = RegisterForUninstall(ProgramFolder, "/data/jobs", 1);
                  // The helper stays loaded, whatever folder later calls name.
                  std::filesystem::remove(ProgramFolder + "zIzazoDa.so");
                  return first + RegisterForUninstall(OtherFolder, "/data/preview", 1);
              }),
              84);
    EXPECT_EQ(test::ReadTextFile(Log), "1 /data/jobs\n1 /data/preview\n");
}

// A helper missing at the first call is not looked for again; one without the export is no helper.
TEST_F(UninstallTest, MissingHelperOrOneWithoutTheExportDoesNothing) {
    EXPECT_EQ(test::RunInChild([this] {
                  const int first = RegisterForUninstall(ProgramFolder, "/data/jobs", 1);
                  InstallHelper(RADUVUZ_UNINSTALL_HELPER, ProgramFolder);
                  return first + RegisterForUninstall(ProgramFolder, "/data/jobs", 1);
              }),
              0);
    std::filesystem::remove(ProgramFolder + "zIzazoDa.so");
    InstallHelper(RADUVUZ_UNINSTALL_NOEXPORT, ProgramFolder);
    EXPECT_EQ(
        test::RunInChild([this] { return RegisterForUninstall(ProgramFolder, "/data/jobs", 1); }),
        0);
    EXPECT_FALSE(std::filesystem::exists(Log));
}

} // namespace
} // namespace raduvuz
