#include "platform/TStream.h"

#include <algorithm>

namespace raduvuz {

namespace {

constexpr int64_t kSlice = 65536;

} // namespace

bool ReadFully(TStream& stream, void* buffer, int64_t count) {
    auto* target = static_cast<char*>(buffer);
    while (count > 0) {
        const int64_t slice = std::min(count, kSlice);
        const int64_t moved = stream.Read(target, slice);
        // A stream that claims more than it was asked for has failed as well.
        if (moved <= 0 || moved > slice) {
            return false;
        }
        target += moved;
        count -= moved;
    }
    return true;
}

bool WriteFully(TStream& stream, const void* buffer, int64_t count) {
    const auto* source = static_cast<const char*>(buffer);
    while (count > 0) {
        const int64_t slice = std::min(count, kSlice);
        const int64_t moved = stream.Write(source, slice);
        if (moved <= 0 || moved > slice) {
            return false;
        }
        source += moved;
        count -= moved;
    }
    return true;
}

} // namespace raduvuz
