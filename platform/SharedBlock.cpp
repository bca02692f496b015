#include "platform/SharedBlock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string ObjectName(const std::string& name) {
    return "/" + name;
}

} // namespace

bool TSharedBlock::Open(const std::string& name, int64_t size) {
    Close();
    if (name.empty() || size < 0)
        return false;
    int fd = shm_open(ObjectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    // A new object gets the block's size; an existing one keeps the size its owner gave it.
    if (ok && info.st_size == 0 && size > 0)
        ok = ftruncate(fd, static_cast<off_t>(size)) == 0 && fstat(fd, &info) == 0;
    if (ok && info.st_size > 0) {
        void* address = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ | PROT_WRITE,
                             MAP_SHARED, fd, 0);
        if (address == MAP_FAILED) {
            ok = false;
        } else {
            Mapped = static_cast<uint8_t*>(address);
            MappedSize = info.st_size;
        }
    }
    // The mapping keeps the object reachable; the descriptor is not needed beyond this point.
    int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    Opened = ok;
    return ok;
}

void TSharedBlock::Close() {
    if (Mapped != nullptr)
        munmap(Mapped, static_cast<size_t>(MappedSize));
    Mapped = nullptr;
    MappedSize = 0;
    Opened = false;
}

bool TSharedBlock::CopyIn(int64_t offset, const void* source, int64_t count) {
    if (!Opened || offset < 0 || count < 0 || offset > MappedSize || count > MappedSize - offset)
        return false;
    if (count > 0)
        std::memcpy(Mapped + offset, source, static_cast<size_t>(count));
    return true;
}

bool TSharedBlock::CopyOut(int64_t offset, void* target, int64_t count) const {
    if (!Opened || offset < 0 || count < 0 || offset > MappedSize || count > MappedSize - offset)
        return false;
    if (count > 0)
        std::memcpy(target, Mapped + offset, static_cast<size_t>(count));
    return true;
}

bool TSharedBlock::Create(const std::string& name, int64_t size) {
    if (name.empty() || size < 0)
        return false;
    int fd = shm_open(ObjectName(name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool sized = ftruncate(fd, static_cast<off_t>(size)) == 0;
    int savedErrno = errno;
    close(fd);
    if (!sized)
        shm_unlink(ObjectName(name).c_str());
    errno = savedErrno;
    return sized;
}

bool TSharedBlock::Unlink(const std::string& name) {
    return !name.empty() && shm_unlink(ObjectName(name).c_str()) == 0;
}

bool TSharedBlockReader::Open(const std::string& name, int64_t size) {
    Close();
    if (name.empty() || size < 0)
        return false;
    Fd = shm_open(ObjectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (Fd < 0)
        return false;
    struct stat info {};
    bool ok = fstat(Fd, &info) == 0;
    // The same rule as a mapping: a new object gets the block's size, an existing one keeps its.
    if (ok && info.st_size == 0 && size > 0)
        ok = ftruncate(Fd, static_cast<off_t>(size)) == 0 && fstat(Fd, &info) == 0;
    if (!ok) {
        int savedErrno = errno;
        Close();
        errno = savedErrno;
        return false;
    }
    ObjectSize = info.st_size;
    return true;
}

void TSharedBlockReader::Close() {
    if (Fd >= 0)
        close(Fd);
    Fd = -1;
    ObjectSize = 0;
}

bool TSharedBlockReader::Read(int64_t offset, void* target, int64_t count) const {
    if (Fd < 0 || offset < 0 || count < 0 || offset > ObjectSize || count > ObjectSize - offset)
        return false;
    auto* bytes = static_cast<uint8_t*>(target);
    while (count > 0) {
        const ssize_t n = pread(Fd, bytes, static_cast<size_t>(count), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        offset += n;
        count -= n;
    }
    return true;
}

} // namespace raduvuz
