// The store's rules, driven in-process: numbering, refusals, streaming, limits and block life.
#include "peers/PeerTestSupport.h"
#include "platform/PlatformTestSupport.h"
#include "platform/SharedBlock.h"
#include "tools/memoryman/TMemoryStore.h"
#include "tools/memoryman/TShmBlock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace raduvuz {
namespace {

using test::PatternBytes;
using test::ReadBlock;
using test::ShmFiles;
using test::WriteBlock;

class StoreTest : public ::testing::Test {
protected:
    TMemoryStore::TOptions Options(int64_t limit = int64_t(64) << 20) {
        TMemoryStore::TOptions o;
        o.Prefix = Prefix;
        o.MemoryLimit = limit;
        return o;
    }
    void TearDown() override {
        // Every block of the test's stores is gone once they are.
        EXPECT_TRUE(ShmFiles(Prefix + ".").empty());
        test::RemoveShm(Prefix + ".");
    }
    std::string Prefix = test::UniqueName("rmmtest.");
    test::TTempFolder Temp;
};

// The store's events and notices, as lines.
struct TRecorder {
    explicit TRecorder(TMemoryStore& store) {
        store.Events.DocumentAvailable = [this](int32_t m, int32_t d) {
            Events.push_back("available " + std::to_string(m) + " " + std::to_string(d));
        };
        store.Events.DocumentTaken = [this](int32_t m, int32_t d) {
            Events.push_back("taken " + std::to_string(m) + " " + std::to_string(d));
        };
        store.Events.DocumentClosed = [this](int32_t d, bool aborted) {
            Events.push_back("closed " + std::to_string(d) + (aborted ? " aborted" : ""));
        };
        store.Events.MemoryFreed = [this] { Events.push_back("freed"); };
        store.Notice = [this](const std::string& line) { Notices.push_back(line); };
    }
    // The events since the last call.
    std::vector<std::string> Take() { return std::exchange(Events, {}); }
    std::vector<std::string> Events;
    std::vector<std::string> Notices;
};

// Reads the rest of an open document block by block, closing each block; sizes gets each
// block's size.
std::string ReadRest(TMemoryStore& store, int32_t module, int32_t doc,
                     std::vector<int32_t>* sizes = nullptr) {
    std::string data;
    for (;;) {
        TBlockAnswer r = store.RGetBlock(module, doc);
        if (r.Name.empty())
            return data;
        data += ReadBlock(r.Name, r.Size);
        if (sizes)
            sizes->push_back(r.Size);
        store.RCloseBlock(module, doc, r.Handle);
        if (r.Last)
            return data;
    }
}

TStoreError::TKind KindOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const TStoreError& e) {
        return e.Kind;
    }
    ADD_FAILURE() << "no TStoreError";
    return TStoreError::TKind::FileError;
}

TEST_F(StoreTest, FindsDocumentsInOrderAndRefusesWhatIsNotForTheModule) {
    TMemoryStore store(Options());
    int32_t a = store.PutData("aaa", "Name=a", 2, 3);
    int32_t b = store.PutData("bbb", "Name=b", 2, 4);
    int32_t c = store.PutData("ccc", "Name=c", 2, 3);
    EXPECT_EQ(store.RNextFindDoc(3, 0), a);
    EXPECT_EQ(store.RNextFindDoc(3, a), c);
    EXPECT_EQ(store.RNextFindDoc(3, c), -1);
    EXPECT_EQ(store.RNextFindDoc(3, -7), a);
    EXPECT_EQ(store.RNextFindDoc(4, 0), b);
    EXPECT_EQ(store.RNextFindDoc(5, 0), -1);

    int32_t job = 0;
    EXPECT_EQ(store.ROpenDoc(3, b, job), "");
    EXPECT_EQ(job, -1);
    EXPECT_EQ(store.ROpenDoc(3, a, job), "Name=a");
    EXPECT_GT(job, 0);
    // What was put in comes in blocks of the size asked, the last one shorter.
    std::vector<int32_t> sizes;
    EXPECT_EQ(ReadRest(store, 3, a, &sizes), "aaa");
    EXPECT_EQ(sizes, (std::vector<int32_t>{2, 1}));
    int32_t again = 0;
    EXPECT_EQ(store.ROpenDoc(3, a, again), "");
    EXPECT_EQ(again, -1);
    // An opened document is no longer offered.
    EXPECT_EQ(store.RNextFindDoc(3, 0), c);

    // Declining a document removes it; its number is then refused, not unknown.
    store.RAbortDoc(3, c);
    EXPECT_EQ(KindOf([&] { store.RGetDocDDS(c); }), TStoreError::TKind::UnknownDocument);
    EXPECT_EQ(store.ROpenDoc(3, c, job), "");
    EXPECT_EQ(job, -1);
    store.RCloseDoc(3, a);
    store.RAbortDoc(4, b);
    EXPECT_EQ(store.DocumentCount(), 0);
    EXPECT_EQ(store.BlockCount(), 0);
}

