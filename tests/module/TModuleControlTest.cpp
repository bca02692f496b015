#include "common/DateTime.h"
#include "common/Utils.h"
#include "jobs/TDoc.h"
#include "module/ModuleFixture.h"
#include "support/ModuleInside.h"
#include "support/SmallDisk.h"

#include <filesystem>

namespace raduvuz::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using ModuleControlTest = ModuleFixture;

TEST_F(ModuleControlTest, InitOnTheMainComputerReportsAndLearnsThePreviewFolder) {
    // Fields Init must reset even when they held other values before.
    Inside(*Module).KeepTime = 5;
    Inside(*Module).WorkMode = 3;
    Inside(*Module).LogToServer = true;
    Inside(*Module).ModuleID = "kept";
    Module->Init(5, "Queue one", Server);

    // The last: the store is asked with the server's main computer name.
    EXPECT_THAT(Server->Calls,
                ElementsAre("ChangeStatus(5,true,1)", StartsWith("WriteLog(5, Connected at "),
                            "GetValue(0,1004)", "GetValue(0,2)", "GetValue(0,1)", "GetValue(0,2)"));
    EXPECT_THAT(Store->Calls, ElementsAre("IsMainComputer(" + ::raduvuz::ComputerName() + ")"));
    EXPECT_EQ(CreatedProgId, "RozEza.MemoryMan");

    // The log line carries the date and time that follow the language text.
    const std::string line = VariantToText(Server->Args[1][1]);
    EXPECT_TRUE(ParseDateTime(line.substr(std::string(" Connected at ").size())).has_value())
        << line;

    EXPECT_TRUE(Module->IsCurrent());
    EXPECT_EQ(Process.ServerValue1004, 77);
    EXPECT_EQ(Module->GetPreviewDir(), Root + "/preview");
    EXPECT_TRUE(DirectoryExists(Module->GetPreviewDir()));
    EXPECT_TRUE(Module->IsPaused());
    EXPECT_EQ(Module->GetStatus(), 1);
    EXPECT_EQ(Module->GetSavedKeepTime(), 180);
    EXPECT_FALSE(Inside(*Module).LogToServer);
    EXPECT_TRUE(Inside(*Module).LogToWindow);
    EXPECT_EQ(
        HexDecode(Module->ExportConfig()),
        "StoreDir=\"$MAINTWFDIR$/Storage\";DeletePolicy=1;KeepTime=1440;WorkMode=0;Copies=0;"
        "LastPrvDpi=0;MaxFiles=0;FreeSpace=0.00;LastInTop=1;Multiplex=0;GenPreview=1;Event=1");
    EXPECT_EQ(Inside(*Module).ModuleID, "kept");
    EXPECT_EQ(Inside(*Module).StoreDir, Process.ProgramFolder + "Storage");
    EXPECT_EQ(Module->GetComputerName(), ::raduvuz::ComputerName());
    EXPECT_EQ(Module->GetErrorMessage(), "no error");
    EXPECT_EQ(Window.Caption, "Queue one");
    EXPECT_EQ(Window.TrayTip, "Queue one");
    EXPECT_EQ(Window.PauseHint, "Start");
}

TEST_F(ModuleControlTest, InitOnAnotherComputerUsesTheProgramsPreviewFolder) {
    Server->Values[{0, 2}] = std::string("\\\\ELSEWHERE");
    Module->Init(2, "Queue", Server);

    EXPECT_EQ(Server->Count("GetValue(0,1)"), 0);
    EXPECT_EQ(Module->GetPreviewDir(), Process.ProgramFolder + "Storage/preview");
    EXPECT_TRUE(DirectoryExists(Module->GetPreviewDir()));
    EXPECT_THAT(Store->Calls, ElementsAre("IsMainComputer(\\\\ELSEWHERE)"));
}

