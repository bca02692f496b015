#pragma once

// The files built into raduvuz-web: the web console's page, script and style, and the language
// tables the module ships (app/Language.*), so that the browser is given the module's own texts.

#include <span>
#include <string_view>

namespace raduvuz::web {

struct TWebFile {
    // The path it is served at ("/app.js"); for a table, its language value ("deu").
    const char* Name;
    const char* Type;
    std::string_view Data;
};

std::span<const TWebFile> PageFiles();
std::span<const TWebFile> LanguageTables();

} // namespace raduvuz::web
