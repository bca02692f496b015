#include "jobs/JobsTestSupport.h"

#include "jobs/TDoc.h"
#include "jobs/TMPrec.h"
#include "jobs/WaitList.h"

#include <fstream>

namespace raduvuz {
namespace {

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>((i / 7) * 31 + seed);
    return data;
}

// A waiting job for the spool file JobID_DocID, as SpoolToWait makes it.
TDoc* Waiting(TFakeJobHost& host, int32_t jobID, int32_t docID, const std::string& dests,
              const std::string& name = "W", const std::string& color = "") {
    TDoc* job =
        host.Jobs.Add(TDoc::Create(host, true, docID, jobID, "Name=" + name, TJobState::Waiting));
    job->Name = name;
    job->FileName = name + ".prn";
    job->Color = color;
    job->SetDests(dests);
    job->Devices = "3";
    job->AddToList(-1);
    return job;
}

TEST_F(JobsTest, ReadingStepsWaitOnHandleZeroAndFailOnAHandleWithoutBlock) {
    TDoc* job = Host.Jobs.Add(TDoc::Create(Host, true, 40, 41, "Name=R"));
    ASSERT_TRUE(job->InitReadDoc());
    bool done = false;
    ReadBlocks.push_back(TBlockAnswer{false, {}, 0, 0});
    EXPECT_TRUE(job->Execute(done));
    EXPECT_TRUE(job->Waiting());
    EXPECT_FALSE(done);
    EXPECT_EQ(CallCount("RCloseBlock"), 0);

    ReadBlocks.push_back(TBlockAnswer{false, {}, 5, 0});
    EXPECT_FALSE(job->Execute(done));
    EXPECT_FALSE(job->Waiting());
}

TEST_F(JobsTest, TransferCreatesOutputAfterRetriesSwitchesBlocksAndKeepsACopy) {
    CreateAnswers = {0, 0, 77};
    TDoc* job = Host.Jobs.Add(TDoc::Create(Host, false, 50, 51, "Name=T;FileName=t.prn"));
    ASSERT_TRUE(job->InitReadDoc());
    EXPECT_EQ(job->OutDocID, 77);
    EXPECT_EQ(CallCount("WCreateDoc"), 3);
    // Each retry lets the window handle its events.
    EXPECT_GE(Host.Waits, 2);
    EXPECT_EQ(job->ListItem->ImageIndex, 1);

    ReadBlocks.push_back(TBlockAnswer{true, Pattern(1000, 1), 1, 0});
    ReadBlocks.push_back(TBlockAnswer{true, Pattern(300, 2), 2, 1});
    bool done = false;
    ASSERT_TRUE(job->Execute(done));
    EXPECT_FALSE(done);
    ASSERT_TRUE(job->Execute(done));
    EXPECT_TRUE(done);
    EXPECT_EQ(CallCount("RWSwitchBlock 50"), 2);
    EXPECT_EQ(CallCount("WCloseBlock"), 2);
    EXPECT_EQ(CallCount("RCloseDoc 50"), 1);
    EXPECT_EQ(CallCount("WCloseDoc 77"), 1);
    EXPECT_EQ(job->DocID, 0);
    EXPECT_EQ(job->OutDocID, 0);
    EXPECT_NE(job->ListItem->SubItems.at(siSize), "Transfering");
    EXPECT_TRUE(LogHas("File t.prn transferred"));
    EXPECT_TRUE(std::ifstream(Dir + "/51_50").good());

    // A block's close is not waited for: when it failed, the job's next step fails before the
    // documents are closed, as the close itself would have failed.
    TDoc* cut = Host.Jobs.Add(TDoc::Create(Host, false, 52, 53, "Name=C;FileName=c.prn"));
    ASSERT_TRUE(cut->InitReadDoc());
    FailingBlockCloses = 1;
    ReadBlocks.push_back(TBlockAnswer{true, Pattern(1000, 1), 1, 0});
    ReadBlocks.push_back(TBlockAnswer{true, Pattern(300, 2), 2, 1});
    done = false;
    EXPECT_TRUE(cut->Execute(done));
    EXPECT_FALSE(cut->Execute(done));
    EXPECT_FALSE(done);
    EXPECT_EQ(CallCount("RCloseDoc 52"), 0);
    EXPECT_TRUE(LogHas("the output document has gone"));

    // An output the store refuses for good ends the start without a log line or a row.
    CreateAnswers = {0, -1};
    std::unique_ptr<TDoc> refused = TDoc::Create(Host, false, 60, 61, "Name=T;FileName=t.prn");
    const size_t lines = Host.LogLines.size();
    EXPECT_FALSE(refused->InitReadDoc());
    EXPECT_EQ(Host.LogLines.size(), lines);
    EXPECT_EQ(refused->ListItem, nullptr);
    refused->Free();
}

TEST_F(JobsTest, SendingRetriesTheSameBlockAndSendsTheSpoolFile) {
    const Bytes a = Pattern(70000, 3);
    const Bytes b = Bytes(100000, 0x42);
    TDoc* spooled = SpoolJob(70, 71, "Name=S;FileName=s.prn", {a, b});
    Host.FreeJob(*spooled);

    Ready[12] = true;
    TDoc* job = Waiting(Host, 70, 71, "12");
    CreateAnswers = {0};
    EXPECT_TRUE(job->CheckWaitingDoc());
    EXPECT_TRUE(job->Waiting());
    EXPECT_EQ(job->RetryCount, 1);
    EXPECT_TRUE(LogHas("Error load file W [wcreate doc]"));
    EXPECT_TRUE(job->CheckWaitingDoc());
    EXPECT_EQ(job->State(), TJobState::Sending);
    EXPECT_EQ(job->ListItem->ImageIndex, 1);
    const int32_t out = job->OutDocID;
    EXPECT_GT(out, 0);

    // The store has no memory yet: the size is read again and the same block goes next time.
    WriteBlocks.push_back(TBlockAnswer{false, {}, 0, 0});
    bool done = false;
    ASSERT_TRUE(job->Execute(done));
    EXPECT_TRUE(job->Waiting());
    ASSERT_TRUE(job->Execute(done));
    ASSERT_TRUE(job->Execute(done));
    EXPECT_TRUE(done);
    ASSERT_EQ(Sent.size(), 2u);
    EXPECT_EQ(Sent[0], a);
    EXPECT_EQ(Sent[1], b);
    EXPECT_EQ(CallCount("WGetBlock 70000"), 2);
    EXPECT_EQ(CallCount("WCloseDoc " + std::to_string(out)), 1);
    EXPECT_TRUE(LogHas("File W.prn sent"));
}

// A call of the check that fails or gets no answer leaves the copy waiting, logged once, and a
// later check that gets through sends it.
TEST_F(JobsTest, AFailedServerOrStoreCallLeavesTheWaitingCopyWaiting) {
    const auto failing = [](const std::string& method, bool storeOk) {
        auto object = std::make_shared<TInProcessObject>();
        object->Define(method, [](const std::vector<TVariant>&) -> TCallResult {
            throw TDispatchError("org.freedesktop.DBus.Error.NoReply", "No reply");
        });
        if (storeOk)
            object->Define("IsDocForExists", [](const std::vector<TVariant>&) {
                return TCallResult{false, {}};
            });
        return object;
    };
    const struct {
        const char* Method;
        bool OfStore;
    } cases[] = {{"GetValue", false}, {"IsDocForExists", true}, {"WCreateDoc", true}};
    int32_t id = 90;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Method);
        Host.FreeJob(*SpoolJob(id, id + 1, "Name=S", {Bytes(10, 1)}));
        Ready[12] = true;
        TDoc* job = Waiting(Host, id, id + 1, "12");
        const TServerClient server = Host.Server;
        const TStoreClient store = Host.Store;
        if (c.OfStore)
            Host.Store = TStoreClient(failing(c.Method, std::string(c.Method) != "IsDocForExists"));
        else
            Host.Server = TServerClient(failing(c.Method, false));
        const size_t lines = Host.LogLines.size();
        for (int check = 0; check < 2; ++check) {
            EXPECT_TRUE(job->CheckWaitingDoc());
            EXPECT_TRUE(job->Waiting());
            EXPECT_EQ(job->State(), TJobState::Waiting);
        }
        EXPECT_EQ(job->RetryCount, 0);
        ASSERT_EQ(Host.LogLines.size(), lines + 1);
        EXPECT_NE(Host.LogLines.back().find(
                      "a call to the workflow server or the document store failed while the job "
                      "waits to be sent (org.freedesktop.DBus.Error.NoReply: No reply); the job "
                      "keeps waiting and is tried again"),
                  std::string::npos)
            << Host.LogLines.back();
        Host.Server = server;
        Host.Store = store;
        EXPECT_TRUE(job->CheckWaitingDoc());
        EXPECT_EQ(job->State(), TJobState::Sending);
        Host.FreeJob(*job);
        id += 2;
    }
}

