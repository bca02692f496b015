#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

// The one list-in-a-string form of the system: items separated by commas, quoted with double
// quotes when they hold blanks, commas or quotes.
std::vector<std::string> ReadCommaText(std::string_view text);
std::string WriteCommaText(const std::vector<std::string>& items);
// The items of a parameter value as an operator typed them, for the lists and the log: joined by
// single blanks, without the quotes a parameter text needs ("PANTONE 185 C" reads as three
// items, "\"Proof, second round\"" as one; both show as typed).
std::string ItemsAsTyped(std::string_view commaText);

// ASCII-only upper case; key and item comparisons of parameter texts use it.
std::string AsciiUpper(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);

} // namespace raduvuz
