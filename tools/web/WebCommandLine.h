#pragma once

// raduvuz-web's command line. Plain C++, so that it is checked without a bus.

#include <stdexcept>
#include <string>
#include <vector>

namespace raduvuz::web {

enum TWebExit : int { kWebOk = 0, kWebFailed = 1, kWebUsage = 2 };

struct TWebRequest {
    // serve, user-add, user-passwd, user-del, user-list, help, version.
    std::string Command = "serve";
    std::vector<std::string> Listen;
    std::string CertFile;
    std::string KeyFile;
    std::string User;
    std::string Role;
};

class TWebUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The arguments after the program's name; throws TWebUsageError naming what is wrong.
TWebRequest ParseWebCommandLine(const std::vector<std::string>& args);
std::string WebHelpText();

inline constexpr const char* kDefaultListen = "127.0.0.1:8632";

} // namespace raduvuz::web
