#pragma once

namespace raduvuz {

// A lock on the whole file, however long it grows, held by this open file description (an OFD
// lock: F_WRLCK for a writer, F_RDLCK for a reader that shuts out writers); false when another
// holder is in the way.
bool LockWholeFile(int fd, short type);

} // namespace raduvuz
