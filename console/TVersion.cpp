#include "console/TVersion.h"

#include "common/Utils.h"
#include "console/TResourceFile.h"

#include <sstream>

namespace raduvuz {

namespace {

constexpr size_t kMaxText = 255;

// "5.0.3.12" into its four parts; missing or bad parts stay 0.
std::array<uint16_t, 4> ReadParts(const std::string& text) {
    std::array<uint16_t, 4> parts{};
    std::istringstream in(text);
    std::string part;
    for (size_t i = 0; i < parts.size() && std::getline(in, part, '.'); ++i) {
        const int32_t value = StrToIntDef(part, 0);
        parts[i] = value < 0 || value > 0xFFFF ? 0 : static_cast<uint16_t>(value);
    }
    return parts;
}

} // namespace

TVersion::TVersion(const std::string& fileName) {
    const TResourceFile file(fileName);
    if (const auto block = file.Find("VERSION"))
        ParseBlock(*block);
}

void TVersion::ParseBlock(const std::string& block) {
    Block = block;
    std::istringstream in(block);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "FileVersion")
            FileVersion = ReadParts(value);
        else if (key == "ProductVersion")
            ProductVersion = ReadParts(value);
        else if (key == "FileDescription")
            FileDescription = value.substr(0, kMaxText);
        else if (key == "CompanyName")
            CompanyName = value.substr(0, kMaxText);
        else if (key == "LegalCopyright")
            LegalCopyright = value.substr(0, kMaxText);
        else if (key == "Comments")
            Comments = value.substr(0, kMaxText);
    }
}

} // namespace raduvuz
