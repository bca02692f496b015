#include "jobs/BlockPacker.h"
#include "jobs/PackBits.h"
#include "spool/PackedBytes.h"
#include "spool/RasterSamples.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace raduvuz;
using namespace raduvuz::testing;

namespace {

using TBytes = std::vector<uint8_t>;

// Copies into scratch, as the spool writer does with a block of the store.
TBlockSource CopyingSource(const TBytes& data) {
    return [&data](int64_t offset, int64_t count, uint8_t* scratch) {
        std::memcpy(scratch, data.data() + offset, static_cast<size_t>(count));
        return static_cast<const uint8_t*>(scratch);
    };
}

TPackResult PackInto(const TBytes& data, const TBlockSource& source, TBytes& out) {
    out.clear();
    return PackBlockInOrder(static_cast<int64_t>(data.size()), source,
                            [&out](const uint8_t* bytes, int64_t count) {
                                out.insert(out.end(), bytes, bytes + count);
                                return true;
                            });
}

class BlockPackerTest : public ::testing::Test {
protected:
    void TearDown() override { SetPackHelpers(Helpers); }
    const int Helpers = PackHelpers();
};

} // namespace

// Whatever the number of threads and wherever the block ends, the sink gets the bytes
// PackBitsBlock gives, in order; segments that finish out of order are held back.
TEST_F(BlockPackerTest, GivesTheSingleThreadedBytesInOrder) {
    const TBytes halftone = HalftoneRaster(5 << 20, 7);
    for (int helpers : {0, 1, 3}) {
        SetPackHelpers(helpers);
        for (int64_t size : {int64_t(0), int64_t(1), PackBitsPieceSize - 1, int64_t(1) << 20,
                             (int64_t(5) << 20) - 12345}) {
            SCOPED_TRACE(::testing::Message() << helpers << " helpers, " << size << " bytes");
            const TBytes data(halftone.begin(), halftone.begin() + size);
            TBytes out;
            const TPackResult copied = PackInto(data, CopyingSource(data), out);
            EXPECT_TRUE(copied.Ok);
            EXPECT_EQ(out, PackedBytes(data));
            EXPECT_EQ(copied.Packed, static_cast<int64_t>(out.size()));

            // A source that hands out the block itself gives the same.
            const TPackResult direct = PackInto(
                data, [&data](int64_t offset, int64_t, uint8_t*) { return data.data() + offset; },
                out);
            EXPECT_TRUE(direct.Ok);
            EXPECT_EQ(out, PackedBytes(data));
        }
    }
}

// A failed read or write fails the block without hanging the threads, which then pack the next
// block as before.
TEST_F(BlockPackerTest, AFailedReadOrWriteFailsOnlyThatBlock) {
    const TBytes data = HalftoneRaster(3 << 20, 3);
    for (int helpers : {0, 2}) {
        SetPackHelpers(helpers);
        SCOPED_TRACE(::testing::Message() << helpers << " helpers");
        TBytes out;
        std::atomic<int> reads = 0;
        const TBlockSource failsLate = [&](int64_t offset, int64_t count,
                                           uint8_t* scratch) -> const uint8_t* {
            if (offset >= (int64_t(2) << 20))
                return nullptr;
            ++reads;
            std::memcpy(scratch, data.data() + offset, static_cast<size_t>(count));
            return scratch;
        };
        EXPECT_FALSE(PackInto(data, failsLate, out).Ok);
        EXPECT_GT(reads.load(), 0);

        const TBlockSource throws = [](int64_t, int64_t, uint8_t*) -> const uint8_t* {
            throw std::runtime_error("gone");
        };
        EXPECT_FALSE(PackInto(data, throws, out).Ok);
        // A block of one segment, which the caller packs alone, fails the same ways.
        const auto takes = [](const uint8_t*, int64_t) { return true; };
        const auto refuses = [](const uint8_t*, int64_t) { return false; };
        EXPECT_FALSE(PackBlockInOrder(64 << 10, throws, takes).Ok);
        EXPECT_FALSE(PackBlockInOrder(64 << 10, CopyingSource(data), refuses).Ok);
        EXPECT_TRUE(PackBlockInOrder(64 << 10, CopyingSource(data), takes).Ok);

        int writes = 0;
        TBytes taken;
        const TPackResult refused =
            PackBlockInOrder(static_cast<int64_t>(data.size()), CopyingSource(data),
                             [&](const uint8_t* bytes, int64_t count) {
                                 if (++writes > 2)
                                     return false;
                                 taken.insert(taken.end(), bytes, bytes + count);
                                 return true;
                             });
        EXPECT_FALSE(refused.Ok);
        EXPECT_EQ(writes, 3);
        EXPECT_EQ(refused.Packed, static_cast<int64_t>(taken.size()));

        EXPECT_TRUE(PackInto(data, CopyingSource(data), out).Ok);
        EXPECT_EQ(out, PackedBytes(data));
    }
}

// Two writers at once (two modules' jobs in one process) each get their own block's bytes.
TEST_F(BlockPackerTest, CallsFromTwoThreadsTakeTurns) {
    SetPackHelpers(1);
    const TBytes a = HalftoneRaster(2 << 20, 11);
    const TBytes b = HalftoneRaster(2 << 20, 12);
    const TBytes expectA = PackedBytes(a);
    const TBytes expectB = PackedBytes(b);
    std::atomic<int> wrong = 0;
    const auto run = [&wrong](const TBytes& data, const TBytes& expected) {
        TBytes out;
        for (int i = 0; i < 5; ++i) {
            if (!PackInto(data, CopyingSource(data), out).Ok || out != expected)
                ++wrong;
        }
    };
    std::thread other(run, std::cref(b), std::cref(expectB));
    run(a, expectA);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}
