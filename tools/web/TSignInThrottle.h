#pragma once

// Failed sign-ins by client address: kFailures within kWindow block the address for kBlock.

#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>

namespace raduvuz::web {

class TSignInThrottle {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr int kFailures = 5;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kBlock{60};

    // Whole seconds the address stays blocked (at least 1), or 0.
    int BlockedFor(const std::string& address, TClock::time_point now) const;
    // Counts a failed sign-in; true when it blocks the address.
    bool Failed(const std::string& address, TClock::time_point now);
    // Forgets what no longer counts.
    void Prune(TClock::time_point now);

private:
    struct TAddress {
        std::deque<TClock::time_point> Failures;
        TClock::time_point BlockedUntil{};
    };
    std::unordered_map<std::string, TAddress> Addresses;
};

} // namespace raduvuz::web
