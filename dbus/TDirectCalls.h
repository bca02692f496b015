#pragma once

// Calls on a bus connection of their own (sd-bus) that the calling thread reads itself. With
// QtDBus a reply is read by the library's bus thread and handed to the waiting thread through
// its event queue; on the store's dozens of calls per document those hand-overs cost as much as
// the bus daemon's routing. Here the waiting thread reads the reply from the socket: it first
// waits on the socket alone for a short while, as nearly every reply comes within it, and then
// serves events, as a QtDBus call's wait does, until the reply or the deadline.

#include "services/Dispatch.h"

#include <memory>
#include <string>
#include <vector>

namespace raduvuz {

class TDirectCall;

class TDirectCalls {
public:
    // The connection of this process, made at the first use; null when it cannot be made (the
    // caller then takes QtDBus's way) or when called from another thread than the first.
    static TDirectCalls* Here();

    // Sends a call that wants its reply; TDispatchError when it cannot be sent.
    std::shared_ptr<TDirectCall> Start(const std::string& service, const std::string& path,
                                       const std::string& method, const std::vector<TVariant>& args,
                                       const std::string& signature, int timeoutMs);
    // Sends a call flagged as wanting no reply.
    void Send(const std::string& service, const std::string& path, const std::string& method,
              const std::vector<TVariant>& args, const std::string& signature);
    // Waits for the call's reply: its values, or TDispatchError with the error's name and
    // message. owner becomes the unique name that answered.
    TCallResult Wait(TDirectCall& call, const std::string& reference, std::string* owner);

    ~TDirectCalls();
    TDirectCalls(const TDirectCalls&) = delete;
    TDirectCalls& operator=(const TDirectCalls&) = delete;

private:
    struct TBus;
    explicit TDirectCalls(std::unique_ptr<TBus> bus);
    // Reads and dispatches what the socket holds and writes what waits to be sent; false once
    // the connection is lost.
    bool Process();
    // Has what the socket did not take yet written once it can.
    void WriteLater();
    std::unique_ptr<TBus> Bus;
};

} // namespace raduvuz
