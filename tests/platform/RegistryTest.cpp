#include "platform/Registry.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace raduvuz {
namespace {

using test::TScopedEnv;
using test::TTempFolder;

class RegistryTest : public ::testing::Test {
protected:
    TTempFolder Temp;
    std::string File = Temp / "registry.ini";
    TScopedEnv Registry{"RADUVUZ_REGISTRY", File};
};

TEST_F(RegistryTest, FindsValuesBySectionWhateverTheCaseAndLeadingBackslash) {
    // A missing file has no values, and looking does not make one.
    EXPECT_EQ(RegistryString(kServerKey, "DataPath"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(File));
    test::WriteTextFile(File, "\xEF\xBB\xBF; installed by the set-up\r\n"
                              "DataPath=/outside/any/section\r\n"
                              "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\r\n"
                              "#Language=DEU\r\n"
                              "  DataPath =  /srv/twf data  \r\n"
                              "Language=ENU\r\n"
                              "\r\n"
                              "[\\software\\tarnwick\\TernWorkFlow]\n"
                              "Path=/opt/twf=main\n"
                              "[Other]\n"
                              "Language=FRA\n");

    EXPECT_EQ(RegistryString(kServerKey, "DataPath"), "/srv/twf data");
    EXPECT_EQ(RegistryString(kServerKey, "datapath"), "/srv/twf data");
    EXPECT_EQ(RegistryString("\\SOFTWARE\\TARNWICK\\KORVO PDF SERVER\\5.0", "LANGUAGE"), "ENU");
    EXPECT_EQ(RegistryString(kWorkflowKey, "Path"), "/opt/twf=main");
    EXPECT_EQ(RegistryString("Other", "Language"), "FRA");

    // Values belong to their own section only.
    EXPECT_EQ(RegistryString(kWorkflowKey, "Language"), std::nullopt);
    EXPECT_EQ(RegistryString("SOFTWARE\\Tarnwick\\Korvo PDF Server", "DataPath"), std::nullopt);
    EXPECT_EQ(RegistryString(kServerKey, "Missing"), std::nullopt);
}

// The odd lines of a hand-edited file, each read by the project's one set of INI rules.
TEST_F(RegistryTest, OddLinesAreReadByTheSameRulesAsEveryIniFile) {
    const std::string longKey(70, 'K');
    const std::string longValue(10000, 'v');
    const struct {
        std::string Text;
        std::string Key;
        std::string Name;
        std::optional<std::string> Value;
    } kCases[] = {
        {"\xEF\xBB\xBF[K]\r\nv = 1\r\n", "K", "v", "1"},
        {"[K]\nv=1", "K", "v", "1"},
        {"[K]\nv=\n", "K", "v", ""},
        {"[K]\nv = a ; b # c\n", "K", "v", "a ; b # c"},
        {"[K]\nv = \"a  b\"\n", "K", "v", "\"a  b\""},
        {"[K]\n  ;v=1\n\t# v=2\nv=3\n", "K", "v", "3"},
        {"[K]\nv=1\nv=2\n", "K", "v", "1"},
        {"[K]\n[O]\nw=1\n[k]\nv=2\n", "K", "v", "2"},
        {"[K]\nv=1\n  w=2\n", "K", "w", "2"},
        {"[K]\nv=1\n  more\n", "K", "v", "1"},
        {"[K]\na:b=1\n", "K", "a:b", std::nullopt},
        {"[K]\na:b=1\n", "K", "a", std::nullopt},
        {"[K]\nv:1\n", "K", "v", std::nullopt},
        {"[  K  ] the rest\nv=1\n", "K", "v", "1"},
        {"[K]x]\nv=1\n", "K", "v", "1"},
        {"[K]\n[broken\nv=1\n", "K", "v", "1"},
        {"[" + longKey + "]\nv=" + longValue + "\n", longKey, "v", longValue},
        {"[" + longKey + "]\nv=1\n", longKey.substr(0, 49), "v", std::nullopt},
    };
    for (const auto& c : kCases) {
        test::WriteTextFile(File, c.Text);
        EXPECT_EQ(RegistryString(c.Key, c.Name), c.Value) << c.Text.substr(0, 80);
    }
}

// The package's example registry sets nothing as shipped; each commented value, once its ";" is
// taken away, is read under the key the module looks it up in.
TEST_F(RegistryTest, ShippedExampleSetsNothingUntilAValueIsUncommented) {
    std::ifstream in(RADUVUZ_REGISTRY_EXAMPLE, std::ios::binary);
    ASSERT_TRUE(in) << RADUVUZ_REGISTRY_EXAMPLE;
    const std::string example((std::istreambuf_iterator<char>(in)), {});
    test::WriteTextFile(File, example);
    EXPECT_EQ(RegistryString(kServerKey, "DataPath"), std::nullopt);
    EXPECT_EQ(RegistryString(kServerKey, "Language"), std::nullopt);
    EXPECT_EQ(RegistryString(kWorkflowKey, "ProductLine"), std::nullopt);

    std::string uncommented;
    std::istringstream lines(example);
    for (std::string line; std::getline(lines, line);)
        uncommented += (line.starts_with(";") && line.find('=') != std::string::npos &&
                                line.find(' ') > line.find('=')
                            ? line.substr(1)
                            : line) +
                       "\n";
    test::WriteTextFile(File, uncommented);
    EXPECT_EQ(RegistryString(kServerKey, "DataPath"), "/srv/twf/TWF_Data");
    EXPECT_EQ(RegistryString(kServerKey, "Language"), "deu");
    EXPECT_EQ(RegistryString(kWorkflowKey, "ProductLine"), "Korvo PDF Server");
}

} // namespace
} // namespace raduvuz
