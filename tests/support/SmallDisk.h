#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace raduvuz::test {

// A real file system of sizeMb MiB (tmpfs) mounted on folder for the life of the object, for
// the low-disk rules. Mounting needs root, which CI has; elsewhere Mounted() is false and Why
// says so, for the test's skip message.
class TSmallDisk {
public:
    TSmallDisk(const std::string& folder, int sizeMb) : Folder(folder) {
        std::error_code ignored;
        std::filesystem::create_directories(Folder, ignored);
        if (::geteuid() != 0) {
            Why = "mounting a small file system needs root";
            return;
        }
        const std::string options = "size=" + std::to_string(sizeMb) + "m,mode=0755";
        if (::mount("tmpfs", Folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
            Why = "cannot mount a small file system on " + Folder + ": " + std::strerror(errno);
        else
            IsMounted = true;
    }
    ~TSmallDisk() {
        // Lazily, so that a file a child process still holds does not keep it.
        if (IsMounted)
            ::umount2(Folder.c_str(), MNT_DETACH);
    }
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;

    bool Mounted() const { return IsMounted; }
    const std::string& Path() const { return Folder; }
    std::string Why;

private:
    std::string Folder;
    bool IsMounted = false;
};

} // namespace raduvuz::test
