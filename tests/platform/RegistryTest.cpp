#include "platform/Registry.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
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

    EXPECT_TRUE(RegistryKeyExists(kServerKey));
    EXPECT_TRUE(RegistryKeyExists("\\Software\\Tarnwick"));
    EXPECT_FALSE(RegistryKeyExists("SOFTWARE\\Tarn"));
    EXPECT_FALSE(RegistryKeyExists("SOFTWARE\\Tarnwick\\Korvo PDF Server\\6.0"));
    EXPECT_FALSE(RegistryKeyExists(""));
}

// The package's example registry sets nothing as shipped; each commented value, once its ";" is
// taken away, is read under the key the module looks it up in.
TEST_F(RegistryTest, ShippedExampleSetsNothingUntilAValueIsUncommented) {
    std::ifstream in(RADUVUZ_REGISTRY_EXAMPLE, std::ios::binary);
    ASSERT_TRUE(in) << RADUVUZ_REGISTRY_EXAMPLE;
    const std::string example((std::istreambuf_iterator<char>(in)), {});
    test::WriteTextFile(File, example);
    EXPECT_TRUE(RegistryKeyExists(kServerKey));
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

TEST_F(RegistryTest, SeesChangesOfTheFileAtOnce) {
    test::WriteTextFile(File, "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\nLanguage=ENU\n");
    EXPECT_EQ(RegistryString(kServerKey, "Language"), "ENU");

    test::WriteTextFile(File, "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\nLanguage=DEU\n");
    EXPECT_EQ(RegistryString(kServerKey, "Language"), "DEU");
}

TEST_F(RegistryTest, MissingFileHasNoKeysAndIsNeverCreated) {
    EXPECT_EQ(RegistryFile(), File);
    EXPECT_FALSE(RegistryKeyExists(kServerKey));
    EXPECT_EQ(RegistryString(kServerKey, "DataPath"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(File));
}

} // namespace
} // namespace raduvuz
