#include "tools/memoryman/TMemoryManBus.h"

#include <array>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

namespace raduvuz {

namespace {

constexpr const char* kPath = "/MemoryMan";
constexpr const char* kInterface = "RozEza.MemoryMan";
constexpr const char* kFailed = "RozEza.MemoryMan.Error.Failed";

// A call whose arguments could not be read or whose reply could not be made.
struct TWireError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void Check(int r, const char* what) {
    if (r < 0)
        throw TWireError(std::string(what) + ": " + std::strerror(-r));
}

template <typename... T> void Read(sd_bus_message* m, const char* signature, T*... values) {
    Check(sd_bus_message_read(m, signature, values...), "the arguments cannot be read");
}

std::string Text(sd_bus_message* m) {
    const char* text = nullptr;
    Read(m, "s", &text);
    return text;
}

int32_t Int(sd_bus_message* m) {
    int32_t value = 0;
    Read(m, "i", &value);
    return value;
}

// The first N arguments, each an "i".
template <size_t N> std::array<int32_t, N> Ints(sd_bus_message* m) {
    std::array<int32_t, N> values{};
    for (int32_t& value : values)
        value = Int(m);
    return values;
}

int Reply(sd_bus_message* m) {
    return sd_bus_reply_method_return(m, "");
}

int ReplyBlock(sd_bus_message* m, const TBlockAnswer& a) {
    return sd_bus_reply_method_return(m, "siii", a.Name.c_str(), a.Size, a.Handle, a.Last);
}

// A computer's name, or none: null travels as a variant holding an empty array.
std::optional<std::string> ComputerName(sd_bus_message* m) {
    char type = 0;
    const char* contents = nullptr;
    Check(sd_bus_message_peek_type(m, &type, &contents), "the argument cannot be read");
    if (type != 'v' || contents == nullptr || std::strcmp(contents, "s") != 0)
        return std::nullopt;
    Check(sd_bus_message_enter_container(m, 'v', "s"), "the argument cannot be read");
    return Text(m);
}

} // namespace

struct TMemoryManBus::TMethod {
    const char* Name;
    const char* In;
    const char* Out;
    // The names of the arguments, then of the out values, each ended by a zero.
    const char* Names;
    int (*Run)(TMemoryStore& store, sd_bus_message* m);
};

namespace {

using TMethod = TMemoryManBus::TMethod;

// Every member of /MemoryMan: the contract's, two beyond it that do several of its calls in one
// round trip (see TMemoryStore), and the operator's for the demo, the workflow server and tests.
const TMethod kMethods[] = {
    {"IsMainComputer", "v", "b", "name\0isMain\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         return sd_bus_reply_method_return(m, "b", s.IsMainComputer(ComputerName(m)));
     }},
    {"RNextFindDoc", "ii", "i", "module\0doc\0next\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, doc] = Ints<2>(m);
         return sd_bus_reply_method_return(m, "i", s.RNextFindDoc(module, doc));
     }},
    {"RGetDocDDS", "i", "s", "doc\0dds\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         return sd_bus_reply_method_return(m, "s", s.RGetDocDDS(Int(m)).c_str());
     }},
    {"ROpenDoc", "ii", "si", "module\0doc\0dds\0jobId\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, doc] = Ints<2>(m);
         int32_t job = -1;
         const std::string dds = s.ROpenDoc(module, doc, job);
         return sd_bus_reply_method_return(m, "si", dds.c_str(), job);
     }},
    {"RAbortDoc", "ii", "", "module\0doc\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, doc] = Ints<2>(m);
         s.RAbortDoc(module, doc);
         return Reply(m);
     }},
    {"RCloseDoc", "ii", "", "module\0doc\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, doc] = Ints<2>(m);
         s.RCloseDoc(module, doc);
         return Reply(m);
     }},
    {"RGetBlock", "ii", "siii", "module\0doc\0name\0size\0handle\0last\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, doc] = Ints<2>(m);
         return ReplyBlock(m, s.RGetBlock(module, doc));
     }},
    {"RCloseBlock", "iii", "", "module\0doc\0handle\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, doc, handle] = Ints<3>(m);
         s.RCloseBlock(module, doc, handle);
         return Reply(m);
     }},
    {"RWSwitchBlock", "iii", "siii", "module\0inDoc\0outDoc\0name\0size\0handle\0last\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, in, out] = Ints<3>(m);
         return ReplyBlock(m, s.RWSwitchBlock(module, in, out));
     }},
    {"WCreateDoc", "iiss", "i", "module\0jobId\0dests\0dds\0outDoc\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         int32_t module = 0, job = 0;
         const char* dests = nullptr;
         const char* dds = nullptr;
         Read(m, "iiss", &module, &job, &dests, &dds);
         return sd_bus_reply_method_return(m, "i", s.WCreateDoc(module, job, dests, dds));
     }},
    {"WGetBlock", "ii", "si", "outDoc\0size\0name\0handle\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [out, size] = Ints<2>(m);
         const TBlockAnswer a = s.WGetBlock(out, size);
         return sd_bus_reply_method_return(m, "si", a.Name.c_str(), a.Handle);
     }},
    {"WCloseBlock", "iii", "", "outDoc\0handle\0last\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [out, handle, last] = Ints<3>(m);
         s.WCloseBlock(out, handle, last);
         return Reply(m);
     }},
    {"WCloseDoc", "i", "", "outDoc\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         s.WCloseDoc(Int(m));
         return Reply(m);
     }},
    {"WAbortDoc", "i", "", "outDoc\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         s.WAbortDoc(Int(m));
         return Reply(m);
     }},
    {"IsDocForExists", "i", "b", "dest\0exists\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         return sd_bus_reply_method_return(m, "b", s.IsDocForExists(Int(m)));
     }},
    {"RNextFindDocDDS", "ii", "is", "module\0doc\0next\0dds\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, doc] = Ints<2>(m);
         std::string dds;
         const int32_t next = s.RNextFindDocDDS(module, doc, dds);
         return sd_bus_reply_method_return(m, "is", next, dds.c_str());
     }},
    {"WFinishDoc", "iiii", "", "module\0inDoc\0outDoc\0handle\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const auto [module, in, out, handle] = Ints<4>(m);
         s.WFinishDoc(module, in, out, handle);
         return Reply(m);
     }},
    {"PutFile", "ssii", "i", "path\0dds\0blockSize\0destModule\0doc\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const char* path = nullptr;
         const char* dds = nullptr;
         int32_t blockSize = 0, dest = 0;
         Read(m, "ssii", &path, &dds, &blockSize, &dest);
         return sd_bus_reply_method_return(m, "i", s.PutFile(path, dds, blockSize, dest));
     }},
    {"ListDocs", "", "s", "list\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         return sd_bus_reply_method_return(m, "s", s.ListDocs().c_str());
     }},
    {"TakeFinished", "is", "as", "destModule\0folder\0files\0",
     [](TMemoryStore& s, sd_bus_message* m) {
         const int32_t dest = Int(m);
         const std::vector<std::string> files = s.TakeFinished(dest, Text(m));
         sd_bus_message* reply = nullptr;
         Check(sd_bus_message_new_method_return(m, &reply), "no reply");
         std::vector<const char*> list;
         for (const std::string& f : files)
             list.push_back(f.c_str());
         list.push_back(nullptr);
         int r = sd_bus_message_append_strv(reply, const_cast<char**>(list.data()));
         if (r >= 0)
             r = sd_bus_send(nullptr, reply, nullptr);
         sd_bus_message_unref(reply);
         return r;
     }},
};

