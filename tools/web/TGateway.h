#pragma once

// The gateway's side of raduvuz-web, on the Qt thread: it follows every module on the bus,
// answers the HTTP API from its copies and by relaying the job-control calls, signs users in
// and keeps their sessions, and feeds the event streams. It holds no job logic: which action a
// selection allows, what a command does and what a search finds is the module's answer.

#include "platform/SystemLog.h"
#include "tools/web/TAccounts.h"
#include "tools/web/THttpServer.h"
#include "tools/web/TModuleFollower.h"
#include "tools/web/TSessions.h"
#include "tools/web/TSignInThrottle.h"

#include <QDBusConnection>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz::web {

struct TIdentity {
    std::string User;
    TRole Role = TRole::Viewer;
    // The session's cookie token and CSRF token; empty for HTTP Basic.
    std::string Token;
    std::string Csrf;
};

class TGateway : public QObject {
    Q_OBJECT

public:
    TGateway(QDBusConnection bus, TAccounts& accounts, ILogSink& log, QObject* parent = nullptr);
    ~TGateway() override;

    // Finds the modules on the bus and starts following them.
    void Start();
    // Answers a request (on this object's thread).
    void Handle(const std::shared_ptr<TExchange>& exchange);
    // Ends every event stream.
    void CloseStreams();

    // How often the state of the modules is read while a browser watches, and how often the
    // event streams get a keep-alive line (which also finds the streams whose clients left).
    static constexpr int kStatePollMs = 2000;
    static constexpr int kKeepAliveMs = 25000;

private slots:
    void NameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    enum class TRouteKind {
        Login,
        Logout,
        Session,
        Texts,
        Modules,
        Jobs,
        Action,
        Pause,
        Resume,
        Allowed,
        Devices,
        Events
    };
    struct TRoute {
        TRouteKind Kind = TRouteKind::Modules;
        int64_t Module = 0;
        std::string Action;
    };
    using TThen = std::function<void(const TIdentity&)>;
    using TExchangePtr = std::shared_ptr<TExchange>;

    // The route of a request, or false after answering 404 or 405.
    bool Route(const TExchangePtr& exchange, TRoute& route);
    void Authenticate(const TExchangePtr& exchange, bool changes, TThen then);
    void CheckPassword(const std::string& user, const std::string& password,
                       std::function<void(const TAccount*)> then);
    void SignInFailed(const TExchangePtr& exchange, const std::string& user, const char* how);
    bool Throttled(const TExchangePtr& exchange);
    bool RefreshAccounts(const TExchangePtr& exchange);

    void Login(const TExchangePtr& exchange);
    void Logout(const TExchangePtr& exchange, const TIdentity& identity);
    void Serve(const TExchangePtr& exchange, const TRoute& route, const TIdentity& identity);
    void Modules(const TExchangePtr& exchange);
    void Jobs(const TExchangePtr& exchange, TModuleFollower& module);
    void Act(const TExchangePtr& exchange, TModuleFollower& module, const std::string& action,
             const TIdentity& identity);
    void PauseOrResume(const TExchangePtr& exchange, TModuleFollower& module, bool pause,
                       const TIdentity& identity);
    void AskAboutSelection(const TExchangePtr& exchange, TModuleFollower& module, bool devices);
    void OpenStream(const TExchangePtr& exchange, const TIdentity& identity);

    // Calls the module; answers the failure itself, or gives the reply to then.
    void Call(const TExchangePtr& exchange, TModuleFollower& module, const QDBusMessage& call,
              int timeoutMs, std::function<void(const QDBusMessage&)> then);
    void RespondCallError(const TExchangePtr& exchange, const TModuleFollower& module,
                          const QString& name, const QString& message);

    void AddModule(const modulebus::TModuleName& name);
    void RemoveModule(int64_t number);
    TModuleFollower* Module(int64_t number) const;
    std::string ModulesJson() const;
    void Broadcast(const std::string& event);
    void KeepAlive();
    void PollStates();
    void Log(TLogSeverity severity, const std::string& line);
    std::string Who(const TIdentity& identity, const TExchangePtr& exchange) const;

    QDBusConnection Bus;
    TAccounts& Accounts;
    ILogSink& LogSink;
    TSessions Sessions;
    TSignInThrottle Throttle;
    // Argon2id takes a tenth of a second and 64 MiB: two at a time, away from this thread.
    QThreadPool Hashing;
    // A script's last good HTTP Basic password per user, as a keyed hash with the account's hash,
    // so that its next requests need no Argon2id.
    struct TBasicCache {
        std::string AccountHash;
        std::string Digest;
    };
    std::map<std::string, TBasicCache> BasicCache;
    // The requests waiting for the check of their HTTP Basic credentials, by user and digest.
    struct TBasicWaiter {
        TExchangePtr Exchange;
        TThen Then;
    };
    std::map<std::string, std::vector<TBasicWaiter>> BasicChecks;
    std::string CacheKey;
    std::map<int64_t, TModuleFollower*> Followers;
    struct TStreamEntry {
        std::shared_ptr<TEventStream> Stream;
        std::string Token;
    };
    std::vector<TStreamEntry> Streams;
    QTimer StatePoll;
    QTimer KeepAliveTimer;
    std::map<std::string, std::string> TextsByTable;
};

} // namespace raduvuz::web
