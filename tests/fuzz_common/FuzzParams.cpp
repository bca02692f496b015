#include "common/CommaText.h"
#include "common/TParams.h"
#include "tests/fuzz_common/FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using namespace raduvuz;

namespace {

using TKeyItems = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Keys with at least one item: the part of a list that a written text always carries over.
TKeyItems KeysWithItems(TParams& params) {
    TKeyItems result;
    for (int i = 0; i < params.Count(); ++i) {
        const TParams::TValueList* list = params.GetListAt(i);
        if (list && !list->empty()) {
            result.emplace_back(params.KeyAt(i), *list);
        }
    }
    return result;
}

// Whether entry i is the first of its key and has items.
bool FirstWithItems(TParams& params, int i) {
    const TParams::TValueList* list = params.GetListAt(i);
    return list && !list->empty() && params.IndexOfKey(params.KeyAt(i)) == i;
}

} // namespace

// The input is a parameter text. Writing and reading back keeps every key that has items; a list
// of unique keys with items matches its own text; a rule made of one of its own items matches.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TParams params(text);
    const std::string written = params.GetText();
    {
        // Fresh copies: GetListAt creates the lists it is asked for.
        TParams original(text);
        TParams reread(written);
        Check(KeysWithItems(original) == KeysWithItems(reread));
    }

    std::string failed = "x";
    Check(params.Match("", &failed) && failed.empty());
    const bool matched = params.Match(written, &failed);
    Check(matched == failed.empty());

    bool uniqueWithItems = true;
    for (int i = 0; i < params.Count(); ++i)
        uniqueWithItems = uniqueWithItems && FirstWithItems(params, i);
    if (uniqueWithItems) {
        Check(params.Match(written, &failed));
        std::string devices;
        std::string ids;
        params.SelectEntries({{"Device=*", 2}, {written, 1}, {"Device=*", 2}}, devices, ids);
        Check(ids == "2,1");
        Check(devices == "*," + params.GetItem("Device", 0) + ",*");
    }

    for (int i = 0; i < params.Count() && i < 64; ++i) {
        if (!FirstWithItems(params, i))
            continue;
        const std::string& key = params.KeyAt(i);
        const TParams::TValueList* list = params.GetListAt(i);
        Check(params.Match(key + "=" + WriteCommaText({list->back()}), &failed));
        Check(failed.empty());
        // An empty key adds nothing to the failed-keys text, so it cannot fail a rule.
        if (key.empty() || std::find(list->begin(), list->end(), "*") != list->end()) {
            continue;
        }
        size_t longest = 0;
        for (const std::string& item : *list) {
            longest = std::max(longest, item.size());
        }
        // No item can equal a longer one.
        const std::string absent(longest + 1, 'q');
        Check(!params.Match(key + "=" + absent, &failed));
        Check(failed == key);
    }

    std::string devices;
    std::string ids;
    params.SelectEntries({{text, 5}, {written, 5}, {"", 9}}, devices, ids);
    Check(ids == "5,9" || ids == "9");
    return 0;
}
