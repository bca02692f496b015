#include "jobs/PackBits.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include <immintrin.h>

namespace raduvuz {

namespace {

// Bit k of the word: the byte at p + k equals the one after it. Reads p[0..64].
inline uint64_t EqualBits64Sse2(const uint8_t* p) {
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 1));
        const auto bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
        mask |= static_cast<uint64_t>(bits) << k;
    }
    return mask;
}

__attribute__((target("avx2"), always_inline)) inline uint64_t EqualBits64Avx2(const uint8_t* p) {
    const auto* at = reinterpret_cast<const __m256i*>(p);
    const auto* next = reinterpret_cast<const __m256i*>(p + 1);
    const auto low = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_loadu_si256(at), _mm256_loadu_si256(next))));
    const auto high = static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_cmpeq_epi8(_mm256_loadu_si256(at + 1), _mm256_loadu_si256(next + 1))));
    return low | static_cast<uint64_t>(high) << 32;
}

// The piece's last word is worked out from a padded copy, so that no byte past it is read; its
// last byte has no neighbour, and nor has anything beyond it, so their bits are 0.
inline uint64_t LastEqualBits(const uint8_t* p, int64_t count, uint64_t (*bits64)(const uint8_t*)) {
    alignas(16) uint8_t padded[128] = {};
    std::memcpy(padded, p, static_cast<size_t>(count));
    return bits64(padded) & ((uint64_t{1} << (count - 1)) - 1);
}

// Fills one word per 64 bytes of the piece with its equal-neighbour bits.
void EqualBitsSse2(const uint8_t* p, int64_t count, uint64_t* words) {
    int64_t at = 0;
    for (; at + 65 <= count; at += 64) {
        *words++ = EqualBits64Sse2(p + at);
    }
    if (at < count) {
        *words = LastEqualBits(p + at, count - at, EqualBits64Sse2);
    }
}

__attribute__((target("avx2"))) void EqualBitsAvx2(const uint8_t* p, int64_t count,
                                                   uint64_t* words) {
    int64_t at = 0;
    for (; at + 65 <= count; at += 64) {
        *words++ = EqualBits64Avx2(p + at);
    }
    if (at < count) {
        *words = LastEqualBits(p + at, count - at, EqualBits64Sse2);
    }
}

// Whether the piece is one byte value throughout (a blank page), 64 bytes at a time.
bool UniformSse2(const uint8_t* p, int64_t count) {
    const __m128i value = _mm_set1_epi8(static_cast<char>(*p));
    int64_t at = 0;
    for (; at + 64 <= count; at += 64) {
        __m128i same =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), value);
        for (int k = 16; k < 64; k += 16) {
            same = _mm_and_si128(
                same, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + k)),
                                     value));
        }
        if (_mm_movemask_epi8(same) != 0xFFFF) {
            return false;
        }
    }
    for (; at < count; ++at) {
        if (p[at] != *p) {
            return false;
        }
    }
    return true;
}

__attribute__((target("avx2"))) bool UniformAvx2(const uint8_t* p, int64_t count) {
    const __m256i value = _mm256_set1_epi8(static_cast<char>(*p));
    int64_t at = 0;
    for (; at + 64 <= count; at += 64) {
        const auto* chunk = reinterpret_cast<const __m256i*>(p + at);
        const __m256i same =
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(chunk), value),
                             _mm256_cmpeq_epi8(_mm256_loadu_si256(chunk + 1), value));
        if (_mm256_movemask_epi8(same) != -1) {
            return false;
        }
    }
    for (; at < count; ++at) {
        if (p[at] != *p) {
            return false;
        }
    }
    return true;
}

// AVX2 only where the processor has it: the package runs on any x86-64.
bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

std::atomic<bool> UseAvx2{HasAvx2()};

inline void Copy32(uint8_t* target, const uint8_t* source) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(source)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16)));
}

