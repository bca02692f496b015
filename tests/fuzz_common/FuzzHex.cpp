#include "common/Utils.h"
#include "tests/fuzz_common/FuzzCheck.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

using namespace raduvuz;

// The input is decoded as hexadecimal text and encoded as bytes; each way must agree with the
// other pair by pair.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string decoded = HexDecode(text);
    Check(decoded.size() == size / 2);
    const std::string again = HexEncode(decoded);
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(text[i + 1]);
        if (std::isxdigit(a) && std::isxdigit(b)) {
            Check(again[i] == std::toupper(a) && again[i + 1] == std::toupper(b));
        } else {
            Check(decoded[i / 2] == '\x09');
        }
    }

    const std::string encoded = HexEncode(text);
    Check(encoded.size() == size * 2);
    std::string lower = encoded;
    for (char& c : lower) {
        Check(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'));
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    Check(HexDecode(encoded) == text);
    Check(HexDecode(lower) == text);
    return 0;
}