const TMethod* FindMethod(const char* member) {
    for (const TMethod& method : kMethods)
        if (member != nullptr && std::strcmp(method.Name, member) == 0)
            return &method;
    return nullptr;
}

int OnStop(sd_event_source* source, const signalfd_siginfo*, void* verbose) {
    if (*static_cast<bool*>(verbose))
        std::cerr << "memoryman: signal, ending\n";
    return sd_event_exit(sd_event_source_get_event(source), 0);
}

} // namespace

TMemoryManBus::TMemoryManBus(TMemoryStore& store, bool sendSignals)
    : Store(store), SendSignals(sendSignals) {
    const sd_bus_vtable start = SD_BUS_VTABLE_START(0);
    Table.push_back(start);
    // Who may call the store is the bus's business, as it is for every peer here. Without this
    // flag sd-bus asks the bus daemon for the caller's user, and waits for it, on every call
    // that names the interface.
    for (const TMethod& m : kMethods) {
        const sd_bus_vtable method = SD_BUS_METHOD_WITH_NAMES(
            m.Name, m.In, , m.Out, m.Names, &TMemoryManBus::OnMethod, SD_BUS_VTABLE_UNPRIVILEGED);
        Table.push_back(method);
    }
    if (SendSignals) {
        const sd_bus_vtable signals[] = {
            SD_BUS_SIGNAL_WITH_NAMES("DocumentAvailable", "ii", "module\0doc\0", 0),
            SD_BUS_SIGNAL_WITH_NAMES("DocumentTaken", "ii", "dest\0doc\0", 0),
            SD_BUS_SIGNAL_WITH_NAMES("DocumentClosed", "ib", "doc\0aborted\0", 0),
            SD_BUS_SIGNAL("MemoryFreed", "", 0)};
        Table.insert(Table.end(), std::begin(signals), std::end(signals));
        Store.Events.DocumentAvailable = [this](int32_t module, int32_t doc) {
            Emit("DocumentAvailable", "ii", module, doc);
        };
        Store.Events.DocumentTaken = [this](int32_t dest, int32_t doc) {
            Emit("DocumentTaken", "ii", dest, doc);
        };
        Store.Events.DocumentClosed = [this](int32_t doc, bool aborted) {
            Emit("DocumentClosed", "ib", doc, static_cast<int>(aborted));
        };
        Store.Events.MemoryFreed = [this] { Emit("MemoryFreed", ""); };
    }
    const sd_bus_vtable end = SD_BUS_VTABLE_END;
    Table.push_back(end);
}

