#include "tools/memoryman/TShmBlock.h"

#include <cerrno>
#include <cstring>
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

} // namespace raduvuz
