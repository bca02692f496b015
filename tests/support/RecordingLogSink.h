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
    std::string Find(const std::string& part) const { return FirstWith(part).second; }
    // The severity of the first line holding part.
    TLogSeverity SeverityOf(const std::string& part) const { return FirstWith(part).first; }

private:
    std::pair<TLogSeverity, std::string> FirstWith(const std::string& part) const {
        for (const auto& entry : Lines) {
            if (entry.second.find(part) != std::string::npos)
                return entry;
        }
        return {TLogSeverity::Info, {}};
    }
};

} // namespace raduvuz::test
