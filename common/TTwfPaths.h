#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

// The data folder of the installation: the registry's DataPath, else $XDG_DATA_HOME/TWF_Data.
std::string DataPath();
// Where the program keeps what would lie in its own folder (the default storage and preview
// folders, the spot colour map) when it may not write there: $XDG_DATA_HOME/raduvuz, else
// ~/.local/share/raduvuz; with a trailing "/".
std::string UserProgramFolder();
// The folder for those files: the program folder (with its trailing "/") when this process may
// write into it and it does not lie under /usr, where an installed program lies and nothing
// is written at run time; else UserProgramFolder().
std::string ProgramDataFolder(const std::string& programFolder);
// Removes one trailing "/".
std::string ExcludeTrailingSeparator(std::string_view path);

// Portable paths: the program and data folders as "$MAINTWFDIR$" and "$DATATWFDIR$".
class TTwfPaths {
public:
    TTwfPaths(std::string_view programFolder, std::string_view dataFolder);

    std::string ExpandMacros(std::string_view path, bool* changed = nullptr) const;
    std::string CollapseToMacros(std::string_view path, bool* changed = nullptr) const;

private:
    std::vector<std::string> Macros;
    std::vector<std::string> Paths;
};

} // namespace raduvuz
