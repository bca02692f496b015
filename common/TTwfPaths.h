#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

// The data folder of the installation: the registry's DataPath, else $XDG_DATA_HOME/TWF_Data.
std::string DataPath();
// Removes one trailing "/".
std::string ExcludeTrailingSeparator(std::string_view path);

// Portable paths: the program and data folders as "$MAINTWFDIR$" and "$DATATWFDIR$".
class TTwfPaths {
public:
    TTwfPaths(); // the running program's folder and DataPath()
    TTwfPaths(std::string_view programFolder, std::string_view dataFolder);

    std::string ExpandMacros(std::string_view path, bool* changed = nullptr) const;
    std::string CollapseToMacros(std::string_view path, bool* changed = nullptr) const;

private:
    std::vector<std::string> Macros;
    std::vector<std::string> Paths;
};

} // namespace raduvuz
