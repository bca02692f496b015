#include "platform/SystemLog.h"

#include <syslog.h>
#include <unistd.h>

namespace raduvuz {

TSystemLog::TSystemLog(std::string ident, int extraOptions) : Ident(std::move(ident)) {
    // Without a system logger to take the lines (no /dev/log, as in many containers) they go to
    // standard error, where whoever started the program keeps them.
    const int toStandardError = ::access("/dev/log", F_OK) == 0 ? 0 : LOG_PERROR;
    ::openlog(Ident.c_str(), LOG_PID | extraOptions | toStandardError, LOG_USER);
}

TSystemLog::~TSystemLog() {
    ::closelog();
}

void TSystemLog::Write(TLogSeverity severity, const std::string& line) {
    const int priority = severity == TLogSeverity::Error     ? LOG_ERR
                         : severity == TLogSeverity::Warning ? LOG_WARNING
                                                             : LOG_INFO;
    ::syslog(LOG_USER | priority, "%s", line.c_str());
}

} // namespace raduvuz
