#include "tools/web/TAccounts.h"

#include "platform/WholeFile.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/stat.h>

namespace raduvuz::web {

namespace {

constexpr size_t kMaxFileBytes = 16 << 20;
constexpr const char* kHeader = "# raduvuz-web accounts, one per line: NAME:ROLE:ARGON2ID-HASH\n";

} // namespace

const char* RoleName(TRole role) {
    return role == TRole::Operator ? "operator" : "viewer";
}

std::optional<TRole> RoleNamed(const std::string& name) {
    if (name == "viewer")
        return TRole::Viewer;
    if (name == "operator")
        return TRole::Operator;
    return std::nullopt;
}

TAccounts::TAccounts(std::string file) : File(std::move(file)) {}

void TAccounts::Refresh() {
    struct stat info {};
    if (::stat(File.c_str(), &info) != 0) {
        if (errno != ENOENT)
            throw TAccountsError("cannot read the accounts file " + File + ": " +
                                 std::strerror(errno));
        Accounts.clear();
        Size = -1;
        return;
    }
    if (info.st_ino == Inode && info.st_size == Size && info.st_mtim.tv_sec == Modified.tv_sec &&
        info.st_mtim.tv_nsec == Modified.tv_nsec)
        return;
    std::string text;
    std::string error;
    if (!ReadWholeFile(File, text, kMaxFileBytes, &error))
        throw TAccountsError("cannot read the accounts file " + File + ": " + error);
    std::vector<TAccount> accounts;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        const std::optional<TRole> role =
            second == std::string::npos ? std::nullopt
                                        : RoleNamed(line.substr(first + 1, second - first - 1));
        TAccount account;
        if (role) {
            account.Name = line.substr(0, first);
            account.Role = *role;
            account.Hash = line.substr(second + 1);
        }
        if (!role || !ValidName(account.Name) || account.Hash.empty())
            throw TAccountsError("the accounts file " + File + " is damaged in line " +
                                 std::to_string(number) + " (expected NAME:ROLE:HASH)");
        accounts.push_back(std::move(account));
    }
    Accounts = std::move(accounts);
    Inode = info.st_ino;
    Size = info.st_size;
    Modified = info.st_mtim;
}

const TAccount* TAccounts::Find(const std::string& name) const {
    const auto found = std::find_if(Accounts.begin(), Accounts.end(),
                                    [&](const TAccount& account) { return account.Name == name; });
    return found == Accounts.end() ? nullptr : &*found;
}

TAccount& TAccounts::Named(const std::string& name) {
    Refresh();
    const auto found = std::find_if(Accounts.begin(), Accounts.end(),
                                    [&](const TAccount& account) { return account.Name == name; });
    if (found == Accounts.end())
        throw TAccountsError("there is no user " + name);
    return *found;
}

void TAccounts::Add(const std::string& name, TRole role, const std::string& password) {
    if (!ValidName(name))
        throw TAccountsError("\"" + name +
                             "\" is no user name: 1 to 64 letters, digits, \".\", \"_\" or \"-\"");
    Refresh();
    if (Find(name))
        throw TAccountsError("the user " + name + " exists already (change the password with " +
                             "\"raduvuz-web user passwd " + name + "\")");
    Accounts.push_back({name, role, HashPassword(password)});
    Save();
}

void TAccounts::SetPassword(const std::string& name, const std::string& password) {
    Named(name).Hash = HashPassword(password);
    Save();
}

void TAccounts::Remove(const std::string& name) {
    const TAccount* account = &Named(name);
    Accounts.erase(Accounts.begin() + (account - Accounts.data()));
    Save();
}

void TAccounts::Save() {
    std::string text = kHeader;
    for (const TAccount& account : Accounts)
        text += account.Name + ":" + RoleName(account.Role) + ":" + account.Hash + "\n";
    std::string error;
    if (!WriteWholeFile(File, text, &error))
        throw TAccountsError("cannot write the accounts file " + File + ": " + error);
    Size = -1;
    Refresh();
}

bool TAccounts::ValidName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '-')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

std::string TAccounts::HashPassword(const std::string& password) {
    if (password.empty())
        throw TAccountsError("the password is empty");
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(
            hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw TAccountsError("cannot hash the password: out of memory");
    return hash;
}

bool TAccounts::VerifyPassword(const std::string& hash, const std::string& password) {
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void TAccounts::VerifyNothing(const std::string& password) {
    // A hash made once, with the same limits as every account's.
    static const std::string kDummy = HashPassword("raduvuz-web: no such account");
    VerifyPassword(kDummy, password);
}

} // namespace raduvuz::web
