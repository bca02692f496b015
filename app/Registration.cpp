#include "app/Registration.h"

#include "common/CommaText.h"
#include "common/TTwfPaths.h"
#include "platform/System.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace raduvuz {

namespace {

const char* const kServiceFile = "/services/RAduvuz.ServerProvider.service";
const char* const kInterfaces[] = {"RAduvuz.IModuleControl.xml", "RAduvuz.IJobControl.xml",
                                   "RAduvuz.IServerProvider.xml"};

// Exec lines follow shell quoting.
std::string Quoted(const std::string& text) {
    if (text.find_first_of(" \t\"'\\$") == std::string::npos)
        return text;
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool WriteFile(const std::string& path, const std::string& data, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    out.close();
    if (!out) {
        error = "Cannot write " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path, std::string& error) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    error = "Cannot remove " + path + " (" + std::strerror(errno) + ")";
    return false;
}

} // namespace

TStartMode StartModeOf(int argc, const char* const* argv) {
    TStartMode mode = TStartMode::Normal;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/'))
            continue;
        const std::string_view name = arg.substr(1);
        if (SameTextAscii(name, "REGSERVER"))
            return TStartMode::RegServer;
        if (SameTextAscii(name, "UNREGSERVER"))
            return TStartMode::UnregServer;
        if (SameTextAscii(name, "AUTOMATION") || SameTextAscii(name, "EMBEDDING"))
            mode = TStartMode::Automation;
    }
    return mode;
}

std::string DBusDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return ExcludeTrailingSeparator(xdg) + "/dbus-1";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/dbus-1";
}

bool RegisterServer(const std::string& program, std::string& error) {
    const std::string folder = DBusDataFolder();
    if (!ForceDirectories(folder + "/services") || !ForceDirectories(folder + "/interfaces")) {
        error = "Cannot create the folders of " + folder;
        return false;
    }
    if (!WriteFile(folder + kServiceFile,
                   "[D-BUS Service]\nName=RAduvuz.ServerProvider\nExec=" + Quoted(program) +
                       " -AUTOMATION\n",
                   error))
        return false;
    for (const char* name : kInterfaces) {
        QFile resource(QStringLiteral(":/") + QString::fromLatin1(name));
        if (!resource.open(QIODevice::ReadOnly)) {
            error = std::string("The program holds no ") + name;
            return false;
        }
        const QByteArray xml = resource.readAll();
        if (!WriteFile(folder + "/interfaces/" + name, xml.toStdString(), error))
            return false;
    }
    return true;
}

bool UnregisterServer(std::string& error) {
    const std::string folder = DBusDataFolder();
    bool ok = RemoveFile(folder + kServiceFile, error);
    for (const char* name : kInterfaces)
        ok = RemoveFile(folder + "/interfaces/" + name, error) && ok;
    return ok;
}

} // namespace raduvuz
