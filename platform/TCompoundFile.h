#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

// A structured-storage (OLE2 compound) file, the form of the module's configuration file.
// The whole file is held in memory while it is open. Every change is written at once, as in a
// storage opened in direct mode: the complete file goes to a temporary file in the same folder,
// which then takes the file's place (WriteWholeFile), so a crash or a full disk leaves either
// the old or the new file. Files it makes are 0600. Sharing modes are advisory OFD locks: a
// reader shuts out writers, a writer shuts out everybody.
class TCompoundFile {
public:
    // How the last open or write went.
    enum class TStatus { Ok, Missing, InUse, Unreadable, NotCompound, WriteFailed };

    TCompoundFile() = default;
    ~TCompoundFile() { Close(); }
    TCompoundFile(const TCompoundFile&) = delete;
    TCompoundFile& operator=(const TCompoundFile&) = delete;

    // Existing file, read only, writers shut out; false when it is missing, locked by a writer
    // or not a compound file.
    bool OpenRead(const std::string& path);
    // Existing file, read-write, exclusive.
    bool OpenReadWrite(const std::string& path);
    // A new empty file, read-write, exclusive; an existing file at path is replaced.
    bool Create(const std::string& path);
    // OpenReadWrite, else Create when there is no file at path. A file that is not a compound
    // file is never replaced here: whoever owns it decides what becomes of it.
    bool OpenOrCreate(const std::string& path);
    void Close();

    bool IsOpen() const { return Fd >= 0; }
    bool IsWritable() const { return Writable; }
    const std::string& Path() const { return FilePath; }
    TStatus Status() const { return LastStatus; }
    // Why the last open or write failed: the system's text or what is wrong with the file, and
    // the file; empty after a success.
    const std::string& ErrorText() const { return LastError; }

    // Streams of the root storage, in the order the file's directory gives them (the format keeps
    // no order of its own). Names compare without regard to ASCII case.
    std::vector<std::string> StreamNames() const;
    bool HasStream(std::string_view name) const;
    // The whole stream; nothing when it is missing.
    std::optional<std::string> ReadStream(std::string_view name) const;
    // Creates the stream or replaces its contents and writes the file; the other streams and
    // storages stay. False when the file is not writable, the name is not a valid stream name
    // or the file cannot be written.
    bool WriteStream(std::string_view name, std::string_view data);
    bool DeleteStream(std::string_view name);

    // A stored text: a 32-bit little-endian byte count, then that many bytes. Nothing when the
    // stream is missing or shorter than its count says.
    std::optional<std::string> ReadCountedText(std::string_view name) const;
    bool WriteCountedText(std::string_view name, std::string_view text);

    // At most 31 characters, none of "/", "\", ":" and "!".
    static bool IsValidName(std::string_view name);

    // A storage element: a stream (Data) or a sub-storage (Children).
    struct TNode {
        std::string Name;
        bool IsStorage = false;
        std::string Data;
        std::vector<TNode> Children;
        std::array<uint8_t, 16> ClassId{};
    };

private:
    int Fd = -1;
    bool Writable = false;
    std::string FilePath;
    TNode Root;
    TStatus LastStatus = TStatus::Ok;
    std::string LastError;

    bool Failed(TStatus status, const std::string& text);
    bool OpenLocked(const std::string& path, bool writable);
    bool Flush();
    TNode* FindStream(std::string_view name);
    const TNode* FindStream(std::string_view name) const;
};

} // namespace raduvuz
