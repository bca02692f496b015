#include "tools/web/WebTexts.h"

#include "common/Language.h"
#include "common/WindowTexts.h"
#include "tools/web/WebFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <vector>

namespace raduvuz::web {

namespace {

// The ISO 639-1 codes browsers send, by the table names the module uses (ISO 639-2/T).
const std::map<std::string, std::string> kTableOfCode = {
    {"cs", "ces"}, {"da", "dan"}, {"de", "deu"}, {"es", "spa"}, {"fi", "fin"}, {"fr", "fra"},
    {"hu", "hun"}, {"it", "ita"}, {"ja", "jpn"}, {"nl", "nld"}, {"no", "nor"}, {"pl", "pol"},
    {"pt", "por"}, {"ru", "rus"}, {"sv", "swe"}, {"tr", "tur"}, {"zh", "zho"}};

bool HasTable(const std::string& table) {
    const auto tables = LanguageTables();
    return std::any_of(tables.begin(), tables.end(),
                       [&](const TWebFile& file) { return table == file.Name; });
}

const std::unordered_map<int, std::string>& TableTexts(const std::string& table) {
    static std::mutex lock;
    static std::map<std::string, std::unordered_map<int, std::string>> parsed;
    const std::lock_guard<std::mutex> hold(lock);
    const auto found = parsed.find(table);
    if (found != parsed.end())
        return found->second;
    std::unordered_map<int, std::string> texts;
    for (const TWebFile& file : LanguageTables()) {
        if (table == file.Name) {
            std::istringstream in{std::string(file.Data)};
            texts = ParseLanguageTable(in);
        }
    }
    return parsed.emplace(table, std::move(texts)).first->second;
}

// "&Hold" -> "Hold"; "&&" stays one "&".
std::string WithoutAccelerators(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

void AppendJsonString(std::string& json, const std::string& text) {
    json += '"';
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += static_cast<char>(c);
        }
    }
    json += '"';
}

} // namespace

std::string TableFor(const std::string& acceptLanguage) {
    // Each "tag;q=0.8" item; the first of the highest quality wins.
    std::string best;
    double bestQuality = 0;
    std::istringstream items(acceptLanguage);
    std::string item;
    while (std::getline(items, item, ',')) {
        const size_t semicolon = item.find(';');
        const std::string tag = Lower(Trimmed(item.substr(0, semicolon)));
        double quality = 1;
        if (semicolon != std::string::npos) {
            const std::string parameter = Trimmed(item.substr(semicolon + 1));
            if (parameter.rfind("q=", 0) == 0) {
                try {
                    quality = std::stod(parameter.substr(2));
                } catch (const std::exception&) {
                    quality = 0;
                }
            }
        }
        const std::string code = tag.substr(0, tag.find('-'));
        std::string table;
        if (code == "en") {
            table = "";
        } else if (const auto found = kTableOfCode.find(code);
                   found != kTableOfCode.end() && HasTable(found->second)) {
            table = found->second;
        } else {
            continue;
        }
        if (quality > bestQuality) {
            bestQuality = quality;
            best = table;
        }
    }
    return best;
}

std::string WebText(const std::string& table, int number) {
    if (!table.empty()) {
        const auto& texts = TableTexts(table);
        const auto found = texts.find(number);
        if (found != texts.end())
            return WithoutAccelerators(found->second);
    }
    return WithoutAccelerators(WindowTextDefault(number));
}

std::string TextsJson(const std::string& table) {
    std::string code = "en";
    for (const auto& [two, three] : kTableOfCode) {
        if (three == table)
            code = two;
    }
    std::string json = "{\"language\":\"" + code + "\",\"texts\":{";
    bool first = true;
    for (const TWindowTextEntry& entry : WindowTexts()) {
        json += first ? "\"" : ",\"";
        json += std::to_string(entry.Number) + "\":";
        AppendJsonString(json, WebText(table, entry.Number));
        first = false;
    }
    return json + "}}";
}

} // namespace raduvuz::web
