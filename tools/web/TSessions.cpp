#include "tools/web/TSessions.h"

#include <sodium.h>

#include <vector>

namespace raduvuz::web {

std::string TSessions::RandomText(size_t bytes) {
    std::vector<unsigned char> random(bytes);
    randombytes_buf(random.data(), random.size());
    std::string text(sodium_base64_ENCODED_LEN(bytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING),
                     '\0');
    sodium_bin2base64(text.data(), text.size(), random.data(), random.size(),
                      sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    text.resize(text.find('\0'));
    return text;
}

std::string TSessions::KeyOf(const std::string& token) {
    unsigned char hash[crypto_generichash_BYTES];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()),
                       token.size(), nullptr, 0);
    return std::string(reinterpret_cast<const char*>(hash), sizeof hash);
}

bool TSessions::SameSecret(const std::string& a, const std::string& b) {
    return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::pair<std::string, TSession*>
TSessions::Open(const std::string& user, const std::string& accountHash, TClock::time_point now) {
    // 256 bits for the cookie, 192 for the CSRF token.
    std::string token = RandomText(32);
    TSession& session = Sessions[KeyOf(token)];
    session = {user, RandomText(24), accountHash, now};
    return {std::move(token), &session};
}

TSession* TSessions::Use(const std::string& token, TClock::time_point now) {
    if (token.empty())
        return nullptr;
    const auto found = Sessions.find(KeyOf(token));
    if (found == Sessions.end())
        return nullptr;
    if (now - found->second.LastUse > kIdle) {
        Sessions.erase(found);
        return nullptr;
    }
    found->second.LastUse = now;
    return &found->second;
}

const TSession* TSessions::Peek(const std::string& token, TClock::time_point now) const {
    const auto found = Sessions.find(KeyOf(token));
    if (found == Sessions.end() || now - found->second.LastUse > kIdle)
        return nullptr;
    return &found->second;
}

void TSessions::Close(const std::string& token) {
    Sessions.erase(KeyOf(token));
}

void TSessions::Prune(TClock::time_point now) {
    std::erase_if(Sessions,
                  [now](const auto& entry) { return now - entry.second.LastUse > kIdle; });
}

} // namespace raduvuz::web