TMemoryManBus::~TMemoryManBus() {
    Store.Events = TStoreEvents{};
    for (auto& [peer, slot] : Peers)
        sd_bus_slot_unref(slot);
    if (Bus != nullptr)
        sd_bus_flush_close_unref(Bus);
    if (Loop != nullptr)
        sd_event_unref(Loop);
}

std::string TMemoryManBus::Start() {
    // A store the bus started serves the bus that started it, as the bus's own clients do.
    const char* address = std::getenv("DBUS_STARTER_ADDRESS");
    if (address == nullptr || *address == '\0')
        address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    int r = 0;
    if (address != nullptr && *address != '\0') {
        r = sd_bus_new(&Bus);
        if (r >= 0)
            r = sd_bus_set_address(Bus, address);
        if (r >= 0)
            r = sd_bus_set_bus_client(Bus, 1);
        if (r >= 0)
            r = sd_bus_start(Bus);
    } else {
        r = sd_bus_open_user(&Bus);
    }
    if (r < 0)
        return std::string("cannot connect to the bus: ") + std::strerror(-r);
    if (sd_bus_add_object_vtable(Bus, nullptr, kPath, kInterface, Table.data(), this) < 0 ||
        sd_bus_add_object(Bus, nullptr, kPath, &TMemoryManBus::OnUnnamedInterface, this) < 0)
        return std::string("cannot export ") + kPath;
    // Once the name is ours the object answers, so a waiting client can call at once.
    r = sd_bus_request_name(Bus, kInterface, 0);
    if (r == -EEXIST || r == 0)
        return "the name RozEza.MemoryMan is taken on this bus";
    if (r < 0)
        return std::string("cannot take the name RozEza.MemoryMan: ") + std::strerror(-r);
    return {};
}

void TMemoryManBus::Run(bool verbose) {
    Check(sd_event_new(&Loop), "no event loop");
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        Check(sd_event_add_signal(Loop, nullptr, s, OnStop, &verbose), "no signal handling");
    Check(sd_bus_attach_event(Bus, Loop, SD_EVENT_PRIORITY_NORMAL), "cannot serve the bus");
    // A bus that goes away takes the store with it, so no block outlives its users.
    sd_bus_set_exit_on_disconnect(Bus, 1);
    sd_event_loop(Loop);
    sd_bus_detach_event(Bus);
}

int TMemoryManBus::OnMethod(sd_bus_message* m, void* self, sd_bus_error*) {
    // The vtable holds the members of kMethods only.
    const TMethod* method = FindMethod(sd_bus_message_get_member(m));
    if (method == nullptr)
        return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_METHOD, "No member %s",
                                          sd_bus_message_get_member(m));
    return static_cast<TMemoryManBus*>(self)->Serve(m, *method);
}