TEST_F(JobsTest, SendingFailsWhenTheStoreRefusesMemory) {
    Host.FreeJob(*SpoolJob(80, 81, "Name=S", {Bytes(10, 1)}));
    Ready[12] = true;
    TDoc* job = Waiting(Host, 80, 81, "12");
    ASSERT_TRUE(job->CheckWaitingDoc());
    const int32_t out = job->OutDocID;
    WriteBlocks.push_back(TBlockAnswer{false, {}, -1, 0});
    bool done = false;
    EXPECT_FALSE(job->Execute(done));
    EXPECT_EQ(CallCount("WAbortDoc " + std::to_string(out)), 1);
    EXPECT_TRUE(LogHas("Error send file W.prn [memory]"));
}

TEST_F(JobsTest, MultiplexGroupsPlatesOfAJobAndRoundRobinsTheRest) {
    Host.Multiplex = true;
    Host.Router.AddDestination(12);
    Host.Router.AddDestination(15);
    Ready[12] = Ready[15] = true;
    for (int32_t doc : {1, 2, 3, 4})
        Host.FreeJob(*SpoolJob(100, doc, "Name=J", {Bytes(10, 1)}));

    TDoc* cyan = Waiting(Host, 100, 1, "12,15", "J", "Cyan");
    ASSERT_TRUE(cyan->CheckWaitingDoc());
    EXPECT_EQ(cyan->Dests(), "12");
    ASSERT_EQ(Host.Router.DestMarks()[0].Records.size(), 1u);
    EXPECT_EQ(Host.Router.DestMarks()[0].Records[0]->Colors, "Cyan");

    // Another plate of the same job goes where the job already is, and waits for it.
    Ready[12] = false;
    TDoc* magenta = Waiting(Host, 100, 2, "12,15", "J", "Magenta");
    ASSERT_TRUE(magenta->CheckWaitingDoc());
    EXPECT_EQ(magenta->Dests(), "12");
    EXPECT_TRUE(magenta->Waiting());
    EXPECT_EQ(Host.Router.DestMarks()[0].Records[0]->Colors, "Cyan,Magenta");

    // A second plate of a colour already there is routed by round robin.
    TDoc* cyan2 = Waiting(Host, 100, 3, "12,15", "J", "Cyan");
    ASSERT_TRUE(cyan2->CheckWaitingDoc());
    EXPECT_EQ(cyan2->Dests(), "15");
    EXPECT_EQ(cyan2->State(), TJobState::Sending);
    EXPECT_EQ(Host.Router.Turn(), 1);

    // No destination ready: the job waits and keeps all its destinations.
    Ready[15] = false;
    TDoc* other = Waiting(Host, 101, 4, "12,15", "K", "Black");
    ASSERT_TRUE(other->CheckWaitingDoc());
    EXPECT_TRUE(other->Waiting());
    EXPECT_EQ(other->Dests(), "12,15");
    EXPECT_EQ(CreatedDests, (std::vector<std::string>{"12", "15"}));
}

