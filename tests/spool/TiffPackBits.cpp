#include "spool/TiffPackBits.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace raduvuz::testing {

namespace {

struct TMemoryFile {
    std::vector<uint8_t>* Data = nullptr;
    toff_t Position = 0;
};

tmsize_t MemRead(thandle_t handle, void* buffer, tmsize_t size) {
    auto* f = static_cast<TMemoryFile*>(handle);
    const toff_t available = f->Data->size() > f->Position ? f->Data->size() - f->Position : 0;
    const toff_t n = std::min<toff_t>(available, static_cast<toff_t>(size));
    std::memcpy(buffer, f->Data->data() + f->Position, n);
    f->Position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t MemWrite(thandle_t handle, void* buffer, tmsize_t size) {
    auto* f = static_cast<TMemoryFile*>(handle);
    const toff_t end = f->Position + static_cast<toff_t>(size);
    if (end > f->Data->size()) {
        f->Data->resize(end);
    }
    std::memcpy(f->Data->data() + f->Position, buffer, static_cast<size_t>(size));
    f->Position = end;
    return size;
}

toff_t MemSeek(thandle_t handle, toff_t offset, int whence) {
    auto* f = static_cast<TMemoryFile*>(handle);
    if (whence == SEEK_SET) {
        f->Position = offset;
    } else if (whence == SEEK_CUR) {
        f->Position += offset;
    } else {
        f->Position = f->Data->size() + offset;
    }
    return f->Position;
}

int MemClose(thandle_t) {
    return 0;
}

toff_t MemSize(thandle_t handle) {
    return static_cast<TMemoryFile*>(handle)->Data->size();
}

// Reading maps the image, so libtiff decodes straight from memory without copying strips.
int MemMap(thandle_t handle, void** base, toff_t* size) {
    auto* f = static_cast<TMemoryFile*>(handle);
    *base = f->Data->data();
    *size = f->Data->size();
    return 1;
}

void MemUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenMemory(TMemoryFile& file, const char* mode) {
    TIFFSetWarningHandler(nullptr);
    return TIFFClientOpen("memory", mode, &file, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                          MemMap, MemUnmap);
}

} // namespace

bool TTiffPackBits::Encode(const uint8_t* data, int64_t size, int64_t rowBytes,
                           std::vector<uint8_t>& file) {
    if (rowBytes <= 0 || size % rowBytes != 0) {
        return false;
    }
    file.clear();
    file.reserve(static_cast<size_t>(size + size / 64 + 4096));
    TMemoryFile memory{&file, 0};
    TIFF* tif = OpenMemory(memory, "w");
    if (tif == nullptr) {
        return false;
    }
    const auto rows = static_cast<uint32_t>(size / rowBytes);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(rowBytes));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    bool ok = true;
    for (uint32_t row = 0; row < rows && ok; ++row) {
        // libtiff takes a non-const buffer although it does not change it.
        void* line = const_cast<uint8_t*>(data + static_cast<int64_t>(row) * rowBytes);
        ok = TIFFWriteEncodedStrip(tif, row, line, rowBytes) == rowBytes;
    }
    TIFFClose(tif);
    return ok;
}

bool TTiffPackBits::RawStrips(const std::vector<uint8_t>& file, std::vector<uint8_t>& packed) {
    auto& image = const_cast<std::vector<uint8_t>&>(file);
    TMemoryFile memory{&image, 0};
    TIFF* tif = OpenMemory(memory, "r");
    if (tif == nullptr) {
        return false;
    }
    packed.clear();
    bool ok = true;
    const uint32_t strips = TIFFNumberOfStrips(tif);
    for (uint32_t s = 0; s < strips && ok; ++s) {
        const uint64_t count = TIFFGetStrileByteCount(tif, s);
        const size_t at = packed.size();
        packed.resize(at + count);
        ok = count == 0 ||
             TIFFReadRawStrip(tif, s, packed.data() + at, static_cast<tmsize_t>(count)) ==
                 static_cast<tmsize_t>(count);
    }
    TIFFClose(tif);
    return ok;
}

bool TTiffPackBits::Decode(const std::vector<uint8_t>& file, uint8_t* target, int64_t size) {
    auto& image = const_cast<std::vector<uint8_t>&>(file);
    TMemoryFile memory{&image, 0};
    TIFF* tif = OpenMemory(memory, "r");
    if (tif == nullptr) {
        return false;
    }
    const uint32_t strips = TIFFNumberOfStrips(tif);
    int64_t done = 0;
    bool ok = true;
    for (uint32_t s = 0; s < strips && ok; ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(tif, s, target + done, size - done);
        ok = n > 0;
        done += n;
    }
    TIFFClose(tif);
    return ok && done == size;
}

std::vector<uint8_t> TTiffPackBits::PackPiece(const uint8_t* data, int64_t size) {
    std::vector<uint8_t> file;
    std::vector<uint8_t> packed;
    if (!Encode(data, size, size, file) || !RawStrips(file, packed)) {
        packed.clear();
    }
    return packed;
}

} // namespace raduvuz::testing
