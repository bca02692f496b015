#include "platform/TCompoundFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace raduvuz::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One workflow run in a clean folder: program folder, data folder and registry of its own.
class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "raduvuz-flow-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Root = pattern;
        fs::create_directories(Root / "prog");
        Env = "XDG_DATA_HOME='" + (Root / "xdg").string() + "' RADUVUZ_PROGRAM_DIR='" +
              (Root / "prog").string() + "/' RADUVUZ_REGISTRY='" + (Root / "reg.ini").string() +
              "' QT_QPA_PLATFORM=offscreen ";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(Root, ignored);
    }

    void MakePages(const std::string& name, int priority) {
        const std::string command = std::string(RASTERGEN_PATH) +
                                    " --width 256 --height 256 --device '*' --name " + name +
                                    " --priority " + std::to_string(priority) + " '" +
                                    (Root / "pages").string() + "' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // The module's stored configuration before the server loads it.
    void WriteConfig(const std::string& key, const std::string& text) {
        const fs::path folder = Root / "xdg" / "TWF_Data" / "Config";
        fs::create_directories(folder);
        TCompoundFile storage;
        ASSERT_TRUE(storage.Create((folder / (key + ".set")).string()));
        ASSERT_TRUE(storage.WriteCountedText(key, text));
    }

    int Run(const std::string& extra) {
        std::ofstream ini(Root / "flow.ini");
        ini << "[workflow]\nname = Flow\nbus = private\ntimeout = 60\n"
            << "module-program = " << RADUVUZ_PROGRAM << "\n"
            << "store-program = " << MEMORYMAN_PATH << "\n"
            << extra << "\n"
            << "[module 3]\nname = Queuer\nconfig-key = Q\n"
            << "flow = 12: Color=Cyan,Magenta;Device=PrinterA\n"
            << "flow = 15: Color=Yellow,Black;Device=PrinterB\n"
            << "[sink 12]\nname = Printer A\nfolder = out/a\n"
            << "[sink 15]\nname = Printer B\nfolder = out/b\n"
            << "[input]\nto = 3\nblock-size = 16384\nfolder = pages\n";
        ini.close();
        const std::string command = Env + TWF_PATH + " --quiet --log '" +
                                    (Root / "flow.log").string() + "' '" +
                                    (Root / "flow.ini").string() + "' >/dev/null 2>&1";
        return std::system(command.c_str());
    }

    // Output documents of a sink folder, without their parameter files.
    std::vector<fs::path> Outputs(const std::string& sink) const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(Root / "out" / sink)) {
            if (entry.path().extension() != ".dds")
                files.push_back(entry.path());
        }
        return files;
    }

    // Every output equals the input page whose file name it carries after "<doc>_".
    void ExpectOutputsEqualInputs(const std::string& sink) const {
        for (const fs::path& output : Outputs(sink)) {
            const std::string name = output.filename().string();
            const fs::path input = Root / "pages" / name.substr(name.find('_') + 1);
            ASSERT_TRUE(fs::exists(input)) << name;
            EXPECT_EQ(ReadAll(output), ReadAll(input)) << name;
        }
    }

    size_t SpoolFiles() const {
        const fs::path folder = Root / "prog" / "Storage" / "Q";
        if (!fs::exists(folder))
            return 0;
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    fs::path Root;
    std::string Env;
};

TEST_F(WorkflowTest, PassThroughDeliversEveryPlateUnchangedAndKeepsSpoolFiles) {
    MakePages("pass", 5);
    ASSERT_EQ(Run(""), 0) << ReadAll(Root / "flow.log");
    ASSERT_EQ(Outputs("a").size(), 2u);
    ASSERT_EQ(Outputs("b").size(), 2u);
    ExpectOutputsEqualInputs("a");
    ExpectOutputsEqualInputs("b");
    EXPECT_EQ(SpoolFiles(), 4u);
}

TEST_F(WorkflowTest, SpoolModeSpoolsFirstAndSendsEveryPlate) {
    MakePages("spool", 10);
    WriteConfig("Q", "WorkMode=1");
    ASSERT_EQ(Run(""), 0) << ReadAll(Root / "flow.log");
    ASSERT_EQ(Outputs("a").size(), 2u);
    ASSERT_EQ(Outputs("b").size(), 2u);
    ExpectOutputsEqualInputs("a");
    ExpectOutputsEqualInputs("b");
    EXPECT_EQ(SpoolFiles(), 4u);
}

} // namespace
} // namespace raduvuz::test
