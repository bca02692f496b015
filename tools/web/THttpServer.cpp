#include "tools/web/THttpServer.h"

#include "tools/web/WebFiles.h"
#include "tools/web/WebPaths.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace raduvuz::web {

namespace {

constexpr const char* kTlsPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
// A body without a length that goes on past this is cut off with the connection.
constexpr size_t kMaxDiscarded = 16 * THttpServer::kMaxBody;

// What every answer carries: nothing from other hosts, no framing, no guessing of types.
const std::pair<const char*, const char*> kSecurityHeaders[] = {
    {"Content-Security-Policy",
     "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; "
     "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
};

struct TConnectionState {
    std::shared_ptr<TExchange> Exchange;
    size_t Received = 0;
    bool TooLarge = false;
    bool Dispatched = false;
};

std::string Lookup(MHD_Connection* connection, MHD_ValueKind kind, const char* key) {
    const char* value = MHD_lookup_connection_value(connection, kind, key);
    return value ? value : "";
}

MHD_Result AddQuery(void* cls, MHD_ValueKind, const char* key, const char* value) {
    static_cast<THttpRequest*>(cls)->Query.emplace_back(key ? key : "", value ? value : "");
    return MHD_YES;
}

std::string ClientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return "unknown";
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                    sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const in6_addr& six = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        // An IPv4 client of a dual-stack socket counts as its IPv4 address.
        if (IN6_IS_ADDR_V4MAPPED(&six))
            ::inet_ntop(AF_INET, &six.s6_addr[12], text, sizeof text);
        else
            ::inet_ntop(AF_INET6, &six, text, sizeof text);
    }
    return text[0] ? text : "unknown";
}

MHD_Response* Made(const THttpResponse& answer) {
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.Body.size(), const_cast<char*>(answer.Body.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.ContentType.c_str());
    return response;
}

bool Queue(MHD_Connection* connection, const THttpResponse& answer, MHD_Response* response) {
    for (const auto& [name, value] : kSecurityHeaders)
        MHD_add_response_header(response, name, value);
    for (const auto& [name, value] : answer.Headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.Status), response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

bool Queue(MHD_Connection* connection, const THttpResponse& answer) {
    return Queue(connection, answer, Made(answer));
}

const TWebFile* PageFile(const std::string& path) {
    const std::string name = path == "/" ? "/index.html" : path;
    for (const TWebFile& file : PageFiles()) {
        if (name == file.Name)
            return &file;
    }
    return nullptr;
}

ssize_t ReadStream(void* cls, uint64_t, char* buffer, size_t max) {
    return (*static_cast<std::shared_ptr<TEventStream>*>(cls))->Read(buffer, max);
}

void FreeStream(void* cls) {
    auto* stream = static_cast<std::shared_ptr<TEventStream>*>(cls);
    (*stream)->Detach();
    delete stream;
}

MHD_Result AccessCallback(void* self, MHD_Connection* connection, const char* url,
                          const char* method, const char*, const char* upload, size_t* uploadSize,
                          void** state) {
    return static_cast<THttpServer*>(self)->OnAccess(connection, url, method, upload, uploadSize,
                                                     state)
               ? MHD_YES
               : MHD_NO;
}

void CompletedCallback(void* self, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    static_cast<THttpServer*>(self)->OnCompleted(state);
}

// A listening socket for "ADDR:PORT"; the URL it serves at.
int Listen(const std::string& listen, std::string& url) {
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == listen.size())
        throw TSetupError("--listen " + listen + ": expected ADDRESS:PORT, e.g. 0.0.0.0:8632");
    std::string host = listen.substr(0, colon);
    const std::string port = listen.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int looked = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (looked != 0)
        throw TSetupError("--listen " + listen + ": " + ::gai_strerror(looked));
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ::freeaddrinfo(found);
        throw TSetupError("--listen " + listen + ": " + std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // [::] and 0.0.0.0 may both be given: each socket takes its own family.
    if (found->ai_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    const bool bound = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 64) == 0;
    const int error = errno;
    ::freeaddrinfo(found);
    if (!bound) {
        ::close(fd);
        throw TSetupError("cannot listen on " + listen + ": " + std::strerror(error));
    }
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    char text[INET6_ADDRSTRLEN] = {};
    int actualPort = 0;
    if (address.ss_family == AF_INET6) {
        const auto* six = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &six->sin6_addr, text, sizeof text);
        actualPort = ntohs(six->sin6_port);
        url = "https://[" + std::string(text) + "]:" + std::to_string(actualPort) + "/";
    } else {
        const auto* four = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &four->sin_addr, text, sizeof text);
        actualPort = ntohs(four->sin_port);
        url = "https://" + std::string(text) + ":" + std::to_string(actualPort) + "/";
    }
    return fd;
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}

