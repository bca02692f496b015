#include "jobs/PackBits.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace raduvuz {

namespace {

// Bit k of a window: the byte at base + k equals the one after it. Bits of the piece's last
// byte and beyond are 0, as nothing follows it there.
inline uint64_t EqualMask(const uint8_t* p, int64_t base, int64_t count) {
    uint64_t mask = 0;
    if (base + 65 <= count) {
#if defined(__SSE2__)
        for (int k = 0; k < 64; k += 16) {
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + base + k));
            const __m128i next =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + base + k + 1));
            const auto bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
            mask |= static_cast<uint64_t>(bits) << k;
        }
        return mask;
#endif
    }
    const int64_t end = std::min<int64_t>(64, count - 1 - base);
    for (int64_t k = 0; k < end; ++k) {
        mask |= static_cast<uint64_t>(p[base + k] == p[base + k + 1]) << k;
    }
    return mask;
}

// Walks the equal-neighbour bits of a piece 64 bytes at a time, so that finding where a run or
// a stretch of single bytes ends costs a bit scan instead of a byte loop.
class TEqualBits {
public:
    TEqualBits(const uint8_t* p, int64_t count)
        : P(p), Count(count), Base(0), Mask(EqualMask(p, 0, count)) {}

    // First position at or after from whose bit is set (a run starts there), else Count.
    int64_t NextSet(int64_t from) {
        for (;;) {
            Move(from);
            const uint64_t m = Mask >> (from - Base);
            if (m != 0) {
                return from + __builtin_ctzll(m);
            }
            from = Base + 64;
            if (from >= Count) {
                return Count;
            }
        }
    }

    // First position at or after from whose bit is clear (the last byte of a run).
    int64_t NextClear(int64_t from) {
        for (;;) {
            Move(from);
            const uint64_t m = ~Mask >> (from - Base);
            if (m != 0) {
                return from + __builtin_ctzll(m);
            }
            from = Base + 64;
        }
    }

private:
    void Move(int64_t position) {
        if (position >= Base + 64) {
            Base = position & ~int64_t{63};
            Mask = EqualMask(P, Base, Count);
        }
    }

    const uint8_t* P;
    int64_t Count;
    int64_t Base;
    uint64_t Mask;
};

#if defined(__SSE2__)
inline void CopyWide16(uint8_t* target, const uint8_t* source) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(source)));
}

inline void FillWide16(uint8_t* target, uint8_t value) {
    const uint64_t pattern = 0x0101010101010101ULL * value;
    std::memcpy(target, &pattern, 8);
    std::memcpy(target + 8, &pattern, 8);
}
#else
inline void CopyWide16(uint8_t* target, const uint8_t* source) {
    std::memcpy(target, source, 16);
}

inline void FillWide16(uint8_t* target, uint8_t value) {
    std::memset(target, value, 16);
}
#endif

// The widest literal: 128 bytes.
inline void CopyWide128(uint8_t* target, const uint8_t* source) {
    for (int k = 0; k < 128; k += 16) {
        CopyWide16(target + k, source + k);
    }
}

// The widest run is 129 bytes: 144 in 16-byte steps.
inline void FillWide144(uint8_t* target, uint8_t value) {
    for (int k = 0; k < 144; k += 16) {
        FillWide16(target + k, value);
    }
}

enum class TPackState { Base, Literal, Run, LiteralRun };

} // namespace

