#pragma once

#include "common/Types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

// An ordered list of keys, each owning a list of value items, read from and written to a
// parameter text "Key=item,item;Key2=item". Keys keep their letters; lookups ignore ASCII case
// and always find the first occurrence.
class TParams {
public:
    using TValueList = std::vector<std::string>;

    TParams() = default;
    explicit TParams(std::string_view text) { SetText(text); }

    void SetText(std::string_view text);
    std::string GetText() const;

    int Count() const { return static_cast<int>(Entries.size()); }
    const std::string& KeyAt(int index) const { return Entries.at(index).Key; }

    int IndexOfKey(std::string_view key) const;
    // The value list at index, created empty when the key has none; nullptr outside the list.
    TValueList* GetListAt(int index);
    TValueList* GetList(std::string_view key);
    std::string GetValueText(std::string_view key) const;
    std::string GetItemAt(int index, int n) const;
    std::string GetItem(std::string_view key, int n) const;
    void SetValue(std::string_view key, std::string_view value);
    bool DeleteKey(std::string_view key);

    bool Match(std::string_view rule, std::string* failedKeys = nullptr) const;
    // Flow entries whose rule this list satisfies: their first "Device" items and their tags.
    void SelectEntries(const TTaggedList& entries, std::string& devices, std::string& ids) const;

private:
    struct TEntry {
        std::string Key;
        std::optional<TValueList> Values;
    };
    std::vector<TEntry> Entries;
};

bool ItemInList(std::string_view item, std::string_view list);
std::string NamesOfIds(std::string_view ids, const TTaggedList& entries);

} // namespace raduvuz
