#include "common/Language.h"

#include "CommonTestSupport.h"

using namespace raduvuz;
using raduvuz::test::TCommonTest;
using raduvuz::test::WriteTextFile;

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

// An empty value, a missing file, a folder of that name and a value that leaves the program
// folder are no table, as no value is.
TEST_F(LanguageTest, AnEmptyValueOrAMissingFileGiveTheDefaults) {
    WriteTextFile(ProgramDir() + "Language.", kTable);
    std::filesystem::create_directories(ProgramDir() + "Language.fr");
    std::filesystem::create_directories(ProgramDir() + "Language.d");
    WriteTextFile(PathOf("Language.x"), kTable);
    for (const std::string value : {"", "es", "fr", "d/../../Language.x"}) {
        WriteRegistry("Language=" + value + "\n");
        TLanguageTable table(ProgramDir());
        EXPECT_EQ(table.Text(1758, "d"), "d") << value;
        EXPECT_EQ(table.State(), TLanguageState::None) << value;
    }
}

TEST_F(LanguageTest, TableTextsReplaceDefaults) {
    WriteTextFile(ProgramDir() + "Language.de", kTable);
    WriteRegistry("Language=de\n");
    // The folder may be given without its trailing "/".
    TLanguageTable language(Root + "/prog");
    EXPECT_EQ(language.Text(1758, "File %s transferred"), "Datei %s übertragen");
    EXPECT_EQ(language.State(), TLanguageState::Loaded);
    EXPECT_EQ(language.Text(12, "d"), "Line\nTwo\tTab\\end\\q");
    EXPECT_EQ(language.Text(13, "empty counts as missing"), "empty counts as missing");
    EXPECT_EQ(language.Text(14, "d"), " spaced number ");
    EXPECT_EQ(language.Text(999, "not there"), "not there");
    EXPECT_EQ(language.Text(70000, "d"), "d");

    EXPECT_EQ(language.Format(1758, {"a.pdf"}, "File %s transferred"), "Datei a.pdf übertragen");
    EXPECT_EQ(language.Format(999, {"a.pdf"}, "File %s transferred"), "File a.pdf transferred");
    // A translated format that asks for more than the caller gives stays in bounds.
    EXPECT_EQ(language.Format(20, {"eins"}, "Two %s"), "Zwei eins und ");
}

TEST_F(LanguageTest, NoValueGivesTheDefaultsAndATableIsLoadedOnceAndNeverRetriedAfterNone) {
    TLanguageTable early(ProgramDir());
    EXPECT_EQ(early.State(), TLanguageState::NotTried);
    EXPECT_EQ(early.Format(1758, {"a.pdf"}, "File %s transferred"), "File a.pdf transferred");
    EXPECT_EQ(early.State(), TLanguageState::None);
    EXPECT_EQ(early.Text(1758, "d"), "d");
    WriteTextFile(ProgramDir() + "Language.de", kTable);
    WriteRegistry("Language=de\n");
    EXPECT_EQ(early.Text(1758, "d"), "d");
    EXPECT_EQ(early.State(), TLanguageState::None);

    TLanguageTable language(ProgramDir());
    EXPECT_EQ(language.Text(1758, "d"), "Datei %s übertragen");
    // The table is read once; later changes to the file do not count.
    WriteTextFile(ProgramDir() + "Language.de", "1758=changed\n");
    EXPECT_EQ(language.Text(1758, "d"), "Datei %s übertragen");
}

TEST_F(LanguageTest, ByteOrderMarkAndLongTexts) {
    const std::string longText(3000, 'x');
    WriteTextFile(ProgramDir() + "Language.en", "\xEF\xBB\xBF"
                                                "1=first\n2=" +
                                                    longText + "\n3=" + std::string(2046, 'a') +
                                                    "é\n");
    WriteRegistry("Language=en\n");
    TLanguageTable language(ProgramDir());
    EXPECT_EQ(language.Text(1, "d"), "first");
    EXPECT_EQ(language.Text(2, "d"), std::string(2047, 'x'));
    // A cut never splits a UTF-8 sequence.
    EXPECT_EQ(language.Text(3, "d"), std::string(2046, 'a'));
}
