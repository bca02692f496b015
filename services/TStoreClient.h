#pragma once

#include "services/Dispatch.h"

#include <cstdint>
#include <string>

namespace raduvuz {

// Typed calls of the document store "RozEza.MemoryMan" over a late-bound object. Every call
// throws TDispatchError when the store fails or cannot be reached.
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
    std::string RWSwitchBlock(int32_t module, int32_t inDoc, int32_t outDoc, int32_t& size,
                              int32_t& handle, int32_t& last);
    int32_t WCreateDoc(int32_t module, int32_t jobId, const std::string& dests,
                       const std::string& dds);
    std::string WGetBlock(int32_t outDoc, int32_t size, int32_t& handle);
    void WCloseBlock(int32_t outDoc, int32_t handle, int32_t last);
    void WCloseDoc(int32_t outDoc);
    void WAbortDoc(int32_t outDoc);
    bool IsDocForExists(int32_t dest);

private:
    TDispatchPtr Object;
};

} // namespace raduvuz
