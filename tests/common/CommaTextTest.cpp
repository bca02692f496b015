#include "common/CommaText.h"

#include <gtest/gtest.h>

using namespace raduvuz;
using TItems = std::vector<std::string>;

TEST(CommaText, ReadsItemsBetweenCommasAndBlanks) {
    EXPECT_EQ(ReadCommaText("  a, b ,,c"), (TItems{"a", "b", "", "c"}));
    // A blank between two unquoted words splits them.
    EXPECT_EQ(ReadCommaText("My Job"), (TItems{"My", "Job"}));
    EXPECT_EQ(ReadCommaText("\ta\r\n,\x01"
                            "b"),
              (TItems{"a", "b"}));
    EXPECT_EQ(ReadCommaText(",a"), (TItems{"", "a"}));
    EXPECT_EQ(ReadCommaText(""), TItems{});
    EXPECT_EQ(ReadCommaText(" \t "), TItems{});
    // Bytes above ASCII are no blanks.
    EXPECT_EQ(ReadCommaText("Größe,é x"), (TItems{"Größe", "é", "x"}));
}

// The lists show a value as typed: blanks that split it and the quotes that keep it whole go.
TEST(CommaText, ItemsAsTypedJoinWhatTheReadingSplit) {
    EXPECT_EQ(ItemsAsTyped("PANTONE 185 C"), "PANTONE 185 C");
    EXPECT_EQ(ItemsAsTyped(WriteCommaText(ReadCommaText("PANTONE 185 C"))), "PANTONE 185 C");
    EXPECT_EQ(ItemsAsTyped("\"Proof, second round\""), "Proof, second round");
    EXPECT_EQ(ItemsAsTyped("\"Say \"\"hi\"\"\""), "Say \"hi\"");
    EXPECT_EQ(ItemsAsTyped("Cyan"), "Cyan");
    EXPECT_EQ(ItemsAsTyped(""), "");
}

TEST(CommaText, ReadsQuotedItemsWithDoubledQuotes) {
    EXPECT_EQ(ReadCommaText(R"("x ""y"", z",w)"), (TItems{"x \"y\", z", "w"}));
    EXPECT_EQ(ReadCommaText(R"("")"), TItems{""});
    // An unclosed quote runs to the end of the text.
    EXPECT_EQ(ReadCommaText(R"(a,"open item)"), (TItems{"a", "open item"}));
    // A quoted item ends at its closing quote even when no comma follows.
    EXPECT_EQ(ReadCommaText(R"("ab"cd)"), (TItems{"ab", "cd"}));
    // A quote inside an unquoted item is an ordinary character.
    EXPECT_EQ(ReadCommaText(R"(ab"c)"), TItems{"ab\"c"});
}

TEST(CommaText, TrailingCommaAndNulCharacters) {
    // A comma that ends the text separates one last, empty item; with blanks after it, none.
    EXPECT_EQ(ReadCommaText("a,"), (TItems{"a", ""}));
    EXPECT_EQ(ReadCommaText(","), (TItems{"", ""}));
    EXPECT_EQ(ReadCommaText("a, "), TItems{"a"});
    // Outside quotes a NUL ends the text; inside quotes it is kept.
    EXPECT_EQ(ReadCommaText(std::string("a\0b,c", 5)), TItems{"a"});
    EXPECT_EQ(ReadCommaText(std::string("\"a\0b\",c", 7)), (TItems{std::string("a\0b", 3), "c"}));
}

TEST(CommaText, WritesQuotingOnlyWhereNeeded) {
    EXPECT_EQ(WriteCommaText({}), "");
    EXPECT_EQ(WriteCommaText({""}), "\"\"");
    EXPECT_EQ(WriteCommaText({"", ""}), ",");
    EXPECT_EQ(WriteCommaText({"P1", "P2"}), "P1,P2");
    EXPECT_EQ(WriteCommaText({"My Job", "x"}), "\"My Job\",x");
    EXPECT_EQ(WriteCommaText({"say \"hi\""}), R"("say ""hi""")");
    EXPECT_EQ(WriteCommaText({"a,b"}), "\"a,b\"");
    EXPECT_EQ(WriteCommaText({"tab\there"}), "\"tab\there\"");
    EXPECT_EQ(WriteCommaText({"Größe", "é"}), "Größe,é");
}

TEST(CommaText, ComparisonsFoldAsciiLettersOnly) {
    EXPECT_EQ(AsciiUpper("abc-xyz äé"), "ABC-XYZ äé");
    EXPECT_TRUE(SameTextAscii("Device", "DEVICE"));
    EXPECT_FALSE(SameTextAscii("ä", "Ä"));
    EXPECT_FALSE(SameTextAscii("A ", "A"));
}
