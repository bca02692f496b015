#include "platform/TFileStream.h"

#include "PlatformTestSupport.h"
#include "spool/RasterSamples.h"

#include <gtest/gtest.h>

#include <vector>

namespace raduvuz {
namespace {

using Mode = TFileStream::TMode;

class FileStreamTest : public ::testing::Test {
protected:
    test::TTempFolder Temp;
    std::string Spool = Temp / "1507_88";
};

TEST_F(FileStreamTest, MovesAtMostOneSlicePerCallAndReadsBackWhatItWrote) {
    const std::vector<uint8_t> data = testing::RandomBytes(200000, 1);

    // A regular file takes a whole slice per call.
    TFileStream stream;
    ASSERT_TRUE(stream.Open(Spool, Mode::CreateExclusive));
    EXPECT_EQ(stream.Write(data.data(), 200000), 65536);
    ASSERT_TRUE(WriteFully(stream, data.data() + 65536, 200000 - 65536));
    EXPECT_EQ(stream.Size(), 200000);
    EXPECT_EQ(stream.Position(), 200000);
    EXPECT_TRUE(stream.Flush());

    ASSERT_TRUE(stream.Seek(0));
    std::vector<uint8_t> back(data.size());
    EXPECT_EQ(stream.Read(back.data(), 200000), 65536);
    ASSERT_TRUE(ReadFully(stream, back.data() + 65536, 200000 - 65536));
    EXPECT_EQ(back, data);
    EXPECT_EQ(stream.Read(back.data(), 10), 0);
    EXPECT_FALSE(stream.Seek(-1));

    stream.Close();
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.Read(back.data(), 10), 0);
    EXPECT_EQ(stream.Write(data.data(), 10), 0);
    EXPECT_EQ(stream.Position(), -1);
    EXPECT_EQ(stream.Size(), -1);
    EXPECT_FALSE(stream.Flush());
}

TEST_F(FileStreamTest, ExclusiveWriterShutsOutEveryOtherOpenAndKeepsItsData) {
    // Opening for reading needs an existing file and makes none.
    TFileStream writer;
    EXPECT_FALSE(writer.Open(Spool, Mode::ReadDenyWrite));
    EXPECT_FALSE(writer.Open(Spool, Mode::ReadWrite));
    EXPECT_FALSE(std::filesystem::exists(Spool));
    ASSERT_TRUE(writer.Open(Spool, Mode::CreateExclusive));
    ASSERT_EQ(writer.Write("header", 6), 6);

    // A second creation must fail before it could empty the file.
    TFileStream other;
    EXPECT_FALSE(other.Open(Spool, Mode::CreateExclusive));
    EXPECT_EQ(writer.Size(), 6);
    EXPECT_FALSE(other.Open(Spool, Mode::ReadDenyWrite));
    EXPECT_FALSE(other.Open(Spool, Mode::ReadWrite));
    EXPECT_FALSE(other.IsOpen());

    writer.Close();
    ASSERT_TRUE(other.Open(Spool, Mode::ReadDenyWrite));
    char text[6] = {};
    EXPECT_EQ(other.Read(text, 6), 6);
    EXPECT_EQ(std::string(text, 6), "header");
}

TEST_F(FileStreamTest, ReadersShareTheFileAndShutOutWriters) {
    test::WriteTextFile(Spool, "spooled job");
    TFileStream first;
    TFileStream second;
    ASSERT_TRUE(first.Open(Spool, Mode::ReadDenyWrite));
    ASSERT_TRUE(second.Open(Spool, Mode::ReadDenyWrite));

    TFileStream writer;
    EXPECT_FALSE(writer.Open(Spool, Mode::CreateExclusive));
    EXPECT_FALSE(writer.Open(Spool, Mode::ReadWrite));
    EXPECT_EQ(test::ReadTextFile(Spool), "spooled job");
    EXPECT_EQ(first.Write("x", 1), 0);

    first.Close();
    EXPECT_FALSE(writer.Open(Spool, Mode::ReadWrite));
    second.Close();
    ASSERT_TRUE(writer.Open(Spool, Mode::CreateExclusive));
    EXPECT_EQ(writer.Size(), 0);
}

} // namespace
} // namespace raduvuz
