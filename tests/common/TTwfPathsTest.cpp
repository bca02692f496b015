#include "common/TTwfPaths.h"

#include "CommonTestSupport.h"
#include "platform/System.h"

using namespace raduvuz;
using raduvuz::test::TCommonTest;
using raduvuz::test::TScopedEnv;

TEST(TTwfPaths, CollapseKeepsTheLettersOfThePath) {
    const TTwfPaths paths("/opt/App/", "/srv/Data");
    bool changed = false;
    EXPECT_EQ(paths.CollapseToMacros("/opt/App/storage", &changed), "$MAINTWFDIR$/storage");
    EXPECT_TRUE(changed);
    EXPECT_EQ(paths.CollapseToMacros("/OPT/app/Storage/Sub", &changed), "$MAINTWFDIR$/Storage/Sub");
    EXPECT_TRUE(changed);
    EXPECT_EQ(paths.CollapseToMacros("/srv/data/Jobs", &changed), "$DATATWFDIR$/Jobs");
    EXPECT_TRUE(changed);
    EXPECT_EQ(paths.CollapseToMacros("/srv/Other", &changed), "/srv/Other");
    EXPECT_FALSE(changed);
}

TEST(TTwfPaths, FolderMatchesOnlyAtASeparator) {
    const TTwfPaths paths("/opt/App/", "/srv/Data/");
    bool changed = true;
    EXPECT_EQ(paths.CollapseToMacros("/opt/AppX/data", &changed), "/opt/AppX/data");
    EXPECT_FALSE(changed);
    EXPECT_EQ(paths.CollapseToMacros("/opt/App", &changed), "$MAINTWFDIR$");
    EXPECT_TRUE(changed);
    EXPECT_EQ(paths.CollapseToMacros("/opt/App/", &changed), "$MAINTWFDIR$/");
    EXPECT_TRUE(changed);
    EXPECT_EQ(paths.CollapseToMacros("/opt/Ap", &changed), "/opt/Ap");
    EXPECT_FALSE(changed);
    // The root folder does not match every separator.
    EXPECT_EQ(TTwfPaths("/", "/srv/Data").CollapseToMacros("/tmp/x", &changed), "/tmp/x");
    EXPECT_FALSE(changed);
}

TEST(TTwfPaths, ExpandGivesTheFoldersBack) {
    const TTwfPaths paths("/opt/App/", "/srv/Data/");
    bool changed = false;
    EXPECT_EQ(paths.ExpandMacros("$DATATWFDIR$/Jobs", &changed), "/srv/Data/Jobs");
    EXPECT_TRUE(changed);
    EXPECT_EQ(paths.ExpandMacros("$datatwfdir$/Jobs/x", &changed), "/srv/Data/Jobs/x");
    EXPECT_EQ(paths.ExpandMacros("$MAINTWFDIR$", &changed), "/opt/App");
    EXPECT_TRUE(changed);
    EXPECT_EQ(paths.ExpandMacros("/plain/path", &changed), "/plain/path");
    EXPECT_FALSE(changed);
    EXPECT_EQ(paths.ExpandMacros("$MAINTWFDIR$X/y", &changed), "$MAINTWFDIR$X/y");
    EXPECT_FALSE(changed);

    for (const char* path : {"/opt/App/Storage", "/srv/Data/Config/a.set", "/elsewhere"}) {
        EXPECT_EQ(paths.ExpandMacros(paths.CollapseToMacros(path)), path);
    }
    // The collapsed form moves to another installation.
    const TTwfPaths other("/usr/lib/raduvuz/", "/var/TWF");
    EXPECT_EQ(other.ExpandMacros(paths.CollapseToMacros("/opt/App/Storage")),
              "/usr/lib/raduvuz/Storage");
}

TEST(TTwfPaths, ExcludeTrailingSeparatorRemovesOne) {
    EXPECT_EQ(ExcludeTrailingSeparator("/a/b/"), "/a/b");
    EXPECT_EQ(ExcludeTrailingSeparator("/a/b//"), "/a/b/");
    EXPECT_EQ(ExcludeTrailingSeparator("/a/b"), "/a/b");
    EXPECT_EQ(ExcludeTrailingSeparator(""), "");
}

using DataPathTest = TCommonTest;

TEST_F(DataPathTest, RegistryValueElseXdgDataFolderReadOnEveryCall) {
    EXPECT_EQ(DataPath(), Root + "/xdg/TWF_Data");

    WriteRegistry("DataPath=/srv/TWF\n");
    EXPECT_EQ(DataPath(), "/srv/TWF");
    WriteRegistry("DataPath=\n");
    EXPECT_EQ(DataPath(), Root + "/xdg/TWF_Data");

    TScopedEnv relative("XDG_DATA_HOME", std::string("relative/data"));
    TScopedEnv home("HOME", Root + "/home");
    EXPECT_EQ(DataPath(), Root + "/home/.local/share/TWF_Data");
    relative.Set(std::nullopt);
    EXPECT_EQ(DataPath(), Root + "/home/.local/share/TWF_Data");
}

TEST_F(DataPathTest, DefaultObjectUsesProgramAndDataFolders) {
    WriteRegistry("DataPath=/srv/TWF/\n");
    const TTwfPaths paths;
    EXPECT_EQ(paths.CollapseToMacros(ProgramFolder() + "Storage"), "$MAINTWFDIR$/Storage");
    EXPECT_EQ(paths.CollapseToMacros("/srv/TWF/Config"), "$DATATWFDIR$/Config");
    EXPECT_EQ(paths.ExpandMacros("$MAINTWFDIR$"), ExcludeTrailingSeparator(ProgramFolder()));
}

TEST_F(DataPathTest, OwnFilesStayInAWritableProgramFolderOutsideUsrElseInTheUsersFolder) {
    const std::string build = Root + "/build/";
    std::filesystem::create_directories(build);
    const std::string user = Root + "/xdg/raduvuz/";
    struct TCase {
        std::string ProgramFolder;
        std::string Expected;
    };
    const std::vector<TCase> cases = {
        {build, build},
        {Root + "/not-made-yet/", Root + "/not-made-yet/"},
        // Written to by root or not, an installed program's folder stays as installed.
        {"/usr/lib/raduvuz/", user},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ProgramDataFolder(c.ProgramFolder), c.Expected) << c.ProgramFolder;
    TScopedEnv unset("XDG_DATA_HOME", std::nullopt);
    TScopedEnv home("HOME", Root + "/home");
    EXPECT_EQ(ProgramDataFolder("/usr/lib/raduvuz/"), Root + "/home/.local/share/raduvuz/");
}
