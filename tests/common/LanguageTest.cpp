#include "common/Language.h"

#include "CommonTestSupport.h"

using namespace raduvuz;
using raduvuz::test::TCommonTest;

namespace {

const char* const kTable = "# texts of the test language\n"
                           "1758=Datei %s übertragen\n"
                           "12=Line\\nTwo\\tTab\\\\end\\q\n"
                           "13=\n"
                           " 14 = spaced number \n"
                           "bad line\n"
                           "x=not a number\n"
                           "70000=out of range\n"
                           "1758=second definition\n"
                           "20=Zwei %s und %s\r\n";

} // namespace

using LanguageTest = TCommonTest;

TEST_F(LanguageTest, WithoutRegistryValueDefaultsAreUsed) {
    EXPECT_EQ(LanguageState(), TLanguageState::NotTried);
    EXPECT_EQ(LanguageText(1758, "File %s transferred"), "File %s transferred");
    EXPECT_EQ(LanguageState(), TLanguageState::None);
    EXPECT_EQ(LanguageFormat(1758, {"a.pdf"}, "File %s transferred"), "File a.pdf transferred");
}

TEST_F(LanguageTest, EmptyValueOrMissingFileGiveNone) {
    WriteFile(ProgramDir() + "Language.", kTable);
    WriteRegistry("Language=\n");
    EXPECT_EQ(LanguageText(1758, "d"), "d");
    EXPECT_EQ(LanguageState(), TLanguageState::None);

    ResetLanguageForTesting();
    WriteRegistry("Language=fr\n");
    EXPECT_EQ(LanguageText(1758, "d"), "d");
    EXPECT_EQ(LanguageState(), TLanguageState::None);

    // A folder of that name is no table either, nor does the value leave the program folder.
    ResetLanguageForTesting();
    std::filesystem::create_directories(ProgramDir() + "Language.fr");
    EXPECT_EQ(LanguageText(1758, "d"), "d");
    EXPECT_EQ(LanguageState(), TLanguageState::None);
    ResetLanguageForTesting();
    std::filesystem::create_directories(ProgramDir() + "Language.d");
    WriteFile(PathOf("Language.x"), kTable);
    WriteRegistry("Language=d/../../Language.x\n");
    EXPECT_EQ(LanguageText(1758, "d"), "d");
}

TEST_F(LanguageTest, TableTextsReplaceDefaults) {
    WriteFile(ProgramDir() + "Language.de", kTable);
    WriteRegistry("Language=de\n");
    EXPECT_EQ(LanguageText(1758, "File %s transferred"), "Datei %s übertragen");
    EXPECT_EQ(LanguageState(), TLanguageState::Loaded);
    EXPECT_EQ(LanguageText(12, "d"), "Line\nTwo\tTab\\end\\q");
    EXPECT_EQ(LanguageText(13, "empty counts as missing"), "empty counts as missing");
    EXPECT_EQ(LanguageText(14, "d"), " spaced number ");
    EXPECT_EQ(LanguageText(999, "not there"), "not there");
    EXPECT_EQ(LanguageText(70000, "d"), "d");

    EXPECT_EQ(LanguageFormat(1758, {"a.pdf"}, "File %s transferred"), "Datei a.pdf übertragen");
    EXPECT_EQ(LanguageFormat(999, {"a.pdf"}, "File %s transferred"), "File a.pdf transferred");
    // A translated format that asks for more than the caller gives stays in bounds.
    EXPECT_EQ(LanguageFormat(20, {"eins"}, "Two %s"), "Zwei eins und ");
}

TEST_F(LanguageTest, LoadedOnceAndNeverRetriedAfterNone) {
    EXPECT_EQ(LanguageText(1758, "d"), "d");
    WriteFile(ProgramDir() + "Language.de", kTable);
    WriteRegistry("Language=de\n");
    EXPECT_EQ(LanguageText(1758, "d"), "d");
    EXPECT_EQ(LanguageState(), TLanguageState::None);

    ResetLanguageForTesting();
    EXPECT_EQ(LanguageText(1758, "d"), "Datei %s übertragen");
    // The table is read once per process; later changes to the file do not count.
    WriteFile(ProgramDir() + "Language.de", "1758=changed\n");
    EXPECT_EQ(LanguageText(1758, "d"), "Datei %s übertragen");
}

TEST_F(LanguageTest, ByteOrderMarkAndLongTexts) {
    const std::string longText(3000, 'x');
    WriteFile(ProgramDir() + "Language.en", "\xEF\xBB\xBF"
                                            "1=first\n2=" +
                                                longText + "\n3=" + std::string(2046, 'a') + "é\n");
    WriteRegistry("Language=en\n");
    EXPECT_EQ(LanguageText(1, "d"), "first");
    EXPECT_EQ(LanguageText(2, "d"), std::string(2047, 'x'));
    // A cut never splits a UTF-8 sequence.
    EXPECT_EQ(LanguageText(3, "d"), std::string(2046, 'a'));
}
