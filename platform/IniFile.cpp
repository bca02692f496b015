#include "platform/IniFile.h"

#include <ini.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <string>

namespace raduvuz {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// What libinih takes for blanks (isspace in the C locale).
constexpr const char* kBlanks = " \t\n\v\f\r";

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Debian's libinih takes its options at run time, in globals: set once, the same for every file.
void SetRules() {
    static std::once_flag once;
    std::call_once(once, [] {
        ini_allow_bom = true;
        ini_allow_multiline = false;
        ini_allow_inline_comments = false;
        ini_allow_no_value = false;
        ini_stop_on_first_error = false;
        // A heap buffer that grows with the line, so that no line is cut into two.
        ini_use_stack = false;
        ini_allow_realloc = true;
        ini_max_line = 1 << 30;
    });
}

struct TIniRead {
    std::string_view Text;
    const TIniHandlers* Handlers = nullptr;
    size_t Pos = 0;
    // The line being read: its number and where it starts; MidLine while libinih asks for more
    // of a line longer than its buffer.
    int Line = 0;
    size_t LineStart = 0;
    bool MidLine = false;
    std::string Section;
    bool InSection = false;
    std::exception_ptr Thrown;
    int ThrownLine = 0;

    std::string_view LineText() const {
        std::string_view line = Text.substr(LineStart);
        line = line.substr(0, std::min(line.find('\n'), line.find('\0')));
        if (LineStart == 0 && line.starts_with(kByteOrderMark))
            line.remove_prefix(kByteOrderMark.size());
        return line;
    }

    void Fail(std::exception_ptr error) {
        Thrown = std::move(error);
        ThrownLine = Line;
    }

    // libinih cuts section names at 49 characters and says nothing of a section without
    // entries, so a header is taken from the line by the rule libinih follows.
    void StartLine() {
        const std::string_view line = Trim(LineText());
        if (!line.starts_with('['))
            return;
        const size_t close = line.find(']');
        if (close == std::string_view::npos)
            return;
        Section = std::string(Trim(line.substr(1, close - 1)));
        InSection = true;
        if (Handlers->Header)
            Handlers->Header({Line, Section, Trim(line.substr(close + 1))});
    }
};

// libinih's fgets: the next line of the text, or as much of it as fits.
char* ReadLine(char* buffer, int size, void* stream) {
    TIniRead& read = *static_cast<TIniRead*>(stream);
    if (read.Thrown || read.Pos >= read.Text.size() || size < 2)
        return nullptr;
    if (!read.MidLine) {
        ++read.Line;
        read.LineStart = read.Pos;
        try {
            read.StartLine();
        } catch (...) {
            read.Fail(std::current_exception());
            return nullptr;
        }
    }
    const std::string_view rest = read.Text.substr(read.Pos);
    const size_t newline = rest.find('\n');
    const size_t lineLength = newline == std::string_view::npos ? rest.size() : newline + 1;
    const size_t nul = rest.substr(0, lineLength).find('\0');
    const size_t count = std::min({lineLength, nul, static_cast<size_t>(size - 1)});
    std::memcpy(buffer, rest.data(), count);
    buffer[count] = '\0';
    // libinih takes a NUL for the line's end: the rest of that line goes, so the count stays true.
    if (nul != std::string_view::npos && nul <= count) {
        read.Pos += lineLength;
        read.MidLine = false;
    } else {
        read.Pos += count;
        read.MidLine = count < lineLength;
    }
    return buffer;
}

int OnEntry(void* user, const char*, const char* name, const char* value) {
    TIniRead& read = *static_cast<TIniRead*>(user);
    // libinih splits at ":" too; here only "=" does, so a ":" before it makes the line wrong.
    const std::string_view line = read.LineText();
    const size_t separator = line.find_first_of("=:");
    if (separator == std::string_view::npos || line[separator] != '=')
        return 0;
    try {
        if (read.Handlers->Entry)
            read.Handlers->Entry({read.Line, read.InSection, read.Section, name, value});
        return 1;
    } catch (...) {
        read.Fail(std::current_exception());
        return 0;
    }
}

} // namespace

int ReadIni(std::string_view text, const TIniHandlers& handlers) {
    SetRules();
    TIniRead read;
    read.Text = text;
    read.Handlers = &handlers;
    const int firstError = ini_parse_stream(ReadLine, &read, OnEntry, &read);
    if (firstError == -2)
        throw std::bad_alloc();
    if (read.Thrown && (firstError <= 0 || firstError >= read.ThrownLine))
        std::rethrow_exception(read.Thrown);
    return std::max(firstError, 0);
}

std::string_view IniLineText(std::string_view text, int number) {
    size_t start = 0;
    for (int line = 1; line < number; ++line) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            return {};
        start = end + 1;
    }
    if (number < 1 || start > text.size())
        return {};
    std::string_view line = text.substr(start);
    line = line.substr(0, line.find('\n'));
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace raduvuz
