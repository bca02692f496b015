#include "common/Utils.h"

#include "CommonTestSupport.h"
#include "support/CommaLocale.h"

#include <clocale>
#include <cmath>
#include <limits>

using namespace raduvuz;
using raduvuz::test::TCommaLocale;
using raduvuz::test::TCommonTest;
using raduvuz::test::TScopedEnv;

namespace {

TDateTime At(double day, int hours, int minutes, int seconds = 0, int ms = 0) {
    return day + (((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0 + ms) / 86400000.0;
}

} // namespace

TEST(Utils, SizeText) {
    EXPECT_EQ(SizeText(0), "0");
    EXPECT_EQ(SizeText(1023), "1023");
    EXPECT_EQ(SizeText(1024), "1.00 Kb");
    EXPECT_EQ(SizeText(1536), "1.50 Kb");
    // Just below a megabyte the kilobyte form rounds up to 1024.00.
    EXPECT_EQ(SizeText(1024 * 1024 - 1), "1024.00 Kb");
    EXPECT_EQ(SizeText(3 * 1024 * 1024), "3.00 Mb");
    EXPECT_EQ(SizeText(int64_t{5} * 1024 * 1024 * 1024), "5120.00 Mb");

    for (const char* bad : {"abc", "0", "-5", "", "12abc"})
        EXPECT_EQ(SizeTextOf(bad), "") << bad;
    EXPECT_EQ(SizeTextOf("1536"), "1.50 Kb");
    EXPECT_EQ(SizeTextOf("10737418240"), "10240.00 Mb");
}

TEST(Utils, PercentToByteRoundsHalvesToEven) {
    EXPECT_EQ(PercentToByte(0), 0);
    EXPECT_EQ(PercentToByte(100), 255);
    EXPECT_EQ(PercentToByte(50), 128); // 127.5
    EXPECT_EQ(PercentToByte(30), 76);  // 76.5
    EXPECT_EQ(PercentToByte(-5), 0);
    EXPECT_EQ(PercentToByte(150), 255);
    EXPECT_EQ(PercentToByte(1e300), 255);
    EXPECT_EQ(PercentToByte(std::nan("")), 0);
}

TEST(Utils, SanitizeValueMakesOneParameterValue) {
    EXPECT_EQ(SanitizeValue("a;b\"c"), "\"a b c\"");
    EXPECT_EQ(SanitizeValue("plain"), "plain");
    EXPECT_EQ(SanitizeValue("x,y"), "\"x,y\"");
    EXPECT_EQ(SanitizeValue(""), "");
}

TEST(Utils, RealsWithPointWhateverTheText) {
    EXPECT_DOUBLE_EQ(ReadRealPoint("1.5", -1), 1.5);
    EXPECT_DOUBLE_EQ(ReadRealPoint(" 2.25 ", -1), 2.25);
    EXPECT_DOUBLE_EQ(ReadRealPoint("-0.5e2", -1), -50);
    EXPECT_DOUBLE_EQ(ReadRealPoint("+3", -1), 3);
    EXPECT_DOUBLE_EQ(ReadRealPoint(".5", -1), 0.5);
    for (const char* bad : {"1,5", "abc", "", "inf", "nan", "0x10", "1.5x", "--1", "+-1"}) {
        EXPECT_DOUBLE_EQ(ReadRealPoint(bad, -1), -1) << bad;
    }
    // The classic locale's ReadReal reads the point form only.
    EXPECT_DOUBLE_EQ(ReadReal("1.5", -1), 1.5);
    EXPECT_DOUBLE_EQ(ReadReal("1,5", -1), -1);

    EXPECT_EQ(WriteRealPoint(0.1), "0.1");
    EXPECT_EQ(WriteRealPoint(100), "100");
    EXPECT_EQ(WriteRealPoint(0.1 + 0.2), "0.3");
    EXPECT_EQ(WriteRealPoint(-2.5), "-2.5");
    EXPECT_EQ(WriteRealPoint(1e20), "1e+20");
    EXPECT_EQ(WriteRealPoint(123456789012345678.0), "1.23456789012346e+17");
    for (double value : {3.14159, 1e-7, -123.456, 72.0}) {
        EXPECT_DOUBLE_EQ(ReadRealPoint(WriteRealPoint(value), 0), value);
    }
}

TEST(Utils, MinutesBetweenTruncatesTheTimeOfDayPart) {
    EXPECT_EQ(MinutesBetween(At(45000, 0, 10), At(44999, 23, 50)), 20);
    EXPECT_EQ(MinutesBetween(At(45000, 10, 0, 59, 900), At(45000, 10, 0)), 0);
    // Half a minute earlier on the next day is still a whole day: -0.5 truncates to 0.
    EXPECT_EQ(MinutesBetween(At(45001, 10, 0), At(45000, 10, 0, 30)), 1440);
    EXPECT_EQ(MinutesBetween(At(45000, 8, 0), At(45002, 9, 30)), -2970);
    EXPECT_EQ(MinutesBetween(At(45000, 8, 0), At(45000, 8, 0)), 0);
}

TEST(Utils, ComputerAndColourNames) {
    EXPECT_TRUE(SameComputerName("\\\\host", "HOST"));
    EXPECT_TRUE(SameComputerName("Host", "hOST"));
    EXPECT_FALSE(SameComputerName("host1", "host"));
    EXPECT_FALSE(SameComputerName("\\host", "host"));
    const std::string base(50, 'n');
    EXPECT_TRUE(SameComputerName("\\\\" + base + "A", base + "B"));
    EXPECT_FALSE(SameComputerName(base.substr(1) + "A", base.substr(1) + "B"));

    EXPECT_TRUE(IsProcessColourName(" gray "));
    EXPECT_TRUE(IsProcessColourName("Composite CMYK"));
    EXPECT_TRUE(IsProcessColourName(""));
    EXPECT_TRUE(IsProcessColourName("\tcyan"));
    EXPECT_FALSE(IsProcessColourName("Reflex Blue"));
    EXPECT_FALSE(IsProcessColourName("Cyan2"));
}

TEST(Utils, UpperCaseOfUtf8Texts) {
    EXPECT_EQ(UpperCaseText("Reflex blue 072"), "REFLEX BLUE 072");
    // Bytes that are no UTF-8 pass unchanged, whatever follows them.
    EXPECT_EQ(UpperCaseText("a\xC3(b\xFF"), "A\xC3(B\xFF");
    EXPECT_EQ(UpperCaseText("\xE2\x82"), "\xE2\x82");
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale";
    const std::string umlauts = UpperCaseText("grün, ähre, façade, ωμέγα");
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(umlauts, "GRÜN, ÄHRE, FAÇADE, ΩΜΈΓΑ");
}

TEST(Utils, DecimalIntegers) {
    EXPECT_EQ(StrToIntDef("12", 0), 12);
    EXPECT_EQ(StrToIntDef("-3", 0), -3);
    EXPECT_EQ(StrToIntDef("+4", 0), 4);
    EXPECT_EQ(StrToIntDef("2147483647", 0), 2147483647);
    EXPECT_EQ(StrToIntDef("-2147483648", 0), std::numeric_limits<int32_t>::min());
    for (const char* bad : {"x", "", "2147483648", " 1", "1 ", "1.0", "0x1F", "+", "-"}) {
        EXPECT_EQ(StrToIntDef(bad, 77), 77) << bad;
    }
    int32_t value = 5;
    EXPECT_FALSE(TryStrToInt("abc", value));
    EXPECT_EQ(value, 5);
}

using CommaLocaleTest = TCommaLocale;

TEST_F(CommaLocaleTest, UserLocaleReadsCommaWhilePointFormsStay) {
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_DOUBLE_EQ(ReadReal("1,5", -1), 1.5);
    EXPECT_DOUBLE_EQ(ReadReal("1.5", -1), -1);
    EXPECT_DOUBLE_EQ(ReadReal("x", -1), -1);
    EXPECT_DOUBLE_EQ(ReadRealPoint("1.5", -1), 1.5);
    EXPECT_EQ(WriteRealPoint(2.5), "2.5");
    EXPECT_EQ(SizeText(1536), "1.50 Kb");
    EXPECT_EQ(FormatText("%f|%.1e|%g", {1.5, 1500.0, 0.25}), "1.50|1.5e+03|0.25");
}
