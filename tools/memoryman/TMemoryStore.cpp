// Design notes. A document has one producer (a module writing it with the W calls, or the
// operator's PutFile) and one reader entry per destination module. A reader is pending until the
// module opens the document (ROpenDoc) or the operator takes it out (TakeFinished); only pending
// readers are found by RNextFindDoc and counted by IsDocForExists. Readers see blocks as soon as
// the producer commits them (WCloseBlock), so a chain of modules can stream; a reader ahead of
// its producer is told "not ready" (no name, handle 0). Blocks are shared, reference-counted
// shared-memory objects: a reader keeps the blocks it was handed until it closes them, and a
// switched block travels to the output document. The object is unlinked when its last owner
// lets go.
//
// Each reader and writer belongs to the bus connection that last used it. When that connection
// leaves the bus, its half-written documents are aborted and the documents it was reading become
// pending for their module again, to be read from the first block. For that the document keeps
// every block until each reader has closed it; when memory runs short, or a block was switched
// into another document, the blocks every reader has passed go and the document can no longer be
// given again: a reader of it that vanishes loses it.
#include "tools/memoryman/TMemoryStore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace raduvuz {

namespace {

using TKind = TStoreError::TKind;

std::string Trimmed(const std::string& text) {
    size_t b = 0;
    size_t e = text.size();
    while (b < e && (std::isspace(static_cast<unsigned char>(text[b])) || text[b] == '"'))
        ++b;
    while (e > b && (std::isspace(static_cast<unsigned char>(text[e - 1])) || text[e - 1] == '"'))
        --e;
    return text.substr(b, e - b);
}

// Destination numbers of a comma text; empty when an item is not a module number above 0.
std::vector<int32_t> ParseDests(const std::string& text) {
    std::vector<int32_t> dests;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        item = Trimmed(item);
        if (item.empty() || item.size() > 10)
            return {};
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(item.c_str(), &end, 10);
        if (*end != '\0' || errno != 0 || value <= 0 || value > INT32_MAX)
            return {};
        if (std::find(dests.begin(), dests.end(), value) == dests.end())
            dests.push_back(static_cast<int32_t>(value));
    }
    return dests;
}

// First item of a key of a parameter text, enough to name the file a document is taken to.
std::string ParamItem(const std::string& dds, const std::string& key) {
    std::stringstream in(dds);
    std::string entry;
    while (std::getline(in, entry, ';')) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos)
            continue;
        std::string k = Trimmed(entry.substr(0, eq));
        if (k.size() != key.size() ||
            !std::equal(k.begin(), k.end(), key.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            }))
            continue;
        std::string value = entry.substr(eq + 1);
        if (!value.empty() && value[0] == '"') {
            size_t close = value.find('"', 1);
            return value.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        }
        return Trimmed(value.substr(0, value.find(',')));
    }
    return {};
}

// The last path part of a name, reduced to characters that are safe in any file name.
std::string SafeFileName(const std::string& name) {
    std::string base = name.substr(
        name.find_last_of("/\\") == std::string::npos ? 0 : name.find_last_of("/\\") + 1);
    for (char& c : base) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || c == '.' || c == '-' || c == '_'))
            c = '_';
    }
    if (base.empty() || base.find_first_not_of('.') == std::string::npos)
        return "doc";
    return base;
}

bool SameComputer(std::string a, std::string b) {
    auto norm = [](std::string s) {
        if (s.rfind("\\\\", 0) == 0)
            s = s.substr(2);
        s = s.substr(0, 50);
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    return norm(std::move(a)) == norm(std::move(b));
}

const char* StateText(int state) {
    static const char* const texts[] = {"writing", "finished", "aborted"};
    return texts[state];
}

const char* const ReleasedForMemory = "blocks every reader had passed were released for memory";

std::string DocText(int32_t doc, int32_t job) {
    return "document " + std::to_string(doc) + " (job " + std::to_string(job) + ")";
}

} // namespace

TMemoryStore::TMemoryStore(TOptions options)
    : Opts(std::move(options)), Usage(std::make_shared<TShmUsage>()) {
    if (Opts.Numbers) {
        Reserve(LastDocId, ReservedDocId, true);
        Reserve(LastJobId, ReservedJobId, false);
    }
}