int64_t PackBitsPiece(const uint8_t* source, int64_t count, uint8_t* target) {
    TPackState state = TPackState::Base;
    uint8_t* op = target;
    // Count byte of the literal item that single bytes are added to.
    uint8_t* literal = nullptr;
    TEqualBits bits(source, count);
    const uint8_t* const sourceEnd = source + count;
    // Literal bytes go in 16-byte copies while that reads inside the piece; the spill behind
    // the output is overwritten by what follows and stays inside PackBitsBound.
    const auto copyLiteral = [sourceEnd](uint8_t* to, const uint8_t* from, int64_t n) {
        if (n <= 16 && from + 16 <= sourceEnd) {
            CopyWide16(to, from);
        } else {
            std::memcpy(to, from, static_cast<size_t>(n));
        }
    };
    int64_t i = 0;
    while (i < count) {
        if (i + 1 < count && source[i] == source[i + 1]) {
            int64_t n = bits.NextClear(i) - i + 1;
            const uint8_t b = source[i];
            i += n;
            if (n > 128) {
                do {
                    *op++ = static_cast<uint8_t>(-127);
                    *op++ = b;
                    n -= 128;
                } while (n > 128);
                // After a -127 item nothing can join a literal any more.
                state = TPackState::Run;
                if (n == 1) {
                    // The rest of one is a single byte in state RUN: it opens a literal.
                    --i;
                    continue;
                }
            }
            *op++ = static_cast<uint8_t>(1 - n);
            *op++ = b;
            state = state == TPackState::Literal ? TPackState::LiteralRun : TPackState::Run;
            continue;
        }

        int64_t k = bits.NextSet(i + 1) - i;
        const uint8_t* s = source + i;
        i += k;
        if (state == TPackState::LiteralRun) {
            // A 2-byte run between literal bytes costs more as an item than inside the literal.
            if (op[-2] == 0xFF && *literal < 126) {
                op[-2] = op[-1];
                *literal = static_cast<uint8_t>(*literal + 2);
                state = *literal == 127 ? TPackState::Base : TPackState::Literal;
            } else {
                state = TPackState::Run;
            }
        }
        if (state == TPackState::Literal) {
            const int64_t take = std::min<int64_t>(127 - *literal, k);
            copyLiteral(op, s, take);
            op += take;
            s += take;
            k -= take;
            *literal = static_cast<uint8_t>(*literal + take);
            if (*literal == 127) {
                state = TPackState::Base;
            }
        }
        while (k > 0) {
            const int64_t take = std::min<int64_t>(128, k);
            literal = op;
            *op++ = static_cast<uint8_t>(take - 1);
            copyLiteral(op, s, take);
            op += take;
            s += take;
            k -= take;
            state = take == 128 ? TPackState::Base : TPackState::Literal;
        }
    }
    return op - target;
}

int64_t PackBitsBlock(const uint8_t* source, int64_t count, uint8_t* target) {
    int64_t packed = 0;
    for (int64_t offset = 0; offset < count; offset += PackBitsPieceSize) {
        const int64_t piece = std::min(PackBitsPieceSize, count - offset);
        packed += PackBitsPiece(source + offset, piece, target + packed);
    }
    return packed;
}

TUnpackResult UnpackBits(const uint8_t* source, int64_t sourceSize, uint8_t* target,
                         int64_t targetSize) {
    int64_t i = 0;
    int64_t o = 0;
    // While a whole widest item plus the wide copy's spill fits on both sides, no bound checks.
    // An item moves at most 129 bytes on either side, so a batch of that many items can run
    // without looking at the bounds; the batches shrink as the ends come near.
    while (i + 129 <= sourceSize && o + 144 <= targetSize) {
        const int64_t items = std::min(sourceSize - 129 - i, targetSize - 144 - o) / 129 + 1;
        const uint8_t* p = source + i;
        uint8_t* q = target + o;
        for (int64_t k = 0; k < items; ++k) {
            const unsigned c = *p;
            // Short items take one 16-byte store, longer ones a fixed block of stores: loops
            // whose trip count varies item by item would be mispredicted on halftone data.
            if (c < 128) {
                if (c < 16) {
                    CopyWide16(q, p + 1);
                } else {
                    CopyWide128(q, p + 1);
                }
                q += c + 1;
                p += c + 2;
            } else {
                if (c > 240) {
                    FillWide16(q, p[1]);
                } else {
                    FillWide144(q, p[1]);
                }
                q += 257 - c;
                p += 2;
            }
        }
        i = p - source;
        o = q - target;
    }
    while (i < sourceSize) {
        const uint8_t c = source[i];
        if (c < 128) {
            const int64_t n = c + 1;
            if (n > sourceSize - i - 1) {
                return {TUnpackStatus::Truncated, i, o};
            }
            if (n > targetSize - o) {
                return {TUnpackStatus::Overflow, i, o};
            }
            std::memcpy(target + o, source + i + 1, static_cast<size_t>(n));
            i += n + 1;
            o += n;
        } else {
            if (sourceSize - i < 2) {
                return {TUnpackStatus::Truncated, i, o};
            }
            const int64_t n = 257 - c;
            if (n > targetSize - o) {
                return {TUnpackStatus::Overflow, i, o};
            }
            std::memset(target + o, source[i + 1], static_cast<size_t>(n));
            i += 2;
            o += n;
        }
    }
    return {TUnpackStatus::Complete, i, o};
}

bool UnpackBitsBlock(const uint8_t* source, int64_t sourceSize, uint8_t* target,
                     int64_t targetSize) {
    const TUnpackResult result = UnpackBits(source, sourceSize, target, targetSize);
    return result.Status == TUnpackStatus::Complete && result.Produced == targetSize;
}

} // namespace raduvuz
