#include "common/TTwfPaths.h"

#include "common/CommaText.h"
#include "platform/Registry.h"
#include "platform/System.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return (entry && entry->pw_dir) ? entry->pw_dir : std::string();
}

// Shared by both directions: from[i] and to[i] are the same position of the two lists.
std::string Translate(std::string_view path, const std::vector<std::string>& from,
                      const std::vector<std::string>& to, bool* changed) {
    bool didChange = false;
    std::string work(path);
    if (from.size() == to.size()) {
        for (size_t i = 0; i < from.size(); ++i) {
            // An empty folder (the root) would match every separator.
            if (from[i].empty()) {
                continue;
            }
            if (SameTextAscii(work, from[i])) {
                work = to[i];
                didChange = true;
                continue;
            }
            // A folder only matches when a separator follows it; the rest keeps its letters.
            const std::string needle = AsciiUpper(from[i] + "/");
            const std::string upper = AsciiUpper(work);
            size_t pos = upper.find(needle);
            if (pos == std::string::npos) {
                continue;
            }
            std::string result;
            size_t done = 0;
            while (pos != std::string::npos) {
                result.append(work, done, pos - done);
                result += to[i];
                result.push_back('/');
                done = pos + needle.size();
                pos = upper.find(needle, done);
            }
            result.append(work, done, std::string::npos);
            work = std::move(result);
            didChange = true;
        }
    }
    if (changed) {
        *changed = didChange;
    }
    return work;
}

} // namespace

std::string DataPath() {
    const std::optional<std::string> registered = RegistryString(kServerKey, "DataPath");
    if (registered && !registered->empty()) {
        return *registered;
    }
    // A relative XDG_DATA_HOME is invalid by the XDG rules and is ignored.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        return ExcludeTrailingSeparator(xdg) + "/TWF_Data";
    }
    return HomeFolder() + "/.local/share/TWF_Data";
}

std::string UserProgramFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        return ExcludeTrailingSeparator(xdg) + "/raduvuz/";
    }
    return HomeFolder() + "/.local/share/raduvuz/";
}

std::string ProgramDataFolder(const std::string& programFolder) {
    const bool installed = programFolder.rfind("/usr/", 0) == 0;
    // A folder that is not there yet (one a test names) is made where it is named.
    const bool writable = !DirectoryExists(programFolder) || FolderWritable(programFolder);
    return !installed && writable ? programFolder : UserProgramFolder();
}

std::string ExcludeTrailingSeparator(std::string_view path) {
    if (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    return std::string(path);
}

TTwfPaths::TTwfPaths(std::string_view programFolder, std::string_view dataFolder)
    : Macros{"$MAINTWFDIR$", "$DATATWFDIR$"}, Paths{ExcludeTrailingSeparator(programFolder),
                                                    ExcludeTrailingSeparator(dataFolder)} {}

std::string TTwfPaths::ExpandMacros(std::string_view path, bool* changed) const {
    return Translate(path, Macros, Paths, changed);
}

std::string TTwfPaths::CollapseToMacros(std::string_view path, bool* changed) const {
    return Translate(path, Paths, Macros, changed);
}

} // namespace raduvuz