TEST_F(StoreTest, ReaderAheadOfItsProducerIsToldNotReadyThenGetsTheBytes) {
    TMemoryStore store(Options());
    int32_t out = store.WCreateDoc(3, 77, "5", "Name=s");
    ASSERT_GT(out, 0);
    EXPECT_TRUE(store.IsDocForExists(5));
    EXPECT_EQ(store.RNextFindDoc(5, 0), out);
    int32_t job = 0;
    store.ROpenDoc(5, out, job);
    EXPECT_EQ(job, 77);
    EXPECT_FALSE(store.IsDocForExists(5));

    TBlockAnswer early = store.RGetBlock(5, out);
    EXPECT_EQ(early.Name, "");
    EXPECT_EQ(early.Handle, 0);

    const std::string first = PatternBytes(100, 1);
    TBlockAnswer w = store.WGetBlock(out, 100);
    // A block is private, of this store and exactly its size.
    EXPECT_EQ(test::ModeOf("/dev/shm/" + w.Name), 0600u);
    EXPECT_EQ(std::filesystem::file_size("/dev/shm/" + w.Name), 100u);
    EXPECT_EQ(w.Name.rfind(Prefix + ".", 0), 0u);
    ASSERT_TRUE(WriteBlock(w.Name, first));
    // Written but not committed yet: still not ready.
    EXPECT_EQ(store.RGetBlock(5, out).Handle, 0);
    store.WCloseBlock(out, w.Handle, 0);

    TBlockAnswer r = store.RGetBlock(5, out);
    ASSERT_NE(r.Name, "");
    EXPECT_EQ(r.Size, 100);
    EXPECT_EQ(r.Last, 0);
    EXPECT_EQ(ReadBlock(r.Name, r.Size), first);
    store.RCloseBlock(5, out, r.Handle);
    // A handle is good for one close only.
    EXPECT_EQ(KindOf([&] { store.RCloseBlock(5, out, r.Handle); }),
              TStoreError::TKind::UnknownHandle);
    // Kept until the reader closes the document, in case it vanishes before.
    EXPECT_EQ(store.BlockCount(), 1);
    EXPECT_EQ(store.RGetBlock(5, out).Handle, 0);

    // The producer gives up: the open reader is told by an error answer.
    TBlockAnswer pending = store.WGetBlock(out, 10);
    ASSERT_NE(pending.Name, "");
    store.WAbortDoc(out);
    TBlockAnswer gone = store.RGetBlock(5, out);
    EXPECT_EQ(gone.Name, "");
    EXPECT_EQ(gone.Handle, -1);
    EXPECT_EQ(store.BlockCount(), 0);
    store.RCloseDoc(5, out);
    EXPECT_EQ(store.DocumentCount(), 0);
}

