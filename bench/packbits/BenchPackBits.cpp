// PackBits in one process, side by side: our codec, the anchor (a fast PackBits encoder written
// from the format's public description, FastPackBits.h), libtiff's codec and memcpy, on 64 MiB
// of each kind of data. It leaves out the disk, the store and the packing threads (see
// bench_cycle_throughput for the spool path).
// Usage: bench_packbits [RUNS] [--burn]   (--burn: a second process keeps one core busy)

#include "jobs/PackBits.h"
#include "packbits/FastPackBits.h"
#include "spool/RasterSamples.h"
#include "spool/TiffPackBits.h"

#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace raduvuz;
using namespace raduvuz::testing;

namespace {

using TBytes = std::vector<uint8_t>;
using TClock = std::chrono::steady_clock;

constexpr int64_t DataSize = int64_t{64} << 20;
// The spool writer copies a store block out in chunks of this size and packs each at once.
constexpr int64_t ChunkSize = 8 * PackBitsPieceSize;

double Seconds(const std::function<void()>& work) {
    const auto start = TClock::now();
    work();
    return std::chrono::duration<double>(TClock::now() - start).count();
}

double Rate(double seconds) {
    return static_cast<double>(DataSize) / 1e6 / seconds;
}

// min / median / max of one figure over the runs.
struct TSpread {
    std::vector<double> Values;
    void Add(double value) { Values.push_back(value); }
    double At(double fraction) const {
        std::vector<double> sorted = Values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5)];
    }
    std::string Text(const char* format) const {
        char text[96];
        std::snprintf(text, sizeof text, format, At(0), At(0.5), At(1));
        return text;
    }
};

using TPacker = std::function<int64_t(const uint8_t*, int64_t, uint8_t*)>;

int64_t PackOurs(const uint8_t* data, int64_t size, uint8_t* target) {
    return PackBitsBlock(data, size, target);
}

int64_t PackAnchor(const uint8_t* data, int64_t size, uint8_t* target) {
    int64_t packed = 0;
    for (int64_t at = 0; at < size; at += PackBitsPieceSize) {
        packed +=
            bench::FastPackBits(data + at, std::min(PackBitsPieceSize, size - at), target + packed);
    }
    return packed;
}

// Packing time with the input in the cache, as the spool writer packs: each chunk is copied
// into a buffer first, and only the packing is timed.
double PackHot(const TPacker& pack, const TBytes& data, uint8_t* scratch, uint8_t* target,
               int64_t& packed) {
    double seconds = 0;
    packed = 0;
    for (int64_t at = 0; at < DataSize; at += ChunkSize) {
        std::memcpy(scratch, data.data() + at, static_cast<size_t>(ChunkSize));
        seconds += Seconds([&] { packed += pack(scratch, ChunkSize, target + packed); });
    }
    return seconds;
}

double PackCold(const TPacker& pack, const TBytes& data, uint8_t* target, int64_t& packed) {
    return Seconds([&] { packed = pack(data.data(), DataSize, target); });
}

struct TClassFigures {
    TSpread HotOurs, HotAnchor, HotRatio;
    TSpread ColdOurs, ColdAnchor, ColdRatio;
    TSpread TiffPack, HotTiffRatio;
    TSpread Unpack, TiffUnpack, UnpackTiffRatio, Memcpy, UnpackMemcpyRatio;
    double Packed = 0;
    double AnchorPacked = 0;
    bool Ok = true;
};

