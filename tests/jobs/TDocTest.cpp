#include "jobs/JobsTestSupport.h"

#include "common/Utils.h"
#include "jobs/TDoc.h"
#include "platform/TFileStream.h"

namespace raduvuz {
namespace {

TEST_F(JobsTest, SpoolingJobRowShowsUnknownNameZeroPriorityAndSizeWhenComplete) {
    Host.WorkMode = 1;
    TDoc* job = Host.Jobs.Add(
        TDoc::Create(Host, true, 88, 1507, "FileName=a.prn;Priority=high;File=RST;Page=2"));
    ReadBlocks.push_back(TBlockAnswer{true, Bytes(5000, 0x11), 1, 1});
    ASSERT_TRUE(job->InitReadDoc());

    EXPECT_EQ(job->Name, "Unknown");
    EXPECT_EQ(job->Priority(), 0);
    ASSERT_NE(job->ListItem, nullptr);
    EXPECT_EQ(job->ListItem->Caption, "1507");
    EXPECT_EQ(job->ListItem->ImageIndex, 2);
    EXPECT_EQ(job->ListItem->SubItems.at(siName), "Unknown");
    EXPECT_EQ(job->ListItem->SubItems.at(siSize), "Spooling");
    EXPECT_EQ(job->ListItem->SubItems.at(siType), "RST");
    EXPECT_TRUE(LogHas("File a.prn spooling"));
    EXPECT_EQ(Host.Status, 2);
    EXPECT_EQ(CallCount("ChangeStatus 2"), 1);

    bool done = false;
    ASSERT_TRUE(job->Execute(done));
    ASSERT_TRUE(done);
    TFileStream file;
    ASSERT_TRUE(file.Open(Dir + "/1507_88", TFileStream::TMode::ReadDenyWrite));
    EXPECT_EQ(job->SizeText, SizeText(file.Size()));
    EXPECT_EQ(job->ListItem->SubItems.at(siSize), job->SizeText);
    EXPECT_EQ(job->OutDocID, 88);
    EXPECT_EQ(CallCount("RCloseBlock"), 1);
    EXPECT_TRUE(LogHas("File a.prn spooled"));
    // The input stays open until the waiting copies are made: the job's release closes it.
    EXPECT_EQ(job->DocID, 88);
    EXPECT_EQ(CallCount("RCloseDoc"), 0);
    Host.FreeJob(*job);
    EXPECT_EQ(CallCount("RCloseDoc 88"), 1);
    // OutDocID names the spool file, not an output document.
    EXPECT_EQ(CallCount("WAbortDoc"), 0);
}

TEST_F(JobsTest, RowColumnsDestinationsAndOrder) {
    Host.TermNames = {{"Plate setter", 3}, {"Proofer", 5}};
    Host.TermKeys = {{"PS-KEY", 3}, {"PR-KEY", 5}};
    TDoc* first = Host.Jobs.Add(TDoc::Create(Host, true, 1, 10, "Name=One"));
    first->Name = "One";
    first->Devices = "3,7";
    first->AddToList(-1);
    EXPECT_EQ(first->ListItem->SubItems.at(siDestination), "Plate setter");
    EXPECT_EQ(first->ListItem->SubItems.at(siDev), "PS-KEY");
    EXPECT_EQ(first->ListItem->SubItems.at(siSize), "Loading");

    TDoc* second = Host.Jobs.Add(TDoc::Create(Host, true, 2, 11, "Name=Two"));
    second->SizeText = "2.00 Kb";
    second->AddToList(1);
    EXPECT_EQ(second->ListItem->SubItems.at(siSize), "Transfering");
    EXPECT_EQ(second->ListItem->SubItems.at(siDestination), "");
    // LastInTop: the newest row is first.
    EXPECT_EQ(Host.Rows.At(0)->Caption, "11");
    EXPECT_EQ(CallCount("ShowLabel 2"), 1);

    Host.LastInTop = false;
    TDoc* third = Host.Jobs.Add(TDoc::Create(Host, true, 3, 12, ""));
    third->SizeText = "2.00 Kb";
    third->AddToList(0);
    EXPECT_EQ(Host.Rows.At(2)->Caption, "12");
    EXPECT_EQ(third->ListItem->SubItems.at(siSize), "2.00 Kb");
}

TEST_F(JobsTest, FreeClosesInputThenAbortsOutputAndReportsIdleOnce) {
    Host.DeletePolicy = 0;
    Host.Status = 1;
    CreateAnswers = {42};
    TDoc* transfer = Host.Jobs.Add(TDoc::Create(Host, false, 11, 500, "Name=T;FileName=t.prn"));
    ASSERT_TRUE(transfer->InitReadDoc());
    EXPECT_EQ(transfer->OutDocID, 42);
    EXPECT_EQ(transfer->SpoolStream, nullptr);
    EXPECT_TRUE(LogHas("File t.prn transferring"));

    TDoc* waiting = Host.Jobs.Add(TDoc::Create(Host, true, 12, 501, "", TJobState::Waiting));
    waiting->AddToList(-1);
    TDoc* waiting2 = Host.Jobs.Add(TDoc::Create(Host, true, 13, 502, "", TJobState::Waiting));

    Calls.clear();
    Host.FreeJob(*transfer);
    ASSERT_GE(Calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(Calls.begin(), Calls.begin() + 4),
              (std::vector<std::string>{"RCloseDoc 11", "WAbortDoc 42", "ChangeStatus 1",
                                        "ShowLabel 1"}));
    EXPECT_EQ(Host.Jobs.size(), 2u);
    EXPECT_EQ(Host.Rows.Count(), 1);

    // A waiting job holds no store document, and the module is idle already.
    Calls.clear();
    Host.FreeJob(*waiting);
    EXPECT_EQ(CallCount("RCloseDoc"), 0);
    EXPECT_EQ(CallCount("WAbortDoc"), 0);
    EXPECT_EQ(CallCount("ChangeStatus"), 0);
    EXPECT_EQ(Host.Rows.Count(), 0);
    Host.FreeJob(*waiting2);
    EXPECT_EQ(CallCount("ChangeStatus"), 0);
    EXPECT_TRUE(Host.Jobs.empty());
}

TEST_F(JobsTest, FreeLogsAFailingStoreAndStillLeavesTheList) {
    CreateAnswers = {42};
    TDoc* job = Host.Jobs.Add(TDoc::Create(Host, false, 11, 600, "Name=F"));
    ASSERT_TRUE(job->InitReadDoc());
    // A store that has none of the calls fails every one of them.
    Host.Store = TStoreClient(std::make_shared<TInProcessObject>());
    Host.FreeJob(*job);
    // The exception's own message, the job and its spool file.
    EXPECT_TRUE(LogHas("Exception in TDoc.Free (No such method \"RCloseDoc\"; job 600_11, file " +
                       Host.JobDir + "/600_11)"));
    EXPECT_TRUE(Host.Jobs.empty());
    EXPECT_EQ(Host.Rows.Count(), 0);
}

} // namespace
} // namespace raduvuz