TEST_F(ModuleControlTest, AnotherServingProcessClosesTheModuleWithStatusMinus3) {
    Store->Answers["IsMainComputer"] = TCallResult{false, {}};
    Module->Init(4, "Queue", Server);

    const std::string text = "TERN WorkFlow is already running on " + ::raduvuz::ComputerName();
    EXPECT_EQ(Module->GetStatus(), -3);
    EXPECT_EQ(Module->GetErrorMessage(), text);
    EXPECT_EQ(Server->Calls[Server->Calls.size() - 2], "ChangeStatus(4,true,-3)");
    EXPECT_EQ(Server->Calls.back(), "WriteLog(4," + text + ")");
    EXPECT_FALSE(Process.StoreObject.Assigned());
    EXPECT_FALSE(Module->IsCurrent());
    EXPECT_TRUE(Window.TimerStopped);
    EXPECT_EQ(Window.LayoutSaves, 1);
}

TEST_F(ModuleControlTest, NoStoreLeavesTheModuleInitialisedAndPaused) {
    Process.ObjectFactory = [](const std::string& progId) -> TDispatchPtr {
        throw TDispatchError("org.freedesktop.DBus.Error.ServiceUnknown", progId + " unknown");
    };
    Module->Init(6, "Queue", Server);

    EXPECT_EQ(Server->Calls.back(),
              "WriteLog(6,Cannot connect to memory manager (RozEza.MemoryMan unknown))");
    EXPECT_EQ(SystemLog->Find("Cannot connect"),
              "module 6 (Queue): Cannot connect to memory manager (RozEza.MemoryMan unknown)");
    EXPECT_EQ(SystemLog->SeverityOf("Cannot connect"), TLogSeverity::Error);
    EXPECT_EQ(Server->Count("ChangeStatus"), 1);
    EXPECT_TRUE(Module->IsCurrent());
    EXPECT_TRUE(Module->IsPaused());
    EXPECT_EQ(Module->GetStatus(), 1);
    EXPECT_FALSE(Process.StoreObject.Assigned());
}

TEST_F(ModuleControlTest, ASecondInitKeepsTheFirstServerAndTheStore) {
    Module->Init(1, "First", Server);
    auto other = MakeServer("x", "y");
    Server->Calls.clear();
    Module->Init(2, "Second", other);

    EXPECT_TRUE(other->Calls.empty());
    EXPECT_EQ(Server->Calls.front(), "ChangeStatus(2,true,1)");
    EXPECT_EQ(StoreCreations, 1);
    EXPECT_EQ(Store->Count("IsMainComputer"), 2);
    EXPECT_EQ(Module->GetDescription(), "Second");
}

TEST_F(ModuleControlTest, AFailingServerSkipsTheRestOfTheFirstBlockOnly) {
    Server->Failing = {"WriteLog"};
    Module->Init(3, "Queue", Server);

    // ChangeStatus, the failed WriteLog, then only the store's question and the closing log.
    EXPECT_THAT(Server->Calls,
                ElementsAre("ChangeStatus(3,true,1)", StartsWith("WriteLog(3,"), "GetValue(0,2)"));
    EXPECT_EQ(Process.ServerValue1004, 36);
    EXPECT_EQ(Module->GetPreviewDir(), "");
    EXPECT_TRUE(Module->IsCurrent());
}

TEST_F(ModuleControlTest, InitWithoutAServerStillInitialises) {
    Module->Init(3, "Queue", nullptr);
    EXPECT_TRUE(Module->IsCurrent());
    EXPECT_FALSE(Process.ServerObject.Assigned());
    EXPECT_TRUE(Store->Calls.empty());
    EXPECT_EQ(Module->GetErrorMessage(), "no error");
}

