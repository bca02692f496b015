#include "jobs/JobsTestSupport.h"

#include "platform/SharedBlock.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace raduvuz {

namespace {

TCallResult Answer(TVariant result, std::vector<TVariant> outs = {}) {
    return TCallResult{std::move(result), std::move(outs)};
}

int32_t Int(const std::vector<TVariant>& args, size_t i) {
    return VariantToInt(args.at(i));
}

} // namespace

std::string JobsTest::MakeBlock(const std::vector<uint8_t>& data) {
    static int counter = 0;
    const std::string name =
        "rdvz_jobs_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    EXPECT_TRUE(TSharedBlock::Create(name, static_cast<int64_t>(data.size())));
    TSharedBlock block;
    EXPECT_TRUE(block.Open(name, static_cast<int64_t>(data.size())));
    if (!data.empty()) {
        EXPECT_TRUE(block.CopyIn(0, data.data(), static_cast<int64_t>(data.size())));
    }
    BlockNames.push_back(name);
    return name;
}

void JobsTest::SetUp() {
    ASSERT_FALSE(Dir.empty());
    auto server = std::make_shared<TInProcessObject>();
    server->Define("ChangeStatus", [this](const std::vector<TVariant>& a) {
        Calls.push_back("ChangeStatus " + std::to_string(Int(a, 2)));
        return Answer(TNull{});
    });
    server->Define("WriteLog", [](const std::vector<TVariant>&) { return Answer(TNull{}); });
    server->Define("ShowLabel", [this](const std::vector<TVariant>& a) {
        Calls.push_back("ShowLabel " + VariantToText(a.at(1)));
        return Answer(TNull{});
    });
    server->Define("GetValue", [this](const std::vector<TVariant>& a) {
        const int32_t dest = Int(a, 0);
        switch (Int(a, 1)) {
        case 0:
            return Answer(int32_t(Ready[dest] ? 1 : 0));
        case 2:
            return Answer(std::string("Module ") + std::to_string(dest));
        case 6:
            return Answer(false);
        case 7:
            return Answer(std::string("\\\\") + Host.ComputerName);
        default:
            return Answer(TNull{});
        }
    });
    server->Define("PtrToKey", [](const std::vector<TVariant>& a) {
        return Answer(std::string("K") + std::to_string(Int(a, 0)));
    });

    auto store = std::make_shared<TInProcessObject>();
    auto readBlock = [this](const std::string& method) {
        return [this, method](const std::vector<TVariant>& a) {
            Calls.push_back(method + " " + std::to_string(Int(a, 1)));
            TBlockAnswer next;
            if (ReadBlocks.empty()) {
                next.HasBlock = false;
                next.Handle = 0;
            } else {
                next = ReadBlocks.front();
                ReadBlocks.pop_front();
            }
            const std::string name = next.HasBlock ? MakeBlock(next.Data) : std::string();
            return Answer(name, {int32_t(next.Data.size()), next.Handle, next.Last});
        };
    };
    store->Define("RGetBlock", readBlock("RGetBlock"));
    store->Define("RWSwitchBlock", readBlock("RWSwitchBlock"));
    for (const char* method : {"RCloseDoc", "RCloseBlock", "RAbortDoc"}) {
        store->Define(method, [this, method](const std::vector<TVariant>& a) {
            Calls.push_back(std::string(method) + " " + std::to_string(Int(a, 1)));
            return Answer(TNull{});
        });
    }
    for (const char* method : {"WCloseDoc", "WAbortDoc"}) {
        store->Define(method, [this, method](const std::vector<TVariant>& a) {
            Calls.push_back(std::string(method) + " " + std::to_string(Int(a, 0)));
            return Answer(TNull{});
        });
    }
    store->Define("WCreateDoc", [this](const std::vector<TVariant>& a) {
        Calls.push_back("WCreateDoc " + VariantToText(a.at(2)));
        CreatedDests.push_back(VariantToText(a.at(2)));
        int32_t answer = ++NextOutDoc;
        if (!CreateAnswers.empty()) {
            answer = CreateAnswers.front();
            CreateAnswers.pop_front();
        }
        return Answer(answer);
    });
    store->Define("WGetBlock", [this](const std::vector<TVariant>& a) {
        const int32_t size = Int(a, 1);
        Calls.push_back("WGetBlock " + std::to_string(size));
        if (!WriteBlocks.empty()) {
            const TBlockAnswer next = WriteBlocks.front();
            WriteBlocks.pop_front();
            if (!next.HasBlock)
                return Answer(std::string(), {next.Handle});
        }
        const std::string name = MakeBlock(std::vector<uint8_t>(static_cast<size_t>(size), 0xEE));
        return Answer(name, {int32_t(BlockNames.size())});
    });
    store->Define("WCloseBlock", [this](const std::vector<TVariant>& a) {
        Calls.push_back("WCloseBlock " + std::to_string(Int(a, 2)));
        if (FailingBlockCloses > 0 && FailingBlockCloses-- > 0)
            throw TDispatchError(kUnexpectedError, "the output document has gone");
        const std::string& name = BlockNames.at(static_cast<size_t>(Int(a, 1)) - 1);
        TSharedBlock block;
        std::vector<uint8_t> data;
        // A path block has one byte that is never written.
        if (block.Open(name, 0) && block.Size() > 0) {
            data.resize(static_cast<size_t>(block.Size()));
            block.CopyOut(0, data.data(), block.Size());
        }
        Sent.push_back(data);
        return Answer(TNull{});
    });
    store->Define("IsDocForExists", [](const std::vector<TVariant>&) { return Answer(false); });

    Host.Server = TServerClient(server);
    Host.Store = TStoreClient(store);
    Host.JobDir = Dir;
}

void JobsTest::TearDown() {
    while (!Host.Jobs.empty())
        Host.FreeJob(*Host.Jobs.front());
    for (const std::string& name : BlockNames)
        TSharedBlock::Unlink(name);
}

TDoc* JobsTest::SpoolJob(int32_t jobID, int32_t docID, const std::string& dds,
                         const std::vector<std::vector<uint8_t>>& blocks) {
    for (size_t i = 0; i < blocks.size(); ++i)
        ReadBlocks.push_back(
            TBlockAnswer{true, blocks[i], int32_t(i + 1), i + 1 == blocks.size() ? 1 : 0});
    TDoc* job = Host.Jobs.Add(TDoc::Create(Host, true, docID, jobID, dds));
    EXPECT_TRUE(job->InitReadDoc());
    bool done = false;
    for (size_t i = 0; i < blocks.size() && !done; ++i)
        EXPECT_TRUE(job->Execute(done));
    EXPECT_TRUE(done);
    return job;
}

int JobsTest::CallCount(const std::string& prefix) const {
    return static_cast<int>(std::count_if(
        Calls.begin(), Calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

bool JobsTest::LogHas(const std::string& text) const {
    return std::any_of(Host.LogLines.begin(), Host.LogLines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

std::vector<TDoc*> JobsTest::WaitingJobs() const {
    std::vector<TDoc*> jobs;
    for (TDoc* job : Host.Jobs) {
        if (job->State() == TJobState::Waiting)
            jobs.push_back(job);
    }
    return jobs;
}

} // namespace raduvuz
