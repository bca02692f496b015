#include "common/Utils.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace raduvuz {

namespace {

// Bounds that keep a hostile format such as "%999999999d" from allocating without end.
constexpr int kMaxWidth = 1024;
constexpr int kMaxPrecision = 100;

struct TDirective {
    bool Minus = false;
    bool Plus = false;
    bool Space = false;
    bool Zero = false;
    bool Hash = false;
    int Width = 0;
    int Precision = -1;
    char Conversion = 0;
};

class TArgReader {
public:
    explicit TArgReader(std::initializer_list<TFormatArg> args) : Args(args) {}
    // nullptr once the list is used up: a missing argument is never read.
    const TFormatArg* Next() {
        if (Index >= Args.size()) {
            return nullptr;
        }
        return Args.begin() + Index++;
    }

private:
    std::initializer_list<TFormatArg> Args;
    size_t Index = 0;
};

int64_t ClampedInt(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    constexpr double kLimit = 9.2e18;
    return static_cast<int64_t>(std::clamp(std::trunc(value), -kLimit, kLimit));
}

bool TextAsInteger(const std::string& text, int64_t& value) {
    std::string_view digits(text);
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return ec == std::errc() && end == digits.data() + digits.size();
}

bool ArgAsInteger(const TFormatArg& arg, int64_t& value) {
    switch (arg.K) {
    case TFormatArg::Kind::Integer:
        value = arg.Integer;
        return true;
    case TFormatArg::Kind::Real:
        value = ClampedInt(arg.Real);
        return true;
    case TFormatArg::Kind::Text:
        return TextAsInteger(arg.Text, value);
    }
    return false;
}

bool ArgAsReal(const TFormatArg& arg, double& value) {
    switch (arg.K) {
    case TFormatArg::Kind::Integer:
        value = static_cast<double>(arg.Integer);
        return true;
    case TFormatArg::Kind::Real:
        value = arg.Real;
        return true;
    case TFormatArg::Kind::Text: {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        value = ReadRealPoint(arg.Text, nan);
        return !std::isnan(value);
    }
    }
    return false;
}

std::string ArgAsText(const TFormatArg& arg) {
    switch (arg.K) {
    case TFormatArg::Kind::Integer:
        return std::to_string(arg.Integer);
    case TFormatArg::Kind::Real:
        return WriteRealPoint(arg.Real);
    case TFormatArg::Kind::Text:
        return arg.Text;
    }
    return std::string();
}

// Cuts at most count bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t count) {
    if (text.size() <= count) {
        return text;
    }
    while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80) {
        --count;
    }
    return text.substr(0, count);
}

void AppendPadded(std::string& out, const std::string& body, const TDirective& directive) {
    const size_t width = static_cast<size_t>(directive.Width);
    if (body.size() >= width) {
        out += body;
        return;
    }
    if (directive.Minus) {
        out += body;
        out.append(width - body.size(), ' ');
    } else {
        out.append(width - body.size(), ' ');
        out += body;
    }
}

// Sign (or prefix) and digits apart, so that zero padding goes between them.
void AppendNumber(std::string& out, std::string_view prefix, std::string digits,
                  const TDirective& directive, bool zeroAllowed) {
    const size_t width = static_cast<size_t>(directive.Width);
    if (directive.Zero && !directive.Minus && zeroAllowed &&
        prefix.size() + digits.size() < width) {
        digits.insert(0, width - prefix.size() - digits.size(), '0');
    }
    digits.insert(0, prefix);
    AppendPadded(out, digits, directive);
}

std::string_view SignPrefix(bool negative, const TDirective& directive) {
    if (negative) {
        return "-";
    }
    if (directive.Plus) {
        return "+";
    }
    return directive.Space ? " " : "";
}

void FormatInteger(std::string& out, const TDirective& directive, int64_t value) {
    const char conversion = directive.Conversion;
    std::string_view prefix;
    std::array<char, 32> buffer{};
    char* end = buffer.data();
    if (conversion == 'd' || conversion == 'i') {
        const bool negative = value < 0;
        // The magnitude as unsigned, so that the smallest value has no overflow.
        const uint64_t magnitude =
            negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude).ptr;
        prefix = SignPrefix(negative, directive);
    } else {
        const auto bits = static_cast<uint64_t>(value);
        const int base = (conversion == 'u') ? 10 : 16;
        end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), bits, base).ptr;
        if (directive.Hash && base == 16 && bits != 0) {
            prefix = (conversion == 'X') ? "0X" : "0x";
        }
    }
    std::string digits(buffer.data(), end);
    if (conversion == 'X') {
        std::transform(digits.begin(), digits.end(), digits.begin(),
                       [](char c) { return (c >= 'a' && c <= 'f') ? char(c - 32) : c; });
    }
    if (directive.Precision >= 0) {
        if (directive.Precision == 0 && value == 0) {
            digits.clear();
        } else if (digits.size() < static_cast<size_t>(directive.Precision)) {
            digits.insert(0, static_cast<size_t>(directive.Precision) - digits.size(), '0');
        }
    }
    AppendNumber(out, prefix, digits, directive, directive.Precision < 0);
}

