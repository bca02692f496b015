#include "tools/web/TGateway.h"

#include "tools/web/WebTexts.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>

namespace raduvuz::web {

namespace {

constexpr int kListTimeoutMs = 30000;
// A command may copy or rewrite large spool files first.
constexpr int kCommandTimeoutMs = 600000;
constexpr const char* kApi = "/api/v1/";

// Each action: the job-control method and the body's extra key it needs.
struct TActionCall {
    const char* Method;
    const char* Extra;
};
const std::map<std::string, TActionCall> kActions = {
    {"hold", {"HoldJobs", nullptr}},           {"release", {"ReleaseJobs", nullptr}},
    {"abort", {"AbortJobs", nullptr}},         {"delete", {"DeleteJobs", nullptr}},
    {"reprocess", {"ReprocessJobs", nullptr}}, {"redirect", {"RedirectJobs", "devices"}},
    {"rename", {"RenameJobs", "name"}},        {"priority", {"SetPriority", "priority"}},
    {"copy", {"CopyJobs", "folder"}}};

// FindJobs' criteria, by their query names.
const std::set<std::string> kCriteria = {"job",  "doc",         "page", "name",  "color",
                                         "type", "destination", "date", "sizeKb"};

std::string S(const QString& text) {
    return text.toStdString();
}

THttpResponse JsonResponse(const std::string& body, int status = 200) {
    THttpResponse response;
    response.Status = status;
    response.Body = body;
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

THttpResponse JsonResponse(const QJsonObject& object) {
    return JsonResponse(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
}

THttpResponse InvalidArgs(const std::string& message) {
    return ErrorResponse(400, "InvalidArgs", message);
}

bool ParseObject(const std::string& body, QJsonObject& object, std::string& error) {
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body), &parse);
    if (parse.error != QJsonParseError::NoError) {
        error = body.empty() ? "the body must be a JSON object"
                             : "malformed JSON: " + S(parse.errorString()) + " at byte " +
                                   std::to_string(parse.offset);
        return false;
    }
    if (!document.isObject()) {
        error = "the body must be a JSON object";
        return false;
    }
    object = document.object();
    return true;
}

bool WholeNumber(const QJsonValue& value, double low, double high, double& number) {
    if (!value.isDouble())
        return false;
    number = value.toDouble();
    return std::floor(number) == number && number >= low && number <= high;
}

// The body's "ids" as job-control ids.
bool IdsOfBody(const QJsonObject& body, QList<uint>& ids, std::string& error) {
    const QJsonValue value = body.value(QStringLiteral("ids"));
    if (!value.isArray()) {
        error = "\"ids\" must be an array of row ids";
        return false;
    }
    for (const QJsonValue& item : value.toArray()) {
        double id = 0;
        if (!WholeNumber(item, 0, 4294967295.0, id)) {
            error = "\"ids\" must hold row ids (whole numbers from 0 to 4294967295)";
            return false;
        }
        ids.push_back(static_cast<uint>(id));
    }
    return true;
}

std::string IdText(const QList<uint>& ids) {
    std::string text;
    for (const uint id : ids)
        text += (text.empty() ? "" : ", ") + std::to_string(id);
    return text.empty() ? "none" : text;
}

std::string CookieOf(const std::string& token, bool clear) {
    return "raduvuz_session=" + token + "; Path=/; HttpOnly; Secure; SameSite=Strict" +
           (clear ? "; Max-Age=0" : "");
}

uint64_t MicrosecondsNow() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

std::string Digest(const std::string& key, const std::string& text) {
    unsigned char hash[crypto_generichash_BYTES];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(text.data()),
                       text.size(), reinterpret_cast<const unsigned char*>(key.data()), key.size());
    return std::string(reinterpret_cast<const char*>(hash), sizeof hash);
}

} // namespace

TGateway::TGateway(QDBusConnection bus, TAccounts& accounts, ILogSink& log, QObject* parent)
    : QObject(parent), Bus(std::move(bus)), Accounts(accounts), LogSink(log),
      CacheKey(TSessions::RandomText(32)) {
    Hashing.setMaxThreadCount(2);
    StatePoll.setInterval(kStatePollMs);
    connect(&StatePoll, &QTimer::timeout, this, &TGateway::PollStates);
    KeepAliveTimer.setInterval(kKeepAliveMs);
    connect(&KeepAliveTimer, &QTimer::timeout, this, &TGateway::KeepAlive);
    KeepAliveTimer.start();
}

