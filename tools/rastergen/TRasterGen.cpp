#include "tools/rastergen/TRasterGen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <stdexcept>

namespace raduvuz {

namespace {

// splitmix64: small, fast and the same on every platform.
class TRandom {
public:
    explicit TRandom(uint64_t seed) : State(seed) {}
    uint64_t Next() {
        uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

private:
    uint64_t State;
};

struct TShape {
    bool Round = false;
    double X = 0, Y = 0, Rx = 0, Ry = 0, Amount = 0;
};

int PlateIndex(char plate) {
    static const char letters[] = "CMYK";
    const char* p = std::strchr(letters, plate);
    return p && plate ? static_cast<int>(p - letters) : -1;
}

} // namespace

TRasterGen::TRasterGen(TRasterOptions options) : Opts(std::move(options)) {
    if (Opts.Width <= 0 || Opts.Height <= 0 || Opts.Width > 65536 || Opts.Height > 65536)
        throw std::invalid_argument("width and height must be 1 to 65536");
    if (Opts.Pages <= 0 || Opts.Pages > 10000)
        throw std::invalid_argument("pages must be 1 to 10000");
    if (Opts.CellSize < 2 || Opts.CellSize > 32)
        throw std::invalid_argument("cell size must be 2 to 32");
    if (Opts.Plates.empty())
        throw std::invalid_argument("no plates");
    for (char p : Opts.Plates)
        if (PlateIndex(p) < 0)
            throw std::invalid_argument(std::string("unknown plate ") + p);

    // Clustered dot: pixels ink in the order of their distance from the cell's centre.
    const int c = Opts.CellSize;
    std::vector<int> order(static_cast<size_t>(c * c));
    std::iota(order.begin(), order.end(), 0);
    auto distance = [c](int i) {
        double dx = (i % c) + 0.5 - c / 2.0;
        double dy = (i / c) + 0.5 - c / 2.0;
        return dx * dx + dy * dy;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return distance(a) < distance(b); });
    Cells.assign(static_cast<size_t>(c * c + 1), std::vector<uint8_t>(c * c, 0));
    for (int level = 1; level <= c * c; ++level) {
        Cells[level] = Cells[level - 1];
        Cells[level][order[level - 1]] = 255;
    }
}

std::string TRasterGen::ColorName(char plate) {
    switch (plate) {
    case 'C':
        return "Cyan";
    case 'M':
        return "Magenta";
    case 'Y':
        return "Yellow";
    case 'K':
        return "Black";
    }
    throw std::invalid_argument(std::string("unknown plate ") + plate);
}

void TRasterGen::RenderPlate(int page, char plate, std::vector<uint8_t>& out) const {
    const int index = PlateIndex(plate);
    if (index < 0 || page < 1)
        throw std::invalid_argument("unknown page or plate");
    const int c = Opts.CellSize;
    const int cellsX = (Opts.Width + c - 1) / c;
    const int cellsY = (Opts.Height + c - 1) / c;
    TRandom random(Opts.Seed * 0x100000001B3ull + static_cast<uint64_t>(page) * 131 +
                   static_cast<uint64_t>(index));

    // The coverage field: a linear gradient in a random direction and a few shapes on top.
    const double angle = random.Unit() * 6.283185307179586;
    const double gx = std::cos(angle), gy = std::sin(angle);
    const double base = 0.1 + 0.3 * random.Unit();
    const double slope = 0.2 + 0.4 * random.Unit();
    std::vector<TShape> shapes(3 + random.Next() % 3);
    for (auto& s : shapes) {
        s.Round = random.Next() % 2 == 0;
        s.X = random.Unit();
        s.Y = random.Unit();
        s.Rx = 0.05 + 0.25 * random.Unit();
        s.Ry = s.Round ? s.Rx : 0.05 + 0.25 * random.Unit();
        s.Amount = random.Unit() - 0.3;
    }
    const int levels = c * c;
    std::vector<int> field(static_cast<size_t>(cellsX) * cellsY);
    for (int cy = 0; cy < cellsY; ++cy) {
        const double v = (cy + 0.5) / cellsY;
        for (int cx = 0; cx < cellsX; ++cx) {
            const double u = (cx + 0.5) / cellsX;
            double cover = base + slope * ((u - 0.5) * gx + (v - 0.5) * gy);
            for (const auto& s : shapes) {
                double dx = (u - s.X) / s.Rx, dy = (v - s.Y) / s.Ry;
                bool inside =
                    s.Round ? dx * dx + dy * dy <= 1.0 : std::abs(dx) <= 1.0 && std::abs(dy) <= 1.0;
                if (inside)
                    cover += s.Amount;
            }
            cover = std::clamp(cover, 0.0, 1.0);
            field[static_cast<size_t>(cy) * cellsX + cx] =
                static_cast<int>(std::lround(cover * levels));
        }
    }

    out.resize(static_cast<size_t>(Opts.Width) * Opts.Height);
    for (int y = 0; y < Opts.Height; ++y) {
        const int cy = y / c;
        const int row = y % c;
        uint8_t* target = out.data() + static_cast<size_t>(y) * Opts.Width;
        const int* levelRow = field.data() + static_cast<size_t>(cy) * cellsX;
        for (int cx = 0; cx < cellsX; ++cx) {
            const int x = cx * c;
            const int count = std::min(c, Opts.Width - x);
            std::memcpy(target + x, Cells[levelRow[cx]].data() + row * c,
                        static_cast<size_t>(count));
        }
    }
}

std::string TRasterGen::FileName(int page, char plate) const {
    return Opts.Name + "-" + std::to_string(page) + "-" + plate + ".rst";
}

std::string TRasterGen::Dds(int page, char plate) const {
    const int64_t size = static_cast<int64_t>(Opts.Width) * Opts.Height;
    return "Name=" + Opts.Name + ";FileName=" + FileName(page, plate) +
           ";Page=" + std::to_string(page) + ";Color=" + ColorName(plate) +
           ";File=RST;Size=" + std::to_string(size) + ";Priority=" + std::to_string(Opts.Priority) +
           ";Device=" + Opts.Device + ";Width=" + std::to_string(Opts.Width) +
           ";Height=" + std::to_string(Opts.Height);
}

std::vector<std::string> TRasterGen::WriteAll(const std::string& folder) const {
    std::filesystem::create_directories(folder);
    std::vector<std::string> files;
    std::vector<uint8_t> plate;
    for (int page = 1; page <= Opts.Pages; ++page) {
        for (char p : Opts.Plates) {
            RenderPlate(page, p, plate);
            const std::string path = (std::filesystem::path(folder) / FileName(page, p)).string();
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(plate.data()),
                      static_cast<std::streamsize>(plate.size()));
            std::ofstream dds(path + ".dds", std::ios::binary | std::ios::trunc);
            dds << Dds(page, p);
            out.close();
            dds.close();
            if (!out || !dds)
                throw std::runtime_error("cannot write " + path);
            files.push_back(path);
        }
    }
    return files;
}

} // namespace raduvuz
