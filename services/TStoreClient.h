#pragma once

#include "services/Dispatch.h"

#include <cstdint>
#include <functional>
#include <string>

namespace raduvuz {

// One of the store's signals: something changed that may let a waiting reader or writer go on.
struct TStoreSignal {
    enum class TKind {
        // A document for Module was made, offered again, or has more to read.
        DocumentAvailable,
        // Module (a destination) opened, took out or declined document Doc.
        DocumentTaken,
        // Document Doc was finished, or aborted.
        DocumentClosed,
        // Memory the store refused a writer is free again.
        MemoryFreed
    };
    TKind Kind = TKind::MemoryFreed;
    int32_t Module = 0;
    int32_t Doc = 0;
    bool Aborted = false;
};

// A store call that failed because the store itself is gone: the process that answered the
// module's calls left the bus (killed, or ended), whether or not another owns the name now.
class TStoreGone : public TDispatchError {
public:
    using TDispatchError::TDispatchError;
};

// Typed calls of the document store "RozEza.MemoryMan" over a late-bound object. Every call
// throws TDispatchError when the store fails or cannot be reached, TStoreGone when it failed
// because the store left the bus.
class TStoreClient {
public:
    TStoreClient() = default;
    explicit TStoreClient(TDispatchPtr object) : Object(std::move(object)) {}
    bool Assigned() const { return Object != nullptr; }
    const TDispatchPtr& Dispatch() const { return Object; }

    bool IsMainComputer(const TVariant& name);
    int32_t RNextFindDoc(int32_t module, int32_t doc);
    std::string RGetDocDDS(int32_t doc);
    std::string ROpenDoc(int32_t module, int32_t doc, int32_t& jobId);
    void RAbortDoc(int32_t module, int32_t doc);
    void RCloseDoc(int32_t module, int32_t doc);
    std::string RGetBlock(int32_t module, int32_t doc, int32_t& size, int32_t& handle,
                          int32_t& last);
    void RCloseBlock(int32_t module, int32_t doc, int32_t handle);
    // RCloseBlock sent without waiting for its answer, which FinishPosted looks at later.
    TPendingCallPtr RCloseBlockPosted(int32_t module, int32_t doc, int32_t handle);
    std::string RWSwitchBlock(int32_t module, int32_t inDoc, int32_t outDoc, int32_t& size,
                              int32_t& handle, int32_t& last);
    // RWSwitchBlock sent without waiting; SwitchedBlock takes its answer later.
    TPendingCallPtr RWSwitchBlockPosted(int32_t module, int32_t inDoc, int32_t outDoc);
    std::string SwitchedBlock(TPendingCallPtr& call, int32_t& size, int32_t& handle, int32_t& last);
    int32_t WCreateDoc(int32_t module, int32_t jobId, const std::string& dests,
                       const std::string& dds);
    std::string WGetBlock(int32_t outDoc, int32_t size, int32_t& handle);
    void WCloseBlock(int32_t outDoc, int32_t handle, int32_t last);
    // WCloseBlock sent without waiting for its answer, which FinishPosted looks at later.
    TPendingCallPtr WCloseBlockPosted(int32_t outDoc, int32_t handle, int32_t last);
    // The answer of a posted call, letting go of it (an empty result for none); throws what the
    // call met, as the call itself would have (TStoreGone when the store has left).
    TCallResult FinishPosted(TPendingCallPtr& call, const std::string& method);
    void WCloseDoc(int32_t outDoc);
    void WAbortDoc(int32_t outDoc);
    bool IsDocForExists(int32_t dest);
    // IsDocForExists sent without waiting; FinishPosted takes its answer.
    TPendingCallPtr IsDocForExistsPosted(int32_t dest);

    // Several of the contract's calls in one round trip, where the store offers a call for them
    // (memoryman does); with a store that does not, the single calls one after the other.
    // RNextFindDoc and, for a document found, its DDS (RGetDocDDS).
    int32_t RNextFindDocDDS(int32_t module, int32_t doc, std::string& dds);
    // The end of a document whose last block was written: WCloseBlock of that block, RCloseDoc of
    // inDoc (none for 0), WCloseDoc; the first that fails throws and leaves the rest undone.
    void WFinishDoc(int32_t module, int32_t inDoc, int32_t outDoc, int32_t handle);

    // Tells handler of the store's signals while the result lives; none when the store's
    // binding has no signals. A store that sends none (an older one) never calls it, and a
    // signal whose arguments are not what the contract says is passed over.
    TListeningPtr Listen(std::function<void(const TStoreSignal&)> handler);
    // Whether somebody owns the store's name now; the owner found is the one the next failed
    // call is compared with.
    bool Present();
    // Tells handler when the store's name loses its owner (false) or gets one (true).
    TListeningPtr WatchPresence(std::function<void(bool present)> handler);

private:
    // Makes a call beyond the contract; false, and the call not tried again, when the store
    // does not know it.
    bool CallOffered(bool& offered, const std::string& method, const std::vector<TVariant>& args,
                     const std::string& signature, size_t outs, TCallResult& result);

    TDispatchPtr Object;
    bool OffersFindDDS = true;
    bool OffersFinishDoc = true;
};

} // namespace raduvuz