TMemoryStore::~TMemoryStore() {
    Docs.clear();
    if (!Opts.Numbers)
        return;
    // Numbers reserved and never used go back, unless another store reserved after this one.
    std::string error;
    if (!Opts.Numbers->Update(
            [&](TNumbers& n) {
                bool changed = false;
                if (n.Document == ReservedDocId && LastDocId < ReservedDocId) {
                    n.Document = LastDocId;
                    changed = true;
                }
                if (n.Job == ReservedJobId && LastJobId < ReservedJobId) {
                    n.Job = LastJobId;
                    changed = true;
                }
                return changed;
            },
            error))
        Notify("cannot give back the unused numbers: " + error);
}

void TMemoryStore::Note(const std::string& line) const {
    if (Log)
        Log(line);
}

void TMemoryStore::Notify(const std::string& line) const {
    if (Notice)
        Notice(line);
    else
        Note(line);
}

void TMemoryStore::Reserve(int32_t& last, int32_t& reserved, bool document) {
    const int32_t step = std::max(Opts.NumberStep, 1);
    int32_t base = last;
    int32_t mark = last;
    std::string error;
    const bool ok = Opts.Numbers->Update(
        [&](TNumbers& n) {
            int32_t& field = document ? n.Document : n.Job;
            base = std::max(field, last);
            mark = base + std::min(step, INT32_MAX - base);
            field = mark;
            return true;
        },
        error);
    if (!ok) {
        Notify("cannot reserve " + std::string(document ? "document" : "job") +
               " numbers: " + error);
        throw TStoreError(TKind::FileError, "cannot reserve " +
                                                std::string(document ? "document" : "job") +
                                                " numbers: " + error);
    }
    last = base;
    reserved = mark;
    Note("reserved " + std::string(document ? "document" : "job") + " numbers " +
         std::to_string(base + 1) + " to " + std::to_string(mark) + " in " +
         Opts.Numbers->FilePath());
}

int32_t TMemoryStore::NextNumber(int32_t& last, int32_t& reserved, bool document) {
    if (Opts.Numbers && last >= reserved)
        Reserve(last, reserved, document);
    if (last >= reserved || last == INT32_MAX)
        throw TStoreError(TKind::NoMemory,
                          std::string(document ? "document" : "job") + " numbers are used up");
    return ++last;
}

size_t TMemoryStore::Passed(const TDocument& d) {
    size_t passed = d.Blocks.size();
    for (const auto& [module, reader] : d.Readers)
        passed = std::min(passed, reader.Next);
    return passed;
}

bool TMemoryStore::ReleasePassed(TDocument& d, const std::string& why) {
    bool released = false;
    for (size_t i = 0, passed = Passed(d); i < passed; ++i)
        if (d.Blocks[i].Block) {
            d.Blocks[i].Block.reset();
            released = true;
        }
    if (released && d.NotReplayable.empty() && !d.Readers.empty()) {
        d.NotReplayable = why;
        Note(DocText(d.Id, d.JobId) + ": " + why + "; it can no longer be given again");
    }
    return released;
}

bool TMemoryStore::Fits(int64_t bytes) {
    auto fits = [&](int64_t freed) { return Usage->Bytes - freed + bytes <= Opts.MemoryLimit; };
    if (fits(0))
        return true;
    // Replays are given up only when that makes room: a block a reader still holds, or one
    // switched into another document, frees nothing.
    int64_t releasable = 0;
    for (const auto& [id, d] : Docs)
        for (size_t i = 0, passed = Passed(d); i < passed; ++i)
            if (d.Blocks[i].Block && d.Blocks[i].Block.use_count() == 1)
                releasable += d.Blocks[i].Size;
    if (!fits(releasable))
        return false;
    // Oldest documents first: their readers are the likeliest to be done with them soon.
    for (auto it = Docs.begin(); !fits(0) && it != Docs.end(); ++it)
        ReleasePassed(it->second, ReleasedForMemory);
    return fits(0);
}

void TMemoryStore::Refused() {
    RefusedAt = Usage->Bytes;
}

void TMemoryStore::CheckFreed() {
    if (RefusedAt < 0 || Usage->Bytes >= RefusedAt)
        return;
    RefusedAt = -1;
    if (Events.MemoryFreed)
        Events.MemoryFreed();
}

