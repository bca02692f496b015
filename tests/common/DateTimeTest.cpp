#include "common/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace raduvuz;

namespace {

std::tm Local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return tm;
}

// The fields of a day count as "year-month-day hour:minute:second weekday/yearday", in tm's
// numbering.
std::string Fields(TDateTime value) {
    const std::tm tm = TmFromDateTime(value);
    char text[128];
    std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d %d/%d", tm.tm_year, tm.tm_mon, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday, tm.tm_yday);
    return text;
}

} // namespace

TEST(DateTime, DayCountsFromTheEpochOf1899) {
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(1899, 12, 30)), 0);
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(1900, 1, 1)), 2);
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(2000, 1, 1, 12)), 36526.5);
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(2024, 2, 29, 6), 0), 45351.25);
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(2000, 1, 1), 1500), 36526 + 1.5 / 86400);
    // Before the epoch the day counts down while the time of day still counts up.
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(1899, 12, 29, 6)), -1.25);
    // Fields out of range carry over as mktime would carry them.
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(1999, 13, 1)), 36526);
    EXPECT_DOUBLE_EQ(DateTimeFromTm(Local(1999, 12, 31, 24)), 36526);
}

TEST(DateTime, FieldsOfADayCount) {
    // 2024-03-05 was a Tuesday.
    EXPECT_EQ(Fields(45356.5 + 7.0 / 1440 + 9.0 / 86400), "124-2-5 12:7:9 2/64");
    EXPECT_EQ(Fields(-1.25), "-1-11-29 6:0:0 5/362");

    // A fraction that rounds to a whole day stays on its own day.
    std::tm tm = TmFromDateTime(36526.9999999999);
    EXPECT_EQ(tm.tm_mday, 1);
    EXPECT_EQ(tm.tm_hour, 23);
    // Values no calendar holds do not overflow.
    tm = TmFromDateTime(1e300);
    EXPECT_GT(tm.tm_year, 8000);
    tm = TmFromDateTime(std::nan(""));
    EXPECT_EQ(tm.tm_year, -1);
}

TEST(DateTime, TextsOfTheClassicLocaleReadBack) {
    const TDateTime value = DateTimeFromTm(Local(2024, 3, 5, 14, 7, 9));
    EXPECT_EQ(ShortDateText(value), "03/05/24");
    EXPECT_EQ(LongTimeText(value), "14:07:09");
    EXPECT_EQ(DateTimeText(value), "03/05/24 14:07:09");

    const std::optional<TDateTime> parsed = ParseDateTime(DateTimeText(value));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_NEAR(*parsed, value, 1e-8);
    const std::optional<TDateTime> dateOnly = ParseDateTime("03/05/24");
    ASSERT_TRUE(dateOnly.has_value());
    EXPECT_DOUBLE_EQ(*dateOnly, std::floor(value));
    EXPECT_EQ(ParseShortDate(" 03/05/24 "), dateOnly);

    for (const char* bad : {"", "yesterday", "03/05/24 14:07:09 extra", "13/45/24"})
        EXPECT_FALSE(ParseDateTime(bad).has_value()) << bad;
    EXPECT_FALSE(ParseShortDate("03/05/24 14:07:09").has_value());
}

TEST(DateTime, NowIsTheLocalClock) {
    const time_t before = time(nullptr);
    const TDateTime now = Now();
    const time_t after = time(nullptr);
    std::tm first{};
    std::tm last{};
    localtime_r(&before, &first);
    localtime_r(&after, &last);
    EXPECT_GE(now, DateTimeFromTm(first));
    EXPECT_LT(now, DateTimeFromTm(last) + 1.0 / 86400);
}
