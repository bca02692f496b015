#include "jobs/JobsTestSupport.h"

#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "jobs/WaitList.h"

#include <algorithm>

namespace raduvuz {
namespace {

TEST_F(JobsTest, CopiesTimesHeldAndFreeDeviceGroups) {
    Host.Copies = 3;
    Host.HoldList = {{"K7", 7}};
    TDoc* job = SpoolJob(200, 201, "Name=C;Device=3,7", {Bytes(10, 1)});
    job->SetDests("12");
    job->Devices = "3,7";
    ASSERT_TRUE(SpoolToWait(*job));
    Host.FreeJob(*job);

    const std::vector<TDoc*> waiting = WaitingJobs();
    ASSERT_EQ(waiting.size(), 6u);
    EXPECT_EQ(Host.Rows.Count(), 6);
    int held = 0;
    for (TDoc* w : waiting) {
        EXPECT_EQ(w->DocID, 201);
        EXPECT_EQ(w->Dests(), "12");
        if (w->Held()) {
            ++held;
            EXPECT_EQ(w->Devices, "7");
            EXPECT_EQ(w->ListItem->ImageIndex, 0);
            EXPECT_NE(w->DDS.find("Device=7"), std::string::npos);
        } else {
            EXPECT_EQ(w->Devices, "3");
            EXPECT_EQ(w->ListItem->ImageIndex, -1);
        }
    }
    EXPECT_EQ(held, 3);
}

TEST_F(JobsTest, DestinationSplitStopsAtTheFirstDestinationWithoutDevices) {
    Host.FlowEntries = {{"Device=5", 4}, {"Device=3", 9}};
    TDoc* job = SpoolJob(210, 211, "Name=D", {Bytes(10, 1)});
    job->Devices = "3";
    job->SetDests("4,9");
    EXPECT_FALSE(SpoolToWait(*job));
    EXPECT_TRUE(WaitingJobs().empty());

    job->SetDests("9,4");
    EXPECT_TRUE(SpoolToWait(*job));
    ASSERT_EQ(WaitingJobs().size(), 1u);
    EXPECT_EQ(WaitingJobs()[0]->Dests(), "9");
    EXPECT_EQ(WaitingJobs()[0]->Devices, "3");

    // With multiplex every destination stays in one waiting job.
    Host.Multiplex = true;
    job->SetDests("4,9");
    EXPECT_TRUE(SpoolToWait(*job));
    ASSERT_EQ(WaitingJobs().size(), 2u);
    EXPECT_EQ(WaitingJobs()[1]->Dests(), "4,9");
}

TEST_F(JobsTest, LoadSavedDocSendsAtOnceOrEndsWithoutProgress) {
    Host.FreeJob(*SpoolJob(230, 231, "Name=L", {Bytes(10, 1)}));
    TSavedDoc record;
    record.DocID = 231;
    record.JobID = 230;
    record.OutDocID = 900;
    record.DDS = "Name=Unknown";
    record.Name = "Unknown";
    record.FileName = "l.prn";
    record.Devices = "3";
    record.SaveCount = 1;

    // Destination 0 neither fails nor progresses.
    EXPECT_EQ(LoadSavedDoc(Host, record, 0), -1);
    EXPECT_TRUE(Host.Jobs.empty());
    EXPECT_EQ(Host.Rows.Count(), 0);

    // A reloaded job skips the readiness check.
    const int32_t out = LoadSavedDoc(Host, record, 12);
    EXPECT_GT(out, 0);
    ASSERT_EQ(Host.Jobs.size(), 1u);
    EXPECT_EQ(Host.Jobs[0]->ListItem->SubItems.at(siName), "* Unknown");
    EXPECT_TRUE(LogHas("Load document l.prn"));
    bool done = false;
    ASSERT_TRUE(Host.Jobs[0]->Execute(done));
    EXPECT_TRUE(done);
    EXPECT_EQ(Host.Rows.Count(), 0);
}

} // namespace
} // namespace raduvuz
