#pragma once

#include "common/Types.h"
#include "platform/TStream.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace raduvuz {

class TFileStream;

// A spool file: TextLength, the parameter text (devices as terminator keys), Created, then
// block records of BlockSize, PackedSize, the packed bytes and the store's last flag. All
// integers are 32-bit little-endian; Created is a little-endian double.

// Readers keep the text in a buffer of 655,360 bytes; a longer TextLength marks a damaged file.
// The writers refuse a longer text, so that what is written can always be read back.
inline constexpr int32_t SpoolMaxTextLength = 655358;
// A job's name goes into the text twice (Name and FileName); callers that take a name from
// outside refuse a longer one.
inline constexpr size_t SpoolMaxNameLength = 4096;

// Empty when text fits a spool file header, else why not (its length and the limit).
std::string SpoolHeaderProblem(std::string_view text);

// "Device" items (terminator numbers) become the keys of the first TermKeys entries with that
// number; items without an entry are dropped, and "Device" goes when none remains.
std::string DevicesToTermKeys(std::string_view ddsText, const TTaggedList& termKeys);
// "Device" items (terminator keys, letter case counts) become the numbers of the first
// TermKeys entries with that key; "Device" goes when none is found.
std::string TermKeysToDevices(std::string_view ddsText, const TTaggedList& termKeys);

// True when TextLength and the text were written completely (Created is written after them).
// A text longer than SpoolMaxTextLength is not written: false with errno EMSGSIZE.
bool WriteSpoolHeader(TStream& stream, std::string_view ddsText, const TTaggedList& termKeys,
                      TDateTime created);
// False when TextLength is negative or above SpoolMaxTextLength or the text is short. The text
// ends at its first zero byte; a short Created read leaves created unchanged. Afterwards the
// stream stands at the first block record.
bool ReadSpoolHeader(TStream& stream, const TTaggedList& termKeys, std::string& dds,
                     TDateTime& created);
// The same with the text as the file holds it (devices as terminator keys), for a rewrite that
// keeps every device whether or not the module knows its terminator.
bool WriteSpoolHeaderText(TStream& stream, std::string_view text, TDateTime created);
bool ReadSpoolHeaderText(TStream& stream, std::string& text, TDateTime& created);

// Writes one block record of the store's block blockName. False without writing anything when
// the block cannot be opened or its mapping is smaller than blockSize; else whether the packed
// data was written completely. The last flag is written even after a failed data write.
bool WriteSpoolBlock(TFileStream& stream, const std::string& blockName, int32_t blockSize,
                     int32_t last);
// The same for bytes in memory. PackedSize is written as 0 first and patched when all packed
// data is written, so the stream must be able to seek.
bool WriteSpoolBlock(TFileStream& stream, std::span<const uint8_t> block, int32_t last);

// Whether the spool file holds its whole document: a readable header and Created, then block
// records up to one whose last flag is set, each with sizes that fit the file. Otherwise why
// says what is wrong (a writer that stopped early, a damaged header or record). Only the
// records' sizes are read, not their packed data. The stream is left anywhere.
bool SpoolFileWhole(TFileStream& stream, std::string& why);

// False when 4 bytes cannot be read: also the end of a file whose writer stopped early.
bool ReadSpoolBlockSize(TStream& stream, int32_t& blockSize);

// The bytes of data the block records from the stream's position hold, the sum of their
// BlockSize, read without unpacking; -1 when a record is damaged or the file ends before its
// last block.
int64_t SpoolDataBytes(TFileStream& stream);
// The size of a spooled job's data: the "Size" of its parameter text when that is a number,
// else SpoolDataBytes of the stream, which stands at the first block record.
int64_t SpoolDataSize(std::string_view ddsText, TFileStream& stream);

// Reads the rest of a block record (after BlockSize) and unpacks it into the store's block
// blockName. False when the block cannot be opened, its mapping is smaller than blockSize, or
// the record is damaged; nothing is ever written outside the block's first blockSize bytes.
bool ReadSpoolBlock(TStream& stream, const std::string& blockName, int32_t blockSize,
                    int32_t& last);
// The same into memory, block.size() being the record's BlockSize. A record is damaged when
// PackedSize is negative or above twice the block size, the packed data is short or ends in
// the middle of an item, or it does not unpack to exactly block.size() bytes. A last flag that
// cannot be read counts as 0.
bool ReadSpoolBlock(TStream& stream, std::span<uint8_t> block, int32_t& last);

} // namespace raduvuz
