#pragma once

#include "platform/TCompoundFile.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace raduvuz::test {

// Text with its length before it as four little-endian bytes, as a counted stream holds it.
inline std::string Counted(const std::string& text) {
    const uint32_t n = static_cast<uint32_t>(text.size());
    std::string data(4, '\0');
    std::memcpy(data.data(), &n, 4);
    return data + text;
}

// A module's stored configuration: a new compound file whose stream named key counts text.
inline void WriteSetFile(const std::string& path, const std::string& key, const std::string& text) {
    const std::filesystem::path file(path);
    std::filesystem::create_directories(file.parent_path());
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    TCompoundFile storage;
    ASSERT_TRUE(storage.Create(path));
    ASSERT_TRUE(storage.WriteCountedText(key, text));
}

inline bool OlefileAvailable() {
    return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0;
}

// The root streams of a compound file as an independent reader sees them: "name:HEX" per line,
// in name order.
inline std::string ListStreams(const std::string& path) {
    const std::string command =
        "/usr/bin/python3 -c \"import olefile,sys\n"
        "f=olefile.OleFileIO(sys.argv[1])\n"
        "for e in sorted(f.listdir()):\n"
        "    print('/'.join(e)+':'+f.openstream(e).read().hex().upper())\n\" '" +
        path + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return "cannot run python3";
    std::string output;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    ::pclose(pipe);
    return output;
}

} // namespace raduvuz::test
