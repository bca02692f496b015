#include "common/Utils.h"
#include "tests/fuzz_common/FuzzCheck.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

using namespace raduvuz;

// The input is decoded as hexadecimal text pair by pair (a pair that is not hexadecimal gives the
// byte 9, an odd last character nothing) and encoded as bytes, in capitals, that decode back.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string decoded = HexDecode(text);
    Check(decoded.size() == size / 2);
    const auto value = [](unsigned char c) {
        return std::isdigit(c) ? c - '0' : std::toupper(c) - 'A' + 10;
    };
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(text[i + 1]);
        const bool hex = std::isxdigit(a) && std::isxdigit(b);
        Check(static_cast<unsigned char>(decoded[i / 2]) == (hex ? value(a) * 16 + value(b) : 9));
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
