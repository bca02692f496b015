#include "common/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

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
    std::tm tm = TmFromDateTime(45356.5 + 7.0 / 1440 + 9.0 / 86400);
    EXPECT_EQ(tm.tm_year, 124);
    EXPECT_EQ(tm.tm_mon, 2);
    EXPECT_EQ(tm.tm_mday, 5);
    EXPECT_EQ(tm.tm_hour, 12);
    EXPECT_EQ(tm.tm_min, 7);
    EXPECT_EQ(tm.tm_sec, 9);
    EXPECT_EQ(tm.tm_wday, 2); // a Tuesday
    EXPECT_EQ(tm.tm_yday, 64);

    tm = TmFromDateTime(-1.25);
    EXPECT_EQ(tm.tm_year, -1);
    EXPECT_EQ(tm.tm_mon, 11);
    EXPECT_EQ(tm.tm_mday, 29);
    EXPECT_EQ(tm.tm_hour, 6);
    EXPECT_EQ(tm.tm_wday, 5);

    // A fraction that rounds to a whole day stays on its own day.
    tm = TmFromDateTime(36526.9999999999);
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

    EXPECT_FALSE(ParseDateTime("").has_value());
    EXPECT_FALSE(ParseDateTime("yesterday").has_value());
    EXPECT_FALSE(ParseDateTime("03/05/24 14:07:09 extra").has_value());
    EXPECT_FALSE(ParseDateTime("13/45/24").has_value());
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