TGateway::~TGateway() {
    CloseStreams();
    Hashing.waitForDone();
}

void TGateway::Log(TLogSeverity severity, const std::string& line) {
    LogSink.Write(severity, line);
}

std::string TGateway::Who(const TIdentity& identity, const TExchangePtr& exchange) const {
    return "user " + identity.User + " (" + RoleName(identity.Role) + ", " +
           exchange->Request().ClientAddress + ")";
}

void TGateway::Start() {
    modulebus::RegisterModuleBusTypes();
    Bus.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                SLOT(NameOwnerChanged(QString, QString, QString)));
    const QDBusReply<QStringList> names = Bus.interface()->registeredServiceNames();
    if (names.isValid()) {
        for (const modulebus::TModuleName& name : modulebus::ModulesAmong(names.value()))
            AddModule(name);
    } else {
        Log(TLogSeverity::Error, "cannot list the bus's names: " + S(names.error().message()));
    }
}

void TGateway::NameOwnerChanged(const QString& name, const QString& oldOwner,
                                const QString& newOwner) {
    const int64_t number = modulebus::ModuleNumber(name);
    if (!number)
        return;
    if (!oldOwner.isEmpty())
        RemoveModule(number);
    if (!newOwner.isEmpty())
        AddModule({name, number});
}

void TGateway::AddModule(const modulebus::TModuleName& name) {
    if (Followers.count(name.Number))
        return;
    auto* follower = new TModuleFollower(Bus, name, MicrosecondsNow(), this);
    Followers[name.Number] = follower;
    connect(follower, &TModuleFollower::jobsChanged, this, [this](qint64 number) {
        const TModuleFollower* module = Module(number);
        if (!module)
            return;
        const TJobCounts counts = module->Copy().Counts();
        Broadcast("event: jobs\ndata: {\"module\":" + std::to_string(number) +
                  ",\"serial\":" + std::to_string(module->Copy().Serial()) +
                  ",\"counts\":{\"inProcess\":" + std::to_string(counts.InProcess) +
                  ",\"held\":" + std::to_string(counts.Held) +
                  ",\"passed\":" + std::to_string(counts.Passed) + "}}\n\n");
    });
    connect(follower, &TModuleFollower::stateChanged, this,
            [this] { Broadcast("event: modules\ndata: " + ModulesJson() + "\n\n"); });
    connect(follower, &TModuleFollower::gone, this,
            [this](qint64 number) { RemoveModule(number); });
    follower->Sync({});
    follower->Describe();
    Log(TLogSeverity::Info, "module " + std::to_string(name.Number) + " (" + S(name.BusName) +
                                ") is on the bus: following it");
}

void TGateway::RemoveModule(int64_t number) {
    const auto found = Followers.find(number);
    if (found == Followers.end())
        return;
    found->second->deleteLater();
    Followers.erase(found);
    Log(TLogSeverity::Info, "module " + std::to_string(number) + " has left the bus");
    Broadcast("event: modules\ndata: " + ModulesJson() + "\n\n");
}

TModuleFollower* TGateway::Module(int64_t number) const {
    const auto found = Followers.find(number);
    return found == Followers.end() ? nullptr : found->second;
}

std::string TGateway::ModulesJson() const {
    QJsonArray modules;
    for (const auto& [number, follower] : Followers)
        modules.append(follower->Json());
    return QJsonDocument(modules).toJson(QJsonDocument::Compact).toStdString();
}

void TGateway::Broadcast(const std::string& event) {
    std::erase_if(Streams, [&](const TStreamEntry& entry) { return !entry.Stream->Send(event); });
    if (Streams.empty())
        StatePoll.stop();
}

void TGateway::CloseStreams() {
    for (TStreamEntry& entry : Streams)
        entry.Stream->Close();
    Streams.clear();
    StatePoll.stop();
}

