#include "platform/TFileStream.h"

#include "platform/FileLock.h"
#include "platform/WholeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

// One read or write call moves at most this many bytes; callers repeat it.
constexpr int64_t kMaxSlice = 65536;

} // namespace

bool TFileStream::Open(const std::string& path, TMode mode) {
    Close();
    int flags = O_CLOEXEC;
    short lockType = F_WRLCK;
    switch (mode) {
    case TMode::CreateExclusive:
        // No O_TRUNC: the file is emptied only once the lock shows nobody else holds it.
        flags |= O_RDWR | O_CREAT;
        break;
    case TMode::ReadDenyWrite:
        flags |= O_RDONLY;
        lockType = F_RDLCK;
        break;
    case TMode::ReadWrite:
        flags |= O_RDWR;
        break;
    }
    int fd = open(path.c_str(), flags, kPrivateFileMode);
    if (fd < 0)
        return false;
    bool ok = LockWholeFile(fd, lockType);
    // A file written from the start is ours, whatever the umask or its old mode said.
    if (ok && mode == TMode::CreateExclusive)
        ok = ftruncate(fd, 0) == 0 && fchmod(fd, kPrivateFileMode) == 0;
    if (!ok) {
        int savedErrno = errno;
        close(fd);
        errno = savedErrno;
        return false;
    }
    Fd = fd;
    return true;
}

void TFileStream::Close() {
    // Closing the last descriptor of the open file description drops its lock.
    if (Fd >= 0)
        close(Fd);
    Fd = -1;
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (Fd < 0 || count <= 0)
        return 0;
    size_t slice = static_cast<size_t>(count < kMaxSlice ? count : kMaxSlice);
    ssize_t done;
    do {
        done = read(Fd, buffer, slice);
    } while (done < 0 && errno == EINTR);
    return done < 0 ? 0 : done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (Fd < 0 || count <= 0)
        return 0;
    size_t slice = static_cast<size_t>(count < kMaxSlice ? count : kMaxSlice);
    ssize_t done;
    do {
        done = write(Fd, buffer, slice);
    } while (done < 0 && errno == EINTR);
    return done < 0 ? 0 : done;
}

int64_t TFileStream::Position() const {
    if (Fd < 0)
        return -1;
    return lseek(Fd, 0, SEEK_CUR);
}

bool TFileStream::Seek(int64_t position) {
    if (Fd < 0 || position < 0)
        return false;
    return lseek(Fd, static_cast<off_t>(position), SEEK_SET) == position;
}

int64_t TFileStream::Size() const {
    struct stat info {};
    if (Fd < 0 || fstat(Fd, &info) != 0)
        return -1;
    return info.st_size;
}

bool TFileStream::Flush(const TDiskWait& wait) {
    return Fd >= 0 && SyncFile(Fd, false, wait);
}

bool TFileStream::Truncate(int64_t size) {
    return Fd >= 0 && size >= 0 && ftruncate(Fd, size) == 0;
}

} // namespace raduvuz
