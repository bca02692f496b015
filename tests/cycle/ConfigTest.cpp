#include "CycleTestSupport.h"

#include "common/TParams.h"
#include "common/Utils.h"
#include "platform/System.h"
#include "support/ConfigFiles.h"
#include "support/ModuleInside.h"
#include "support/SmallDisk.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <limits>

namespace raduvuz::test {
namespace {

using ::testing::Contains;

class ConfigTest : public TModuleTest {
protected:
    // A configuration that could not be kept stops the module and tells the server why.
    // Every setting the module would export.
    std::string Exported() const { return HexDecode(Module->ExportConfig()); }

    void ExpectStopped(const std::string& error) {
        EXPECT_EQ(Module->GetErrorMessage(), error);
        EXPECT_EQ(Module->GetStatus(), -1);
        EXPECT_TRUE(Module->IsPaused());
        EXPECT_THAT(Server->Calls, Contains("ChangeStatus(7,true,-1)"));
    }
};

std::vector<std::string> SpoolFolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(ConfigTest, SavedFileHoldsTheExactStringBesideTheLayoutAndLoadsBackButNotTheIntakeLimit) {
    const bool olefile = OlefileAvailable();
    Inside(*Module).DeletePolicy = 2;
    Inside(*Module).KeepTime = 60;
    Inside(*Module).WorkMode = 1;
    Inside(*Module).Copies = 3;
    Process.LastPrvDpi = 300;
    Inside(*Module).MaxFiles = 5;
    Inside(*Module).FreeSpace = 12.5;
    Inside(*Module).Multiplex = false;
    Inside(*Module).GenPreview = false;
    Inside(*Module).HoldJobs = {"12_34", "13_35"};
    Inside(*Module).HoldList = {{"Term A", 4}};

    Module->SaveConfig("Q");
    const std::string settings = "StoreDir=\"" + Root +
                                 "/store\";DeletePolicy=2;KeepTime=60;WorkMode=1;Copies=3;"
                                 "LastPrvDpi=300;MaxFiles=5;FreeSpace=12.50;LastInTop=1;";
    if (olefile) {
        EXPECT_EQ(ListStreams(SetFile("Q")),
                  "Q:" +
                      HexEncode(Counted(settings + "Multiplex=0;GenPreview=0;Event=1;"
                                                   "HoldJobs=12_34,13_35;HoldList=\"Term A\"")) +
                      "\n");
    }
    EXPECT_EQ(Window.LayoutFile, SetFile("Q"));

    // The console writes its layout into the same file; saving again keeps it.
    Window.SaveLayout();
    Inside(*Module).Multiplex = true;
    Inside(*Module).GenPreview = true;
    Inside(*Module).Event = false;
    Inside(*Module).HoldJobs = {"1_2"};
    Inside(*Module).HoldList = {{"Key,1", 3}};
    Module->SaveConfig("Q");
    const std::string again = settings + "Multiplex=1;GenPreview=1;Event=0;";
    if (olefile) {
        const std::string listing = ListStreams(SetFile("Q"));
        EXPECT_NE(listing.find("Config:" + HexEncode(Window.Layout) + "\n"), std::string::npos);
        EXPECT_NE(listing.find(
                      "Q:" + HexEncode(Counted(again + "HoldJobs=1_2;HoldList=\"Key,1\"")) + "\n"),
                  std::string::npos)
            << listing;
    }
    EXPECT_TRUE(Server->Calls.empty());

    // Another module loads every setting the export carries; the intake limit is not kept.
    Process.LastPrvDpi = 0;
    TFakeWindow otherWindow;
    TModuleControl other(Process, otherWindow, &otherWindow);
    Inside(other).ModuleNumber = 9;
    Inside(other).MaxFiles = 7;
    other.LoadConfig("Q");
    EXPECT_EQ(other.GetConfigKey(), "Q");
    EXPECT_EQ(other.GetJobDir(), Root + "/store/Q");
    EXPECT_TRUE(DirectoryExists(other.GetJobDir()));
    std::string loaded = again + "HoldList=\"Key,1\"";
    loaded.replace(loaded.find("MaxFiles=5"), 10, "MaxFiles=0");
    EXPECT_EQ(HexDecode(other.ExportConfig()), loaded);
    EXPECT_EQ(Inside(other).HoldJobs, std::vector<std::string>{"1_2"});
    EXPECT_EQ(otherWindow.LoadedLayout, Window.Layout);
    EXPECT_THAT(Server->Calls, Contains("SetValue(9,1010,true)"));
}

TEST_F(ConfigTest, LoadReadsFlagsAndNumbersAsTheServerWroteThem) {
    // Missing preview and event flags mean on; text that is not a number counts as 1.
    WriteSetFile(SetFile("A"), "A", "Multiplex=yes;KeepTime=abc;DeletePolicy=;HoldJobs=9_9");
    Inside(*Module).GenPreview = false;
    Inside(*Module).Event = false;
    Inside(*Module).KeepTime = 5;
    Inside(*Module).DeletePolicy = 0;
    Inside(*Module).HoldList = {{"old", 1}};
    Module->LoadConfig("A");
    EXPECT_EQ(Exported(), "StoreDir=\"" + Root +
                              "/store\";DeletePolicy=0;KeepTime=1440;WorkMode=0;Copies=0;"
                              "LastPrvDpi=0;MaxFiles=0;FreeSpace=0.00;LastInTop=1;Multiplex=1;"
                              "GenPreview=1;Event=1");
    EXPECT_THAT(Server->Calls, Contains("SetValue(7,1010,true)"));

    Server->Calls.clear();
    WriteSetFile(SetFile("B"), "B", "Multiplex=2;GenPreview=0;Event=00;LastInTop=0;WorkMode=x");
    Module->LoadConfig("B");
    EXPECT_EQ(Exported(), "StoreDir=\"" + Root +
                              "/store\";DeletePolicy=0;KeepTime=1440;WorkMode=0;Copies=0;"
                              "LastPrvDpi=0;MaxFiles=0;FreeSpace=0.00;LastInTop=0;Multiplex=0;"
                              "GenPreview=0;Event=1");
    EXPECT_TRUE(Inside(*Module).HoldJobs.empty());
    EXPECT_TRUE(Server->Calls.empty());
}

TEST_F(ConfigTest, MissingFileOrStreamKeepsSettingsAndStillMakesTheJobFolder) {
    Inside(*Module).KeepTime = 33;
    Module->LoadConfig("Nothing");
    EXPECT_EQ(Inside(*Module).KeepTime, 33);
    EXPECT_TRUE(DirectoryExists(Root + "/store/Nothing"));

    // A file that holds only the window layout (Close wrote it, SaveConfig never ran).
    ForceDirectories(ConfigFolder());
    Window.SaveLayout();
    Module->LoadConfig("Nothing");
    EXPECT_EQ(Inside(*Module).KeepTime, 33);
    EXPECT_EQ(Module->GetStatus(), 1);
    EXPECT_TRUE(Window.LogLines.empty());
    EXPECT_TRUE(FileExists(SetFile("Nothing")));
}

struct TDamage {
    const char* Name;
    // What the .set holds; a short counted stream when empty.
    std::string Bytes;
    const char* Why;
};
void PrintTo(const TDamage& damage, std::ostream* out) {
    *out << damage.Name;
}
class DamagedConfigTest : public ConfigTest, public ::testing::WithParamInterface<TDamage> {};

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedConfigTest,
    ::testing::Values(TDamage{"Text", "StoreDir=\"/srv\";KeepTime=1", "not a compound file"},
                      TDamage{"Empty", "", "the file is empty"},
                      TDamage{"Cut", "\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\0\0", "not a compound file"},
                      TDamage{"ShortStream", "short",
                              "the stream Q is shorter than its count says"}),
    [](const ::testing::TestParamInfo<TDamage>& info) { return info.param.Name; });

TEST_P(DamagedConfigTest, IsLoggedKeptBesideAndReportedAndNeverOverwritten) {
    const TDamage& damage = GetParam();
    ForceDirectories(ConfigFolder());
    std::string original;
    if (damage.Bytes == "short") {
        // A count larger than the stream.
        TCompoundFile storage;
        ASSERT_TRUE(storage.Create(SetFile("Q")));
        ASSERT_TRUE(storage.WriteStream("Q", Counted("KeepTime=1").substr(0, 9)));
        storage.Close();
        original = ReadTextFile(SetFile("Q"));
    } else {
        original = damage.Bytes;
        WriteTextFile(SetFile("Q"), original);
    }
    Inside(*Module).KeepTime = 33;
    Inside(*Module).Paused = false;

    Module->LoadConfig("Q");

    // The settings stay, the module stops and says why, before any StartLog.
    EXPECT_EQ(Inside(*Module).KeepTime, 33);
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/store");
    const std::string expected = std::string("Can not load module configuration (") + damage.Why +
                                 "; file " + SetFile("Q") + "); the file is kept as " +
                                 SetFile("Q") + ".damaged; the settings stay as they were";
    ExpectStopped(expected);
    ASSERT_EQ(Window.LogLines.size(), 1u);
    EXPECT_EQ(Window.LogLines[0].rfind(": " + expected + " at ", 0), 0u) << Window.LogLines[0];
    EXPECT_EQ(SystemLog->Find("Can not load").rfind("module 7 (): " + expected + " at ", 0), 0u);
    EXPECT_EQ(SystemLog->SeverityOf("Can not load"), TLogSeverity::Error);
    EXPECT_EQ(ReadTextFile(SetFile("Q") + ".damaged"), original);
    EXPECT_TRUE(DirectoryExists(Root + "/store/Q"));

    // Neither the layout of Close nor SaveConfig overwrites the kept file.
    Window.SaveLayout();
    Module->SaveConfig("Q");
    EXPECT_EQ(ReadTextFile(SetFile("Q") + ".damaged"), original);
    TFakeWindow otherWindow;
    TModuleControl other(Process, otherWindow, &otherWindow);
    other.LoadConfig("Q");
    EXPECT_EQ(Inside(other).KeepTime, 33);

    // A second damaged file is kept beside the first.
    WriteTextFile(SetFile("Q"), "garbage again");
    Module->LoadConfig("Q");
    EXPECT_EQ(ReadTextFile(SetFile("Q") + ".damaged"), original);
    EXPECT_EQ(ReadTextFile(SetFile("Q") + ".damaged.2"), "garbage again");
}

TEST_F(ConfigTest, AFileThatCannotBeReadIsReportedAndLeftWhereItIs) {
    ForceDirectories(ConfigFolder());
    Module->SaveConfig("Q");
    // Another process writing it holds the file; it is not damaged.
    TCompoundFile writer;
    ASSERT_TRUE(writer.OpenReadWrite(SetFile("Q")));
    Module->LoadConfig("Q");
    EXPECT_EQ(Module->GetStatus(), -1);
    EXPECT_EQ(Module->GetErrorMessage(), "Can not load module configuration (another process "
                                         "holds it; file " +
                                             SetFile("Q") + "); the settings stay as they were");
    EXPECT_FALSE(FileExists(SetFile("Q") + ".damaged"));
}

// A setting outside its meaning, each bound from both sides: a call is refused with
// RAduvuz.Error.InvalidArgs naming the argument, a loaded configuration logs it; the old value
// stays either way.
TEST_F(ConfigTest, ValuesOutsideTheirMeaningAreRefusedByACallLoggedByALoadAndKeepTheOldValue) {
    Inside(*Module).DeletePolicy = 2;
    Inside(*Module).WorkMode = 1;
    Inside(*Module).KeepTime = 60;
    Inside(*Module).Copies = 2;
    Inside(*Module).FreeSpace = 1.5;
    struct TBad {
        int32_t Num;
        TVariant Value;
        std::string Problem;
        // Its name in a configuration; none for a value only a call gives.
        const char* Key;
    };
    std::vector<TBad> bad = {
        {53, int32_t{99}, "DeletePolicy 99 is outside 0 to 3", "DeletePolicy"},
        {53, int32_t{-1}, "DeletePolicy -1 is outside 0 to 3", "DeletePolicy"},
        {52, int32_t{-7}, "WorkMode -7 is outside 0 to 1", "WorkMode"},
        {52, int32_t{2}, "WorkMode 2 is outside 0 to 1", "WorkMode"},
        {54, INT32_MIN, "KeepTime -2147483648 is outside the values from 0 up", "KeepTime"},
        {60, INT32_MAX, "Copies 2147483647 is outside 0 to 999", "Copies"},
        {60, int32_t{-1}, "Copies -1 is outside 0 to 999", "Copies"},
        {59, std::string("-5"), "FreeSpace -5 is below 0", "FreeSpace"},
        // A loaded MaxFiles is never kept; true is -1 as an integer.
        {63, int32_t{-1}, "MaxFiles -1 is outside the values from 0 up", nullptr},
        {63, true, "MaxFiles -1 is outside the values from 0 up", nullptr},
        {59, std::numeric_limits<double>::quiet_NaN(),
         "FreeSpace must be a finite number, not \"nan\"", nullptr},
    };
    for (const char* text : {"nan", "NaN", "-inf", "Infinity", " +inf"})
        bad.push_back({59, std::string(text),
                       std::string("FreeSpace must be a finite number, not \"") + text + "\"",
                       nullptr});
    for (const TBad& row : bad) {
        SCOPED_TRACE(row.Problem);
        const std::string old = Describe(Module->GetValue(row.Num));
        try {
            Module->SetValue(row.Num, row.Value);
            ADD_FAILURE() << "accepted";
        } catch (const TDispatchError& e) {
            EXPECT_EQ(e.Name + ": " + e.what(), "RAduvuz.Error.InvalidArgs: Value: " + row.Problem);
        }
        EXPECT_EQ(Describe(Module->GetValue(row.Num)), old);
        if (!row.Key)
            continue;
        WriteSetFile(SetFile("Q"), "Q", std::string(row.Key) + "=" + Describe(row.Value));
        Window.LogLines.clear();
        Module->LoadConfig("Q");
        EXPECT_EQ(Logged(), std::vector<std::string>{": Configuration Q: " + row.Problem + "; " +
                                                     row.Key + " stays " + old});
        EXPECT_EQ(Describe(Module->GetValue(row.Num)), old);
    }

    // In one file the values that mean something are taken (LastInTop), the others logged.
    Window.LogLines.clear();
    WriteSetFile(SetFile("Q"), "Q", "StoreDir=\"../../x\";DeletePolicy=99;LastInTop=0");
    Module->LoadConfig("Q");
    EXPECT_EQ(Module->GetJobDir(), Root + "/store/Q");
    EXPECT_EQ(Exported(), "StoreDir=\"" + Root +
                              "/store\";DeletePolicy=2;KeepTime=60;WorkMode=1;Copies=2;"
                              "LastPrvDpi=0;MaxFiles=0;FreeSpace=1.50;LastInTop=0;Multiplex=0;"
                              "GenPreview=1;Event=1");
    EXPECT_EQ(Module->GetStatus(), 1);
    const std::string storeDir = "StoreDir \"../../x\" is not an absolute path; StoreDir stays ";
    EXPECT_EQ(Logged(), (std::vector<std::string>{
                            ": Configuration Q: " + storeDir + Root + "/store",
                            ": Configuration Q: DeletePolicy 99 is outside 0 to 3; DeletePolicy "
                            "stays 2"}));

    // The same imported.
    Window.LogLines.clear();
    Module->ImportConfig("Q", HexEncode("StoreDir=\"rel\";DeletePolicy=4;Copies=1000"), 0);
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/store");
    EXPECT_EQ(Inside(*Module).DeletePolicy, 2);
    EXPECT_EQ(Inside(*Module).Copies, 2);
    EXPECT_EQ(Window.LogLines.size(), 3u);
    // A folder the configuration string could not write back.
    Module->ImportConfig("Q", HexEncode("StoreDir=\"$MAINTWFDIR$/a\"\"b\""), 0);
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/store");
    EXPECT_NE(Window.LogLines.back().find("holds a double quote"), std::string::npos);

    // A value set by code, past the checks, reaches the jobs within its range.
    Inside(*Module).Copies = 5000;
    Inside(*Module).WorkMode = -3;
    EXPECT_EQ(Module->GetSettings().Copies, 999);
    EXPECT_EQ(Module->GetSettings().WorkMode, 0);
    EXPECT_EQ(Module->GetSettings().DeletePolicy, 2);
}

TEST_F(ConfigTest, KeysThatAreNoPlainNamesAreRefusedAndTouchNothing) {
    Module->LoadConfig("Good");
    const std::string before = Module->GetJobDir();
    for (const std::string& key :
         std::vector<std::string>{"../victim", "a/b", "..", ".", std::string("a\0b", 3), "x..y"}) {
        SCOPED_TRACE(key);
        const std::string shown = key.find('\0') == std::string::npos ? key : "a\\0b";
        const std::string expected = "Key: \"" + shown +
                                     "\" is not a plain name (it must not be empty or \".\", "
                                     "nor hold \"/\", \"..\" or a NUL)";
        for (const auto& call : std::vector<std::function<void()>>{
                 [&] { Module->LoadConfig(key); }, [&] { Module->SaveConfig(key); },
                 [&] { Module->ImportConfig(key, HexEncode("KeepTime=5"), 0); }}) {
            try {
                call();
                ADD_FAILURE() << "accepted";
            } catch (const TDispatchError& e) {
                EXPECT_EQ(e.Name, "RAduvuz.Error.InvalidArgs");
                EXPECT_EQ(e.what(), expected);
            }
        }
        EXPECT_EQ(Module->GetConfigKey(), "Good");
        EXPECT_EQ(Module->GetJobDir(), before);
    }
    EXPECT_THROW(Module->LoadConfig(""), TDispatchError);
    EXPECT_THROW(Module->ImportConfig("", "", 0), TDispatchError);
    EXPECT_NE(Inside(*Module).KeepTime, 5);
    EXPECT_EQ(SpoolFolderEntries(Root), (std::vector<std::string>{"prog", "store"}));
    // "../victim" would have led from the job folder to Root/victim: the listings show neither.
    EXPECT_EQ(SpoolFolderEntries(Root + "/store"), std::vector<std::string>{"Good"});

    // A key the server gives is no better for coming from the server.
    Server->Answers["GetConfigKey"] = TCallResult{std::string("../up"), {}};
    EXPECT_THROW(Module->SaveConfig(""), TDispatchError);
    EXPECT_EQ(Module->GetConfigKey(), "Good");
    // A plain one is taken, and saving without a key only asks for it.
    Server->Answers["GetConfigKey"] = TCallResult{std::string("FromServer"), {}};
    Module->SaveConfig("");
    EXPECT_EQ(Module->GetConfigKey(), "FromServer");
    EXPECT_THAT(Server->Calls, Contains("GetConfigKey(7)"));
    EXPECT_FALSE(FileExists(SetFile("FromServer")));
    EXPECT_FALSE(FileExists(SetFile("")));
}

TEST_F(ConfigTest, SaveOnAFullDiskIsAFailedCallAndKeepsTheOldFile) {
    ForceDirectories(ConfigFolder());
    TSmallDisk disk(ConfigFolder(), 1);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    Inside(*Module).KeepTime = 10;
    Module->SaveConfig("Q");
    WriteTextFile(ConfigFolder() + "/filler", std::string(1024 * 1024, 'f'));
    Inside(*Module).KeepTime = 20;
    Inside(*Module).Paused = false;
    try {
        Module->SaveConfig("Q");
        FAIL() << "a save on a full disk succeeded";
    } catch (const TDispatchError& e) {
        EXPECT_EQ(e.Name, "RAduvuz.Error.Unexpected");
        EXPECT_EQ(e.what(), Module->GetErrorMessage());
    }
    ExpectStopped("Can not save module configuration (No space left on device; file " +
                  SetFile("Q") + ")");
    TFakeWindow otherWindow;
    TModuleControl other(Process, otherWindow, &otherWindow);
    other.LoadConfig("Q");
    EXPECT_EQ(Inside(other).KeepTime, 10);
}

TEST_F(ConfigTest, StreamThatCannotBeMadeStopsTheModule) {
    // Stream names hold at most 31 characters.
    const std::string key(40, 'k');
    Inside(*Module).Paused = false;
    EXPECT_THROW(Module->SaveConfig(key), TDispatchError);
    ExpectStopped("Can not save module configuration (\"" + key + "\" cannot name a stream; file " +
                  SetFile(key) + ")");
}

TEST_F(ConfigTest, ExportAndImportCarryThePortableSettings) {
    Inside(*Module).StoreDir = Root + "/prog/Storage";
    Inside(*Module).HoldJobs = {"5_6"};
    Inside(*Module).KeepTime = 90;
    Inside(*Module).HoldList = {{"T1", 1}, {"T 2", 2}};
    EXPECT_EQ(TParams(HexDecode(Module->ExportConfig())).GetValueText("HoldList"), "T1,\"T 2\"");
    const std::string exported = Module->ExportConfig();

    // The macro folder is taken without looking for it; held job entries stay.
    TFakeWindow otherWindow;
    TModuleControl other(Process, otherWindow, &otherWindow);
    Inside(other).HoldJobs = {"7_8"};
    Inside(other).HoldList = {{"gone", 1}};
    EXPECT_EQ(other.ImportConfig("New", exported, 99), 0);
    EXPECT_EQ(other.GetConfigKey(), "New");
    EXPECT_EQ(Inside(other).StoreDir, Root + "/prog/Storage");
    EXPECT_EQ(other.GetJobDir(), Root + "/prog/Storage/New");
    EXPECT_TRUE(DirectoryExists(other.GetJobDir()));
    EXPECT_EQ(Inside(other).KeepTime, 90);
    EXPECT_EQ(Inside(other).HoldJobs, std::vector<std::string>{"7_8"});
    ASSERT_EQ(other.GetHoldList().size(), 2u);
    EXPECT_EQ(other.GetHoldList()[1].Text, "T 2");
    EXPECT_TRUE(otherWindow.LogLines.empty());

    // An export without a hold list empties the hold list on import.
    Inside(*Module).HoldList.clear();
    other.ImportConfig("New", Module->ExportConfig(), 0);
    EXPECT_TRUE(other.GetHoldList().empty());
}

TEST_F(ConfigTest, ImportOfAMissingPlainFolderFallsBackToTheProgramStorage) {
    const std::string config = "StoreDir=\"" + Root + "/nowhere\";MaxFiles=5;Copies=2";
    Inside(*Module).MaxFiles = 3;
    EXPECT_EQ(Module->ImportConfig("K", HexEncode(config), 0), 0);
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/prog/Storage");
    EXPECT_EQ(Inside(*Module).MaxFiles, 0);
    EXPECT_EQ(Inside(*Module).Copies, 2);
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
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/elsewhere");
    EXPECT_EQ(Window.LogLines.size(), 1u);
}

} // namespace
} // namespace raduvuz::test
