#include "jobs/SpoolFile.h"

#include "common/TParams.h"
#include "common/Utils.h"
#include "jobs/BlockPacker.h"
#include "jobs/PackBits.h"
#include "platform/SharedBlock.h"
#include "platform/TFileStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace raduvuz {

namespace {

constexpr int64_t SliceSize = 65536;
// An item cut by the end of a slice keeps at most its count byte and 127 literal bytes.
constexpr int64_t MaxCarry = 128;
constexpr int64_t ReadBufferSize = SliceSize + MaxCarry;
constexpr std::string_view DeviceKey = "Device";

// Spool throughput matters, so the per-block path reuses one buffer per thread.
uint8_t* ReadBuffer() {
    thread_local const std::unique_ptr<uint8_t[]> buffer(new uint8_t[ReadBufferSize]);
    return buffer.get();
}

bool WriteInt32(TStream& stream, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return WriteFully(stream, bytes, 4);
}

bool ReadInt32(TStream& stream, int32_t& value) {
    uint8_t bytes[4];
    if (!ReadFully(stream, bytes, 4)) {
        return false;
    }
    value = static_cast<int32_t>(
        static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
        static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

bool WriteDouble(TStream& stream, double value) {
    uint64_t v;
    std::memcpy(&v, &value, 8);
    uint8_t bytes[8];
    for (int k = 0; k < 8; ++k) {
        bytes[k] = static_cast<uint8_t>(v >> (8 * k));
    }
    return WriteFully(stream, bytes, 8);
}

bool ReadDouble(TStream& stream, double& value) {
    uint8_t bytes[8];
    if (!ReadFully(stream, bytes, 8)) {
        return false;
    }
    uint64_t v = 0;
    for (int k = 0; k < 8; ++k) {
        v |= static_cast<uint64_t>(bytes[k]) << (8 * k);
    }
    std::memcpy(&value, &v, 8);
    return true;
}

std::string JoinItems(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        if (!text.empty()) {
            text += ',';
        }
        text += item;
    }
    return text;
}

// Replaces the "Device" items through map (an empty result drops the item); a text without
// "Device" stays exactly as it was.
template <typename TMap> std::string TranslateDevices(std::string_view ddsText, TMap map) {
    TParams params(ddsText);
    const int index = params.IndexOfKey(DeviceKey);
    if (index < 0) {
        return std::string(ddsText);
    }
    std::vector<std::string> translated;
    if (const TParams::TValueList* items = params.GetListAt(index)) {
        for (const auto& item : *items) {
            std::string result = map(item);
            if (!result.empty()) {
                translated.push_back(std::move(result));
            }
        }
    }
    if (translated.empty()) {
        params.DeleteKey(DeviceKey);
    } else {
        params.SetValue(DeviceKey, JoinItems(translated));
    }
    return params.GetText();
}

} // namespace

std::string DevicesToTermKeys(std::string_view ddsText, const TTaggedList& termKeys) {
    return TranslateDevices(ddsText, [&termKeys](const std::string& item) {
        const int32_t number = StrToIntDef(item, 0);
        const auto entry =
            std::find_if(termKeys.begin(), termKeys.end(),
                         [number](const TTaggedString& e) { return e.Tag == number; });
        return entry == termKeys.end() ? std::string() : entry->Text;
    });
}

std::string TermKeysToDevices(std::string_view ddsText, const TTaggedList& termKeys) {
    return TranslateDevices(ddsText, [&termKeys](const std::string& item) {
        const auto entry = std::find_if(termKeys.begin(), termKeys.end(),
                                        [&item](const TTaggedString& e) { return e.Text == item; });
        return entry == termKeys.end() ? std::string() : std::to_string(entry->Tag);
    });
}

bool WriteSpoolHeader(TStream& stream, std::string_view ddsText, const TTaggedList& termKeys,
                      TDateTime created) {
    return WriteSpoolHeaderText(stream, DevicesToTermKeys(ddsText, termKeys), created);
}

std::string SpoolHeaderProblem(std::string_view text) {
    if (text.size() <= static_cast<size_t>(SpoolMaxTextLength))
        return std::string();
    return "a parameter text of " + std::to_string(text.size()) + " bytes is longer than the " +
           std::to_string(SpoolMaxTextLength) + " bytes a spool file header holds";
}

bool WriteSpoolHeaderText(TStream& stream, std::string_view text, TDateTime created) {
    if (!SpoolHeaderProblem(text).empty()) {
        errno = EMSGSIZE;
        return false;
    }
    const int64_t length = static_cast<int64_t>(text.size());
    const bool written =
        WriteInt32(stream, static_cast<int32_t>(length)) && WriteFully(stream, text.data(), length);
    // The arrival time's own write result is not part of the answer; a later block write
    // fails on the same stream anyway.
    if (written) {
        WriteDouble(stream, created);
    }
    return written;
}

bool ReadSpoolHeader(TStream& stream, const TTaggedList& termKeys, std::string& dds,
                     TDateTime& created) {
    std::string text;
    if (!ReadSpoolHeaderText(stream, text, created)) {
        return false;
    }
    dds = TermKeysToDevices(text, termKeys);
    return true;
}

bool ReadSpoolHeaderText(TStream& stream, std::string& text, TDateTime& created) {
    int32_t length = 0;
    if (!ReadInt32(stream, length) || length < 0 || length > SpoolMaxTextLength) {
        return false;
    }
    text.assign(static_cast<size_t>(length), '\0');
    if (!ReadFully(stream, text.data(), length)) {
        return false;
    }
    double stored = 0;
    if (ReadDouble(stream, stored)) {
        created = stored;
    }
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) {
        text.resize(zero);
    }
    return true;
}