// Calls by member name alone, as the module makes them: the vtable above only sees calls that
// name the interface.
int TMemoryManBus::OnUnnamedInterface(sd_bus_message* m, void* self, sd_bus_error*) {
    if (!sd_bus_message_is_method_call(m, nullptr, nullptr) ||
        sd_bus_message_get_interface(m) != nullptr)
        return 0;
    const TMethod* method = FindMethod(sd_bus_message_get_member(m));
    if (method == nullptr)
        return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_METHOD, "No member %s at %s",
                                          sd_bus_message_get_member(m), kPath);
    if (sd_bus_message_has_signature(m, method->In) <= 0)
        return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_INVALID_ARGS, "%s takes (%s), not (%s)",
                                          method->Name, method->In,
                                          sd_bus_message_get_signature(m, 1));
    return static_cast<TMemoryManBus*>(self)->Serve(m, *method);
}

int TMemoryManBus::Serve(sd_bus_message* m, const TMethod& method) {
    Track(m);
    std::string name, what;
    try {
        const int r = method.Run(Store, m);
        if (r >= 0)
            return r;
        name = kFailed;
        what = std::string("the reply to ") + method.Name + " cannot be made: " + std::strerror(-r);
    } catch (const TStoreError& e) {
        name = e.ErrorName();
        what = e.what();
        if (Store.Log)
            Store.Log(name + ": " + what);
    } catch (const TWireError& e) {
        name = SD_BUS_ERROR_INVALID_ARGS;
        what = e.what();
    } catch (const std::exception& e) {
        name = kFailed;
        what = e.what();
    }
    return sd_bus_reply_method_errorf(m, name.c_str(), "%s", what.c_str());
}

void TMemoryManBus::Track(sd_bus_message* m) {
    const char* sender = sd_bus_message_get_sender(m);
    const std::string peer = sender != nullptr ? sender : "";
    Store.SetCaller(peer);
    if (peer.empty() || Peers.count(peer) != 0)
        return;
    sd_bus_slot* slot = nullptr;
    const std::string rule = "type='signal',sender='org.freedesktop.DBus',interface='org."
                             "freedesktop.DBus',member='NameOwnerChanged',arg0='" +
                             peer + "'";
    if (sd_bus_add_match_async(Bus, &slot, rule.c_str(), &TMemoryManBus::OnOwnerChanged, nullptr,
                               this) < 0)
        return;
    Peers[peer] = slot;
    // The connection may have left before the match was set; then nobody would say so. The bus
    // answers this after it has set the match.
    auto* question = new TOwnerQuestion{this, peer};
    sd_bus_slot* asked = nullptr;
    if (sd_bus_call_method_async(Bus, &asked, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", "NameHasOwner",
                                 &TMemoryManBus::OnOwnerAnswer, question, "s", peer.c_str()) < 0) {
        delete question;
        return;
    }
    // The bus keeps the question until it is answered or the connection closes.
    sd_bus_slot_set_destroy_callback(asked,
                                     [](void* q) { delete static_cast<TOwnerQuestion*>(q); });
    sd_bus_slot_set_floating(asked, 1);
    sd_bus_slot_unref(asked);
}

int TMemoryManBus::OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
    const char* name = nullptr;
    const char* before = nullptr;
    const char* after = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 && *after == '\0')
        static_cast<TMemoryManBus*>(self)->PeerLeft(name);
    return 0;
}

int TMemoryManBus::OnOwnerAnswer(sd_bus_message* m, void* question, sd_bus_error*) {
    const auto* q = static_cast<const TOwnerQuestion*>(question);
    int present = 1;
    if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_read(m, "b", &present) >= 0 &&
        !present)
        q->Self->PeerLeft(q->Peer);
    return 0;
}

void TMemoryManBus::PeerLeft(const std::string& peer) {
    auto it = Peers.find(peer);
    if (it == Peers.end())
        return;
    sd_bus_slot_unref(it->second);
    Peers.erase(it);
    Store.SetCaller(std::string());
    Store.PeerGone(peer);
}

void TMemoryManBus::Emit(const char* member, const char* signature, ...) {
    va_list args;
    va_start(args, signature);
    sd_bus_message* signal = nullptr;
    int r = sd_bus_message_new_signal(Bus, &signal, kPath, kInterface, member);
    if (r >= 0)
        r = sd_bus_message_appendv(signal, signature, args);
    if (r >= 0)
        r = sd_bus_send(Bus, signal, nullptr);
    va_end(args);
    sd_bus_message_unref(signal);
    if (r < 0 && Store.Notice)
        Store.Notice(std::string("the signal ") + member +
                     " could not be sent: " + std::strerror(-r));
}

} // namespace raduvuz
