#pragma once

// Where raduvuz-web keeps its accounts, certificate and key, and the rule that nobody else may
// read them.

#include <stdexcept>
#include <string>
#include <vector>

namespace raduvuz::web {

class TSetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// $XDG_CONFIG_HOME/raduvuz/web, else ~/.config/raduvuz/web.
std::string WebFolder();
std::string UsersFile(const std::string& folder);

// Makes the folder and its parent raduvuz/ (mode 0700) when they are missing; throws TSetupError
// naming the folder when it cannot.
void MakeWebFolder(const std::string& folder);

// One line for each existing path that another user may read or change (a permission bit for
// the group or others, or another owner), saying what to do; empty when all are private.
std::vector<std::string> ExposedPaths(const std::vector<std::string>& paths);

} // namespace raduvuz::web
