#pragma once

// The texts of the web console in the browser's language: the window texts (common/WindowTexts)
// with their accelerator marks taken out, translated by the language table the module ships for
// the language the browser asks for first (Accept-Language), else English.

#include <string>

namespace raduvuz::web {

// The table ("deu") for the first language of an Accept-Language header that has one, by
// quality; empty for English.
std::string TableFor(const std::string& acceptLanguage);

// {"language": "de", "texts": {"2100": "...", ...}} for a table ("" for English).
std::string TextsJson(const std::string& table);

// A window text in a table's language, without accelerator marks.
std::string WebText(const std::string& table, int number);

} // namespace raduvuz::web
