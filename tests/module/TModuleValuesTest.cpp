#include "common/Utils.h"
#include "module/ModuleFixture.h"
#include "support/ModuleInside.h"

#include <functional>

namespace raduvuz::test {
namespace {

using ModuleValuesTest = ModuleFixture;

TEST_F(ModuleValuesTest, GetValueAnswersTheTableAndNullForOtherNumbers) {
    InitModule(5, "Queue");
    Inside(*Module).InParams = "In=1";
    Inside(*Module).TermNames = {{"Printer A", 11}, {"B", 12}};

    std::string values;
    for (int32_t num : {0, 2, 4, 6, 20, 54, 55, 57, 1000, 1001, 1002, 1003, 1004})
        values += std::to_string(num) + "=" + Describe(Module->GetValue(num)) + " ";
    EXPECT_EQ(values, "0=1 2=Queue 4=In=1 6=true 20=1 54=1440 55=\"Printer A\",B 57=true 1000=-1 "
                      "1001=-1 1002=false 1003=true 1004=77 ");
    for (int32_t num : {7, 19, 50, 64, 999, 1005, -1})
        EXPECT_TRUE(IsNull(Module->GetValue(num))) << num;
    // Integers stay integers and flags stay flags on the way out.
    EXPECT_TRUE(std::holds_alternative<int32_t>(Module->GetValue(0)));
    EXPECT_TRUE(std::holds_alternative<bool>(Module->GetValue(6)));
}

TEST_F(ModuleValuesTest, SetValueConvertsOrFailsWithoutChangingTheField) {
    InitModule(5);
    Module->SetValue(0, std::string("12"));
    EXPECT_EQ(Module->GetStatus(), 12);
    EXPECT_THROW(Module->SetValue(0, std::string("abc")), TDispatchError);
    EXPECT_THROW(Module->SetValue(0, TNull{}), TDispatchError);
    EXPECT_EQ(Module->GetStatus(), 12);
    Module->SetValue(63, false);
    EXPECT_EQ(Inside(*Module).MaxFiles, 0);
    Module->SetValue(4, std::string("A=1"));
    Module->SetValue(5, int32_t{3});
    EXPECT_EQ(Module->GetInParams(), "A=1");
    EXPECT_EQ(Module->GetOutParams(), "3");
    Module->SetValue(62, std::string("false"));
    EXPECT_FALSE(Inside(*Module).Event);
    EXPECT_NO_THROW(Module->SetValue(7, std::string("anything")));
    EXPECT_NO_THROW(Module->SetValue(20, int32_t{5}));
    EXPECT_EQ(Describe(Module->GetValue(20)), "1");

    // The free space is read with a point; tiny values become zero.
    Module->SetValue(59, std::string("12.5"));
    EXPECT_EQ(Describe(Module->GetValue(59)), "12.5");
    Module->SetValue(59, std::string("0.00001"));
    EXPECT_EQ(Inside(*Module).FreeSpace, 0.0);
    Module->SetValue(59, std::string("-0.00001"));
    EXPECT_EQ(Inside(*Module).FreeSpace, 0.0);
    Module->SetValue(59, std::string("abc"));
    EXPECT_EQ(Inside(*Module).FreeSpace, 0.0);
}

// Each refusal is RAduvuz.Error.InvalidArgs naming the argument; the field keeps its value.
std::string Refusal(const std::function<void()>& call) {
    try {
        call();
    } catch (const TDispatchError& e) {
        return e.Name + ": " + e.what();
    }
    return "accepted";
}

TEST_F(ModuleValuesTest, NameAndPausedFlagReachTheWindowAndTheServer) {
    InitModule(8);
    Module->SetValue(2, std::string("Renamed"));
    EXPECT_EQ(Module->GetDescription(), "Renamed");
    EXPECT_EQ(Window.Caption, "Renamed");
    EXPECT_EQ(Window.ToolbarCaption, "Renamed toolbar");
    EXPECT_EQ(Window.TrayTip, "Renamed");
    Module->SetValue(6, false);
    EXPECT_FALSE(Module->IsPaused());
    EXPECT_EQ(Server->Calls.back(), "ChangeStatus(8,false,1)");
    Module->SetValue(6, true);
    EXPECT_TRUE(Module->IsPaused());
    EXPECT_EQ(Server->Calls.back(), "ChangeStatus(8,true,1)");
}

TEST_F(ModuleValuesTest, HeldTerminatorsByPosition) {
    InitModule();
    Inside(*Module).TermNames = {{"A", 21}, {"B", 22}, {"C", 23}};
    Inside(*Module).TermKeys = {{"ka", 21}, {"kb", 22}, {"kc", 23}};
    Module->SetValue(56, std::string("1,x,99"));
    ASSERT_EQ(Module->GetHoldList().size(), 1u);
    EXPECT_EQ(Module->GetHoldList()[0].Text, "kb");
    EXPECT_EQ(Module->GetHoldList()[0].Tag, 22);
    Module->SetValue(56, std::string("2,0"));
    EXPECT_EQ(Describe(Module->GetValue(56)), "2,0");
    Inside(*Module).HoldList.push_back({"unknown", 99});
    EXPECT_EQ(Describe(Module->GetValue(56)), "2,0");
    Inside(*Module).HoldList.clear();
    EXPECT_EQ(Describe(Module->GetValue(56)), "");
}

TEST_F(ModuleValuesTest, LastInTopResortsTheCompletedListOnlyOnAChange) {
    InitModule();
    auto add = [&](const std::string& job, const std::string& doc) {
        TListRow row;
        row.Caption = job;
        row.SubItems = {doc};
        Module->Rows().Passed().Add(row);
    };
    add("2", "5");
    add("10", "1");
    add("2", "7");
    add("x", "1");
    auto order = [&] {
        std::string text;
        for (int i = 0; i < Module->Rows().Passed().Count(); ++i)
            text += Module->Rows().Passed().At(i)->Caption + "/" +
                    Module->Rows().Passed().At(i)->SubItems[0] + " ";
        return text;
    };
    Module->SetValue(57, true);
    EXPECT_EQ(order(), "2/5 10/1 2/7 x/1 ");
    Module->SetValue(57, false);
    EXPECT_EQ(order(), "x/1 2/5 2/7 10/1 ");
    Module->SetValue(57, true);
    EXPECT_EQ(order(), "10/1 2/7 2/5 x/1 ");

    // A loaded or imported flag changes only where new rows go.
    Module->ImportConfig("q", HexEncode("LastInTop=0"), 0);
    EXPECT_FALSE(Inside(*Module).LastInTop);
    EXPECT_EQ(order(), "10/1 2/7 2/5 x/1 ");
    Module->ImportConfig("q", HexEncode("LastInTop=1"), 0);
    EXPECT_TRUE(Inside(*Module).LastInTop);
    EXPECT_EQ(order(), "10/1 2/7 2/5 x/1 ");
    Module->SetValue(57, false);
    EXPECT_EQ(order(), "x/1 2/5 2/7 10/1 ");
}

TEST_F(ModuleValuesTest, StorageFolderMovesTheJobFolder) {
    InitModule();
    Inside(*Module).ConfigKey = "q";
    Inside(*Module).StoreDir = Root + "/old";
    Inside(*Module).JobDir = Inside(*Module).StoreDir + "/q";
    ForceDirectories(Module->GetJobDir());
    WriteTextFile(Module->GetJobDir() + "/1_1", "spool");
    ForceDirectories(Root + "/new");

    Module->SetValue(51, Root + "/new");
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/new");
    EXPECT_EQ(Module->GetJobDir(), Root + "/new/q");
    EXPECT_EQ(ReadTextFile(Module->GetJobDir() + "/1_1"), "spool");
    EXPECT_FALSE(DirectoryExists(Root + "/old/q"));
    EXPECT_TRUE(Module->IsPaused());

    // A folder that is not there yet is made, and the job folder moves into it.
    Module->SetValue(51, Root + "/missing/parent");
    EXPECT_EQ(Module->GetJobDir(), Root + "/missing/parent/q");
    EXPECT_EQ(ReadTextFile(Module->GetJobDir() + "/1_1"), "spool");
    EXPECT_FALSE(DirectoryExists(Root + "/new/q"));

    // A move that cannot be made is refused: the jobs stay where they are, nothing is merged.
    ForceDirectories(Root + "/taken/q");
    WriteTextFile(Root + "/taken/q/2_2", "other");
    EXPECT_EQ(Refusal([&] { Module->SetValue(51, Root + "/taken"); })
                  .rfind("RAduvuz.Error.Unexpected: Cannot move the storage folder from " + Root +
                             "/missing/parent to " + Root + "/taken (cannot rename",
                         0),
              0u);
    EXPECT_EQ(Module->GetJobDir(), Root + "/missing/parent/q");
    EXPECT_EQ(ReadTextFile(Module->GetJobDir() + "/1_1"), "spool");
    EXPECT_EQ(ReadTextFile(Root + "/taken/q/2_2"), "other");

    // Without a job folder the value is ignored.
    Inside(*Module).JobDir = Root + "/none";
    Module->SetValue(51, Root + "/other");
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/missing/parent");

    // A relative folder would depend on the folder the process runs in.
    Inside(*Module).JobDir = Inside(*Module).StoreDir + "/q";
    for (const char* folder : {"../../x", "x", ""})
        EXPECT_EQ(Refusal([&] { Module->SetValue(51, std::string(folder)); }),
                  std::string("RAduvuz.Error.InvalidArgs: Value: \"") + folder +
                      "\" is not an absolute path");
    // The configuration string keeps the folder between double quotes.
    EXPECT_EQ(Refusal([&] { Module->SetValue(51, std::string("/a\"b")); }),
              "RAduvuz.Error.InvalidArgs: Value: \"/a\"b\" holds a double quote, which the "
              "configuration cannot keep");
    EXPECT_EQ(Inside(*Module).StoreDir, Root + "/missing/parent");
    EXPECT_TRUE(DirectoryExists(Module->GetJobDir()));
}

} // namespace
} // namespace raduvuz::test