// One kind of data: every codec once per run, in the same order each run, so that a busy
// machine hurts all alike.
TClassFigures Measure(const TBytes& data, int runs) {
    TClassFigures f;
    const auto bound = static_cast<size_t>(PackBitsBlockBound(DataSize));
    TBytes ours(bound);
    TBytes anchor(bound);
    TBytes scratch(static_cast<size_t>(ChunkSize));
    TBytes unpacked(static_cast<size_t>(DataSize), 1);
    TBytes tiffFile;
    int64_t oursSize = 0;
    int64_t anchorSize = 0;
    for (int run = 0; run < runs; ++run) {
        const double hotOurs = PackHot(PackOurs, data, scratch.data(), ours.data(), oursSize);
        const double hotAnchor =
            PackHot(PackAnchor, data, scratch.data(), anchor.data(), anchorSize);
        const double coldOurs = PackCold(PackOurs, data, ours.data(), oursSize);
        const double coldAnchor = PackCold(PackAnchor, data, anchor.data(), anchorSize);
        bool tiffOk = true;
        const double tiffPack = Seconds([&] {
            tiffOk = TTiffPackBits::Encode(data.data(), DataSize, PackBitsPieceSize, tiffFile);
        });
        // The three unpacking sides take turns at going first, so that whatever the one before
        // left in the cache favours none of them.
        bool oursOk = true;
        double unpack = 0;
        double tiffUnpack = 0;
        double copy = 0;
        for (int k = 0; k < 3; ++k) {
            switch ((run + k) % 3) {
            case 0:
                unpack = Seconds([&] {
                    oursOk = UnpackBitsBlock(ours.data(), oursSize, unpacked.data(), DataSize);
                });
                oursOk = oursOk && unpacked == data;
                break;
            case 1:
                tiffUnpack = Seconds([&] {
                    tiffOk = TTiffPackBits::Decode(tiffFile, unpacked.data(), DataSize) && tiffOk;
                });
                tiffOk = tiffOk && unpacked == data;
                break;
            default:
                copy = Seconds([&] {
                    std::memcpy(unpacked.data(), data.data(), static_cast<size_t>(DataSize));
                });
            }
        }
        f.Ok = f.Ok && oursOk && tiffOk;

        f.HotOurs.Add(Rate(hotOurs));
        f.HotAnchor.Add(Rate(hotAnchor));
        f.HotRatio.Add(hotAnchor / hotOurs);
        f.ColdOurs.Add(Rate(coldOurs));
        f.ColdAnchor.Add(Rate(coldAnchor));
        f.ColdRatio.Add(coldAnchor / coldOurs);
        f.TiffPack.Add(Rate(tiffPack));
        f.HotTiffRatio.Add(tiffPack / hotOurs);
        f.Unpack.Add(Rate(unpack));
        f.TiffUnpack.Add(Rate(tiffUnpack));
        f.UnpackTiffRatio.Add(tiffUnpack / unpack);
        f.Memcpy.Add(Rate(copy));
        f.UnpackMemcpyRatio.Add(copy / unpack);
    }
    // Our bytes are libtiff's; the anchor's need only unpack to the data.
    TBytes reference;
    f.Ok = f.Ok && TTiffPackBits::RawStrips(tiffFile, reference) &&
           static_cast<int64_t>(reference.size()) == oursSize &&
           std::memcmp(reference.data(), ours.data(), reference.size()) == 0;
    f.Ok = f.Ok && UnpackBitsBlock(anchor.data(), anchorSize, unpacked.data(), DataSize) &&
           unpacked == data;
    f.Packed = static_cast<double>(oursSize) / static_cast<double>(DataSize);
    f.AnchorPacked = static_cast<double>(anchorSize) / static_cast<double>(DataSize);
    return f;
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    file >> one >> five;
    return one + " (1 min), " + five + " (5 min)";
}

