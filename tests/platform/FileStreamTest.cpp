#include "platform/TFileStream.h"

#include "PlatformTestSupport.h"

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
    std::vector<uint8_t> data(200000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);

    TFileStream stream;
    ASSERT_TRUE(stream.Open(Spool, Mode::CreateExclusive));
    int64_t written = 0;
    while (written < static_cast<int64_t>(data.size())) {
        int64_t moved = stream.Write(data.data() + written, data.size() - written);
        ASSERT_GT(moved, 0);
        ASSERT_LE(moved, 65536);
        written += moved;
    }
    EXPECT_EQ(stream.Size(), 200000);
    EXPECT_EQ(stream.Position(), 200000);
    EXPECT_TRUE(stream.Flush());

    ASSERT_TRUE(stream.Seek(0));
    std::vector<uint8_t> back(data.size());
    int64_t read = 0;
    while (read < static_cast<int64_t>(back.size())) {
        int64_t moved = stream.Read(back.data() + read, back.size() - read);
        ASSERT_GT(moved, 0);
        ASSERT_LE(moved, 65536);
        read += moved;
    }
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
    TFileStream writer;
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

TEST_F(FileStreamTest, OpeningForReadingNeedsAnExistingFile) {
    TFileStream stream;
    EXPECT_FALSE(stream.Open(Spool, Mode::ReadDenyWrite));
    EXPECT_FALSE(stream.Open(Spool, Mode::ReadWrite));
    EXPECT_FALSE(std::filesystem::exists(Spool));

    test::WriteTextFile(Spool, "0123456789");
    ASSERT_TRUE(stream.Open(Spool, Mode::ReadWrite));
    EXPECT_EQ(stream.Size(), 10);
    ASSERT_TRUE(stream.Seek(4));
    EXPECT_EQ(stream.Write("ab", 2), 2);
    EXPECT_EQ(stream.Position(), 6);
    stream.Close();
    EXPECT_EQ(test::ReadTextFile(Spool), "0123ab6789");
}

} // namespace
} // namespace raduvuz
