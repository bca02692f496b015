#include "jobs/PackBits.h"
#include "jobs/SpoolFile.h"
#include "tests/fuzz_common/FuzzCheck.h"
#include "tests/spool/MemoryStream.h"
#include "tests/spool/PackedBytes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace raduvuz;

namespace {

// Blocks beyond this end the run: the input cannot describe much more anyway.
constexpr int32_t MaxBlockSize = 1 << 20;

} // namespace

// The input is a spool file. Every block the reader accepts must lie inside its target, and
// must pack and unpack to itself again.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    testing::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
    // Odd slice sizes cut items at slice ends, which the reader must carry over.
    stream.MaxPerCall = size % 3 == 0 ? 7 : 65536;
    static const TTaggedList termKeys = {{"K3", 3}, {"K9", 9}, {"K3", 4}};
    std::string dds;
    TDateTime created = 0;
    if (!ReadSpoolHeader(stream, termKeys, dds, created)) {
        return 0;
    }
    for (int record = 0; record < 64; ++record) {
        int32_t blockSize = 0;
        if (!ReadSpoolBlockSize(stream, blockSize) || blockSize < 0 || blockSize > MaxBlockSize) {
            break;
        }
        testing::TGuardedBlock target(static_cast<size_t>(blockSize));
        const std::span<uint8_t> block = target.Block();
        int32_t last = 0;
        const bool ok = ReadSpoolBlock(stream, block, last);
        Check(target.GuardsIntact());
        Check(stream.LargestRequest <= 65536);
        if (!ok) {
            break;
        }
        std::vector<uint8_t> packed(static_cast<size_t>(PackBitsBlockBound(blockSize)));
        const int64_t packedSize = PackBitsBlock(block.data(), blockSize, packed.data());
        Check(packedSize <= 2 * static_cast<int64_t>(blockSize));
        std::vector<uint8_t> back(block.size());
        Check(UnpackBitsBlock(packed.data(), packedSize, back.data(), blockSize));
        Check(std::equal(back.begin(), back.end(), block.begin()));
        if (last != 0) {
            break;
        }
    }
    return 0;
}
