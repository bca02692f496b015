#include "CycleTestSupport.h"

#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "services/TStoreClient.h"
#include "support/ModuleInside.h"

#include <gmock/gmock.h>

namespace raduvuz::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// A store that can leave: while Gone every call fails as a call to a name nobody owns does, and
// the binding says that the peer has gone. Calls are counted, the look at the name is not.
class TVanishingStore : public TInProcessObject {
public:
    bool Gone = false;
    int Calls = 0;

    TVanishingStore() {
        for (const char* method : {"RGetBlock", "WGetBlock", "RCloseDoc", "WAbortDoc"})
            Define(method, [](const std::vector<TVariant>&) {
                return TCallResult{std::string(), {int32_t(0), int32_t(0), int32_t(0)}};
            });
        Define("RNextFindDoc", [](const std::vector<TVariant>&) {
            return TCallResult{int32_t(-1), {}};
        });
    }
    using TInProcessObject::Call;
    TCallResult Call(const std::string& method, const std::vector<TVariant>& args,
                     const std::string& signature) override {
        ++Calls;
        if (Gone)
            throw TDispatchError(
                "org.freedesktop.DBus.Error.ServiceUnknown",
                "The name RozEza.MemoryMan was not provided by any .service files");
        return TInProcessObject::Call(method, args, signature);
    }
    bool PeerGone() override { return Gone; }
    bool PeerPresent() override { return !Gone; }
};

class StoreAndDiskTest : public TJobFolderTest {
protected:
    void SetUp() override {
        TJobFolderTest::SetUp();
        Process.StoreObject = TStoreClient(Store);
        Inside(*Module).Paused = false;
    }

    std::shared_ptr<TVanishingStore> Store = std::make_shared<TVanishingStore>();
};

// A spooling job that loses its input, and the store coming back, are the fault test's (a store
// killed for real); a copy being sent when the store goes is this one's.
TEST_F(StoreAndDiskTest, SendingJobsWaitAndNothingAsksAnAbsentStore) {
    // A copy being sent: its spool file open for reading, its output made.
    TDoc* sending = Inside(*Module).Jobs.Add(
        TDoc::Create(*Module, true, 50, 5, "Name=Sent;FileName=Sent", TJobState::Sending));
    sending->ReadFields();
    sending->SpoolStream = std::make_unique<TFileStream>();
    ASSERT_TRUE(
        sending->SpoolStream->Open(sending->SpoolFilePath(), TFileStream::TMode::CreateExclusive));
    ASSERT_TRUE(WriteSpoolHeader(*sending->SpoolStream, sending->DDS, {}, 45292.5));
    sending->OutDocID = 900;
    sending->AddToList(1);
    Inside(*Module).Status = 2;
    Store->Gone = true;

    Module->Tick();

    EXPECT_TRUE(Module->IsStoreAway());
    EXPECT_FALSE(Process.StoreObject.Present());
    ASSERT_EQ(Module->JobsInProcess().size(), 1u);
    EXPECT_EQ(Module->JobsInProcess().front(), sending);
    EXPECT_EQ(sending->State(), TJobState::Waiting);
    EXPECT_EQ(sending->Stage(), TJobStage::Waiting);
    EXPECT_EQ(sending->OutDocID, 0);
    EXPECT_EQ(sending->SpoolStream, nullptr);
    EXPECT_TRUE(FileExists(Module->GetJobDir() + "/5_50"));
    EXPECT_THAT(SystemLog->Find("Job 5_50 (Sent): the document store has gone while the job was "
                                "being sent; it is sent again from its spool file once a store is "
                                "back"),
                Not(IsEmpty()));
    EXPECT_EQ(SystemLog->SeverityOf("The document store has gone ("), TLogSeverity::Error);
    EXPECT_THAT(SystemLog->Find("Exception in"), IsEmpty());
    EXPECT_THAT(Server->Calls, Contains("ChangeStatus(7,false,1)"));

    // Away, a tick only looks whether the name has an owner again.
    const int calls = Store->Calls;
    Module->Tick();
    Module->TimerTimer();
    EXPECT_EQ(Store->Calls, calls);
}

