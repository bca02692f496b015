#include "common/Utils.h"
#include "tests/fuzz_common/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace raduvuz;

namespace {

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

} // namespace

// The input is decoded as hexadecimal text and encoded as bytes; each way must agree with the
// other pair by pair.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string decoded = HexDecode(text);
    Check(decoded.size() == size / 2);
    const std::string again = HexEncode(decoded);
    for (size_t i = 0; i + 1 < size; i += 2) {
        if (IsHex(text[i]) && IsHex(text[i + 1])) {
            Check(again[i] == Upper(text[i]) && again[i + 1] == Upper(text[i + 1]));
        } else {
            Check(decoded[i / 2] == '\x09');
        }
    }

    const std::string encoded = HexEncode(text);
    Check(encoded.size() == size * 2);
    std::string lower = encoded;
    for (char& c : lower) {
        Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
        c = Lower(c);
    }
    Check(HexDecode(encoded) == text);
    Check(HexDecode(lower) == text);
    return 0;
}
