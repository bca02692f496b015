#include "platform/TCompoundFile.h"

#include "platform/FileLock.h"
#include "platform/WholeFile.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

constexpr size_t kMaxNameUnits = 31;
constexpr size_t kReadChunk = 65536;

void InitGsf() {
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

void CloseKeepingErrno(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
}

bool ReadFileBytes(int fd, std::string& bytes) {
    bytes.clear();
    char buffer[kReadChunk];
    off_t offset = 0;
    for (;;) {
        ssize_t done = pread(fd, buffer, sizeof buffer, offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return false;
        if (done == 0)
            return true;
        bytes.append(buffer, static_cast<size_t>(done));
        offset += done;
    }
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

bool ReadNode(GsfInfile* storage, TCompoundFile::TNode& node) {
    gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(storage), node.ClassId.data());
    const int count = gsf_infile_num_children(storage);
    for (int i = 0; i < count; ++i) {
        GsfInput* child = gsf_infile_child_by_index(storage, i);
        if (child == nullptr)
            return false;
        TCompoundFile::TNode item;
        const char* name = gsf_input_name(child);
        item.Name = name ? name : "";
        bool ok = true;
        if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
            item.IsStorage = true;
            ok = ReadNode(GSF_INFILE(child), item);
        } else {
            gsf_off_t remaining = gsf_input_size(child);
            while (ok && remaining > 0) {
                const size_t chunk = remaining > static_cast<gsf_off_t>(kReadChunk)
                                         ? kReadChunk
                                         : static_cast<size_t>(remaining);
                const guint8* data = gsf_input_read(child, chunk, nullptr);
                ok = data != nullptr;
                if (ok)
                    item.Data.append(reinterpret_cast<const char*>(data), chunk);
                remaining -= static_cast<gsf_off_t>(chunk);
            }
        }
        g_object_unref(child);
        if (!ok)
            return false;
        node.Children.push_back(std::move(item));
    }
    return true;
}

bool Parse(const std::string& bytes, TCompoundFile::TNode& root) {
    InitGsf();
    root = TCompoundFile::TNode{};
    GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                           static_cast<gsf_off_t>(bytes.size()), FALSE);
    if (input == nullptr)
        return false;
    GError* error = nullptr;
    GsfInfile* ole = gsf_infile_msole_new(input, &error);
    g_object_unref(input);
    if (error != nullptr)
        g_error_free(error);
    if (ole == nullptr)
        return false;
    const bool ok = ReadNode(ole, root);
    g_object_unref(ole);
    return ok;
}

bool WriteNode(GsfOutfile* storage, const TCompoundFile::TNode& node) {
    for (const TCompoundFile::TNode& item : node.Children) {
        GsfOutput* child = gsf_outfile_new_child(storage, item.Name.c_str(), item.IsStorage);
        if (child == nullptr)
            return false;
        bool ok = true;
        if (item.IsStorage) {
            gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(child), item.ClassId.data());
            ok = WriteNode(GSF_OUTFILE(child), item);
        } else if (!item.Data.empty()) {
            ok = gsf_output_write(child, item.Data.size(),
                                  reinterpret_cast<const guint8*>(item.Data.data()));
        }
        ok = gsf_output_close(child) && ok;
        g_object_unref(child);
        if (!ok)
            return false;
    }
    return true;
}

bool Serialize(const TCompoundFile::TNode& root, std::string& bytes) {
    InitGsf();
    GsfOutput* sink = gsf_output_memory_new();
    if (sink == nullptr)
        return false;
    GsfOutfile* ole = gsf_outfile_msole_new(sink);
    bool ok = ole != nullptr;
    if (ok) {
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole), root.ClassId.data());
        ok = WriteNode(ole, root);
        ok = gsf_output_close(GSF_OUTPUT(ole)) && ok;
        g_object_unref(ole);
    }
    if (!gsf_output_is_closed(sink))
        ok = gsf_output_close(sink) && ok;
    if (ok) {
        const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink));
        const gsf_off_t size = gsf_output_size(sink);
        ok = data != nullptr && size > 0;
        if (ok)
            bytes.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    }
    g_object_unref(sink);
    return ok;
}

size_t Utf16Units(std::string_view text) {
    size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80)
            continue;
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

} // namespace

bool TCompoundFile::IsValidName(std::string_view name) {
    if (name.empty() || Utf16Units(name) > kMaxNameUnits)
        return false;
    return name.find_first_of("/\\:!") == std::string_view::npos;
}

bool TCompoundFile::Failed(TStatus status, const std::string& text) {
    LastStatus = status;
    LastError = text;
    return false;
}

bool TCompoundFile::OpenLocked(const std::string& path, bool writable) {
    Close();
    int fd = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        return Failed(code == ENOENT ? TStatus::Missing : TStatus::Unreadable, std::strerror(code));
    }
    if (!LockWholeFile(fd, writable ? F_WRLCK : F_RDLCK)) {
        CloseKeepingErrno(fd);
        return Failed(TStatus::InUse, "another process holds it");
    }
    std::string bytes;
    TNode root;
    if (!ReadFileBytes(fd, bytes)) {
        const int code = errno;
        CloseKeepingErrno(fd);
        return Failed(TStatus::Unreadable, std::strerror(code));
    }
    if (!Parse(bytes, root)) {
        CloseKeepingErrno(fd);
        return Failed(TStatus::NotCompound,
                      bytes.empty() ? "the file is empty" : "not a compound file");
    }
    Fd = fd;
    Writable = writable;
    FilePath = path;
    Root = std::move(root);
    LastStatus = TStatus::Ok;
    LastError.clear();
    return true;
}

