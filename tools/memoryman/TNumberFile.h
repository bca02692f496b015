#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace raduvuz {

// The highest document and job numbers any store using this file may have handed out.
struct TNumbers {
    int32_t Document = 0;
    int32_t Job = 0;
};

// The store's numbering state, kept across restarts and crashes so that no number is ever given
// twice. Several stores may share one file: every change is made under an exclusive lock on
// "<file>.lock" and written to a temporary file, flushed and renamed into place.
class TNumberFile {
public:
    explicit TNumberFile(std::string path) : Path(std::move(path)) {}

    const std::string& FilePath() const { return Path; }

    // Reads the numbers (zero when there is no file yet). False, with the reason, when the file
    // cannot be read or is damaged.
    bool Read(TNumbers& numbers, std::string& error) const;
    // Reads, lets change adjust and writes the numbers back, all under the lock; change returns
    // false to leave the file as it is.
    bool Update(const std::function<bool(TNumbers&)>& change, std::string& error);

    // $XDG_STATE_HOME/memoryman/state, else ~/.local/state/memoryman/state.
    static std::string DefaultPath();

private:
    bool Write(const TNumbers& numbers, std::string& error);
    std::string Path;
};

} // namespace raduvuz
