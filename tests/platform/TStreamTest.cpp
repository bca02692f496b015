#include "platform/TStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace raduvuz;

namespace {

// A stream over a byte vector that moves at most Step bytes per call and records its calls.
class TChunkStream : public TStream {
public:
    TChunkStream(std::vector<char> data, int64_t step) : Data(std::move(data)), Step(step) {}

    int64_t Read(void* buffer, int64_t count) override {
        Largest = std::max(Largest, count);
        ++Calls;
        const int64_t moved = std::min({count, Step, static_cast<int64_t>(Data.size()) - Pos});
        std::copy_n(Data.data() + Pos, moved, static_cast<char*>(buffer));
        Pos += moved;
        return Overclaim ? count + 1 : moved;
    }
    int64_t Write(const void* buffer, int64_t count) override {
        Largest = std::max(Largest, count);
        ++Calls;
        const int64_t moved = std::min({count, Step, Capacity - Pos});
        const char* source = static_cast<const char*>(buffer);
        Data.insert(Data.end(), source, source + moved);
        Pos += moved;
        return moved;
    }

    std::vector<char> Data;
    int64_t Step;
    int64_t Pos = 0;
    int64_t Capacity = 1 << 30;
    int64_t Largest = 0;
    int Calls = 0;
    bool Overclaim = false;
};

std::vector<char> Pattern(size_t size) {
    std::vector<char> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>(i * 7 + i / 251);
    }
    return data;
}

} // namespace

TEST(TStream, ReadFullyRepeatsInSlicesOfAtMost64KiBUntilItHasAllOrTheStreamFails) {
    const std::vector<char> data = Pattern(200000);
    TChunkStream stream(data, 100000);
    std::vector<char> buffer(data.size());
    ASSERT_TRUE(ReadFully(stream, buffer.data(), static_cast<int64_t>(buffer.size())));
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(stream.Largest, 65536);
    EXPECT_EQ(stream.Calls, 4);

    // Short reads are continued where they stopped.
    TChunkStream slow(data, 1000);
    std::vector<char> part(5000);
    ASSERT_TRUE(ReadFully(slow, part.data(), 5000));
    EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin()));
    EXPECT_EQ(slow.Calls, 5);

    // A stream that runs dry, or claims more than it moved, fails the read.
    TChunkStream dry(Pattern(100), 30);
    EXPECT_FALSE(ReadFully(dry, buffer.data(), 101));
    EXPECT_EQ(dry.Calls, 5);

    TChunkStream liar(Pattern(100), 30);
    liar.Overclaim = true;
    EXPECT_FALSE(ReadFully(liar, buffer.data(), 50));

    TChunkStream untouched(Pattern(10), 10);
    EXPECT_TRUE(ReadFully(untouched, nullptr, 0));
    EXPECT_TRUE(ReadFully(untouched, nullptr, -5));
    EXPECT_EQ(untouched.Calls, 0);
}

TEST(TStream, WriteFullyMovesEverythingOrReportsFailure) {
    const std::vector<char> data = Pattern(150000);
    TChunkStream stream({}, 70000);
    ASSERT_TRUE(WriteFully(stream, data.data(), static_cast<int64_t>(data.size())));
    EXPECT_EQ(stream.Data, data);
    EXPECT_EQ(stream.Largest, 65536);

    TChunkStream full({}, 70000);
    full.Capacity = 1000;
    EXPECT_FALSE(WriteFully(full, data.data(), 2000));
    EXPECT_EQ(full.Data.size(), 1000u);
    EXPECT_TRUE(WriteFully(full, data.data(), 0));
}
