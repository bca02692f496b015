#include "platform/System.h"

#include "PlatformTestSupport.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace raduvuz {
namespace {

using test::TTempFolder;

TEST(SystemTest, ProgramFolderIsTheExecutablesFolder) {
    std::filesystem::path built = std::filesystem::canonical(RADUVUZ_TEST_BINARY_DIR);
    EXPECT_EQ(ProgramFolder(), built.string() + "/");
    EXPECT_EQ(ProgramFile(), (built / "test_platform").string());
}

TEST(SystemTest, ComputerNameIsTheHostNameCutToFifteen) {
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    std::string name = ComputerName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 15u);
    EXPECT_EQ(std::string(host).substr(0, 15), name);
}

TEST(SystemTest, DiskFreeKbOfFoldersYetToBeMadeIsTheirParentVolumes) {
    TTempFolder temp;
    int64_t folderFree = DiskFreeKb(temp.Path());
    ASSERT_GT(folderFree, 0);

    // Other processes write to the same disk meanwhile; a quarter GiB of slack covers them.
    std::string notYet = temp / "jobs/a/b";
    EXPECT_NEAR(static_cast<double>(DiskFreeKb(notYet)), static_cast<double>(folderFree),
                256.0 * 1024);
    EXPECT_FALSE(std::filesystem::exists(temp / "jobs"));

    test::WriteTextFile(temp / "plain", "x");
    EXPECT_NEAR(static_cast<double>(DiskFreeKb(temp / "plain/below")),
                static_cast<double>(folderFree), 256.0 * 1024);
    EXPECT_GT(DiskFreeKb("no-such-relative-folder/below"), 0);
}

TEST(SystemTest, DiskFreeKbOfASmallFileSystemIsWhatItHasLeft) {
    TTempFolder temp;
    test::TSmallDisk disk(temp / "disk", 8);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    EXPECT_EQ(DiskFreeKb(disk.Path()), 8 * 1024);
    EXPECT_EQ(DiskFreeKb(disk.Path() + "/jobs/not/yet"), 8 * 1024);

    // A MiB written is a MiB less.
    test::WriteTextFile(disk.Path() + "/spool", std::string(1024 * 1024, 'x'));
    EXPECT_EQ(DiskFreeKb(disk.Path()), 7 * 1024);
}

TEST(SystemTest, ForceDirectoriesMakesEveryMissingParent) {
    TTempFolder temp;
    std::string deep = temp / "storage/jobs/KEY";
    EXPECT_FALSE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep + "/"));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_FALSE(FileExists(deep));
    EXPECT_TRUE(ForceDirectories(deep));

    test::WriteTextFile(temp / "spool", "data");
    EXPECT_TRUE(FileExists(temp / "spool"));
    EXPECT_FALSE(DirectoryExists(temp / "spool"));
    EXPECT_FALSE(ForceDirectories(temp / "spool/below"));
    EXPECT_FALSE(ForceDirectories(""));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(DirectoryExists(""));
}

} // namespace
} // namespace raduvuz
