// The sample raster generator: sizes, determinism, halftone values and the files it writes.
#include "peers/PeerTestSupport.h"
#include "tools/rastergen/TRasterGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace raduvuz {
namespace {

TRasterOptions Small(uint32_t seed) {
    TRasterOptions o;
    o.Width = 203;
    o.Height = 77;
    o.Seed = seed;
    o.CellSize = 8;
    return o;
}

TEST(RasterGenTest, SameSeedSameBytesOtherSeedOrPlateOtherBytes) {
    std::vector<uint8_t> a, b, c, m, page2;
    TRasterGen(Small(5)).RenderPlate(1, 'C', a);
    TRasterGen(Small(5)).RenderPlate(1, 'C', b);
    TRasterGen(Small(6)).RenderPlate(1, 'C', c);
    TRasterGen(Small(5)).RenderPlate(1, 'M', m);
    TRasterGen(Small(5)).RenderPlate(2, 'C', page2);
    ASSERT_EQ(a.size(), 203u * 77u);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, m);
    EXPECT_NE(a, page2);
}

TEST(RasterGenTest, PlatesAreScreenedDotsOfVaryingCoverage) {
    std::vector<uint8_t> plate;
    TRasterOptions o = Small(11);
    o.Width = 512;
    o.Height = 512;
    TRasterGen(o).RenderPlate(1, 'K', plate);
    EXPECT_TRUE(
        std::all_of(plate.begin(), plate.end(), [](uint8_t v) { return v == 0 || v == 255; }));
    // Coverage per 64-pixel square differs across the page: gradients and shapes, not a flat tint.
    int lowest = 64 * 64, highest = 0;
    for (int by = 0; by < 8; ++by)
        for (int bx = 0; bx < 8; ++bx) {
            int inked = 0;
            for (int y = by * 64; y < by * 64 + 64; ++y)
                for (int x = bx * 64; x < bx * 64 + 64; ++x)
                    inked += plate[static_cast<size_t>(y) * 512 + x] ? 1 : 0;
            lowest = std::min(lowest, inked);
            highest = std::max(highest, inked);
        }
    EXPECT_GT(highest - lowest, 64 * 64 / 10);
}

TEST(RasterGenTest, WritesEachPlateWithItsParameterText) {
    test::TTempFolder temp;
    TRasterOptions o = Small(1);
    o.Pages = 2;
    o.Plates = "CK";
    o.Name = "demo";
    o.Priority = 7;
    o.Device = "P1";
    auto files = TRasterGen(o).WriteAll(temp / "out");
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(std::filesystem::path(files[3]).filename(), "demo-2-K.rst");
    EXPECT_EQ(std::filesystem::file_size(files[3]), 203u * 77u);
    EXPECT_EQ(test::ReadTextFile(files[3] + ".dds"),
              "Name=demo;FileName=demo-2-K.rst;Page=2;Color=Black;File=RST;Size=15631;"
              "Priority=7;Device=P1;Width=203;Height=77");
    std::vector<uint8_t> plate;
    TRasterGen(o).RenderPlate(2, 'K', plate);
    EXPECT_EQ(test::ReadTextFile(files[3]), std::string(plate.begin(), plate.end()));
}

TEST(RasterGenTest, RefusesWhatItCannotDraw) {
    TRasterOptions o = Small(1);
    o.Plates = "CX";
    EXPECT_THROW(TRasterGen{o}, std::invalid_argument);
    o = Small(1);
    o.Width = 0;
    EXPECT_THROW(TRasterGen{o}, std::invalid_argument);
    o = Small(1);
    o.CellSize = 1;
    EXPECT_THROW(TRasterGen{o}, std::invalid_argument);
    std::vector<uint8_t> plate;
    EXPECT_THROW(TRasterGen(Small(1)).RenderPlate(0, 'C', plate), std::invalid_argument);
}

} // namespace
} // namespace raduvuz
