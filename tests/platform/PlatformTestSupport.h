#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace raduvuz::test {

// A fresh folder for one test, removed with everything in it afterwards.
class TTempFolder {
public:
    TTempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "raduvuz-platform-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr)
            ADD_FAILURE() << "cannot make a temporary folder";
        Root = pattern;
    }
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::string& Path() const { return Root; }
    std::string operator/(const std::string& name) const { return Root + "/" + name; }

private:
    std::string Root;
};

// Sets an environment variable for the life of one test and puts the old value back.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value) : Name(name) {
        if (const char* old = std::getenv(name))
            Old = old;
        setenv(name, value.c_str(), 1);
    }
    ~TScopedEnv() {
        if (Old)
            setenv(Name, Old->c_str(), 1);
        else
            unsetenv(Name);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* Name;
    std::optional<std::string> Old;
};

// A name no other test process uses, for shared-memory objects.
inline std::string UniqueName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

inline void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs body in a forked child, which starts with the process-wide state the parent has now;
// answers the child's exit status, or -1 when it did not exit normally.
inline int RunInChild(const std::function<int()>& body) {
    pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace raduvuz::test