void TMemoryStore::WakeReaders(TDocument& d) {
    for (auto& [module, reader] : d.Readers)
        if (reader.Waiting) {
            reader.Waiting = false;
            if (Events.DocumentAvailable)
                Events.DocumentAvailable(module, d.Id);
        }
}

TMemoryStore::TDocument& TMemoryStore::Doc(int32_t doc) {
    auto it = Docs.find(doc);
    if (it == Docs.end())
        throw TStoreError(TKind::UnknownDocument, "no document " + std::to_string(doc));
    return it->second;
}

const TMemoryStore::TDocument& TMemoryStore::Doc(int32_t doc) const {
    auto it = Docs.find(doc);
    if (it == Docs.end())
        throw TStoreError(TKind::UnknownDocument, "no document " + std::to_string(doc));
    return it->second;
}

TMemoryStore::TReader& TMemoryStore::OpenReader(TDocument& d, int32_t module) {
    auto it = d.Readers.find(module);
    if (it == d.Readers.end() || !it->second.Opened)
        throw TStoreError(TKind::NotOpen, "document " + std::to_string(d.Id) +
                                              " is not open for module " + std::to_string(module));
    return it->second;
}

TMemoryStore::TDocument& TMemoryStore::WritableDoc(int32_t outDoc) {
    TDocument& d = Doc(outDoc);
    if (d.State != TDocState::Writing)
        throw TStoreError(TKind::InvalidState,
                          "document " + std::to_string(outDoc) + " is no longer being written");
    if (d.LastWritten)
        throw TStoreError(TKind::InvalidState,
                          "document " + std::to_string(outDoc) + " already has its last block");
    return d;
}

std::shared_ptr<TShmBlock> TMemoryStore::NewBlock(int64_t size, std::string& error) {
    auto block = TShmBlock::Create(Opts.Prefix + "." + std::to_string(++LastBlockNumber), size,
                                   Usage, error);
    if (block)
        return block;
    // A full /dev/shm may still take the block once what was kept only for a replay is gone.
    bool released = false;
    for (auto& [id, d] : Docs)
        released = ReleasePassed(d, ReleasedForMemory) || released;
    if (!released)
        return nullptr;
    error.clear();
    return TShmBlock::Create(Opts.Prefix + "." + std::to_string(++LastBlockNumber), size, Usage,
                             error);
}

int32_t TMemoryStore::NewDocument(int32_t producer, int32_t jobId,
                                  const std::vector<int32_t>& dests, const std::string& dds) {
    TDocument d;
    d.Id = NextNumber(LastDocId, ReservedDocId, true);
    d.JobId = jobId;
    d.Producer = producer;
    d.Dds = dds;
    for (int32_t dest : dests)
        d.Readers[dest] = TReader{};
    const int32_t id = d.Id;
    Docs.emplace(id, std::move(d));
    return id;
}

void TMemoryStore::Trim(int32_t doc) {
    auto it = Docs.find(doc);
    if (it != Docs.end()) {
        TDocument& d = it->second;
        // Kept blocks serve a replay only; without readers or replay they just take memory.
        if (!d.NotReplayable.empty() || d.Readers.empty())
            ReleasePassed(d, d.NotReplayable);
        if (d.State != TDocState::Writing && d.Readers.empty()) {
            Note("document " + std::to_string(doc) + " removed");
            Docs.erase(it);
        }
    }
    CheckFreed();
}

void TMemoryStore::Abort(TDocument& d) {
    d.State = TDocState::Aborted;
    d.PendingWrites.clear();
    for (auto& b : d.Blocks)
        b.Block.reset();
    // Readers that never opened it simply lose it; open readers are told by an error answer.
    std::erase_if(d.Readers, [](const auto& entry) { return !entry.second.Opened; });
    for (auto& [module, reader] : d.Readers)
        reader.Waiting = false;
    Note("document " + std::to_string(d.Id) + " aborted");
    if (Events.DocumentClosed)
        Events.DocumentClosed(d.Id, true);
    Trim(d.Id);
}

