#pragma once

#include "control/TModuleControl.h"
#include "services/Dispatch.h"
#include "support/FakeWindow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz {

class TDoc;

// One scripted answer of RGetBlock, RWSwitchBlock or WGetBlock; an empty Data with a name makes
// a block of Size zero bytes.
struct TBlockAnswer {
    bool HasBlock = true;
    std::vector<uint8_t> Data;
    int32_t Handle = 1;
    int32_t Last = 0;
};

// A module with a scripted in-process store and server in a clean temporary job folder.
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

    TModuleProcess Process;
    test::TFakeWindow Window;
    std::unique_ptr<TModuleControl> Module;
    std::string Dir;
    std::vector<std::string> Calls;

    // Scripts.
    std::deque<TBlockAnswer> ReadBlocks;  // RGetBlock and RWSwitchBlock
    std::deque<int32_t> CreateAnswers;    // WCreateDoc; 100 + n when empty
    std::deque<TBlockAnswer> WriteBlocks; // WGetBlock: HasBlock false gives Handle
    std::map<int32_t, bool> Ready;        // destinations whose GetValue(dest, 0) is 1
    std::vector<std::string> CreatedDests;
    std::vector<std::vector<uint8_t>> Sent; // data of each output block at WCloseBlock
    std::vector<std::string> BlockNames;

private:
    std::string MakeBlock(const std::vector<uint8_t>& data);
    int32_t NextOutDoc = 100;
};

} // namespace raduvuz
