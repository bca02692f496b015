#include "CycleTestSupport.h"

#include "control/TTickScope.h"
#include "jobs/TDoc.h"
#include "platform/System.h"
#include "support/ModuleInside.h"

#include "platform/GoEvent.h"

#include <chrono>
#include <thread>
#include <unistd.h>

namespace raduvuz::test {
namespace {

class CycleTest : public TJobFolderTest {
protected:
    void SetUp() override {
        TJobFolderTest::SetUp();
        Inside(*Module).Paused = false;
    }

    TDoc* AddJob(int32_t docID, int state, int32_t priority, double created) {
        TDoc* job = Inside(*Module).Jobs.Add(TDoc::Create(*Module, state != 0, docID, docID * 10,
                                                          "Name=Job" + std::to_string(docID),
                                                          static_cast<TJobState>(state)));
        job->Name = "Job" + std::to_string(docID);
        job->SetPriority(priority);
        job->SetCreated(created);
        job->SetLastTime(created);
        return job;
    }
};

TEST_F(CycleTest, IntakeLimitAndEndlessZeroAnswersStopTheSearch) {
    AddJob(1, 1, 10, 100);
    AddJob(2, 1, 10, 100);
    Inside(*Module).MaxFiles = 2;
    Store->NextDocs = {5};
    EXPECT_FALSE(Module->Intake());
    EXPECT_EQ(Store->Count("RNextFindDoc"), 0);
    EXPECT_TRUE(Inside(*Module).IntakeExhausted);

    // A store that answers 0 for ever does not keep the search going.
    Inside(*Module).MaxFiles = 0;
    Inside(*Module).IntakeExhausted = false;
    Store->Define("RNextFindDoc", [](const std::vector<TVariant>&) {
        return TCallResult{int32_t(0), {}};
    });
    EXPECT_FALSE(Module->Intake());
    EXPECT_TRUE(Inside(*Module).IntakeExhausted);
}

TEST_F(CycleTest, PassThroughAsksEachDestinationOncePerSearch) {
    Inside(*Module).FlowEntries = {{"Color=Cyan", 5}, {"Color=Black", 6}};
    Store->NextDocs = {11, 12, 13, 14, 15};
    Store->DDS[11] = "Color=Cyan";
    Store->DDS[12] = "Color=Cyan";
    Store->DDS[13] = "Color=Black";
    Store->DDS[14] = "Color=Cyan";
    Store->DDS[15] = "Color=Black";
    // Destination 5 is not started; 6 is started but has a document waiting.
    Server->Define("GetValue", [](const std::vector<TVariant>& args) {
        const int32_t dest = VariantToInt(args[0]);
        const int32_t num = VariantToInt(args[1]);
        if (num == 0)
            return TCallResult{int32_t(dest == 6 ? 1 : 0), {}};
        return TCallResult{false, {}};
    });
    Store->DocsWaitingFor = {6};
    EXPECT_FALSE(Module->Intake());
    EXPECT_EQ(Store->Count("ROpenDoc"), 0);
    // The questions about a destination go out together, so the stopped one is asked too.
    EXPECT_EQ(Store->Count("IsDocForExists(6)"), 1);
    EXPECT_EQ(Store->Count("IsDocForExists(5)"), 1);
    EXPECT_TRUE(Inside(*Module).IntakeExhausted);
    EXPECT_TRUE(Module->JobsInProcess().empty());
    // With every destination asked about, the documents after 13 are not looked at.
    EXPECT_EQ(Store->Count("RNextFindDoc"), 3);
    EXPECT_EQ(Store->Count("RGetDocDDS(14)"), 0);
}

TEST_F(CycleTest, DocumentTheStoreRefusesIsAborted) {
    Inside(*Module).WorkMode = 1;
    Store->NextDocs = {21};
    Store->OpenedJobID = -1;
    EXPECT_FALSE(Module->Intake());
    EXPECT_EQ(Store->Count("RAbortDoc(7,21)"), 1);
    EXPECT_TRUE(Module->JobsInProcess().empty());
}

TEST_F(CycleTest, TickWithNothingToDoSearchesOnceAndReturns) {
    Module->Tick();
    EXPECT_EQ(Store->Count("RNextFindDoc"), 1);
    EXPECT_FALSE(Inside(*Module).Busy);
    EXPECT_FALSE(Inside(*Module).IntakeExhausted);

    // Only held jobs: searches until one finds nothing.
    AddJob(1, 1, 10, 100)->SetHeld(true);
    Store->Calls.clear();
    Module->Tick();
    EXPECT_EQ(Store->Count("RNextFindDoc"), 1);
    EXPECT_FALSE(Inside(*Module).Busy);

    // A nested tick returns at once.
    Store->Calls.clear();
    Inside(*Module).Busy = true;
    Module->Tick();
    EXPECT_TRUE(Store->Calls.empty());
    Inside(*Module).Busy = false;

    // A paused module does no work.
    Inside(*Module).Paused = true;
    Module->Tick();
    EXPECT_TRUE(Store->Calls.empty());
    EXPECT_FALSE(Inside(*Module).Busy);
}

TEST_F(CycleTest, ATickThatMovesNothingEndsOnceItWouldRepeatItselfAndAsksForNoOtherTick) {
    // The input document has no block ready yet: every step of the job ends Waiting.
    int switches = 0;
    Store->Define("RWSwitchBlock", [&switches](const std::vector<TVariant>&) {
        ++switches;
        return TCallResult{std::string(), {int32_t(0), int32_t(0), int32_t(0)}};
    });
    TDoc* job = AddJob(1, 0, 10, 100);
    job->SpoolMode = false;
    // Picked, passed over for a search, picked again: the same as the first time, so it ends.
    EXPECT_FALSE(Module->Tick());
    EXPECT_EQ(switches, 2);
    EXPECT_EQ(Store->Count("RNextFindDoc"), 1);
    EXPECT_FALSE(Inside(*Module).Busy);
    EXPECT_EQ(Window.Waits, 0);
    // The timer's handler asks for no tick before the next timer.
    Module->TimerTimer();
    EXPECT_EQ(Window.TicksScheduled, 0);
    ASSERT_EQ(Module->JobsInProcess().size(), 1u);

    // News while the tick runs (here from inside the step) makes it look again before it ends.
    switches = 0;
    Store->Calls.clear();
    Store->Define("RWSwitchBlock", [&](const std::vector<TVariant>&) {
        if (++switches == 1)
            Module->NoteWorkPossible();
        return TCallResult{std::string(), {int32_t(0), int32_t(0), int32_t(0)}};
    });
    EXPECT_FALSE(Module->Tick());
    EXPECT_EQ(switches, 2);
    EXPECT_EQ(Store->Count("RNextFindDoc"), 2);

    // A step that ends the job (here the store's failure) moves something: the next tick is
    // asked for at once.
    Window.TicksScheduled = 0;
    Store->Define("RWSwitchBlock", [](const std::vector<TVariant>&) {
        return TCallResult{std::string(), {int32_t(0), int32_t(7), int32_t(0)}};
    });
    Module->TimerTimer();
    EXPECT_TRUE(Module->JobsInProcess().empty());
    EXPECT_EQ(Window.TicksScheduled, 1);
}

TEST_F(CycleTest, NewsAsksForATickUnlessTheModuleIsPausedOrATickIsRunning) {
    Module->NoteWorkPossible();
    EXPECT_EQ(Window.TicksScheduled, 1);
    Inside(*Module).Paused = true;
    Module->NoteWorkPossible();
    EXPECT_EQ(Window.TicksScheduled, 1);
    // Resumed by a call whose news came while the handler ran: the handler asks at its end.
    Window.OnPump = [&] {
        Window.OnPump = nullptr;
        Inside(*Module).Paused = false;
        Module->NoteWorkPossible();
    };
    Module->TimerTimer();
    EXPECT_EQ(Window.TicksScheduled, 2);
    EXPECT_EQ(Module->WorkNotices(), 3u);
}

TEST_F(CycleTest, NewsDuringOtherWorkThatHoldsJobsAsksForATickOnceThatWorkEnds) {
    {
        TTickScope work(*Module);
        Module->NoteWorkPossible();
        // A timer that comes meanwhile runs no tick, and asks for none either.
        Module->TimerTimer();
        EXPECT_EQ(Window.TicksScheduled, 0);
        EXPECT_EQ(Store->Count("RNextFindDoc"), 0);
    }
    EXPECT_EQ(Window.TicksScheduled, 1);
}

TEST_F(CycleTest, ATickHeldByTheGoEventTakesItsReleaseAsNews) {
    Process.GoEventName = "/raduvuz-cycle-go-" + std::to_string(::getpid());
    ASSERT_TRUE(GoEventCreate(Process.GoEventName, true));
    Inside(*Module).Event = true;
    // The RIP holds the module from inside the tick's search and lets it go a moment later.
    std::thread rip;
    int searches = 0;
    Store->Define("RNextFindDoc", [&](const std::vector<TVariant>&) {
        if (++searches == 1) {
            GoEventReset(Process.GoEventName);
            rip = std::thread([name = Process.GoEventName] {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                GoEventSet(name);
            });
        }
        return TCallResult{int32_t(-1), {}};
    });
    // A job that waits for its destination, which is not running.
    TDoc* job = AddJob(1, 1, 10, 100);
    job->SetDests("12");
    job->Devices = "1";
    Server->Define("GetValue", [](const std::vector<TVariant>&) {
        return TCallResult{int32_t(0), {}};
    });
    const uint64_t before = Module->WorkNotices();
    Module->Tick();
    rip.join();
    GoEventRemove(Process.GoEventName);
    EXPECT_EQ(Module->WorkNotices(), before + 1);
    // The news made the tick search once more before it ended.
    EXPECT_EQ(searches, 2);
}

TEST_F(CycleTest, TheStoresSignalsAreNewsAndOnlyThoseForThisModuleAmongNewDocuments) {
    Module->Init(7, "Q", Server);
    const uint64_t before = Module->WorkNotices();
    Store->Emit("DocumentAvailable", {int32_t(8), int32_t(30)});
    EXPECT_EQ(Module->WorkNotices(), before);
    Store->Emit("DocumentAvailable", {int32_t(7), int32_t(31)});
    Store->Emit("DocumentTaken", {int32_t(12), int32_t(31)});
    Store->Emit("DocumentClosed", {int32_t(31), false});
    Store->Emit("MemoryFreed", {});
    EXPECT_EQ(Module->WorkNotices(), before + 4);
    // A signal whose arguments are not the contract's is passed over.
    Store->Emit("DocumentTaken", {std::string("x")});
    EXPECT_EQ(Module->WorkNotices(), before + 4);

    // A second Init does not listen twice; a store the module is no longer given is not listened
    // to.
    Module->Init(7, "Q", Server);
    Store->Emit("MemoryFreed", {});
    EXPECT_EQ(Module->WorkNotices(), before + 5);
    Store->Answers["IsMainComputer"] = TCallResult{false, {}};
    Module->Init(7, "Q", Server);
    Store->Emit("MemoryFreed", {});
    EXPECT_EQ(Module->WorkNotices(), before + 5);
}

TEST_F(CycleTest, AJobFreedWhileItsStepWaitsStaysAliveUntilTheTickEndsAndIsNotSteppedAgain) {
    TDoc* job = AddJob(1, 0, 10, 100);
    job->SpoolMode = false;
    int switches = 0;
    // A call that comes in while the store answers ends the job; the step then fails.
    Store->Define("RWSwitchBlock", [&](const std::vector<TVariant>&) {
        ++switches;
        Module->FreeJob(*job);
        EXPECT_TRUE(Module->JobsInProcess().empty());
        EXPECT_EQ(Module->DeferredCount(), 1u);
        return TCallResult{std::string(), {int32_t(0), int32_t(7), int32_t(0)}};
    });
    Window.OnPump = [&] {
        if (switches > 0)
            Inside(*Module).Paused = true;
    };
    Module->Tick();
    // Released once, stepped once; the sanitizer build sees any use of it after it was destroyed.
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(Store->Count("RCloseDoc(7,1)"), 1);
    EXPECT_EQ(Module->DeferredCount(), 0u);
    EXPECT_FALSE(Inside(*Module).Busy);
}

} // namespace
} // namespace raduvuz::test
