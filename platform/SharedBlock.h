#pragma once

#include <cstdint>
#include <string>

namespace raduvuz {

// One shared-memory block of the document store: POSIX shared memory "/" + name, opened (or
// created 0600 with the given size when new), mapped read-write. The mapping covers the object's
// actual size, never more; Data() and Size() describe the mapping only, so no copy can pass it
// whatever size the store claimed.
class TSharedBlock {
public:
    TSharedBlock() = default;
    ~TSharedBlock() { Close(); }
    TSharedBlock(const TSharedBlock&) = delete;
    TSharedBlock& operator=(const TSharedBlock&) = delete;

    // False (and nothing mapped) when the name is empty, the size negative or the object cannot
    // be opened or mapped. A size of 0 is a valid empty block.
    bool Open(const std::string& name, int64_t size);
    // Unmaps; the store removes the object when the block is closed.
    void Close();

    // For the store's side and for tests: makes a new object of the given size (fails when one
    // of that name exists already), and removes an object by name.
    static bool Create(const std::string& name, int64_t size);
    static bool Unlink(const std::string& name);

    bool IsOpen() const { return Opened; }
    uint8_t* Data() const { return Mapped; }
    int64_t Size() const { return MappedSize; }

    // Bound-checked copies; false when offset + count leaves the mapping.
    bool CopyIn(int64_t offset, const void* source, int64_t count);
    bool CopyOut(int64_t offset, void* target, int64_t count) const;

private:
    uint8_t* Mapped = nullptr;
    int64_t MappedSize = 0;
    bool Opened = false;
};

// A block of the store read without mapping it: opened like TSharedBlock (and created with the
// given size when new), then copied out piece by piece. A fresh mapping costs a fault for every
// page it touches first, and where the machine's paging is virtualised in software those faults
// cost more than packing the data; reading into a buffer that stays mapped costs none.
class TSharedBlockReader {
public:
    TSharedBlockReader() = default;
    ~TSharedBlockReader() { Close(); }
    TSharedBlockReader(const TSharedBlockReader&) = delete;
    TSharedBlockReader& operator=(const TSharedBlockReader&) = delete;

    bool Open(const std::string& name, int64_t size);
    void Close();
    // The object's actual size, whatever size the store claimed.
    int64_t Size() const { return ObjectSize; }
    // False when offset + count passes the object's size or the read comes up short.
    bool Read(int64_t offset, void* target, int64_t count) const;

private:
    int Fd = -1;
    int64_t ObjectSize = 0;
};

} // namespace raduvuz