void FormatReal(std::string& out, const TDirective& directive, double value) {
    const char lower = static_cast<char>(directive.Conversion | 0x20);
    std::array<char, 512> buffer{};
    char* first = buffer.data();
    char* last = buffer.data() + buffer.size();
    const double magnitude = std::fabs(value);
    std::to_chars_result result{};
    if (lower == 'f') {
        // The module's formats come from a system whose "%f" means two decimals.
        const int precision = directive.Precision >= 0 ? directive.Precision : 2;
        result = std::to_chars(first, last, magnitude, std::chars_format::fixed, precision);
    } else if (lower == 'e') {
        const int precision = directive.Precision >= 0 ? directive.Precision : 6;
        result = std::to_chars(first, last, magnitude, std::chars_format::scientific, precision);
    } else {
        const int precision = directive.Precision >= 0 ? std::max(directive.Precision, 1) : 15;
        result = std::to_chars(first, last, magnitude, std::chars_format::general, precision);
    }
    std::string digits = result.ec == std::errc() ? std::string(first, result.ptr) : "0";
    if (directive.Conversion != lower) {
        std::transform(digits.begin(), digits.end(), digits.begin(),
                       [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; });
    }
    AppendNumber(out, SignPrefix(std::signbit(value) && !std::isnan(value), directive), digits,
                 directive, std::isfinite(value));
}

void FormatOne(std::string& out, const TDirective& directive, const TFormatArg* arg) {
    if (!arg) {
        return;
    }
    const char conversion = directive.Conversion;
    if (conversion == 's') {
        std::string text = ArgAsText(*arg);
        if (directive.Precision >= 0) {
            text = CutUtf8(text, static_cast<size_t>(directive.Precision));
        }
        AppendPadded(out, text, directive);
        return;
    }
    if (conversion == 'd' || conversion == 'i' || conversion == 'u' || conversion == 'x' ||
        conversion == 'X') {
        int64_t value = 0;
        if (ArgAsInteger(*arg, value)) {
            FormatInteger(out, directive, value);
        } else {
            // A text that is no number is shown as it is rather than as a made-up 0.
            AppendPadded(out, ArgAsText(*arg), directive);
        }
        return;
    }
    double value = 0;
    if (ArgAsReal(*arg, value)) {
        FormatReal(out, directive, value);
    } else {
        AppendPadded(out, ArgAsText(*arg), directive);
    }
}

int ReadCount(std::string_view format, size_t& i) {
    int value = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        value = std::min(value * 10 + (format[i] - '0'), kMaxWidth * 10);
        ++i;
    }
    return value;
}

int StarValue(TArgReader& args) {
    const TFormatArg* arg = args.Next();
    int64_t value = 0;
    if (!arg || !ArgAsInteger(*arg, value)) {
        return 0;
    }
    return static_cast<int>(std::clamp<int64_t>(value, -kMaxWidth, kMaxWidth));
}

} // namespace

std::string FormatText(std::string_view format, std::initializer_list<TFormatArg> args) {
    std::string out;
    TArgReader reader(args);
    size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c != '%') {
            out.push_back(c);
            ++i;
            continue;
        }
        const size_t start = i++;
        TDirective directive;
        for (; i < format.size(); ++i) {
            const char flag = format[i];
            if (flag == '-') {
                directive.Minus = true;
            } else if (flag == '+') {
                directive.Plus = true;
            } else if (flag == ' ') {
                directive.Space = true;
            } else if (flag == '0') {
                directive.Zero = true;
            } else if (flag == '#') {
                directive.Hash = true;
            } else {
                break;
            }
        }
        if (i < format.size() && format[i] == '*') {
            ++i;
            const int width = StarValue(reader);
            directive.Minus = directive.Minus || width < 0;
            directive.Width = width < 0 ? -width : width;
        } else {
            directive.Width = ReadCount(format, i);
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (i < format.size() && format[i] == '*') {
                ++i;
                const int precision = StarValue(reader);
                directive.Precision = precision < 0 ? -1 : precision;
            } else {
                directive.Precision = ReadCount(format, i);
            }
        }
        directive.Width = std::min(directive.Width, kMaxWidth);
        directive.Precision = std::min(directive.Precision, kMaxPrecision);
        while (i < format.size() &&
               std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos) {
            ++i;
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        directive.Conversion = format[i++];
        switch (directive.Conversion) {
        case '%':
            out.push_back('%');
            break;
        case 's':
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            FormatOne(out, directive, reader.Next());
            break;
        default:
            // Not a conversion we know: the text stays as written and takes no argument.
            out.append(format.substr(start, i - start));
            break;
        }
    }
    return out;
}

} // namespace raduvuz
