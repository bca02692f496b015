#pragma once

#include <cstdint>

namespace raduvuz {

// Spool files pack a block in pieces of this size, each piece on its own.
inline constexpr int64_t PackBitsPieceSize = 32768;

// Room the packer may need for count input bytes (the worst case stays well below this).
constexpr int64_t PackBitsBound(int64_t count) {
    return count + count / 2 + 16;
}

// Room for a whole block packed piece by piece.
constexpr int64_t PackBitsBlockBound(int64_t count) {
    const int64_t full = count / PackBitsPieceSize;
    const int64_t rest = count % PackBitsPieceSize;
    return full * PackBitsBound(PackBitsPieceSize) + PackBitsBound(rest);
}

// Packs one piece of at most PackBitsPieceSize bytes, giving the bytes of the spool writer's
// state machine (libtiff's); target holds at least PackBitsBound(count) bytes. To go fast it may
// write scratch bytes past the packed size (within the bound), which a next piece overwrites.
// Returns the packed size (0 for no input).
int64_t PackBitsPiece(const uint8_t* source, int64_t count, uint8_t* target);

// Packs a block as consecutive pieces of PackBitsPieceSize bytes into target, which holds at
// least PackBitsBlockBound(count) bytes. Returns the total packed size.
int64_t PackBitsBlock(const uint8_t* source, int64_t count, uint8_t* target);

enum class TUnpackStatus {
    Complete,  // every source byte was unpacked
    Truncated, // the last item lacks data; Consumed stops at its count byte
    Overflow,  // an item would pass targetSize; Consumed stops at that item, none of it written
};

struct TUnpackResult {
    TUnpackStatus Status = TUnpackStatus::Complete;
    int64_t Consumed = 0;
    int64_t Produced = 0;
};

// Unpacks the items of source into target and never writes at or past targetSize. A count
// byte of -128 repeats its byte 129 times. To go fast it may write scratch bytes beyond
// Produced (but below targetSize), so callers use only the first Produced bytes.
TUnpackResult UnpackBits(const uint8_t* source, int64_t sourceSize, uint8_t* target,
                         int64_t targetSize);

// Unpacks a whole packed block; true only when it fills exactly targetSize bytes.
bool UnpackBitsBlock(const uint8_t* source, int64_t sourceSize, uint8_t* target,
                     int64_t targetSize);

// The codec uses AVX2 where the processor has it, else SSE2; both give the same bytes. Tests and
// benchmarks switch to SSE2 to check the other way; false when AVX2 is asked for and missing.
bool UsePackBitsAvx2(bool use);
bool PackBitsAvx2();

} // namespace raduvuz
