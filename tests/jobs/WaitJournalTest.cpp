#include "JobsTestSupport.h"

#include "common/Utils.h"
#include "jobs/TDoc.h"
#include "jobs/TWaitJournal.h"
#include "jobs/WaitList.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace raduvuz {
namespace {

std::string Journal(const std::vector<std::string>& lines) {
    std::string text = std::string(kWaitJournalFirstLine) + "\n";
    for (const std::string& line : lines)
        text += line;
    return text;
}

TEST(WaitJournalTextTest, PutsAndDelsReplayToTheLiveRecordsInTheOrderTheyCame) {
    const TWaitRecord a{1, 7, 39, "12", "PRN_A", false, 5, "Poster one"};
    TWaitRecord b{2, 7, 39, "12", "PRN_A", true, 5, "Poster one"};
    // Blanks, "=", "%" and line ends in a name survive the line.
    const TWaitRecord c{3, 8, 40, "15,16", "#9,K 2", false, 10, "a%b=c\nd e"};
    TWaitRecord changed = b;
    changed.Held = false;
    changed.Priority = 3;
    const TWaitJournalContents contents = ReadWaitJournal(Journal(
        {WaitPutLine(a), WaitPutLine(b), WaitPutLine(c), WaitDelLine(1), WaitPutLine(changed)}));
    EXPECT_EQ(contents.Records, (std::vector<TWaitRecord>{changed, c}));
    EXPECT_EQ(contents.LastId, 3u);
    EXPECT_TRUE(contents.DamagedLines.empty());
    EXPECT_FALSE(contents.CutShort);
    EXPECT_EQ(WaitPutLine(c), "put id=3 job=8 doc=40 held=0 priority=10 dests=15,16 "
                              "devices=#9,K%202 name=a%25b%3Dc%0Ad%20e\n");
}

TEST(WaitJournalTextTest, ALineCutShortOrDamagedIsPassedOver) {
    const TWaitRecord a{1, 7, 39, "12", "K", false, 5, "A"};
    const std::string text =
        Journal({WaitPutLine(a), "put id=x job=7 doc=39\n", "put id=2 job=0 doc=39\n",
                 "put id=3 job=7 doc=39 held=2\n", "put id=4 job=7 doc=%4\n", "send id=5\n",
                 "put id=6 job=9 doc=90 later=yes\n", "del id=1"});
    const TWaitJournalContents contents = ReadWaitJournal(text);
    // The del without its line end never took effect; a key of a later version is no damage.
    ASSERT_EQ(contents.Records.size(), 2u);
    EXPECT_EQ(contents.Records[0], a);
    EXPECT_EQ(contents.Records[1].JobID, 9);
    EXPECT_TRUE(contents.CutShort);
    EXPECT_EQ(contents.DamagedLines, (std::vector<size_t>{3, 4, 5, 6, 7}));
    EXPECT_EQ(contents.LastId, 6u);
    EXPECT_TRUE(ReadWaitJournal("").Records.empty());
}

class WaitJournalTest : public JobsTest {
protected:
    void SetUp() override {
        JobsTest::SetUp();
        Host.JobDir = Dir;
        Host.TermKeys = {{"PRN_A", 3}, {"PRN_B", 4}};
        Host.FlowEntries = {{"Device=3", 12}, {"Device=9", 12}};
        Host.Copies = 2;
        Host.Journal = &Log;
    }
    std::string FileText() const { return test::ReadTextFile(Log.Path()); }

