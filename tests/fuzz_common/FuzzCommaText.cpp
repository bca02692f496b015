#include "common/CommaText.h"
#include "common/TParams.h"
#include "tests/fuzz_common/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace raduvuz;

// The input is read as comma text, and also cut at every 0xFF byte into items of any content:
// both lists must read back from their written form unchanged.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::vector<std::string> read = ReadCommaText(text);
    const std::string written = WriteCommaText(read);
    Check(ReadCommaText(written) == read);

    std::vector<std::string> items;
    if (size > 0) {
        size_t start = 0;
        for (size_t i = 0; i <= size; ++i) {
            if (i == size || text[i] == '\xFF') {
                items.push_back(text.substr(start, i - start));
                start = i + 1;
            }
        }
    }
    const std::string itemsText = WriteCommaText(items);
    Check(ReadCommaText(itemsText) == items);
    Check(WriteCommaText(ReadCommaText(itemsText)) == itemsText);
    for (size_t i = 0; i < items.size() && i < 16; ++i) {
        Check(items[i].empty() || ItemInList(items[i], itemsText));
    }
    return 0;
}
