#include "CycleTestSupport.h"

#include "common/CommaText.h"
#include "jobs/TDoc.h"
#include "platform/System.h"

#include <deque>

namespace raduvuz::test {
namespace {

// The document store: RNextFindDoc answers from a queue (-1 once it is empty), every call is
// recorded as "Method(arg,arg)".
class TScriptedStore : public TInProcessObject {
public:
    std::vector<std::string> Calls;
    std::deque<int32_t> NextDocs;
    std::map<int32_t, std::string> DDS;
    std::set<int32_t> DocsWaitingFor;
    int32_t OpenedJobID = -1;

    TScriptedStore() {
        Define("RNextFindDoc", [this](const std::vector<TVariant>& args) {
            Record("RNextFindDoc", args);
            if (NextDocs.empty())
                return TCallResult{int32_t(-1), {}};
            const int32_t doc = NextDocs.front();
            NextDocs.pop_front();
            return TCallResult{doc, {}};
        });
        Define("RGetDocDDS", [this](const std::vector<TVariant>& args) {
            Record("RGetDocDDS", args);
            return TCallResult{DDS[VariantToInt(args[0])], {}};
        });
        Define("IsDocForExists", [this](const std::vector<TVariant>& args) {
            Record("IsDocForExists", args);
            return TCallResult{DocsWaitingFor.count(VariantToInt(args[0])) > 0, {}};
        });
        Define("ROpenDoc", [this](const std::vector<TVariant>& args) {
            Record("ROpenDoc", args);
            return TCallResult{DDS[VariantToInt(args[1])], {OpenedJobID}};
        });
        for (const char* method : {"RAbortDoc", "RCloseDoc", "WAbortDoc", "WCloseDoc"})
            Define(method, [this, method](const std::vector<TVariant>& args) {
                Record(method, args);
                return TCallResult{};
            });
    }

    int Count(const std::string& prefix) const {
        int n = 0;
        for (const std::string& call : Calls)
            n += call.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    void Record(const std::string& method, const std::vector<TVariant>& args) {
        std::string call = method + "(";
        for (size_t i = 0; i < args.size(); ++i)
            call += (i ? "," : "") + VariantToText(args[i]);
        Calls.push_back(call + ")");
    }
};

class CycleTest : public TModuleTest {
protected:
    void SetUp() override {
        TModuleTest::SetUp();
        Store = std::make_shared<TScriptedStore>();
        Process.StoreObject = TStoreClient(Store);
        Module->Current = true;
        Module->Event = false;
        Module->Paused = false;
        Process.FreeSpaceKb = [](const std::string&) { return int64_t{10000000}; };
        Process.GoEventName = "/raduvuz-cycle-test-no-event";
    }

    TDoc* AddJob(int32_t docID, uint8_t state, int32_t priority, double created) {
        TDoc* job = Module->Jobs.Add(TDoc::Create(*Module, state != 0, docID, docID * 10,
                                                  "Name=Job" + std::to_string(docID)));
        job->State = state;
        job->Name = "Job" + std::to_string(docID);
        job->Priority = priority;
        job->Created = created;
        job->LastTime = created;
        return job;
    }

