#pragma once

#include "common/Utils.h"

#include <initializer_list>
#include <istream>
#include <string>
#include <string_view>
#include <unordered_map>

namespace raduvuz {

enum class TLanguageState { NotTried, Loaded, None };

// The numbered texts of the user's language: the table "Language.<value>" in a program folder,
// <value> being the registry's "Language", or without one the table of the language the
// environment names for messages (LanguageOfLocale). The first lookup reads it, and whatever that
// finds stays: a table that was missing is not looked for again.
class TLanguageTable {
public:
    explicit TLanguageTable(std::string programFolder);

    // The default when there is no table or no such number.
    std::string Text(int number, std::string_view defaultText);
    std::string Format(int number, std::initializer_list<TFormatArg> args,
                       std::string_view defaultFormat);
    TLanguageState State() const { return LoadState; }

private:
    void Load();

    std::string Folder;
    TLanguageState LoadState = TLanguageState::NotTried;
    std::unordered_map<int, std::string> Texts;
};

// The texts of a table file's lines "NUMBER=TEXT" (numbers 0 to 65535; "#" starts a comment
// line; escapes "\n" "\t" "\\"; at most 2047 bytes of a text are kept; the first line of a
// number counts).
std::unordered_map<int, std::string> ParseLanguageTable(std::istream& in);

// The table name of the language the environment names for messages (LC_ALL, else LC_MESSAGES,
// else LANG): "deu" for "de_DE.UTF-8"; empty for "C", "POSIX", nothing set or a language without
// a table name.
std::string LanguageOfLocale();

// The table of the running program, from the program's own folder.
TLanguageTable& ProgramLanguage();
std::string LanguageText(int number, std::string_view defaultText);
std::string LanguageFormat(int number, std::initializer_list<TFormatArg> args,
                           std::string_view defaultFormat);

} // namespace raduvuz
