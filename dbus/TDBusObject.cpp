#include "dbus/TDBusObject.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusListening.h"
#include "dbus/TDirectCalls.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace raduvuz {

namespace {

// How long a call waits for its reply unless its object has a deadline of its own.
constexpr int kReplyTimeoutMs = 25000;
int Pending = 0;
// Beyond the bus library's own reply timeout, before our timer gives up on a call.
constexpr int kDeadlineSlackMs = 2000;
// How often a waiting call looks for its reply besides the library's notice.
constexpr int kLookIntervalMs = 50;

// How long work set aside is waited for before events are served meanwhile: a flush usually
// takes a fraction of it.
constexpr auto kAsideQuietWait = std::chrono::milliseconds(2);

// The thread that does the work set aside, one for the process: a spool file is flushed several
// times a document, and a thread made for each flush costs about a third of a small one.
class TAsideThread {
public:
    // Never destroyed: a process that ends while a flush hangs must not wait for it.
    static TAsideThread& Here() {
        static TAsideThread* const aside = new TAsideThread();
        return *aside;
    }

    // Hands the work over; false when the thread has other work still.
    bool Start(const std::function<bool()>& work) {
        std::lock_guard<std::mutex> lock(Mutex);
        if (Work)
            return false;
        if (!Thread.joinable())
            Thread = std::thread([this] { Serve(); });
        Work = &work;
        Done = false;
        Notify = nullptr;
        Changed.notify_all();
        return true;
    }

    // True once the work is done, waiting at most `wait` for it.
    bool WaitDone(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, wait, [this] { return Done; });
    }

    // Has `notify` called once the work is done; false, without calling it, when it is done.
    bool NotifyWhenDone(std::function<void()> notify) {
        std::lock_guard<std::mutex> lock(Mutex);
        if (Done)
            return false;
        Notify = std::move(notify);
        return true;
    }

    // The work's result, once it is done; the thread is free for the next.
    bool Finish() {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [this] { return Done; });
        Work = nullptr;
        Notify = nullptr;
        return Result;
    }

private:
    void Serve() {
        std::unique_lock<std::mutex> lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Work && !Done; });
            const std::function<bool()>* work = Work;
            lock.unlock();
            const bool result = (*work)();
            lock.lock();
            Result = result;
            Done = true;
            std::function<void()> notify = std::move(Notify);
            Notify = nullptr;
            Changed.notify_all();
            if (notify) {
                lock.unlock();
                notify();
                lock.lock();
            }
        }
    }

    std::mutex Mutex;
    std::condition_variable Changed;
    std::thread Thread;
    const std::function<bool()>* Work = nullptr;
    std::function<void()> Notify;
    bool Done = false;
    bool Result = false;
};

QVariant WireArgument(const TVariant& value, char type) {
    switch (type) {
    case 'v':
        return ToWireVariant(value);
    case 'i':
        return QVariant(static_cast<int>(VariantToInt(value)));
    case 'u':
        return QVariant(static_cast<uint>(VariantToInt(value)));
    case 'b':
        return QVariant(VariantToBool(value));
    case 's':
        return QVariant(QString::fromStdString(VariantToText(value)));
    case 'd':
        if (const auto* d = std::get_if<double>(&value))
            return QVariant(*d);
        return QVariant(static_cast<double>(VariantToInt(value)));
    default:
        throw TDispatchError(kUnexpectedError,
                             std::string("Unsupported argument type '") + type + "'");
    }
}

struct TPendingGuard {
    TPendingGuard() { ++Pending; }
    ~TPendingGuard() { --Pending; }
    TPendingGuard(const TPendingGuard&) = delete;
    TPendingGuard& operator=(const TPendingGuard&) = delete;
};

// Sends the call and serves events until its reply comes. The wait does not rely on the bus
// library's notice alone: a short timer also looks whether the reply is there, and a deadline
// of our own backs the library's reply timeout. Under load a notice or a time-out can get lost,
// and the call, with the whole module, must not wait for ever.
QDBusMessage WaitForReply(QDBusPendingCall pending, const QDBusMessage& call, int timeoutMs) {
    TPendingGuard guard;
    if (!pending.isFinished()) {
        QEventLoop loop;
        QDBusPendingCallWatcher watcher(pending);
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (pending.isFinished() || clock.elapsed() >= timeoutMs + kDeadlineSlackMs)
                loop.quit();
        });
        look.start(kLookIntervalMs);
        if (!pending.isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!pending.isFinished())
        return call.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
                                     QStringLiteral("No reply to %1 within %2 ms")
                                         .arg(call.member())
                                         .arg(timeoutMs + kDeadlineSlackMs));
    return pending.reply();
}

