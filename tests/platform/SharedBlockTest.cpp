#include "platform/SharedBlock.h"

#include "PlatformTestSupport.h"
#include "spool/RasterSamples.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace raduvuz {
namespace {

class SharedBlockTest : public ::testing::Test {
protected:
    void TearDown() override { TSharedBlock::Unlink(Name); }

    std::string Name = test::UniqueName("raduvuz_test_block_");
};

TEST_F(SharedBlockTest, MappingCoversTheObjectsOwnSizeAndBadNamesAndSizesOpenNothing) {
    ASSERT_TRUE(TSharedBlock::Create(Name, 100));
    EXPECT_FALSE(TSharedBlock::Create(Name, 100));
    TSharedBlock block;
    ASSERT_TRUE(block.Open(Name, 4096));
    EXPECT_EQ(block.Size(), 100);
    TSharedBlock::Unlink(Name);

    ASSERT_TRUE(block.Open(Name, 0));
    EXPECT_TRUE(block.IsOpen());
    EXPECT_EQ(block.Size(), 0);
    EXPECT_FALSE(block.Open("", 10));
    EXPECT_FALSE(block.IsOpen());
    EXPECT_FALSE(block.Open(Name, -1));
    EXPECT_FALSE(block.Open("no/slashes/inside", 10));
}

TEST_F(SharedBlockTest, AWrittenBlockIsReadWithoutMappingWithinTheObjectsOwnSize) {
    const std::vector<uint8_t> data = testing::RandomBytes(5000, 1);
    TSharedBlock writer;
    ASSERT_TRUE(writer.Open(Name, 5000));
    EXPECT_EQ(writer.Size(), 5000);
    ASSERT_TRUE(writer.CopyIn(0, data.data(), 5000));
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(writer.Size(), 0);

    // Closing leaves the object to its owner; the store's size counts, not the size claimed.
    TSharedBlockReader reader;
    ASSERT_TRUE(reader.Open(Name, 9000));
    EXPECT_EQ(reader.Size(), 5000);
    std::vector<uint8_t> back(5000, 0);
    ASSERT_TRUE(reader.Read(0, back.data(), 3000));
    ASSERT_TRUE(reader.Read(3000, back.data() + 3000, 2000));
    EXPECT_EQ(back, data);
    EXPECT_TRUE(reader.Read(5000, back.data(), 0));
    EXPECT_FALSE(reader.Read(4999, back.data(), 2));
    EXPECT_FALSE(reader.Read(-1, back.data(), 1));
    EXPECT_FALSE(reader.Read(0, back.data(), -1));
    EXPECT_FALSE(reader.Read(1, back.data(), std::numeric_limits<int64_t>::max()));
    reader.Close();
    EXPECT_FALSE(reader.Read(0, back.data(), 1));

    // Like a mapping, an object that is not there yet is made with the given size.
    const std::string other = Name + "_new";
    TSharedBlockReader fresh;
    ASSERT_TRUE(fresh.Open(other, 64));
    EXPECT_EQ(fresh.Size(), 64);
    uint8_t byte = 1;
    EXPECT_TRUE(fresh.Read(63, &byte, 1));
    EXPECT_EQ(byte, 0);
    fresh.Close();
    TSharedBlock::Unlink(other);

    EXPECT_FALSE(fresh.Open("", 10));
    EXPECT_FALSE(fresh.Open(Name, -1));
    EXPECT_FALSE(fresh.Open("no/slashes/inside", 10));
    EXPECT_EQ(fresh.Size(), 0);
}

} // namespace
} // namespace raduvuz
