#pragma once

#include "common/Utils.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace raduvuz {

// Numbered texts of the user's language from the table "Language.<value>" in the program
// folder; the default when there is no table or no such number.
std::string LanguageText(int number, std::string_view defaultText);
std::string LanguageFormat(int number, std::initializer_list<TFormatArg> args,
                           std::string_view defaultFormat);

enum class TLanguageState { NotTried, Loaded, None };
TLanguageState LanguageState();
// Forgets the table so that the next lookup tries again (tests only).
void ResetLanguageForTesting();

} // namespace raduvuz