QDBusMessage CallAndWait(const QDBusMessage& call, int timeoutMs) {
    return WaitForReply(RaduvuzBus().asyncCall(call, timeoutMs), call, timeoutMs);
}

// The values of a reply: the first is the result, the others the out values; a failed call is
// TDispatchError with the error's name and message.
TCallResult ResultOfReply(const QDBusMessage& reply, const std::string& method,
                          const std::string& reference) {
    if (reply.type() != QDBusMessage::ReplyMessage) {
        std::string name = reply.errorName().toStdString();
        std::string message = reply.errorMessage().toStdString();
        if (name.empty())
            name = kUnexpectedError;
        if (message.empty())
            message = "The call " + method + " on " + reference + " failed";
        throw TDispatchError(name, message);
    }
    TCallResult result;
    const QVariantList values = reply.arguments();
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i == 0)
            result.Result = FromWire(values[i]);
        else
            result.Outs.push_back(FromWire(values[i]));
    }
    return result;
}

// A call on its way: its reply is waited for only when asked for.
class TDBusPendingCall : public IPendingCall {
public:
    TDBusPendingCall(QDBusMessage call, int timeoutMs, std::string reference)
        : Message(std::move(call)), TimeoutMs(timeoutMs), Reference(std::move(reference)),
          Pending(RaduvuzBus().asyncCall(Message, timeoutMs)) {}
    TCallResult Result() override {
        return ResultOfReply(WaitForReply(Pending, Message, TimeoutMs),
                             Message.member().toStdString(), Reference);
    }

private:
    QDBusMessage Message;
    int TimeoutMs;
    std::string Reference;
    QDBusPendingCall Pending;
};

// A call on its way over the connection that this thread reads itself.
class TDirectPendingCall : public IPendingCall {
public:
    TDirectPendingCall(TDirectCalls& calls, std::shared_ptr<TDirectCall> call,
                       std::string reference)
        : Calls(calls), Call(std::move(call)), Reference(std::move(reference)) {}
    TCallResult Result() override {
        TPendingGuard guard;
        return Calls.Wait(*Call, Reference, nullptr);
    }

private:
    TDirectCalls& Calls;
    std::shared_ptr<TDirectCall> Call;
    std::string Reference;
};

// Keeps a watch on a bus name's owner for as long as it lives.
class TPeerWatch : public TListening {
public:
    TPeerWatch(const std::string& service, std::function<void(bool present)> handler)
        : Watcher(QString::fromStdString(service), RaduvuzBus(),
                  QDBusServiceWatcher::WatchForOwnerChange) {
        QObject::connect(&Watcher, &QDBusServiceWatcher::serviceOwnerChanged, &Watcher,
                         [handler = std::move(handler)](const QString&, const QString& oldOwner,
                                                        const QString& newOwner) {
                             if (!oldOwner.isEmpty())
                                 handler(false);
                             if (!newOwner.isEmpty())
                                 handler(true);
                         });
    }

private:
    QDBusServiceWatcher Watcher;
};

// The unique name that owns name now; empty when nobody does or the bus cannot say.
std::string OwnerOf(const std::string& name) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    ask.setArguments({QString::fromStdString(name)});
    const QDBusMessage reply = RaduvuzBus().call(ask, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().toString().toStdString();
}

} // namespace

TDBusObject::TDBusObject(std::string service, std::string path, bool direct)
    : Service(std::move(service)), Path(std::move(path)), Direct(direct) {}

TDispatchPtr TDBusObject::FromReference(const std::string& reference) {
    const auto slash = reference.find('/');
    if (slash == std::string::npos || slash == 0)
        throw TDispatchError(kUnexpectedError,
                             "\"" + reference + "\" is not a reference to a dispatch object");
    return std::make_shared<TDBusObject>(reference.substr(0, slash), reference.substr(slash));
}

TDispatchPtr TDBusObject::FromOwnedReference(const std::string& reference,
                                             const std::string& argument) {
    const auto slash = reference.find('/');
    if (slash == std::string::npos || slash == 0)
        throw TInvalidArgument(argument,
                               "\"" + reference + "\" is not a reference to a dispatch object");
    const std::string name = reference.substr(0, slash);
    TDBusObject bus("org.freedesktop.DBus", "/org/freedesktop/DBus");
    if (!VariantToBool(bus.Call("NameHasOwner", {name}, "s").Result))
        throw TInvalidArgument(argument,
                               "nobody owns the bus name " + name + " of \"" + reference + "\"");
    return std::make_shared<TDBusObject>(name, reference.substr(slash));
}

