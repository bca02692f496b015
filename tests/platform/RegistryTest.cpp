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

// The lines of a hand-edited file, each read by the project's one set of INI rules: sections
// match whatever their case and leading backslash, and values belong to their own section only.
TEST_F(RegistryTest, LinesAreReadByTheSameRulesAsEveryIniFile) {
    const std::string longKey(70, 'K');
    const std::string longValue(10000, 'v');
    const struct {
        std::string Text;
        std::string Key;
        std::string Name;
        std::optional<std::string> Value;
    } kCases[] = {
        {"[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\r\n\r\n  DataPath =  /srv/twf data  \r\n",
         kServerKey, "datapath", "/srv/twf data"},
        {"[\\software\\tarnwick\\TernWorkFlow]\nPath=/opt/twf=main\n", kWorkflowKey, "Path",
         "/opt/twf=main"},
        {"[K]\nv=1\n", "\\k", "V", "1"},
        {"v=1\n[K]\n", "K", "v", std::nullopt},
        {"[K]\nv=1\n[O]\n", "O", "v", std::nullopt},
        {"[K\\5.0]\nv=1\n", "K", "v", std::nullopt},
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
    // Without a file there are no values, and looking makes none.
    EXPECT_EQ(RegistryString(kServerKey, "DataPath"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(File));
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