TEST_F(ModuleControlTest, LogGoesToTheWindowTheSystemLogAndAfterStartLogToTheServer) {
    // Lines before Init, before StartLog and those the server does not take are kept by the
    // system log, with the module's number and description.
    Module->Log("Early");
    EXPECT_THAT(SystemLog->Find("Early"), StartsWith("module 0 (): Early at "));
    InitModule(9, "Queue nine");
    Window.LogLines.clear();
    EXPECT_THAT(SystemLog->Find("Connected"), StartsWith("module 9 (Queue nine):  Connected at "));
    Module->Log("Hello");
    ASSERT_EQ(Window.LogLines.size(), 1u);
    EXPECT_THAT(Window.LogLines[0], StartsWith("Queue nine: Hello at "));
    EXPECT_TRUE(Server->Calls.empty());
    EXPECT_THAT(SystemLog->Find("Hello"), StartsWith("module 9 (Queue nine): Hello at "));
    EXPECT_EQ(SystemLog->SeverityOf("Hello"), TLogSeverity::Info);
    Module->LogFailure("Exception in Execute (gone)");
    EXPECT_EQ(SystemLog->SeverityOf("Exception in Execute"), TLogSeverity::Error);
    EXPECT_THAT(Window.LogLines.back(), StartsWith("Queue nine: Exception in Execute (gone) at "));

    Module->StartLog();
    Module->Log("Again");
    ASSERT_EQ(Server->Calls.size(), 1u);
    EXPECT_THAT(Server->Calls[0], StartsWith("WriteLog(9,Again at "));

    Inside(*Module).LogToWindow = false;
    Server->Failing = {"WriteLog"};
    EXPECT_NO_THROW(Module->Log("Lost"));
    EXPECT_EQ(Window.LogLines.size(), 3u);
    EXPECT_THAT(SystemLog->Find("Lost"), StartsWith("module 9 (Queue nine): Lost at "));

    Module->StopLog();
    Server->Calls.clear();
    Module->Log("Quiet");
    EXPECT_TRUE(Server->Calls.empty());
}

TEST_F(ModuleControlTest, PauseAndResumeReportAndSwitchTheStartStopAction) {
    InitModule(7);
    Inside(*Module).Status = 2;
    Module->Resume();
    EXPECT_FALSE(Module->IsPaused());
    EXPECT_EQ(VariantToInt(Module->GetValue(3)), 1);
    EXPECT_EQ(Module->GetStatus(), 1);
    EXPECT_EQ(Server->Calls.back(), "ChangeStatus(7,false,1)");
    EXPECT_EQ(Window.PauseCaption, "&Stop");
    EXPECT_EQ(Window.PauseHint, "Stop");
    EXPECT_EQ(Window.PauseImage, 2);
    EXPECT_THAT(Window.LogLines.back(), HasSubstr("Started at "));

    Inside(*Module).Status = 2;
    Server->Failing = {"ChangeStatus"};
    EXPECT_NO_THROW(Module->Pause());
    EXPECT_TRUE(Module->IsPaused());
    EXPECT_EQ(Server->Calls.back(), "ChangeStatus(7,true,2)");
    EXPECT_EQ(Window.PauseCaption, "&Start");
    EXPECT_EQ(Window.PauseHint, "Start");
    EXPECT_EQ(Window.PauseImage, 3);
    ASSERT_GE(Window.LogLines.size(), 2u);
    EXPECT_THAT(Window.LogLines[Window.LogLines.size() - 2], HasSubstr("Paused at "));
    EXPECT_THAT(Window.LogLines.back(),
                HasSubstr("The workflow server was not told that the module paused"));
}

TEST_F(ModuleControlTest, IsJobUseFindsJobsAndCompletedRows) {
    InitModule();
    Inside(*Module).Jobs.Add(TDoc::Create(*Module, false, 0, 41, "Name=a"));
    TListRow row;
    row.Caption = "42";
    Module->Rows().Passed().Add(row);

    EXPECT_TRUE(Module->IsJobUse(41));
    EXPECT_TRUE(Module->IsJobUse(42));
    EXPECT_FALSE(Module->IsJobUse(43));
}

