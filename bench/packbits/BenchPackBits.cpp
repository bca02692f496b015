#include "jobs/PackBits.h"
#include "spool/RasterSamples.h"
#include "spool/TiffPackBits.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace raduvuz;
using namespace raduvuz::testing;

namespace {

using TBytes = std::vector<uint8_t>;

constexpr int64_t DataSize = int64_t{64} << 20;

// Wall time of one run, in seconds.
double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

double MegabytesPerSecond(double seconds) {
    return static_cast<double>(DataSize) / 1e6 / seconds;
}

// One kind of data: our codec and libtiff's on the same 64 MiB, libtiff one 32,768-byte
// scanline per strip in a TIFF held in memory. False when the outputs differ.
bool Measure(const char* name, const TBytes& data) {
    TBytes ours(static_cast<size_t>(PackBitsBlockBound(DataSize)), 0);
    TBytes unpacked(static_cast<size_t>(DataSize), 1);
    TBytes tiffFile;
    int64_t packedSize = 0;

    // Rounds alternate the four codecs and keep each one's best time, so that a busy machine
    // or a clock change hurts both sides alike.
    double ourPack = 1e30;
    double ourUnpack = 1e30;
    double tiffPack = 1e30;
    double tiffUnpack = 1e30;
    bool ourOk = true;
    bool tiffOk = true;
    for (int round = 0; round < 4; ++round) {
        ourPack = std::min(ourPack, Seconds([&] {
                               packedSize = PackBitsBlock(data.data(), DataSize, ours.data());
                           }));
        tiffPack = std::min(tiffPack, Seconds([&] {
                                tiffOk = TTiffPackBits::Encode(data.data(), DataSize,
                                                               PackBitsPieceSize, tiffFile) &&
                                         tiffOk;
                            }));
        ourUnpack = std::min(ourUnpack, Seconds([&] {
                                 ourOk = UnpackBitsBlock(ours.data(), packedSize, unpacked.data(),
                                                         DataSize) &&
                                         ourOk;
                             }));
        ourOk = ourOk && unpacked == data;
        std::fill(unpacked.begin(), unpacked.end(), 1);
        tiffUnpack =
            std::min(tiffUnpack, Seconds([&] {
                         tiffOk =
                             TTiffPackBits::Decode(tiffFile, unpacked.data(), DataSize) && tiffOk;
                     }));
        tiffOk = tiffOk && unpacked == data;
        std::fill(unpacked.begin(), unpacked.end(), 1);
    }

    TBytes reference;
    const bool same = TTiffPackBits::RawStrips(tiffFile, reference) &&
                      static_cast<int64_t>(reference.size()) == packedSize &&
                      std::memcmp(reference.data(), ours.data(), reference.size()) == 0;

    std::printf("%-9s %6.3f | %9.0f %9.0f %6.2fx | %9.0f %9.0f %6.2fx | %s\n", name,
                static_cast<double>(packedSize) / static_cast<double>(DataSize),
                MegabytesPerSecond(ourPack), MegabytesPerSecond(tiffPack), tiffPack / ourPack,
                MegabytesPerSecond(ourUnpack), MegabytesPerSecond(tiffUnpack),
                tiffUnpack / ourUnpack, same && ourOk && tiffOk ? "identical" : "DIFFERENT");
    return same && ourOk && tiffOk;
}

} // namespace

int main() {
    std::printf("PackBits on 64 MiB per kind, pieces of 32,768 bytes; MB/s = 10^6 input bytes/s\n");
    std::printf("%-9s %6s | %9s %9s %7s | %9s %9s %7s | %s\n", "data", "packed", "pack", "libtiff",
                "ratio", "unpack", "libtiff", "ratio", "output");
    bool ok = Measure("halftone", HalftoneRaster(DataSize, 1));
    ok = Measure("blank", BlankRaster(DataSize)) && ok;
    ok = Measure("random", RandomBytes(DataSize, 2)) && ok;
    return ok ? 0 : 1;
}