    TWaitJournal Log{Host};
};

TEST_F(WaitJournalTest, EveryCopyOfASpooledJobIsOnTheDiskAndComesBackAsItWas) {
    TDoc* job = SpoolJob(7, 39, "Name=Poster;Device=3,9", {Bytes(100, 1)});
    ASSERT_TRUE(SpoolToWait(*job));
    const std::vector<TDoc*> waiting = WaitingJobs();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(Log.LiveCount(), 2u);
    EXPECT_TRUE(Log.HasSpoolFile(7, 39));
    EXPECT_FALSE(Log.HasSpoolFile(7, 40));
    // The operator's changes while it waits.
    waiting[1]->SetHeld(true);
    waiting[1]->SetPriority(2);
    waiting[1]->Name = "Renamed";
    Log.Update(*waiting[1]);

    const TWaitJournalContents contents = ReadWaitJournal(FileText());
    ASSERT_EQ(contents.Records.size(), 2u);
    EXPECT_EQ(contents.Records[0].Devices, "PRN_A,#9");
    EXPECT_EQ(contents.Records[0].Dests, "12");
    EXPECT_FALSE(contents.Records[0].Held);
    EXPECT_TRUE(contents.Records[1].Held);
    EXPECT_EQ(contents.Records[1].Priority, 2);

    // A module started again makes the same copies from the spool file.
    TFakeJobHost again;
    again.JobDir = Dir;
    again.TermKeys = {{"PRN_B", 4}, {"PRN_A", 5}};
    again.Server = Host.Server;
    TWaitJournal journal(again);
    again.Journal = &journal;
    const std::vector<TWaitRecord> records = journal.BeginReload();
    ASSERT_EQ(records.size(), 2u);
    for (const TWaitRecord& record : records)
        ASSERT_TRUE(RemakeWaitDoc(again, record));
    journal.EndReload();
    ASSERT_EQ(again.Jobs.size(), 2u);
    const TDoc& first = *again.Jobs[0];
    const TDoc& second = *again.Jobs[1];
    EXPECT_EQ(first.State(), TJobState::Waiting);
    EXPECT_EQ(first.JobID, 7);
    EXPECT_EQ(first.DocID, 39);
    // The terminator kept its key but not its number.
    EXPECT_EQ(first.Devices, "5,9");
    EXPECT_EQ(first.Dests(), "12");
    EXPECT_FALSE(first.Held());
    EXPECT_EQ(first.Name, "Poster");
    EXPECT_EQ(first.SizeText,
              SizeText(static_cast<int64_t>(std::filesystem::file_size(Dir + "/7_39"))));
    EXPECT_TRUE(second.Held());
    EXPECT_EQ(second.Priority(), 2);
    EXPECT_EQ(second.Name, "Renamed");
    EXPECT_NE(second.DDS.find("Name=Renamed"), std::string::npos) << second.DDS;
    // Written anew: the first line and one line per copy.
    const std::string anew = test::ReadTextFile(journal.Path());
    EXPECT_EQ(std::count(anew.begin(), anew.end(), '\n'), 3) << anew;
}

TEST_F(WaitJournalTest, TheFileStaysSmallAndAFailedWriteIsMadeGoodByTheNextChange) {
    std::vector<std::unique_ptr<TDoc>> jobs;
    for (int i = 1; i <= 300; ++i) {
        jobs.push_back(TDoc::Create(Host, true, i, 1, "Name=J"));
        jobs.back()->SetDests("12");
        Log.Add(*jobs.back());
        if (i > 1)
            Log.Remove(*jobs[static_cast<size_t>(i - 2)]);
    }
    // Six hundred changes, one live copy: the dead lines went with a rewrite.
    const std::string text = FileText();
    EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 2 * 1 + 64 + 1) << text;
    ASSERT_EQ(ReadWaitJournal(FileText()).Records.size(), 1u);
    EXPECT_EQ(ReadWaitJournal(FileText()).Records[0].DocID, 300);

    // The folder goes away under the journal: one failure line names the job.
    std::filesystem::remove_all(Dir);
    Log.Add(*jobs[0]);
    Log.Add(*jobs[1]);
    EXPECT_TRUE(LogHas("failure: Cannot write the journal of waiting jobs ("));
    EXPECT_TRUE(LogHas("; jobs 1_1): after a crash now they would not be sent again as they are"));
    EXPECT_EQ(std::count_if(Host.LogLines.begin(), Host.LogLines.end(),
                            [](const std::string& line) {
                                return line.find("Cannot write the journal") != std::string::npos;
                            }),
              1);
    // Back again, the next change writes every live copy.
    std::filesystem::create_directories(Dir);
    Log.Remove(*jobs[1]);
    EXPECT_TRUE(LogHas("The journal of waiting jobs is whole again (2 waiting copies"));
    const TWaitJournalContents contents = ReadWaitJournal(FileText());
    ASSERT_EQ(contents.Records.size(), 2u);
    EXPECT_EQ(contents.Records[0].DocID, 300);
    EXPECT_EQ(contents.Records[1].DocID, 1);
}

} // namespace
} // namespace raduvuz
