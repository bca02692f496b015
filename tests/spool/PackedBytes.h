#pragma once

#include "jobs/PackBits.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
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

// A target of size bytes with guard bytes on both sides, to see stray writes.
struct TGuardedBlock {
    static constexpr uint8_t GuardByte = 0xEE;
    static constexpr size_t GuardSize = 4096;
    explicit TGuardedBlock(size_t size) : Buffer(GuardSize + size + GuardSize, GuardByte) {}
    std::span<uint8_t> Block() {
        return {Buffer.data() + GuardSize, Buffer.size() - 2 * GuardSize};
    }
    bool GuardsIntact() const {
        const auto intact = [](uint8_t b) { return b == GuardByte; };
        return std::all_of(Buffer.begin(), Buffer.begin() + GuardSize, intact) &&
               std::all_of(Buffer.end() - GuardSize, Buffer.end(), intact);
    }
    std::vector<uint8_t> Buffer;
};

} // namespace raduvuz::testing
