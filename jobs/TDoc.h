#pragma once

#include <cstdint>

namespace raduvuz {

// One job passing the module. The module owns its jobs: it removes a job from its list and then
// destroys it, and the destructor releases what the job holds (its row, its spool stream and its
// store documents).
class TDoc {
public:
    TDoc() = default;
    virtual ~TDoc() = default;
    TDoc(const TDoc&) = delete;
    TDoc& operator=(const TDoc&) = delete;

    int32_t JobID = 0;
    int32_t DocID = 0;
    bool Held = false;
};

} // namespace raduvuz
