#pragma once

// HTTPS through libmicrohttpd (TLS by its GnuTLS): one daemon with its own polling thread per
// listening address. The built-in files are answered on that thread; every request under /api/
// is handed, whole, to the gateway's thread: its connection is suspended until the gateway
// answers, so that a slow module holds up no other request. An event stream is a response whose
// connection sleeps (suspended) until there is something to send.

#include "tools/web/TlsCertificate.h"

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

struct MHD_Connection;
struct MHD_Daemon;

namespace raduvuz::web {

struct THttpRequest {
    std::string Method;
    // Unescaped by the library, without the query.
    std::string Path;
    std::vector<std::pair<std::string, std::string>> Query;
    std::string SessionCookie;
    std::string CsrfHeader;
    std::string AcceptLanguage;
    // An Authorization header was sent; HTTP Basic credentials when it was one.
    bool Authorization = false;
    bool Basic = false;
    std::string BasicUser;
    std::string BasicPassword;
    std::string ClientAddress;
    std::string Body;
};

struct THttpResponse {
    int Status = 200;
    std::string ContentType = "application/json";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
};

// A JSON error answer {"error": name, "message": text}.
THttpResponse ErrorResponse(int status, const std::string& name, const std::string& message);
// A text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// Text for a browser that keeps the connection: Send from any thread; the connection's thread
// takes it as the client can.
class TEventStream {
public:
    // False once the stream is over (the client left, it was closed, or it fell too far behind).
    bool Send(const std::string& text);
    void Close();
    bool Over() const;

    // The connection's side.
    void Attach(MHD_Connection* connection);
    void Detach();
    ssize_t Read(char* buffer, size_t max);

private:
    // A client that takes nothing while this much waits is dropped; its page reconnects and
    // loads afresh.
    static constexpr size_t kMaxPending = 8 << 20;
    mutable std::mutex Lock;
    MHD_Connection* Connection = nullptr;
    std::string Pending;
    bool Suspended = false;
    bool Closed = false;
    bool Gone = false;
};

class THttpServer;

// One request the gateway answers, once, from its own thread.
class TExchange {
public:
    const THttpRequest& Request() const { return Req; }
    void Respond(THttpResponse response);
    // Answers with an event stream (head's status and headers) and gives the stream.
    std::shared_ptr<TEventStream> Stream(THttpResponse head);

private:
    friend class THttpServer;
    THttpRequest Req;
    THttpServer* Server = nullptr;
    std::mutex Lock;
    MHD_Connection* Connection = nullptr;
    bool Suspended = false;
    bool Answered = false;
    THttpResponse Response;
    std::shared_ptr<TEventStream> StreamOut;
};

class THttpServer {
public:
    using THandler = std::function<void(std::shared_ptr<TExchange>)>;
    // Runs a function on the gateway's thread.
    using TPoster = std::function<void(std::function<void()>)>;
    static constexpr size_t kMaxBody = 1 << 20;

    THttpServer(TPoster post, THandler handler);
    ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // Listens on each "ADDR:PORT" ("[::1]:8632" for IPv6; port 0 takes a free one) and serves
    // TLS 1.2 or later only; the https URL of each. Throws TSetupError naming the address.
    std::vector<std::string> Start(const std::vector<std::string>& listen, const TTlsMaterial& tls);
    // Answers every request still waiting with 503, ends the streams, stops listening.
    void Stop();

    // The library's callbacks, on a daemon's thread.
    bool OnAccess(MHD_Connection* connection, const char* url, const char* method,
                  const char* upload, size_t* uploadSize, void** state);
    void OnCompleted(void** state);

private:
    friend class TExchange;
    bool Dispatch(MHD_Connection* connection, const std::shared_ptr<TExchange>& exchange);
    void Wake(TExchange& exchange);

    TPoster Post;
    THandler Handler;
    TTlsMaterial Tls;
    std::vector<MHD_Daemon*> Daemons;
    std::mutex Lock;
    bool Stopping = false;
    std::set<std::shared_ptr<TExchange>> Waiting;
    std::vector<std::weak_ptr<TEventStream>> Streams;
};

} // namespace raduvuz::web
