#pragma once

// A whole workflow in a clean folder: the module program installed in a program folder of its
// own, a data folder and a registry; twf starts a private bus, the store and the module program.

#include "common/Utils.h"
#include "platform/GoEvent.h"
#include "support/ConfigFiles.h"
#include "support/SmallDisk.h"
#include "support/TempFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace raduvuz::test {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// The size of a file, -1 while there is none.
inline int64_t SizeOf(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// What comes after "PREFIX" on the first log line that holds it, up to the end of that line.
inline std::string AfterInLog(const std::string& log, const std::string& prefix) {
    const size_t at = log.find(prefix);
    if (at == std::string::npos)
        return "<no line with " + prefix + ">";
    const size_t begin = at + prefix.size();
    return log.substr(begin, log.find('\n', begin) - begin);
}

// Flow entries by colour with the device of each destination as a terminator number, and the
// terminators whose keys a hold list names.
inline const char* const ColourFlows = "flow = 12: Color=Cyan,Magenta;Device=1\n"
                                       "flow = 15: Color=Yellow,Black;Device=2\n";
inline const char* const Terminators = "[terminator 1]\nname = Printer A\nkey = PRN_A\n"
                                       "[terminator 2]\nname = Printer B\nkey = PRN_B\n";
// A third terminator, whose printer is paused for the whole run.
inline const char* const PausedPrinterC =
    "[terminator 3]\nname = Printer C\nkey = PRN_C\n"
    "[sink 17]\nname = Printer C\nfolder = out/c\npaused = yes\n";

struct TRun {
    // Lines of [module 3] besides name and key: flow entries, values, before-close calls.
    std::string Module = "flow = 12: Color=Cyan,Magenta;Device=PrinterA\n"
                         "flow = 15: Color=Yellow,Black;Device=PrinterB\n";
    // Lines of [workflow], e.g. expect and before-close.
    std::string Workflow = "";
    // Sections after the sinks.
    std::string Extra = "";
    std::string Sink12 = "";
    bool Inputs = true;
    int BlockSize = 16384;
    std::string LogName = "flow.log";
    // More options of twf, each followed by a blank.
    std::string Options = "";

    // The same workflow started again with nothing to feed and every sink taking documents.
    TRun Again(const std::string& workflow) const {
        TRun run = *this;
        run.Inputs = false;
        run.Sink12.clear();
        run.Workflow = workflow;
        return run;
    }
};

// One workflow run in a clean folder: the module program installed in a program folder of its
// own, a data folder and a registry; twf starts a private bus, the store and the module program.
class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A test must not wait for somebody's RIP.
        if (GoEventExists(kGoEventName))
            GTEST_SKIP() << "a RIP's go event " << kGoEventName << " exists on this machine";
        ASSERT_FALSE(Folder.Path().empty());
        fs::create_directories(Root / "prog");
        // A link where the file system allows one, else a copy: either way the program's folder
        // (its default storage) is the test's.
        std::error_code linked;
        fs::create_hard_link(RADUVUZ_PROGRAM, Program(), linked);
        if (linked)
            fs::copy_file(RADUVUZ_PROGRAM, Program());
        // The store numbers documents in a file of the test's own, not in the home folder.
        Env = "XDG_DATA_HOME='" + (Root / "xdg").string() + "' XDG_STATE_HOME='" +
              (Root / "state").string() + "' RADUVUZ_REGISTRY='" + (Root / "reg.ini").string() +
              "' QT_QPA_PLATFORM=offscreen ";
    }

    // Plates of size x size pixels in folder; the path of the first plate's page.
    fs::path MakePages(const std::string& name, int priority, const std::string& plates = "CMYK",
                       const std::string& device = "*", int size = 256,
                       const std::string& folder = "pages") {
        const std::string command = std::string(RASTERGEN_PATH) + " --width " +
                                    std::to_string(size) + " --height " + std::to_string(size) +
                                    " --device '" + device + "' --name " + name + " --priority " +
                                    std::to_string(priority) + " --plates " + plates + " '" +
                                    (Root / folder).string() + "' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return Root / folder / (name + "-1-" + plates.substr(0, 1) + ".rst");
    }

    // The module's stored configuration before the server loads it.
    void WriteConfig(const std::string& text) {
        WriteSetFile((ConfigFolder() / "Q.set").string(), "Q", text);
    }

    // Writes the workflow file of run; twf's log goes to LogFile.
    void WriteFlow(const TRun& run) {
        std::ofstream ini(Root / "flow.ini");
        ini << "[workflow]\nname = Flow\nbus = private\ntimeout = 60\n"
            << "module-program = " << Program().string() << "\n"
            << "store-program = " << MEMORYMAN_PATH << "\n"
            << run.Workflow << "\n"
            << "[module 3]\nname = Queuer\nconfig-key = Q\n"
            << run.Module << "[sink 12]\nname = Printer A\nfolder = out/a\n"
            << run.Sink12 << "\n[sink 15]\nname = Printer B\nfolder = out/b\n"
            << run.Extra << "\n";
        if (run.Inputs)
            ini << "[input]\nto = 3\nblock-size = " << run.BlockSize << "\nfolder = pages\n";
        ini.close();
        LogFile = Root / run.LogName;
    }
    int Run(const TRun& run) {
        WriteFlow(run);
        const std::string command = Env + TWF_PATH + " --quiet " + run.Options + "--log '" +
                                    LogFile.string() + "' '" + (Root / "flow.ini").string() +
                                    "' </dev/null >/dev/null 2>&1";
        return std::system(command.c_str());
    }
    std::string Log() const { return ReadTextFile(LogFile); }
    // Runs the workflow and keeps its log in RunLog; a failed run shows the log.
    ::testing::AssertionResult Passes(const TRun& run) {
        const int status = Run(run);
        RunLog = Log();
        if (status == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "twf ended with " << status << "\n" << RunLog;
    }

    // A shell loop that waits (up to 20 s) until the log holds text. The first letter goes in
    // brackets, so neither the pattern nor the test finds the log's own copy of the command.
    static std::string WaitForLog(const std::string& text) {
        return "for i in $(seq 200); do grep -q '[" + text.substr(0, 1) + "]" + text.substr(1) +
               "' flow.log && break; sleep 0.1; done; ";
    }
    // Workflow lines for a run that expects no output and closes once the log holds the text
    // and then seconds more.
    static std::string CloseAfterLog(const std::string& text, const std::string& seconds) {
        return "expect = 0\nbefore-close = " + WaitForLog(text) + "sleep " + seconds + "\n";
    }
    // Workflow lines that wait until the log holds text, then send the module SIGTERM and wait
    // until its process has ended.
    // With volley, SIGINT, SIGTERM and SIGHUP at once and SIGTERM again and again until the
    // process has ended, as a parent that ends sends them from several threads.
    static std::string TerminateAfterLog(const std::string& text, bool volley = false) {
        return "expect = 0\nbefore-close = " + WaitForLog(text) +
               "pid=$(sed -n 's/.*created as RAduvuz.ModuleControl.p\\([0-9]*\\).*/\\1/p' "
               "flow.log); " +
               (volley ? "kill -INT $pid; kill -TERM $pid; kill -HUP $pid; for i in $(seq 2000); "
                         "do kill -TERM $pid 2>/dev/null || break; done; "
                       : "kill -TERM $pid; ") +
               "for i in $(seq 100); do kill -0 $pid 2>/dev/null || "
               "break; sleep 0.1; done; kill -0 $pid 2>/dev/null && echo module running || echo "
               "module gone\n";
    }

    // Output documents of a sink folder, without their parameter files, in output number order.
    std::vector<fs::path> Outputs(const std::string& sink) const {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Root / "out" / sink, ec)) {
            if (entry.path().extension() != ".dds")
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
            return std::stol(a.filename().string()) < std::stol(b.filename().string());
        });
        return files;
    }

    // The input page an output carries after "<doc>_".
    static std::string InputName(const fs::path& output) {
        const std::string name = output.filename().string();
        return name.substr(name.find('_') + 1);
    }

    // Every output equals the input page whose file name it carries after "<doc>_", from pages/
    // or from own/, where a test keeps the pages it feeds itself.
    void ExpectOutputsEqualInputs(const std::string& sink) const {
        for (const fs::path& output : Outputs(sink)) {
            fs::path input = Root / "pages" / InputName(output);
            if (!fs::exists(input))
                input = Root / "own" / InputName(output);
            ASSERT_TRUE(fs::exists(input)) << output;
            EXPECT_EQ(ReadTextFile(output), ReadTextFile(input)) << output;
        }
    }
    void ExpectSent(const std::string& sink, size_t count) const {
        EXPECT_EQ(Outputs(sink).size(), count) << sink << "\n" << RunLog;
        ExpectOutputsEqualInputs(sink);
    }
    // The inputs the sink's outputs were made from, as often as each was sent.
    std::multiset<std::string> SentNames(const std::string& sink) const {
        std::multiset<std::string> names;
        for (const fs::path& output : Outputs(sink))
            names.insert(InputName(output));
        return names;
    }
    // The sink's outputs are the inputs named, each equal to its input.
    void ExpectDelivered(const std::string& sink, const std::multiset<std::string>& names) const {
        ExpectOutputsEqualInputs(sink);
        EXPECT_EQ(SentNames(sink), names) << RunLog;
    }

    fs::path Program() const { return Root / "prog" / "raduvuz"; }
    fs::path ConfigFolder() const { return Root / "xdg" / "TWF_Data" / "Config"; }
    fs::path JobFolder() const { return Root / "prog" / "Storage" / "Q"; }

    // The spool files of a job folder: the files named <JobID>_<DocID> (the journal of waiting
    // jobs and the damaged folder are no spool files).
    std::set<std::string> SpoolFiles() const { return SpoolFiles(JobFolder()); }
    static std::set<std::string> SpoolFiles(const fs::path& folder) {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            const std::string name = entry.path().filename().string();
            const size_t underscore = name.find('_');
            const auto digits = [](const std::string& part) {
                return !part.empty() && std::all_of(part.begin(), part.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
            };
            if (underscore != std::string::npos && digits(name.substr(0, underscore)) &&
                digits(name.substr(underscore + 1)))
                names.insert(name);
        }
        return names;
    }

    // The lines of the store's listing at the end of the run.
    std::vector<std::string> StoreLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : Lines(RunLog)) {
            const size_t at = line.find(" store: ");
            if (at != std::string::npos)
                lines.push_back(line.substr(at + 8));
        }
        return lines;
    }

    // The store's first listing line: how many documents it still holds.
    std::string StoreSummary() const {
        const std::vector<std::string> store = StoreLines();
        return store.empty() ? "<no store listing>" : store.front();
    }

    TTempFolder Folder;
    fs::path Root = Folder.Path();
    std::string Env;
    fs::path LogFile;
    std::string RunLog;
};

} // namespace raduvuz::test
