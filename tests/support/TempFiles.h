#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace raduvuz::test {

// A fresh folder for one test, removed with everything in it afterwards.
class TTempFolder {
public:
    TTempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "raduvuz-test-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr)
            ADD_FAILURE() << "cannot make a temporary folder";
        else
            Root = pattern;
    }
    ~TTempFolder() {
        std::error_code ignored;
        if (!Root.empty())
            std::filesystem::remove_all(Root, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::string& Path() const { return Root; }
    std::string operator/(const std::string& name) const { return Root + "/" + name; }

private:
    std::string Root;
};

// Sets (or with nullopt removes) an environment variable for the life of the object and puts
// the old value back.
class TScopedEnv {
public:
    TScopedEnv(std::string name, const std::optional<std::string>& value) : Name(std::move(name)) {
        if (const char* old = std::getenv(Name.c_str()))
            Old = old;
        Set(value);
    }
    ~TScopedEnv() { Set(Old); }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

    void Set(const std::optional<std::string>& value) {
        if (value)
            setenv(Name.c_str(), value->c_str(), 1);
        else
            unsetenv(Name.c_str());
    }

private:
    std::string Name;
    std::optional<std::string> Old;
};

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

} // namespace raduvuz::test