// A second process that keeps one core busy until it is killed.
pid_t StartBurner() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        volatile uint64_t spin = 0;
        for (;;) {
            spin = spin + 1;
        }
    }
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 7;
    bool burn = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--burn") == 0) {
            burn = true;
        } else {
            runs = std::max(1, std::atoi(argv[k]));
        }
    }
    const pid_t burner = burn ? StartBurner() : -1;
    // libtiff names itself "LIBTIFF, Version 4.5.0" and a copyright on the next line.
    std::string tiff = TIFFGetVersion();
    tiff = tiff.substr(0, tiff.find('\n'));
    std::printf("PackBits in one process: ours, the anchor (a fast PackBits encoder written from "
                "the format's description), %s and memcpy;\n",
                tiff.c_str());
    std::printf("64 MiB per kind, pieces of 32,768 bytes, %d runs, min / median / max; MB/s = "
                "10^6 input bytes/s; %s\n",
                runs, burn ? "a second process keeps one core busy" : "nothing else started");
    std::printf("load average at the start: %s\n", LoadAverage().c_str());

    struct TKind {
        const char* Name;
        std::function<TBytes()> Make;
    };
    const std::vector<TKind> kinds = {
        {"blank", [] { return BlankRaster(DataSize); }},
        {"halftone", [] { return HalftoneRaster(DataSize, 1); }},
        {"photo", [] { return PhotoRaster(DataSize, 1); }},
        {"text", [] { return TextRaster(DataSize, 1); }},
        {"random", [] { return RandomBytes(DataSize, 2); }},
    };
    std::vector<TClassFigures> figures;
    for (const TKind& kind : kinds) {
        figures.push_back(Measure(kind.Make(), runs));
    }

    const char* rates = "%6.0f %6.0f %6.0f";
    const char* ratios = "%5.2f %5.2f %5.2f";
    std::printf("\nPacking, input in the cache (256 KiB chunks copied in first, as the spool "
                "writer packs them)\n");
    std::printf("%-9s %6s %6s | %-20s | %-20s | %-17s | %-20s | %-17s\n", "data", "packed",
                "anchor", "ours MB/s", "anchor MB/s", "x anchor", "libtiff MB/s", "x libtiff");
    for (size_t k = 0; k < kinds.size(); ++k) {
        const TClassFigures& f = figures[k];
        std::printf("%-9s %6.3f %6.3f | %s | %s | %s | %s | %s\n", kinds[k].Name, f.Packed,
                    f.AnchorPacked, f.HotOurs.Text(rates).c_str(), f.HotAnchor.Text(rates).c_str(),
                    f.HotRatio.Text(ratios).c_str(), f.TiffPack.Text(rates).c_str(),
                    f.HotTiffRatio.Text(ratios).c_str());
    }
    std::printf("\nPacking, input streamed from memory (the whole 64 MiB at once)\n");
    std::printf("%-9s | %-20s | %-20s | %-17s\n", "data", "ours MB/s", "anchor MB/s", "x anchor");
    for (size_t k = 0; k < kinds.size(); ++k) {
        const TClassFigures& f = figures[k];
        std::printf("%-9s | %s | %s | %s\n", kinds[k].Name, f.ColdOurs.Text(rates).c_str(),
                    f.ColdAnchor.Text(rates).c_str(), f.ColdRatio.Text(ratios).c_str());
    }
    std::printf("\nUnpacking the whole 64 MiB (memcpy: the same bytes copied)\n");
    std::printf("%-9s | %-20s | %-20s | %-17s | %-20s | %-17s | %s\n", "data", "ours MB/s",
                "libtiff MB/s", "x libtiff", "memcpy MB/s", "x memcpy", "output");
    bool ok = true;
    for (size_t k = 0; k < kinds.size(); ++k) {
        const TClassFigures& f = figures[k];
        std::printf("%-9s | %s | %s | %s | %s | %s | %s\n", kinds[k].Name,
                    f.Unpack.Text(rates).c_str(), f.TiffUnpack.Text(rates).c_str(),
                    f.UnpackTiffRatio.Text(ratios).c_str(), f.Memcpy.Text(rates).c_str(),
                    f.UnpackMemcpyRatio.Text(ratios).c_str(),
                    f.Ok ? "libtiff's bytes, unpacked whole" : "WRONG");
        ok = ok && f.Ok;
    }
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    if (burner > 0) {
        ::kill(burner, SIGKILL);
        ::waitpid(burner, nullptr, 0);
    }
    return ok ? 0 : 1;
}
