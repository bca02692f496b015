#pragma once

#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace raduvuz::test {

// A name no other test process uses, for shared-memory objects.
inline std::string UniqueName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

// The permission bits of a file; 07777 when there is no file.
inline mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 07777;
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Waits for a child process; answers its exit status, or -1 when it did not exit normally.
inline int ExitCodeOf(pid_t child) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Runs body in a forked child, which starts with the process-wide state the parent has now.
inline int RunInChild(const std::function<int()>& body) {
    pid_t child = fork();
    if (child == 0)
        _exit(body());
    return ExitCodeOf(child);
}

} // namespace raduvuz::test
