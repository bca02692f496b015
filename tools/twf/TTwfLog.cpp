#include "tools/twf/TTwfLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

namespace raduvuz {

bool TTwfLog::Open(const std::string& path) {
    std::error_code ec;
    auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ec);
    File.open(path, std::ios::app);
    return File.is_open();
}

void TTwfLog::Line(const std::string& text) {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char stamp[96];
    std::snprintf(
        stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
        tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000));
    const std::string line = std::string(stamp) + " " + text + "\n";
    if (File.is_open()) {
        File << line;
        File.flush();
    }
    if (!Quiet) {
        std::cout << line;
        std::cout.flush();
    }
}

} // namespace raduvuz
