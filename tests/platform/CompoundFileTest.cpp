#include "platform/TCompoundFile.h"

#include "platform/PlatformTestSupport.h"
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

TEST(CompoundFile, ReplacingOneStreamKeepsTheOthers) {
    TTempFolder folder;
    const std::string path = folder / "Queue.set";
    {
        TCompoundFile file;
        ASSERT_TRUE(file.OpenOrCreate(path));
        ASSERT_TRUE(file.WriteCountedText("Queue", "StoreDir=\"/srv\";KeepTime=10"));
        ASSERT_TRUE(file.WriteStream("Config", "first layout"));
        ASSERT_TRUE(file.WriteStream("Other", std::string("\0binary\xff", 8)));
    }
    ::chmod(path.c_str(), 0644);
    {
        TCompoundFile file;
        ASSERT_TRUE(file.OpenOrCreate(path));
        // The name matches without regard to case, as the system's storages do.
        ASSERT_TRUE(file.WriteStream("config", "second"));
        EXPECT_EQ(file.ReadStream("CONFIG"), "second");
    }
    TCompoundFile file;
    ASSERT_TRUE(file.OpenRead(path));
    EXPECT_EQ(Sorted(file.StreamNames()), (std::vector<std::string>{"Other", "Queue", "config"}));
    EXPECT_EQ(file.ReadCountedText("Queue"), "StoreDir=\"/srv\";KeepTime=10");
    EXPECT_EQ(file.ReadStream("Config"), "second");
    EXPECT_EQ(file.ReadStream("Other"), std::string("\0binary\xff", 8));
    EXPECT_FALSE(file.HasStream("Missing"));
    EXPECT_EQ(file.ReadStream("Missing"), std::nullopt);
    EXPECT_FALSE(file.WriteStream("Config", "read only")) << "a file opened for reading";

    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "a rewrite leaves the file to its owner alone";
    // No temporary file is left beside the file.
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"Queue.set"});

    EXPECT_EQ(ReadWithOlefile(path, "--list"), "Other\nQueue\nconfig\n");
    EXPECT_EQ(ReadWithOlefile(path, "Queue"), "StoreDir=\"/srv\";KeepTime=10");
    EXPECT_EQ(ReadWithOlefile(path, "Other", true), std::string("\0binary\xff", 8));
}

TEST(CompoundFile, StoragesOfAForeignFileSurviveAWrite) {
    TTempFolder folder;
    const std::string path = folder / "foreign.set";
    WriteFileWithStorage(path);
    {
        TCompoundFile file;
        ASSERT_TRUE(file.OpenReadWrite(path));
        EXPECT_EQ(file.StreamNames(), std::vector<std::string>{"First"});
        EXPECT_EQ(file.ReadStream("First"), "alpha");
        EXPECT_FALSE(file.WriteStream("Folder", "x")) << "a storage holds the name";
        ASSERT_TRUE(file.WriteStream("First", "beta"));
        ASSERT_TRUE(file.WriteStream("Second", "gamma"));
    }
    EXPECT_EQ(ReadWithOlefile(path, "Folder/Inner", true), "inner");
    EXPECT_EQ(ReadWithOlefile(path, "First", true), "beta");
}

TEST(CompoundFile, MissingAndForeignFiles) {
    TTempFolder folder;
    const std::string missing = folder / "missing.set";
    TCompoundFile file;
    EXPECT_FALSE(file.OpenRead(missing));
    EXPECT_EQ(file.Status(), TCompoundFile::TStatus::Missing);
    EXPECT_EQ(file.ErrorText(), "No such file or directory");
    EXPECT_FALSE(file.OpenReadWrite(missing));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(missing)) << "opening never creates";
    EXPECT_FALSE(file.OpenOrCreate(folder / "no-folder/x.set"));
    EXPECT_EQ(file.Status(), TCompoundFile::TStatus::WriteFailed);
    EXPECT_EQ(file.ErrorText(), "No such file or directory");

    // A text file is no compound file: it cannot be opened, OpenOrCreate leaves it as it is,
    // and only Create replaces it.
    const std::string text = folder / "text.set";
    WriteTextFile(text, "just some text that is not a compound file");
    EXPECT_FALSE(file.OpenRead(text));
    EXPECT_EQ(file.Status(), TCompoundFile::TStatus::NotCompound);
    EXPECT_EQ(file.ErrorText(), "not a compound file");
    EXPECT_FALSE(file.OpenReadWrite(text));
    EXPECT_FALSE(file.OpenOrCreate(text));
    EXPECT_EQ(file.Status(), TCompoundFile::TStatus::NotCompound);
    EXPECT_EQ(ReadTextFile(text), "just some text that is not a compound file");
    const std::string empty = folder / "empty.set";
    WriteTextFile(empty, "");
    EXPECT_FALSE(file.OpenOrCreate(empty));
    EXPECT_EQ(file.ErrorText(), "the file is empty");
    ASSERT_TRUE(file.Create(text));
    EXPECT_EQ(file.Status(), TCompoundFile::TStatus::Ok);
    EXPECT_EQ(file.ErrorText(), "");
    EXPECT_TRUE(file.StreamNames().empty());
    file.Close();
    ASSERT_TRUE(file.OpenRead(text));
    EXPECT_TRUE(file.StreamNames().empty());

    // Create empties an existing compound file.
    file.Close();
    ASSERT_TRUE(file.OpenReadWrite(text));
    ASSERT_TRUE(file.WriteStream("A", "a"));
    ASSERT_TRUE(file.Create(text));
    EXPECT_FALSE(file.HasStream("A"));
}

