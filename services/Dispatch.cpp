#include "services/Dispatch.h"

#include "common/CommaText.h"
#include "common/Utils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>

namespace raduvuz {

namespace {

const char* TypeName(const TVariant& v) {
    switch (v.index()) {
    case 0:
        return "Null";
    case 1:
        return "Integer";
    case 2:
        return "Boolean";
    case 3:
        return "String";
    default:
        return "Double";
    }
}

[[noreturn]] void CannotConvert(const TVariant& v, const char* target) {
    throw TDispatchError(kUnexpectedError, std::string("Could not convert variant of type (") +
                                               TypeName(v) + ") into type (" + target + ")");
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool ParseInt(std::string_view text, int32_t& value) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Automation rounds reals to integers half to even.
bool RealToInt(double real, int32_t& value) {
    if (!std::isfinite(real))
        return false;
    double rounded = std::nearbyint(real);
    if (rounded < std::numeric_limits<int32_t>::min() ||
        rounded > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(rounded);
    return true;
}

} // namespace

std::string ErrorNameOfCode(uint32_t code) {
    char text[32];
    std::snprintf(text, sizeof text, "RAduvuz.Error.H%08X", code);
    return text;
}

void CheckTextSize(const std::string& argument, std::string_view text) {
    if (text.size() > kMaxTextBytes)
        throw TInvalidArgument(argument, "a text of " + std::to_string(text.size()) +
                                             " bytes is longer than the " +
                                             std::to_string(kMaxTextBytes) + " bytes allowed");
}

void CheckValueSize(const std::string& argument, const TVariant& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        CheckTextSize(argument, *text);
}

bool IsNull(const TVariant& v) {
    return std::holds_alternative<TNull>(v);
}

int32_t VariantToInt(const TVariant& v) {
    int32_t value = 0;
    if (const auto* i = std::get_if<int32_t>(&v))
        return *i;
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? -1 : 0;
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (ParseInt(*s, value))
            return value;
        if (RealToInt(ReadRealPoint(*s, std::numeric_limits<double>::quiet_NaN()), value))
            return value;
    }
    if (const auto* d = std::get_if<double>(&v)) {
        if (RealToInt(*d, value))
            return value;
    }
    CannotConvert(v, "Integer");
}

bool VariantToBool(const TVariant& v) {
    if (const auto* b = std::get_if<bool>(&v))
        return *b;
    if (const auto* i = std::get_if<int32_t>(&v))
        return *i != 0;
    if (const auto* d = std::get_if<double>(&v))
        return *d != 0;
    if (const auto* s = std::get_if<std::string>(&v)) {
        std::string_view text = Trimmed(*s);
        if (SameTextAscii(text, "true"))
            return true;
        if (SameTextAscii(text, "false"))
            return false;
        int32_t value = 0;
        if (ParseInt(text, value))
            return value != 0;
    }
    CannotConvert(v, "Boolean");
}

std::string VariantToText(const TVariant& v) {
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* i = std::get_if<int32_t>(&v))
        return std::to_string(*i);
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? "True" : "False";
    if (const auto* d = std::get_if<double>(&v))
        return WriteRealPoint(*d);
    CannotConvert(v, "String");
}

namespace {

// A call already made: its result or its error, given when asked for.
class TMadeCall : public IPendingCall {
public:
    explicit TMadeCall(std::function<TCallResult()> call) {
        try {
            Made = call();
        } catch (const TDispatchError&) {
            Error = std::current_exception();
        }
    }
    TCallResult Result() override {
        if (Error)
            std::rethrow_exception(Error);
        return Made;
    }

private:
    TCallResult Made;
    std::exception_ptr Error;
};

} // namespace

TPendingCallPtr IDispatchObject::Post(const std::string& method, const std::vector<TVariant>& args,
                                      const std::string& signature) {
    return std::make_unique<TMadeCall>([&] { return Call(method, args, signature); });
}

TCallResult TInProcessObject::Call(const std::string& method, const std::vector<TVariant>& args,
                                   const std::string&) {
    auto it = Methods.find(method);
    if (it == Methods.end())
        throw TDispatchError(kUnknownMethodError, "No such method \"" + method + "\"");
    try {
        return it->second(args);
    } catch (const TDispatchError&) {
        throw;
    } catch (const std::exception& e) {
        throw TDispatchError(kUnexpectedError, e.what());
    }
}

namespace {

// Listening in process ends when this goes: the object keeps only a weak link.
class TInProcessListening : public TListening {
public:
    explicit TInProcessListening(std::shared_ptr<void> listener) : Listener(std::move(listener)) {}

private:
    std::shared_ptr<void> Listener;
};

} // namespace

TListeningPtr TInProcessObject::Listen(const std::string&, const std::vector<std::string>& members,
                                       TSignalHandler handler) {
    auto listener = std::make_shared<TListener>(TListener{members, std::move(handler)});
    std::erase_if(Listeners, [](const std::weak_ptr<TListener>& l) { return l.expired(); });
    Listeners.push_back(listener);
    return std::make_unique<TInProcessListening>(listener);
}

void TInProcessObject::Emit(const std::string& member, const std::vector<TVariant>& args) {
    // A handler may stop listening or start another listener: go over a copy.
    const std::vector<std::weak_ptr<TListener>> listeners = Listeners;
    for (const std::weak_ptr<TListener>& weak : listeners) {
        const std::shared_ptr<TListener> listener = weak.lock();
        if (listener && std::find(listener->Members.begin(), listener->Members.end(), member) !=
                            listener->Members.end())
            listener->Handler(member, args);
    }
}

} // namespace raduvuz
