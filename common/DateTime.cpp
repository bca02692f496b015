#include "common/DateTime.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <langinfo.h>
#include <string>

namespace raduvuz {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Far beyond any date the module meets; keeps the year inside an int.
constexpr double kMaxDays = 3.0e6;

int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = FloorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

std::string FormatTm(const char* format, TDateTime value) {
    const std::tm tm = TmFromDateTime(value);
    std::array<char, 256> buffer{};
    const size_t length = std::strftime(buffer.data(), buffer.size(), format, &tm);
    return std::string(buffer.data(), length);
}

bool OnlyBlanksLeft(const char* rest) {
    while (*rest == ' ' || *rest == '\t') {
        ++rest;
    }
    return *rest == '\0';
}

} // namespace

TDateTime Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    return DateTimeFromTm(local, static_cast<int>(now.tv_nsec / 1000000));
}

TDateTime DateTimeFromTm(const std::tm& local, int milliseconds) {
    int64_t year = int64_t{local.tm_year} + 1900;
    int64_t month = local.tm_mon;
    year += FloorDiv(month, 12);
    month -= FloorDiv(month, 12) * 12;
    int64_t days = DaysFromCivil(year, month + 1, 1) + (int64_t{local.tm_mday} - 1) - kEpochOffset;
    int64_t ms =
        ((int64_t{local.tm_hour} * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + milliseconds;
    days += FloorDiv(ms, kMsPerDay);
    ms -= FloorDiv(ms, kMsPerDay) * kMsPerDay;
    const double time = static_cast<double>(ms) / kMsPerDay;
    // Before the epoch the day counts down while the time of day still counts up.
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

std::tm TmFromDateTime(TDateTime value) {
    if (!std::isfinite(value)) {
        value = 0;
    }
    value = std::clamp(value, -kMaxDays, kMaxDays);
    const double wholeDays = std::trunc(value);
    int64_t ms = static_cast<int64_t>(std::round(std::fabs(value - wholeDays) * kMsPerDay));
    ms = std::min(ms, kMsPerDay - 1);
    const int64_t days = static_cast<int64_t>(wholeDays) + kEpochOffset;
    int64_t y = 0;
    int64_t m = 0;
    int64_t d = 0;
    CivilFromDays(days, y, m, d);

    std::tm tm{};
    tm.tm_year = static_cast<int>(y - 1900);
    tm.tm_mon = static_cast<int>(m - 1);
    tm.tm_mday = static_cast<int>(d);
    tm.tm_hour = static_cast<int>(ms / 3600000);
    tm.tm_min = static_cast<int>(ms / 60000 % 60);
    tm.tm_sec = static_cast<int>(ms / 1000 % 60);
    // 1970-01-01 was a Thursday.
    tm.tm_wday = static_cast<int>(days - FloorDiv(days + 4, 7) * 7 + 4);
    tm.tm_yday = static_cast<int>(days - DaysFromCivil(y, 1, 1));
    tm.tm_isdst = -1;
    return tm;
}

std::string ShortDateText(TDateTime value) {
    return FormatTm("%x", value);
}

std::string LongTimeText(TDateTime value) {
    return FormatTm("%X", value);
}

std::string ShortDateFormat() {
    return nl_langinfo(D_FMT);
}

std::string DateTimeText(TDateTime value) {
    return ShortDateText(value) + " " + LongTimeText(value);
}

std::optional<TDateTime> ParseDateTime(std::string_view text) {
    const std::string copy(text);
    std::tm tm{};
    const char* rest = strptime(copy.c_str(), "%x", &tm);
    if (!rest) {
        return std::nullopt;
    }
    if (!OnlyBlanksLeft(rest)) {
        rest = strptime(rest, " %X", &tm);
        if (!rest || !OnlyBlanksLeft(rest)) {
            return std::nullopt;
        }
    }
    return DateTimeFromTm(tm);
}

std::optional<TDateTime> ParseShortDate(std::string_view text) {
    const std::string copy(text);
    std::tm tm{};
    const char* rest = strptime(copy.c_str(), "%x", &tm);
    if (!rest || !OnlyBlanksLeft(rest)) {
        return std::nullopt;
    }
    return DateTimeFromTm(tm);
}

} // namespace raduvuz
