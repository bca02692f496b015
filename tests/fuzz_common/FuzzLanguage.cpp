#include "common/Language.h"
#include "common/Utils.h"
#include "tests/fuzz_common/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

using namespace raduvuz;

// The input is a language table file. Its numbers lie in the table's range and its texts are
// cut to the buffer the lookup has; each text, used as the format it is for many messages, is
// formatted with arguments of every kind, too few and too many, without reading past them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const auto texts = ParseLanguageTable(in);
    for (const auto& [number, text] : texts) {
        Check(number >= 0 && number <= 65535);
        Check(text.size() <= 2047);
        const std::string all =
            FormatText(text, {"File a.rst", 12, 3.5, -7, std::string(300, 'w')});
        const std::string none = FormatText(text, {});
        Check(all.size() < 1024 * 1024 && none.size() < 1024 * 1024);
    }
    return 0;
}
