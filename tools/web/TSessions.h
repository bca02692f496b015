#pragma once

// Signed-in browsers: a random token in the cookie names a session, which carries the token the
// page must send back in X-CSRF-Token with every change. A session ends on sign-out, after
// kIdle without a request, or when its user's password changes or the user goes.

#include <chrono>
#include <string>
#include <unordered_map>

namespace raduvuz::web {

using TClock = std::chrono::steady_clock;

struct TSession {
    std::string User;
    std::string Csrf;
    // The account's hash when the user signed in: a new password ends the session.
    std::string AccountHash;
    TClock::time_point LastUse;
};

class TSessions {
public:
    static constexpr std::chrono::hours kIdle{8};

    // A new session for user: the cookie's token and the session.
    std::pair<std::string, TSession*> Open(const std::string& user, const std::string& accountHash,
                                           TClock::time_point now);
    // The session of a cookie's token, its last use now; null when there is none or it was idle
    // too long (it is forgotten then).
    TSession* Use(const std::string& token, TClock::time_point now);
    // The same without counting as a use: an open event stream alone keeps no session alive.
    const TSession* Peek(const std::string& token, TClock::time_point now) const;
    void Close(const std::string& token);
    // Forgets the sessions idle too long.
    void Prune(TClock::time_point now);
    size_t Count() const { return Sessions.size(); }

    // The key a token is kept under: its hash, so that neither a lookup's timing nor a memory
    // dump gives a token away.
    static std::string KeyOf(const std::string& token);
    // Text of bytes random bytes, URL-safe base64.
    static std::string RandomText(size_t bytes);
    // Compares two texts in a time that depends only on their lengths.
    static bool SameSecret(const std::string& a, const std::string& b);

private:
    std::unordered_map<std::string, TSession> Sessions;
};

} // namespace raduvuz::web
