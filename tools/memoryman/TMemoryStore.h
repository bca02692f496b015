#pragma once

#include "tools/memoryman/TNumberFile.h"
#include "tools/memoryman/TShmBlock.h"
#include "tools/memoryman/TStoreError.h"

#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace raduvuz {

// A block handed out by the store; an empty Name means no block (Handle 0 = not ready yet,
// -1 = error or no memory).
struct TBlockAnswer {
    std::string Name;
    int32_t Size = 0;
    int32_t Handle = 0;
    int32_t Last = 0;
};

// What the store tells its listeners; each is called only when something changed.
struct TStoreEvents {
    // The document is new for the module (or offered to it again), or a reader of it that was
    // told "not ready" can now read on.
    std::function<void(int32_t module, int32_t doc)> DocumentAvailable;
    // The destination opened, took or declined the document, so IsDocForExists may be false.
    std::function<void(int32_t dest, int32_t doc)> DocumentTaken;
    // The producer finished the document, or it was aborted.
    std::function<void(int32_t doc, bool aborted)> DocumentClosed;
    // Memory was freed after a writer had been told to try later.
    std::function<void()> MemoryFreed;
};

// The document store: documents made of shared-memory blocks, each document for one or more
// destination modules that read it independently. Bad input throws TStoreError.
class TMemoryStore {
public:
    struct TOptions {
        int64_t MemoryLimit = int64_t(512) << 20;
        // Block names are Prefix + "." + a running number; unique per store instance.
        std::string Prefix = "rmm";
        // When set, IsMainComputer answers true only for this name.
        std::string MainComputer;
        // Where document and job numbers are reserved so they never repeat across restarts;
        // without it they start at 1.
        TNumberFile* Numbers = nullptr;
        // Numbers reserved from the file at a time.
        int32_t NumberStep = 1024;
    };

    // Throws TStoreError (FileError) when the numbering file cannot be used.
    explicit TMemoryStore(TOptions options);
    ~TMemoryStore();
    TMemoryStore(const TMemoryStore&) = delete;
    TMemoryStore& operator=(const TMemoryStore&) = delete;

    // nullopt stands for a Null variant.
    bool IsMainComputer(const std::optional<std::string>& name) const;
    int32_t RNextFindDoc(int32_t module, int32_t doc) const;
    std::string RGetDocDDS(int32_t doc) const;
    std::string ROpenDoc(int32_t module, int32_t doc, int32_t& jobId);
    void RAbortDoc(int32_t module, int32_t doc);
    void RCloseDoc(int32_t module, int32_t doc);
    TBlockAnswer RGetBlock(int32_t module, int32_t doc);
    void RCloseBlock(int32_t module, int32_t doc, int32_t handle);
    TBlockAnswer RWSwitchBlock(int32_t module, int32_t inDoc, int32_t outDoc);
    int32_t WCreateDoc(int32_t module, int32_t jobId, const std::string& dests,
                       const std::string& dds);
    TBlockAnswer WGetBlock(int32_t outDoc, int32_t size);
    void WCloseBlock(int32_t outDoc, int32_t handle, int32_t last);
    void WCloseDoc(int32_t outDoc);
    void WAbortDoc(int32_t outDoc);
    bool IsDocForExists(int32_t dest) const;
    // Calls beyond the contract, which a module uses when the store offers them: each does what
    // the contract's calls in it would do one after the other, in one round trip.
    // RNextFindDoc, and the found document's DDS (empty when none is found).
    int32_t RNextFindDocDDS(int32_t module, int32_t doc, std::string& dds) const;
    // WCloseBlock of the output's last block, RCloseDoc of the input (none for 0), WCloseDoc of
    // the output; the first that fails ends it, leaving the rest undone as a caller of the
    // single calls would.
    void WFinishDoc(int32_t module, int32_t inDoc, int32_t outDoc, int32_t handle);

    // Operator side: a file becomes a finished document for destModule.
    int32_t PutFile(const std::string& path, const std::string& dds, int32_t blockSize,
                    int32_t destModule);
    // A finished document given directly (tests and benchmarks).
    int32_t PutData(const std::string& data, const std::string& dds, int32_t blockSize,
                    int32_t destModule);
    std::string ListDocs() const;
    // Writes every finished document for destModule into folder; gives the files written.
    std::vector<std::string> TakeFinished(int32_t destModule, const std::string& folder);

