#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>

namespace raduvuz {

// SIGTERM, SIGINT and SIGHUP end the process the way the workflow server would: the handler
// only writes the first signal's number into a pipe and ignores every later one, so that the
// Close it asks for is never cut short; the event loop reads the number and calls OnSignal,
// where anything may be done. SIGKILL still ends the process at once. Without a pipe the signals
// keep their default actions. One per process.
class TSignalCloser : public QObject {
    Q_OBJECT

public:
    explicit TSignalCloser(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TSignalCloser() override;

    // "SIGTERM", "SIGINT", "SIGHUP", else "a signal".
    static const char* SignalName(int signal);

private:
    std::function<void(int)> OnSignal;
    QSocketNotifier* Notifier = nullptr;
};

} // namespace raduvuz
