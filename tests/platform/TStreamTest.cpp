#include "platform/TStream.h"
#include "spool/MemoryStream.h"
#include "spool/RasterSamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace raduvuz;
using raduvuz::testing::RandomBytes;
using raduvuz::testing::TMemoryStream;

TEST(TStream, ReadFullyRepeatsInSlicesOfAtMost64KiBUntilItHasAllOrTheStreamFails) {
    const std::vector<uint8_t> data = RandomBytes(200000, 1);
    TMemoryStream stream(data);
    stream.MaxPerCall = 100000;
    std::vector<uint8_t> buffer(data.size());
    ASSERT_TRUE(ReadFully(stream, buffer.data(), static_cast<int64_t>(buffer.size())));
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(stream.LargestRequest, 65536);
    EXPECT_EQ(stream.Calls, 4);

    // Short reads are continued where they stopped.
    TMemoryStream slow(data);
    slow.MaxPerCall = 1000;
    std::vector<uint8_t> part(5000);
    ASSERT_TRUE(ReadFully(slow, part.data(), 5000));
    EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin()));
    EXPECT_EQ(slow.Calls, 5);

    // A stream that runs dry, or claims more than it moved, fails the read.
    TMemoryStream dry(RandomBytes(100, 2));
    dry.MaxPerCall = 30;
    EXPECT_FALSE(ReadFully(dry, buffer.data(), 101));
    EXPECT_EQ(dry.Calls, 5);

    TMemoryStream liar(RandomBytes(100, 2));
    liar.MaxPerCall = 30;
    liar.Overclaim = true;
    EXPECT_FALSE(ReadFully(liar, buffer.data(), 50));

    TMemoryStream untouched(RandomBytes(10, 3));
    EXPECT_TRUE(ReadFully(untouched, nullptr, 0));
    EXPECT_TRUE(ReadFully(untouched, nullptr, -5));
    EXPECT_EQ(untouched.Calls, 0);
}

TEST(TStream, WriteFullyMovesEverythingOrReportsFailure) {
    const std::vector<uint8_t> data = RandomBytes(150000, 4);
    TMemoryStream stream;
    stream.MaxPerCall = 70000;
    ASSERT_TRUE(WriteFully(stream, data.data(), static_cast<int64_t>(data.size())));
    EXPECT_EQ(stream.Data, data);
    EXPECT_EQ(stream.LargestRequest, 65536);

    TMemoryStream full;
    full.Capacity = 1000;
    EXPECT_FALSE(WriteFully(full, data.data(), 2000));
    EXPECT_EQ(full.Data.size(), 1000u);
    EXPECT_TRUE(WriteFully(full, data.data(), 0));
}
