#pragma once

#include "platform/TStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace raduvuz::testing {

// A stream over bytes in memory. Each call moves at most MaxPerCall bytes, so callers must
// repeat short reads and writes the way a pipe or a slow disk makes them.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> data) : Data(std::move(data)) {}

    int64_t Read(void* buffer, int64_t count) override {
        LargestRequest = std::max(LargestRequest, count);
        ++Calls;
        const int64_t available = static_cast<int64_t>(Data.size()) - Position;
        const int64_t n = std::max<int64_t>(0, std::min({count, available, MaxPerCall}));
        if (n > 0) {
            std::memcpy(buffer, Data.data() + Position, static_cast<size_t>(n));
        }
        Position += n;
        return Overclaim ? count + 1 : n;
    }

    int64_t Write(const void* buffer, int64_t count) override {
        LargestRequest = std::max(LargestRequest, count);
        ++Calls;
        const int64_t n = std::max<int64_t>(0, std::min({count, MaxPerCall, Capacity - Position}));
        if (Position + n > static_cast<int64_t>(Data.size())) {
            Data.resize(static_cast<size_t>(Position + n));
        }
        if (n > 0) {
            std::memcpy(Data.data() + Position, buffer, static_cast<size_t>(n));
        }
        Position += n;
        return n;
    }

    std::vector<uint8_t> Data;
    int64_t Position = 0;
    int64_t MaxPerCall = 65536;
    // The largest count any single call was asked to move.
    int64_t LargestRequest = 0;
    int Calls = 0;
    // Writes stop here, as on a full disk.
    int64_t Capacity = INT64_MAX;
    // Reads claim one byte more than they moved, as a broken stream might.
    bool Overclaim = false;
};

} // namespace raduvuz::testing
