#include "tools/memoryman/TShmBlock.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string ErrnoText(const std::string& what, const std::string& name) {
    return what + " /" + name + ": " + std::strerror(errno);
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

private:
    int Fd;
};

} // namespace

TShmBlock::TShmBlock(std::string name, int64_t size, std::shared_ptr<TShmUsage> usage)
    : BlockName(std::move(name)), BlockSize(size), Usage(std::move(usage)) {
    Usage->Bytes += BlockSize;
    Usage->Blocks += 1;
}

TShmBlock::~TShmBlock() {
    ::shm_unlink(("/" + BlockName).c_str());
    Usage->Bytes -= BlockSize;
    Usage->Blocks -= 1;
}

std::shared_ptr<TShmBlock> TShmBlock::Create(const std::string& name, int64_t size,
                                             const std::shared_ptr<TShmUsage>& usage,
                                             std::string& error) {
    const std::string path = "/" + name;
    TFd fd(::shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    if (fd.Get() < 0) {
        error = ErrnoText("cannot create", name);
        return nullptr;
    }
    // The umask may have taken bits away; the block is the user's alone, exactly 0600.
    ::fchmod(fd.Get(), 0600);
    if (::ftruncate(fd.Get(), size) != 0) {
        error = ErrnoText("cannot size", name);
        ::shm_unlink(path.c_str());
        return nullptr;
    }
    // Reserving the pages now turns a full /dev/shm into a refusal here instead of a SIGBUS in
    // the module that writes the block.
    if (size > 0) {
        int rc = ::posix_fallocate(fd.Get(), 0, size);
        if (rc != 0) {
            errno = rc;
            error = ErrnoText("cannot reserve", name);
            ::shm_unlink(path.c_str());
            return nullptr;
        }
    }
    return std::shared_ptr<TShmBlock>(new TShmBlock(name, size, usage));
}

bool TShmBlock::Write(int64_t offset, const void* data, int64_t count, std::string& error) {
    if (offset < 0 || count < 0 || offset + count > BlockSize) {
        error = "write outside block " + BlockName;
        return false;
    }
    TFd fd(::shm_open(("/" + BlockName).c_str(), O_RDWR, 0));
    if (fd.Get() < 0) {
        error = ErrnoText("cannot open", BlockName);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        ssize_t n = ::pwrite(fd.Get(), p, static_cast<size_t>(count), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = ErrnoText("cannot write", BlockName);
            return false;
        }
        p += n;
        offset += n;
        count -= n;
    }
    return true;
}

bool TShmBlock::Read(int64_t offset, void* data, int64_t count, std::string& error) const {
    if (offset < 0 || count < 0 || offset + count > BlockSize) {
        error = "read outside block " + BlockName;
        return false;
    }
    TFd fd(::shm_open(("/" + BlockName).c_str(), O_RDONLY, 0));
    if (fd.Get() < 0) {
        error = ErrnoText("cannot open", BlockName);
        return false;
    }
    char* p = static_cast<char*>(data);
    while (count > 0) {
        ssize_t n = ::pread(fd.Get(), p, static_cast<size_t>(count), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = ErrnoText("cannot read", BlockName);
            return false;
        }
        p += n;
        offset += n;
        count -= n;
    }
    return true;
}

std::map<long, int> TShmBlock::RemoveOrphans(const std::string& base) {
    std::map<long, int> removed;
    DIR* dir = ::opendir("/dev/shm");
    if (!dir)
        return removed;
    const std::string prefix = base + ".";
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(prefix, 0) != 0)
            continue;
        const std::string rest = name.substr(prefix.size());
        const size_t dot = rest.find('.');
        const std::string pidText = rest.substr(0, dot);
        const std::string number = dot == std::string::npos ? "" : rest.substr(dot + 1);
        if (pidText.empty() || number.empty() || pidText.size() > 9 ||
            pidText.find_first_not_of("0123456789") != std::string::npos ||
            number.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long pid = std::strtol(pidText.c_str(), nullptr, 10);
        // A running process keeps its blocks, even when it only reuses a dead store's pid.
        if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        if (::shm_unlink(("/" + name).c_str()) == 0)
            removed[pid]++;
    }
    ::closedir(dir);
    return removed;
}

} // namespace raduvuz