TDispatchPtr TDBusObject::Create(const std::string& progId) {
    const auto dot = progId.rfind('.');
    const std::string path = "/" + (dot == std::string::npos ? progId : progId.substr(dot + 1));
    TDBusObject bus("org.freedesktop.DBus", "/org/freedesktop/DBus");
    if (!VariantToBool(bus.Call("NameHasOwner", {progId}, "s").Result))
        bus.Call("StartServiceByName", {progId, 0}, "su");
    // Objects made by ProgID are the store, whose calls are the many of every document.
    return std::make_shared<TDBusObject>(progId, path, true);
}

QDBusMessage TDBusObject::MakeCall(const std::string& method, const std::vector<TVariant>& args,
                                   const std::string& signature) const {
    if (!signature.empty() && signature.size() != args.size())
        throw TDispatchError(kUnexpectedError,
                             "The call " + method + " has " + std::to_string(args.size()) +
                                 " arguments for the types \"" + signature + "\"");
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromStdString(Service),
                                                       QString::fromStdString(Path), QString(),
                                                       QString::fromStdString(method));
    QVariantList wire;
    for (size_t i = 0; i < args.size(); ++i)
        wire << (signature.empty() ? ToWire(args[i]) : WireArgument(args[i], signature[i]));
    call.setArguments(wire);
    return call;
}

void TDBusObject::Send(const std::string& method, const std::vector<TVariant>& args,
                       const std::string& signature) {
    if (TDirectCalls* direct = Direct ? TDirectCalls::Here() : nullptr)
        return direct->Send(Service, Path, method, args, signature);
    // The connection queues the message behind the calls made before it and flags it as
    // wanting no reply.
    if (!RaduvuzBus().send(MakeCall(method, args, signature)))
        throw TDispatchError(kUnexpectedError,
                             "The call " + method + " on " + Reference() + " could not be sent");
}

TPendingCallPtr TDBusObject::Post(const std::string& method, const std::vector<TVariant>& args,
                                  const std::string& signature) {
    if (TDirectCalls* direct = Direct ? TDirectCalls::Here() : nullptr)
        return std::make_unique<TDirectPendingCall>(
            *direct, direct->Start(Service, Path, method, args, signature, CallTimeoutMs()),
            Reference());
    return std::make_unique<TDBusPendingCall>(MakeCall(method, args, signature), CallTimeoutMs(),
                                              Reference());
}

TListeningPtr TDBusObject::Listen(const std::string& interface,
                                  const std::vector<std::string>& members, TSignalHandler handler) {
    auto listening = std::make_unique<TDBusListening>(std::move(handler));
    QDBusConnection bus = RaduvuzBus();
    for (const std::string& member : members) {
        if (!bus.connect(QString::fromStdString(Service), QString::fromStdString(Path),
                         QString::fromStdString(interface), QString::fromStdString(member),
                         listening.get(), SLOT(Received(QDBusMessage))))
            return nullptr;
    }
    return listening;
}

TCallResult TDBusObject::Call(const std::string& method, const std::vector<TVariant>& args,
                              const std::string& signature) {
    if (TDirectCalls* direct = Direct ? TDirectCalls::Here() : nullptr) {
        auto call = direct->Start(Service, Path, method, args, signature, CallTimeoutMs());
        TPendingGuard guard;
        return direct->Wait(*call, Reference(), &LastOwner);
    }
    const QDBusMessage call = MakeCall(method, args, signature);
    const QDBusMessage reply = CallAndWait(call, CallTimeoutMs());
    TCallResult result = ResultOfReply(reply, method, Reference());
    LastOwner = reply.service().toStdString();
    return result;
}

bool TDBusObject::PeerGone() {
    const std::string owner = OwnerOf(Service);
    return owner.empty() || (!LastOwner.empty() && owner != LastOwner);
}

bool TDBusObject::PeerPresent() {
    const std::string owner = OwnerOf(Service);
    if (!owner.empty())
        LastOwner = owner;
    return !owner.empty();
}

TListeningPtr TDBusObject::WatchPeer(std::function<void(bool present)> handler) {
    return std::make_unique<TPeerWatch>(Service, std::move(handler));
}

int TDBusObject::CallTimeoutMs() const {
    return DeadlineMs > 0 ? DeadlineMs : kReplyTimeoutMs;
}

int TDBusObject::PendingCalls() {
    return Pending;
}

bool TDBusObject::RunAside(const std::function<bool()>& work) {
    TPendingGuard guard;
    QEventLoop loop;
    TAsideThread& aside = TAsideThread::Here();
    if (aside.Start(work)) {
        if (!aside.WaitDone(kAsideQuietWait) && aside.NotifyWhenDone([&loop] {
                // Queued, so that a quit that comes before exec still ends it.
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
            }))
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        return aside.Finish();
    }
    // A wait that started while another one served events runs where it is, as nested waits do.
    return work();
}

} // namespace raduvuz
