#include "jobs/PackBits.h"
#include "jobs/SpoolFile.h"
#include "platform/PlatformTestSupport.h"
#include "platform/SharedBlock.h"
#include "platform/TFileStream.h"
#include "spool/MemoryStream.h"
#include "spool/PackedBytes.h"
#include "spool/RasterSamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace raduvuz;
using namespace raduvuz::testing;
using raduvuz::test::ReadTextFile;
using raduvuz::test::TTempFolder;
using raduvuz::test::UniqueName;
using raduvuz::test::WriteTextFile;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes ReadFile(const std::string& path) {
    const std::string bytes = ReadTextFile(path);
    return TBytes(bytes.begin(), bytes.end());
}

// The file's numbers are little-endian, as this machine's are.
template <typename T> void Put(TBytes& bytes, T value) {
    const auto* first = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), first, first + sizeof value);
}

TBytes HeaderBytes(const std::string& text, double created) {
    TBytes bytes;
    Put<int32_t>(bytes, static_cast<int32_t>(text.size()));
    bytes.insert(bytes.end(), text.begin(), text.end());
    Put<double>(bytes, created);
    return bytes;
}

using THeader = std::pair<std::string, TDateTime>;

// What the reader takes of a header, or nothing when it refuses it; created is the caller's
// value, which a header without its date leaves as it was.
std::optional<THeader> ReadHeader(TStream& stream, const TTaggedList& keys,
                                  TDateTime created = -1) {
    std::string dds;
    if (!ReadSpoolHeader(stream, keys, dds, created))
        return std::nullopt;
    return THeader(dds, created);
}

// The part of a block record after BlockSize; its PackedSize is the data's unless given.
TBytes RecordTail(const TBytes& packed, int32_t last, std::optional<int32_t> packedSize = {}) {
    TBytes bytes;
    Put<int32_t>(bytes, packedSize.value_or(static_cast<int32_t>(packed.size())));
    bytes.insert(bytes.end(), packed.begin(), packed.end());
    Put<int32_t>(bytes, last);
    return bytes;
}

// Blocks with their last flags, as the records of a file give them.
using TRecords = std::vector<std::pair<TBytes, int32_t>>;

TRecords LastOnLast(const std::vector<TBytes>& blocks) {
    TRecords records;
    for (size_t k = 0; k < blocks.size(); ++k)
        records.emplace_back(blocks[k], k + 1 == blocks.size() ? 1 : 0);
    return records;
}

// Reads every block record up to the end of the stream, each into a guarded target.
TRecords ReadRecords(TStream& reader) {
    TRecords records;
    for (int32_t size = 0; ReadSpoolBlockSize(reader, size);) {
        TGuardedBlock target(static_cast<size_t>(size));
        int32_t last = -1;
        if (!ReadSpoolBlock(reader, target.Block(), last)) {
            ADD_FAILURE() << "block " << records.size();
            break;
        }
        EXPECT_TRUE(target.GuardsIntact()) << "block " << records.size();
        records.emplace_back(TBytes(target.Block().begin(), target.Block().end()), last);
    }
    return records;
}

void WriteSpool(const std::string& path, const std::string& dds, const TTaggedList& keys,
                TDateTime created, const std::vector<TBytes>& blocks) {
    TFileStream writer;
    ASSERT_TRUE(writer.Open(path, TFileStream::TMode::CreateExclusive));
    ASSERT_TRUE(WriteSpoolHeader(writer, dds, keys, created));
    for (size_t k = 0; k < blocks.size(); ++k)
        ASSERT_TRUE(WriteSpoolBlock(writer, blocks[k], k + 1 == blocks.size() ? 1 : 0));
}

// A named block of the store that is removed at the end of the test.
class TStoreBlock {
public:
    explicit TStoreBlock(int64_t size) { Ok = Block.Open(Name, size); }
    ~TStoreBlock() {
        Block.Close();
        TSharedBlock::Unlink(Name);
    }
    std::string Name = UniqueName("raduvuz_test_spool_");
    TSharedBlock Block;
    bool Ok = false;
};

