#include "platform/GoEvent.h"

#include "platform/GoEventShared.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

std::string ObjectName(const std::string& name) {
    return !name.empty() && name.front() == '/' ? name : "/" + name;
}

// Keeps errno of the failure that matters across the clean-up calls that follow it.
class TErrnoKeeper {
public:
    TErrnoKeeper() : Saved(errno) {}
    ~TErrnoKeeper() { errno = Saved; }
    TErrnoKeeper(const TErrnoKeeper&) = delete;
    TErrnoKeeper& operator=(const TErrnoKeeper&) = delete;

private:
    int Saved;
};

// An opened and fully initialised event object; unmapped and closed when it goes.
class TGoEventMapping {
public:
    // Opens the existing object; IsValid() is false when it is absent, too small or not yet
    // initialised by its creator.
    explicit TGoEventMapping(const std::string& name) {
        Fd = shm_open(ObjectName(name).c_str(), O_RDWR | O_CLOEXEC, 0);
        if (Fd < 0)
            return;
        struct stat info {};
        if (fstat(Fd, &info) != 0)
            return;
        // An object too small or without the magic word yet counts as no event at all.
        errno = ENOENT;
        if (info.st_size < static_cast<off_t>(sizeof(GoEventShared)))
            return;
        void* address =
            mmap(nullptr, sizeof(GoEventShared), PROT_READ | PROT_WRITE, MAP_SHARED, Fd, 0);
        if (address == MAP_FAILED)
            return;
        Shared = static_cast<GoEventShared*>(address);
        if (Shared->MagicVersion.load(std::memory_order_acquire) == kGoEventMagicVersion)
            Valid = true;
        else
            errno = ENOENT;
    }
    ~TGoEventMapping() {
        TErrnoKeeper keep;
        if (Shared != nullptr)
            munmap(Shared, sizeof(GoEventShared));
        if (Fd >= 0)
            close(Fd);
    }
    TGoEventMapping(const TGoEventMapping&) = delete;
    TGoEventMapping& operator=(const TGoEventMapping&) = delete;

    bool IsValid() const { return Valid; }
    GoEventShared& Event() const { return *Shared; }

private:
    int Fd = -1;
    GoEventShared* Shared = nullptr;
    bool Valid = false;
};

// Takes the robust mutex; a holder that died while holding it leaves the flag as it was, which
// is always a consistent state, so the lock is simply marked consistent again.
bool LockEvent(GoEventShared& event) {
    int result = pthread_mutex_lock(&event.Mutex);
    if (result == EOWNERDEAD)
        result = pthread_mutex_consistent(&event.Mutex);
    if (result != 0) {
        errno = result;
        return false;
    }
    return true;
}

bool SetSignalled(const std::string& name, bool signalled) {
    TGoEventMapping mapping(name);
    if (!mapping.IsValid())
        return false;
    GoEventShared& event = mapping.Event();
    if (!LockEvent(event))
        return false;
    event.Signalled = signalled ? 1 : 0;
    // A manual-reset event releases every waiter and stays signalled until reset.
    if (signalled)
        pthread_cond_broadcast(&event.Changed);
    pthread_mutex_unlock(&event.Mutex);
    return true;
}

bool InitialiseEvent(GoEventShared& event, bool signalled) {
    pthread_mutexattr_t mutexAttributes;
    pthread_condattr_t condAttributes;
    if (pthread_mutexattr_init(&mutexAttributes) != 0)
        return false;
    bool done = pthread_mutexattr_setpshared(&mutexAttributes, PTHREAD_PROCESS_SHARED) == 0 &&
                pthread_mutexattr_setrobust(&mutexAttributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                pthread_mutex_init(&event.Mutex, &mutexAttributes) == 0;
    pthread_mutexattr_destroy(&mutexAttributes);
    if (!done)
        return false;
    if (pthread_condattr_init(&condAttributes) != 0)
        return false;
    done = pthread_condattr_setpshared(&condAttributes, PTHREAD_PROCESS_SHARED) == 0 &&
           pthread_cond_init(&event.Changed, &condAttributes) == 0;
    pthread_condattr_destroy(&condAttributes);
    if (!done)
        return false;
    event.Signalled = signalled ? 1 : 0;
    event.MagicVersion.store(kGoEventMagicVersion, std::memory_order_release);
    return true;
}

} // namespace

bool GoEventCreate(const std::string& eventName, bool signalled) {
    const std::string name = ObjectName(eventName);
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        // Like a named event created twice: the existing event is kept with its state.
        if (errno == EEXIST) {
            TGoEventMapping existing(name);
            if (existing.IsValid())
                return true;
            errno = EEXIST;
        }
        return false;
    }
    bool created = false;
    void* address = MAP_FAILED;
    if (ftruncate(fd, sizeof(GoEventShared)) == 0)
        address = mmap(nullptr, sizeof(GoEventShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address != MAP_FAILED) {
        // The new object is zero-filled, so the magic word is absent until initialisation ends.
        auto* event = new (address) GoEventShared{};
        created = InitialiseEvent(*event, signalled);
        TErrnoKeeper keep;
        munmap(address, sizeof(GoEventShared));
    }
    TErrnoKeeper keep;
    close(fd);
    if (!created)
        shm_unlink(name.c_str());
    return created;
}

bool GoEventSet(const std::string& name) {
    return SetSignalled(name, true);
}

bool GoEventReset(const std::string& name) {
    return SetSignalled(name, false);
}

bool GoEventRemove(const std::string& name) {
    // Nobody could open the event by name any more to set it, so its waiters are let go first.
    SetSignalled(name, true);
    return shm_unlink(ObjectName(name).c_str()) == 0;
}

bool GoEventExists(const std::string& name) {
    TGoEventMapping mapping(name);
    return mapping.IsValid();
}

bool WaitGoEvent(const std::string& name) {
    TGoEventMapping mapping(name);
    if (!mapping.IsValid())
        return false;
    GoEventShared& event = mapping.Event();
    if (!LockEvent(event))
        return false;
    bool waited = false;
    while (event.Signalled == 0) {
        waited = true;
        int result = pthread_cond_wait(&event.Changed, &event.Mutex);
        if (result == EOWNERDEAD && pthread_mutex_consistent(&event.Mutex) != 0)
            break;
        // Not recoverable: the mutex is not held, and waiting on is impossible.
        if (result != 0 && result != EOWNERDEAD)
            return waited;
    }
    pthread_mutex_unlock(&event.Mutex);
    return waited;
}

} // namespace raduvuz
