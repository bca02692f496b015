#include "spool/RasterSamples.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
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

std::vector<uint8_t> PhotoRaster(int64_t size, uint64_t seed) {
    const int64_t rowBytes = 2400;
    const int64_t rows = 1800;
    std::vector<uint8_t> data(static_cast<size_t>(size));
    TSampleRandom random(seed);
    double phase = static_cast<double>(random.Between(0, 1000)) / 100;
    for (int64_t at = 0; at < size; ++at) {
        const int64_t line = at / rowBytes;
        const double x = static_cast<double>(at % rowBytes) / rowBytes;
        const double y = static_cast<double>(line % rows) / rows;
        if (at % rowBytes == 0 && line % rows == 0 && line > 0) {
            phase = static_cast<double>(random.Between(0, 1000)) / 100;
        }
        double tone = 0;
        int noise = 0;
        if (y < 0.3) {
            // Sky: a slow gradient with little noise, where neighbours are often equal.
            tone = 150 + 40 * y + 10 * std::sin(x * 3 + phase);
            noise = static_cast<int>(random.Next() % 3) - 1;
        } else {
            // Ground: shaded shapes with more noise, clipped to black and white at the ends.
            tone = 128 + 150 * std::sin(x * 7 + phase) * std::cos(y * 5 - phase) +
                   40 * std::sin(x * 61 + y * 37);
            noise = static_cast<int>(random.Next() % 7) - 3;
        }
        data[static_cast<size_t>(at)] =
            static_cast<uint8_t>(std::clamp(static_cast<int>(tone) + noise, 0, 255));
    }
    return data;
}

std::vector<uint8_t> TextRaster(int64_t size, uint64_t seed) {
    // 600 dpi, 8 inches wide: 4,800 pixels, 600 bytes a row; 11 inches of rows.
    const int64_t rowBytes = 600;
    const int64_t rows = 6600;
    const int64_t pageBytes = rowBytes * rows;
    TSampleRandom random(seed);
    // Glyphs of 40 x 56 pixels, each a few strokes: bars, stems and diagonals 5 pixels wide.
    constexpr int glyphWidth = 40;
    constexpr int glyphHeight = 56;
    constexpr int glyphs = 40;
    std::vector<std::array<uint64_t, glyphHeight>> font(glyphs);
    for (auto& glyph : font) {
        glyph.fill(0);
        const int strokes = static_cast<int>(random.Between(2, 4));
        for (int s = 0; s < strokes; ++s) {
            const int kind = static_cast<int>(random.Between(0, 2));
            const int x0 = static_cast<int>(random.Between(0, glyphWidth - 6));
            const int y0 = static_cast<int>(random.Between(0, glyphHeight - 6));
            for (int y = 0; y < glyphHeight; ++y) {
                for (int x = 0; x < glyphWidth; ++x) {
                    const bool on = kind == 0   ? (y >= y0 && y < y0 + 5)
                                    : kind == 1 ? (x >= x0 && x < x0 + 5)
                                                : std::abs((x - x0) - (y - y0) / 2) < 3;
                    if (on) {
                        glyph[static_cast<size_t>(y)] |= uint64_t{1} << x;
                    }
                }
            }
        }
    }
    std::vector<uint8_t> data(static_cast<size_t>(size), 0);
    const int64_t margin = 600;
    const int64_t lineHeight = 100;
    for (int64_t page = 0; page * pageBytes < size; ++page) {
        for (int64_t top = margin; top + lineHeight < rows - margin; top += lineHeight) {
            // Now and then a short line ends a paragraph, or a blank line parts two.
            const int64_t width = random.Between(0, 5) == 0 ? random.Between(0, 3000) : 3600;
            int64_t x = margin;
            while (x + glyphWidth < margin + width) {
                const auto& glyph = font[static_cast<size_t>(random.Between(0, glyphs - 1))];
                for (int y = 0; y < glyphHeight; ++y) {
                    const int64_t row = page * rows + top + y;
                    for (int gx = 0; gx < glyphWidth; ++gx) {
                        const int64_t bit = x + gx;
                        const int64_t at = row * rowBytes + bit / 8;
                        if (((glyph[static_cast<size_t>(y)] >> gx) & 1) != 0 && at < size) {
                            data[static_cast<size_t>(at)] |=
                                static_cast<uint8_t>(0x80 >> (bit % 8));
                        }
                    }
                }
                // Letters sit 6 pixels apart, words a glyph's width.
                x += glyphWidth + (random.Between(0, 5) == 0 ? glyphWidth : 6);
            }
        }
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

std::vector<uint8_t> EdgeStretches(TSampleRandom& random, int64_t size) {
    static constexpr std::array<int64_t, 17> singles = {1,  2,  3,  4,   30,  31,  32,  33, 34,
                                                        63, 64, 65, 124, 125, 126, 127, 128};
    static constexpr std::array<int64_t, 16> runs = {2,   3,   4,   31,  32,  33,  127, 128,
                                                     129, 130, 131, 255, 256, 257, 258, 385};
    // A small alphabet makes equal neighbours by chance as well.
    const int alphabet = random.Between(0, 2) == 0 ? 4 : 256;
    std::vector<uint8_t> data;
    const auto append = [&](int64_t count) {
        auto value = static_cast<uint8_t>(random.Between(0, alphabet - 1));
        if (!data.empty() && data.back() == value)
            value = static_cast<uint8_t>(value + 1);
        data.insert(data.end(), static_cast<size_t>(count), value);
    };
    const auto singlesOf = [&](int64_t count) {
        for (; count > 0; --count)
            append(1);
    };
    while (static_cast<int64_t>(data.size()) < size) {
        switch (random.Between(0, 4)) {
        case 0:
            singlesOf(singles[static_cast<size_t>(random.Between(0, 16))]);
            break;
        case 1:
            append(2);
            append(1);
            break;
        case 2:
            append(runs[static_cast<size_t>(random.Between(0, 15))]);
            break;
        case 3:
            append(random.Between(1, 6));
            break;
        default:
            singlesOf(random.Between(1, 300));
        }
    }
    data.resize(static_cast<size_t>(size));
    return data;
}

} // namespace raduvuz::testing
