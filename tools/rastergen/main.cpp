// raduvuz-rastergen: writes halftone-like sample plates and their parameter texts.
#include "tools/rastergen/TRasterGen.h"
#include "version/ProgramVersion.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

void Usage() {
    std::cerr << "usage: raduvuz-rastergen [options] FOLDER\n"
                 "  --width N      pixels per row (default 1024)\n"
                 "  --height N     rows (default 1024)\n"
                 "  --pages N      pages (default 1)\n"
                 "  --plates CMYK  plate letters (default CMYK)\n"
                 "  --seed N       seed; the same seed gives the same bytes (default 1)\n"
                 "  --cell N       halftone cell edge in pixels, 2 to 32 (default 8)\n"
                 "  --name TEXT    job name, also the start of the file names (default raster)\n"
                 "  --priority N   Priority of the parameter text (default 5)\n"
                 "  --device TEXT  Device of the parameter text (default Printer)\n"
                 "  --version      print the version and end\n"
                 "Writes NAME-PAGE-PLATE.rst (one byte per pixel) and NAME-PAGE-PLATE.rst.dds.\n";
}

bool ToInt(const char* text, int& value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (raduvuz::PrintVersionIfAsked(argc, argv, "raduvuz-rastergen"))
        return 0;
    raduvuz::TRasterOptions options;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto number = [&](int& target) {
            if (i + 1 >= argc || !ToInt(argv[++i], target)) {
                std::cerr << "raduvuz-rastergen: " << arg << " needs a number\n";
                std::exit(2);
            }
        };
        auto text = [&](std::string& target) {
            if (i + 1 >= argc) {
                std::cerr << "raduvuz-rastergen: " << arg << " needs a value\n";
                std::exit(2);
            }
            target = argv[++i];
        };
        int seed = 0;
        if (arg == "--width")
            number(options.Width);
        else if (arg == "--height")
            number(options.Height);
        else if (arg == "--pages")
            number(options.Pages);
        else if (arg == "--cell")
            number(options.CellSize);
        else if (arg == "--priority")
            number(options.Priority);
        else if (arg == "--seed") {
            number(seed);
            options.Seed = static_cast<uint32_t>(seed);
        } else if (arg == "--plates")
            text(options.Plates);
        else if (arg == "--name")
            text(options.Name);
        else if (arg == "--device")
            text(options.Device);
        else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && folder.empty())
            folder = arg;
        else {
            std::cerr << "raduvuz-rastergen: unknown argument " << arg << "\n";
            Usage();
            return 2;
        }
    }
    if (folder.empty()) {
        Usage();
        return 2;
    }
    try {
        raduvuz::TRasterGen gen(options);
        for (const auto& file : gen.WriteAll(folder))
            std::cout << file << "\n";
    } catch (const std::exception& e) {
        std::cerr << "raduvuz-rastergen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
