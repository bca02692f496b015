#pragma once

// The platform layer: how the module meets Linux (program folder, disk space, computer name,
// registry file, go event, shared-memory blocks, byte and file streams with their locks,
// compound files, uninstall registration). It includes only the C++ library, POSIX and libgsf:
// nothing of ours outside platform/, and no Qt.

#include <cstdint>
#include <string>
#include <string_view>

namespace raduvuz {

// Folder of the running program file, with a trailing "/".
std::string ProgramFolder();
std::string ProgramFile();
// gethostname cut to 15 characters; empty when it cannot be read.
std::string ComputerName();
// Free space in KiB available to the user on the volume holding path; 0 when it cannot be read.
int64_t DiskFreeKb(std::string_view path);
// The system's text for the last error (errno).
std::string LastErrorText();
// The name of the user with this id; "uid N" when the user database has none.
std::string UserName(uint32_t uid);
// The user who started this process (its real user id), by name.
std::string ProcessUserName();
// The program name of a running process (its comm); empty when it cannot be read.
std::string ProcessName(uint32_t pid);

bool DirectoryExists(std::string_view path);
bool FileExists(std::string_view path);
// True when this process may make files in the folder (access W_OK: a read-only file system
// counts, also for root).
bool FolderWritable(std::string_view path);
// Sets the file's modification time to now; false when it cannot.
bool TouchFile(const std::string& path);
// Creates the folder with all missing parents, each made 0700; true when it exists afterwards.
bool ForceDirectories(std::string_view path);

} // namespace raduvuz
