#include "platform/SafeReplace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string Failure(const std::string& what, const std::string& path) {
    return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// Writes and flushes a whole file; a file left half written is removed.
bool WriteFlushed(const std::string& path, std::string_view bytes, mode_t mode,
                  std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        error = Failure("create", path);
        return false;
    }
    bool ok = WriteAll(fd, bytes);
    if (!ok)
        error = Failure("write", path);
    else if (::fsync(fd) != 0) {
        error = Failure("flush", path);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = Failure("close", path);
        ok = false;
    }
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

bool ReadAll(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

bool ReplaceKeepingBackup(const std::string& path, const std::string& backup,
                          std::string_view contents, std::string& error) {
    struct stat old {};
    const bool hasOld = ::stat(path.c_str(), &old) == 0;
    const mode_t mode = hasOld ? (old.st_mode & 07777) : 0666;
    const std::string fresh = path + ".new";
    if (!WriteFlushed(fresh, contents, mode, error))
        return false;

    if (::unlink(backup.c_str()) != 0 && errno != ENOENT) {
        error = Failure("remove", backup);
        ::unlink(fresh.c_str());
        return false;
    }
    // The backup is a second name of the old file, so path never goes missing; a file system
    // without hard links gets a flushed copy instead.
    if (hasOld && ::link(path.c_str(), backup.c_str()) != 0) {
        std::string bytes;
        std::string copyError;
        if (!ReadAll(path, bytes)) {
            error = Failure("read", path);
            ::unlink(fresh.c_str());
            return false;
        }
        if (!WriteFlushed(backup, bytes, mode, copyError)) {
            error = copyError;
            ::unlink(fresh.c_str());
            return false;
        }
    }
    if (::rename(fresh.c_str(), path.c_str()) != 0) {
        error = Failure("rename " + fresh + " to", path);
        ::unlink(fresh.c_str());
        return false;
    }
    // The new name itself reaches the disk with its folder.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace raduvuz