void TMemoryStore::PeerGone(const std::string& peer) {
    if (peer.empty())
        return;
    std::vector<int32_t> ids;
    for (const auto& [id, d] : Docs)
        ids.push_back(id);
    for (int32_t id : ids) {
        auto it = Docs.find(id);
        if (it == Docs.end())
            continue;
        TDocument& d = it->second;
        if (d.State == TDocState::Writing && d.WriterPeer == peer) {
            std::string dests;
            for (const auto& [module, reader] : d.Readers)
                dests += (dests.empty() ? "" : ",") + std::to_string(module);
            Notify("connection " + peer + " (module " + std::to_string(d.Producer) +
                   ") left the bus while writing " + DocText(id, d.JobId) + " for " +
                   (dests.empty() ? std::string("nobody") : dests) + ": aborted");
            Abort(d);
        }
        it = Docs.find(id);
        if (it == Docs.end())
            continue;
        std::vector<int32_t> gone;
        for (auto& [module, reader] : it->second.Readers)
            if (reader.Opened && reader.Peer == peer)
                gone.push_back(module);
        for (int32_t module : gone) {
            TDocument& doc = it->second;
            const std::string who = "module " + std::to_string(module) + " (connection " + peer +
                                    ") left the bus while reading " + DocText(id, doc.JobId);
            if (doc.State == TDocState::Aborted) {
                Note(who + ", which was aborted");
                doc.Readers.erase(module);
            } else if (doc.NotReplayable.empty()) {
                doc.Readers[module] = TReader{};
                Notify(who + ": offered to module " + std::to_string(module) +
                       " again from its first block");
                if (Events.DocumentAvailable)
                    Events.DocumentAvailable(module, id);
            } else {
                Notify(who + ": it cannot be given again (" + doc.NotReplayable +
                       "); dropped for module " + std::to_string(module));
                doc.Readers.erase(module);
            }
        }
        Trim(id);
    }
}

bool TMemoryStore::IsMainComputer(const std::optional<std::string>& name) const {
    if (Opts.MainComputer.empty())
        return true;
    return name && SameComputer(*name, Opts.MainComputer);
}

int32_t TMemoryStore::RNextFindDoc(int32_t module, int32_t doc) const {
    for (auto it = Docs.upper_bound(std::max(doc, 0)); it != Docs.end(); ++it) {
        const TDocument& d = it->second;
        auto r = d.Readers.find(module);
        if (d.State != TDocState::Aborted && r != d.Readers.end() && !r->second.Opened)
            return d.Id;
    }
    return -1;
}

std::string TMemoryStore::RGetDocDDS(int32_t doc) const {
    return Doc(doc).Dds;
}

int32_t TMemoryStore::RNextFindDocDDS(int32_t module, int32_t doc, std::string& dds) const {
    const int32_t next = RNextFindDoc(module, doc);
    dds = next > 0 ? RGetDocDDS(next) : std::string();
    return next;
}

void TMemoryStore::WFinishDoc(int32_t module, int32_t inDoc, int32_t outDoc, int32_t handle) {
    WCloseBlock(outDoc, handle, 1);
    if (inDoc != 0)
        RCloseDoc(module, inDoc);
    WCloseDoc(outDoc);
}

std::string TMemoryStore::ROpenDoc(int32_t module, int32_t doc, int32_t& jobId) {
    jobId = -1;
    if (doc <= 0 || doc > LastDocId)
        throw TStoreError(TKind::UnknownDocument, "no document " + std::to_string(doc));
    auto it = Docs.find(doc);
    // A document that was removed, aborted, opened before or is not for this module is refused.
    if (it == Docs.end() || it->second.State == TDocState::Aborted)
        return {};
    auto r = it->second.Readers.find(module);
    if (r == it->second.Readers.end() || r->second.Opened)
        return {};
    r->second.Opened = true;
    r->second.Peer = Caller;
    jobId = it->second.JobId;
    Note("module " + std::to_string(module) + " opened document " + std::to_string(doc));
    if (Events.DocumentTaken)
        Events.DocumentTaken(module, doc);
    return it->second.Dds;
}

void TMemoryStore::RAbortDoc(int32_t module, int32_t doc) {
    TDocument& d = Doc(doc);
    // Declining a refused document is no error: the reading side gives it up either way.
    auto r = d.Readers.find(module);
    if (r != d.Readers.end()) {
        const bool pending = !r->second.Opened;
        d.Readers.erase(r);
        Note("module " + std::to_string(module) + " aborted document " + std::to_string(doc));
        if (pending && Events.DocumentTaken)
            Events.DocumentTaken(module, doc);
    }
    Trim(doc);
}

