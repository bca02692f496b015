#include "jobs/SpoolRename.h"

#include "common/TParams.h"
#include "jobs/SpoolFile.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "platform/WholeFile.h"

#include <unistd.h>
#include <vector>

namespace raduvuz {

namespace {

constexpr int64_t kCopyBlock = 65535;

TSpoolRename Failed(TSpoolRename::TResult result, const std::string& path,
                    const std::string& what) {
    return TSpoolRename{result, path + ": " + what};
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

    const std::string newText = params.GetText();
    const std::string tooLong = SpoolHeaderProblem(newText);
    if (!tooLong.empty())
        return Failed(TResult::NotWritten, path, "with the new name " + tooLong);

    const std::string temporary = path + "_tmp";
    std::string why;
    {
        TFileStream fresh;
        if (!fresh.Open(temporary, TFileStream::TMode::CreateExclusive))
            return Failed(TResult::NotWritten, temporary, LastErrorText());
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
        // The rename itself is on the disk, with its folder, once this returns.
        std::string renameError;
        if (ok && !RenameFlushed(temporary, path, &renameError)) {
            why = "renaming " + temporary + " to " + path + ": " + renameError;
            ok = false;
        }
        if (ok)
            return TSpoolRename{TResult::Renamed, std::string()};
    }
    ::unlink(temporary.c_str());
    return TSpoolRename{TResult::NotWritten, why};
}

} // namespace raduvuz