TEST_F(StoreTest, ClosingWithoutALastBlockStillEndsTheReaders) {
    TMemoryStore store(Options());
    int32_t withBlocks = store.WCreateDoc(3, 1, "6", "Name=x");
    TBlockAnswer w = store.WGetBlock(withBlocks, 4);
    store.WCloseBlock(withBlocks, w.Handle, 0);
    store.WCloseDoc(withBlocks);
    int32_t empty = store.WCreateDoc(3, 2, "6", "Name=y");
    store.WCloseDoc(empty);

    int32_t job = 0;
    store.ROpenDoc(6, withBlocks, job);
    EXPECT_EQ(store.RGetBlock(6, withBlocks).Last, 1);
    EXPECT_EQ(store.RGetBlock(6, withBlocks).Handle, -1);
    store.RCloseDoc(6, withBlocks);

    store.ROpenDoc(6, empty, job);
    TBlockAnswer only = store.RGetBlock(6, empty);
    EXPECT_NE(only.Name, "");
    EXPECT_EQ(only.Size, 0);
    EXPECT_EQ(only.Last, 1);
    store.RCloseDoc(6, empty);
    EXPECT_EQ(store.BlockCount(), 0);
}

TEST_F(StoreTest, CombinedCallsDoWhatTheirSingleCallsDoAndStopAtTheFirstFailure) {
    TMemoryStore store(Options());
    const int32_t in = store.PutData("abcd", "Name=a", 4, 3);
    std::string dds;
    EXPECT_EQ(store.RNextFindDocDDS(3, 0, dds), in);
    EXPECT_EQ(dds, "Name=a");
    EXPECT_EQ(store.RNextFindDocDDS(3, in, dds), -1);
    EXPECT_EQ(dds, "");
    int32_t job = 0;
    store.ROpenDoc(3, in, job);
    const int32_t out = store.WCreateDoc(3, job, "5", "Name=a");
    const TBlockAnswer b = store.RWSwitchBlock(3, in, out);
    ASSERT_EQ(b.Last, 1);
    // A handle never given fails the first step: the input stays open and the output unfinished,
    // so the right call after it still closes both.
    EXPECT_EQ(KindOf([&] { store.WFinishDoc(3, in, out, b.Handle + 100); }),
              TStoreError::TKind::UnknownHandle);
    EXPECT_EQ(store.DocumentCount(), 2);
    store.WFinishDoc(3, in, out, b.Handle);
    EXPECT_EQ(store.DocumentCount(), 1);

    // Without an input: a spooled job's output.
    const int32_t sent = store.WCreateDoc(3, 8, "5", "Name=s");
    const TBlockAnswer w = store.WGetBlock(sent, 2);
    ASSERT_TRUE(WriteBlock(w.Name, "ef"));
    store.WFinishDoc(3, 0, sent, w.Handle);
    for (const auto& [doc, bytes] : {std::pair{out, "abcd"}, std::pair{sent, "ef"}}) {
        store.ROpenDoc(5, doc, job);
        EXPECT_EQ(ReadRest(store, 5, doc), bytes);
        store.RCloseDoc(5, doc);
    }
    EXPECT_EQ(store.DocumentCount(), 0);
    EXPECT_EQ(store.BlockCount(), 0);
}

TEST_F(StoreTest, MemoryLimitRefusesBlocksAndDefersNewDocuments) {
    TMemoryStore store(Options(1000));
    int32_t out = store.WCreateDoc(3, 1, "12", "Name=m");
    ASSERT_GT(out, 0);
    TBlockAnswer a = store.WGetBlock(out, 600);
    ASSERT_NE(a.Name, "");
    TBlockAnswer refused = store.WGetBlock(out, 600);
    EXPECT_EQ(refused.Name, "");
    EXPECT_EQ(refused.Handle, -1);
    TBlockAnswer b = store.WGetBlock(out, 400);
    ASSERT_NE(b.Name, "");
    EXPECT_EQ(store.MemoryInUse(), 1000);
    EXPECT_EQ(store.WCreateDoc(3, 2, "12", "Name=n"), 0);
    EXPECT_EQ(KindOf([&] { store.PutData(std::string(10, 'x'), "Name=p", 4, 3); }),
              TStoreError::TKind::NoMemory);
    store.WAbortDoc(out);
    EXPECT_EQ(store.MemoryInUse(), 0);
    int32_t later = store.WCreateDoc(3, 2, "12", "Name=n");
    EXPECT_GT(later, 0);
    store.WAbortDoc(later);
}

