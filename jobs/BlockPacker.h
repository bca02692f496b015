#pragma once

#include <cstdint>
#include <functional>

namespace raduvuz {

// Hands out count bytes of a block from offset: either fills scratch (which holds count bytes)
// and returns it, or returns where the bytes already lie. nullptr when they cannot be read. It
// is called from several threads at once, each with scratch of its own.
using TBlockSource = std::function<const uint8_t*(int64_t offset, int64_t count, uint8_t* scratch)>;

// Takes the next packed bytes of the block, in order; false stops the packing.
using TPackedSink = std::function<bool(const uint8_t* data, int64_t count)>;

struct TPackResult {
    bool Ok = false;
    int64_t Packed = 0; // packed bytes the sink took
};

// Packs a block of blockSize bytes piece by piece, giving exactly the bytes PackBitsBlock gives,
// so that packing keeps pace with the store and the disk: helper threads and the calling thread
// pack the block in segments, and the calling thread hands finished ones to the sink in order
// (packing one itself while the next to hand over is not ready). Memory stays bounded whatever
// the block size. Calls from several threads take turns.
TPackResult PackBlockInOrder(int64_t blockSize, const TBlockSource& source,
                             const TPackedSink& sink);

// Helper threads that pack beside the calling thread: by default one per further processor
// core, at most 3 (none on a single core). Takes effect from the next block.
void SetPackHelpers(int count);
int PackHelpers();

} // namespace raduvuz