    int64_t MemoryInUse() const { return Usage->Bytes; }
    int BlockCount() const { return Usage->Blocks; }
    int DocumentCount() const { return static_cast<int>(Docs.size()); }
    const TOptions& Options() const { return Opts; }

    // The bus connection (unique name) the following calls come from; empty for callers in
    // this process. The last connection that used a reader or a writer holds it.
    void SetCaller(std::string peer) { Caller = std::move(peer); }
    // The connection left the bus: the documents it was reading are offered to their modules
    // again from the first block (or dropped for it when they cannot be), and the documents it
    // was writing are aborted.
    void PeerGone(const std::string& peer);

    // Every document and block event (verbose).
    std::function<void(const std::string&)> Log;
    // Lines an operator needs: documents taken back from a vanished peer, numbering trouble.
    std::function<void(const std::string&)> Notice;
    TStoreEvents Events;

private:
    enum class TDocState { Writing, Finished, Aborted };
    struct TReader {
        bool Opened = false;
        // Told "not ready": gets DocumentAvailable when the producer commits more.
        bool Waiting = false;
        size_t Next = 0;
        std::string Peer;
        std::map<int32_t, std::shared_ptr<TShmBlock>> Outstanding;
    };
    struct TDocBlock {
        std::shared_ptr<TShmBlock> Block;
        int64_t Size = 0;
        bool Last = false;
    };
    struct TDocument {
        int32_t Id = 0;
        int32_t JobId = 0;
        int32_t Producer = 0;
        std::string Dds;
        TDocState State = TDocState::Writing;
        bool LastWritten = false;
        std::string WriterPeer;
        // Why a reader that vanishes cannot be given the document again from its start; empty
        // while every block is still held.
        std::string NotReplayable;
        std::vector<TDocBlock> Blocks;
        std::map<int32_t, TReader> Readers;
        std::map<int32_t, std::shared_ptr<TShmBlock>> PendingWrites;
    };

    TDocument& Doc(int32_t doc);
    const TDocument& Doc(int32_t doc) const;
    TReader& OpenReader(TDocument& d, int32_t module);
    TDocument& WritableDoc(int32_t outDoc);
    // The next block for a reader, or a not-ready / error answer with no block.
    std::shared_ptr<TShmBlock> NextBlock(TDocument& d, TReader& r, TBlockAnswer& answer);
    std::shared_ptr<TShmBlock> NewBlock(int64_t size, std::string& error);
    int32_t NewDocument(int32_t producer, int32_t jobId, const std::vector<int32_t>& dests,
                        const std::string& dds);
    // The next number above last, reserving more from the numbering file when the reserved
    // ones are used up.
    int32_t NextNumber(int32_t& last, int32_t& reserved, bool document);
    void Reserve(int32_t& last, int32_t& reserved, bool document);
    // Whether bytes more fit in the memory limit, releasing blocks kept only for a replay when
    // they do not.
    bool Fits(int64_t bytes);
    // How many blocks from the start every reader of the document has passed.
    static size_t Passed(const TDocument& d);
    // Releases the blocks every reader of the document has passed; true when there were some.
    bool ReleasePassed(TDocument& d, const std::string& why);
    // Lets go of the document once nobody reads it and its producer is done; while a reader may
    // still vanish its blocks stay, unless the document can no longer be replayed anyway.
    void Trim(int32_t doc);
    void Abort(TDocument& d);
    // Tells the readers that were told "not ready" that they can read on.
    void WakeReaders(TDocument& d);
    void Refused();
    void CheckFreed();
    void Note(const std::string& line) const;
    void Notify(const std::string& line) const;

    TOptions Opts;
    std::shared_ptr<TShmUsage> Usage;
    std::map<int32_t, TDocument> Docs;
    int32_t LastDocId = 0;
    int32_t LastJobId = 0;
    int32_t ReservedDocId = INT32_MAX;
    int32_t ReservedJobId = INT32_MAX;
    std::string Caller;
    // Memory in use when a writer was last told to try later; -1 when nobody waits for memory.
    int64_t RefusedAt = -1;
    int32_t LastHandle = 0;
    int64_t LastBlockNumber = 0;
};

} // namespace raduvuz
