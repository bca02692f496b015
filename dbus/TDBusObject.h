#pragma once

// The D-Bus binding (QtDBus) beside the core: services/' late-bound objects over the bus and
// the wire form of automation values. It includes services/ and the layers below; nothing of
// the core includes it: app/ hands it to the module as the object factory.

#include "services/Dispatch.h"

#include <QDBusMessage>

#include <functional>
#include <string>

namespace raduvuz {

// A dispatch object on the bus, named by its bus name and object path. Methods are called by
// member name with no interface name. A call waits for its reply in a local event loop, so
// incoming calls are served meanwhile and calls may nest in both directions. A send goes out
// flagged as wanting no reply and is not waited for. Signals are listened to by match rules on
// the object's bus name and path; a peer that has no such signals simply never sends one.
class TDBusObject : public IDispatchObject {
public:
    // With direct, calls take TDirectCalls's connection, as those of an object made by ProgID.
    TDBusObject(std::string service, std::string path, bool direct = false);

    // "busname/path", split at the first "/"; TDispatchError when the text is not a reference.
    static TDispatchPtr FromReference(const std::string& reference);
    // The same for a reference given as the argument named argument, whose bus name must have
    // an owner right now: TInvalidArgument naming the argument otherwise.
    static TDispatchPtr FromOwnedReference(const std::string& reference,
                                           const std::string& argument);
    // The object of a ProgID ("RozEza.MemoryMan": bus name RozEza.MemoryMan, object /MemoryMan),
    // started by bus activation when nobody owns the name yet; TDispatchError when it cannot be.
    // Its calls take the direct way (TDirectCalls): the calling thread reads their replies.
    static TDispatchPtr Create(const std::string& progId);

    using IDispatchObject::Call;
    TCallResult Call(const std::string& method, const std::vector<TVariant>& args,
                     const std::string& signature) override;
    void Send(const std::string& method, const std::vector<TVariant>& args,
              const std::string& signature) override;
    TPendingCallPtr Post(const std::string& method, const std::vector<TVariant>& args,
                         const std::string& signature) override;
    TListeningPtr Listen(const std::string& interface, const std::vector<std::string>& members,
                         TSignalHandler handler) override;
    std::string Reference() const override { return Service + Path; }
    // The unique name that answered the last call is the peer; it is gone once the name has no
    // owner or another one.
    bool PeerGone() override;
    bool PeerPresent() override;
    TListeningPtr WatchPeer(std::function<void(bool present)> handler) override;
    // This object's calls wait so long instead of the usual 25 s; a peer that leaves the bus
    // fails a call at once either way.
    void SetReplyDeadlineMs(int ms) override { DeadlineMs = ms; }

    // Calls of this process that wait for their replies right now, and RunAside's waits.
    static int PendingCalls();
    // Runs work on a thread of its own and serves events until it ends, as a call waits for its
    // reply; work must not touch what the events may change.
    static bool RunAside(const std::function<bool()>& work);

private:
    int CallTimeoutMs() const;
    QDBusMessage MakeCall(const std::string& method, const std::vector<TVariant>& args,
                          const std::string& signature) const;

    std::string Service;
    std::string Path;
    int DeadlineMs = 0;
    // The unique bus name of the process that answered this object's last call.
    std::string LastOwner;
    // Calls, sends and posts go over TDirectCalls's connection (in the order they are made).
    bool Direct = false;
};

} // namespace raduvuz
