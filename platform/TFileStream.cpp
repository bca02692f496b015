#include "platform/TFileStream.h"

#include "platform/FileLock.h"
#include "platform/WholeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

// One read or write call moves at most this many bytes; callers repeat it.
constexpr int64_t kMaxSlice = 65536;
// What a small read of a file opened ReadDenyWrite reads ahead: a spool file's usual header and
// the sizes of a block record, in a buffer small enough for the allocator to hand the same one
// back to the next file read (a reload reads thousands).
constexpr int64_t kReadAhead = 1024;

template <typename Call> ssize_t Retried(Call call) {
    ssize_t done;
    do {
        done = call();
    } while (done < 0 && errno == EINTR);
    return done;
}

} // namespace

bool TFileStream::Open(const std::string& path, TMode mode, int folder) {
    Close();
    int flags = O_CLOEXEC;
    short lockType = F_WRLCK;
    switch (mode) {
    case TMode::CreateExclusive:
        // No O_TRUNC: the file is emptied only once the lock shows nobody else holds it.
        flags |= O_RDWR | O_CREAT;
        break;
    case TMode::ReadDenyWrite:
        // A read leaves the file's access time alone: nothing here looks at it, and a start
        // that reads every spool file would otherwise write every one of their inodes.
        flags |= O_RDONLY | O_NOATIME;
        lockType = F_RDLCK;
        break;
    case TMode::ReadWrite:
        flags |= O_RDWR;
        break;
    }
    int fd = openat(folder, path.c_str(), flags, kPrivateFileMode);
    // Only the file's owner may leave its access time alone.
    if (fd < 0 && errno == EPERM && (flags & O_NOATIME) != 0)
        fd = openat(folder, path.c_str(), flags & ~O_NOATIME);
    if (fd < 0)
        return false;
    bool ok = LockWholeFile(fd, lockType);
    // A file written from the start is ours, whatever the umask or its old mode said. Only a
    // file with bytes in it is truncated: ext4 writes a truncated file out when it is closed,
    // and a new spool file is empty already.
    if (ok && mode == TMode::CreateExclusive) {
        struct stat status {};
        ok = fstat(fd, &status) == 0 && (status.st_size == 0 || ftruncate(fd, 0) == 0) &&
             fchmod(fd, kPrivateFileMode) == 0;
    }
    if (!ok) {
        int savedErrno = errno;
        close(fd);
        errno = savedErrno;
        return false;
    }
    Fd = fd;
    ReadsAhead = mode == TMode::ReadDenyWrite;
    At = 0;
    AheadLength = 0;
    KnownSize = -1;
    return true;
}

void TFileStream::Close() {
    // Closing the last descriptor of the open file description drops its lock.
    if (Fd >= 0)
        close(Fd);
    Fd = -1;
    AheadLength = 0;
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (Fd < 0 || count <= 0)
        return 0;
    size_t slice = static_cast<size_t>(count < kMaxSlice ? count : kMaxSlice);
    if (!ReadsAhead)
        return std::max<ssize_t>(0, Retried([&] { return read(Fd, buffer, slice); }));
    if (At < AheadStart || At >= AheadStart + AheadLength) {
        if (count >= kReadAhead) {
            const ssize_t done = Retried([&] { return pread(Fd, buffer, slice, At); });
            if (done >= 0 && static_cast<size_t>(done) < slice)
                KnownSize = At + done;
            if (done <= 0)
                return 0;
            At += done;
            return done;
        }
        if (!Ahead)
            Ahead = std::make_unique_for_overwrite<char[]>(kReadAhead);
        const ssize_t done = Retried([&] { return pread(Fd, Ahead.get(), kReadAhead, At); });
        // A read that stops short found the end, so the size needs no call of its own.
        if (done >= 0 && done < kReadAhead)
            KnownSize = At + done;
        AheadStart = At;
        AheadLength = std::max<ssize_t>(0, done);
        if (AheadLength == 0)
            return 0;
    }
    const int64_t moved = std::min<int64_t>(count, AheadStart + AheadLength - At);
    std::memcpy(buffer, Ahead.get() + (At - AheadStart), static_cast<size_t>(moved));
    At += moved;
    return moved;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (Fd < 0 || count <= 0)
        return 0;
    size_t slice = static_cast<size_t>(count < kMaxSlice ? count : kMaxSlice);
    if (!ReadsAhead)
        return std::max<ssize_t>(0, Retried([&] { return write(Fd, buffer, slice); }));
    AheadLength = 0;
    KnownSize = -1;
    const ssize_t done = Retried([&] { return pwrite(Fd, buffer, slice, At); });
    if (done <= 0)
        return 0;
    At += done;
    return done;
}

int64_t TFileStream::Position() const {
    if (Fd < 0)
        return -1;
    return ReadsAhead ? At : lseek(Fd, 0, SEEK_CUR);
}

bool TFileStream::Seek(int64_t position) {
    if (Fd < 0 || position < 0)
        return false;
    if (ReadsAhead) {
        At = position;
        return true;
    }
    return lseek(Fd, static_cast<off_t>(position), SEEK_SET) == position;
}

int64_t TFileStream::Size() const {
    if (ReadsAhead && KnownSize >= 0)
        return KnownSize;
    struct stat info {};
    if (Fd < 0 || fstat(Fd, &info) != 0)
        return -1;
    if (ReadsAhead)
        KnownSize = info.st_size;
    return info.st_size;
}

bool TFileStream::Flush() {
    return Fd >= 0 && SyncFile(Fd, false);
}

bool TFileStream::Truncate(int64_t size) {
    AheadLength = 0;
    KnownSize = -1;
    return Fd >= 0 && size >= 0 && ftruncate(Fd, size) == 0;
}

} // namespace raduvuz