class SpoolFileTest : public ::testing::Test {
protected:
    TTempFolder Dir;
    const TTaggedList TermKeys = {{"K7", 7}, {"K3", 3}, {"K3b", 3}, {"Zero", 0}};
};

} // namespace

// The fixture test writes and reads a device as its key; here the key K3 no longer belongs to any
// terminator.
TEST_F(SpoolFileTest, HeaderTranslatesDevicesToKeysAndBack) {
    TMemoryStream file(HeaderBytes("Name=A;Device=K3", 45000.5));
    EXPECT_EQ(ReadHeader(file, {{"K7", 7}}), THeader("Name=A", 45000.5));

    // Several items: unknown numbers are dropped, the first entry of a number wins, and a
    // word counts as terminator 0.
    EXPECT_EQ(DevicesToTermKeys("Device=3,9,7,x;Name=B", TermKeys), "Device=K3,K7,Zero;Name=B");
    EXPECT_EQ(DevicesToTermKeys("Name=B;Device=9", TermKeys), "Name=B");
    // Keys are compared with their letter case.
    EXPECT_EQ(TermKeysToDevices("Device=k3,K7,K3b;Name=B", TermKeys), "Device=7,3;Name=B");
    EXPECT_EQ(TermKeysToDevices("Device=k3", TermKeys), "");

    // A text without "Device" is stored and read back exactly as it was.
    const std::string odd = "Name= odd ;;Color=\"C, M\";x";
    TMemoryStream plain;
    ASSERT_TRUE(WriteSpoolHeader(plain, odd, TermKeys, 1.25));
    EXPECT_EQ(plain.Data, HeaderBytes(odd, 1.25));
    plain.Position = 0;
    EXPECT_EQ(ReadHeader(plain, TermKeys), THeader(odd, 1.25));
}

TEST_F(SpoolFileTest, HeaderLimitsAndDamage) {
    // The longest text the reader's buffer holds, and one byte more.
    const std::string longest(static_cast<size_t>(SpoolMaxTextLength), 'x');
    TMemoryStream fits(HeaderBytes(longest, 2.5));
    EXPECT_EQ(ReadHeader(fits, TermKeys), THeader(longest, 2.5));
    EXPECT_LE(fits.LargestRequest, 65536);
    // The writers stop where the reader does: the longest text goes and comes back, one byte
    // more is not written at all.
    TMemoryStream written;
    ASSERT_TRUE(WriteSpoolHeaderText(written, longest, 2.5));
    TMemoryStream back(written.Data);
    EXPECT_EQ(ReadHeader(back, TermKeys), THeader(longest, 2.5));
    TMemoryStream refused;
    errno = 0;
    EXPECT_FALSE(WriteSpoolHeader(refused, longest + "x", TermKeys, 2.5));
    EXPECT_EQ(errno, EMSGSIZE);
    EXPECT_TRUE(refused.Data.empty());
    EXPECT_TRUE(SpoolHeaderProblem(longest).empty());
    EXPECT_NE(SpoolHeaderProblem(longest + "x").find("655358"), std::string::npos);

    // Too long, a negative length, a text cut short, nothing at all.
    TBytes negative;
    Put<int32_t>(negative, -1);
    Put<double>(negative, 1);
    TBytes cut = HeaderBytes("Name=A;Device=K3", 3);
    cut.resize(4 + 10);
    for (const TBytes& damaged : {HeaderBytes(longest + "x", 2.5), negative, cut, TBytes()}) {
        TMemoryStream file(damaged);
        EXPECT_FALSE(ReadHeader(file, TermKeys)) << damaged.size();
    }

    // A short Created is not noticed: the caller's value stays.
    TBytes noDate = HeaderBytes("Name=A", 3);
    noDate.resize(noDate.size() - 3);
    TMemoryStream noDateFile(noDate);
    EXPECT_EQ(ReadHeader(noDateFile, TermKeys, 7), THeader("Name=A", 7));

    // The text ends at its first zero byte; the stream still moves past all of it.
    TBytes zero = HeaderBytes(std::string("Name=A;Device=K7\0Device=K3", 26), 4);
    Put<int32_t>(zero, 99);
    TMemoryStream zeroFile(zero);
    EXPECT_EQ(ReadHeader(zeroFile, TermKeys), THeader("Name=A;Device=7", 4));
    int32_t next = 0;
    ASSERT_TRUE(ReadSpoolBlockSize(zeroFile, next));
    EXPECT_EQ(next, 99);
}