TEST_F(StoreTest, DestinationTextsThatNameNoModuleAreRefused) {
    TMemoryStore store(Options());
    for (const char* bad : {"", "abc", "0", "-3", "12,x", ",", "99999999999"})
        EXPECT_EQ(store.WCreateDoc(3, 1, bad, "Name=r"), -1) << bad;
    int32_t both = store.WCreateDoc(3, 1, " 12 , \"15\" ", "Name=r");
    ASSERT_GT(both, 0);
    EXPECT_TRUE(store.IsDocForExists(12));
    EXPECT_TRUE(store.IsDocForExists(15));
    store.WAbortDoc(both);
    EXPECT_FALSE(store.IsDocForExists(12));
    EXPECT_EQ(store.DocumentCount(), 0);
}

TEST_F(StoreTest, BadInputIsRefusedWithoutLeakingBlocks) {
    TMemoryStore store(Options());
    int32_t in = store.PutData(PatternBytes(50, 2), "Name=i", 20, 3);
    int32_t out = store.WCreateDoc(3, 1, "12", "Name=o");
    int32_t job = 0;
    const int blocks = store.BlockCount();

    // The refusals a caller over the bus meets are the bus test's; these are the others.
    EXPECT_EQ(KindOf([&] { store.RGetBlock(3, in); }), TStoreError::TKind::NotOpen);
    store.ROpenDoc(3, in, job);
    EXPECT_EQ(KindOf([&] { store.RWSwitchBlock(3, in, in); }), TStoreError::TKind::InvalidArgument);
    EXPECT_EQ(KindOf([&] { store.RCloseDoc(4, in); }), TStoreError::TKind::NotOpen);
    EXPECT_EQ(KindOf([&] { store.PutData("x", "Name=z", 4, 0); }),
              TStoreError::TKind::InvalidArgument);
    EXPECT_EQ(store.BlockCount(), blocks);

    // A handle of one document is no handle of another.
    TBlockAnswer r = store.RGetBlock(3, in);
    int32_t other = store.PutData("yy", "Name=y", 4, 3);
    store.ROpenDoc(3, other, job);
    EXPECT_EQ(KindOf([&] { store.RCloseBlock(3, other, r.Handle); }),
              TStoreError::TKind::UnknownHandle);
    store.RCloseBlock(3, in, r.Handle);

    store.WCloseDoc(out);
    EXPECT_EQ(KindOf([&] { store.WCloseDoc(out); }), TStoreError::TKind::InvalidState);
    EXPECT_EQ(KindOf([&] { store.RWSwitchBlock(3, in, out); }), TStoreError::TKind::InvalidState);
    EXPECT_EQ(KindOf([&] { store.WAbortDoc(out); }), TStoreError::TKind::InvalidState);
}

TEST_F(StoreTest, EachDestinationReadsItsOwnCopyAndBlocksLiveUntilBothAreDone) {
    TMemoryStore store(Options());
    const std::string data = PatternBytes(300, 3);
    int32_t in = store.PutData(data, "Name=i", 1000, 3);
    int32_t job = 0;
    store.ROpenDoc(3, in, job);
    int32_t out = store.WCreateDoc(3, job, "12,15", "Name=both;FileName=both.rst");
    for (int i = 0; i < 3; ++i) {
        TBlockAnswer w = store.WGetBlock(out, 100);
        ASSERT_TRUE(WriteBlock(w.Name, data.substr(i * 100, 100)));
        store.WCloseBlock(out, w.Handle, i == 2 ? 1 : 0);
    }
    store.WCloseDoc(out);
    store.RCloseDoc(3, in);
    EXPECT_EQ(store.BlockCount(), 3);

    store.ROpenDoc(12, out, job);
    EXPECT_EQ(ReadRest(store, 12, out), data);
    store.RCloseDoc(12, out);
    // Destination 15 has not read yet: every block is still there for it.
    EXPECT_EQ(store.BlockCount(), 3);
    auto files = store.TakeFinished(15, Temp / "sink15");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(test::ReadTextFile(files[0]), data);
    EXPECT_EQ(store.BlockCount(), 0);
    EXPECT_EQ(store.DocumentCount(), 0);
}

