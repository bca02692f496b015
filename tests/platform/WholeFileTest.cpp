#include "platform/WholeFile.h"
#include "platform/System.h"
#include "platform/SystemLog.h"
#include "platform/TFileStream.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace raduvuz {
namespace {

using test::ModeOf;
using test::ReadTextFile;
using test::TTempFolder;
using test::WriteTextFile;

// Sets the umask for the life of the object.
class TScopedUmask {
public:
    explicit TScopedUmask(mode_t mask) : Old(::umask(mask)) {}
    ~TScopedUmask() { ::umask(Old); }

private:
    mode_t Old;
};

TEST(WholeFileTest, AWriteReplacesTheFileWholeAndLeavesNothingBeside) {
    TTempFolder temp;
    const std::string path = temp / "Q.hld";
    ASSERT_TRUE(WriteWholeFile(path, "1_2\n"));
    ASSERT_TRUE(WriteWholeFile(path, "3_4\n5_6\n"));
    EXPECT_EQ(ReadTextFile(path), "3_4\n5_6\n");
    EXPECT_EQ(test::FolderEntries(temp.Path()), std::vector<std::string>{"Q.hld"});

    std::string bytes;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(path, bytes, 8, &error));
    EXPECT_EQ(bytes, "3_4\n5_6\n");
    EXPECT_FALSE(ReadWholeFile(path, bytes, 7, &error));
    EXPECT_EQ(error, "larger than 7 bytes");
    EXPECT_EQ(bytes, "");
    EXPECT_FALSE(ReadWholeFile(temp / "missing", bytes, 8, &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(WriteWholeFile(temp / "no-folder/Q.hld", "x", &error));
    EXPECT_EQ(error, "No such file or directory");
}

TEST(WholeFileTest, FilesAndFoldersTheModuleMakesAreTheOwnersAloneWhateverTheUmask) {
    TTempFolder temp;
    for (const mode_t mask : {mode_t{022}, mode_t{0}, mode_t{0277}}) {
        SCOPED_TRACE(mask);
        TScopedUmask umask(mask);
        const std::string folder = temp / ("m" + std::to_string(mask));
        ASSERT_TRUE(ForceDirectories(folder + "/Storage/Q"));
        EXPECT_EQ(ModeOf(folder), 0700u);
        EXPECT_EQ(ModeOf(folder + "/Storage/Q"), 0700u);

        const std::string hold = folder + "/Q.hld";
        ASSERT_TRUE(WriteWholeFile(hold, "1_2\n"));
        EXPECT_EQ(ModeOf(hold), 0600u);

        // A spool file, also one that was there before with a looser mode.
        const std::string spool = folder + "/Storage/Q/1_2";
        WriteTextFile(spool, "old");
        ::chmod(spool.c_str(), 0644);
        TFileStream stream;
        ASSERT_TRUE(stream.Open(spool, TFileStream::TMode::CreateExclusive));
        EXPECT_EQ(ModeOf(spool), 0600u);
        ASSERT_TRUE(stream.Open(folder + "/Storage/Q/3_4", TFileStream::TMode::CreateExclusive));
        EXPECT_EQ(ModeOf(folder + "/Storage/Q/3_4"), 0600u);
    }
}

TEST(SystemLogTest, LinesAreTaggedWithTheProgramsNameAndProcess) {
    TTempFolder temp;
    const std::string copy = temp / "stderr";
    // LOG_PERROR copies each line to standard error, where the test reads what syslog was given
    // on any machine, with a system logger or without.
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    {
        TSystemLog log("raduvuz-test", LOG_PERROR);
        log.Write(TLogSeverity::Info, "module 5 (Queue): File a.rst spooled");
        log.Write(TLogSeverity::Error, "module 5 (Queue): Exception in Execute (gone)");
    }
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    const std::string prefix = "raduvuz-test[" + std::to_string(::getpid()) + "]: ";
    EXPECT_EQ(ReadTextFile(copy), prefix + "module 5 (Queue): File a.rst spooled\n" + prefix +
                                      "module 5 (Queue): Exception in Execute (gone)\n");
}

TEST(SystemLogTest, LinesReachTheMachinesSystemLogger) {
    if (!std::filesystem::exists("/dev/log") || std::system("journalctl -n 0 >/dev/null 2>&1"))
        GTEST_SKIP() << "no system logger on this machine to read the lines back from";
    TTempFolder temp;
    const std::string marker = "raduvuz test line " + std::to_string(::getpid());
    {
        TSystemLog log("raduvuz-test");
        log.Write(TLogSeverity::Error, marker);
    }
    std::string found;
    for (int attempt = 0; attempt < 50 && found.find(marker) == std::string::npos; ++attempt) {
        ::usleep(100000);
        const std::string out = temp / "journal";
        std::system(("journalctl -q -t raduvuz-test -o cat >'" + out + "' 2>/dev/null").c_str());
        found = ReadTextFile(out);
    }
    EXPECT_NE(found.find(marker), std::string::npos) << found;
}

} // namespace
} // namespace raduvuz
