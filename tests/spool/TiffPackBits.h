#pragma once

#include <cstdint>
#include <vector>

namespace raduvuz::testing {

// libtiff's PackBits codec driven through an 8-bit grey TIFF held in memory, one strip per row:
// the reference our packer must match byte for byte. Only tests and benchmarks link libtiff.
class TTiffPackBits {
public:
    // Encodes rows of rowBytes bytes each (size a multiple of rowBytes) into a TIFF file image.
    static bool Encode(const uint8_t* data, int64_t size, int64_t rowBytes,
                       std::vector<uint8_t>& file);
    // The packed bytes of every strip of a file image, one after the other.
    static bool RawStrips(const std::vector<uint8_t>& file, std::vector<uint8_t>& packed);
    // Decodes every strip of a file image into target (size bytes in all).
    static bool Decode(const std::vector<uint8_t>& file, uint8_t* target, int64_t size);
    // libtiff's packed bytes of one piece (1 row whose width is the piece length).
    static std::vector<uint8_t> PackPiece(const uint8_t* data, int64_t size);
};

} // namespace raduvuz::testing
