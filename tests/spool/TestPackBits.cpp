#include "jobs/PackBits.h"
#include "spool/PackedBytes.h"
#include "spool/RasterSamples.h"
#include "spool/TiffPackBits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

using namespace raduvuz;
using namespace raduvuz::testing;

namespace {

using TBytes = std::vector<uint8_t>;

// One piece packs to exactly libtiff's bytes, which unpack to the piece again.
::testing::AssertionResult PacksAsLibtiff(const uint8_t* piece, int64_t size) {
    TBytes packed(static_cast<size_t>(PackBitsBound(size)));
    packed.resize(static_cast<size_t>(PackBitsPiece(piece, size, packed.data())));
    if (packed != TTiffPackBits::PackPiece(piece, size))
        return ::testing::AssertionFailure() << "not libtiff's bytes";
    if (packed.size() > 65535)
        return ::testing::AssertionFailure() << packed.size() << " packed bytes";
    TBytes back(static_cast<size_t>(size));
    if (!UnpackBitsBlock(packed.data(), static_cast<int64_t>(packed.size()), back.data(), size) ||
        !std::equal(back.begin(), back.end(), piece))
        return ::testing::AssertionFailure() << "does not unpack to itself";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult PacksAsLibtiff(const TBytes& data) {
    return PacksAsLibtiff(data.data(), static_cast<int64_t>(data.size()));
}

// Unpacking item by item with every bound checked: what the fast loops must give.
TUnpackResult PlainUnpack(const TBytes& packed, int64_t targetSize, TBytes& out) {
    const auto size = static_cast<int64_t>(packed.size());
    int64_t i = 0;
    out.clear();
    while (i < size) {
        const int c = packed[static_cast<size_t>(i)];
        const int64_t n = c < 128 ? c + 1 : 257 - c;
        if (c < 128 ? n > size - i - 1 : size - i < 2) {
            return {TUnpackStatus::Truncated, i, static_cast<int64_t>(out.size())};
        }
        if (n > targetSize - static_cast<int64_t>(out.size())) {
            return {TUnpackStatus::Overflow, i, static_cast<int64_t>(out.size())};
        }
        if (c < 128) {
            out.insert(out.end(), packed.begin() + i + 1, packed.begin() + i + 1 + n);
            i += n + 1;
        } else {
            out.insert(out.end(), static_cast<size_t>(n), packed[static_cast<size_t>(i + 1)]);
            i += 2;
        }
    }
    return {TUnpackStatus::Complete, i, static_cast<int64_t>(out.size())};
}

// Runs body once with each set of vector instructions the processor has.
void ForEachVectorSet(const std::function<void(const char*)>& body) {
    const bool saved = PackBitsAvx2();
    for (const bool avx2 : {false, true}) {
        if (UsePackBitsAvx2(avx2)) {
            body(avx2 ? "AVX2" : "SSE2");
        }
    }
    UsePackBitsAvx2(saved);
}

} // namespace

// Every piece of a corpus of raster-like and random data, and random pieces of every length near
// the vector widths and the piece size built from the stretches where the packer's paths meet,
// pack to exactly libtiff's bytes and unpack to themselves.
TEST(PackBits, SameBytesAsLibtiff) {
    struct TSample {
        const char* Name;
        TBytes Data;
    };
    const int64_t size = 400000;
    TSampleRandom stretches(5);
    const std::vector<TSample> samples = {
        {"halftone", HalftoneRaster(size, 1)}, {"blank", BlankRaster(size)},
        {"random", RandomBytes(size, 2)},      {"edge stretches", EdgeStretches(stretches, size)},
        {"photo", PhotoRaster(size, 6)},       {"text", TextRaster(size, 7)},
    };
    const std::array<int64_t, 16> edges = {1,   2,   3,   4,   125, 126,  127,   128,
                                           129, 130, 255, 256, 257, 4096, 32767, 32768};
    std::vector<int64_t> sizes;
    for (int64_t edge : {32, 64, 96, 128, 160, 192, 256, 4096, 32768}) {
        for (int64_t size = edge - 2; size <= std::min<int64_t>(edge + 2, PackBitsPieceSize);
             ++size)
            sizes.push_back(size);
    }
    TSampleRandom lengths(29);
    for (int k = 0; k < 1500; ++k)
        sizes.push_back(lengths.Between(1, k < 1400 ? 700 : PackBitsPieceSize));
    ForEachVectorSet([&](const char* vectors) {
        TSampleRandom random(11);
        int pieces = 0;
        for (const auto& sample : samples) {
            const auto total = static_cast<int64_t>(sample.Data.size());
            int64_t at = 0;
            size_t edge = 0;
            while (at < total) {
                const int64_t wanted =
                    edge < edges.size() ? edges[edge++] : random.Between(1, 32768);
                const int64_t length = std::min(wanted, total - at);
                ASSERT_TRUE(PacksAsLibtiff(sample.Data.data() + at, length))
                    << vectors << ", " << sample.Name << ", piece at " << at << " of " << length;
                at += length;
                ++pieces;
            }
        }
        EXPECT_GT(pieces, 100);
        TSampleRandom stretchPieces(31);
        for (const int64_t size : sizes) {
            ASSERT_TRUE(PacksAsLibtiff(EdgeStretches(stretchPieces, size)))
                << vectors << ", " << size << " bytes";
        }
    });
}

TEST(PackBits, UnpackStaysInsideTheTarget) {
    // Long streams cut short, overflowing late or damaged go through the unchecked fast loops
    // first (the table walk too, on photographs), garbage streams of every length through the
    // careful loop: the result is the plain item-by-item one, and no byte outside the target
    // changes.
    ForEachVectorSet([&](const char* vectors) {
        TSampleRandom random(3);
        for (const TBytes& raster : {HalftoneRaster(120000, 9), PhotoRaster(120000, 9)}) {
            const TBytes valid = PackedBytes(raster);
            for (int round = 0; round < 240; ++round) {
                SCOPED_TRACE(::testing::Message() << vectors << ", round " << round);
                TBytes packed = valid;
                int64_t targetSize = random.Between(0, 120000);
                if (round % 3 == 1) {
                    packed.resize(static_cast<size_t>(random.Between(0, 400)));
                    for (auto& b : packed) {
                        b = random.Byte();
                    }
                    targetSize = random.Between(0, 600);
                } else if (round % 3 == 2) {
                    // Cut short, with one byte damaged on the way.
                    const int64_t cut = random.Between(1, static_cast<int64_t>(valid.size()));
                    packed.resize(static_cast<size_t>(cut));
                    packed[static_cast<size_t>(random.Between(0, cut - 1))] ^= 0x80;
                    targetSize = 120000;
                }
                TGuardedBlock target(static_cast<size_t>(targetSize));
                const TUnpackResult result =
                    UnpackBits(packed.data(), static_cast<int64_t>(packed.size()),
                               target.Block().data(), targetSize);
                TBytes expected;
                const TUnpackResult plain = PlainUnpack(packed, targetSize, expected);
                ASSERT_EQ(result.Status, plain.Status);
                ASSERT_EQ(result.Consumed, plain.Consumed);
                ASSERT_EQ(result.Produced, plain.Produced);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), target.Block().begin()));
                ASSERT_TRUE(target.GuardsIntact());
            }
        }
    });
}