TEST_F(ModuleControlTest, CloseWritesTheHeldJobsAndEmptiesTheModule) {
    InitModule();
    Inside(*Module).ConfigKey = "q1";
    Module->SelfReg(std::string("me/ModuleControl"));
    int released = 0;
    Module->SetSelfReleasedHandler([&] { ++released; });
    for (int i = 1; i <= 3; ++i) {
        TDoc* job = Inside(*Module).Jobs.Add(TDoc::Create(*Module, false, 0, 10 + i, "Name=a"));
        job->DocID = 100 + i;
        job->SetHeld(i != 2);
    }
    Inside(*Module).TermNames.push_back({"t", 1});
    Inside(*Module).FlowEntries.push_back({"rule", 2});
    WriteTextFile(Module->HoldFilePath(), "old\n");

    EXPECT_TRUE(Module->HoldsSelfReference());
    Module->Close();

    EXPECT_EQ(ReadTextFile(ConfigFolder() + "/q1.hld"), "11_101\n13_103\n");
    EXPECT_EQ(Module->GetErrorMessage(), "no error");
    EXPECT_TRUE(Module->JobsInProcess().empty());
    EXPECT_TRUE(Module->GetTermNames().empty());
    EXPECT_TRUE(Module->GetFlowEntries().empty());
    EXPECT_FALSE(Module->HoldsSelfReference());
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(Module->IsCurrent());
    EXPECT_TRUE(Window.TimerStopped);
    EXPECT_EQ(Window.LayoutSaves, 1);
    // A second Close has no self-reference left to drop.
    Module->Close();
    EXPECT_EQ(released, 1);
}

TEST_F(ModuleControlTest, CloseThatCannotWriteTheHoldFileKeepsTheOldOneAndSaysWhy) {
    TSmallDisk disk(ConfigFolder(), 1);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    InitModule();
    Inside(*Module).ConfigKey = "q1";
    WriteTextFile(Module->HoldFilePath(), "7_70\n");
    TDoc* job = Inside(*Module).Jobs.Add(TDoc::Create(*Module, false, 0, 11, "Name=a"));
    job->DocID = 101;
    job->SetHeld(true);
    WriteTextFile(ConfigFolder() + "/filler", std::string(1024 * 1024, 'f'));

    Module->Close();

    EXPECT_EQ(ReadTextFile(Module->HoldFilePath()), "7_70\n") << "never a part of the new one";
    EXPECT_EQ(Module->GetErrorMessage(), "Cannot write the hold file (No space left on device; "
                                         "file " +
                                             Module->HoldFilePath() + "); held jobs: 11_101");
    EXPECT_THAT(SystemLog->Find("Cannot write the hold file"), HasSubstr("held jobs: 11_101 at "));
    EXPECT_EQ(SystemLog->SeverityOf("Cannot write the hold file"), TLogSeverity::Error);
    EXPECT_FALSE(Module->IsCurrent());
}

TEST_F(ModuleControlTest, KillRemovesTheJobFolderAndConfigurationOnlyWhenNothingElseIsInIt) {
    InitModule();
    Inside(*Module).ConfigKey = "k";
    Inside(*Module).StoreDir = Root + "/store";
    const std::string folder = Inside(*Module).StoreDir + "/k";
    ForceDirectories(folder + "/sub");
    WriteTextFile(folder + "/1_2", "spool");
    WriteTextFile(ConfigFolder() + "/k.set", "x");
    WriteTextFile(ConfigFolder() + "/other.set", "x");

    // A subfolder or a hidden file is nobody's to delete: the folder and configuration stay.
    EXPECT_THROW(Module->Kill(), std::runtime_error);
    EXPECT_TRUE(DirectoryExists(folder + "/sub"));
    EXPECT_FALSE(FileExists(folder + "/1_2"));
    EXPECT_TRUE(FileExists(ConfigFolder() + "/k.set"));
    EXPECT_TRUE(FileExists(ConfigFolder() + "/k.hld"));
    std::filesystem::remove(folder + "/sub");
    WriteTextFile(folder + "/.hidden", "x");
    EXPECT_THROW(Module->Kill(), std::runtime_error);
    EXPECT_TRUE(FileExists(folder + "/.hidden"));
    EXPECT_TRUE(FileExists(ConfigFolder() + "/k.set"));

    std::filesystem::remove(folder + "/.hidden");
    WriteTextFile(folder + "/3_4.tmp", "spool");
    Module->Kill();
    EXPECT_FALSE(DirectoryExists(folder));
    EXPECT_TRUE(DirectoryExists(Inside(*Module).StoreDir));
    EXPECT_FALSE(FileExists(ConfigFolder() + "/k.set"));
    EXPECT_FALSE(FileExists(ConfigFolder() + "/k.hld"));
    EXPECT_TRUE(FileExists(ConfigFolder() + "/other.set"));
    EXPECT_EQ(Inside(*Module).KeepTime, 0);
    EXPECT_EQ(Module->GetSavedKeepTime(), 0);
    EXPECT_FALSE(Module->IsCurrent());

    // Without a job folder the configuration files go all the same.
    WriteTextFile(ConfigFolder() + "/k.set", "x");
    WriteTextFile(ConfigFolder() + "/k.hld", "x");
    Module->Kill();
    EXPECT_FALSE(FileExists(ConfigFolder() + "/k.set"));
    EXPECT_FALSE(FileExists(ConfigFolder() + "/k.hld"));
}