TEST_F(StoreTest, TakenFilesStayInTheFolderWhateverTheirName) {
    TMemoryStore store(Options());
    int32_t doc = store.PutData("abc", "Name=x;FileName=\"../../etc/evil name\"", 2, 12);
    auto files = store.TakeFinished(12, Temp / "out");
    ASSERT_EQ(files.size(), 1u);
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::path(files[0]).parent_path(), fs::path(Temp / "out"));
    EXPECT_EQ(fs::path(files[0]).filename(), std::to_string(doc) + "_evil_name");
    EXPECT_EQ(test::ReadTextFile(files[0] + ".dds"), "Name=x;FileName=\"../../etc/evil name\"");
    EXPECT_TRUE(store.TakeFinished(12, Temp / "out").empty());
}

TEST_F(StoreTest, VanishedReaderLosesADocumentThatCannotBeGivenAgainAndTheNoticeSaysWhy) {
    TMemoryStore store(Options(1000));
    TRecorder seen(store);
    int32_t job = 0;
    int32_t waiting = store.PutData(PatternBytes(300, 6), "Name=w", 100, 3);
    // Memory runs short: what reader 5 has passed goes.
    int32_t kept = store.PutData(PatternBytes(400, 7), "Name=k", 100, 5);
    store.SetCaller(":1.5");
    store.ROpenDoc(5, kept, job);
    ReadRest(store, 5, kept);
    EXPECT_EQ(store.MemoryInUse(), 700);
    store.SetCaller("");
    int32_t big = store.WCreateDoc(2, 1, "6", "Name=b");
    // Releasing would not make room for this one, so nothing is given up for it.
    EXPECT_EQ(store.WGetBlock(big, 950).Handle, -1);
    EXPECT_EQ(store.MemoryInUse(), 700);
    TBlockAnswer room = store.WGetBlock(big, 600);
    ASSERT_NE(room.Name, "");
    EXPECT_EQ(store.MemoryInUse(), 900);

    store.PeerGone(":1.5");
    EXPECT_EQ(seen.Notices, std::vector<std::string>{
                                "module 5 (connection :1.5) left the bus while reading document " +
                                std::to_string(kept) + " (job " + std::to_string(job) +
                                "): it cannot be given again (blocks every reader had passed were "
                                "released for memory); dropped for module 5"});
    EXPECT_EQ(store.RNextFindDoc(5, 0), -1);
    store.RAbortDoc(3, waiting);
    store.WAbortDoc(big);
    EXPECT_EQ(store.DocumentCount(), 0);
    EXPECT_EQ(store.BlockCount(), 0);
}

