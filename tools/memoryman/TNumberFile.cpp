#include "tools/memoryman/TNumberFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

class TLock {
public:
    explicit TLock(const std::string& path)
        : Fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (Fd < 0)
            return;
        while (::flock(Fd, LOCK_EX) != 0)
            if (errno != EINTR) {
                ::close(Fd);
                Fd = -1;
                return;
            }
    }
    ~TLock() {
        if (Fd >= 0)
            ::close(Fd);
    }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;
    bool Held() const { return Fd >= 0; }

private:
    int Fd;
};

bool ParseNumber(const std::string& text, int32_t& value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string TNumberFile::DefaultPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return std::string(state) + "/memoryman/state";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/memoryman/state";
}

bool TNumberFile::Read(TNumbers& numbers, std::string& error) const {
    numbers = TNumbers{};
    std::error_code ec;
    if (!std::filesystem::exists(Path, ec) && !ec)
        return true;
    std::ifstream in(Path, std::ios::binary);
    if (!in) {
        error = ErrnoText("cannot read", Path);
        return false;
    }
    bool document = false;
    bool job = false;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string key;
        std::string value;
        std::string rest;
        words >> key >> value >> rest;
        int32_t number = 0;
        if (!rest.empty() || !ParseNumber(value, number) || (key != "document" && key != "job")) {
            error =
                Path + " is damaged at line " + std::to_string(lineNumber) + ": \"" + line + "\"";
            return false;
        }
        (key == "document" ? numbers.Document : numbers.Job) = number;
        (key == "document" ? document : job) = true;
    }
    if (in.bad()) {
        error = ErrnoText("cannot read", Path);
        return false;
    }
    if (!document || !job) {
        error = Path + " is damaged: it does not hold both the document and the job number";
        return false;
    }
    return true;
}

bool TNumberFile::Write(const TNumbers& numbers, std::string& error) {
    const std::string temp = Path + ".new";
    const std::string text =
        "# memoryman: the highest document and job numbers handed out; stores start above them\n"
        "document " +
        std::to_string(numbers.Document) + "\njob " + std::to_string(numbers.Job) + "\n";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = ErrnoText("cannot write", temp);
        return false;
    }
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    if (!written)
        error = ErrnoText("cannot write", temp);
    ::close(fd);
    if (!written || ::rename(temp.c_str(), Path.c_str()) != 0) {
        if (written)
            error = ErrnoText("cannot rename " + temp + " to", Path);
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself must survive a power cut, or an old mark could come back.
    const std::string folder = std::filesystem::path(Path).parent_path().string();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool TNumberFile::Update(const std::function<bool(TNumbers&)>& change, std::string& error) {
    const std::filesystem::path folder = std::filesystem::path(Path).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec)) {
            std::filesystem::create_directories(folder, ec);
            if (ec) {
                error = "cannot create " + folder.string() + ": " + ec.message();
                return false;
            }
            ::chmod(folder.c_str(), 0700);
        }
    }
    TLock lock(Path + ".lock");
    if (!lock.Held()) {
        error = ErrnoText("cannot lock", Path + ".lock");
        return false;
    }
    TNumbers numbers;
    if (!Read(numbers, error))
        return false;
    if (!change(numbers))
        return true;
    return Write(numbers, error);
}

} // namespace raduvuz
