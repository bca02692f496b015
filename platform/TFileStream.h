#pragma once

#include "platform/TStream.h"

#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <string>

namespace raduvuz {

// A file as a stream, with the sharing modes of the module as advisory OFD locks: a writer
// holds a write lock, a reader that shuts out writers holds a read lock.
class TFileStream : public TStream {
public:
    enum class TMode {
        CreateExclusive, // created or truncated (mode 0600), read-write, nobody else may write or
                         // lock
        ReadDenyWrite,   // read only; fails while a writer holds the file
        ReadWrite,       // existing file, read-write, exclusive
    };

    TFileStream() = default;
    ~TFileStream() override { Close(); }
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // A relative path is found in folder, a descriptor of an open folder (the working folder's
    // by default): a caller opening many files of one folder saves walking its path each time.
    bool Open(const std::string& path, TMode mode, int folder = AT_FDCWD);
    void Close();
    bool IsOpen() const { return Fd >= 0; }

    // Each call moves at most 65,536 bytes; ReadFully/WriteFully repeat it.
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // -1 when closed or on failure.
    int64_t Position() const;
    bool Seek(int64_t position);
    int64_t Size() const;
    // fsync.
    bool Flush();
    // The open file, for work done on another thread (-1 when closed).
    int Descriptor() const { return Fd; }
    // Cuts the file to size bytes (what a write that failed half-way added goes).
    bool Truncate(int64_t size);

private:
    int Fd = -1;
    // A file read with writers shut out cannot change under the reader: its small reads (a
    // header, a block's sizes) come from one read ahead of kReadAhead bytes, not a call each.
    bool ReadsAhead = false;
    int64_t At = 0;
    std::unique_ptr<char[]> Ahead;
    int64_t AheadStart = 0;
    int64_t AheadLength = 0;
    // The size such a file had when first asked or when a read met its end; -1 before.
    mutable int64_t KnownSize = -1;
};

} // namespace raduvuz