void TGateway::KeepAlive() {
    const auto now = TClock::now();
    Sessions.Prune(now);
    Throttle.Prune(now);
    // A stream ends with its session (signed out, idle too long, or the account changed).
    std::erase_if(Streams, [&](const TStreamEntry& entry) {
        bool alive = true;
        if (!entry.Token.empty()) {
            const TSession* session = Sessions.Peek(entry.Token, now);
            const TAccount* account = session ? Accounts.Find(session->User) : nullptr;
            alive = account && account->Hash == session->AccountHash;
        }
        if (!alive)
            entry.Stream->Close();
        return !alive || !entry.Stream->Send(": keep-alive\n\n");
    });
    if (Streams.empty())
        StatePoll.stop();
}

void TGateway::PollStates() {
    for (const auto& [number, follower] : Followers)
        follower->Describe();
}

bool TGateway::Route(const TExchangePtr& exchange, TRoute& route) {
    const THttpRequest& request = exchange->Request();
    const std::string& path = request.Path;
    const auto method = [&](const char* wanted) {
        if (request.Method == wanted)
            return true;
        THttpResponse refused =
            ErrorResponse(405, "MethodNotAllowed", std::string("use ") + wanted + " for " + path);
        refused.Headers.emplace_back("Allow", wanted);
        exchange->Respond(refused);
        return false;
    };
    const auto notFound = [&](const std::string& what) {
        exchange->Respond(ErrorResponse(404, "NotFound", what));
        return false;
    };
    if (path.rfind(kApi, 0) != 0)
        return notFound("no such path: " + path);
    const std::string rest = path.substr(std::string(kApi).size());
    static const std::map<std::string, std::pair<TRouteKind, const char*>> kFixed = {
        {"login", {TRouteKind::Login, "POST"}},    {"logout", {TRouteKind::Logout, "POST"}},
        {"session", {TRouteKind::Session, "GET"}}, {"texts", {TRouteKind::Texts, "GET"}},
        {"modules", {TRouteKind::Modules, "GET"}}, {"events", {TRouteKind::Events, "GET"}}};
    if (const auto fixed = kFixed.find(rest); fixed != kFixed.end()) {
        route.Kind = fixed->second.first;
        return method(fixed->second.second);
    }
    // modules/{module}/...
    std::vector<std::string> parts;
    for (size_t begin = 0;;) {
        const size_t slash = rest.find('/', begin);
        parts.push_back(rest.substr(begin, slash - begin));
        if (slash == std::string::npos)
            break;
        begin = slash + 1;
    }
    if (parts.size() < 3 || parts.size() > 4 || parts[0] != "modules")
        return notFound("no such path: " + path);
    const std::string& number = parts[1];
    if (number.empty() || number.size() > 18 ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return notFound("no module " + number);
    route.Module = std::stoll(number);
    if (parts.size() == 4) {
        if (parts[2] != "jobs" || !kActions.count(parts[3]))
            return notFound("no such path: " + path);
        route.Kind = TRouteKind::Action;
        route.Action = parts[3];
        return method("POST");
    }
    static const std::map<std::string, std::pair<TRouteKind, const char*>> kOfModule = {
        {"jobs", {TRouteKind::Jobs, "GET"}},
        {"pause", {TRouteKind::Pause, "POST"}},
        {"resume", {TRouteKind::Resume, "POST"}},
        {"allowed", {TRouteKind::Allowed, "POST"}},
        {"devices", {TRouteKind::Devices, "POST"}}};
    const auto found = kOfModule.find(parts[2]);
    if (found == kOfModule.end())
        return notFound("no such path: " + path);
    route.Kind = found->second.first;
    return method(found->second.second);
}

void TGateway::Handle(const TExchangePtr& exchange) {
    TRoute route;
    if (!Route(exchange, route))
        return;
    if (route.Kind == TRouteKind::Texts) {
        const std::string table = TableFor(exchange->Request().AcceptLanguage);
        std::string& texts = TextsByTable[table];
        if (texts.empty())
            texts = TextsJson(table);
        THttpResponse response = JsonResponse(texts);
        response.Headers.emplace_back("Vary", "Accept-Language");
        exchange->Respond(response);
        return;
    }
    if (route.Kind == TRouteKind::Login) {
        Login(exchange);
        return;
    }
    const bool changes = exchange->Request().Method == "POST";
    Authenticate(exchange, changes, [this, exchange, route](const TIdentity& identity) {
        Serve(exchange, route, identity);
    });
}

bool TGateway::Throttled(const TExchangePtr& exchange) {
    const int seconds = Throttle.BlockedFor(exchange->Request().ClientAddress, TClock::now());
    if (!seconds)
        return false;
    THttpResponse refused =
        ErrorResponse(429, "TooManyRequests",
                      "too many failed sign-ins from this address: try again in " +
                          std::to_string(seconds) + " s");
    refused.Headers.emplace_back("Retry-After", std::to_string(seconds));
    exchange->Respond(refused);
    return true;
}

bool TGateway::RefreshAccounts(const TExchangePtr& exchange) {
    try {
        Accounts.Refresh();
        return true;
    } catch (const TAccountsError& error) {
        Log(TLogSeverity::Error, error.what());
        exchange->Respond(ErrorResponse(500, "Internal", "the accounts cannot be read"));
        return false;
    }
}

void TGateway::CheckPassword(const std::string& user, const std::string& password,
                             std::function<void(const TAccount*)> then) {
    const TAccount* account = Accounts.Find(user);
    const std::string hash = account ? account->Hash : std::string();
    Hashing.start([this, user, password, hash, then = std::move(then)] {
        bool good = false;
        if (hash.empty())
            TAccounts::VerifyNothing(password);
        else
            good = TAccounts::VerifyPassword(hash, password);
        QMetaObject::invokeMethod(
            this,
            [this, user, hash, good, then = std::move(then)] {
                // The account as it is now: it may have changed while the hash was checked.
                const TAccount* account = Accounts.Find(user);
                then(good && account && account->Hash == hash ? account : nullptr);
            },
            Qt::QueuedConnection);
    });
}

void TGateway::SignInFailed(const TExchangePtr& exchange, const std::string& user,
                            const char* how) {
    const std::string& address = exchange->Request().ClientAddress;
    Log(TLogSeverity::Warning,
        std::string("failed sign-in ") + how + " as \"" + user + "\" from " + address);
    if (Throttle.Failed(address, TClock::now()))
        Log(TLogSeverity::Warning,
            std::to_string(TSignInThrottle::kFailures) + " failed sign-ins from " + address +
                " within a minute: its sign-ins are refused (429) for a minute");
    exchange->Respond(ErrorResponse(401, "Unauthorized", "wrong user name or password"));
}

void TGateway::Authenticate(const TExchangePtr& exchange, bool changes, TThen then) {
    const THttpRequest& request = exchange->Request();
    const auto now = TClock::now();
    if (!RefreshAccounts(exchange))
        return;
    if (request.Authorization) {
        if (Throttled(exchange))
            return;
        if (!request.Basic) {
            exchange->Respond(
                ErrorResponse(401, "Unauthorized", "only HTTP Basic authorization is taken"));
            return;
        }
        const TAccount* account = Accounts.Find(request.BasicUser);
        const auto cached = BasicCache.find(request.BasicUser);
        if (account && cached != BasicCache.end() && cached->second.AccountHash == account->Hash &&
            TSessions::SameSecret(cached->second.Digest, Digest(CacheKey, request.BasicPassword))) {
            then({account->Name, account->Role, "", ""});
            return;
        }
        // Requests with the same credentials while they are checked wait for that one check.
        const std::string digest = Digest(CacheKey, request.BasicPassword);
        const std::string key = request.BasicUser + '\n' + digest;
        std::vector<TBasicWaiter>& waiters = BasicChecks[key];
        waiters.push_back({exchange, std::move(then)});
        if (waiters.size() > 1)
            return;
        CheckPassword(
            request.BasicUser, request.BasicPassword, [this, key, digest](const TAccount* account) {
                std::vector<TBasicWaiter> waiting = std::move(BasicChecks[key]);
                BasicChecks.erase(key);
                if (account)
                    BasicCache[account->Name] = {account->Hash, digest};
                for (TBasicWaiter& waiter : waiting) {
                    if (!account)
                        SignInFailed(waiter.Exchange, waiter.Exchange->Request().BasicUser,
                                     "with HTTP Basic");
                    else
                        waiter.Then({account->Name, account->Role, "", ""});
                }
            });
        return;
    }
    if (!request.SessionCookie.empty()) {
        TSession* session = Sessions.Use(request.SessionCookie, now);
        const TAccount* account = session ? Accounts.Find(session->User) : nullptr;
        if (session && (!account || account->Hash != session->AccountHash)) {
            Sessions.Close(request.SessionCookie);
            session = nullptr;
        }
        if (session) {
            if (changes && !TSessions::SameSecret(request.CsrfHeader, session->Csrf)) {
                exchange->Respond(ErrorResponse(
                    403, "Forbidden",
                    "a change needs the session's CSRF token in the X-CSRF-Token header"));
                return;
            }
            then({account->Name, account->Role, request.SessionCookie, session->Csrf});
            return;
        }
    }
    if (Throttled(exchange))
        return;
    exchange->Respond(ErrorResponse(
        401, "Unauthorized",
        request.SessionCookie.empty() ? "not signed in" : "the session has ended: sign in again"));
}

void TGateway::Login(const TExchangePtr& exchange) {
    if (Throttled(exchange) || !RefreshAccounts(exchange))
        return;
    QJsonObject body;
    std::string error;
    if (!ParseObject(exchange->Request().Body, body, error)) {
        exchange->Respond(InvalidArgs(error));
        return;
    }
    const QJsonValue user = body.value(QStringLiteral("user"));
    const QJsonValue password = body.value(QStringLiteral("password"));
    if (!user.isString() || !password.isString()) {
        exchange->Respond(InvalidArgs("the body needs \"user\" and \"password\" as texts"));
        return;
    }
    const std::string name = S(user.toString());
    CheckPassword(name, S(password.toString()), [this, exchange, name](const TAccount* account) {
        if (!account) {
            SignInFailed(exchange, name, "");
            return;
        }
        const auto [token, session] = Sessions.Open(account->Name, account->Hash, TClock::now());
        Log(TLogSeverity::Info, "user " + account->Name + " (" + RoleName(account->Role) +
                                    ") signed in from " + exchange->Request().ClientAddress);
        THttpResponse response = JsonResponse(
            QJsonObject{{QStringLiteral("user"), QString::fromStdString(account->Name)},
                        {QStringLiteral("role"), QString::fromLatin1(RoleName(account->Role))},
                        {QStringLiteral("csrf"), QString::fromStdString(session->Csrf)}});
        response.Headers.emplace_back("Set-Cookie", CookieOf(token, false));
        exchange->Respond(response);
    });
}

void TGateway::Logout(const TExchangePtr& exchange, const TIdentity& identity) {
    THttpResponse response = JsonResponse(std::string("{}"));
    if (!identity.Token.empty()) {
        Sessions.Close(identity.Token);
        std::erase_if(Streams, [&](const TStreamEntry& entry) {
            if (entry.Token != identity.Token)
                return false;
            entry.Stream->Close();
            return true;
        });
        response.Headers.emplace_back("Set-Cookie", CookieOf("", true));
        Log(TLogSeverity::Info, Who(identity, exchange) + " signed out");
    }
    exchange->Respond(response);
}

void TGateway::Serve(const TExchangePtr& exchange, const TRoute& route, const TIdentity& identity) {
    switch (route.Kind) {
    case TRouteKind::Logout:
        Logout(exchange, identity);
        return;
    case TRouteKind::Session:
        exchange->Respond(JsonResponse(
            QJsonObject{{QStringLiteral("user"), QString::fromStdString(identity.User)},
                        {QStringLiteral("role"), QString::fromLatin1(RoleName(identity.Role))},
                        {QStringLiteral("csrf"), QString::fromStdString(identity.Csrf)}}));
        return;
    case TRouteKind::Modules:
        Modules(exchange);
        return;
    case TRouteKind::Events:
        OpenStream(exchange, identity);
        return;
    default:
        break;
    }
    TModuleFollower* module = Module(route.Module);
    if (!module) {
        exchange->Respond(
            ErrorResponse(404, "NotFound", "no module " + std::to_string(route.Module)));
        return;
    }
    const bool acts = route.Kind == TRouteKind::Action || route.Kind == TRouteKind::Pause ||
                      route.Kind == TRouteKind::Resume;
    if (acts && identity.Role != TRole::Operator) {
        exchange->Respond(ErrorResponse(403, "Forbidden",
                                        "user " + identity.User +
                                            " is a viewer: only an "
                                            "operator acts on jobs"));
        return;
    }
    switch (route.Kind) {
    case TRouteKind::Jobs:
        Jobs(exchange, *module);
        return;
    case TRouteKind::Action:
        Act(exchange, *module, route.Action, identity);
        return;
    case TRouteKind::Pause:
    case TRouteKind::Resume:
        PauseOrResume(exchange, *module, route.Kind == TRouteKind::Pause, identity);
        return;
    case TRouteKind::Allowed:
    case TRouteKind::Devices:
        AskAboutSelection(exchange, *module, route.Kind == TRouteKind::Devices);
        return;
    default:
        exchange->Respond(ErrorResponse(404, "NotFound", "no such path"));
    }
}

void TGateway::Modules(const TExchangePtr& exchange) {
    if (Followers.empty()) {
        exchange->Respond(JsonResponse(std::string("[]")));
        return;
    }
    // Every module is asked at once; the answer goes when the last has answered.
    auto left = std::make_shared<size_t>(Followers.size());
    for (const auto& [number, follower] : Followers) {
        follower->Describe([this, exchange, left] {
            if (--*left == 0)
                exchange->Respond(JsonResponse(ModulesJson()));
        });
    }
}

void TGateway::Jobs(const TExchangePtr& exchange, TModuleFollower& module) {
    std::string list;
    std::string since;
    QVariantMap criteria;
    for (const auto& [key, value] : exchange->Request().Query) {
        if (key == "list") {
            if (value != "process" && value != "passed") {
                exchange->Respond(
                    InvalidArgs("list is \"process\" or \"passed\", not \"" + value + "\""));
                return;
            }
            list = value;
        } else if (key == "since") {
            since = value;
        } else if (kCriteria.count(key)) {
            criteria.insert(QString::fromStdString(key), QString::fromStdString(value));
        } else {
            exchange->Respond(InvalidArgs("no such criterion: " + key));
            return;
        }
    }
    const int64_t number = module.Number();
    if (!since.empty()) {
        if (!criteria.isEmpty()) {
            exchange->Respond(InvalidArgs("since cannot go with search criteria"));
            return;
        }
        if (since.size() > 19 ||
            !std::all_of(since.begin(), since.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            exchange->Respond(InvalidArgs("since must be a serial number the gateway gave"));
            return;
        }
        const uint64_t serial = std::stoull(since);
        const auto answer = [this, exchange, number, serial] {
            TModuleFollower* module = Module(number);
            if (!module)
                exchange->Respond(ErrorResponse(
                    404, "NotFound", "module " + std::to_string(number) + " has left the bus"));
            else if (!module->Listed())
                RespondCallError(exchange, *module, module->ListError(),
                                 QStringLiteral("the module's jobs could not be listed"));
            else
                exchange->Respond(JsonResponse(module->Copy().SinceJson(serial)));
        };
        if (module.Listed())
            answer();
        else
            module.Sync(answer);
        return;
    }
    // A fresh listing first: a script that acted a moment ago sees what it did.
    const auto listed = [this, exchange, number](std::function<void(TModuleFollower&)> then) {
        TModuleFollower* module = Module(number);
        if (!module) {
            exchange->Respond(ErrorResponse(
                404, "NotFound", "module " + std::to_string(number) + " has left the bus"));
            return;
        }
        module->Sync([this, exchange, number, then] {
            TModuleFollower* module = Module(number);
            if (!module)
                exchange->Respond(ErrorResponse(
                    404, "NotFound", "module " + std::to_string(number) + " has left the bus"));
            else if (!module->ListError().isEmpty())
                RespondCallError(exchange, *module, module->ListError(),
                                 QStringLiteral("the module's jobs could not be listed"));
            else
                then(*module);
        });
    };
    if (criteria.isEmpty()) {
        listed([exchange, list](TModuleFollower& module) {
            exchange->Respond(JsonResponse(module.Copy().ListJson(list)));
        });
        return;
    }
    if (!list.empty())
        criteria.insert(QStringLiteral("list"), QString::fromStdString(list));
    Call(exchange, module,
         modulebus::JobCall(module.Name().BusName, QStringLiteral("FindJobs"), {criteria}),
         kListTimeoutMs, [exchange, listed](const QDBusMessage& reply) {
             const std::vector<uint32_t> found = modulebus::IdsOf(reply);
             listed([exchange, found](TModuleFollower& module) {
                 exchange->Respond(JsonResponse(module.Copy().RowsJson(found)));
             });
         });
}

void TGateway::Call(const TExchangePtr& exchange, TModuleFollower& module, const QDBusMessage& call,
                    int timeoutMs, std::function<void(const QDBusMessage&)> then) {
    auto* watcher = new QDBusPendingCallWatcher(Bus.asyncCall(call, timeoutMs), this);
    const int64_t number = module.Number();
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, exchange, number, then = std::move(then)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusMessage reply = finished->reply();
                if (reply.type() == QDBusMessage::ReplyMessage) {
                    then(reply);
                    return;
                }
                TModuleFollower* module = Module(number);
                if (!module) {
                    exchange->Respond(ErrorResponse(
                        404, "NotFound", "module " + std::to_string(number) + " has left the bus"));
                    return;
                }
                RespondCallError(exchange, *module, reply.errorName(), reply.errorMessage());
            });
}

