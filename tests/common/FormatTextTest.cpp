#include "common/Utils.h"

#include <gtest/gtest.h>

#include <limits>

using namespace raduvuz;

TEST(FormatText, ConversionsFlagsWidthAndPrecision) {
    EXPECT_EQ(FormatText("File %s transferred", {"a.pdf"}), "File a.pdf transferred");
    EXPECT_EQ(FormatText("%s and %d", {"a", 5}), "a and 5");
    EXPECT_EQ(FormatText("%5d|%-5d|%05d|%+d|% d", {42, 42, 42, 5, 5}), "   42|42   |00042|+5| 5");
    EXPECT_EQ(FormatText("%05d|%.3d|%.0d", {-42, 5, 0}), "-0042|005|");
    EXPECT_EQ(FormatText("%i %u %x %X %#x", {-7, 7u, 255, 255, 255}), "-7 7 ff FF 0xff");
    EXPECT_EQ(FormatText("%d", {std::numeric_limits<long long>::min()}), "-9223372036854775808");
    EXPECT_EQ(FormatText("%ld %lld %hd", {1, 2, 3}), "1 2 3");
    EXPECT_EQ(FormatText("[%6s][%-6s][%.2s]", {"ab", "ab", "abcdef"}), "[    ab][ab    ][ab]");
    EXPECT_EQ(FormatText("100%% sure", {}), "100% sure");
    // A precision does not split a UTF-8 sequence.
    EXPECT_EQ(FormatText("[%.1s]|[%.3s]|[%.2s]", {"éa", "aéb", "aéb"}), "[]|[aé]|[a]");
}

TEST(FormatText, RealsUseTwoDecimalsForPlainF) {
    EXPECT_EQ(FormatText("%f", {1.5}), "1.50");
    EXPECT_EQ(FormatText("%.3f|%8.2f|%-8.1f|", {3.14159, 3.14159, 2.0}),
              "3.142|    3.14|2.0     |");
    EXPECT_EQ(FormatText("%08.2f|%+.1f", {-3.14159, 2.0}), "-0003.14|+2.0");
    EXPECT_EQ(FormatText("%e|%.2E", {1234.5, 1234.5}), "1.234500e+03|1.23E+03");
    EXPECT_EQ(FormatText("%g|%G|%.3g", {0.5, 1e20, 3.14159}), "0.5|1E+20|3.14");
}

TEST(FormatText, ArgumentsOfTheWrongKindAreConverted) {
    EXPECT_EQ(FormatText("%d|%d|%d", {"12", 3.9, -3.9}), "12|3|-3");
    EXPECT_EQ(FormatText("%5d|", {"abc"}), "  abc|");
    EXPECT_EQ(FormatText("%f|%f|%f", {2, "2.5", "x"}), "2.00|2.50|x");
    EXPECT_EQ(FormatText("%s|%s", {42, 1.5}), "42|1.5");
    EXPECT_EQ(FormatText("%u|%x|%d", {size_t{7}, ~uint64_t{0}, 3.0f}), "7|ffffffffffffffff|3");
    EXPECT_EQ(FormatText("%d", {1e300}), "9200000000000000000");
    EXPECT_EQ(FormatText("%f", {std::numeric_limits<double>::infinity()}), "inf");
}

TEST(FormatText, NeverReadsPastItsArguments) {
    EXPECT_EQ(FormatText("%s-%d-%f-%x", {"x"}), "x---");
    EXPECT_EQ(FormatText("%s %s %s %s %s %s %s %s", {}), "       ");
    EXPECT_EQ(FormatText("%*d|%*d", {5, 42, 3}), "   42|");
    EXPECT_EQ(FormatText("%-*d|", {-4, 7}), "7   |");
    EXPECT_EQ(FormatText("%.*f", {1, 2.25}), "2.2");
    // Extra arguments are left alone.
    EXPECT_EQ(FormatText("%s", {"a", "b", 3}), "a");
}

TEST(FormatText, MalformedFormatsStayAsWritten) {
    for (const char* format : {"100%", "%5", "%5."})
        EXPECT_EQ(FormatText(format, {1}), format);
    EXPECT_EQ(FormatText("%y %s", {"a"}), "%y a");
    EXPECT_EQ(FormatText("%n%p%s", {"a"}), "%n%pa");
    // A huge width is bounded instead of allocating without end.
    EXPECT_EQ(FormatText("%999999999999d", {1}).size(), 1024u);
    EXPECT_EQ(FormatText("%.99999999f", {1.0}).size(), 102u);
}
