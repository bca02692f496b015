#include "app/TSignalCloser.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace raduvuz {

namespace {

int Pipe[2] = {-1, -1};
// Set by the first signal; threads may take signals at the same moment.
std::atomic<bool> Received{false};
static_assert(std::atomic<bool>::is_always_lock_free);
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void SetHandlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

// Only async-signal-safe calls here.
void Handle(int signal) {
    // Only the first signal counts: a parent that ends sends several (one from each of its
    // threads), and none may cut the Close of the first one short.
    if (Received.exchange(true))
        return;
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(Pipe[1], &number, 1);
    errno = saved;
}

} // namespace

TSignalCloser::TSignalCloser(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), OnSignal(std::move(onSignal)) {
    if (::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    Notifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        if (::read(Pipe[0], &number, 1) != 1)
            return;
        // Once is enough: later signals are ignored.
        Notifier->setEnabled(false);
        OnSignal(number);
    });
    SetHandlers(Handle);
}

TSignalCloser::~TSignalCloser() {
    if (!Notifier)
        return;
    // After a signal the process is ending: one more must not end it by a signal on the way.
    SetHandlers(Received ? SIG_IGN : SIG_DFL);
    delete Notifier;
    ::close(Pipe[0]);
    ::close(Pipe[1]);
    Pipe[0] = Pipe[1] = -1;
}

const char* TSignalCloser::SignalName(int signal) {
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

} // namespace raduvuz
