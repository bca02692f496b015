#include "platform/FileLock.h"

#include <fcntl.h>

namespace raduvuz {

bool LockWholeFile(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

} // namespace raduvuz