TEST_F(StoreAndDiskTest, APauseForTheDiskEndsWithRoomAndAnOperatorsPauseDoesNot) {
    // Too little room: the store is not even asked for a document.
    FreeKb = 102399;
    EXPECT_FALSE(Module->Intake());
    EXPECT_EQ(Store->Calls, 0);
    EXPECT_TRUE(Inside(*Module).IntakeExhausted);
    EXPECT_TRUE(Module->IsPaused());
    EXPECT_TRUE(Module->IsPausedForDisk());
    EXPECT_THAT(Server->Calls, Contains(StartsWith("ChangeStatus(7,true,")));
    EXPECT_TRUE(LogHas("Not enough free disk space at "));
    EXPECT_THAT(SystemLog->Find("The module starts again by itself once " +
                                Inside(*Module).StoreDir + " has 100 MB free (now 99 MB)"),
                Not(IsEmpty()));
    Module->TimerTimer();
    EXPECT_TRUE(Module->IsPaused()) << "still no room";

    FreeKb = 102400;
    Module->TimerTimer();
    EXPECT_FALSE(Module->IsPaused());
    EXPECT_THAT(SystemLog->Find("There is room on the disk again (100 MB free in "),
                Not(IsEmpty()));

    // The operator's pause wins over the disk's, and room does not end it.
    FreeKb = 0;
    EXPECT_FALSE(Module->Intake());
    Module->Pause();
    EXPECT_FALSE(Module->IsPausedForDisk());
    FreeKb = 10000000;
    Module->TimerTimer();
    EXPECT_TRUE(Module->IsPaused());

    // A job that meets a quota or a file-size limit while the disk has room waits alone.
    Module->Resume();
    Module->LowDiskSpace();
    EXPECT_FALSE(Module->IsPaused());
}

TEST_F(StoreAndDiskTest, AKeptSpoolFileInANewJobsWayIsMovedAsideAndKillTakesItAlong) {
    const std::string kept = Module->GetJobDir() + "/1_1";
    const auto writeKept = [&](const std::string& name) {
        TFileStream file;
        ASSERT_TRUE(file.Open(kept, TFileStream::TMode::CreateExclusive));
        ASSERT_TRUE(WriteSpoolHeader(file, "Name=" + name, {}, 45292.5));
    };
    writeKept("Old");
    TListRow row;
    row.Caption = "1";
    row.SubItems = {"1", "Old"};
    Module->Rows().Passed().Add(row);

    std::unique_ptr<TDoc> job = TDoc::Create(*Module, true, 1, 1, "Name=New");
    ASSERT_TRUE(job->InitReadDoc());
    const std::string aside = Module->GetJobDir() + "/damaged/1_1.kept";
    EXPECT_THAT(SystemLog->Find("Job 1_1 (New): the spool file " + kept +
                                " of the kept job 1_1 (Old) is in the way (the store numbered a "
                                "document again); the kept file was moved to " +
                                aside),
                Not(IsEmpty()));
    EXPECT_THAT(ReadTextFile(aside), HasSubstr("Name=Old"));
    EXPECT_EQ(Module->Rows().Passed().Count(), 0);
    TDoc* inProcess = Inside(*Module).Jobs.Add(std::move(job));
    inProcess->SpoolStream.reset();
    EXPECT_THAT(ReadTextFile(kept), HasSubstr("Name=New"));

    // The name taken again: the next one goes beside; one a job in process uses stays put.
    std::unique_ptr<TDoc> again = TDoc::Create(*Module, true, 1, 1, "Name=Again");
    EXPECT_FALSE(again->InitReadDoc());
    again->Free(false);
    EXPECT_THAT(SystemLog->Find("Exception in InitReadDoc (the spool file " + kept +
                                " belongs to job 1_1 (New), which is in process; job 1_1 (Again) "
                                "cannot be spooled under the same name"),
                Not(IsEmpty()));
    EXPECT_THAT(ReadTextFile(kept), HasSubstr("Name=New"));
    Module->FreeJob(*inProcess);
    std::unique_ptr<TDoc> third = TDoc::Create(*Module, true, 1, 1, "Name=Third");
    ASSERT_TRUE(third->InitReadDoc());
    third->Free(false);
    EXPECT_THAT(ReadTextFile(aside + ".2"), HasSubstr("Name=New"));

    Module->Kill();
    EXPECT_FALSE(DirectoryExists(Module->GetJobDir()));
}

} // namespace
} // namespace raduvuz::test
