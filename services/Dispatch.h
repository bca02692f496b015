#pragma once

// The services layer: late-bound calls to objects outside the module, and the typed clients of
// the document store and the workflow server over them. It includes common/ and platform/; the
// D-Bus binding lives in dbus/, so no Qt here.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace raduvuz {

// An automation value: Null, a 32-bit integer, a boolean, a text or a real.
struct TNull {
    bool operator==(const TNull&) const = default;
};
using TVariant = std::variant<TNull, int32_t, bool, std::string, double>;

bool IsNull(const TVariant& v);
// Conversions as automation does them; TDispatchError when the value cannot be converted.
int32_t VariantToInt(const TVariant& v);
bool VariantToBool(const TVariant& v);
std::string VariantToText(const TVariant& v);

// Error names of failed automation calls: E_UNEXPECTED, a call refused for one of its arguments,
// or an exception's own code.
inline constexpr const char* kUnexpectedError = "RAduvuz.Error.Unexpected";
inline constexpr const char* kInvalidArgsError = "RAduvuz.Error.InvalidArgs";
// The bus's answer to a method the object does not have.
inline constexpr const char* kUnknownMethodError = "org.freedesktop.DBus.Error.UnknownMethod";
// "RAduvuz.Error.H8000FFFF": the code as 8 upper-case hex digits after an "H", since an element
// of a bus name may not begin with a digit.
std::string ErrorNameOfCode(uint32_t code);

// The longest text an automation call takes in any argument.
inline constexpr size_t kMaxTextBytes = 1024 * 1024;

// A failed call: the error name (e.g. "RAduvuz.Error.Unexpected") and the message.
class TDispatchError : public std::runtime_error {
public:
    TDispatchError(std::string name, const std::string& message)
        : std::runtime_error(message), Name(std::move(name)) {}
    std::string Name;
};

// A call refused because of one of its arguments: RAduvuz.Error.InvalidArgs, and the message
// names the argument ("Key: ...").
class TInvalidArgument : public TDispatchError {
public:
    TInvalidArgument(const std::string& argument, const std::string& problem)
        : TDispatchError(kInvalidArgsError, argument + ": " + problem) {}
};

// TInvalidArgument when text is longer than kMaxTextBytes.
void CheckTextSize(const std::string& argument, std::string_view text);
// The same for a value that is a text.
void CheckValueSize(const std::string& argument, const TVariant& value);

struct TCallResult {
    TVariant Result;            // the method's result, Null for none
    std::vector<TVariant> Outs; // out values in the order of the contract
};

// Told of one signal of an object: its member name and its arguments.
using TSignalHandler =
    std::function<void(const std::string& member, const std::vector<TVariant>& args)>;

// Keeps a signal handler registered with its object; destroying it lets go of the handler.
class TListening {
public:
    virtual ~TListening() = default;
};
using TListeningPtr = std::unique_ptr<TListening>;

// A call sent without waiting for its reply: the caller goes on and looks at the answer later.
class IPendingCall {
public:
    virtual ~IPendingCall() = default;
    // The call's result, waiting for it if it has not come yet; throws TDispatchError as Call
    // would have.
    virtual TCallResult Result() = 0;
};
using TPendingCallPtr = std::unique_ptr<IPendingCall>;

// A late-bound object: a method called by name with variant arguments.
class IDispatchObject {
public:
    virtual ~IDispatchObject() = default;
    // Throws TDispatchError when the call fails or the object cannot be reached. signature gives
    // the wire type of each argument ("i", "b", "s", "d", or "v" for a variant); empty: each
    // value travels as its own type and Null as a variant.
    virtual TCallResult Call(const std::string& method, const std::vector<TVariant>& args,
                             const std::string& signature) = 0;
    TCallResult Call(const std::string& method, const std::vector<TVariant>& args) {
        return Call(method, args, std::string());
    }
    // Sends a call whose method answers nothing without waiting for its reply. Calls and sends
    // to one object arrive in the order they were made. Throws TDispatchError when the call
    // cannot be sent; what the method itself makes of it is not seen. A binding without a way
    // to send makes the call and drops its result.
    virtual void Send(const std::string& method, const std::vector<TVariant>& args,
                      const std::string& signature) {
        Call(method, args, signature);
    }
    // Sends a call and leaves its reply for later; calls and sends to one object arrive in the
    // order they were made, so the reply is there by the time a later call's reply is. A binding
    // that cannot do so makes the call at once and keeps its result or its error.
    virtual TPendingCallPtr Post(const std::string& method, const std::vector<TVariant>& args,
                                 const std::string& signature);
    // Asks to be told of the object's signals named members of interface. The handler runs on
    // the user-interface thread whenever events are handled, also while a call waits for its
    // reply. None when the binding has no signals; an object that never sends them simply
    // never calls the handler.
    virtual TListeningPtr Listen(const std::string& interface,
                                 const std::vector<std::string>& members, TSignalHandler handler) {
        (void)interface;
        (void)members;
        (void)handler;
        return nullptr;
    }
    // The reference text that names the object to another process ("busname/path"), if any.
    virtual std::string Reference() const { return {}; }
    // Whether the process that answered this object's calls has left since: nobody owns the
    // object's name any more, or another process does. A binding that cannot tell says no.
    virtual bool PeerGone() { return false; }
    // Whether somebody owns the object's name now (a binding that cannot tell says yes); the
    // owner found is the one PeerGone compares with from now on.
    virtual bool PeerPresent() { return true; }
    // Tells handler whenever the object's name loses its owner (false) or gets one (true),
    // while the result lives; none when the binding cannot watch.
    virtual TListeningPtr WatchPeer(std::function<void(bool present)> handler) {
        (void)handler;
        return nullptr;
    }
    // How long a call waits for the object's answer before it fails; an object in this process
    // answers at once and has no use for it.
    virtual void SetReplyDeadlineMs(int) {}
};
using TDispatchPtr = std::shared_ptr<IDispatchObject>;

// In-process binding: methods are functions registered by name (tests and embedding). A send
// runs the method at once, like a call; Emit tells the listeners of a signal at once.
class TInProcessObject : public IDispatchObject {
public:
    using TMethod = std::function<TCallResult(const std::vector<TVariant>&)>;
    void Define(const std::string& method, TMethod body) { Methods[method] = std::move(body); }
    using IDispatchObject::Call;
    TCallResult Call(const std::string& method, const std::vector<TVariant>& args,
                     const std::string& signature) override;
    TListeningPtr Listen(const std::string& interface, const std::vector<std::string>& members,
                         TSignalHandler handler) override;
    // The object sends the signal member with args to every listener of that member.
    void Emit(const std::string& member, const std::vector<TVariant>& args);

private:
    struct TListener {
        std::vector<std::string> Members;
        TSignalHandler Handler;
    };
    std::map<std::string, TMethod> Methods;
    std::vector<std::weak_ptr<TListener>> Listeners;
};

} // namespace raduvuz
