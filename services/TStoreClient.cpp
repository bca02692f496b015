#include "services/TStoreClient.h"

#include <exception>

namespace raduvuz {

namespace {

[[noreturn]] void RethrowStoreError(IDispatchObject& object, const std::string& method,
                                    const TDispatchError& e) {
    // A stale error text helps nobody: say that the store is gone, and what the call saw.
    if (object.PeerGone())
        throw TStoreGone(e.Name, "the document store " + object.Reference() + " has gone (" +
                                     method + ": " + e.what() + ")");
    throw;
}

IDispatchObject& StoreObject(const TDispatchPtr& object, const std::string& method) {
    if (!object)
        throw TDispatchError(kUnexpectedError, "No document store object for the call " + method);
    return *object;
}

void CheckOuts(const TCallResult& result, const std::string& method, size_t outs) {
    if (result.Outs.size() < outs)
        throw TDispatchError(kUnexpectedError, "The document store answered " + method + " with " +
                                                   std::to_string(result.Outs.size()) +
                                                   " out values instead of " +
                                                   std::to_string(outs));
}

TCallResult Invoke(const TDispatchPtr& object, const std::string& method,
                   const std::vector<TVariant>& args, const std::string& signature,
                   size_t outs = 0) {
    StoreObject(object, method);
    TCallResult result;
    try {
        result = object->Call(method, args, signature);
    } catch (const TDispatchError& e) {
        RethrowStoreError(*object, method, e);
    }
    CheckOuts(result, method, outs);
    return result;
}

// A block call's answer: the block's name, and its size, handle and last flag.
std::string BlockOf(const TCallResult& r, int32_t& size, int32_t& handle, int32_t& last) {
    size = VariantToInt(r.Outs[0]);
    handle = VariantToInt(r.Outs[1]);
    last = VariantToInt(r.Outs[2]);
    return VariantToText(r.Result);
}

} // namespace

bool TStoreClient::IsMainComputer(const TVariant& name) {
    return VariantToBool(Invoke(Object, "IsMainComputer", {name}, "v").Result);
}

int32_t TStoreClient::RNextFindDoc(int32_t module, int32_t doc) {
    return VariantToInt(Invoke(Object, "RNextFindDoc", {module, doc}, "ii").Result);
}

std::string TStoreClient::RGetDocDDS(int32_t doc) {
    return VariantToText(Invoke(Object, "RGetDocDDS", {doc}, "i").Result);
}

std::string TStoreClient::ROpenDoc(int32_t module, int32_t doc, int32_t& jobId) {
    TCallResult r = Invoke(Object, "ROpenDoc", {module, doc}, "ii", 1);
    std::string dds = VariantToText(r.Result);
    jobId = VariantToInt(r.Outs[0]);
    return dds;
}

void TStoreClient::RAbortDoc(int32_t module, int32_t doc) {
    Invoke(Object, "RAbortDoc", {module, doc}, "ii");
}

void TStoreClient::RCloseDoc(int32_t module, int32_t doc) {
    Invoke(Object, "RCloseDoc", {module, doc}, "ii");
}

std::string TStoreClient::RGetBlock(int32_t module, int32_t doc, int32_t& size, int32_t& handle,
                                    int32_t& last) {
    return BlockOf(Invoke(Object, "RGetBlock", {module, doc}, "ii", 3), size, handle, last);
}

void TStoreClient::RCloseBlock(int32_t module, int32_t doc, int32_t handle) {
    Invoke(Object, "RCloseBlock", {module, doc, handle}, "iii");
}

TPendingCallPtr TStoreClient::RCloseBlockPosted(int32_t module, int32_t doc, int32_t handle) {
    return StoreObject(Object, "RCloseBlock").Post("RCloseBlock", {module, doc, handle}, "iii");
}

std::string TStoreClient::RWSwitchBlock(int32_t module, int32_t inDoc, int32_t outDoc,
                                        int32_t& size, int32_t& handle, int32_t& last) {
    return BlockOf(Invoke(Object, "RWSwitchBlock", {module, inDoc, outDoc}, "iii", 3), size, handle,
                   last);
}

TPendingCallPtr TStoreClient::RWSwitchBlockPosted(int32_t module, int32_t inDoc, int32_t outDoc) {
    return StoreObject(Object, "RWSwitchBlock")
        .Post("RWSwitchBlock", {module, inDoc, outDoc}, "iii");
}

std::string TStoreClient::SwitchedBlock(TPendingCallPtr& call, int32_t& size, int32_t& handle,
                                        int32_t& last) {
    const TCallResult r = FinishPosted(call, "RWSwitchBlock");
    CheckOuts(r, "RWSwitchBlock", 3);
    return BlockOf(r, size, handle, last);
}

int32_t TStoreClient::WCreateDoc(int32_t module, int32_t jobId, const std::string& dests,
                                 const std::string& dds) {
    return VariantToInt(Invoke(Object, "WCreateDoc", {module, jobId, dests, dds}, "iiss").Result);
}

std::string TStoreClient::WGetBlock(int32_t outDoc, int32_t size, int32_t& handle) {
    TCallResult r = Invoke(Object, "WGetBlock", {outDoc, size}, "ii", 1);
    std::string name = VariantToText(r.Result);
    handle = VariantToInt(r.Outs[0]);
    return name;
}

void TStoreClient::WCloseBlock(int32_t outDoc, int32_t handle, int32_t last) {
    Invoke(Object, "WCloseBlock", {outDoc, handle, last}, "iii");
}

TPendingCallPtr TStoreClient::WCloseBlockPosted(int32_t outDoc, int32_t handle, int32_t last) {
    return StoreObject(Object, "WCloseBlock").Post("WCloseBlock", {outDoc, handle, last}, "iii");
}

TCallResult TStoreClient::FinishPosted(TPendingCallPtr& call, const std::string& method) {
    if (!call)
        return {};
    const TPendingCallPtr posted = std::move(call);
    try {
        return posted->Result();
    } catch (const TDispatchError& e) {
        if (!Object)
            throw;
        RethrowStoreError(*Object, method, e);
    }
}

void TStoreClient::WCloseDoc(int32_t outDoc) {
    Invoke(Object, "WCloseDoc", {outDoc}, "i");
}

void TStoreClient::WAbortDoc(int32_t outDoc) {
    Invoke(Object, "WAbortDoc", {outDoc}, "i");
}

bool TStoreClient::IsDocForExists(int32_t dest) {
    return VariantToBool(Invoke(Object, "IsDocForExists", {dest}, "i").Result);
}

TPendingCallPtr TStoreClient::IsDocForExistsPosted(int32_t dest) {
    return StoreObject(Object, "IsDocForExists").Post("IsDocForExists", {dest}, "i");
}

bool TStoreClient::CallOffered(bool& offered, const std::string& method,
                               const std::vector<TVariant>& args, const std::string& signature,
                               size_t outs, TCallResult& result) {
    if (!offered)
        return false;
    try {
        result = Invoke(Object, method, args, signature, outs);
        return true;
    } catch (const TStoreGone&) {
        throw;
    } catch (const TDispatchError& e) {
        // A store without the call did nothing with it.
        if (e.Name != kUnknownMethodError)
            throw;
        offered = false;
        return false;
    }
}

int32_t TStoreClient::RNextFindDocDDS(int32_t module, int32_t doc, std::string& dds) {
    TCallResult r;
    if (CallOffered(OffersFindDDS, "RNextFindDocDDS", {module, doc}, "ii", 1, r)) {
        dds = VariantToText(r.Outs[0]);
        return VariantToInt(r.Result);
    }
    const int32_t next = RNextFindDoc(module, doc);
    dds = next > 0 ? RGetDocDDS(next) : std::string();
    return next;
}

void TStoreClient::WFinishDoc(int32_t module, int32_t inDoc, int32_t outDoc, int32_t handle) {
    TCallResult r;
    if (CallOffered(OffersFinishDoc, "WFinishDoc", {module, inDoc, outDoc, handle}, "iiii", 0, r))
        return;
    WCloseBlock(outDoc, handle, 1);
    if (inDoc != 0)
        RCloseDoc(module, inDoc);
    WCloseDoc(outDoc);
}

TListeningPtr TStoreClient::Listen(std::function<void(const TStoreSignal&)> handler) {
    if (!Object)
        return nullptr;
    return Object->Listen("RozEza.MemoryMan",
                          {"DocumentAvailable", "DocumentTaken", "DocumentClosed", "MemoryFreed"},
                          [handler = std::move(handler)](const std::string& member,
                                                         const std::vector<TVariant>& args) {
                              TStoreSignal signal;
                              try {
                                  if (member == "DocumentAvailable" || member == "DocumentTaken") {
                                      signal.Kind = member == "DocumentAvailable"
                                                        ? TStoreSignal::TKind::DocumentAvailable
                                                        : TStoreSignal::TKind::DocumentTaken;
                                      signal.Module = VariantToInt(args.at(0));
                                      signal.Doc = VariantToInt(args.at(1));
                                  } else if (member == "DocumentClosed") {
                                      signal.Kind = TStoreSignal::TKind::DocumentClosed;
                                      signal.Doc = VariantToInt(args.at(0));
                                      signal.Aborted = VariantToBool(args.at(1));
                                  } else if (member == "MemoryFreed") {
                                      signal.Kind = TStoreSignal::TKind::MemoryFreed;
                                  } else {
                                      return;
                                  }
                              } catch (const std::exception&) {
                                  // Arguments the store never sends: not one of its signals.
                                  return;
                              }
                              handler(signal);
                          });
}

bool TStoreClient::Present() {
    return Object && Object->PeerPresent();
}

TListeningPtr TStoreClient::WatchPresence(std::function<void(bool present)> handler) {
    if (!Object)
        return nullptr;
    return Object->WatchPeer(std::move(handler));
}

} // namespace raduvuz
