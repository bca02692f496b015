#pragma once

#include <string>

namespace raduvuz {

// How the process was started.
enum class TStartMode { Normal, Automation, RegServer, UnregServer };

// The switches "AUTOMATION", "EMBEDDING", "REGSERVER" and "UNREGSERVER", each after "-" or "/",
// matched without regard to case; other arguments are passed over.
TStartMode StartModeOf(int argc, const char* const* argv);

// $XDG_DATA_HOME/dbus-1 (or ~/.local/share/dbus-1).
std::string DBusDataFolder();
// Writes the activation file of RAduvuz.ServerProvider (starting program with -AUTOMATION) and
// the introspection XML of both interfaces; false with a message in error when a file cannot be
// written.
bool RegisterServer(const std::string& program, std::string& error);
// Removes those files; false when one exists and cannot be removed.
bool UnregisterServer(std::string& error);

} // namespace raduvuz
