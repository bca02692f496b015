#include "CycleTestSupport.h"

#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TWaitJournal.h"
#include "jobs/WaitList.h"
#include "platform/SharedBlock.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "support/ModuleInside.h"

#include <algorithm>
#include <fstream>

namespace raduvuz::test {
namespace {

class RecoveryTest : public TJobFolderTest {
protected:
    void SetUp() override {
        TJobFolderTest::SetUp();
        Inside(*Module).FlowEntries = Flows;
    }
    const TTaggedList Flows = {{"Device=3", 21}, {"Device=4", 22}};

    // The waiting copies the end of a job's spool makes, as the cycle makes them.
    void Spooled(int32_t jobID, int32_t docID, const std::string& dds, int32_t copies) {
        const std::unique_ptr<TDoc> job = TDoc::Create(*Module, true, docID, jobID, dds);
        job->ReadFields();
        std::string devices;
        std::string dests;
        TParams(dds).SelectEntries(Module->GetFlowEntries(), devices, dests);
        job->Devices = devices;
        job->SetDests(dests);
        job->OutDocID = docID;
        job->Copies = copies;
        ASSERT_TRUE(SpoolToWait(*job));
    }

    // The module as a new process makes it after the old one ended.
    void StartAgain() {
        Module.reset();
        Module = std::make_unique<TModuleControl>(Process, Window, &Window);
        // What the server and Init give a module that starts.
        Inside(*Module).ModuleNumber = 7;
        Inside(*Module).StoreDir = Root + "/store";
        Inside(*Module).FlowEntries = Flows;
        Prepare(*Module);
        Module->ReloadSavedJobs();
    }

    std::vector<TWaitRecord> JournalRecords() const {
        return ReadWaitJournal(ReadTextFile(Module->GetJobDir() + "/waiting.journal")).Records;
    }

