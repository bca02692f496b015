#pragma once

#include "common/Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz {

// A job already routed to a destination by a multiplexing module: the plates (colours) of that
// job sent there so far.
struct TMPrec {
    std::string Name;
    std::string Colors;
    int32_t JobID = 0;
    TDateTime Time = 0;
};

// Recently routed jobs of one destination (the destination number as text).
struct TDestMark {
    std::string Dest;
    std::vector<std::shared_ptr<TMPrec>> Records;
};

} // namespace raduvuz