void TMemoryStore::RCloseDoc(int32_t module, int32_t doc) {
    TDocument& d = Doc(doc);
    OpenReader(d, module);
    d.Readers.erase(module);
    Note("module " + std::to_string(module) + " closed document " + std::to_string(doc));
    Trim(doc);
}

std::shared_ptr<TShmBlock> TMemoryStore::NextBlock(TDocument& d, TReader& r, TBlockAnswer& answer) {
    answer = TBlockAnswer{};
    if (d.State == TDocState::Aborted) {
        answer.Handle = -1;
        return nullptr;
    }
    if (r.Next >= d.Blocks.size()) {
        // Past the last block is an error; before it, the producer has not delivered yet.
        answer.Handle = (d.State == TDocState::Finished || d.LastWritten) ? -1 : 0;
        r.Waiting = answer.Handle == 0;
        return nullptr;
    }
    const TDocBlock& b = d.Blocks[r.Next];
    if (LastHandle == INT32_MAX)
        LastHandle = 0;
    answer.Name = b.Block->Name();
    answer.Size = static_cast<int32_t>(b.Size);
    answer.Handle = ++LastHandle;
    answer.Last = b.Last ? 1 : 0;
    r.Next++;
    return b.Block;
}

TBlockAnswer TMemoryStore::RGetBlock(int32_t module, int32_t doc) {
    TDocument& d = Doc(doc);
    TReader& r = OpenReader(d, module);
    if (!Caller.empty())
        r.Peer = Caller;
    TBlockAnswer answer;
    auto block = NextBlock(d, r, answer);
    if (block) {
        r.Outstanding[answer.Handle] = std::move(block);
        Trim(doc);
    }
    return answer;
}

void TMemoryStore::RCloseBlock(int32_t module, int32_t doc, int32_t handle) {
    TDocument& d = Doc(doc);
    TReader& r = OpenReader(d, module);
    if (r.Outstanding.erase(handle) == 0)
        throw TStoreError(TKind::UnknownHandle, "handle " + std::to_string(handle) +
                                                    " was not given for document " +
                                                    std::to_string(doc));
    CheckFreed();
}

TBlockAnswer TMemoryStore::RWSwitchBlock(int32_t module, int32_t inDoc, int32_t outDoc) {
    TDocument& in = Doc(inDoc);
    TReader& r = OpenReader(in, module);
    if (inDoc == outDoc)
        throw TStoreError(TKind::InvalidArgument, "a document cannot be switched into itself");
    TDocument& out = WritableDoc(outDoc);
    if (!Caller.empty()) {
        r.Peer = Caller;
        out.WriterPeer = Caller;
    }
    TBlockAnswer answer;
    auto block = NextBlock(in, r, answer);
    if (block) {
        // The output's writer may change the block before it commits it.
        if (in.NotReplayable.empty()) {
            in.NotReplayable = "blocks of it were switched into document " + std::to_string(outDoc);
            Note(DocText(inDoc, in.JobId) + ": " + in.NotReplayable +
                 "; it can no longer be given again");
        }
        out.PendingWrites[answer.Handle] = std::move(block);
        Trim(inDoc);
    }
    return answer;
}

int32_t TMemoryStore::WCreateDoc(int32_t module, int32_t jobId, const std::string& dests,
                                 const std::string& dds) {
    std::vector<int32_t> targets = ParseDests(dests);
    if (targets.empty()) {
        Note("module " + std::to_string(module) + " refused: destinations \"" + dests + "\"");
        return -1;
    }
    // A store at its limit takes no new document now; the module tries again later.
    if (!Fits(1)) {
        Refused();
        return 0;
    }
    int32_t doc = NewDocument(module, jobId, targets, dds);
    Docs.at(doc).WriterPeer = Caller;
    Note("module " + std::to_string(module) + " created document " + std::to_string(doc) + " for " +
         dests);
    if (Events.DocumentAvailable)
        for (int32_t dest : targets)
            Events.DocumentAvailable(dest, doc);
    return doc;
}