namespace {

// How many bytes the packed items from the stream's position unpack to, counted from their
// count bytes without unpacking; -1 when the data is short or ends in the middle of an item.
int64_t UnpackedLength(TStream& stream, int64_t packedSize, int64_t limit) {
    uint8_t* buffer = ReadBuffer();
    int64_t produced = 0;
    // Bytes of the current item's data still to pass over, possibly in later slices.
    int64_t skip = 0;
    for (int64_t remaining = packedSize; remaining > 0;) {
        const int64_t slice = std::min(remaining, ReadBufferSize);
        if (!ReadFully(stream, buffer, slice))
            return -1;
        remaining -= slice;
        int64_t at = skip;
        while (at < slice) {
            const auto count = static_cast<int8_t>(buffer[at]);
            const int64_t data = count >= 0 ? count + 1 : 1;
            produced += count >= 0 ? count + 1 : 1 - count;
            at += 1 + data;
        }
        skip = at - slice;
        // More than the block holds is enough to know; the rest is not read.
        if (produced > limit)
            return produced;
    }
    return skip == 0 ? produced : -1;
}

} // namespace

bool SpoolFileWhole(TFileStream& stream, std::string& why) {
    std::string text;
    TDateTime created = 0;
    // The header's read comes first: a small file's size is known from it without asking.
    const bool headerRead = stream.Seek(0) && ReadSpoolHeaderText(stream, text, created);
    const int64_t size = stream.Size();
    if (size < 0 || !headerRead) {
        why = "its header is damaged";
        return false;
    }
    int32_t textLength = 0;
    if (!stream.Seek(0) || !ReadInt32(stream, textLength)) {
        why = "its header is damaged";
        return false;
    }
    // TextLength, the text and Created.
    int64_t at = 4 + static_cast<int64_t>(textLength) + 8;
    if (at > size) {
        why = "it ends in its header";
        return false;
    }
    for (int64_t record = 1;; ++record) {
        const std::string which = "block record " + std::to_string(record);
        int32_t blockSize = 0;
        int32_t packedSize = 0;
        int32_t last = 0;
        if (at == size) {
            why = "it ends before its last block (" + std::to_string(record - 1) +
                  " blocks, the last flag of none set)";
            return false;
        }
        if (at + 8 > size || !stream.Seek(at) || !ReadInt32(stream, blockSize) ||
            !ReadInt32(stream, packedSize)) {
            why = "it ends in " + which;
            return false;
        }
        // A writer that stopped in the middle of a block leaves PackedSize at 0.
        if (packedSize == 0 && blockSize > 0) {
            why = "it ends in " + which + ", whose packed size was never written";
            return false;
        }
        // Packed data is never more than twice the block.
        if (blockSize < 0 || packedSize < 0 ||
            static_cast<int64_t>(packedSize) > 2 * static_cast<int64_t>(blockSize)) {
            why = which + " is damaged (block size " + std::to_string(blockSize) +
                  ", packed size " + std::to_string(packedSize) + ")";
            return false;
        }
        if (at + 8 + static_cast<int64_t>(packedSize) > size) {
            why = "it ends in " + which;
            return false;
        }
        // The sizes may fit while the items do not: the sender would find out only then.
        const int64_t unpacked = UnpackedLength(stream, packedSize, blockSize);
        if (unpacked != blockSize) {
            why = which + " is damaged (its packed data " +
                  (unpacked < 0 ? std::string("ends in the middle of an item")
                   : unpacked > blockSize
                       ? "unpacks to more than its block size " + std::to_string(blockSize)
                       : "unpacks to " + std::to_string(unpacked) + " bytes, its block size is " +
                             std::to_string(blockSize)) +
                  ")";
            return false;
        }
        at += 8 + static_cast<int64_t>(packedSize);
        if (at + 4 > size || !stream.Seek(at) || !ReadInt32(stream, last)) {
            why = "it ends in " + which;
            return false;
        }
        at += 4;
        if (last != 0)
            return true;
    }
}

