#pragma once

#include "tools/memoryman/TMemoryStore.h"

#include <map>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

namespace raduvuz {

// The store's D-Bus face at /MemoryMan, served on one thread: the thread that wakes for a call
// reads it, asks TMemoryStore, and writes the reply or the error named after the store's refusal.
// No call is handed from a bus thread to another on the way; each such hand-over cost about as
// much as the daemon's own routing, on every one of the dozens of calls a document takes.
// Members are found by name, so calls without an interface name reach them too. It watches
// every connection that calls it, tells the store when one leaves the bus, and sends the store's
// events as signals.
class TMemoryManBus {
public:
    // A member of /MemoryMan: its signature, and how it is served.
    struct TMethod;

    // Without sendSignals the store behaves as one that has none (for tests of the fallback).
    TMemoryManBus(TMemoryStore& store, bool sendSignals);
    ~TMemoryManBus();
    TMemoryManBus(const TMemoryManBus&) = delete;
    TMemoryManBus& operator=(const TMemoryManBus&) = delete;

    // Connects to the bus that started the store, else the session bus, exports /MemoryMan and
    // takes the name RozEza.MemoryMan. Empty when it serves, else what went wrong.
    std::string Start();
    // Serves until SIGTERM, SIGINT or SIGHUP, or until the bus goes away.
    void Run(bool verbose);

private:
    static int OnMethod(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnUnnamedInterface(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error* error);
    // Whether a peer seen for the first time still has its connection.
    struct TOwnerQuestion {
        TMemoryManBus* Self;
        std::string Peer;
    };
    static int OnOwnerAnswer(sd_bus_message* m, void* question, sd_bus_error* error);
    // Runs method, the member m names, and sends its reply or error.
    int Serve(sd_bus_message* m, const TMethod& method);
    // Tells the store who calls, and starts watching a connection seen for the first time.
    void Track(sd_bus_message* m);
    void PeerLeft(const std::string& peer);
    void Emit(const char* member, const char* signature, ...);

    TMemoryStore& Store;
    bool SendSignals;
    sd_bus* Bus = nullptr;
    sd_event* Loop = nullptr;
    std::vector<sd_bus_vtable> Table;
    // The match that tells when each calling connection leaves.
    std::map<std::string, sd_bus_slot*> Peers;
};

} // namespace raduvuz