// Copies 1 to 128 bytes in a few wide moves, overlapping rather than looping byte by byte, and
// touching nothing outside either range: the compiler would make a slow string move of a copy
// whose size varies.
inline void CopyExact(uint8_t* to, const uint8_t* from, int64_t n) {
    const auto copy = [](uint8_t* target, const uint8_t* source, size_t size) {
        std::memcpy(target, source, size);
    };
    if (n >= 16) {
        for (int64_t k = 0; k + 16 < n; k += 16) {
            copy(to + k, from + k, 16);
        }
        copy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        uint64_t head;
        uint64_t tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head;
        uint32_t tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    } else {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

// How the writer's state machine packs: a run of 2 to 128 equal bytes is one item; single bytes
// go into literal items of at most 128 bytes; a 2-byte run between single bytes joins the
// literal before it while that has at most 126 bytes. So, once each such joinable pair counts
// as two single bytes, a stretch of single bytes of at most 128 is one literal item, whatever
// came before, and most stretches need no state at all. What does need it: a run longer than
// 128 whose last byte is left over (it opens a literal that the next stretches may add to), and
// stretches of more than 128 single bytes, which are split where the writer splits them.

enum class TWriterState { Base, Literal, Run, LiteralRun };

struct TPackState {
    uint8_t* Op;
    // Count byte of the last literal item; nullptr before the first.
    uint8_t* Literal;
    // The next stretch depends on the writer's state: go through it byte by byte.
    bool Exact;
};

// The writer's state after the items so far: only the last literal item and what follows it
// matter.
TWriterState StateAfter(const TPackState& st) {
    if (st.Literal != nullptr) {
        const int count = *st.Literal;
        const uint8_t* end = st.Literal + count + 2;
        if (end == st.Op) {
            return count == 127 ? TWriterState::Base : TWriterState::Literal;
        }
        if (end + 2 == st.Op && count < 127) {
            return TWriterState::LiteralRun;
        }
    }
    return TWriterState::Run;
}

// The writer's state machine itself, token by token, for stretches that follow a left-over byte.
[[gnu::noinline]] void PackExact(TPackState& st, const uint8_t* s, int64_t count, bool run) {
    TWriterState state = StateAfter(st);
    uint8_t* op = st.Op;
    const uint8_t* const end = s + count;
    while (s < end) {
        const uint8_t b = *s++;
        int64_t n = 1;
        while (s < end && *s == b) {
            ++s;
            ++n;
        }
        for (;;) {
            if (state == TWriterState::LiteralRun) {
                // A 2-byte run between single bytes joins the literal while it has room.
                if (n == 1 && op[-2] == 0xFF && *st.Literal < 126) {
                    *st.Literal = static_cast<uint8_t>(*st.Literal + 2);
                    state = *st.Literal == 127 ? TWriterState::Base : TWriterState::Literal;
                    op[-2] = op[-1];
                } else {
                    state = TWriterState::Run;
                }
                continue;
            }
            if (n > 1) {
                state =
                    state == TWriterState::Literal ? TWriterState::LiteralRun : TWriterState::Run;
                const int64_t take = std::min<int64_t>(n, 128);
                *op++ = static_cast<uint8_t>(1 - take);
                *op++ = b;
                n -= take;
                if (n > 0) {
                    continue;
                }
            } else if (state == TWriterState::Literal) {
                *op++ = b;
                *st.Literal = static_cast<uint8_t>(*st.Literal + 1);
                if (*st.Literal == 127) {
                    state = TWriterState::Base;
                }
            } else {
                st.Literal = op;
                *op++ = 0;
                *op++ = b;
                state = TWriterState::Literal;
            }
            break;
        }
    }
    st.Op = op;
    st.Exact = run && (state == TWriterState::Literal || state == TWriterState::LiteralRun);
}

// Long stretches and those near the piece's end, in a state that does not matter. pairs marks the
// first byte of each joinable pair; start is the stretch's offset in the piece.
[[gnu::noinline]] void PackLong(TPackState& st, const uint8_t* source, int64_t start, int64_t n,
                                bool run, const uint64_t* pairs) {
    uint8_t* op = st.Op;
    const uint8_t* s = source + start;
    if (run) {
        const uint8_t b = *s;
        for (; n > 128; n -= 128) {
            *op++ = static_cast<uint8_t>(-127);
            *op++ = b;
        }
        // A byte left over after -127 items opens a literal, which the next stretches may
        // add to or join.
        if (n == 1) {
            st.Literal = op;
            st.Exact = true;
        }
        *op++ = static_cast<uint8_t>(n == 1 ? 0 : 1 - n);
        *op++ = b;
        st.Op = op;
        return;
    }
    const auto isPair = [pairs](int64_t at) { return (pairs[at >> 6] >> (at & 63) & 1) != 0; };
    const int64_t end = start + n;
    for (int64_t at = start; at < end;) {
        // After a full literal a joinable pair is a run item of its own.
        if (isPair(at)) {
            *op++ = 0xFF;
            *op++ = source[at];
            at += 2;
            continue;
        }
        int64_t take = std::min<int64_t>(128, end - at);
        // A literal of 127 bytes takes no pair: it would pass 128.
        if (take == 128 && isPair(at + 127)) {
            take = 127;
        }
        st.Literal = op;
        *op++ = static_cast<uint8_t>(take - 1);
        CopyExact(op, source + at, take);
        op += take;
        at += take;
    }
    st.Op = op;
}

} // namespace

int64_t PackBitsPiece(const uint8_t* source, int64_t count, uint8_t* target) {
    if (count <= 0) {
        return 0;
    }
    const bool avx2 = UseAvx2.load(std::memory_order_relaxed);
    // A blank piece is one run: no bits needed. Any other piece differs within its first bytes,
    // as a rule, so looking costs little.
    if (avx2 ? UniformAvx2(source, count) : UniformSse2(source, count)) {
        TPackState st{target, nullptr, false};
        PackLong(st, source, 0, count, true, nullptr);
        return st.Op - target;
    }
    // Equal-neighbour bits, one word per 64 bytes, with zero words on either side; then the
    // same bits without joinable pairs, and the pairs' first bytes.
    constexpr int64_t PieceWords = PackBitsPieceSize / 64 + 3;
    uint64_t localEqual[PieceWords];
    uint64_t localPairs[PieceWords];
    std::unique_ptr<uint64_t[]> large;
    const int64_t words = (count + 63) / 64;
    uint64_t* equal = localEqual;
    uint64_t* pairs = localPairs;
    if (words + 3 > PieceWords) {
        large.reset(new uint64_t[static_cast<size_t>(2 * (words + 3))]);
        equal = large.get();
        pairs = equal + words + 3;
    }
    equal[0] = 0;
    equal[words + 1] = 0;
    equal[words + 2] = 0;
    pairs[0] = 0;
    if (avx2) {
        EqualBitsAvx2(source, count, equal + 1);
    } else {
        EqualBitsSse2(source, count, equal + 1);
    }
    ++equal;
    ++pairs;

    // A joinable pair: two equal bytes with a single byte before and after them, that is with
    // no equal neighbour at the two bytes before, at the second byte and at the byte after.
    // The pairs of word w come from the original bits of words w - 1 to w + 1; the pairs leave
    // the bits in place, so the original bits of the word before are kept aside.
    const auto joinablePairs = [count](int64_t w, uint64_t before, uint64_t e, uint64_t after) {
        // Inside a long run (most of a blank page) there is no pair.
        if (e == ~uint64_t{0}) {
            return uint64_t{0};
        }
        uint64_t pair = e & ~(e << 1 | before >> 63) & ~(e << 2 | before >> 62) &
                        ~(e >> 1 | after << 63) & ~(e >> 2 | after << 62);
        // A pair must be followed by a byte.
        const int64_t room = count - 2 - w * 64;
        if (room < 64) {
            pair &= (uint64_t{1} << std::max<int64_t>(room, 0)) - 1;
        }
        return pair;
    };
    uint64_t original = equal[0];
    // Nothing comes before the piece's first byte.
    pairs[0] = joinablePairs(0, 0, original, equal[1]) & ~uint64_t{1};
    equal[0] = original & ~pairs[0];

    TPackState st{target, nullptr, false};
    uint8_t* op = target;
    uint8_t* literal = nullptr;
    // A stretch (a run, or single bytes between runs) ends at bit k when byte k has no equal
    // neighbour after it but has one before it or after the next byte; the piece's last byte
    // ends the last stretch. Each word's ends need the next word's pairs.
    int64_t start = 0;
    for (int64_t w = 0; w < words; ++w) {
        const uint64_t nextOriginal = equal[w + 1];
        const uint64_t nextPairs = joinablePairs(w + 1, original, nextOriginal, equal[w + 2]);
        pairs[w + 1] = nextPairs;
        equal[w + 1] = nextOriginal & ~nextPairs;
        original = nextOriginal;
        const uint64_t e = equal[w];
        // No stretch ends inside a run; the last word always has an end.
        if (e == ~uint64_t{0}) {
            continue;
        }
        const uint64_t before = e << 1 | equal[w - 1] >> 63;
        const uint64_t after = e >> 1 | equal[w + 1] << 63;
        uint64_t ends = ~e & (before | after);
        if (w == words - 1) {
            const int64_t last = count - 1 - w * 64;
            ends = (ends & ((uint64_t{2} << last) - 1)) | uint64_t{1} << last;
        }
        while (ends != 0) {
            const int64_t end = w * 64 + __builtin_ctzll(ends);
            ends &= ends - 1;
            const int64_t n = end - start + 1;
            const bool run = (equal[start >> 6] >> (start & 63) & 1) != 0;
            const uint8_t* s = source + start;
            if (st.Exact || n > (run ? 128 : 32) || start + 128 > count) [[unlikely]] {
                st.Op = op;
                st.Literal = literal;
                if (st.Exact) {
                    PackExact(st, s, n, run);
                } else {
                    PackLong(st, source, start, n, run, pairs);
                }
                op = st.Op;
                literal = st.Literal;
            } else {
                // One item: a run of at most 128 bytes, or at most 32 single bytes, whose
                // 32-byte copy is one move for either; its spill is overwritten by the items
                // that follow.
                *op = static_cast<uint8_t>(run ? 1 - n : n - 1);
                Copy32(op + 1, s);
                literal = run ? literal : op;
                op += run ? 2 : n + 1;
            }
            start = end + 1;
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

namespace {

// Where a fast unpacking loop is: every item it starts before PEnd has all its bytes readable,
// and it starts none once Q passes QLast, which leaves room for 160 bytes of stores (an item's
// 129 bytes and the spill of its 32-byte moves).
struct TUnpackCursor {
    const uint8_t* P;
    uint8_t* Q;
    int64_t Literals = 0;
    int64_t Runs = 0;
};

// Item by item, branching on each item's kind: fast where the kinds come in a pattern the
// processor learns (halftone screens, text, blank and random data), and what processors
// without AVX2 use throughout. Items of up to 32 bytes take 32 bytes of stores, longer ones a
// fixed block of 128: loops whose trip count varies item by item would be mispredicted.
inline void UnpackByKindSse2(TUnpackCursor& at, const uint8_t* pEnd, const uint8_t* qLast) {
    const auto copy16 = [](uint8_t* to, const uint8_t* from) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
    };
    const uint8_t* p = at.P;
    uint8_t* q = at.Q;
    int64_t literals = 0;
    int64_t runs = 0;
    while (p < pEnd && q <= qLast) {
        const unsigned c = *p;
        if (c < 128) {
            copy16(q, p + 1);
            copy16(q + 16, p + 17);
            if (c >= 32) {
                for (int k = 32; k < 128; k += 16) {
                    copy16(q + k, p + 1 + k);
                }
            }
            q += c + 1;
            p += c + 2;
            ++literals;
        } else {
            const __m128i fill = _mm_set1_epi8(static_cast<char>(p[1]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(q), fill);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 16), fill);
            if (c < 225) {
                for (int k = 32; k < 128; k += 16) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(q + k), fill);
                }
                // Only a count byte of -128 repeats its byte 129 times.
                q[128] = p[1];
            }
            q += 257 - c;
            p += 2;
            ++runs;
        }
    }
    at.P = p;
    at.Q = q;
    at.Literals += literals;
    at.Runs += runs;
}

// The same with 32-byte moves.
__attribute__((target("avx2"))) inline void UnpackByKindAvx2(TUnpackCursor& at, const uint8_t* pEnd,
                                                             const uint8_t* qLast) {
    const uint8_t* p = at.P;
    uint8_t* q = at.Q;
    int64_t literals = 0;
    int64_t runs = 0;
    while (p < pEnd && q <= qLast) {
        const unsigned c = *p;
        if (c < 128) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(q),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1)));
            if (c >= 32) {
                for (int k = 32; k < 128; k += 32) {
                    _mm256_storeu_si256(
                        reinterpret_cast<__m256i*>(q + k),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1 + k)));
                }
            }
            q += c + 1;
            p += c + 2;
            ++literals;
        } else {
            const __m256i fill = _mm256_set1_epi8(static_cast<char>(p[1]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), fill);
            if (c < 225) {
                for (int k = 32; k < 128; k += 32) {
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + k), fill);
                }
                q[128] = p[1];
            }
            q += 257 - c;
            p += 2;
            ++runs;
        }
    }
    at.P = p;
    at.Q = q;
    at.Literals += literals;
    at.Runs += runs;
}

