#include "module/ModuleFixture.h"
#include "support/ModuleInside.h"

#include <filesystem>

namespace raduvuz::test {
namespace {

using ModuleFlowTest = ModuleFixture;

TEST_F(ModuleFlowTest, FlowEntriesTerminatorsAndHoldList) {
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

TEST_F(ModuleFlowTest, ForceDirCreatesOnlyWhenAsked) {
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