    std::shared_ptr<TScriptedStore> Store;
};

TEST_F(CycleTest, SendingJobsArePickedByPriorityAsText) {
    TDoc* p10 = AddJob(1, 2, 10, 100);
    TDoc* p5 = AddJob(2, 2, 5, 200);
    // With only sending jobs, the tick searches the store first.
    Module->IntakeExhausted = false;
    EXPECT_EQ(Module->SelectJob(), nullptr);
    Module->IntakeExhausted = true;
    EXPECT_EQ(Module->SelectJob(), p5);
    EXPECT_FALSE(Module->IntakeExhausted);

    // 100 sorts before 20 as text, and before 10 because "0" comes before the "_" after it.
    p5->Priority = 20;
    p10->Priority = 100;
    Module->IntakeExhausted = true;
    EXPECT_EQ(Module->SelectJob(), p10);
    p5->Priority = 10;
    Module->IntakeExhausted = true;
    EXPECT_EQ(Module->SelectJob(), p10);
}

TEST_F(CycleTest, WaitingJobIsPassedOverOnceAndHeldJobsNever) {
    TDoc* first = AddJob(1, 0, 10, 100);
    TDoc* second = AddJob(2, 0, 10, 200);
    EXPECT_EQ(Module->SelectJob(), first);
    first->Waiting = true;
    EXPECT_EQ(Module->SelectJob(), second);
    EXPECT_FALSE(first->Waiting);
    EXPECT_EQ(Module->SelectJob(), first);

    first->Held = true;
    second->Held = true;
    EXPECT_EQ(Module->SelectJob(), nullptr);

    // Waiting jobs (state 1) go by priority and age; a held one is never picked.
    second->Held = false;
    second->State = 1;
    TDoc* urgent = AddJob(3, 1, 1, 300);
    EXPECT_EQ(Module->SelectJob(), urgent);
    urgent->Held = true;
    EXPECT_EQ(Module->SelectJob(), second);
}

TEST_F(CycleTest, AbortedJobsAreFreedBeforeThePick) {
    TDoc* aborted = AddJob(1, 0, 10, 100);
    TDoc* other = AddJob(2, 0, 10, 200);
    aborted->AbortRequested = true;
    EXPECT_EQ(Module->SelectJob(), other);
    ASSERT_EQ(Module->Jobs.size(), 1u);
    ASSERT_FALSE(Window.LogLines.empty());
    EXPECT_NE(Window.LogLines.front().find("Document Job1 aborted at "), std::string::npos);
}

TEST_F(CycleTest, IntakeLimitAndLowDiskStopTheSearch) {
    AddJob(1, 1, 10, 100);
    AddJob(2, 1, 10, 100);
    Module->MaxFiles = 2;
    Store->NextDocs = {5};
    EXPECT_FALSE(Module->Intake());
    EXPECT_EQ(Store->Count("RNextFindDoc"), 0);
    EXPECT_TRUE(Module->IntakeExhausted);

    Module->MaxFiles = 0;
    Module->IntakeExhausted = false;
    Process.FreeSpaceKb = [](const std::string&) { return int64_t{102399}; };
    EXPECT_FALSE(Module->Intake());
    EXPECT_TRUE(Module->Paused);
    EXPECT_TRUE(Module->IntakeExhausted);
    EXPECT_EQ(Store->Count("RNextFindDoc"), 0);
    bool logged = false;
    for (const std::string& line : Window.LogLines)
        logged = logged || line.find("Not enough free disk space at ") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(CycleTest, EndlessZeroAnswersEndTheSearch) {
    Store->Define("RNextFindDoc", [](const std::vector<TVariant>&) {
        return TCallResult{int32_t(0), {}};
    });
    EXPECT_FALSE(Module->Intake());
    EXPECT_TRUE(Module->IntakeExhausted);
}

TEST_F(CycleTest, PassThroughAsksEachDestinationOncePerSearch) {
    Module->FlowEntries = {{"Color=Cyan", 5}, {"Color=Black", 6}};
    Store->NextDocs = {11, 12, 13};
    Store->DDS[11] = "Color=Cyan";
    Store->DDS[12] = "Color=Cyan";
    Store->DDS[13] = "Color=Black";
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
    EXPECT_EQ(Store->Count("IsDocForExists(6)"), 1);
    EXPECT_EQ(Store->Count("IsDocForExists(5)"), 0);
    EXPECT_TRUE(Module->IntakeExhausted);
    EXPECT_TRUE(Module->Jobs.empty());
}

TEST_F(CycleTest, DocumentTheStoreRefusesIsAborted) {
    Module->WorkMode = 1;
    Store->NextDocs = {21};
    Store->OpenedJobID = -1;
    EXPECT_FALSE(Module->Intake());
    EXPECT_EQ(Store->Count("RAbortDoc(7,21)"), 1);
    EXPECT_TRUE(Module->Jobs.empty());
}

TEST_F(CycleTest, TickWithNothingToDoSearchesOnceAndReturns) {
    Module->Tick();
    EXPECT_EQ(Store->Count("RNextFindDoc"), 1);
    EXPECT_FALSE(Module->Busy);
    EXPECT_FALSE(Module->IntakeExhausted);

    // Only held jobs: searches until one finds nothing.
    AddJob(1, 1, 10, 100)->Held = true;
    Store->Calls.clear();
    Module->Tick();
    EXPECT_EQ(Store->Count("RNextFindDoc"), 1);
    EXPECT_FALSE(Module->Busy);

    // A nested tick returns at once.
    Store->Calls.clear();
    Module->Busy = true;
    Module->Tick();
    EXPECT_TRUE(Store->Calls.empty());
    Module->Busy = false;

    // A paused module does no work.
    Module->Paused = true;
    Module->Tick();
    EXPECT_TRUE(Store->Calls.empty());
    EXPECT_FALSE(Module->Busy);
}

TEST_F(CycleTest, PassesWithoutProgressWaitForEventsInsteadOfSpinning) {
    // The input document has no block ready yet: every step of the job ends Waiting.
    int switches = 0;
    Store->Define("RWSwitchBlock", [&switches](const std::vector<TVariant>&) {
        ++switches;
        return TCallResult{std::string(), {int32_t(0), int32_t(0), int32_t(0)}};
    });
    TDoc* job = AddJob(1, 0, 10, 100);
    job->SpoolMode = false;
    std::vector<int> switchesAtWait;
    Window.OnWait = [&] {
        switchesAtWait.push_back(switches);
        if (Window.Waits == 5)
            Module->Paused = true;
    };
    Module->Tick();
    ASSERT_EQ(Window.Waits, 5);
    EXPECT_FALSE(Module->Busy);
    // Between two waits the job is tried at most twice: once picked, once after its pass-over.
    for (size_t i = 1; i < switchesAtWait.size(); ++i)
        EXPECT_LE(switchesAtWait[i] - switchesAtWait[i - 1], 2) << i;
    EXPECT_GE(switches, 5);
    ASSERT_EQ(Module->Jobs.size(), 1u);

    // A step that ends the job (here the store's failure) is progress: no wait follows.
    Window.Waits = 0;
    Module->Paused = false;
    Store->Define("RWSwitchBlock", [&](const std::vector<TVariant>&) {
        if (++switches > 20)
            Module->Paused = true;
        return TCallResult{std::string(), {int32_t(0), int32_t(7), int32_t(0)}};
    });
    Module->Tick();
    EXPECT_EQ(Window.Waits, 0);
    EXPECT_TRUE(Module->Jobs.empty());
}

TEST_F(CycleTest, AJobFreedWhileItsStepWaitsStaysAliveUntilTheTickEndsAndIsNotSteppedAgain) {
    TDoc* job = AddJob(1, 0, 10, 100);
    job->SpoolMode = false;
    int switches = 0;
    // A call that comes in while the store answers ends the job; the step then fails.
    Store->Define("RWSwitchBlock", [&](const std::vector<TVariant>&) {
        ++switches;
        Module->FreeJob(*job);
        EXPECT_TRUE(Module->Jobs.empty());
        EXPECT_EQ(Module->DeferredCount(), 1u);
        return TCallResult{std::string(), {int32_t(0), int32_t(7), int32_t(0)}};
    });
    Window.OnPump = [&] {
        if (switches > 0)
            Module->Paused = true;
    };
    Module->Tick();
    // Released once, stepped once; the sanitizer build sees any use of it after it was destroyed.
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(Store->Count("RCloseDoc(7,1)"), 1);
    EXPECT_EQ(Module->DeferredCount(), 0u);
    EXPECT_FALSE(Module->Busy);
}

TEST_F(CycleTest, HoldAndRenameOnlyJobsThatWaitToBeSent) {
    TDoc* job = AddJob(1, 1, 10, 100);
    job->Name = "Job1";
    job->AddToList(-1);
    ASSERT_NE(job->ListItem, nullptr);
    TListRow* row = job->ListItem;
    EXPECT_TRUE(Module->HoldJob(row));
    EXPECT_TRUE(job->Held);
    EXPECT_EQ(row->ImageIndex, 0);
    EXPECT_TRUE(Module->ReleaseJob(row));
    EXPECT_FALSE(job->Held);
    EXPECT_EQ(row->ImageIndex, 0);

    EXPECT_TRUE(Module->RenameJob(row, "New; \"name\""));
    EXPECT_EQ(job->Name, row->SubItems[siName]);
    EXPECT_EQ(job->Name.find(';'), std::string::npos);
    TParams dds(job->DDS);
    // The blanks made the name a quoted item.
    EXPECT_EQ(job->Name, "\"New   name \"");
    EXPECT_EQ(dds.GetItem("Name", 0), "New   name ");
    EXPECT_EQ(dds.GetItem("FileName", 0), "New   name ");

    job->State = 2;
    EXPECT_TRUE(Module->HoldJob(row));
    EXPECT_FALSE(job->Held);
    const std::string before = job->Name;
    EXPECT_TRUE(Module->RenameJob(row, "Other"));
    EXPECT_EQ(job->Name, before);

    TListRow stranger;
    EXPECT_FALSE(Module->HoldJob(&stranger));
    EXPECT_FALSE(Module->ReleaseJob(&stranger));
    EXPECT_FALSE(Module->RenameJob(&stranger, "x"));
    EXPECT_TRUE(Module->JobInProcess("10", "1"));
    EXPECT_FALSE(Module->JobInProcess("10", "2"));
}

} // namespace
} // namespace raduvuz::test
