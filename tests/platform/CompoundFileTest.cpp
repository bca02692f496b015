#include "platform/TCompoundFile.h"

#include "platform/PlatformTestSupport.h"
#include "spool/RasterSamples.h"
#include "support/SmallDisk.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace raduvuz {
namespace {

using test::FolderEntries;
using test::ReadTextFile;
using test::TTempFolder;
using test::WriteTextFile;

// Output of the independent reader (Debian's olefile) for one stream or the stream list.
std::string ReadWithOlefile(const std::string& file, const std::string& what, bool raw = false) {
    const std::string out = file + ".olefile";
    const std::string command = std::string(RADUVUZ_SYSTEM_PYTHON) + " " + RADUVUZ_READ_OLE_STREAM +
                                " '" + file + "' '" + what + "'" + (raw ? " --raw" : "") + " > '" +
                                out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadTextFile(out);
}

// A file made by libgsf directly, with a sub-storage the class itself never creates.
void WriteFileWithStorage(const std::string& path) {
    gsf_init();
    GError* error = nullptr;
    GsfOutput* sink = gsf_output_stdio_new(path.c_str(), &error);
    ASSERT_NE(sink, nullptr);
    GsfOutfile* ole = gsf_outfile_msole_new(sink);
    GsfOutput* first = gsf_outfile_new_child(ole, "First", FALSE);
    gsf_output_write(first, 5, reinterpret_cast<const guint8*>("alpha"));
    gsf_output_close(first);
    g_object_unref(first);
    GsfOutput* folder = gsf_outfile_new_child(ole, "Folder", TRUE);
    GsfOutput* inner = gsf_outfile_new_child(GSF_OUTFILE(folder), "Inner", FALSE);
    gsf_output_write(inner, 5, reinterpret_cast<const guint8*>("inner"));
    gsf_output_close(inner);
    g_object_unref(inner);
    gsf_output_close(folder);
    g_object_unref(folder);
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    // Closing the compound file closes its sink as well.
    EXPECT_TRUE(gsf_output_is_closed(sink));
    g_object_unref(sink);
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

class CompoundFileTest : public ::testing::Test {
protected:
    TTempFolder Folder;
    std::string Path = Folder / "Queue.set";
    TCompoundFile File;
};

TEST_F(CompoundFileTest, ReplacingOneStreamKeepsTheOthers) {
    {
        TCompoundFile file;
        ASSERT_TRUE(file.OpenOrCreate(Path));
        ASSERT_TRUE(file.WriteCountedText("Queue", "StoreDir=\"/srv\";KeepTime=10"));
        ASSERT_TRUE(file.WriteStream("Config", "first layout"));
        ASSERT_TRUE(file.WriteStream("Other", std::string("\0binary\xff", 8)));
    }
    ::chmod(Path.c_str(), 0644);
    {
        TCompoundFile file;
        ASSERT_TRUE(file.OpenOrCreate(Path));
        // The name matches without regard to case, as the system's storages do.
        ASSERT_TRUE(file.WriteStream("config", "second"));
        EXPECT_EQ(file.ReadStream("CONFIG"), "second");
    }
    ASSERT_TRUE(File.OpenRead(Path));
    EXPECT_EQ(Sorted(File.StreamNames()), (std::vector<std::string>{"Other", "Queue", "config"}));
    EXPECT_EQ(File.ReadCountedText("Queue"), "StoreDir=\"/srv\";KeepTime=10");
    EXPECT_EQ(File.ReadStream("Config"), "second");
    EXPECT_EQ(File.ReadStream("Other"), std::string("\0binary\xff", 8));
    EXPECT_FALSE(File.HasStream("Missing"));
    EXPECT_EQ(File.ReadStream("Missing"), std::nullopt);
    EXPECT_FALSE(File.WriteStream("Config", "read only")) << "a file opened for reading";

    EXPECT_EQ(test::ModeOf(Path), 0600u) << "a rewrite leaves the file to its owner alone";
    // No temporary file is left beside the file.
    EXPECT_EQ(FolderEntries(Folder.Path()), std::vector<std::string>{"Queue.set"});

    EXPECT_EQ(ReadWithOlefile(Path, "--list"), "Other\nQueue\nconfig\n");
    EXPECT_EQ(ReadWithOlefile(Path, "Queue"), "StoreDir=\"/srv\";KeepTime=10");
    EXPECT_EQ(ReadWithOlefile(Path, "Other", true), std::string("\0binary\xff", 8));
}

TEST_F(CompoundFileTest, StoragesOfAForeignFileSurviveAWrite) {
    WriteFileWithStorage(Path);
    {
        TCompoundFile file;
        ASSERT_TRUE(file.OpenReadWrite(Path));
        EXPECT_EQ(file.StreamNames(), std::vector<std::string>{"First"});
        EXPECT_EQ(file.ReadStream("First"), "alpha");
        EXPECT_FALSE(file.WriteStream("Folder", "x")) << "a storage holds the name";
        ASSERT_TRUE(file.WriteStream("First", "beta"));
        ASSERT_TRUE(file.WriteStream("Second", "gamma"));
    }
    EXPECT_EQ(ReadWithOlefile(Path, "Folder/Inner", true), "inner");
    EXPECT_EQ(ReadWithOlefile(Path, "First", true), "beta");
}

TEST_F(CompoundFileTest, MissingAndForeignFiles) {
    const std::string missing = Folder / "missing.set";
    EXPECT_FALSE(File.OpenRead(missing));
    EXPECT_EQ(File.Status(), TCompoundFile::TStatus::Missing);
    EXPECT_EQ(File.ErrorText(), "No such file or directory");
    EXPECT_FALSE(File.OpenReadWrite(missing));
    EXPECT_FALSE(File.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(missing)) << "opening never creates";
    EXPECT_FALSE(File.OpenOrCreate(Folder / "no-folder/x.set"));
    EXPECT_EQ(File.Status(), TCompoundFile::TStatus::WriteFailed);
    EXPECT_EQ(File.ErrorText(), "No such file or directory");

    // A text file is no compound file: it cannot be opened, OpenOrCreate leaves it as it is,
    // and only Create replaces it.
    const std::string text = Folder / "text.set";
    WriteTextFile(text, "just some text that is not a compound file");
    EXPECT_FALSE(File.OpenRead(text));
    EXPECT_EQ(File.Status(), TCompoundFile::TStatus::NotCompound);
    EXPECT_EQ(File.ErrorText(), "not a compound file");
    EXPECT_FALSE(File.OpenReadWrite(text));
    EXPECT_FALSE(File.OpenOrCreate(text));
    EXPECT_EQ(File.Status(), TCompoundFile::TStatus::NotCompound);
    EXPECT_EQ(ReadTextFile(text), "just some text that is not a compound file");
    const std::string empty = Folder / "empty.set";
    WriteTextFile(empty, "");
    EXPECT_FALSE(File.OpenOrCreate(empty));
    EXPECT_EQ(File.ErrorText(), "the file is empty");
    ASSERT_TRUE(File.Create(text));
    EXPECT_EQ(File.Status(), TCompoundFile::TStatus::Ok);
    EXPECT_EQ(File.ErrorText(), "");
    EXPECT_TRUE(File.StreamNames().empty());
    File.Close();
    ASSERT_TRUE(File.OpenRead(text));
    EXPECT_TRUE(File.StreamNames().empty());

    // Create empties an existing compound file.
    File.Close();
    ASSERT_TRUE(File.OpenReadWrite(text));
    ASSERT_TRUE(File.WriteStream("A", "a"));
    ASSERT_TRUE(File.Create(text));
    EXPECT_FALSE(File.HasStream("A"));
}

TEST_F(CompoundFileTest, ShortAndLongStreams) {
    ASSERT_TRUE(File.Create(Path));
    ASSERT_TRUE(File.WriteStream("Three", "abc"));
    ASSERT_TRUE(File.WriteStream("Cut", std::string("\x0a\0\0\0short", 9)));
    ASSERT_TRUE(File.WriteStream("Empty", ""));
    ASSERT_TRUE(File.WriteCountedText("Nothing", ""));
    // Larger than the small-block limit, so it lives in ordinary sectors.
    const std::vector<uint8_t> bytes = testing::RandomBytes(100000, 1);
    const std::string large(bytes.begin(), bytes.end());
    ASSERT_TRUE(File.WriteCountedText("Large", large));
    File.Close();

    ASSERT_TRUE(File.OpenRead(Path));
    EXPECT_EQ(File.ReadCountedText("Three"), std::nullopt) << "fewer than 4 bytes";
    EXPECT_EQ(File.ReadCountedText("Cut"), std::nullopt) << "count 10, 5 bytes";
    EXPECT_EQ(File.ReadStream("Cut"), std::string("\x0a\0\0\0short", 9));
    EXPECT_EQ(File.ReadStream("Empty"), "");
    EXPECT_EQ(File.ReadCountedText("Nothing"), "");
    EXPECT_EQ(File.ReadCountedText("Large"), large);
    EXPECT_EQ(ReadWithOlefile(Path, "Large"), large);
}

TEST_F(CompoundFileTest, NamesTheFormatCannotHoldAreRefused) {
    ASSERT_TRUE(File.Create(Path));
    EXPECT_TRUE(File.WriteStream(std::string(31, 'k'), "ok"));
    EXPECT_FALSE(File.WriteStream(std::string(32, 'k'), "too long"));
    EXPECT_FALSE(File.WriteStream("", "empty"));
    EXPECT_FALSE(File.WriteStream("a/b", "slash"));
    EXPECT_FALSE(File.WriteStream("a!b", "mark"));
    // 31 characters of two bytes each still fit.
    std::string wide;
    for (int i = 0; i < 31; ++i)
        wide += "\xc3\xa9";
    EXPECT_TRUE(File.WriteStream(wide, "wide"));
    File.Close();
    ASSERT_TRUE(File.OpenRead(Path));
    EXPECT_EQ(Sorted(File.StreamNames()), (std::vector<std::string>{std::string(31, 'k'), wide}));
    EXPECT_EQ(File.ReadStream(wide), "wide");
}

TEST_F(CompoundFileTest, SharingModesKeepWritersAndReadersApart) {
    TCompoundFile writer;
    ASSERT_TRUE(writer.Create(Path));
    ASSERT_TRUE(writer.WriteStream("S", "1"));

    TCompoundFile other;
    EXPECT_FALSE(other.OpenRead(Path)) << "a writer shuts out readers";
    EXPECT_EQ(other.Status(), TCompoundFile::TStatus::InUse);
    EXPECT_EQ(other.ErrorText(), "another process holds it");
    EXPECT_FALSE(other.OpenReadWrite(Path));
    EXPECT_FALSE(other.OpenOrCreate(Path)) << "nor may another writer replace the file";
    writer.Close();

    TCompoundFile reader;
    ASSERT_TRUE(reader.OpenRead(Path));
    TCompoundFile secondReader;
    EXPECT_TRUE(secondReader.OpenRead(Path)) << "readers share";
    EXPECT_FALSE(other.OpenReadWrite(Path)) << "a reader shuts out writers";
    EXPECT_FALSE(other.Create(Path));
    reader.Close();
    secondReader.Close();
    ASSERT_TRUE(other.OpenReadWrite(Path));
    EXPECT_EQ(other.ReadStream("S"), "1");
}

TEST_F(CompoundFileTest, AWriteOnAFullDiskFailsAndLeavesTheOldFileWhole) {
    test::TSmallDisk disk(Folder / "disk", 1);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    const std::string path = disk.Path() + "/Q.set";
    ASSERT_TRUE(File.Create(path));
    ASSERT_TRUE(File.WriteCountedText("Q", "KeepTime=10"));
    // The rest of the disk goes to another file.
    {
        std::FILE* filler = std::fopen((disk.Path() + "/filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }

    EXPECT_FALSE(File.WriteStream("Config", std::string(100000, 'l')));
    EXPECT_EQ(File.Status(), TCompoundFile::TStatus::WriteFailed);
    EXPECT_EQ(File.ErrorText(), "No space left on device");
    EXPECT_FALSE(File.HasStream("Config")) << "the file in memory stays as on the disk";
    File.Close();
    ASSERT_TRUE(File.OpenRead(path));
    EXPECT_EQ(File.ReadCountedText("Q"), "KeepTime=10");
    File.Close();
    // A new file on the full disk does not appear at all.
    EXPECT_FALSE(File.Create(disk.Path() + "/new.set"));
    EXPECT_EQ(File.ErrorText(), "No space left on device");
    EXPECT_EQ(FolderEntries(disk.Path()), (std::vector<std::string>{"Q.set", "filler"}));
}

} // namespace
} // namespace raduvuz
