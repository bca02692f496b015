#include "platform/SafeReplace.h"

#include "platform/WholeFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string Failure(const std::string& what, const std::string& path, const std::string& why) {
    return "cannot " + what + " " + path + ": " + why;
}

std::string Failure(const std::string& what, const std::string& path) {
    return Failure(what, path, std::strerror(errno));
}

} // namespace

bool ReplaceKeepingBackup(const std::string& path, const std::string& backup,
                          std::string_view contents, std::string& error) {
    struct stat old {};
    const bool hasOld = ::stat(path.c_str(), &old) == 0;
    const mode_t mode = hasOld ? (old.st_mode & 07777) : kPrivateFileMode;
    const std::string fresh = path + ".new";
    std::string why;
    if (!WriteFlushedFile(fresh, contents, mode, &why)) {
        error = Failure("write", fresh, why);
        return false;
    }

    if (::unlink(backup.c_str()) != 0 && errno != ENOENT) {
        error = Failure("remove", backup);
        ::unlink(fresh.c_str());
        return false;
    }
    // The backup is a second name of the old file, so path never goes missing; a file system
    // without hard links gets a flushed copy instead.
    if (hasOld && ::link(path.c_str(), backup.c_str()) != 0) {
        std::string bytes;
        if (!ReadWholeFile(path, bytes, SIZE_MAX, &why)) {
            error = Failure("read", path, why);
            ::unlink(fresh.c_str());
            return false;
        }
        if (!WriteFlushedFile(backup, bytes, mode, &why)) {
            error = Failure("write", backup, why);
            ::unlink(fresh.c_str());
            return false;
        }
    }
    if (!RenameFlushed(fresh, path, &why)) {
        error = Failure("rename " + fresh + " to", path, why);
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

} // namespace raduvuz
