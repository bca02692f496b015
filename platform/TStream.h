#pragma once

#include <cstdint>

namespace raduvuz {

// A byte stream: spool files and the streams of the configuration file.
class TStream {
public:
    virtual ~TStream() = default;
    // Moves at most count bytes; 0 at the end or on failure.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
};

// Repeats the stream's reads or writes (slices of at most 65,536 bytes) until count bytes are
// moved; false as soon as one call moves nothing; true at once for a count below 1.
bool ReadFully(TStream& stream, void* buffer, int64_t count);
bool WriteFully(TStream& stream, const void* buffer, int64_t count);

} // namespace raduvuz
