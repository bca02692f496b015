#pragma once

#include "platform/SystemLog.h"

#include <string>
#include <utility>
#include <vector>

namespace raduvuz::test {

// A log sink that keeps what the module would give the system log.
class TRecordingLogSink : public ILogSink {
public:
    std::vector<std::pair<TLogSeverity, std::string>> Lines;

    void Write(TLogSeverity severity, const std::string& line) override {
        Lines.emplace_back(severity, line);
    }
    // The first line holding part, or empty.
    std::string Find(const std::string& part) const {
        for (const auto& [severity, line] : Lines) {
            if (line.find(part) != std::string::npos)
                return line;
        }
        return {};
    }
    // The severity of the first line holding part.
    TLogSeverity SeverityOf(const std::string& part) const {
        for (const auto& [severity, line] : Lines) {
            if (line.find(part) != std::string::npos)
                return severity;
        }
        return TLogSeverity::Info;
    }
};

} // namespace raduvuz::test