// The checked-in file was made from the layout alone, not by this writer.
TEST_F(SpoolFileTest, FixtureFileReadsAndIsWrittenByteForByte) {
    const char* data = std::getenv("RADUVUZ_TEST_DATA");
    ASSERT_NE(data, nullptr);
    const std::string fixture = std::string(data) + "/spool/1507_88";
    const std::vector<TBytes> blocks = {
        {'A', 'A', 'B'}, {'B', 'A', 'A', 'C'}, {}, TBytes(100000, 0x5A)};
    const TTaggedList keys = {{"K3", 3}};
    TFileStream reader;
    ASSERT_TRUE(reader.Open(fixture, TFileStream::TMode::ReadDenyWrite));
    EXPECT_EQ(ReadHeader(reader, keys), THeader("Name=Sample;Device=3;Priority=2", 45000.5));
    EXPECT_TRUE(ReadRecords(reader) == LastOnLast(blocks));

    WriteSpool(Dir / "1507_88", "Name=Sample;Device=3;Priority=2", keys, 45000.5, blocks);
    EXPECT_EQ(ReadFile(Dir / "1507_88"), ReadFile(fixture));
}

TEST_F(SpoolFileTest, BlocksRoundTripThroughAFile) {
    TSampleRandom random(3);
    const std::vector<TBytes> blocks = {
        HalftoneRaster(1000000, 1), RandomBytes(200000, 2),       TBytes(),
        BlankRaster(65536),         EdgeStretches(random, 32769), EdgeStretches(random, 5),
    };
    WriteSpool(Dir / "1_2", "Name=Round;Device=7", TermKeys, 2, blocks);
    // Reading in small slices must give the same result as reading in large ones.
    const TBytes file = ReadFile(Dir / "1_2");
    for (int64_t slice : {int64_t{65536}, int64_t{1000}, int64_t{7}}) {
        SCOPED_TRACE(slice);
        TMemoryStream reader(file);
        reader.MaxPerCall = slice;
        EXPECT_EQ(ReadHeader(reader, TermKeys), THeader("Name=Round;Device=7", 2));
        EXPECT_TRUE(ReadRecords(reader) == LastOnLast(blocks));
        EXPECT_EQ(reader.Position, static_cast<int64_t>(file.size()));
        EXPECT_LE(reader.LargestRequest, 65536);
    }

    // Records name no file position, so they can follow a header of another length.
    const TBytes oldHeader = HeaderBytes("Name=Round;Device=K7", 2);
    TBytes renamed = HeaderBytes("Name=AMuchLongerNameThanBefore;Device=K7", 3);
    renamed.insert(renamed.end(), file.begin() + static_cast<int64_t>(oldHeader.size()),
                   file.end());
    TMemoryStream reader(renamed);
    EXPECT_EQ(ReadHeader(reader, TermKeys), THeader("Name=AMuchLongerNameThanBefore;Device=7", 3));
    EXPECT_TRUE(ReadRecords(reader) == LastOnLast(blocks));
}

