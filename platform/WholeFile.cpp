#include "platform/WholeFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Fail(std::string* error, int code) {
    if (error)
        *error = std::strerror(code);
    return false;
}

bool WriteAll(int fd, std::string_view bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t done = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return false;
        if (done == 0) {
            errno = ENOSPC;
            return false;
        }
        written += static_cast<size_t>(done);
    }
    return true;
}

} // namespace

bool SyncFile(int fd, bool dataOnly, const TDiskWait& wait) {
    const auto sync = [fd, dataOnly] { return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0; };
    if (!wait)
        return sync();
    // errno belongs to the thread that ran the sync.
    int code = 0;
    const bool ok = wait([&] {
        const bool done = sync();
        code = done ? 0 : errno;
        return done;
    });
    if (!ok)
        errno = code;
    return ok;
}

bool WriteFlushedFile(const std::string& path, std::string_view bytes, mode_t mode,
                      std::string* error, const TDiskWait& wait) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return Fail(error, errno);
    // The umask may have taken bits the owner needs; the mode is the caller's to set.
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && SyncFile(fd, false, wait);
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok)
        return true;
    ::unlink(path.c_str());
    return Fail(error, code);
}

bool RenameFlushed(const std::string& from, const std::string& to, std::string* error,
                   const TDiskWait& wait) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        return Fail(error, errno);
    FlushFolder(FolderOf(to), nullptr, wait);
    return true;
}

bool FlushFolder(const std::string& folder, std::string* error, const TDiskWait& wait) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Fail(error, errno);
    const bool ok = SyncFile(fd, false, wait);
    const int code = errno;
    ::close(fd);
    return ok || Fail(error, code);
}

bool AppendFlushed(const std::string& path, std::string_view bytes, std::string* error,
                   const TDiskWait& wait) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    bool made = false;
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kPrivateFileMode);
        made = fd >= 0 && ::fchmod(fd, kPrivateFileMode) == 0;
    }
    if (fd < 0)
        return Fail(error, errno);
    bool ok = WriteAll(fd, bytes) && SyncFile(fd, true, wait);
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (!ok)
        return Fail(error, code);
    // A new file's name must be on the disk too, or a crash loses the whole file.
    return !made || FlushFolder(FolderOf(path), error, wait);
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error,
                    const TDiskWait& wait) {
    // A name of this process's own: another writer of the same file has its own.
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    if (!WriteFlushedFile(temporary, bytes, kPrivateFileMode, error, wait))
        return false;
    if (RenameFlushed(temporary, path, error, wait))
        return true;
    ::unlink(temporary.c_str());
    return false;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, size_t maxBytes,
                   std::string* error) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(error, errno);
    char buffer[65536];
    for (;;) {
        const ssize_t done = ::read(fd, buffer, sizeof buffer);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0) {
            const int code = errno;
            ::close(fd);
            return Fail(error, code);
        }
        if (done == 0)
            break;
        if (bytes.size() + static_cast<size_t>(done) > maxBytes) {
            ::close(fd);
            bytes.clear();
            if (error)
                *error = "larger than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(done));
    }
    ::close(fd);
    return true;
}

} // namespace raduvuz
