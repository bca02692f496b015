#include "dbus/TDirectCalls.h"

#include "dbus/DBusBus.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include <poll.h>

#include <systemd/sd-bus.h>

namespace raduvuz {

namespace {

// How long a call waits on the socket alone before it serves events too. A reply nearly always
// comes within it; a call that takes longer costs a millisecond more of a paused console.
constexpr uint64_t kSocketWaitUs = 2000;
// Beyond the call's timeout, before our clock gives up on it, as a QtDBus call's wait does.
constexpr int kDeadlineSlackMs = 2000;
// How often a wait that serves events also looks at the socket and the clock.
constexpr int kLookIntervalMs = 50;

[[noreturn]] void Fail(int r, const std::string& what) {
    throw TDispatchError(r == -ENOTCONN || r == -ECONNRESET
                             ? "org.freedesktop.DBus.Error.Disconnected"
                             : kUnexpectedError,
                         what + ": " + std::strerror(-r));
}

void Check(int r, const std::string& what) {
    if (r < 0)
        Fail(r, what);
}

// Text as QtDBus would send it: bytes that are not UTF-8 become replacement characters.
std::string WireText(const TVariant& value) {
    return QString::fromStdString(VariantToText(value)).toStdString();
}

// A value in a variant: Null as an empty "av", as automation values travel.
void AppendVariant(sd_bus_message* m, const TVariant& value) {
    int r = 0;
    if (const auto* i = std::get_if<int32_t>(&value))
        r = sd_bus_message_append(m, "v", "i", *i);
    else if (const auto* b = std::get_if<bool>(&value))
        r = sd_bus_message_append(m, "v", "b", static_cast<int>(*b));
    else if (std::holds_alternative<std::string>(value))
        r = sd_bus_message_append(m, "v", "s", WireText(value).c_str());
    else if (const auto* d = std::get_if<double>(&value))
        r = sd_bus_message_append(m, "v", "d", *d);
    else
        r = sd_bus_message_append(m, "v", "av", 0);
    Check(r, "an argument cannot be sent");
}

void Append(sd_bus_message* m, const TVariant& value, char type) {
    int r = 0;
    switch (type) {
    case 'v':
        AppendVariant(m, value);
        return;
    case 'i':
        r = sd_bus_message_append(m, "i", VariantToInt(value));
        break;
    case 'u':
        r = sd_bus_message_append(m, "u", static_cast<uint32_t>(VariantToInt(value)));
        break;
    case 'b':
        r = sd_bus_message_append(m, "b", static_cast<int>(VariantToBool(value)));
        break;
    case 's':
        r = sd_bus_message_append(m, "s", WireText(value).c_str());
        break;
    case 'd':
        r = sd_bus_message_append(m, "d",
                                  std::holds_alternative<double>(value)
                                      ? std::get<double>(value)
                                      : static_cast<double>(VariantToInt(value)));
        break;
    default:
        throw TDispatchError(kUnexpectedError,
                             std::string("Unsupported argument type '") + type + "'");
    }
    Check(r, "an argument cannot be sent");
}

// An argument without a type given travels as the wire type of its own kind.
char OwnType(const TVariant& value) {
    if (std::holds_alternative<int32_t>(value))
        return 'i';
    if (std::holds_alternative<bool>(value))
        return 'b';
    if (std::holds_alternative<std::string>(value))
        return 's';
    if (std::holds_alternative<double>(value))
        return 'd';
    return 'v';
}

TVariant FromWhole(long long value) {
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max())
        return static_cast<int32_t>(value);
    return static_cast<double>(value);
}

template <typename T> T ReadBasic(sd_bus_message* m, char type) {
    T value{};
    Check(sd_bus_message_read_basic(m, type, &value), "a reply value cannot be read");
    return value;
}

// One value of a reply, as FromWire reads QtDBus's: a variant is unwrapped, an empty array is
// Null, and a type with no automation counterpart is TDispatchError.
TVariant ReadValue(sd_bus_message* m, char type, const char* contents) {
    switch (type) {
    case 'y':
        return static_cast<int32_t>(ReadBasic<uint8_t>(m, type));
    case 'b':
        return ReadBasic<int>(m, type) != 0;
    case 'n':
        return static_cast<int32_t>(ReadBasic<int16_t>(m, type));
    case 'q':
        return static_cast<int32_t>(ReadBasic<uint16_t>(m, type));
    case 'i':
        return ReadBasic<int32_t>(m, type);
    case 'u':
        return FromWhole(ReadBasic<uint32_t>(m, type));
    case 'x':
        return FromWhole(ReadBasic<int64_t>(m, type));
    case 't': {
        const uint64_t value = ReadBasic<uint64_t>(m, type);
        if (value <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
            return static_cast<int32_t>(value);
        return static_cast<double>(value);
    }
    case 'd':
        return ReadBasic<double>(m, type);
    case 's':
    case 'o':
    case 'g':
        return std::string(ReadBasic<const char*>(m, type));
    case 'v': {
        Check(sd_bus_message_enter_container(m, 'v', contents), "a reply value cannot be read");
        char inner = 0;
        const char* innerContents = nullptr;
        Check(sd_bus_message_peek_type(m, &inner, &innerContents), "a reply value cannot be read");
        TVariant value = ReadValue(m, inner, innerContents);
        Check(sd_bus_message_exit_container(m), "a reply value cannot be read");
        return value;
    }
    case 'a':
        Check(sd_bus_message_enter_container(m, 'a', contents), "a reply value cannot be read");
        if (sd_bus_message_at_end(m, false) > 0) {
            Check(sd_bus_message_exit_container(m), "a reply value cannot be read");
            return TNull{};
        }
        [[fallthrough]];
    default:
        throw TDispatchError(kUnexpectedError, std::string("Unsupported value of D-Bus type \"") +
                                                   type + (contents ? contents : "") + "\"");
    }
}

TCallResult ReadReply(sd_bus_message* m) {
    TCallResult result;
    for (bool first = true;; first = false) {
        char type = 0;
        const char* contents = nullptr;
        const int r = sd_bus_message_peek_type(m, &type, &contents);
        Check(r, "a reply value cannot be read");
        if (r == 0)
            return result;
        TVariant value = ReadValue(m, type, contents);
        if (first)
            result.Result = std::move(value);
        else
            result.Outs.push_back(std::move(value));
    }
}

} // namespace

// A call on its way; its reply, once read, is kept here.
class TDirectCall {
public:
    std::string Method;
    int TimeoutMs = 0;
    sd_bus_slot* Slot = nullptr;
    sd_bus_message* Reply = nullptr;
    // The event loop of the wait that serves events for this call, if one does.
    QEventLoop* Loop = nullptr;

