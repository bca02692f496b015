#include "CycleTestSupport.h"

#include "common/TParams.h"
#include "common/Utils.h"
#include "platform/System.h"
#include "support/ConfigFiles.h"

namespace raduvuz::test {
namespace {

class ConfigTest : public TModuleTest {};

TEST_F(ConfigTest, SavedFileHoldsTheExactStringBesideTheLayout) {
    if (!OlefileAvailable())
        GTEST_SKIP() << "python3-olefile is not installed";
    Module->DeletePolicy = 2;
    Module->KeepTime = 60;
    Module->WorkMode = 1;
    Module->Copies = 3;
    Process.LastPrvDpi = 300;
    Module->MaxFiles = 5;
    Module->FreeSpace = 12.5;
    Module->Multiplex = false;
    Module->GenPreview = false;
    Module->HoldJobs = {"12_34", "13_35"};
    Module->HoldList = {{"Term A", 4}};

    Module->SaveConfig("Queue1");
    const std::string expected =
        "StoreDir=\"" + Root +
        "/store\";DeletePolicy=2;KeepTime=60;WorkMode=1;Copies=3;LastPrvDpi=300;MaxFiles=5;"
        "FreeSpace=12.50;LastInTop=1;Multiplex=0;GenPreview=0;Event=1;HoldJobs=12_34,13_35;"
        "HoldList=\"Term A\"";
    EXPECT_EQ(ListStreams(SetFile("Queue1")), "Queue1:" + HexEncode(Counted(expected)) + "\n");
    EXPECT_EQ(Window.LayoutFile, SetFile("Queue1"));

    // The console writes its layout into the same file; saving again keeps it.
    Window.SaveLayout();
    Module->KeepTime = 61;
    Module->SaveConfig("Queue1");
    std::string withKeep = expected;
    withKeep.replace(withKeep.find("KeepTime=60"), 11, "KeepTime=61");
    const std::string listing = ListStreams(SetFile("Queue1"));
    EXPECT_NE(listing.find("Config:" + HexEncode(Window.Layout) + "\n"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("Queue1:" + HexEncode(Counted(withKeep)) + "\n"), std::string::npos)
        << listing;
    EXPECT_TRUE(Server->Calls.empty());
}

TEST_F(ConfigTest, LoadBringsBackWhatWasSavedButNotTheIntakeLimit) {
    Module->DeletePolicy = 3;
    Module->KeepTime = 10;
    Module->WorkMode = 2;
    Module->Copies = 4;
    Process.LastPrvDpi = 150;
    Module->MaxFiles = 5;
    Module->FreeSpace = 1.25;
    Module->Multiplex = true;
    Module->Event = false;
    Module->HoldJobs = {"1_2"};
    Module->HoldList = {{"Key,1", 3}};
    Module->SaveConfig("Q");
    Window.SaveLayout();

    TFakeWindow otherWindow;
    TModuleControl other(Process, otherWindow);
    other.ModuleNumber = 9;
    other.MaxFiles = 7;
    other.LoadConfig("Q");
    EXPECT_EQ(other.ConfigKey, "Q");
    EXPECT_EQ(other.StoreDir, Root + "/store");
    EXPECT_EQ(other.JobDir, Root + "/store/Q");
    EXPECT_TRUE(DirectoryExists(other.JobDir));
    EXPECT_EQ(other.DeletePolicy, 3);
    EXPECT_EQ(other.KeepTime, 10);
    EXPECT_EQ(other.WorkMode, 2);
    EXPECT_EQ(other.Copies, 4);
    EXPECT_EQ(Process.LastPrvDpi, 150);
    EXPECT_EQ(other.MaxFiles, 0);
    EXPECT_DOUBLE_EQ(other.FreeSpace, 1.25);
    EXPECT_TRUE(other.Multiplex);
    EXPECT_FALSE(other.Event);
    EXPECT_TRUE(other.GenPreview);
    EXPECT_EQ(other.HoldJobs, std::vector<std::string>{"1_2"});
    ASSERT_EQ(other.HoldList.size(), 1u);
    EXPECT_EQ(other.HoldList[0].Text, "Key,1");
    EXPECT_EQ(otherWindow.LoadedLayout, Window.Layout);
    EXPECT_TRUE(Server->Called("SetValue(9,1010,true)"));
}

TEST_F(ConfigTest, LoadReadsFlagsAndNumbersAsTheServerWroteThem) {
    // Missing preview and event flags mean on; text that is not a number counts as 1.
    WriteSetFile(SetFile("A"), "A", "Multiplex=yes;KeepTime=abc;DeletePolicy=;HoldJobs=9_9");
    Module->GenPreview = false;
    Module->Event = false;
    Module->KeepTime = 5;
    Module->DeletePolicy = 0;
    Module->HoldList = {{"old", 1}};
    Module->LoadConfig("A");
    EXPECT_TRUE(Module->GenPreview);
    EXPECT_TRUE(Module->Event);
    EXPECT_TRUE(Module->Multiplex);
    EXPECT_EQ(Module->KeepTime, 1440);
    EXPECT_EQ(Module->DeletePolicy, 0);
    EXPECT_TRUE(Module->HoldList.empty());
    EXPECT_EQ(Module->StoreDir, Root + "/store");
    EXPECT_TRUE(Server->Called("SetValue(7,1010,true)"));

    Server->Calls.clear();
    WriteSetFile(SetFile("B"), "B", "Multiplex=2;GenPreview=0;Event=00;LastInTop=0;WorkMode=x");
    Module->LoadConfig("B");
    EXPECT_FALSE(Module->Multiplex);
    EXPECT_FALSE(Module->GenPreview);
    EXPECT_TRUE(Module->Event);
    EXPECT_FALSE(Module->LastInTop);
    EXPECT_EQ(Module->WorkMode, 0);
    EXPECT_TRUE(Module->HoldJobs.empty());
    EXPECT_TRUE(Server->Calls.empty());
}

TEST_F(ConfigTest, MissingOrShortFileKeepsSettingsAndStillMakesTheJobFolder) {
    Module->KeepTime = 33;
    Module->LoadConfig("Nothing");
    EXPECT_EQ(Module->KeepTime, 33);
    EXPECT_TRUE(DirectoryExists(Root + "/store/Nothing"));

    // A count larger than the stream is a short read.
    ForceDirectories(DataFolder() + "/Config");
    {
        TCompoundFile storage;
        ASSERT_TRUE(storage.Create(SetFile("Short")));
        ASSERT_TRUE(storage.WriteStream("Short", Counted("KeepTime=1").substr(0, 9)));
    }
    Module->LoadConfig("Short");
    EXPECT_EQ(Module->KeepTime, 33);
    EXPECT_EQ(Module->JobDir, Root + "/store/Short");
    EXPECT_TRUE(DirectoryExists(Module->JobDir));
}

TEST_F(ConfigTest, SaveWithoutKeyOnlyAsksTheServer) {
    Module->SaveConfig("");
    EXPECT_EQ(Module->ConfigKey, "FromServer");
    EXPECT_TRUE(Server->Called("GetConfigKey(7)"));
    EXPECT_FALSE(FileExists(SetFile("FromServer")));
    EXPECT_FALSE(FileExists(SetFile("")));
}

TEST_F(ConfigTest, StreamThatCannotBeMadeStopsTheModule) {
    // Stream names hold at most 31 characters.
    const std::string key(40, 'k');
    Module->Paused = false;
    Module->SaveConfig(key);
    EXPECT_TRUE(Module->Paused);
    EXPECT_EQ(Module->Status, -1);
    EXPECT_EQ(Module->GetErrorMessage(), "Can not save module configuration");
    EXPECT_TRUE(Server->Called("ChangeStatus(7,true,-1)"));
}

TEST_F(ConfigTest, ExportAndImportCarryThePortableSettings) {
    Module->StoreDir = Root + "/prog/Storage";
    Module->HoldJobs = {"5_6"};
    Module->KeepTime = 90;
    std::string text = HexDecode(Module->ExportConfig());
    EXPECT_EQ(text, "StoreDir=\"$MAINTWFDIR$/Storage\";DeletePolicy=1;KeepTime=90;WorkMode=0;"
                    "Copies=0;LastPrvDpi=0;MaxFiles=0;FreeSpace=0.00;LastInTop=1;Multiplex=0;"
                    "GenPreview=1;Event=1");

    Module->HoldList = {{"T1", 1}, {"T 2", 2}};
    text = HexDecode(Module->ExportConfig());
    EXPECT_EQ(TParams(text).GetValueText("HoldList"), "T1,\"T 2\"");
    const std::string exported = Module->ExportConfig();

    // The macro folder is taken without looking for it; held job entries stay.
    TFakeWindow otherWindow;
    TModuleControl other(Process, otherWindow);
    other.HoldJobs = {"7_8"};
    other.HoldList = {{"gone", 1}};
    EXPECT_EQ(other.ImportConfig("New", exported, 99), 0);
    EXPECT_EQ(other.ConfigKey, "New");
    EXPECT_EQ(other.StoreDir, Root + "/prog/Storage");
    EXPECT_EQ(other.JobDir, Root + "/prog/Storage/New");
    EXPECT_TRUE(DirectoryExists(other.JobDir));
    EXPECT_EQ(other.KeepTime, 90);
    EXPECT_EQ(other.HoldJobs, std::vector<std::string>{"7_8"});
    ASSERT_EQ(other.HoldList.size(), 2u);
    EXPECT_EQ(other.HoldList[1].Text, "T 2");
    EXPECT_TRUE(otherWindow.LogLines.empty());

    // An export without a hold list empties the hold list on import.
    Module->HoldList.clear();
    other.ImportConfig("New", Module->ExportConfig(), 0);
    EXPECT_TRUE(other.HoldList.empty());
}

TEST_F(ConfigTest, ImportOfAMissingPlainFolderFallsBackToTheProgramStorage) {
    const std::string config = "StoreDir=\"" + Root + "/nowhere\";MaxFiles=5;Copies=2";
    Module->MaxFiles = 3;
    EXPECT_EQ(Module->ImportConfig("K", HexEncode(config), 0), 0);
    EXPECT_EQ(Module->StoreDir, Root + "/prog/Storage");
    EXPECT_EQ(Module->MaxFiles, 0);
    EXPECT_EQ(Module->Copies, 2);
    EXPECT_TRUE(DirectoryExists(Root + "/prog/Storage/K"));
    ASSERT_EQ(Window.LogLines.size(), 1u);
    EXPECT_EQ(Window.LogLines[0].rfind(": Import warning: Can not find folder " + Root +
                                           "/nowhere. Set queuer storage folder to default at ",
                                       0),
              0u)
        << Window.LogLines[0];

    // An existing plain folder is taken as it is.
    ForceDirectories(Root + "/elsewhere");
    Module->ImportConfig("K", HexEncode("StoreDir=\"" + Root + "/elsewhere\""), 0);
    EXPECT_EQ(Module->StoreDir, Root + "/elsewhere");
    EXPECT_EQ(Window.LogLines.size(), 1u);
}

} // namespace
} // namespace raduvuz::test
