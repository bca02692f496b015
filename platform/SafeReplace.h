#pragma once

#include <string>
#include <string_view>

namespace raduvuz {

// Gives the file at path the new contents so that, whenever the process dies, path holds either
// the old file or the new one complete: the new text is written beside it and flushed first; the
// old file then becomes backup (an older backup goes) and the new one takes its name. Without an
// old file an older backup is removed all the same. False with a message naming the file when a
// step fails; the old file is then still at path.
bool ReplaceKeepingBackup(const std::string& path, const std::string& backup,
                          std::string_view contents, std::string& error);

} // namespace raduvuz
