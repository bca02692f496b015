#include "common/CommaText.h"

namespace raduvuz {

namespace {

// Codes 1 to 32 are the blanks that comma text skips; code 0 ends an unquoted text.
bool IsBlank(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

bool IsSeparatorOrBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

char AsciiUpperChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

} // namespace

std::vector<std::string> ReadCommaText(std::string_view text) {
    std::vector<std::string> items;
    size_t p = 0;
    const size_t n = text.size();
    auto atEnd = [&](size_t i) { return i >= n || text[i] == '\0'; };

    while (!atEnd(p) && IsBlank(text[p])) {
        ++p;
    }
    while (!atEnd(p)) {
        std::string item;
        if (text[p] == '"') {
            // A quoted item runs to its closing quote (or the end); "" inside stands for one quote.
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        item.push_back('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item.push_back(text[p]);
                ++p;
            }
        } else {
            const size_t start = p;
            while (p < n && !IsSeparatorOrBlank(text[p]) && text[p] != ',') {
                ++p;
            }
            item.assign(text.substr(start, p - start));
        }
        items.push_back(std::move(item));

        while (!atEnd(p) && IsBlank(text[p])) {
            ++p;
        }
        if (!atEnd(p) && text[p] == ',') {
            ++p;
            // A comma that ends the text separates one last, empty item, so that every written
            // list reads back as it was.
            if (atEnd(p)) {
                items.emplace_back();
                break;
            }
            while (!atEnd(p) && IsBlank(text[p])) {
                ++p;
            }
        }
    }
    return items;
}

std::string WriteCommaText(const std::vector<std::string>& items) {
    if (items.size() == 1 && items.front().empty()) {
        return "\"\"";
    }
    std::string result;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            result.push_back(',');
        }
        const std::string& item = items[i];
        bool quote = false;
        for (char c : item) {
            if (IsSeparatorOrBlank(c) || c == '"' || c == ',') {
                quote = true;
                break;
            }
        }
        if (!quote) {
            result += item;
            continue;
        }
        result.push_back('"');
        for (char c : item) {
            if (c == '"') {
                result.push_back('"');
            }
            result.push_back(c);
        }
        result.push_back('"');
    }
    return result;
}

std::string ItemsAsTyped(std::string_view commaText) {
    std::string typed;
    for (const std::string& item : ReadCommaText(commaText)) {
        if (!typed.empty()) {
            typed.push_back(' ');
        }
        typed += item;
    }
    return typed;
}

std::string AsciiUpper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = AsciiUpperChar(c);
    }
    return result;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpperChar(a[i]) != AsciiUpperChar(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace raduvuz