// Packed bytes looked at per step of the table walk.
constexpr int64_t TableSpan = 4096;

// Item by item without a branch on the kind, for data whose kinds the processor cannot guess
// (photographs): for every byte of the stretch, what an item starting there moves on the source
// and writes to the target is worked out 32 bytes at a time first, so that finding the next
// item costs one load and an add; a short item is a blend of its literal bytes and its fill.
__attribute__((target("avx2"))) void UnpackByTable(TUnpackCursor& at, const uint8_t* pEnd,
                                                   const uint8_t* qLast) {
    alignas(32) uint8_t steps[TableSpan];
    alignas(32) uint8_t sizes[TableSpan];
    const int64_t span = pEnd - at.P;
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i two = _mm256_set1_epi8(2);
    const __m256i none = _mm256_set1_epi8(-1);
    for (int64_t k = 0; k < span; k += 32) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at.P + k));
        const __m256i literal = _mm256_cmpgt_epi8(c, none);
        // A literal moves c + 2 bytes and writes c + 1; a run moves 2 and writes 257 - c.
        _mm256_store_si256(reinterpret_cast<__m256i*>(steps + k),
                           _mm256_blendv_epi8(two, _mm256_add_epi8(c, two), literal));
        _mm256_store_si256(
            reinterpret_cast<__m256i*>(sizes + k),
            _mm256_blendv_epi8(_mm256_sub_epi8(one, c), _mm256_add_epi8(c, one), literal));
    }
    const uint8_t* p = at.P;
    uint8_t* q = at.Q;
    const uint8_t* step = steps;
    const ptrdiff_t toSize = sizes - steps;
    int64_t runs = 0;
    int64_t items = 0;
    while (p < pEnd && q <= qLast) {
        const unsigned n = step[toSize];
        if (n <= 32) [[likely]] {
            // The blend takes the fill where the count byte's sign bit says run.
            const __m256i kind = _mm256_set1_epi8(static_cast<char>(p[0]));
            const __m256i fill = _mm256_set1_epi8(static_cast<char>(p[1]));
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(q),
                                _mm256_blendv_epi8(bytes, fill, kind));
        } else if (p[0] < 128) {
            for (int k = 0; k < 128; k += 32) {
                _mm256_storeu_si256(
                    reinterpret_cast<__m256i*>(q + k),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1 + k)));
            }
        } else {
            const __m256i fill = _mm256_set1_epi8(static_cast<char>(p[1]));
            for (int k = 0; k < 128; k += 32) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + k), fill);
            }
            q[128] = p[1];
        }
        runs += p[0] >> 7;
        ++items;
        q += n;
        const unsigned moved = *step;
        p += moved;
        step += moved;
    }
    at.P = p;
    at.Q = q;
    at.Runs += runs;
    at.Literals += items - runs;
}

