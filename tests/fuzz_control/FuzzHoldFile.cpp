#include "control/HoldFile.h"
#include "tests/fuzz_common/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace raduvuz;

// The input is a hold file. Its entries are lines without line ends, none empty; what Close
// writes of them reads back to the same entries.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = ParseHoldFile(text);
    size_t lines = text.empty() ? 0 : 1;
    for (char c : text)
        lines += c == '\n';
    Check(entries.size() <= lines);
    for (const std::string& entry : entries) {
        Check(!entry.empty());
        Check(entry.find('\n') == std::string::npos);
        Check(entry.back() != '\r');
    }
    Check(ParseHoldFile(HoldFileText(entries)) == entries);
    return 0;
}
