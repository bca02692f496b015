#include "platform/System.h"

#include "platform/WholeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace raduvuz {

namespace {

// The folder part of a path, without its trailing "/"; "" when there is none.
std::string ParentOf(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return {};
    size_t slash = path.rfind('/', end);
    if (slash == std::string::npos)
        return {};
    size_t parentEnd = path.find_last_not_of('/', slash);
    return parentEnd == std::string::npos ? std::string("/") : path.substr(0, parentEnd + 1);
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::string ProgramFile() {
    std::string buffer(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size())
        return {};
    buffer.resize(static_cast<size_t>(length));
    return buffer;
}

std::string ProgramFolder() {
    std::string file = ProgramFile();
    size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return file.substr(0, slash + 1);
}

std::string ComputerName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return {};
    std::string name(buffer);
    if (name.size() > 15)
        name.resize(15);
    return name;
}

int64_t DiskFreeKb(std::string_view path) {
    std::string probe = path.empty() ? std::string(".") : std::string(path);
    struct statvfs info {};
    // A folder that is yet to be made lies on the volume of its nearest existing parent.
    while (statvfs(probe.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return 0;
        std::string parent = ParentOf(probe);
        if (parent.empty())
            parent.push_back(probe.front() == '/' ? '/' : '.');
        if (parent == probe)
            return 0;
        probe = parent;
    }
    unsigned __int128 bytes = static_cast<unsigned __int128>(info.f_bavail) *
                              static_cast<unsigned __int128>(info.f_frsize);
    unsigned __int128 kb = bytes / 1024;
    if (kb > static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max()))
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(kb);
}

std::string LastErrorText() {
    return std::strerror(errno);
}

std::string UserName(uint32_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found && found->pw_name && *found->pw_name)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

std::string ProcessUserName() {
    return UserName(static_cast<uint32_t>(getuid()));
}

std::string ProcessName(uint32_t pid) {
    std::string name;
    if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/comm", name, 256))
        return {};
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return name;
}

bool DirectoryExists(std::string_view path) {
    return !path.empty() && IsDirectory(std::string(path));
}

bool FileExists(std::string_view path) {
    if (path.empty())
        return false;
    struct stat info {};
    return stat(std::string(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FolderWritable(std::string_view path) {
    return DirectoryExists(path) && ::access(std::string(path).c_str(), W_OK) == 0;
}

bool TouchFile(const std::string& path) {
    return ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0;
}

bool ForceDirectories(std::string_view path) {
    std::string folder(path);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty())
        return false;
    if (IsDirectory(folder))
        return true;
    std::string parent = ParentOf(folder);
    if (!parent.empty() && !ForceDirectories(parent))
        return false;
    // Another process may make the same folder at the same moment; that is success too.
    if (mkdir(folder.c_str(), kPrivateFolderMode) == 0) {
        // The umask may have taken bits the owner needs; the mode is ours to set.
        chmod(folder.c_str(), kPrivateFolderMode);
    } else if (errno != EEXIST) {
        return false;
    }
    return IsDirectory(folder);
}

} // namespace raduvuz
