#include "tools/web/WebPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz::web {

std::string WebFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : "/") + "/.config";
    }
    return base + "/raduvuz/web";
}

std::string UsersFile(const std::string& folder) {
    return folder + "/users";
}

void MakeWebFolder(const std::string& folder) {
    // Every missing folder on the way is made 0700 (exactly: the umask may take bits away, never
    // add them); the folders that are there stay as they are.
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) == 0)
            ::chmod(part.c_str(), 0700);
        else if (errno != EEXIST)
            throw TSetupError("cannot make the folder " + part + ": " + std::strerror(errno));
        if (slash == std::string::npos)
            break;
    }
}

std::vector<std::string> ExposedPaths(const std::vector<std::string>& paths) {
    std::vector<std::string> lines;
    for (const std::string& path : paths) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            continue;
        const bool folder = S_ISDIR(info.st_mode);
        const char* what = folder ? "folder" : "file";
        if (info.st_uid != ::geteuid()) {
            lines.push_back(std::string(what) + " " + path + " belongs to user " +
                            std::to_string(info.st_uid) + ", not to the user running raduvuz-web");
            continue;
        }
        const unsigned mode = info.st_mode & 07777;
        if ((mode & 077) == 0)
            continue;
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", mode);
        lines.push_back(std::string(what) + " " + path + " has mode " + octal + ": others may " +
                        ((mode & 044) ? "read" : "use") + " it; run: chmod " +
                        (folder ? "700 " : "600 ") + path);
    }
    return lines;
}

} // namespace raduvuz::web