TBlockAnswer TMemoryStore::WGetBlock(int32_t outDoc, int32_t size) {
    if (size < 0)
        throw TStoreError(TKind::InvalidArgument, "negative block size " + std::to_string(size));
    TDocument& d = WritableDoc(outDoc);
    if (!Caller.empty())
        d.WriterPeer = Caller;
    TBlockAnswer answer;
    if (!Fits(size)) {
        answer.Handle = -1;
        Refused();
        Note("no memory for a block of " + std::to_string(size) + " bytes");
        return answer;
    }
    std::string error;
    auto block = NewBlock(size, error);
    if (!block) {
        Note(error);
        Refused();
        answer.Handle = -1;
        return answer;
    }
    if (LastHandle == INT32_MAX)
        LastHandle = 0;
    answer.Name = block->Name();
    answer.Size = size;
    answer.Handle = ++LastHandle;
    d.PendingWrites[answer.Handle] = std::move(block);
    return answer;
}

void TMemoryStore::WCloseBlock(int32_t outDoc, int32_t handle, int32_t last) {
    TDocument& d = WritableDoc(outDoc);
    if (!Caller.empty())
        d.WriterPeer = Caller;
    auto it = d.PendingWrites.find(handle);
    if (it == d.PendingWrites.end())
        throw TStoreError(TKind::UnknownHandle, "handle " + std::to_string(handle) +
                                                    " was not given for document " +
                                                    std::to_string(outDoc));
    TDocBlock b;
    b.Size = it->second->Size();
    b.Block = std::move(it->second);
    b.Last = last != 0;
    d.PendingWrites.erase(it);
    d.Blocks.push_back(std::move(b));
    d.LastWritten = last != 0;
    WakeReaders(d);
    Trim(outDoc);
}

void TMemoryStore::WCloseDoc(int32_t outDoc) {
    TDocument& d = Doc(outDoc);
    if (d.State != TDocState::Writing)
        throw TStoreError(TKind::InvalidState,
                          "document " + std::to_string(outDoc) + " is no longer being written");
    d.PendingWrites.clear();
    // Readers stop at a block marked last; a document closed without one gets it here.
    if (!d.LastWritten) {
        if (d.Blocks.empty()) {
            std::string error;
            auto block = NewBlock(0, error);
            if (!block)
                throw TStoreError(TKind::NoMemory, error);
            d.Blocks.push_back(TDocBlock{std::move(block), 0, true});
        } else {
            d.Blocks.back().Last = true;
        }
        d.LastWritten = true;
    }
    d.State = TDocState::Finished;
    Note("document " + std::to_string(outDoc) + " finished");
    WakeReaders(d);
    if (Events.DocumentClosed)
        Events.DocumentClosed(outDoc, false);
    Trim(outDoc);
}

void TMemoryStore::WAbortDoc(int32_t outDoc) {
    TDocument& d = Doc(outDoc);
    if (d.State != TDocState::Writing)
        throw TStoreError(TKind::InvalidState,
                          "document " + std::to_string(outDoc) + " is no longer being written");
    Abort(d);
}

bool TMemoryStore::IsDocForExists(int32_t dest) const {
    for (const auto& [id, d] : Docs) {
        auto r = d.Readers.find(dest);
        if (d.State != TDocState::Aborted && r != d.Readers.end() && !r->second.Opened)
            return true;
    }
    return false;
}

int32_t TMemoryStore::PutData(const std::string& data, const std::string& dds, int32_t blockSize,
                              int32_t destModule) {
    if (blockSize <= 0)
        throw TStoreError(TKind::InvalidArgument, "block size must be above 0");
    if (destModule <= 0)
        throw TStoreError(TKind::InvalidArgument, "destination module must be above 0");
    if (!Fits(static_cast<int64_t>(data.size()))) {
        Refused();
        throw TStoreError(TKind::NoMemory, "no memory for " + std::to_string(data.size()) +
                                               " bytes (limit " + std::to_string(Opts.MemoryLimit) +
                                               ")");
    }
    std::vector<TDocBlock> blocks;
    size_t offset = 0;
    do {
        size_t count = std::min(data.size() - offset, static_cast<size_t>(blockSize));
        std::string error;
        auto block = NewBlock(static_cast<int64_t>(count), error);
        if (!block || !block->Write(0, data.data() + offset, static_cast<int64_t>(count), error))
            throw TStoreError(TKind::NoMemory, error);
        offset += count;
        blocks.push_back(TDocBlock{std::move(block), static_cast<int64_t>(count), false});
    } while (offset < data.size());
    blocks.back().Last = true;
    const int32_t job = NextNumber(LastJobId, ReservedJobId, false);
    int32_t doc = NewDocument(0, job, {destModule}, dds);
    TDocument& d = Docs.at(doc);
    d.Blocks = std::move(blocks);
    d.LastWritten = true;
    d.State = TDocState::Finished;
    Note("document " + std::to_string(doc) + " put for module " + std::to_string(destModule) +
         ", " + std::to_string(data.size()) + " bytes");
    if (Events.DocumentAvailable)
        Events.DocumentAvailable(destModule, doc);
    return doc;
}