    // The store gives every document as one block of 100 bytes, from a shared block the caller
    // unlinks.
    std::string OneBlockStore(const std::string& prefix) {
        const std::string block = prefix + std::to_string(::getpid());
        const std::vector<uint8_t> data(100, 7);
        TSharedBlock shared;
        EXPECT_TRUE(TSharedBlock::Create(block, 100) && shared.Open(block, 100) &&
                    shared.CopyIn(0, data.data(), 100));
        Store->Define("RGetBlock", [block](const std::vector<TVariant>&) {
            return TCallResult{block, {int32_t(100), int32_t(1), int32_t(1)}};
        });
        Store->Define("RCloseBlock", [](const std::vector<TVariant>&) { return TCallResult{}; });
        return block;
    }
};

TEST_F(RecoveryTest, AStartAfterACrashMakesTheWaitingCopiesAgainAndSetsDamagedFilesAside) {
    WriteJob("5_50", "Name=Two;Device=3");
    WriteJob("6_60", "Name=HeldBefore;Device=4");
    WriteJob("7_70", "Name=Cut;Device=3", false);
    WriteJob("8_80", "Page=1;Color=Cyan;File=a.tif;Size=2048;Device=3,4");
    for (const char* other : {"7_x", "nounderscore", "0_70"})
        WriteJob(other, "Name=NoJob");
    Spooled(5, 50, "Name=Two;Device=3", 2);
    Spooled(7, 70, "Name=Cut;Device=3", 1);
    ASSERT_EQ(Module->JobsInProcess().size(), 3u);
    // The operator held one copy; the hold file is the one of an older Close.
    ASSERT_TRUE(Module->HoldJob(Module->JobsInProcess()[1]->ListItem));
    WriteTextFile(Module->HoldFilePath(), "5_50\n6_60\n9_90\n");

    StartAgain();
    EXPECT_FALSE(FileExists(Module->HoldFilePath()));
    EXPECT_EQ(InProcess(),
              (std::vector<std::string>{"5_50 held to 21 devices 3", "5_50 to 21 devices 3",
                                        "6_60 held to 22 devices 4"}));
    EXPECT_TRUE(LogHas("Job 5_50 waited to be sent when the module ended: 2 copies wait again "
                       "(to 21, 1 held)"));
    // The file cut short is neither sent nor listed (what the log says of it is the crash
    // test's, whose kill cuts one short for real).
    EXPECT_EQ(Rows(), "8");
    // A passed job's columns come from its header; files of other names are no jobs.
    const TListRow& passed = *Module->Rows().Passed().At(0);
    ASSERT_EQ(passed.SubItems.size(), static_cast<size_t>(siCount));
    EXPECT_EQ(passed.SubItems[siDocID] + "|" + passed.SubItems[siName] + "|" +
                  passed.SubItems[siType] + "|" + passed.SubItems[siDestination] + "|" +
                  passed.SubItems[siDev],
              "80|Unknown|A.TIF|Proofer, Plate|KP, KL");
    EXPECT_EQ(passed.ImageIndex, -1);
    EXPECT_FALSE(FileExists(Module->GetJobDir() + "/7_70"));
    EXPECT_TRUE(FileExists(Module->GetJobDir() + "/damaged/7_70"));
    // The journal is written anew with what waits now, the held job of the hold file too.
    EXPECT_EQ(JournalRecords().size(), 3u);

    // Another damaged file of the same name goes beside the first.
    WriteJob("7_70", "Name=Cut;Device=3", false);
    StartAgain();
    EXPECT_TRUE(FileExists(Module->GetJobDir() + "/damaged/7_70.2"));
    EXPECT_EQ(InProcess().size(), 3u);
}

TEST_F(RecoveryTest, ACopySentLeavesTheJournalAndCloseKeepsTheOthers) {
    WriteJob("5_50", "Name=Two;Device=3");
    Spooled(5, 50, "Name=Two;Device=3", 3);
    ASSERT_EQ(JournalRecords().size(), 3u);
    // One sent, one aborted by the operator; Close lets go of the last one.
    Module->FreeJob(*Module->JobsInProcess()[0]);
    Module->JobsInProcess()[0]->SetAbortRequested(true);
    Module->SelectJob();
    EXPECT_EQ(JournalRecords().size(), 1u);
    Module->Close();
    EXPECT_TRUE(Module->JobsInProcess().empty());
    EXPECT_EQ(JournalRecords().size(), 1u);
    StartAgain();
    EXPECT_EQ(InProcess(), std::vector<std::string>{"5_50 to 21 devices 3"});
    EXPECT_EQ(Rows(), "");
}

TEST_F(RecoveryTest, ACloseLetInByTheDiskWritesThatEndASpoolLeavesTheJobOneWayToBeSent) {
    // The last block's flush with the folder's, and the journal's append, wait aside; a Close
    // comes in at one of them, before the write is over.
    const std::string block = OneBlockStore("/rdvz_recovery_");
    for (int closeAt = 1; closeAt <= 2; ++closeAt) {
        SCOPED_TRACE(closeAt);
        StartAgain();
        Store->Calls.clear();
        Inside(*Module).Paused = false;
        const int32_t doc = 90 + closeAt;
        const std::string key = "9_" + std::to_string(doc);
        TDoc* job = Inside(*Module).Jobs.Add(
            TDoc::Create(*Module, true, doc, 9, "Name=Big;FileName=big.rst;Device=3"));
        ASSERT_TRUE(job->InitReadDoc());
        int waits = 0;
        Window.OnWaitAside = [&] {
            if (++waits == closeAt)
                Module->Close();
        };
        Module->Tick();
        Window.OnWaitAside = nullptr;
        ASSERT_GE(waits, closeAt);
        const int closed = Store->Count("RCloseDoc(7," + std::to_string(doc) + ")");
        if (closeAt < 2) {
            // Not spooled yet: the store takes the document back when the process leaves the
            // bus, not closed by us, and the part spooled is set aside.
            EXPECT_EQ(closed, 0);
            EXPECT_FALSE(FileExists(Module->GetJobDir() + "/" + key));
            EXPECT_TRUE(LogHas("File big.rst (job " + key +
                               ") was being spooled when the module closed: the store offers the "
                               "document again once the module has left the bus; the part "
                               "spooled is kept as " +
                               Module->GetJobDir() + "/damaged/" + key));
            EXPECT_TRUE(FileExists(Module->GetJobDir() + "/damaged/" + key));
            EXPECT_FALSE(LogHas("File big.rst spooled"));
            continue;
        }
        // Its copy reached the journal: the document is closed, the copy goes at the next start.
        EXPECT_EQ(closed, 1);
        EXPECT_TRUE(LogHas("File big.rst (job " + key +
                           ") was spooled when the module closed, its copies on their way"));
        StartAgain();
        EXPECT_EQ(InProcess(), std::vector<std::string>{key + " to 21 devices 3"});
    }
    TSharedBlock::Unlink(block);
}

TEST_F(RecoveryTest, ASpoolWhoseCopiesTheJournalCouldNotTakeKeepsItsInputUntilTheyAreOnTheDisk) {
    const std::string block = OneBlockStore("/rdvz_journal_");
    StartAgain();
    Store->Calls.clear();
    Inside(*Module).Paused = false;
    // The journal cannot be written: a folder stands where its file goes.
    const std::string journal = Module->GetJobDir() + "/waiting.journal";
    ASSERT_TRUE(ForceDirectories(journal));
    TDoc* job = Inside(*Module).Jobs.Add(
        TDoc::Create(*Module, true, 95, 9, "Name=Big;FileName=big.rst;Device=3"));
    ASSERT_TRUE(job->InitReadDoc());
    Module->Tick();
    EXPECT_TRUE(FileExists(Module->GetJobDir() + "/9_95"));
    EXPECT_EQ(Store->Count("RCloseDoc(7,95)"), 0);
    EXPECT_TRUE(LogHas("File big.rst (job 9_95) is spooled, but its copies are not in the journal "
                       "of waiting jobs on the disk: the store keeps its document until they are"));
    // Room again: the next tick writes the journal whole, then closes the document.
    ::rmdir(journal.c_str());
    Module->Tick();
    EXPECT_EQ(Store->Count("RCloseDoc(7,95)"), 1);
    EXPECT_EQ(JournalRecords().size(), 1u);
    // A crash now loses nothing: the copy comes back at the next start.
    StartAgain();
    EXPECT_EQ(InProcess(), std::vector<std::string>{"9_95 to 21 devices 3"});
    TSharedBlock::Unlink(block);
}

TEST_F(RecoveryTest, ADocumentOfferedAgainWhoseCopiesWaitIsClosedNotSpooledTwice) {
    WriteJob("5_50", "Name=Again;Device=3");
    Spooled(5, 50, "Name=Again;Device=3", 1);
    StartAgain();
    ASSERT_EQ(Module->JobsInProcess().size(), 1u);
    Store->NextDocs = {50};
    Store->DDS[50] = Store->DDS[51] = "Name=Again;FileName=again.rst";
    Store->OpenedJobID = 5;
    Inside(*Module).WorkMode = 1;
    EXPECT_TRUE(Module->Intake());
    EXPECT_EQ(Module->JobsInProcess().size(), 1u);
    EXPECT_EQ(Store->Count("RCloseDoc(7,50)"), 1);
    EXPECT_TRUE(LogHas("File again.rst (job 5_50) was spooled before the module ended and its "
                       "copies wait to be sent: the store's document, offered again, is closed"));
    EXPECT_TRUE(FileExists(Module->GetJobDir() + "/5_50"));
    // Any other document is taken in as always.
    Store->NextDocs = {51};
    EXPECT_TRUE(Module->Intake());
    EXPECT_EQ(Module->JobsInProcess().size(), 2u);
}

} // namespace
} // namespace raduvuz::test
