#include "tools/web/TSignInThrottle.h"

namespace raduvuz::web {

int TSignInThrottle::BlockedFor(const std::string& address, TClock::time_point now) const {
    const auto found = Addresses.find(address);
    if (found == Addresses.end() || found->second.BlockedUntil <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::seconds>(found->second.BlockedUntil - now);
    return static_cast<int>(std::max<long long>(1, left.count()));
}

bool TSignInThrottle::Failed(const std::string& address, TClock::time_point now) {
    TAddress& entry = Addresses[address];
    while (!entry.Failures.empty() && now - entry.Failures.front() >= kWindow)
        entry.Failures.pop_front();
    entry.Failures.push_back(now);
    if (static_cast<int>(entry.Failures.size()) < kFailures)
        return false;
    entry.Failures.clear();
    entry.BlockedUntil = now + kBlock;
    return true;
}

void TSignInThrottle::Prune(TClock::time_point now) {
    for (auto& [address, entry] : Addresses) {
        while (!entry.Failures.empty() && now - entry.Failures.front() >= kWindow)
            entry.Failures.pop_front();
    }
    std::erase_if(Addresses, [now](const auto& item) {
        return item.second.Failures.empty() && item.second.BlockedUntil <= now;
    });
}

} // namespace raduvuz::web