TEST_F(JobsTest, DamagedHeaderFailsThreeHundredAndOneTimesThenFails) {
    {
        std::ofstream file(Dir + "/110_111", std::ios::binary);
        const char length[4] = {'\xff', '\xff', '\xff', '\x7f'};
        file.write(length, 4);
    }
    Ready[12] = true;
    TDoc* job = Waiting(Host, 110, 111, "12", "Broken");
    for (int i = 0; i < 301; ++i)
        ASSERT_TRUE(job->CheckWaitingDoc()) << i;
    EXPECT_EQ(job->RetryCount, 301);
    EXPECT_TRUE(LogHas("Error load file Broken [DDS]"));
    EXPECT_FALSE(job->CheckWaitingDoc());
    EXPECT_EQ(CallCount("WCreateDoc"), 0);
}

TEST_F(JobsTest, AcceptSpoolSendsThePathOnly) {
    Host.WorkMode = 1;
    Host.FlowEntries = {{"Name=P;AcceptSpool=12", 12}};
    Host.FreeJob(*SpoolJob(120, 121, "Name=P", {Bytes(10, 1)}));
    Ready[12] = true;
    TDoc* job = Waiting(Host, 120, 121, "12", "P");
    ASSERT_TRUE(job->CheckWaitingDoc());
    EXPECT_TRUE(job->SendAsPath);
    EXPECT_NE(job->DDS.find("SpoolFile=" + Dir + "/120_121"), std::string::npos);
    EXPECT_NE(job->DDS.find("spooled=yes"), std::string::npos);
    bool done = false;
    ASSERT_TRUE(job->Execute(done));
    EXPECT_TRUE(done);
    EXPECT_EQ(CallCount("WGetBlock 1"), 1);
    EXPECT_TRUE(LogHas("File P.prn sent (transfer spool file)"));
}

} // namespace
} // namespace raduvuz
