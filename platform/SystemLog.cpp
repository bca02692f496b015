#include "platform/SystemLog.h"

#include <cstdio>
#include <syslog.h>
#include <unistd.h>

namespace raduvuz {

namespace {

constexpr char kLoggerSocket[] = "/dev/log";
// How often a process without a system logger looks whether one has come.
constexpr auto kLookAgain = std::chrono::seconds(10);

bool LoggerThere() {
    return ::access(kLoggerSocket, F_OK) == 0;
}

} // namespace

TSystemLog::TSystemLog(std::string ident, int extraOptions)
    : Ident(std::move(ident)), Options(LOG_PID | extraOptions) {
    if (LoggerThere())
        Open();
    else
        LookedAt = std::chrono::steady_clock::now();
}

TSystemLog::~TSystemLog() {
    if (Opened)
        ::closelog();
}

void TSystemLog::Open() {
    ::openlog(Ident.c_str(), Options, LOG_USER);
    Opened = true;
}

void TSystemLog::Write(TLogSeverity severity, const std::string& line) {
    // Without a system logger (no /dev/log, as in many containers) the lines go to standard
    // error, where whoever started the program keeps them. syslog would try to reach the
    // logger again for every line, which costs more than the line itself.
    std::lock_guard<std::mutex> lock(Mutex);
    if (!Opened) {
        const auto now = std::chrono::steady_clock::now();
        if (now - LookedAt >= kLookAgain) {
            LookedAt = now;
            if (LoggerThere())
                Open();
        }
    }
    if (!Opened) {
        std::fprintf(stderr, "%s[%d]: %s\n", Ident.c_str(), static_cast<int>(::getpid()),
                     line.c_str());
        return;
    }
    const int priority = severity == TLogSeverity::Error     ? LOG_ERR
                         : severity == TLogSeverity::Warning ? LOG_WARNING
                                                             : LOG_INFO;
    ::syslog(LOG_USER | priority, "%s", line.c_str());
}

} // namespace raduvuz