void UnpackFastSse2(TUnpackCursor& at, const uint8_t* pLimit, const uint8_t* qLast) {
    UnpackByKindSse2(at, pLimit, qLast);
}

// Step by step, the walk that suited the last step's items: runs that come in groups of
// unpredictable length (a noisy photograph) make the kind branch miss about every other time.
__attribute__((target("avx2"))) void UnpackFastAvx2(TUnpackCursor& at, const uint8_t* pLimit,
                                                    const uint8_t* qLast) {
    bool byTable = false;
    while (at.P < pLimit && at.Q <= qLast) {
        const uint8_t* pEnd = at.P + std::min<int64_t>(TableSpan, pLimit - at.P);
        at.Literals = 0;
        at.Runs = 0;
        if (byTable) {
            UnpackByTable(at, pEnd, qLast);
        } else {
            UnpackByKindAvx2(at, pEnd, qLast);
        }
        byTable = at.Literals * 5 > at.Runs && at.Literals * 5 < at.Runs * 4;
    }
}

} // namespace

TUnpackResult UnpackBits(const uint8_t* source, int64_t sourceSize, uint8_t* target,
                         int64_t targetSize) {
    // The fast loops need the widest item, and the table's 32-byte reads, readable on the
    // source side and 160 bytes of room on the target side; the ends go item by item with
    // every bound checked.
    TUnpackCursor at{source, target};
    if (sourceSize > 129 + 32 && targetSize >= 160) {
        const uint8_t* pLimit = source + sourceSize - 129 - 32;
        uint8_t* qLast = target + targetSize - 160;
        if (UseAvx2.load(std::memory_order_relaxed)) {
            UnpackFastAvx2(at, pLimit, qLast);
        } else {
            UnpackFastSse2(at, pLimit, qLast);
        }
    }
    int64_t i = at.P - source;
    int64_t o = at.Q - target;
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

bool UsePackBitsAvx2(bool use) {
    const bool usable = use && HasAvx2();
    UseAvx2.store(usable, std::memory_order_relaxed);
    return usable == use;
}

bool PackBitsAvx2() {
    return UseAvx2.load(std::memory_order_relaxed);
}

bool UnpackBitsBlock(const uint8_t* source, int64_t sourceSize, uint8_t* target,
                     int64_t targetSize) {
    const TUnpackResult result = UnpackBits(source, sourceSize, target, targetSize);
    return result.Status == TUnpackStatus::Complete && result.Produced == targetSize;
}

} // namespace raduvuz
