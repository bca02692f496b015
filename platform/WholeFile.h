#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace raduvuz {

// Files the module reads and writes whole (the hold file, the compound configuration file, the
// colour map).

// Mode of every file and folder the module makes, whatever the umask: the print data and the
// settings are the module user's alone.
inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kPrivateFolderMode = 0700;

// Runs one wait for the disk: sync does it and says whether it succeeded. The module's own runs
// sync on another thread and serves its calls meanwhile, so that a slow disk does not hold them;
// an empty one waits on the calling thread.
using TDiskWait = std::function<bool(const std::function<bool()>& sync)>;

// fsync (fdatasync when dataOnly) of fd through wait; errno tells why when it fails.
bool SyncFile(int fd, bool dataOnly, const TDiskWait& wait = {});

// Writes bytes to a new temporary file in path's folder (mode 0600), flushes it to the disk and
// renames it over path, then flushes the folder, so that a crash or a full disk leaves either
// the old file or the new one, never a part. On failure the temporary file is gone, the file at
// path is untouched, and error (when given) says why (the system's text).
bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error = nullptr,
                    const TDiskWait& wait = {});

// The steps of WriteWholeFile for whoever puts something between them. A file of exactly mode
// holding bytes, flushed to the disk; a file left half written is removed.
bool WriteFlushedFile(const std::string& path, std::string_view bytes, mode_t mode,
                      std::string* error = nullptr, const TDiskWait& wait = {});
// from takes the name to, and the folder is flushed so that the new name is on the disk too.
bool RenameFlushed(const std::string& from, const std::string& to, std::string* error = nullptr,
                   const TDiskWait& wait = {});

// Flushes a folder, so that the names made or moved in it are on the disk.
bool FlushFolder(const std::string& folder, std::string* error = nullptr,
                 const TDiskWait& wait = {});

// Appends bytes to the file at path (made 0600 when missing, its folder flushed then) and
// flushes the file's data to the disk before it returns, so that a crash keeps what was
// appended. A crash in the middle of the call may leave a part of bytes at the end.
bool AppendFlushed(const std::string& path, std::string_view bytes, std::string* error = nullptr,
                   const TDiskWait& wait = {});

// The whole file; false with error set (the system's text) when it cannot be read or is larger
// than maxBytes.
bool ReadWholeFile(const std::string& path, std::string& bytes, size_t maxBytes,
                   std::string* error = nullptr);

} // namespace raduvuz
