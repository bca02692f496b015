#include "common/Utils.h"

#include "common/CommaText.h"

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cwctype>
#include <limits>

namespace raduvuz {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// An optional sign and decimal digits, nothing else; false on overflow.
bool ParseInt64(std::string_view text, int64_t& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return false;
        }
    }
    if (text.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string FixedText(double value, int precision) {
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, precision);
    if (result.ec != std::errc()) {
        return std::string();
    }
    return std::string(buffer.data(), result.ptr);
}

// Days and milliseconds of a date-time as the system splits them: the day is the integer part
// (toward zero), the time of day the absolute fraction.
void SplitDateTime(TDateTime value, double& days, double& msecs) {
    days = std::trunc(value);
    msecs = std::round(std::fabs(value - days) * 86400000.0);
}

int64_t ClampToInt64(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double kLimit = 9.2e18;
    if (value >= kLimit) {
        return static_cast<int64_t>(kLimit);
    }
    if (value <= -kLimit) {
        return -static_cast<int64_t>(kLimit);
    }
    return static_cast<int64_t>(value);
}

} // namespace

std::string SizeText(int64_t bytes) {
    constexpr int64_t kKb = 1024;
    constexpr int64_t kMb = 1024 * 1024;
    if (bytes < kKb) {
        return std::to_string(bytes);
    }
    if (bytes < kMb) {
        return FixedText(static_cast<double>(bytes) / kKb, 2) + " Kb";
    }
    // Sizes of 4 GiB and more keep the megabyte form ("4096.00 Mb"): the lists sort and compare
    // size texts of one unit only.
    return FixedText(static_cast<double>(bytes) / kMb, 2) + " Mb";
}

std::string SizeTextOf(std::string_view text) {
    int64_t value = 0;
    if (!ParseInt64(text, value) || value <= 0) {
        return std::string();
    }
    return SizeText(value);
}

int64_t SizeBytesOf(std::string_view text) {
    int64_t value = 0;
    if (!ParseInt64(text, value) || value < 0) {
        return -1;
    }
    return value;
}

int PercentToByte(double percent) {
    const double scaled = std::nearbyint(percent * 255.0 / 100.0);
    if (std::isnan(scaled) || scaled <= 0) {
        return 0;
    }
    if (scaled >= 255) {
        return 255;
    }
    return static_cast<int>(scaled);
}

std::string SanitizeValue(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c == ';' || c == '"') {
            c = ' ';
        }
    }
    if (result.find_first_of(" ,") != std::string::npos) {
        result = '"' + result + '"';
    }
    return result;
}

std::string HexEncode(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size() * 2);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        result.push_back(kDigits[byte >> 4]);
        result.push_back(kDigits[byte & 0x0F]);
    }
    return result;
}

std::string HexDecode(std::string_view text) {
    std::string result;
    result.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        // A pair that is not hexadecimal stands for the byte 9.
        const int byte = (high < 0 || low < 0) ? 9 : high * 16 + low;
        result.push_back(static_cast<char>(byte));
    }
    return result;
}

double ReadRealPoint(std::string_view text, double def) {
    text = TrimBlanks(text);
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    // Only decimal notation: no "inf", "nan" or hexadecimal forms.
    if (digits.empty() || !(IsDigit(digits.front()) || digits.front() == '.')) {
        return def;
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return def;
    }
    return value;
}

std::string WriteRealPoint(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    if (result.ec != std::errc()) {
        return std::string();
    }
    return std::string(buffer.data(), result.ptr);
}

double ReadReal(std::string_view text, double def) {
    const lconv* conv = std::localeconv();
    const std::string point = (conv && conv->decimal_point && *conv->decimal_point)
                                  ? std::string(conv->decimal_point)
                                  : std::string(".");
    if (point == ".") {
        return ReadRealPoint(text, def);
    }
    // In a locale with another separator a "." is not part of a number.
    std::string work(text);
    if (work.find('.') != std::string::npos) {
        return def;
    }
    const size_t pos = work.find(point);
    if (pos != std::string::npos) {
        work = work.substr(0, pos) + '.' + work.substr(pos + point.size());
    }
    return ReadRealPoint(work, def);
}

int64_t MinutesBetween(TDateTime later, TDateTime earlier) {
    double laterDays = 0;
    double laterMs = 0;
    double earlierDays = 0;
    double earlierMs = 0;
    SplitDateTime(later, laterDays, laterMs);
    SplitDateTime(earlier, earlierDays, earlierMs);
    const int64_t timePart = ClampToInt64(laterMs - earlierMs) / 60000;
    const int64_t dayPart = ClampToInt64(laterDays - earlierDays);
    if (dayPart > std::numeric_limits<int64_t>::max() / 1440 ||
        dayPart < std::numeric_limits<int64_t>::min() / 1440) {
        return dayPart > 0 ? std::numeric_limits<int64_t>::max() / 2
                           : std::numeric_limits<int64_t>::min() / 2;
    }
    return timePart + dayPart * 1440;
}

bool SameComputerName(std::string_view a, std::string_view b) {
    auto normal = [](std::string_view name) {
        if (name.substr(0, 2) == "\\\\") {
            name.remove_prefix(2);
        }
        return AsciiUpper(name.substr(0, 50));
    };
    return normal(a) == normal(b);
}

bool IsProcessColourName(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "CYAN",  "MAGENTA",       "YELLOW", "BLACK",          "RED",      "BLUE",
        "GREEN", "GRAYCOMPOSITE", "GRAY",   "COMPOSITE CMYK", "COMPOSITE"};
    const std::string upper = AsciiUpper(TrimBlanks(name));
    if (upper.empty()) {
        return true;
    }
    for (std::string_view known : kNames) {
        if (upper == known) {
            return true;
        }
    }
    return false;
}

namespace {

// Length of the UTF-8 sequence that starts at text[i] and its code point; 0 when it is none.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& code) {
    const auto byte = [&text](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are no characters.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

void EncodeUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

} // namespace

std::string UpperCaseText(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const size_t length = DecodeUtf8(text, i, code);
        if (length == 0) {
            result.push_back(text[i]);
            ++i;
            continue;
        }
        const wint_t upper = std::towupper(static_cast<wint_t>(code));
        EncodeUtf8(upper <= 0x10FFFF ? static_cast<char32_t>(upper) : code, result);
        i += length;
    }
    return result;
}

int32_t StrToIntDef(std::string_view text, int32_t def) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : def;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
    int64_t wide = 0;
    if (!ParseInt64(text, wide) || wide < std::numeric_limits<int32_t>::min() ||
        wide > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    value = static_cast<int32_t>(wide);
    return true;
}

} // namespace raduvuz
