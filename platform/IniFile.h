#pragma once

#include <functional>
#include <string_view>

namespace raduvuz {

// The INI rules of every file the programs read (the registry, twf's workflow files), kept by
// libinih with the same options for all:
// - a UTF-8 byte order mark at the start is skipped; lines end with "\n" ("\r\n" too);
// - blank lines, and lines whose first non-blank character is ";" or "#", are comments; a ";"
//   or "#" further on is part of the line;
// - "[NAME]" starts a section: NAME is what lies between "[" and the first "]", blanks around
//   it dropped; whatever follows the "]" is handed on (After) for the reader to judge;
// - "NAME = VALUE": the first "=" separates, blanks around the name and the value go, quotes
//   and inner blanks stay; a name may come again, each time is handed on in order;
// - each line stands alone (an indented line continues nothing) and has no length limit; a NUL
//   byte ends its line's text;
// - any other line is malformed: one without "=", one with ":" before its first "=", a "["
//   without "]".
struct TIniHeader {
    int Line = 0;
    std::string_view Name;
    std::string_view After;
};

struct TIniEntry {
    int Line = 0;
    // False before the first header; Section is empty then.
    bool InSection = false;
    std::string_view Section;
    std::string_view Name;
    std::string_view Value;
};

struct TIniHandlers {
    std::function<void(const TIniHeader&)> Header;
    std::function<void(const TIniEntry&)> Entry;
};

// Reads text, lines numbered from 1, into the handlers in the order of the lines. Returns 0, or
// the number of the first malformed line; the reading goes on past it. An exception a handler
// throws ends the reading and is thrown on, unless a line before it was malformed: the first
// fault wins.
int ReadIni(std::string_view text, const TIniHandlers& handlers);

// Line number (1 for the first) of text, without its line end; empty past the end.
std::string_view IniLineText(std::string_view text, int number);

} // namespace raduvuz