TEST_F(StoreTest, EventsComeOnceForEachChangeAndNeverForNothing) {
    TMemoryStore store(Options(1000));
    TRecorder seen(store);
    const std::string in = std::to_string(store.PutData("abc", "Name=i", 2, 3));
    int32_t out = store.WCreateDoc(3, 1, "12,15", "Name=o");
    const std::string o = std::to_string(out);
    EXPECT_EQ(seen.Take(), (std::vector<std::string>{"available 3 " + in, "available 12 " + o,
                                                     "available 15 " + o}));

    int32_t job = 0;
    store.ROpenDoc(12, out, job);
    EXPECT_EQ(seen.Take(), (std::vector<std::string>{"taken 12 " + o}));
    // A reader that was never told "not ready" needs no wake-up.
    TBlockAnswer w = store.WGetBlock(out, 100);
    store.WCloseBlock(out, w.Handle, 0);
    EXPECT_TRUE(seen.Take().empty());
    store.RCloseBlock(12, out, store.RGetBlock(12, out).Handle);
    EXPECT_EQ(store.RGetBlock(12, out).Handle, 0);
    EXPECT_EQ(store.RGetBlock(12, out).Handle, 0);
    for (int i = 0; i < 2; ++i) {
        w = store.WGetBlock(out, 100);
        store.WCloseBlock(out, w.Handle, 0);
    }
    EXPECT_EQ(seen.Take(), (std::vector<std::string>{"available 12 " + o}));
    EXPECT_EQ(ReadRest(store, 12, out).size(), 200u);

    // The writer that was told to try later hears once memory is freed, and only once.
    EXPECT_EQ(store.WGetBlock(out, 900).Handle, -1);
    store.RAbortDoc(3, std::stoi(in));
    store.WCloseDoc(out);
    EXPECT_EQ(seen.Take(), (std::vector<std::string>{"taken 3 " + in, "freed", "available 12 " + o,
                                                     "closed " + o}));
    store.TakeFinished(15, Temp / "sink");
    store.RAbortDoc(12, out);
    EXPECT_EQ(seen.Take(), (std::vector<std::string>{"taken 15 " + o}));

    // Declining a pending document takes it, too; aborting one closes it.
    int32_t declined = store.PutData("x", "Name=x", 2, 3);
    int32_t aborted = store.WCreateDoc(3, 3, "12", "Name=a");
    seen.Take();
    store.RAbortDoc(3, declined);
    store.WAbortDoc(aborted);
    EXPECT_EQ(seen.Take(),
              (std::vector<std::string>{"taken 3 " + std::to_string(declined),
                                        "closed " + std::to_string(aborted) + " aborted"}));
    EXPECT_EQ(store.BlockCount(), 0);
}

TEST_F(StoreTest, OnlyTheBlocksOfAStoreThatNoLongerRunsAreRemoved) {
    // A child that has ended gives a pid nobody runs under.
    const pid_t dead = ::fork();
    ASSERT_GE(dead, 0);
    if (dead == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string base = "rmmtest" + std::to_string(::getpid());
    const std::string own = base + "." + std::to_string(::getpid()) + ".1";
    for (const std::string& name :
         {base + "." + std::to_string(dead) + ".1", base + "." + std::to_string(dead) + ".2", own})
        ASSERT_TRUE(TSharedBlock::Create(name, 1)) << name;

    const std::map<long, int> removed = TShmBlock::RemoveOrphans(base);
    EXPECT_EQ(removed, (std::map<long, int>{{static_cast<long>(dead), 2}}));
    EXPECT_EQ(ShmFiles(base), std::vector<std::string>{own});
    TSharedBlock::Unlink(own);
}

TEST_F(StoreTest, StoresSharingTheNumberFileNeverRepeatANumber) {
    TNumberFile file(Temp / "state/numbers");
    auto options = Options();
    options.Numbers = &file;
    options.NumberStep = 4;
    std::set<int32_t> docs;
    std::set<int32_t> jobs;
    TMemoryStore first(options);
    TMemoryStore second(options);
    for (int i = 0; i < 6; ++i)
        for (TMemoryStore* store : {&first, &second}) {
            const int32_t doc = store->PutData("a", "Name=a", 2, 3);
            int32_t job = 0;
            store->ROpenDoc(3, doc, job);
            store->RCloseDoc(3, doc);
            EXPECT_TRUE(docs.insert(doc).second) << doc;
            EXPECT_TRUE(jobs.insert(job).second) << job;
        }
    EXPECT_EQ(*docs.begin(), 1);
    // The file is the store's alone and never left half written.
    EXPECT_EQ(test::ModeOf(file.FilePath()), 0600u);
    EXPECT_FALSE(std::filesystem::exists(file.FilePath() + ".new"));
}

} // namespace
} // namespace raduvuz