namespace {

// Writes one block record: BlockSize, PackedSize, the packed pieces and the last flag.
bool WritePackedBlock(TFileStream& stream, int64_t blockSize, int32_t last,
                      const TBlockSource& source) {
    if (blockSize > static_cast<int64_t>(std::numeric_limits<int32_t>::max())) {
        return false;
    }
    bool ok = WriteInt32(stream, static_cast<int32_t>(blockSize));
    const int64_t sizeAt = ok ? stream.Position() : -1;
    ok = sizeAt >= 0 && WriteInt32(stream, 0);
    if (ok) {
        const TPackResult packed =
            PackBlockInOrder(blockSize, source, [&stream](const uint8_t* data, int64_t count) {
                return WriteFully(stream, data, count);
            });
        // PackedSize stays 0 unless every packed byte reached the file.
        ok = packed.Ok;
        if (ok) {
            const int64_t end = sizeAt + 4 + packed.Packed;
            const bool patched = packed.Packed <= std::numeric_limits<int32_t>::max() &&
                                 stream.Seek(sizeAt) &&
                                 WriteInt32(stream, static_cast<int32_t>(packed.Packed));
            ok = stream.Seek(end) && patched;
        }
    }
    WriteInt32(stream, last);
    return ok;
}

} // namespace

bool WriteSpoolBlock(TFileStream& stream, std::span<const uint8_t> block, int32_t last) {
    if (block.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        return false;
    }
    return WritePackedBlock(
        stream, static_cast<int64_t>(block.size()), last,
        [&block](int64_t offset, int64_t, uint8_t*) { return block.data() + offset; });
}

bool WriteSpoolBlock(TFileStream& stream, const std::string& blockName, int32_t blockSize,
                     int32_t last) {
    // The block is copied out in chunks rather than mapped: see TSharedBlockReader.
    TSharedBlockReader block;
    if (!block.Open(blockName, blockSize) || block.Size() < blockSize) {
        return false;
    }
    return WritePackedBlock(
        stream, blockSize, last,
        [&block](int64_t offset, int64_t count, uint8_t* scratch) -> const uint8_t* {
            return block.Read(offset, scratch, count) ? scratch : nullptr;
        });
}

bool ReadSpoolBlockSize(TStream& stream, int32_t& blockSize) {
    return ReadInt32(stream, blockSize);
}

int64_t SpoolDataBytes(TFileStream& stream) {
    int64_t total = 0;
    for (;;) {
        int32_t blockSize = 0;
        int32_t packedSize = 0;
        int32_t last = 0;
        if (!ReadInt32(stream, blockSize) || blockSize < 0 || !ReadInt32(stream, packedSize) ||
            packedSize < 0 || static_cast<int64_t>(packedSize) > 2 * int64_t{blockSize} ||
            stream.Position() + packedSize > stream.Size() ||
            !stream.Seek(stream.Position() + packedSize) || !ReadInt32(stream, last)) {
            return -1;
        }
        total += blockSize;
        if (last != 0) {
            return total;
        }
    }
}

int64_t SpoolDataSize(std::string_view ddsText, TFileStream& stream) {
    const int64_t size = SizeBytesOf(TParams(ddsText).GetValueText("Size"));
    return size >= 0 ? size : SpoolDataBytes(stream);
}

bool ReadSpoolBlock(TStream& stream, std::span<uint8_t> block, int32_t& last) {
    const auto blockSize = static_cast<int64_t>(block.size());
    int32_t packedSize = 0;
    // Every item unpacks to at least one byte from at most two, so more is not a block record.
    if (!ReadInt32(stream, packedSize) || packedSize < 0 || packedSize > 2 * blockSize) {
        return false;
    }
    uint8_t* buffer = ReadBuffer();
    int64_t carry = 0;
    int64_t remaining = packedSize;
    int64_t produced = 0;
    while (remaining > 0) {
        const int64_t slice = std::min(remaining, SliceSize);
        if (!ReadFully(stream, buffer + carry, slice)) {
            return false;
        }
        remaining -= slice;
        const int64_t available = carry + slice;
        const TUnpackResult result =
            UnpackBits(buffer, available, block.data() + produced, blockSize - produced);
        if (result.Status == TUnpackStatus::Overflow) {
            return false;
        }
        produced += result.Produced;
        // An item cut by the slice's end is finished with the next slice.
        carry = available - result.Consumed;
        if (carry > 0) {
            std::memmove(buffer, buffer + result.Consumed, static_cast<size_t>(carry));
        }
    }
    if (carry != 0 || produced != blockSize) {
        return false;
    }
    int32_t flag = 0;
    last = ReadInt32(stream, flag) ? flag : 0;
    return true;
}

bool ReadSpoolBlock(TStream& stream, const std::string& blockName, int32_t blockSize,
                    int32_t& last) {
    TSharedBlock block;
    if (!block.Open(blockName, blockSize) || block.Size() < blockSize) {
        return false;
    }
    return ReadSpoolBlock(stream, std::span<uint8_t>(block.Data(), static_cast<size_t>(blockSize)),
                          last);
}

} // namespace raduvuz
