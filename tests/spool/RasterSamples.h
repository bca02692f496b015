#pragma once

#include <cstdint>
#include <vector>

namespace raduvuz::testing {

// A small, fast generator whose sequence is the same with every compiler and library.
class TSampleRandom {
public:
    explicit TSampleRandom(uint64_t seed) : State(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    uint64_t Next() {
        State ^= State << 13;
        State ^= State >> 7;
        State ^= State << 17;
        return State;
    }
    // Uniform enough in [low, high].
    int64_t Between(int64_t low, int64_t high) {
        return low + static_cast<int64_t>(Next() % static_cast<uint64_t>(high - low + 1));
    }
    uint8_t Byte() { return static_cast<uint8_t>(Next() >> 24); }

private:
    uint64_t State;
};

// 1-bit pages screened with a rotated clustered dot: white margins, tone ramps, vignettes and
// solid areas, as a RIP delivers them for a plate.
std::vector<uint8_t> HalftoneRaster(int64_t size, uint64_t seed);
std::vector<uint8_t> BlankRaster(int64_t size);
std::vector<uint8_t> RandomBytes(int64_t size, uint64_t seed);
// 8-bit contone photographs: smooth shading with sensor noise, flat skies, clipped highlights
// and shadows, so that equal neighbours come singly, in pairs and in short runs.
std::vector<uint8_t> PhotoRaster(int64_t size, uint64_t seed);
// 1-bit text pages: lines of glyphs drawn from strokes on white, with margins and blank lines.
std::vector<uint8_t> TextRaster(int64_t size, uint64_t seed);
// 8-bit contone ramps across rows of rowBytes bytes.
std::vector<uint8_t> GradientRaster(int64_t size, int64_t rowBytes);
// Runs of 1 to 4 equal bytes.
std::vector<uint8_t> ShortRuns(int64_t size, uint64_t seed);
// Runs of 100 to 1,000 equal bytes, some of exactly 129, 130, 256 and 257.
std::vector<uint8_t> LongRuns(int64_t size, uint64_t seed);
// Literals of 120 to 130 bytes, each followed by a 2-byte run and a few single bytes: the
// cases where a 2-byte run may or may not be joined to the literal before it.
std::vector<uint8_t> LiteralsWithPairs(int64_t size, uint64_t seed);

} // namespace raduvuz::testing
