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
// Stretches at the packer's edges: single bytes around its 32-byte short path and the 128-byte
// literal, 2-byte runs between single bytes (joined or not), runs around 128 and its multiples.
std::vector<uint8_t> EdgeStretches(TSampleRandom& random, int64_t size);

} // namespace raduvuz::testing