void TGateway::RespondCallError(const TExchangePtr& exchange, const TModuleFollower& module,
                                const QString& name, const QString& message) {
    const std::string who = "module " + std::to_string(module.Number());
    if (modulebus::IsModuleGone(name)) {
        exchange->Respond(ErrorResponse(404, "NotFound", who + " has left the bus"));
        return;
    }
    if (name == QStringLiteral("RAduvuz.Error.InvalidArgs")) {
        exchange->Respond(InvalidArgs(S(message)));
        return;
    }
    exchange->Respond(ErrorResponse(502, name.isEmpty() ? "RAduvuz.Error.Unexpected" : S(name),
                                    who + " failed the call: " + S(message)));
}

void TGateway::Act(const TExchangePtr& exchange, TModuleFollower& module, const std::string& action,
                   const TIdentity& identity) {
    QJsonObject body;
    std::string error;
    QList<uint> ids;
    if (!ParseObject(exchange->Request().Body, body, error) || !IdsOfBody(body, ids, error)) {
        exchange->Respond(InvalidArgs(error));
        return;
    }
    const TActionCall& call = kActions.at(action);
    QVariantList arguments{QVariant::fromValue(ids)};
    std::string detail;
    if (call.Extra) {
        const QJsonValue extra = body.value(QLatin1String(call.Extra));
        if (action == "redirect") {
            QList<int> devices;
            bool good = extra.isArray();
            for (const QJsonValue& device : extra.toArray()) {
                double number = 0;
                good = good && WholeNumber(device, -2147483648.0, 2147483647.0, number);
                devices.push_back(static_cast<int>(number));
            }
            if (!good) {
                exchange->Respond(
                    InvalidArgs("\"devices\" must be an array of terminator numbers"));
                return;
            }
            arguments << QVariant::fromValue(devices);
            QList<uint> shown(devices.begin(), devices.end());
            detail = " to devices " + IdText(shown);
        } else if (action == "priority") {
            double priority = 0;
            if (!WholeNumber(extra, -2147483648.0, 2147483647.0, priority)) {
                exchange->Respond(InvalidArgs("\"priority\" must be a whole number"));
                return;
            }
            arguments << static_cast<int>(priority);
            detail = " to " + std::to_string(static_cast<int>(priority));
        } else {
            if (!extra.isString()) {
                exchange->Respond(
                    InvalidArgs(std::string("\"") + call.Extra + "\" must be a text"));
                return;
            }
            arguments << extra.toString();
            detail = (action == "rename" ? " as \"" : " into \"") + S(extra.toString()) + "\"";
        }
    }
    const std::string who = Who(identity, exchange) + ": module " +
                            std::to_string(module.Number()) + " (" + S(module.Description()) +
                            "): " + action + " " + IdText(ids) + detail;
    Call(exchange, module,
         modulebus::JobCall(module.Name().BusName, QLatin1String(call.Method), arguments),
         kCommandTimeoutMs, [this, exchange, who, ids](const QDBusMessage& reply) {
             const std::vector<uint32_t> done = modulebus::IdsOf(reply);
             QList<uint> refused;
             QJsonArray doneJson;
             for (const uint32_t id : done)
                 doneJson.append(static_cast<qint64>(id));
             for (const uint id : ids) {
                 if (std::find(done.begin(), done.end(), id) == done.end() && !refused.contains(id))
                     refused.push_back(id);
             }
             Log(TLogSeverity::Info, who + ": done " +
                                         IdText(QList<uint>(done.begin(), done.end())) +
                                         (refused.isEmpty() ? "" : "; refused " + IdText(refused)));
             exchange->Respond(JsonResponse(QJsonObject{{QStringLiteral("done"), doneJson}}));
         });
    Log(TLogSeverity::Info, who);
}