THttpResponse ErrorResponse(int status, const std::string& name, const std::string& message) {
    THttpResponse response;
    response.Status = status;
    response.Body = "{\"error\":" + JsonString(name) + ",\"message\":" + JsonString(message) + "}";
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

bool TEventStream::Send(const std::string& text) {
    const std::lock_guard<std::mutex> hold(Lock);
    if (Gone || Closed)
        return false;
    Pending += text;
    if (Pending.size() > kMaxPending) {
        Pending.clear();
        Closed = true;
    }
    if (Suspended && Connection) {
        Suspended = false;
        MHD_resume_connection(Connection);
    }
    return !Closed;
}

void TEventStream::Close() {
    const std::lock_guard<std::mutex> hold(Lock);
    Closed = true;
    if (Suspended && Connection) {
        Suspended = false;
        MHD_resume_connection(Connection);
    }
}

bool TEventStream::Over() const {
    const std::lock_guard<std::mutex> hold(Lock);
    return Gone || Closed;
}

void TEventStream::Attach(MHD_Connection* connection) {
    const std::lock_guard<std::mutex> hold(Lock);
    Connection = connection;
}

void TEventStream::Detach() {
    const std::lock_guard<std::mutex> hold(Lock);
    Gone = true;
    Connection = nullptr;
    Pending.clear();
}

ssize_t TEventStream::Read(char* buffer, size_t max) {
    const std::lock_guard<std::mutex> hold(Lock);
    if (!Pending.empty()) {
        const size_t n = std::min(max, Pending.size());
        std::memcpy(buffer, Pending.data(), n);
        Pending.erase(0, n);
        return static_cast<ssize_t>(n);
    }
    if (Closed || !Connection)
        return MHD_CONTENT_READER_END_OF_STREAM;
    // Nothing to send: the connection sleeps until Send wakes it.
    Suspended = true;
    MHD_suspend_connection(Connection);
    return 0;
}

void TExchange::Respond(THttpResponse response) {
    {
        const std::lock_guard<std::mutex> hold(Lock);
        if (Answered)
            return;
        Answered = true;
        Response = std::move(response);
    }
    Server->Wake(*this);
}

std::shared_ptr<TEventStream> TExchange::Stream(THttpResponse head) {
    auto stream = std::make_shared<TEventStream>();
    {
        const std::lock_guard<std::mutex> hold(Lock);
        if (Answered) {
            stream->Close();
            return stream;
        }
        StreamOut = stream;
    }
    {
        const std::lock_guard<std::mutex> hold(Server->Lock);
        Server->Streams.push_back(stream);
    }
    Respond(std::move(head));
    return stream;
}

THttpServer::THttpServer(TPoster post, THandler handler)
    : Post(std::move(post)), Handler(std::move(handler)) {}

THttpServer::~THttpServer() {
    Stop();
}

std::vector<std::string> THttpServer::Start(const std::vector<std::string>& listen,
                                            const TTlsMaterial& tls) {
    if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
        throw TSetupError("this libmicrohttpd has no TLS: raduvuz-web serves HTTPS only");
    Tls = tls;
    std::vector<std::string> urls;
    for (const std::string& address : listen) {
        std::string url;
        const int fd = Listen(address, url);
        MHD_Daemon* daemon = MHD_start_daemon(
            MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_TLS | MHD_ALLOW_SUSPEND_RESUME,
            0, nullptr, nullptr, &AccessCallback, this, MHD_OPTION_LISTEN_SOCKET, fd,
            MHD_OPTION_HTTPS_MEM_KEY, Tls.Key.c_str(), MHD_OPTION_HTTPS_MEM_CERT,
            Tls.Certificate.c_str(), MHD_OPTION_HTTPS_PRIORITIES, kTlsPriorities,
            MHD_OPTION_NOTIFY_COMPLETED, &CompletedCallback, this, MHD_OPTION_CONNECTION_TIMEOUT,
            120u, MHD_OPTION_CONNECTION_LIMIT, 1000u, MHD_OPTION_END);
        if (!daemon) {
            ::close(fd);
            Stop();
            throw TSetupError("cannot serve HTTPS on " + address +
                              " (is the key the certificate's? " + Tls.KeyFile + ", " +
                              Tls.CertificateFile + ")");
        }
        Daemons.push_back(daemon);
        urls.push_back(url);
    }
    return urls;
}

void THttpServer::Stop() {
    std::set<std::shared_ptr<TExchange>> waiting;
    std::vector<std::weak_ptr<TEventStream>> streams;
    {
        const std::lock_guard<std::mutex> hold(Lock);
        Stopping = true;
        waiting = Waiting;
        streams = Streams;
    }
    for (const auto& exchange : waiting)
        exchange->Respond(ErrorResponse(503, "Unavailable", "raduvuz-web is stopping"));
    for (const auto& weak : streams) {
        if (const auto stream = weak.lock())
            stream->Close();
    }
    for (MHD_Daemon* daemon : Daemons)
        MHD_stop_daemon(daemon);
    Daemons.clear();
}

void THttpServer::Wake(TExchange& exchange) {
    {
        const std::lock_guard<std::mutex> hold(Lock);
        std::erase_if(Waiting, [&](const auto& waiting) { return waiting.get() == &exchange; });
        std::erase_if(Streams, [](const std::weak_ptr<TEventStream>& s) { return s.expired(); });
    }
    // Only a suspended connection is woken; one whose client left is no longer there.
    const std::lock_guard<std::mutex> hold(exchange.Lock);
    if (exchange.Suspended && exchange.Connection) {
        exchange.Suspended = false;
        MHD_resume_connection(exchange.Connection);
    }
}

bool THttpServer::Dispatch(MHD_Connection* connection, const std::shared_ptr<TExchange>& exchange) {
    {
        const std::lock_guard<std::mutex> hold(Lock);
        if (Stopping)
            return false;
        Waiting.insert(exchange);
    }
    {
        // Suspended under the lock, so that no answer wakes it before it sleeps.
        const std::lock_guard<std::mutex> hold(exchange->Lock);
        exchange->Connection = connection;
        exchange->Suspended = true;
        MHD_suspend_connection(connection);
    }
    Post([handler = Handler, exchange] { handler(exchange); });
    return true;
}

bool THttpServer::OnAccess(MHD_Connection* connection, const char* url, const char* method,
                           const char* upload, size_t* uploadSize, void** state) {
    auto* connectionState = static_cast<TConnectionState*>(*state);
    if (!connectionState) {
        connectionState = new TConnectionState;
        *state = connectionState;
        auto exchange = std::make_shared<TExchange>();
        exchange->Server = this;
        THttpRequest& request = exchange->Req;
        request.Method = method ? method : "";
        request.Path = url ? url : "";
        request.ClientAddress = ClientAddress(connection);
        connectionState->Exchange = exchange;
        const std::string length =
            Lookup(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > kMaxBody) {
            connectionState->TooLarge = true;
            return Queue(connection,
                         ErrorResponse(413, "PayloadTooLarge", "the body is over 1 MiB"));
        }
        return true;
    }
    THttpRequest& request = connectionState->Exchange->Req;
    if (*uploadSize) {
        connectionState->Received += *uploadSize;
        if (connectionState->Received > kMaxDiscarded)
            return false;
        if (connectionState->Received > kMaxBody) {
            connectionState->TooLarge = true;
            request.Body.clear();
        } else {
            request.Body.append(upload, *uploadSize);
        }
        *uploadSize = 0;
        return true;
    }
    if (connectionState->Dispatched) {
        // Woken: the gateway has answered.
        TExchange& exchange = *connectionState->Exchange;
        const std::lock_guard<std::mutex> hold(exchange.Lock);
        if (!exchange.StreamOut)
            return Queue(connection, exchange.Response);
        MHD_Response* response = MHD_create_response_from_callback(
            MHD_SIZE_UNKNOWN, 16 * 1024, &ReadStream,
            new std::shared_ptr<TEventStream>(exchange.StreamOut), &FreeStream);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                exchange.Response.ContentType.c_str());
        exchange.StreamOut->Attach(connection);
        return Queue(connection, exchange.Response, response);
    }
    if (connectionState->TooLarge)
        return Queue(connection, ErrorResponse(413, "PayloadTooLarge", "the body is over 1 MiB"));

    if (request.Path.rfind("/api/", 0) != 0) {
        const TWebFile* file = PageFile(request.Path);
        if (!file)
            return Queue(connection, ErrorResponse(404, "NotFound", "no such path"));
        if (request.Method != "GET" && request.Method != "HEAD") {
            THttpResponse refused = ErrorResponse(405, "MethodNotAllowed", "use GET");
            refused.Headers.emplace_back("Allow", "GET, HEAD");
            return Queue(connection, refused);
        }
        THttpResponse answer;
        answer.ContentType = file->Type;
        answer.Headers.emplace_back("Cache-Control", "no-cache");
        MHD_Response* response = MHD_create_response_from_buffer(
            file->Data.size(), const_cast<char*>(file->Data.data()), MHD_RESPMEM_PERSISTENT);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, file->Type);
        return Queue(connection, answer, response);
    }

    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &AddQuery, &request);
    request.SessionCookie = Lookup(connection, MHD_COOKIE_KIND, "raduvuz_session");
    request.CsrfHeader = Lookup(connection, MHD_HEADER_KIND, "X-CSRF-Token");
    request.AcceptLanguage = Lookup(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_LANGUAGE);
    request.Authorization =
        !Lookup(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION).empty();
    if (request.Authorization) {
        char* password = nullptr;
        char* user = MHD_basic_auth_get_username_password(connection, &password);
        if (user && password) {
            request.Basic = true;
            request.BasicUser = user;
            request.BasicPassword = password;
        }
        MHD_free(user);
        MHD_free(password);
    }
    connectionState->Dispatched = true;
    if (!Dispatch(connection, connectionState->Exchange))
        return Queue(connection, ErrorResponse(503, "Unavailable", "raduvuz-web is stopping"));
    return true;
}

void THttpServer::OnCompleted(void** state) {
    auto* connectionState = static_cast<TConnectionState*>(*state);
    if (!connectionState)
        return;
    {
        const std::lock_guard<std::mutex> hold(connectionState->Exchange->Lock);
        connectionState->Exchange->Connection = nullptr;
        connectionState->Exchange->Suspended = false;
    }
    delete connectionState;
    *state = nullptr;
}

} // namespace raduvuz::web