TEST(CompoundFile, ShortAndLongStreams) {
    TTempFolder folder;
    const std::string path = folder / "short.set";
    TCompoundFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_TRUE(file.WriteStream("Three", "abc"));
    ASSERT_TRUE(file.WriteStream("Cut", std::string("\x0a\0\0\0short", 9)));
    ASSERT_TRUE(file.WriteStream("Empty", ""));
    ASSERT_TRUE(file.WriteCountedText("Nothing", ""));
    // Larger than the small-block limit, so it lives in ordinary sectors.
    std::string large;
    for (int i = 0; i < 100000; ++i)
        large.push_back(static_cast<char>(i * 7 + i / 251));
    ASSERT_TRUE(file.WriteCountedText("Large", large));
    file.Close();

    ASSERT_TRUE(file.OpenRead(path));
    EXPECT_EQ(file.ReadCountedText("Three"), std::nullopt) << "fewer than 4 bytes";
    EXPECT_EQ(file.ReadCountedText("Cut"), std::nullopt) << "count 10, 5 bytes";
    EXPECT_EQ(file.ReadStream("Cut"), std::string("\x0a\0\0\0short", 9));
    EXPECT_EQ(file.ReadStream("Empty"), "");
    EXPECT_EQ(file.ReadCountedText("Nothing"), "");
    EXPECT_EQ(file.ReadCountedText("Large"), large);
    EXPECT_EQ(ReadWithOlefile(path, "Large"), large);
}

TEST(CompoundFile, NamesTheFormatCannotHoldAreRefused) {
    TTempFolder folder;
    const std::string path = folder / "names.set";
    TCompoundFile file;
    ASSERT_TRUE(file.Create(path));
    EXPECT_TRUE(file.WriteStream(std::string(31, 'k'), "ok"));
    EXPECT_FALSE(file.WriteStream(std::string(32, 'k'), "too long"));
    EXPECT_FALSE(file.WriteStream("", "empty"));
    EXPECT_FALSE(file.WriteStream("a/b", "slash"));
    EXPECT_FALSE(file.WriteStream("a!b", "mark"));
    // 31 characters of two bytes each still fit.
    std::string wide;
    for (int i = 0; i < 31; ++i)
        wide += "\xc3\xa9";
    EXPECT_TRUE(file.WriteStream(wide, "wide"));
    file.Close();
    ASSERT_TRUE(file.OpenRead(path));
    EXPECT_EQ(Sorted(file.StreamNames()), (std::vector<std::string>{std::string(31, 'k'), wide}));
    EXPECT_EQ(file.ReadStream(wide), "wide");
}

TEST(CompoundFile, SharingModesKeepWritersAndReadersApart) {
    TTempFolder folder;
    const std::string path = folder / "shared.set";
    TCompoundFile writer;
    ASSERT_TRUE(writer.Create(path));
    ASSERT_TRUE(writer.WriteStream("S", "1"));

    TCompoundFile other;
    EXPECT_FALSE(other.OpenRead(path)) << "a writer shuts out readers";
    EXPECT_EQ(other.Status(), TCompoundFile::TStatus::InUse);
    EXPECT_EQ(other.ErrorText(), "another process holds it");
    EXPECT_FALSE(other.OpenReadWrite(path));
    EXPECT_FALSE(other.OpenOrCreate(path)) << "nor may another writer replace the file";
    writer.Close();

    TCompoundFile reader;
    ASSERT_TRUE(reader.OpenRead(path));
    TCompoundFile secondReader;
    EXPECT_TRUE(secondReader.OpenRead(path)) << "readers share";
    EXPECT_FALSE(other.OpenReadWrite(path)) << "a reader shuts out writers";
    EXPECT_FALSE(other.Create(path));
    reader.Close();
    secondReader.Close();
    ASSERT_TRUE(other.OpenReadWrite(path));
    EXPECT_EQ(other.ReadStream("S"), "1");
}

TEST(CompoundFile, AWriteOnAFullDiskFailsAndLeavesTheOldFileWhole) {
    TTempFolder folder;
    test::TSmallDisk disk(folder / "disk", 1);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why;
    const std::string path = disk.Path() + "/Q.set";
    TCompoundFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_TRUE(file.WriteCountedText("Q", "KeepTime=10"));
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

    EXPECT_FALSE(file.WriteStream("Config", std::string(100000, 'l')));
    EXPECT_EQ(file.Status(), TCompoundFile::TStatus::WriteFailed);
    EXPECT_EQ(file.ErrorText(), "No space left on device");
    EXPECT_FALSE(file.HasStream("Config")) << "the file in memory stays as on the disk";
    file.Close();
    ASSERT_TRUE(file.OpenRead(path));
    EXPECT_EQ(file.ReadCountedText("Q"), "KeepTime=10");
    file.Close();
    // A new file on the full disk does not appear at all.
    EXPECT_FALSE(file.Create(disk.Path() + "/new.set"));
    EXPECT_EQ(file.ErrorText(), "No space left on device");
    EXPECT_EQ(FolderEntries(disk.Path()), (std::vector<std::string>{"Q.set", "filler"}));
}

} // namespace
} // namespace raduvuz
