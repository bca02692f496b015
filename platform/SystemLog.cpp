#include "platform/SystemLog.h"

#include <syslog.h>

namespace raduvuz {

TSystemLog::TSystemLog(std::string ident, int extraOptions) : Ident(std::move(ident)) {
    ::openlog(Ident.c_str(), LOG_PID | extraOptions, LOG_USER);
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
