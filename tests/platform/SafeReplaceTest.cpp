#include "platform/SafeReplace.h"

#include "PlatformTestSupport.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace raduvuz {
namespace {

using test::ReadTextFile;
using test::TTempFolder;
using test::WriteTextFile;

TEST(SafeReplace, NewContentsInPlaceAndTheOldFileAsBackup) {
    TTempFolder temp;
    const std::string path = temp / "list.map";
    const std::string backup = temp / "list.bak";
    WriteTextFile(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    WriteTextFile(backup, "older");
    std::string error;
    ASSERT_TRUE(ReplaceKeepingBackup(path, backup, "new", error)) << error;
    EXPECT_EQ(ReadTextFile(path), "new");
    EXPECT_EQ(ReadTextFile(backup), "old");
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
    EXPECT_EQ(test::ModeOf(path), 0640u);

    // A folder where the file should go: nothing changes, and the message names the file.
    const std::string blocked = temp / "blocked";
    std::filesystem::create_directories(blocked + ".new");
    EXPECT_FALSE(ReplaceKeepingBackup(blocked, temp / "blocked.bak", "x", error));
    EXPECT_NE(error.find(blocked + ".new"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(blocked));
}

// A process killed at any moment of its saves leaves one whole file or the other at the path,
// never none and never a part.
TEST(SafeReplace, AKilledSaveLeavesAWholeFile) {
    TTempFolder temp;
    const std::string path = temp / "ColorsCMYK.map";
    const std::string backup = temp / "ColorsCMYK.bak";
    const std::string first(1 << 20, 'a');
    const std::string second(1 << 19, 'b');
    WriteTextFile(path, first);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string error;
            for (int i = 0;; ++i) {
                if (!ReplaceKeepingBackup(path, backup, i % 2 == 0 ? second : first, error))
                    _exit(1);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * round));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child stopped by itself";
        const std::string now = ReadTextFile(path);
        ASSERT_TRUE(now == first || now == second) << "round " << round << ": " << now.size();
    }
}

TEST(SafeReplace, AFullDiskLeavesTheOldFileAndItsBackup) {
    TTempFolder temp;
    test::TSmallDisk disk(temp / "disk", 1);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    const std::string path = disk.Path() + "/ColorsCMYK.map";
    const std::string backup = disk.Path() + "/ColorsCMYK.bak";
    WriteTextFile(path, "0.0\t0.0\t0.0\t0.0\tOld\r\n");
    WriteTextFile(backup, "backup");
    std::string error;
    EXPECT_FALSE(ReplaceKeepingBackup(path, backup, std::string(2 << 20, 'x'), error));
    EXPECT_NE(error.find(path + ".new"), std::string::npos) << error;
    EXPECT_EQ(ReadTextFile(path), "0.0\t0.0\t0.0\t0.0\tOld\r\n");
    EXPECT_EQ(ReadTextFile(backup), "backup");
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

} // namespace
} // namespace raduvuz