    ~TDirectCall() {
        sd_bus_slot_unref(Slot);
        sd_bus_message_unref(Reply);
    }
    static int OnReply(sd_bus_message* m, void* self, sd_bus_error*) {
        auto* call = static_cast<TDirectCall*>(self);
        call->Reply = sd_bus_message_ref(m);
        if (call->Loop != nullptr)
            call->Loop->quit();
        return 0;
    }
};

struct TDirectCalls::TBus {
    sd_bus* Bus = nullptr;
    std::thread::id Thread = std::this_thread::get_id();
    // Set while the socket did not take all that was sent: the rest goes once it can, from the
    // thread's event loop, rather than by blocking the thread until the bus reads.
    std::unique_ptr<QSocketNotifier> Writable;
    ~TBus() { sd_bus_flush_close_unref(Bus); }
};

TDirectCalls* TDirectCalls::Here() {
    // Made once and kept for the process's life: calls may be on their way until its end.
    static TDirectCalls* const calls = []() -> TDirectCalls* {
        RaduvuzBus(); // gives a bus-started process its bus as the session bus
        auto bus = std::make_unique<TBus>();
        const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        int r = 0;
        if (address != nullptr && *address != '\0') {
            r = sd_bus_new(&bus->Bus);
            if (r >= 0)
                r = sd_bus_set_address(bus->Bus, address);
            if (r >= 0)
                r = sd_bus_set_bus_client(bus->Bus, 1);
            if (r >= 0)
                r = sd_bus_start(bus->Bus);
        } else {
            r = sd_bus_open_user(&bus->Bus);
        }
        if (r < 0)
            return nullptr;
        return new TDirectCalls(std::move(bus));
    }();
    if (calls == nullptr || calls->Bus->Thread != std::this_thread::get_id())
        return nullptr;
    return calls;
}

TDirectCalls::TDirectCalls(std::unique_ptr<TBus> bus) : Bus(std::move(bus)) {}

TDirectCalls::~TDirectCalls() = default;

namespace {

sd_bus_message* NewCall(sd_bus* bus, const std::string& service, const std::string& path,
                        const std::string& method, const std::vector<TVariant>& args,
                        const std::string& signature) {
    if (!signature.empty() && signature.size() != args.size())
        throw TDispatchError(kUnexpectedError,
                             "The call " + method + " has " + std::to_string(args.size()) +
                                 " arguments for the types \"" + signature + "\"");
    sd_bus_message* m = nullptr;
    Check(sd_bus_message_new_method_call(bus, &m, service.c_str(), path.c_str(), nullptr,
                                         method.c_str()),
          "The call " + method + " on " + service + path + " cannot be made");
    try {
        for (size_t i = 0; i < args.size(); ++i)
            Append(m, args[i], signature.empty() ? OwnType(args[i]) : signature[i]);
    } catch (...) {
        sd_bus_message_unref(m);
        throw;
    }
    return m;
}

} // namespace

std::shared_ptr<TDirectCall> TDirectCalls::Start(const std::string& service,
                                                 const std::string& path, const std::string& method,
                                                 const std::vector<TVariant>& args,
                                                 const std::string& signature, int timeoutMs) {
    sd_bus_message* m = NewCall(Bus->Bus, service, path, method, args, signature);
    auto call = std::make_shared<TDirectCall>();
    call->Method = method;
    call->TimeoutMs = timeoutMs;
    const int r = sd_bus_call_async(Bus->Bus, &call->Slot, m, &TDirectCall::OnReply, call.get(),
                                    static_cast<uint64_t>(timeoutMs) * 1000);
    sd_bus_message_unref(m);
    Check(r, "The call " + method + " on " + service + path + " could not be sent");
    WriteLater();
    return call;
}

void TDirectCalls::Send(const std::string& service, const std::string& path,
                        const std::string& method, const std::vector<TVariant>& args,
                        const std::string& signature) {
    sd_bus_message* m = NewCall(Bus->Bus, service, path, method, args, signature);
    // Sent without a place for its reply, the call is flagged as wanting none.
    const int r = sd_bus_send(Bus->Bus, m, nullptr);
    sd_bus_message_unref(m);
    Check(r, "The call " + method + " on " + service + path + " could not be sent");
    WriteLater();
}

void TDirectCalls::WriteLater() {
    if ((sd_bus_get_events(Bus->Bus) & POLLOUT) == 0)
        return;
    if (!Bus->Writable) {
        Bus->Writable =
            std::make_unique<QSocketNotifier>(sd_bus_get_fd(Bus->Bus), QSocketNotifier::Write);
        QObject::connect(Bus->Writable.get(), &QSocketNotifier::activated, [this] { Process(); });
    }
    Bus->Writable->setEnabled(true);
}

bool TDirectCalls::Process() {
    for (;;) {
        const int r = sd_bus_process(Bus->Bus, nullptr);
        if (r < 0) {
            if (Bus->Writable)
                Bus->Writable->setEnabled(false);
            return false;
        }
        if (r == 0)
            break;
    }
    if (Bus->Writable)
        Bus->Writable->setEnabled((sd_bus_get_events(Bus->Bus) & POLLOUT) != 0);
    return true;
}

TCallResult TDirectCalls::Wait(TDirectCall& call, const std::string& reference,
                               std::string* owner) {
    QElapsedTimer clock;
    clock.start();
    bool connected = true;
    while (call.Reply == nullptr && connected) {
        connected = Process();
        const uint64_t waited = static_cast<uint64_t>(clock.nsecsElapsed() / 1000);
        if (call.Reply != nullptr || !connected || waited >= kSocketWaitUs)
            break;
        sd_bus_wait(Bus->Bus, kSocketWaitUs - waited);
    }
    if (call.Reply == nullptr && connected) {
        // Long enough to serve what comes meanwhile: the console, and calls to this process,
        // which may make calls of their own on this connection and read this reply with theirs.
        QEventLoop loop;
        call.Loop = &loop;
        QSocketNotifier readable(sd_bus_get_fd(Bus->Bus), QSocketNotifier::Read);
        QObject::connect(&readable, &QSocketNotifier::activated, &loop, [&] {
            if (!Process())
                loop.quit();
        });
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (!Process() || clock.elapsed() >= call.TimeoutMs + kDeadlineSlackMs)
                loop.quit();
        });
        look.start(kLookIntervalMs);
        if (call.Reply == nullptr)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        call.Loop = nullptr;
    }
    if (call.Reply == nullptr) {
        if (!connected || sd_bus_is_open(Bus->Bus) <= 0)
            throw TDispatchError("org.freedesktop.DBus.Error.Disconnected",
                                 "The connection to the bus was lost before " + call.Method +
                                     " on " + reference + " was answered");
        throw TDispatchError("org.freedesktop.DBus.Error.NoReply",
                             "No reply to " + call.Method + " within " +
                                 std::to_string(call.TimeoutMs + kDeadlineSlackMs) + " ms");
    }
    sd_bus_message* reply = call.Reply;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        const sd_bus_error* error = sd_bus_message_get_error(reply);
        std::string name = error && error->name ? error->name : "";
        std::string message = error && error->message ? error->message : "";
        if (name.empty())
            name = kUnexpectedError;
        if (message.empty())
            message = "The call " + call.Method + " on " + reference + " failed";
        throw TDispatchError(name, message);
    }
    if (owner != nullptr) {
        const char* sender = sd_bus_message_get_sender(reply);
        *owner = sender ? sender : "";
    }
    return ReadReply(reply);
}

} // namespace raduvuz
