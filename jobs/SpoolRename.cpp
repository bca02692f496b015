#include "jobs/SpoolRename.h"

#include "common/TParams.h"
#include "jobs/SpoolFile.h"
#include "platform/System.h"
#include "platform/TFileStream.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace raduvuz {

namespace {

constexpr int64_t kCopyBlock = 65535;

TSpoolRename Failed(TSpoolRename::TResult result, const std::string& path,
                    const std::string& what) {
    return TSpoolRename{result, path + ": " + what};
}

// Makes the rename itself durable: the folder's entry is on disk once this returns.
void FlushFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

TSpoolRename RenameSpoolJob(const std::string& path, const std::string& name) {
    using TResult = TSpoolRename::TResult;
    TFileStream old;
    if (!old.Open(path, TFileStream::TMode::ReadDenyWrite))
        return Failed(TResult::NotFound, path, LastErrorText());
    std::string text;
    TDateTime created = 0;
    if (!ReadSpoolHeaderText(old, text, created))
        return Failed(TResult::BadHeader, path, "the spool file header cannot be read");
    TParams params(text);
    params.SetValue("Name", name);
    params.SetValue("FileName", name);

    const std::string temporary = path + "_tmp";
    std::string why;
    {
        TFileStream fresh;
        if (!fresh.Open(temporary, TFileStream::TMode::CreateExclusive))
            return Failed(TResult::NotWritten, temporary, LastErrorText());
        const std::string newText = params.GetText();
        bool ok = WriteSpoolHeaderText(fresh, newText, created);
        const int64_t size = old.Size();
        int64_t position = old.Position();
        // The header's own last field reports no failure: the length of the result tells.
        const int64_t expected = 4 + static_cast<int64_t>(newText.size()) + 8 + size - position;
        std::vector<char> buffer(kCopyBlock);
        while (ok && position < size) {
            const int64_t count = old.Read(buffer.data(), kCopyBlock);
            if (count <= 0) {
                why = "reading " + path + ": " + LastErrorText();
                ok = false;
                break;
            }
            position += count;
            ok = WriteFully(fresh, buffer.data(), count);
        }
        if (ok && fresh.Size() != expected) {
            why = "writing " + temporary + ": " + std::to_string(fresh.Size()) + " of " +
                  std::to_string(expected) + " bytes written";
            ok = false;
        }
        if (ok)
            ok = fresh.Flush();
        if (!ok && why.empty())
            why = "writing " + temporary + ": " + LastErrorText();
        fresh.Close();
        if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
            why = "renaming " + temporary + " to " + path + ": " + LastErrorText();
            ok = false;
        }
        if (ok) {
            FlushFolder(path);
            return TSpoolRename{TResult::Renamed, std::string()};
        }
    }
    ::unlink(temporary.c_str());
    return TSpoolRename{TResult::NotWritten, why};
}

} // namespace raduvuz
