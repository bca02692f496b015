#pragma once

#include <cstdint>
#include <cstring>

namespace raduvuz::bench {

// The anchor: a fast PackBits encoder as a codec library would ship it, written from the
// format's public description. Two or more equal bytes make a run item, anything else literal
// items of up to 128 bytes; runs and literals are found eight bytes at a time. It need not give
// libtiff's bytes (it never joins a 2-byte run into a literal), only a valid stream.
inline int64_t FastPackBits(const uint8_t* source, int64_t count, uint8_t* target) {
    constexpr uint64_t ones = 0x0101010101010101ULL;
    constexpr uint64_t highs = 0x8080808080808080ULL;
    const auto load = [](const uint8_t* at) {
        uint64_t word;
        std::memcpy(&word, at, 8);
        return word;
    };
    const uint8_t* p = source;
    const uint8_t* const end = source + count;
    uint8_t* op = target;
    while (p < end) {
        const int64_t left = end - p;
        const int64_t most = left < 128 ? left : 128;
        // Length of the run at p: the first byte of a word that differs from p[0].
        const uint64_t pattern = ones * *p;
        int64_t run = 1;
        for (;;) {
            if (run + 8 <= most) {
                const uint64_t differ = load(p + run) ^ pattern;
                if (differ != 0) {
                    run += __builtin_ctzll(differ) >> 3;
                    break;
                }
                run += 8;
            } else {
                while (run < most && p[run] == *p) {
                    ++run;
                }
                break;
            }
        }
        if (run >= 2) {
            *op++ = static_cast<uint8_t>(1 - run);
            *op++ = *p;
            p += run;
            continue;
        }
        // Length of the literal: up to the first byte equal to the one after it.
        int64_t literal = 1;
        for (;;) {
            if (literal + 9 <= left && literal + 8 <= most) {
                const uint64_t x = load(p + literal) ^ load(p + literal + 1);
                const uint64_t zero = (x - ones) & ~x & highs;
                if (zero != 0) {
                    literal += __builtin_ctzll(zero) >> 3;
                    break;
                }
                literal += 8;
            } else {
                while (literal < most && !(literal + 1 < left && p[literal] == p[literal + 1])) {
                    ++literal;
                }
                break;
            }
        }
        if (literal > most) {
            literal = most;
        }
        *op++ = static_cast<uint8_t>(literal - 1);
        std::memcpy(op, p, static_cast<size_t>(literal));
        op += literal;
        p += literal;
    }
    return op - target;
}

} // namespace raduvuz::bench