TEST_F(ModuleControlTest, FlowEntriesTerminatorsAndHoldList) {
    InitModule();
    Server->Values[{12, 2}] = std::string("Module 12");
    Server->Values[{15, 2}] = std::string("Module 15");
    Server->Define("PtrToKey", [](const std::vector<TVariant>& a) {
        return TCallResult{std::string("K") + std::to_string(VariantToInt(a.at(0))), {}};
    });
    Module->AddFlowEntry(12, "Name=A");
    Module->AddFlowEntry(12, "Name=B");
    Module->AddFlowEntry(15, "Name=C");
    EXPECT_EQ(Module->GetFlowEntries().size(), 3u);
    ASSERT_EQ(Module->GetRouter().DestMarks().size(), 3u);
    EXPECT_EQ(Module->GetRouter().DestMarks()[1].Dest, "12");
    ASSERT_EQ(Module->GetDestNames().size(), 2u);
    EXPECT_EQ(Module->GetDestNames()[0].Text, "Module 12");

    Module->AddTerminator(3, "Setter", TVariant(std::string("RST")));
    Module->AddTerminator(5, "Proofer", TVariant(std::string("RST")));
    ASSERT_EQ(Module->GetTermKeys().size(), 2u);
    EXPECT_EQ(Module->GetTermKeys()[1].Text, "K5");
    EXPECT_EQ(Module->GetTermKeys()[1].Tag, 5);

    Inside(*Module).HoldList = {{"K9", 0}, {"K5", 0}, {"K8", 0}};
    Module->CompletedSendTerminators();
    ASSERT_EQ(Module->GetHoldList().size(), 1u);
    EXPECT_EQ(Module->GetHoldList()[0].Text, "K5");
    EXPECT_EQ(Module->GetHoldList()[0].Tag, 5);
    EXPECT_TRUE(Process.SavedJobsReloaded);

    Module->ClearTerminatorsSet();
    EXPECT_TRUE(Module->GetTermNames().empty());
    EXPECT_TRUE(Module->GetTermKeys().empty());
    Module->ClearFlowEntrySet();
    EXPECT_TRUE(Module->GetFlowEntries().empty());
    EXPECT_TRUE(Module->GetRouter().DestMarks().empty());
    EXPECT_TRUE(Module->GetDestNames().empty());
}

TEST_F(ModuleControlTest, ForceDirCreatesOnlyWhenAsked) {
    const std::string folder = Root + "/a/b";
    EXPECT_FALSE(Module->ForceDir(folder, false));
    EXPECT_FALSE(DirectoryExists(folder));
    EXPECT_TRUE(Module->ForceDir(folder, true));
    EXPECT_TRUE(DirectoryExists(folder));
    EXPECT_TRUE(Module->ForceDir(folder, false));
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

} // namespace
} // namespace raduvuz::test
