#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace raduvuz {

enum class TLogSeverity { Info, Warning, Error };

// Where the module's log lines also go, besides its window and its server, so that lines
// written before StartLog or while the server is gone are kept: the system log in the program,
// whatever sink a test gives.
class ILogSink {
public:
    virtual ~ILogSink() = default;
    virtual void Write(TLogSeverity severity, const std::string& line) = 0;
};

// The system log: syslog with facility LOG_USER, each line tagged with ident and the process id.
// Whatever system logger the machine runs keeps the lines; on a machine without one (no
// /dev/log) they go to standard error instead, tagged alike, until a logger comes (looked for
// every ten seconds). openlog is process-wide, so a process makes one.
class TSystemLog : public ILogSink {
public:
    // extraOptions are added to LOG_PID (LOG_PERROR also copies each line to standard error).
    explicit TSystemLog(std::string ident, int extraOptions = 0);
    ~TSystemLog() override;
    TSystemLog(const TSystemLog&) = delete;
    TSystemLog& operator=(const TSystemLog&) = delete;

    void Write(TLogSeverity severity, const std::string& line) override;

private:
    void Open();

    // openlog keeps the pointer, not the text.
    std::string Ident;
    int Options;
    // Lines may come from several threads.
    std::mutex Mutex;
    bool Opened = false;
    // When the logger was last looked for, while there was none.
    std::chrono::steady_clock::time_point LookedAt;
};

} // namespace raduvuz
