#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace raduvuz {

struct TRasterOptions {
    int Width = 1024;
    int Height = 1024;
    int Pages = 1;
    // Plate letters, each of C, M, Y, K, in the order the files are written.
    std::string Plates = "CMYK";
    uint32_t Seed = 1;
    // Edge of one halftone cell in pixels (2 to 32).
    int CellSize = 8;
    std::string Name = "raster";
    int Priority = 5;
    std::string Device = "Printer";
};

// Halftone-like sample pages: per plate, a coverage field of gradients and a few shapes is
// screened with clustered dots. Dot cells are drawn once per coverage level and copied into
// place, so a plate costs about one memcpy per cell row. The same options give the same bytes.
class TRasterGen {
public:
    // Throws std::invalid_argument for sizes out of range or unknown plate letters.
    explicit TRasterGen(TRasterOptions options);

    // Width * Height bytes, one per pixel, 0 = no ink, 255 = full ink; page counts from 1.
    void RenderPlate(int page, char plate, std::vector<uint8_t>& out) const;
    std::string FileName(int page, char plate) const;
    // The parameter text the producer gives the document.
    std::string Dds(int page, char plate) const;
    static std::string ColorName(char plate);

    // Writes every page and plate as FileName into folder, each with its parameter text beside
    // it as FileName + ".dds"; gives the raster files in page and plate order.
    std::vector<std::string> WriteAll(const std::string& folder) const;

    const TRasterOptions& Options() const { return Opts; }

private:
    TRasterOptions Opts;
    // Cells[level] holds CellSize * CellSize bytes with `level` pixels inked.
    std::vector<std::vector<uint8_t>> Cells;
};

} // namespace raduvuz
