#include "platform/FolderMove.h"

#include "platform/WholeFile.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace raduvuz {

namespace {

constexpr size_t kChunk = 1 << 16;

std::string SystemText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// The names in folder, without "." and "..".
bool Entries(const std::string& folder, std::vector<std::string>& names, std::string& why) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        why = SystemText("cannot read the folder", folder);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

class TFd {
public:
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() {
        if (Fd >= 0)
            ::close(Fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return Fd; }
    bool Close() {
        const int fd = Fd;
        Fd = -1;
        return ::close(fd) == 0;
    }

private:
    int Fd;
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads up to size bytes; fewer only at the end of the file.
ssize_t ReadFull(int fd, char* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool CopyFile(const std::string& from, const std::string& to, std::string& why) {
    TFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) {
        why = SystemText("cannot open", from);
        return false;
    }
    TFd out(::open(to.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
    if (out.Get() < 0) {
        why = SystemText("cannot create", to);
        return false;
    }
    ::fchmod(out.Get(), kPrivateFileMode);
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t n = ReadFull(in.Get(), buffer.data(), buffer.size());
        if (n < 0) {
            why = SystemText("cannot read", from);
            return false;
        }
        if (n == 0)
            break;
        if (!WriteAll(out.Get(), buffer.data(), static_cast<size_t>(n))) {
            why = SystemText("cannot write", to);
            return false;
        }
    }
    if (::fsync(out.Get()) != 0) {
        why = SystemText("cannot flush", to);
        return false;
    }
    // The copy read back from its disk must be the source, byte for byte.
    std::vector<char> again(kChunk);
    if (::lseek(in.Get(), 0, SEEK_SET) != 0 || ::lseek(out.Get(), 0, SEEK_SET) != 0) {
        why = SystemText("cannot read back", to);
        return false;
    }
    for (;;) {
        const ssize_t a = ReadFull(in.Get(), buffer.data(), buffer.size());
        const ssize_t b = ReadFull(out.Get(), again.data(), again.size());
        if (a < 0 || b < 0) {
            why = SystemText("cannot read back", to);
            return false;
        }
        if (a != b || std::memcmp(buffer.data(), again.data(), static_cast<size_t>(a)) != 0) {
            why = "the copy " + to + " differs from " + from;
            return false;
        }
        if (a == 0)
            break;
    }
    if (!out.Close()) {
        why = SystemText("cannot close", to);
        return false;
    }
    return true;
}

bool CopyTree(const std::string& from, const std::string& to, std::string& why) {
    if (::mkdir(to.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) {
        why = SystemText("cannot make the folder", to);
        return false;
    }
    ::chmod(to.c_str(), kPrivateFolderMode);
    std::vector<std::string> names;
    if (!Entries(from, names, why))
        return false;
    for (const std::string& name : names) {
        const std::string source = from + "/" + name;
        struct stat info {};
        if (::lstat(source.c_str(), &info) != 0) {
            why = SystemText("cannot look at", source);
            return false;
        }
        bool ok = false;
        if (S_ISDIR(info.st_mode))
            ok = CopyTree(source, to + "/" + name, why);
        else if (S_ISREG(info.st_mode))
            ok = CopyFile(source, to + "/" + name, why);
        else
            why = source + " is neither a file nor a folder";
        if (!ok)
            return false;
    }
    return FlushFolder(to, &why);
}

} // namespace

bool RemoveFolderTree(const std::string& path, std::string* error) {
    std::string why;
    std::vector<std::string> names;
    bool ok = Entries(path, names, why);
    for (const std::string& name : names) {
        const std::string entry = path + "/" + name;
        struct stat info {};
        if (::lstat(entry.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            std::string inner;
            if (!RemoveFolderTree(entry, &inner)) {
                ok = false;
                why = inner;
            }
        } else if (::unlink(entry.c_str()) != 0) {
            ok = false;
            why = SystemText("cannot delete", entry);
        }
    }
    if (ok && ::rmdir(path.c_str()) != 0) {
        ok = false;
        why = SystemText("cannot delete the folder", path);
    }
    if (!ok && error)
        *error = why;
    return ok;
}

bool CopyFolderAcross(const std::string& from, const std::string& to, std::string* error) {
    std::string why;
    struct stat info {};
    const bool existed = ::stat(to.c_str(), &info) == 0;
    if (existed) {
        std::vector<std::string> names;
        if (!S_ISDIR(info.st_mode) || !Entries(to, names, why) || !names.empty()) {
            if (error)
                *error = to + " is there already and is not an empty folder";
            return false;
        }
    }
    if (CopyTree(from, to, why)) {
        const std::string parent = to.substr(0, to.rfind('/'));
        if (FlushFolder(parent.empty() ? "/" : parent, &why))
            return true;
    }
    std::string ignored;
    RemoveFolderTree(to, &ignored);
    if (existed)
        ::mkdir(to.c_str(), kPrivateFolderMode);
    if (error)
        *error = why;
    return false;
}

} // namespace raduvuz
