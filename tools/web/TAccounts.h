#pragma once

// The accounts of raduvuz-web: one file, mode 0600, a line "NAME:ROLE:HASH" per user, where the
// hash is libsodium's Argon2id string (the password itself is never stored).

#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/types.h>

namespace raduvuz::web {

enum class TRole { Viewer, Operator };

const char* RoleName(TRole role);
std::optional<TRole> RoleNamed(const std::string& name);

struct TAccount {
    std::string Name;
    TRole Role = TRole::Viewer;
    std::string Hash;
};

class TAccountsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAccounts {
public:
    explicit TAccounts(std::string file);

    // Reads the file when it changed since the last read (another process's "user" command);
    // a missing file is no account. Throws TAccountsError when it cannot be read or a line is
    // malformed, naming the file and the line.
    void Refresh();
    const TAccount* Find(const std::string& name) const;
    const std::vector<TAccount>& All() const { return Accounts; }

    // Each change reads the file first and writes it whole (replaced in one step, 0600). Throws
    // TAccountsError for a bad name, a name taken or missing, an empty password.
    void Add(const std::string& name, TRole role, const std::string& password);
    void SetPassword(const std::string& name, const std::string& password);
    void Remove(const std::string& name);

    // 1 to 64 letters, digits, ".", "_", "-"; not starting with "-".
    static bool ValidName(const std::string& name);
    // Argon2id through libsodium (its interactive limits); throws when out of memory.
    static std::string HashPassword(const std::string& password);
    static bool VerifyPassword(const std::string& hash, const std::string& password);
    // Takes the time a verification takes, for a name that has no account, so that the answer's
    // delay does not tell which names exist.
    static void VerifyNothing(const std::string& password);

private:
    void Save();
    TAccount& Named(const std::string& name);

    std::string File;
    std::vector<TAccount> Accounts;
    // What the file was at the last read: a change of any makes the next Refresh read it.
    ino_t Inode = 0;
    off_t Size = -1;
    struct timespec Modified {};
};

} // namespace raduvuz::web
