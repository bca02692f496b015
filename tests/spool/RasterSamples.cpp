#include "spool/RasterSamples.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace raduvuz::testing {

namespace {

constexpr int TileSize = 256;

// For each tile row, byte column of the tile and tone level: the 8 screened pixels as a byte.
using TScreenTable = std::array<std::array<std::array<uint8_t, 256>, TileSize / 8>, TileSize>;

std::unique_ptr<TScreenTable> MakeScreen() {
    // A round dot on a screen turned by 15 degrees, about 12.7 pixels per cell; the tile is
    // large enough that rows do not repeat within a few bytes.
    const double pi = std::acos(-1.0);
    const double angle = 15 * pi / 180;
    const double cell = 12.7;
    const double ca = std::cos(angle);
    const double sa = std::sin(angle);
    auto table = std::make_unique<TScreenTable>();
    for (int y = 0; y < TileSize; ++y) {
        for (int bx = 0; bx < TileSize / 8; ++bx) {
            std::array<double, 8> threshold{};
            for (int bit = 0; bit < 8; ++bit) {
                const double x = bx * 8 + bit;
                const double u = (x * ca + y * sa) * 2 * pi / cell;
                const double v = (-x * sa + y * ca) * 2 * pi / cell;
                threshold[bit] = (2 - std::cos(u) - std::cos(v)) / 4;
            }
            for (int level = 0; level < 256; ++level) {
                uint8_t byte = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    if (level / 255.0 > threshold[bit]) {
                        byte |= static_cast<uint8_t>(0x80 >> bit);
                    }
                }
                (*table)[y][bx][level] = byte;
            }
        }
    }
    return table;
}

// Tone (0 white to 255 solid) at byte column x of row y of a page.
int PageTone(int64_t x, int64_t y, int64_t rowBytes, int64_t rows, int variant) {
    const int64_t margin = rowBytes / 12;
    if (x < margin || x >= rowBytes - margin || y < rows / 16 || y >= rows - rows / 16) {
        return 0;
    }
    const double fx = static_cast<double>(x - margin) / static_cast<double>(rowBytes - 2 * margin);
    const double fy = static_cast<double>(y) / static_cast<double>(rows);
    switch ((static_cast<int>(fy * 5) + variant) % 5) {
    case 0:
        return static_cast<int>(fx * 255);
    case 1: {
        const double dx = fx - 0.5;
        const double dy = (fy - 0.3) * 2;
        return std::clamp(static_cast<int>(255 * (1 - std::sqrt(dx * dx + dy * dy) * 1.6)), 0, 255);
    }
    case 2:
        return fx < 0.4 ? 255 : (fx < 0.6 ? 0 : 40);
    case 3:
        return static_cast<int>(128 + 100 * std::sin(fx * 9) * std::cos(fy * 13));
    default:
        return fx > 0.7 ? 0 : 200;
    }
}

} // namespace

std::vector<uint8_t> HalftoneRaster(int64_t size, uint64_t seed) {
    static const std::unique_ptr<TScreenTable> screen = MakeScreen();
    const int64_t rowBytes = 1200;
    const int64_t rows = 1600;
    std::vector<uint8_t> data(static_cast<size_t>(size));
    TSampleRandom random(seed);
    int variant = static_cast<int>(random.Between(0, 4));
    for (int64_t at = 0; at < size; ++at) {
        const int64_t line = at / rowBytes;
        const int64_t x = at % rowBytes;
        const int64_t y = line % rows;
        if (x == 0 && y == 0 && line > 0) {
            variant = static_cast<int>(random.Between(0, 4));
        }
        const int tone = PageTone(x, y, rowBytes, rows, variant);
        data[static_cast<size_t>(at)] = (*screen)[y % TileSize][x % (TileSize / 8)][tone];
    }
    return data;
}

std::vector<uint8_t> BlankRaster(int64_t size) {
    return std::vector<uint8_t>(static_cast<size_t>(size), 0);
}

std::vector<uint8_t> RandomBytes(int64_t size, uint64_t seed) {
    TSampleRandom random(seed);
    std::vector<uint8_t> data(static_cast<size_t>(size));
    for (auto& b : data) {
        b = random.Byte();
    }
    return data;
}

std::vector<uint8_t> GradientRaster(int64_t size, int64_t rowBytes) {
    std::vector<uint8_t> data(static_cast<size_t>(size));
    for (int64_t at = 0; at < size; ++at) {
        const int64_t x = at % rowBytes;
        const int64_t y = at / rowBytes;
        data[static_cast<size_t>(at)] = static_cast<uint8_t>((x * 255 / rowBytes + y) & 0xFF);
    }
    return data;
}

namespace {

// Appends count bytes of one value, different from the byte before it.
void AppendRun(std::vector<uint8_t>& data, TSampleRandom& random, int64_t count) {
    uint8_t value = random.Byte();
    if (!data.empty() && data.back() == value) {
        value = static_cast<uint8_t>(value + 1);
    }
    data.insert(data.end(), static_cast<size_t>(count), value);
}

std::vector<uint8_t> FromRuns(int64_t size, uint64_t seed, int64_t low, int64_t high) {
    TSampleRandom random(seed);
    std::vector<uint8_t> data;
    data.reserve(static_cast<size_t>(size + high));
    static constexpr std::array<int64_t, 4> edges = {129, 130, 256, 257};
    while (static_cast<int64_t>(data.size()) < size) {
        int64_t count = random.Between(low, high);
        if (high >= 257 && random.Between(0, 3) == 0) {
            count = edges[static_cast<size_t>(random.Between(0, 3))];
        }
        AppendRun(data, random, count);
    }
    data.resize(static_cast<size_t>(size));
    return data;
}

} // namespace

std::vector<uint8_t> ShortRuns(int64_t size, uint64_t seed) {
    return FromRuns(size, seed, 1, 4);
}

std::vector<uint8_t> LongRuns(int64_t size, uint64_t seed) {
    return FromRuns(size, seed, 100, 1000);
}

std::vector<uint8_t> LiteralsWithPairs(int64_t size, uint64_t seed) {
    TSampleRandom random(seed);
    std::vector<uint8_t> data;
    data.reserve(static_cast<size_t>(size + 200));
    while (static_cast<int64_t>(data.size()) < size) {
        const int64_t literal = random.Between(120, 130);
        for (int64_t k = 0; k < literal; ++k) {
            AppendRun(data, random, 1);
        }
        AppendRun(data, random, 2);
        const int64_t singles = random.Between(0, 3);
        for (int64_t k = 0; k < singles; ++k) {
            AppendRun(data, random, 1);
        }
        if (random.Between(0, 2) == 0) {
            AppendRun(data, random, 2);
        }
    }
    data.resize(static_cast<size_t>(size));
    return data;
}

} // namespace raduvuz::testing
