#pragma once

#include "common/Types.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace raduvuz {

// Size of a file for the lists: "1023", "1.50 Kb", "3.00 Mb" ("." always the decimal point).
std::string SizeText(int64_t bytes);
// SizeText of a decimal text; empty for zero, negative or non-numeric text.
std::string SizeTextOf(std::string_view text);
// The byte count of a job's "Size" text; -1 when it is not a number of bytes.
int64_t SizeBytesOf(std::string_view text);
int PercentToByte(double percent);
// Makes a text safe as one parameter value: ";" and '"' become blanks, blanks or commas quote it.
std::string SanitizeValue(std::string_view text);
std::string HexEncode(std::string_view text);
std::string HexDecode(std::string_view text);
double ReadRealPoint(std::string_view text, double def);
std::string WriteRealPoint(double value);
double ReadReal(std::string_view text, double def);
// Whole minutes from earlier to later: time-of-day difference truncated, plus 1440 per day.
int64_t MinutesBetween(TDateTime later, TDateTime earlier);
bool SameComputerName(std::string_view a, std::string_view b);
bool IsProcessColourName(std::string_view name);
// Upper case of a UTF-8 text by the rules of the C library locale (ASCII letters alone in the "C"
// locale); bytes that are not UTF-8 stay as they are.
std::string UpperCaseText(std::string_view text);

// Decimal integer as the module reads numbers from texts; def when the text is not one.
int32_t StrToIntDef(std::string_view text, int32_t def);
bool TryStrToInt(std::string_view text, int32_t& value);

struct TFormatArg {
    enum class Kind { Text, Integer, Real } K;
    std::string Text;
    int64_t Integer = 0;
    double Real = 0;
    TFormatArg(std::string_view s) : K(Kind::Text), Text(s) {}
    TFormatArg(const char* s) : K(Kind::Text), Text(s) {}
    TFormatArg(const std::string& s) : K(Kind::Text), Text(s) {}
    TFormatArg(int v) : K(Kind::Integer), Integer(v) {}
    TFormatArg(long v) : K(Kind::Integer), Integer(v) {}
    TFormatArg(long long v) : K(Kind::Integer), Integer(v) {}
    TFormatArg(unsigned v) : K(Kind::Integer), Integer(v) {}
    // Sizes and counts; values above the signed range keep their bits, which "%u" and "%x" show.
    TFormatArg(unsigned long v) : K(Kind::Integer), Integer(static_cast<int64_t>(v)) {}
    TFormatArg(unsigned long long v) : K(Kind::Integer), Integer(static_cast<int64_t>(v)) {}
    TFormatArg(double v) : K(Kind::Real), Real(v) {}
};

// printf-like formatting with %s %d %i %u %x %X %f %e %g %% (flags, width, precision, "*") that
// never reads past its arguments: a format from a language table is not trusted. A missing
// argument formats as nothing; one of another kind is converted; "%f" alone has two decimals.
std::string FormatText(std::string_view format, std::initializer_list<TFormatArg> args);

} // namespace raduvuz