bool TCompoundFile::OpenRead(const std::string& path) {
    return OpenLocked(path, false);
}

bool TCompoundFile::OpenReadWrite(const std::string& path) {
    return OpenLocked(path, true);
}

bool TCompoundFile::Create(const std::string& path) {
    Close();
    // An existing file is replaced only once the lock shows nobody else holds it; a new one
    // appears whole or not at all.
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT)
        return Failed(TStatus::WriteFailed, std::strerror(errno));
    if (fd >= 0 && !LockWholeFile(fd, F_WRLCK)) {
        CloseKeepingErrno(fd);
        return Failed(TStatus::InUse, "another process holds it");
    }
    Fd = fd;
    Writable = true;
    FilePath = path;
    Root = TNode{};
    if (!Flush()) {
        const std::string why = LastError;
        Close();
        return Failed(TStatus::WriteFailed, why);
    }
    // Somebody took the new file between its rename and our lock.
    if (Fd < 0) {
        Close();
        return Failed(TStatus::InUse, "another process holds it");
    }
    return true;
}

bool TCompoundFile::OpenOrCreate(const std::string& path) {
    return OpenReadWrite(path) || (LastStatus == TStatus::Missing && Create(path));
}

void TCompoundFile::Close() {
    // Closing the descriptor drops its lock.
    if (Fd >= 0)
        close(Fd);
    Fd = -1;
    Writable = false;
    FilePath.clear();
    Root = TNode{};
}

bool TCompoundFile::Flush() {
    std::string bytes;
    if (!Serialize(Root, bytes))
        return Failed(TStatus::WriteFailed, "the compound file cannot be made");
    std::string why;
    if (!WriteWholeFile(FilePath, bytes, &why))
        return Failed(TStatus::WriteFailed, why);
    LastStatus = TStatus::Ok;
    LastError.clear();
    // The lock moves to the file that now holds the name; the old one is gone from the folder.
    int fd = open(FilePath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0 && LockWholeFile(fd, F_WRLCK)) {
        if (Fd >= 0)
            close(Fd);
        Fd = fd;
    } else if (fd >= 0) {
        close(fd);
    }
    return true;
}

TCompoundFile::TNode* TCompoundFile::FindStream(std::string_view name) {
    for (TNode& node : Root.Children) {
        if (!node.IsStorage && SameName(node.Name, name))
            return &node;
    }
    return nullptr;
}

const TCompoundFile::TNode* TCompoundFile::FindStream(std::string_view name) const {
    for (const TNode& node : Root.Children) {
        if (!node.IsStorage && SameName(node.Name, name))
            return &node;
    }
    return nullptr;
}

std::vector<std::string> TCompoundFile::StreamNames() const {
    std::vector<std::string> names;
    for (const TNode& node : Root.Children) {
        if (!node.IsStorage)
            names.push_back(node.Name);
    }
    return names;
}

bool TCompoundFile::HasStream(std::string_view name) const {
    return IsOpen() && FindStream(name) != nullptr;
}

std::optional<std::string> TCompoundFile::ReadStream(std::string_view name) const {
    const TNode* node = IsOpen() ? FindStream(name) : nullptr;
    if (node == nullptr)
        return std::nullopt;
    return node->Data;
}

bool TCompoundFile::WriteStream(std::string_view name, std::string_view data) {
    if (!IsOpen() || !Writable)
        return Failed(TStatus::WriteFailed, "the file is not open for writing");
    if (!IsValidName(name))
        return Failed(TStatus::WriteFailed, "\"" + std::string(name) + "\" cannot name a stream");
    // A storage of the same name is in the way, as it would be for the system's own call.
    for (const TNode& node : Root.Children) {
        if (node.IsStorage && SameName(node.Name, name))
            return Failed(TStatus::WriteFailed,
                          "a storage \"" + std::string(name) + "\" is in the way");
    }
    const TNode saved = Root;
    if (TNode* node = FindStream(name)) {
        node->Name = std::string(name);
        node->Data = std::string(data);
    } else {
        TNode item;
        item.Name = std::string(name);
        item.Data = std::string(data);
        Root.Children.push_back(std::move(item));
    }
    if (Flush())
        return true;
    Root = saved;
    return false;
}

bool TCompoundFile::DeleteStream(std::string_view name) {
    if (!IsOpen() || !Writable)
        return false;
    TNode* node = FindStream(name);
    if (node == nullptr)
        return false;
    const TNode saved = Root;
    Root.Children.erase(Root.Children.begin() + (node - Root.Children.data()));
    if (Flush())
        return true;
    Root = saved;
    return false;
}

std::optional<std::string> TCompoundFile::ReadCountedText(std::string_view name) const {
    std::optional<std::string> data = ReadStream(name);
    if (!data || data->size() < 4)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data->data());
    const uint32_t count = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 |
                           static_cast<uint32_t>(bytes[3]) << 24;
    if (data->size() - 4 < count)
        return std::nullopt;
    return data->substr(4, count);
}

bool TCompoundFile::WriteCountedText(std::string_view name, std::string_view text) {
    if (text.size() > UINT32_MAX)
        return false;
    const auto count = static_cast<uint32_t>(text.size());
    std::string data;
    data.reserve(text.size() + 4);
    for (int shift = 0; shift < 32; shift += 8)
        data.push_back(static_cast<char>((count >> shift) & 0xFF));
    data.append(text);
    return WriteStream(name, data);
}

} // namespace raduvuz
