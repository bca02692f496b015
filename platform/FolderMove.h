#pragma once

#include <string>

namespace raduvuz {

// Moves the folder from to the path to on another file system, where a rename cannot go: every
// folder and ordinary file below from is copied (folders 0700, files 0600), each file flushed to
// the disk and read back and compared with its source, the new folders flushed; only then is
// from deleted. to must not exist, or be an empty folder. On failure whatever was made at to is
// removed again, from is left as it was, and error (when given) names the file and says why.
// Other kinds of entries (links, sockets) are not copied: the move fails on them.
bool CopyFolderAcross(const std::string& from, const std::string& to, std::string* error = nullptr);

// Deletes the folder path with everything below it; false (error set) when anything stays.
bool RemoveFolderTree(const std::string& path, std::string* error = nullptr);

} // namespace raduvuz
