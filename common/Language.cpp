#include "common/Language.h"

#include "platform/Registry.h"
#include "platform/System.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unordered_map>

namespace raduvuz {

namespace {

// The string table of the original held texts in a buffer of 2048 characters.
constexpr size_t kMaxTextBytes = 2047;

std::string Unescape(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            result.push_back(text[i]);
            continue;
        }
        const char next = text[i + 1];
        if (next == 'n') {
            result.push_back('\n');
        } else if (next == 't') {
            result.push_back('\t');
        } else if (next == '\\') {
            result.push_back('\\');
        } else {
            // An unknown escape stays as written.
            result.push_back('\\');
            result.push_back(next);
        }
        ++i;
    }
    if (result.size() > kMaxTextBytes) {
        size_t cut = kMaxTextBytes;
        while (cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        result.resize(cut);
    }
    return result;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The tables are named by the three-letter language codes of the workflow's installations.
struct TLanguageName {
    const char* Locale;
    const char* Table;
};
constexpr TLanguageName kLanguageNames[] = {
    {"cs", "csy"}, {"da", "dan"}, {"de", "deu"}, {"es", "esp"}, {"fi", "fin"}, {"fr", "fra"},
    {"hu", "hun"}, {"it", "ita"}, {"ja", "jpn"}, {"nb", "nor"}, {"nl", "nld"}, {"nn", "non"},
    {"pl", "plk"}, {"pt", "ptg"}, {"ru", "rus"}, {"sv", "sve"}, {"tr", "trk"}};

} // namespace

std::string LanguageOfLocale() {
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    if (!locale) {
        return std::string();
    }
    const std::string_view text(locale);
    const std::string_view language = text.substr(0, text.find_first_of("_.@"));
    for (const TLanguageName& name : kLanguageNames) {
        if (language == name.Locale) {
            return name.Table;
        }
    }
    return std::string();
}

// Blank lines and lines starting with "#" are comments. The first line of a number counts, as a
// string table holds each number once.
std::unordered_map<int, std::string> ParseLanguageTable(std::istream& in) {
    std::unordered_map<int, std::string> texts;
    std::string line;
    bool firstLine = true;
    while (std::getline(in, line)) {
        std::string_view view(line);
        if (firstLine && view.substr(0, 3) == "\xEF\xBB\xBF") {
            view.remove_prefix(3);
        }
        firstLine = false;
        if (!view.empty() && view.back() == '\r') {
            view.remove_suffix(1);
        }
        const size_t eq = view.find('=');
        if (view.empty() || view.front() == '#' || eq == std::string_view::npos) {
            continue;
        }
        int32_t number = 0;
        if (!TryStrToInt(TrimSpaces(view.substr(0, eq)), number) || number < 0 || number > 65535) {
            continue;
        }
        texts.emplace(number, Unescape(view.substr(eq + 1)));
    }
    return texts;
}

TLanguageTable::TLanguageTable(std::string programFolder) : Folder(std::move(programFolder)) {
    if (Folder.empty() || Folder.back() != '/') {
        Folder += '/';
    }
}

void TLanguageTable::Load() {
    // Decided before reading, so that a failure below is never retried.
    LoadState = TLanguageState::None;
    std::optional<std::string> language = RegistryString(kServerKey, "Language");
    // Without a value of the installation's the texts follow the session's language.
    if (!language || language->empty()) {
        language = LanguageOfLocale();
    }
    // The value is a file name extension; a path in it would leave the program folder.
    if (language->empty() || language->find('/') != std::string::npos) {
        return;
    }
    const std::string path = Folder + "Language." + *language;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return;
    }
    std::unordered_map<int, std::string> texts = ParseLanguageTable(in);
    if (in.bad()) {
        return;
    }
    Texts = std::move(texts);
    LoadState = TLanguageState::Loaded;
}

std::string TLanguageTable::Text(int number, std::string_view defaultText) {
    if (LoadState == TLanguageState::NotTried) {
        Load();
    }
    if (LoadState != TLanguageState::Loaded) {
        return std::string(defaultText);
    }
    const auto found = Texts.find(number);
    // An empty text counts as missing, as an empty string table entry does.
    if (found == Texts.end() || found->second.empty()) {
        return std::string(defaultText);
    }
    return found->second;
}

std::string TLanguageTable::Format(int number, std::initializer_list<TFormatArg> args,
                                   std::string_view defaultFormat) {
    return FormatText(Text(number, defaultFormat), args);
}

TLanguageTable& ProgramLanguage() {
    static TLanguageTable table(ProgramFolder());
    return table;
}

std::string LanguageText(int number, std::string_view defaultText) {
    return ProgramLanguage().Text(number, defaultText);
}

std::string LanguageFormat(int number, std::initializer_list<TFormatArg> args,
                           std::string_view defaultFormat) {
    return ProgramLanguage().Format(number, args, defaultFormat);
}

} // namespace raduvuz
