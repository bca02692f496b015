#include "common/TTwfPaths.h"

#include "CommonTestSupport.h"

using namespace raduvuz;
using raduvuz::test::TCommonTest;
using raduvuz::test::TScopedEnv;

// Folders match whatever their letters, only at a separator, and the rest keeps its letters.
TEST(TTwfPaths, CollapseAndExpandAtFolderBoundaries) {
    using TPairs = std::vector<std::pair<std::string, std::string>>;
    const TPairs collapse = {
        {"/opt/App/storage", "$MAINTWFDIR$/storage"},
        {"/OPT/app/Storage/Sub", "$MAINTWFDIR$/Storage/Sub"},
        {"/srv/data/Jobs", "$DATATWFDIR$/Jobs"},
        {"/srv/Other", "/srv/Other"},
        {"/opt/AppX/data", "/opt/AppX/data"},
        {"/opt/App", "$MAINTWFDIR$"},
        {"/opt/App/", "$MAINTWFDIR$/"},
        {"/opt/Ap", "/opt/Ap"},
    };
    // With and without a trailing separator on either folder.
    for (const TTwfPaths& paths :
         {TTwfPaths("/opt/App/", "/srv/Data"), TTwfPaths("/opt/App", "/srv/Data/")}) {
        for (const auto& [path, collapsed] : collapse) {
            bool changed = collapsed == path;
            EXPECT_EQ(paths.CollapseToMacros(path, &changed), collapsed);
            EXPECT_EQ(changed, collapsed != path) << path;
        }
    }
    bool changed = true;
    // The root folder does not match every separator.
    EXPECT_EQ(TTwfPaths("/", "/srv/Data").CollapseToMacros("/tmp/x", &changed), "/tmp/x");
    EXPECT_FALSE(changed);

    const TTwfPaths paths("/opt/App/", "/srv/Data/");
    const TPairs expand = {
        {"$DATATWFDIR$/Jobs", "/srv/Data/Jobs"},
        {"$datatwfdir$/Jobs/x", "/srv/Data/Jobs/x"},
        {"$MAINTWFDIR$", "/opt/App"},
        {"/plain/path", "/plain/path"},
        {"$MAINTWFDIR$X/y", "$MAINTWFDIR$X/y"},
    };
    for (const auto& [text, expanded] : expand) {
        changed = expanded == text;
        EXPECT_EQ(paths.ExpandMacros(text, &changed), expanded);
        EXPECT_EQ(changed, expanded != text) << text;
    }
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
