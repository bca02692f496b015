#pragma once

#include <functional>
#include <optional>
#include <string>

namespace raduvuz {

// Who asked for an operator's command, as its log line names it: the local user and the way the
// request came, e.g. "anna (console)" or "anna (raduvuz-ctl, pid 4711)". The layers on top make
// it; a caller over the bus is looked up only when a line names it, so that listings and
// searches cost nothing more.
class TJobOrigin {
public:
    // Nobody named: the line says only what was done.
    TJobOrigin() = default;
    explicit TJobOrigin(std::function<std::string()> describe);
    // The user this process runs for, at its console.
    static TJobOrigin Console();

    // "anna (console)"; empty when nobody is named.
    const std::string& Text() const;
    // " by anna (console)", or nothing: what follows an action's name in a line.
    std::string By() const;

private:
    std::function<std::string()> Describe;
    mutable std::optional<std::string> Described;
};

} // namespace raduvuz
