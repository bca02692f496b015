#include "platform/Registry.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

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