int32_t TMemoryStore::PutFile(const std::string& path, const std::string& dds, int32_t blockSize,
                              int32_t destModule) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec)
        throw TStoreError(TKind::FileError, "cannot read " + path + ": " + ec.message());
    if (!Fits(static_cast<int64_t>(size))) {
        Refused();
        throw TStoreError(TKind::NoMemory, "no memory for " + path + " (" + std::to_string(size) +
                                               " bytes, limit " + std::to_string(Opts.MemoryLimit) +
                                               ")");
    }
    std::ifstream in(path, std::ios::binary);
    std::string data(size, '\0');
    if (!in || !in.read(data.data(), static_cast<std::streamsize>(size)))
        throw TStoreError(TKind::FileError, "cannot read " + path);
    int32_t doc = PutData(data, dds, blockSize, destModule);
    Note("document " + std::to_string(doc) + " is " + path);
    return doc;
}

std::string TMemoryStore::ListDocs() const {
    std::ostringstream out;
    out << "memory " << Usage->Bytes << " of " << Opts.MemoryLimit << " bytes, " << Usage->Blocks
        << " blocks, " << Docs.size() << " documents\n";
    for (const auto& [id, d] : Docs) {
        int64_t bytes = 0;
        for (const auto& b : d.Blocks)
            bytes += b.Size;
        out << id << " job=" << d.JobId << " from=" << d.Producer
            << " state=" << StateText(static_cast<int>(d.State)) << " blocks=" << d.Blocks.size()
            << " bytes=" << bytes << " for=";
        bool first = true;
        for (const auto& [module, r] : d.Readers) {
            out << (first ? "" : ",") << module << ":" << (r.Opened ? "open" : "pending");
            first = false;
        }
        out << " dds=" << d.Dds << "\n";
    }
    return out.str();
}

std::vector<std::string> TMemoryStore::TakeFinished(int32_t destModule, const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec))
        throw TStoreError(TKind::FileError, "cannot create folder " + folder);
    std::vector<int32_t> ready;
    for (const auto& [id, d] : Docs) {
        auto r = d.Readers.find(destModule);
        if (d.State == TDocState::Finished && r != d.Readers.end() && !r->second.Opened)
            ready.push_back(id);
    }
    std::vector<std::string> files;
    for (int32_t id : ready) {
        TDocument& d = Docs.at(id);
        std::string name = ParamItem(d.Dds, "FileName");
        if (name.empty())
            name = ParamItem(d.Dds, "Name");
        std::string path =
            (std::filesystem::path(folder) / (std::to_string(id) + "_" + SafeFileName(name)))
                .string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<char> buffer;
        for (const auto& b : d.Blocks) {
            std::string error;
            buffer.resize(static_cast<size_t>(b.Size));
            if (!b.Block->Read(0, buffer.data(), b.Size, error))
                throw TStoreError(TKind::FileError, error);
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        }
        std::ofstream ddsOut(path + ".dds", std::ios::binary | std::ios::trunc);
        ddsOut << d.Dds;
        out.close();
        ddsOut.close();
        if (!out || !ddsOut)
            throw TStoreError(TKind::FileError, "cannot write " + path);
        d.Readers.erase(destModule);
        Note("document " + std::to_string(id) + " taken to " + path);
        files.push_back(path);
        if (Events.DocumentTaken)
            Events.DocumentTaken(destModule, id);
        Trim(id);
    }
    return files;
}

} // namespace raduvuz
