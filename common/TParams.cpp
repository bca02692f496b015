#include "common/TParams.h"

#include "common/CommaText.h"
#include "common/Utils.h"

#include <algorithm>

namespace raduvuz {

namespace {

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin])) {
        ++begin;
    }
    while (end > begin && IsTrimmed(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// One left-to-right pass over non-overlapping ";;", so ";;;" becomes ";;".
std::string FoldDoubleSemicolons(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        result.push_back(text[i]);
        if (text[i] == ';' && i + 1 < text.size() && text[i + 1] == ';') {
            ++i;
        }
    }
    return result;
}

bool ListHasItem(const TParams::TValueList& list, std::string_view item) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& s) { return SameTextAscii(s, item); });
}

} // namespace

void TParams::SetText(std::string_view source) {
    const std::string text = FoldDoubleSemicolons(source);
    Entries.clear();

    std::string_view rest(text);
    size_t p = rest.find('=');
    while (p != std::string_view::npos) {
        TEntry entry;
        entry.Key.assign(rest.substr(0, p));
        // The first ";" of the whole rest ends the entry, even when it lies before the "=".
        const size_t q = rest.find(';');
        std::string_view value;
        if (q == std::string_view::npos) {
            value = rest.substr(p + 1);
            rest = std::string_view();
        } else {
            if (q > p) {
                value = TrimBlanks(rest.substr(p + 1, q - p - 1));
            }
            rest = rest.substr(q + 1);
        }
        if (!value.empty()) {
            entry.Values = ReadCommaText(value);
        }
        Entries.push_back(std::move(entry));
        p = rest.find('=');
    }
}

std::string TParams::GetText() const {
    std::string result;
    for (size_t i = 0; i < Entries.size(); ++i) {
        const TEntry& entry = Entries[i];
        if (entry.Values) {
            result += entry.Key;
            result.push_back('=');
            result += WriteCommaText(*entry.Values);
        }
        // The separator follows even a key that was not written.
        if (i + 1 < Entries.size()) {
            result.push_back(';');
        }
    }
    return result;
}

int TParams::IndexOfKey(std::string_view key) const {
    for (size_t i = 0; i < Entries.size(); ++i) {
        if (SameTextAscii(Entries[i].Key, key)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TParams::TValueList* TParams::GetListAt(int index) {
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    TEntry& entry = Entries[static_cast<size_t>(index)];
    if (!entry.Values) {
        entry.Values.emplace();
    }
    return &*entry.Values;
}

TParams::TValueList* TParams::GetList(std::string_view key) {
    return GetListAt(IndexOfKey(key));
}

std::string TParams::GetValueText(std::string_view key) const {
    const int index = IndexOfKey(key);
    if (index < 0) {
        return std::string();
    }
    const TEntry& entry = Entries[static_cast<size_t>(index)];
    return entry.Values ? WriteCommaText(*entry.Values) : std::string();
}

std::string TParams::GetItemAt(int index, int n) const {
    if (index < 0 || index >= Count() || n < 0) {
        return std::string();
    }
    const TEntry& entry = Entries[static_cast<size_t>(index)];
    if (!entry.Values || static_cast<size_t>(n) >= entry.Values->size()) {
        return std::string();
    }
    return (*entry.Values)[static_cast<size_t>(n)];
}

std::string TParams::GetItem(std::string_view key, int n) const {
    return GetItemAt(IndexOfKey(key), n);
}

void TParams::SetValue(std::string_view key, std::string_view value) {
    const int index = IndexOfKey(key);
    // A single value with blanks must stay one item; a value with commas is a list.
    std::string text(value);
    if (!text.empty() && text.find(',') == std::string::npos && text.front() != '"') {
        text = '"' + text + '"';
    }
    if (index < 0) {
        Entries.push_back(TEntry{std::string(key), ReadCommaText(text)});
        return;
    }
    // A key parsed without values gets a list here too, so that the value set is not lost.
    Entries[static_cast<size_t>(index)].Values = ReadCommaText(text);
}

bool TParams::DeleteKey(std::string_view key) {
    const int index = IndexOfKey(key);
    if (index < 0) {
        return false;
    }
    Entries.erase(Entries.begin() + index);
    return true;
}

bool TParams::Match(std::string_view rule, std::string* failedKeys) const {
    const TParams ruleParams(rule);
    std::string failed;
    static const TValueList kNoItems;
    for (const TEntry& ruleEntry : ruleParams.Entries) {
        const int j = IndexOfKey(ruleEntry.Key);
        if (j < 0) {
            continue;
        }
        const TEntry& jobEntry = Entries[static_cast<size_t>(j)];
        const TValueList& jobItems = jobEntry.Values ? *jobEntry.Values : kNoItems;
        const TValueList& ruleItems = ruleEntry.Values ? *ruleEntry.Values : kNoItems;
        bool matched = ListHasItem(jobItems, "*") || ListHasItem(ruleItems, "*");
        for (size_t k = 0; !matched && k < ruleItems.size(); ++k) {
            matched = ListHasItem(jobItems, ruleItems[k]);
        }
        // The result is read from the failed-keys text, so a failing empty key fails nothing.
        if (!matched) {
            if (!failed.empty()) {
                failed += ", ";
            }
            failed += ruleEntry.Key;
        }
    }
    if (failedKeys) {
        *failedKeys = failed;
    }
    return failed.empty();
}

void TParams::SelectEntries(const TTaggedList& entries, std::string& devices,
                            std::string& ids) const {
    devices.clear();
    ids.clear();
    std::vector<int32_t> seen;
    bool first = true;
    for (const TTaggedString& entry : entries) {
        if (!Match(entry.Text)) {
            continue;
        }
        const TParams rule(entry.Text);
        // The first matching entry's device is assigned, every later one follows a ",", so
        // devices line up with the matching entries even when one has none.
        if (first) {
            devices = rule.GetItem("Device", 0);
            first = false;
        } else {
            devices += ',';
            devices += rule.GetItem("Device", 0);
        }
        if (std::find(seen.begin(), seen.end(), entry.Tag) == seen.end()) {
            seen.push_back(entry.Tag);
        }
    }
    for (size_t i = 0; i < seen.size(); ++i) {
        if (i > 0) {
            ids += ',';
        }
        ids += std::to_string(seen[i]);
    }
}

bool ItemInList(std::string_view item, std::string_view list) {
    if (item.empty() || list.empty()) {
        return false;
    }
    return ListHasItem(ReadCommaText(list), item);
}

std::string NamesOfIds(std::string_view ids, const TTaggedList& entries) {
    std::string names;
    bool first = true;
    for (const std::string& item : ReadCommaText(ids)) {
        const int32_t id = StrToIntDef(item, 0);
        const auto found = std::find_if(entries.begin(), entries.end(),
                                        [&](const TTaggedString& e) { return e.Tag == id; });
        if (found == entries.end()) {
            continue;
        }
        if (!first) {
            names += ", ";
        }
        names += found->Text;
        first = false;
    }
    return names;
}

} // namespace raduvuz
