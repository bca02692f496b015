#pragma once

#include <atomic>
#include <cstdint>
#include <pthread.h>

namespace raduvuz {

// Layout of the go event's shared-memory object, shared by every process that opens it. The
// creator fills it in and writes MagicVersion last, so an opener that does not see the word yet
// treats the object as absent. Any change of the layout needs a new word.
inline constexpr uint32_t kGoEventMagicVersion = 0x52474F01;

struct GoEventShared {
    std::atomic<uint32_t> MagicVersion;
    uint32_t Signalled;
    pthread_mutex_t Mutex;
    pthread_cond_t Changed;
};

static_assert(std::atomic<uint32_t>::is_always_lock_free,
              "the magic word is read by other processes without a lock");

} // namespace raduvuz
