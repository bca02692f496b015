#pragma once

#include "common/Types.h"

#include <cstdint>
#include <string>

namespace raduvuz {

// A job already routed to a destination by a multiplexing module: the plates (colours) of that
// job sent there so far.
struct TMPrec {
    std::string Name;
    std::string Colors;
    int32_t JobID = 0;
    TDateTime Time = 0;
};

} // namespace raduvuz
