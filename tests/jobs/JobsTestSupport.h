#pragma once

#include "jobs/IJobHost.h"
#include "jobs/TDestRouter.h"
#include "jobs/TJobList.h"
#include "jobs/TJobListModel.h"
#include "jobs/TSavedDoc.h"
#include "jobs/TWaitJournal.h"
#include "services/Dispatch.h"
#include "services/TServerClient.h"
#include "services/TStoreClient.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz {

using Bytes = std::vector<uint8_t>;

// The smallest module a job can live in: settings and lists as fields, the clients the test
// gives it, and what the job tells it recorded. Nothing of the module's own logic is here.
class TFakeJobHost : public IJobHost {
public:
    int32_t ModuleNumber = 7;
    int32_t Copies = 1;
    bool Multiplex = false;
    int32_t DeletePolicy = 1;
    int32_t WorkMode = 0;
    bool LastInTop = true;
    int32_t LogLevel = 1;
    std::string JobDir;
    mutable TJobSettings Settings;
    std::string ComputerName = "HOST1";
    bool Current = true;
    bool Paused = false;
    int32_t Status = 1;
    TTaggedList FlowEntries;
    TTaggedList TermNames;
    TTaggedList TermKeys;
    TTaggedList HoldList;
    TDestRouter Router;
    std::vector<std::shared_ptr<TSavedDoc>> SavedDocs;
    TServerClient Server;
    TStoreClient Store;
    TJobList Jobs;
    TJobListModel Rows;
    std::vector<std::string> LogLines;
    // The bounded waits the jobs asked for.
    int Waits = 0;

    const TJobSettings& GetSettings() const override {
        Settings = {ModuleNumber, Copies,   Multiplex, DeletePolicy, WorkMode,
                    LastInTop,    LogLevel, false,     JobDir,       0};
        return Settings;
    }
    std::string GetComputerName() const override { return ComputerName; }
    bool IsCurrent() const override { return Current; }
    int32_t GetStatus() const override { return Status; }
    void ChangeStatus(int32_t status) override {
        Status = status;
        Server.ChangeStatus(ModuleNumber, Paused, Status);
    }
    void Log(const std::string& text) override { LogLines.push_back(text); }
    const TTaggedList& GetFlowEntries() const override { return FlowEntries; }
    const TTaggedList& GetTermNames() const override { return TermNames; }
    const TTaggedList& GetTermKeys() const override { return TermKeys; }
    const TTaggedList& GetHoldList() const override { return HoldList; }
    bool Multiplexes() const override { return Router.Multiplexes(); }
    std::string ChooseDestination(const std::string& dests, const std::string& name, int32_t jobID,
                                  const std::string& color,
                                  const std::function<bool(int32_t)>& ready) override {
        return Router.Choose(dests, name, jobID, color, ready);
    }
    bool KeepSavedDoc(std::shared_ptr<TSavedDoc> record) override {
        return AddSavedDoc(SavedDocs, std::move(record));
    }
    void DeleteSavedDoc(int32_t) override {}
    TServerClient& GetServerObject() override { return Server; }
    TStoreClient& GetStoreObject() override { return Store; }
    TDoc* AdoptJob(std::unique_ptr<TDoc> job) override { return Jobs.Add(std::move(job)); }
    bool AllJobsWaiting() const override { return Jobs.AllWaiting(); }
    bool SpoolFileOfOtherJob(const TDoc& job) const override {
        return Jobs.HasOtherWithNumbers(job);
    }
    TProcessRows ProcessRows() override { return TProcessRows(Rows); }
    void FreeJob(TDoc& job) override {
        const std::unique_ptr<TDoc> owned = Jobs.Take(job);
        job.Free();
    }
    // A test that follows the journal gives it one.
    TWaitJournal* Journal = nullptr;
    TWaitJournal* GetWaitJournal() override { return Journal; }
    void LogFailure(const std::string& text) override { LogLines.push_back("failure: " + text); }
    void WaitGoEvent() override {}
    bool WaitPumping(int) override {
        ++Waits;
        return true;
    }
};

// One scripted answer of RGetBlock, RWSwitchBlock or WGetBlock; an empty Data with a name makes
// a block of Size zero bytes.
struct TBlockAnswer {
    bool HasBlock = true;
    std::vector<uint8_t> Data;
    int32_t Handle = 1;
    int32_t Last = 0;
};

// Jobs of a fake host with a scripted in-process store and server in a clean temporary job
// folder.
class JobsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A spooled job (state 0, finished) made from the given blocks; the last block ends it.
    TDoc* SpoolJob(int32_t jobID, int32_t docID, const std::string& dds,
                   const std::vector<std::vector<uint8_t>>& blocks);
    // Counts the recorded calls that begin with prefix.
    int CallCount(const std::string& prefix) const;
    bool LogHas(const std::string& text) const;
    std::vector<TDoc*> WaitingJobs() const;

    test::TTempFolder Folder;
    std::string Dir = Folder.Path();
    TFakeJobHost Host;
    std::vector<std::string> Calls;

    // Scripts.
    std::deque<TBlockAnswer> ReadBlocks;  // RGetBlock and RWSwitchBlock
    std::deque<int32_t> CreateAnswers;    // WCreateDoc; 100 + n when empty
    std::deque<TBlockAnswer> WriteBlocks; // WGetBlock: HasBlock false gives Handle
    int FailingBlockCloses = 0;           // WCloseBlock fails so many times first
    std::map<int32_t, bool> Ready;        // destinations whose GetValue(dest, 0) is 1
    std::vector<std::string> CreatedDests;
    std::vector<std::vector<uint8_t>> Sent; // data of each output block at WCloseBlock
    std::vector<std::string> BlockNames;

private:
    std::string MakeBlock(const std::vector<uint8_t>& data);
    int32_t NextOutDoc = 100;
};

} // namespace raduvuz
