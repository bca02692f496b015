#include "control/TTickScope.h"
#include "jobs/TDoc.h"
#include "module/ModuleFixture.h"
#include "support/ModuleInside.h"

namespace raduvuz::test {
namespace {

using TickScopeTest = ModuleFixture;

// A tick that holds a job across a pump; Close, a new Init or Kill arrives through the second.
class TickPumpTest : public ModuleFixture, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(Arrivals, TickPumpTest, ::testing::Values("Close", "Init", "Kill"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

TEST_P(TickPumpTest, EndsTheTickAndDefersFreeingTheJobUntilTheTickUnwinds) {
    const std::string arrival = GetParam();
    InitModule(3);
    Inside(*Module).ConfigKey = "kk";
    Inside(*Module).StoreDir = Root + "/store";
    const std::string folder = Root + "/store/kk";
    ForceDirectories(folder);
    WriteTextFile(folder + "/7_55", "spool");
    TDoc* job = Inside(*Module).Jobs.Add(TDoc::Create(*Module, false, 55, 7, "Name=a"));
    int pumps = 0;
    Window.OnPump = [&] {
        if (++pumps != 2)
            return;
        if (arrival == "Close")
            Module->Close();
        else if (arrival == "Init")
            Module->Init(4, "Again", Server);
        else
            Module->Kill();
    };
    {
        TTickScope tick(*Module);
        EXPECT_TRUE(Inside(*Module).Busy);
        EXPECT_TRUE(tick.Pump());
        EXPECT_FALSE(tick.Pump());
        EXPECT_FALSE(tick.Valid());
        // The job the tick held is still alive: the sanitizer build catches any use after free.
        EXPECT_EQ(job->JobID, 7);
        EXPECT_TRUE(Module->JobsInProcess().empty());
        EXPECT_EQ(Store->Count("RCloseDoc"), 0);
        // A nested scope (a job action that pumps) does not release what the outer one holds.
        { TTickScope inner(*Module); }
        EXPECT_TRUE(Inside(*Module).Busy);
        EXPECT_EQ(Module->DeferredCount(), 1u);
        // Kill does its file work at once.
        EXPECT_EQ(DirectoryExists(folder), arrival != "Kill");
    }
    EXPECT_FALSE(Inside(*Module).Busy);
    EXPECT_EQ(Module->DeferredCount(), 0u);
    EXPECT_EQ(Store->Count("RCloseDoc"), 1);
}

// The bounded wait a transferring job asks for while the store has no output document for it.
TEST_F(TickScopeTest, WaitPumpingServesEventsUntilTheModuleIsClosed) {
    InitModule();
    int pumps = 0;
    Window.OnPump = [&] { ++pumps; };
    EXPECT_TRUE(Module->WaitPumping(0));
    EXPECT_EQ(pumps, 1);
    EXPECT_FALSE(Inside(*Module).Busy);

    // No tick starts inside the wait, and a Close ends it at once.
    Window.OnPump = [&] {
        EXPECT_TRUE(Inside(*Module).Busy);
        Module->Close();
    };
    EXPECT_FALSE(Module->WaitPumping(60000));
    EXPECT_FALSE(Inside(*Module).Busy);
}

// News that may let the waiting job go on (the store's MemoryFreed, say) ends the wait early.
TEST_F(TickScopeTest, WaitPumpingEndsWithNewsThatCameDuringIt) {
    InitModule();
    Window.OnPump = nullptr;
    Module->NoteWorkPossible();
    int waits = 0;
    Window.OnWait = [&] {
        if (++waits == 3)
            Module->NoteWorkPossible();
    };
    // News from before the wait does not end it.
    EXPECT_TRUE(Module->WaitPumping(60000));
    EXPECT_EQ(waits, 3);
}

} // namespace
} // namespace raduvuz::test