TEST_F(SpoolFileTest, OnlyAFileWithItsLastBlockIsWhole) {
    const std::string path = Dir / "5_6";
    WriteSpool(path, "Name=Whole", TermKeys, 1, {TBytes(300, 1), TBytes(0), RandomBytes(70000, 6)});
    const std::string bytes = ReadTextFile(path);
    const auto whole = [&](const std::string& content, std::string& why) {
        WriteTextFile(path, content);
        TFileStream reader;
        return reader.Open(path, TFileStream::TMode::ReadDenyWrite) && SpoolFileWhole(reader, why);
    };
    std::string why;
    EXPECT_TRUE(whole(bytes, why)) << why;
    // Cut anywhere, as a crash leaves it, the file is never whole.
    for (size_t length = 0; length < bytes.size(); length += length < 64 ? 1 : 97) {
        EXPECT_FALSE(whole(bytes.substr(0, length), why)) << length;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_FALSE(whole(bytes.substr(0, bytes.size() - 1), why));
    EXPECT_EQ(why, "it ends in block record 3");
    EXPECT_FALSE(whole(bytes.substr(0, 4 + 10 + 8), why));
    EXPECT_EQ(why, "it ends before its last block (0 blocks, the last flag of none set)");

    // A writer that stopped inside a block leaves its PackedSize at 0; sizes that do not fit.
    const size_t record = 4 + 10 + 8;
    const auto patched = [&](size_t at, int32_t value) {
        std::string copy = bytes;
        std::memcpy(copy.data() + at, &value, 4);
        return copy;
    };
    EXPECT_FALSE(whole(patched(record + 4, 0), why));
    EXPECT_EQ(why, "it ends in block record 1, whose packed size was never written");
    EXPECT_FALSE(whole(patched(record + 4, 601), why));
    EXPECT_EQ(why, "block record 1 is damaged (block size 300, packed size 601)");
    EXPECT_FALSE(whole(patched(record, -1), why));
    // Sizes that fit, items that do not: more than the block, or a block the data cannot fill.
    EXPECT_FALSE(whole(patched(record, 299), why));
    EXPECT_EQ(why, "block record 1 is damaged (its packed data unpacks to more than its block "
                   "size 299)");
    EXPECT_FALSE(whole(patched(record, 0x7fffffff), why));
    EXPECT_EQ(why, "block record 1 is damaged (its packed data unpacks to 300 bytes, its block "
                   "size is 2147483647)");
    EXPECT_FALSE(whole(patched(0, 1 << 30), why));
    EXPECT_EQ(why, "its header is damaged");
}

TEST_F(SpoolFileTest, DamagedRecordsAreRejectedInsideTheBlock) {
    struct TCase {
        const char* Name;
        int32_t BlockSize;
        TBytes Tail;
    };
    // A valid stream for 300,000 bytes, so that a smaller block overflows far into it.
    const TBytes raster = HalftoneRaster(300000, 5);
    TBytes big(static_cast<size_t>(PackBitsBlockBound(300000)));
    big.resize(static_cast<size_t>(PackBitsBlock(raster.data(), 300000, big.data())));
    TBytes bigCut = big;
    bigCut.resize(bigCut.size() - 1000);

    const std::vector<TCase> cases = {
        {"negative PackedSize", 10, RecordTail(TBytes(4, 0), 1, -4)},
        {"PackedSize above twice the block", 10, RecordTail(TBytes(21, 0), 1)},
        {"large stream into a smaller block", 250000, RecordTail(big, 1)},
        {"unpacks short", 5, RecordTail({0xFE, 'A'}, 1)},
        {"item cut at the end", 5, RecordTail({4, 1, 2}, 1)},
        {"packed data missing", 4, TBytes{4, 0, 0, 0, 0xFD, 'A'}},
        {"large stream cut", 300000, RecordTail(bigCut, 1, static_cast<int32_t>(big.size()))},
        {"written block that failed", 10, RecordTail({}, 1)},
        {"no PackedSize", 10, {}},
    };
    for (const auto& c : cases) {
        TMemoryStream stream(c.Tail);
        TGuardedBlock target(static_cast<size_t>(c.BlockSize));
        int32_t last = -1;
        EXPECT_FALSE(ReadSpoolBlock(stream, target.Block(), last)) << c.Name;
        EXPECT_TRUE(target.GuardsIntact()) << c.Name;
    }

    // A record whose last flag is missing still gives its block; the flag counts as 0.
    TBytes noFlag = RecordTail({0xFE, 'A'}, 1);
    noFlag.resize(noFlag.size() - 4);
    TMemoryStream stream(noFlag);
    TGuardedBlock target(3);
    int32_t last = -1;
    ASSERT_TRUE(ReadSpoolBlock(stream, target.Block(), last));
    EXPECT_EQ(last, 0);
    EXPECT_EQ(TBytes(target.Block().begin(), target.Block().end()), TBytes(3, 'A'));
}

TEST_F(SpoolFileTest, StoreBlockOfManyChunksIsWrittenAsFromMemoryAndReadBackByName) {
    // Larger than the writer's copy buffer and no whole number of pieces; the store's object is
    // larger than the block, and only the block's bytes count.
    const int32_t size = 3 * 1024 * 1024 + 12345;
    const TBytes raster = HalftoneRaster(size + 500, 11);
    TStoreBlock source(size + 500);
    ASSERT_TRUE(source.Ok);
    std::memcpy(source.Block.Data(), raster.data(), raster.size());

    {
        TFileStream writer;
        ASSERT_TRUE(writer.Open(Dir / "named", TFileStream::TMode::CreateExclusive));
        ASSERT_TRUE(WriteSpoolBlock(writer, source.Name, size, 1));
    }
    {
        TFileStream writer;
        ASSERT_TRUE(writer.Open(Dir / "memory", TFileStream::TMode::CreateExclusive));
        ASSERT_TRUE(WriteSpoolBlock(
            writer, std::span<const uint8_t>(raster.data(), static_cast<size_t>(size)), 1));
    }
    const std::string named = ReadTextFile(Dir / "named");
    EXPECT_EQ(named, ReadTextFile(Dir / "memory"));

    TFileStream reader;
    ASSERT_TRUE(reader.Open(Dir / "named", TFileStream::TMode::ReadDenyWrite));
    int32_t blockSize = 0;
    ASSERT_TRUE(ReadSpoolBlockSize(reader, blockSize));
    ASSERT_EQ(blockSize, size);
    TStoreBlock target(size);
    ASSERT_TRUE(target.Ok);
    int32_t last = 0;
    ASSERT_TRUE(ReadSpoolBlock(reader, target.Name, size, last));
    EXPECT_EQ(last, 1);
    EXPECT_EQ(std::memcmp(target.Block.Data(), raster.data(), static_cast<size_t>(size)), 0);
}

TEST_F(SpoolFileTest, BlocksThatCannotBeOpenedWriteNothing) {
    TStoreBlock small(100);
    ASSERT_TRUE(small.Ok);
    std::memset(small.Block.Data(), 0x11, 100);

    const std::string path = Dir / "7_8";
    TFileStream writer;
    ASSERT_TRUE(writer.Open(path, TFileStream::TMode::CreateExclusive));
    EXPECT_FALSE(WriteSpoolBlock(writer, small.Name, 200, 1));
    EXPECT_FALSE(WriteSpoolBlock(writer, "", 10, 1));
    EXPECT_FALSE(WriteSpoolBlock(writer, small.Name, -1, 1));
    EXPECT_EQ(writer.Size(), 0);

    // Reading into a mapping smaller than BlockSize fails before the record is touched.
    TMemoryStream record(RecordTail({0x81, 0x22, 0xCB, 0x22}, 1));
    int32_t last = -1;
    EXPECT_FALSE(ReadSpoolBlock(record, small.Name, 200, last));
    EXPECT_EQ(record.Position, 0);
    EXPECT_TRUE(std::all_of(small.Block.Data(), small.Block.Data() + 100,
                            [](uint8_t b) { return b == 0x11; }));
}