void TGateway::PauseOrResume(const TExchangePtr& exchange, TModuleFollower& module, bool pause,
                             const TIdentity& identity) {
    const int64_t number = module.Number();
    const std::string who = Who(identity, exchange) + ": module " + std::to_string(number) + " (" +
                            S(module.Description()) + "): " + (pause ? "pause" : "resume");
    Log(TLogSeverity::Info, who);
    Call(exchange, module,
         modulebus::ModuleCall(module.Name().BusName,
                               pause ? QStringLiteral("Pause") : QStringLiteral("Resume")),
         kListTimeoutMs, [this, exchange, number](const QDBusMessage&) {
             TModuleFollower* module = Module(number);
             if (!module) {
                 exchange->Respond(ErrorResponse(404, "NotFound", "no module"));
                 return;
             }
             module->Describe([this, exchange, number] {
                 const TModuleFollower* module = Module(number);
                 exchange->Respond(JsonResponse(
                     QJsonObject{{QStringLiteral("paused"), module && module->Paused()}}));
             });
         });
}

void TGateway::AskAboutSelection(const TExchangePtr& exchange, TModuleFollower& module,
                                 bool devices) {
    QJsonObject body;
    std::string error;
    QList<uint> ids;
    if (!ParseObject(exchange->Request().Body, body, error) || !IdsOfBody(body, ids, error)) {
        exchange->Respond(InvalidArgs(error));
        return;
    }
    const QString method =
        devices ? QStringLiteral("RedirectChoices") : QStringLiteral("AllowedActions");
    Call(exchange, module,
         modulebus::JobCall(module.Name().BusName, method, {QVariant::fromValue(ids)}),
         kListTimeoutMs, [exchange, devices](const QDBusMessage& reply) {
             if (devices) {
                 QJsonArray choices;
                 for (const QVariantMap& choice : modulebus::RowsOf(reply))
                     choices.append(QJsonObject::fromVariantMap(choice));
                 exchange->Respond(JsonResponse(QJsonObject{{QStringLiteral("devices"), choices}}));
                 return;
             }
             QJsonArray actions;
             for (const QString& action : reply.arguments().value(0).toStringList())
                 actions.append(action);
             exchange->Respond(JsonResponse(QJsonObject{{QStringLiteral("actions"), actions}}));
         });
}

void TGateway::OpenStream(const TExchangePtr& exchange, const TIdentity& identity) {
    THttpResponse head;
    head.ContentType = "text/event-stream";
    head.Headers = {{"Cache-Control", "no-store"}, {"X-Accel-Buffering", "no"}};
    const std::shared_ptr<TEventStream> stream = exchange->Stream(head);
    // The browser waits 3 s before it connects again after a drop.
    if (!stream->Send("retry: 3000\n: connected\n\n"))
        return;
    Streams.push_back({stream, identity.Token});
    if (!StatePoll.isActive())
        StatePoll.start();
}

} // namespace raduvuz::web
