#pragma once

#include "jobs/PackBits.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace raduvuz::testing {

// A whole block packed piece by piece on one thread: what every writer must match.
inline std::vector<uint8_t> PackedBytes(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> packed(
        static_cast<size_t>(PackBitsBlockBound(static_cast<int64_t>(data.size()))));
    packed.resize(static_cast<size_t>(
        PackBitsBlock(data.data(), static_cast<int64_t>(data.size()), packed.data())));
    return packed;
}

} // namespace raduvuz::testing
