// Retention: which passed jobs leave the module's storage, by the module's DeletePolicy, and the
// expiry of saved output documents; also the operator's abort of a job in process and the
// removal of a job's preview folder.
//
// A passed job is a completed row plus its spool file JobDir/<job>_<doc>. Under policies 0 to 2
// a pass walks the rows and deletes those old enough (policy 0: all of them); under policy 3 it
// deletes the oldest while the storage's file system has less free space than FreeSpace. A row
// whose job the workflow keeps (a saved record in use) or that a job in process still shares is
// never deleted.

#include "common/DateTime.h"
#include "common/Language.h"
#include "common/Utils.h"
#include "control/IModuleView.h"
#include "control/TModuleControl.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "jobs/TSavedDoc.h"
#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <exception>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

// The hourglass for the length of a pass, also when it ends by an exception.
class TBusyCursor {
public:
    explicit TBusyCursor(IModuleView& window) : Window(window) { Window.SetBusyCursor(true); }
    ~TBusyCursor() { Window.SetBusyCursor(false); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    IModuleView& Window;
};

// A candidate of the low-disk rule.
struct TDelFileInfo {
    double SizeMb = 0;
    int32_t Age = 0;
    uint32_t RowId = 0;
    std::string Path;
};

const std::string& SubItem(const TListRow& row, int index) {
    static const std::string kEmpty;
    return row.SubItems.size() > static_cast<size_t>(index) ? row.SubItems[index] : kEmpty;
}

// Minutes since the row's "Date" and "Time"; a row whose time cannot be read ends the pass.
int32_t RowAge(const TListRow& row, TDateTime now) {
    const std::string text = SubItem(row, siDate) + " " + SubItem(row, siTime);
    const std::optional<TDateTime> at = ParseDateTime(text);
    if (!at)
        throw std::runtime_error("job " + row.Caption + " has no readable date \"" + text + "\"");
    return static_cast<int32_t>(MinutesBetween(now, *at));
}

} // namespace

std::string TModuleControl::SpoolFilePath(const std::string& job, const std::string& doc) const {
    return JobDir + "/" + job + "_" + doc;
}

void TModuleControl::RetentionPass() {
    TBusyCursor hourglass(View());
    try {
        const TDateTime now = Process.Clock();
        for (size_t i = 0; i < SavedDocs.size();) {
            const std::shared_ptr<TSavedDoc> record = SavedDocs[i];
            if (record->SaveCount > 0 && MinutesBetween(now, record->SavedAt) >= SavedKeepTime) {
                Log(LanguageFormat(1727, {record->FileName}, "Delete saved doc (timeout) %s"));
                SavedDocs.erase(SavedDocs.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        if (DeletePolicy == 3)
            DeleteOldestWhileDiskIsLow(now);
        else
            DeleteExpiredJobs(now);
    } catch (const std::exception& e) {
        LogFailure(std::string("Exception in the retention pass (") + e.what() + "; job folder " +
                   JobDir + ")");
    }
}

void TModuleControl::DeleteOldestWhileDiskIsLow(TDateTime now) {
    double free = static_cast<double>(Process.FreeSpaceKb(StoreDir)) / 1024;
    if (free >= FreeSpace)
        return;
    TJobListModel& completed = JobRows.Passed();
    // Oldest first; rows of equal age keep their order.
    std::vector<TDelFileInfo> candidates;
    for (int i = 0; i < completed.Count(); ++i) {
        const TListRow& row = *completed.At(i);
        if (SavedJobInUse(SubItem(row, siDocID)))
            continue;
        const std::string path = SpoolFilePath(row.Caption, SubItem(row, siDocID));
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        TDelFileInfo candidate{static_cast<double>(info.st_size) / 1048576, RowAge(row, now),
                               row.Id, path};
        const auto younger =
            std::find_if(candidates.begin(), candidates.end(),
                         [&](const TDelFileInfo& other) { return other.Age < candidate.Age; });
        candidates.insert(younger, std::move(candidate));
    }
    for (const TDelFileInfo& candidate : candidates) {
        if (free >= FreeSpace)
            break;
        // The disk is not asked again: what the files held counts as freed.
        free += candidate.SizeMb;
        TListRow* row = completed.FindId(candidate.RowId);
        if (!row)
            continue;
        const std::string job = row->Caption;
        if (::unlink(candidate.Path.c_str()) == 0)
            Log(LanguageFormat(1728, {job, SubItem(*row, siName)},
                               "Low disk space. Job deleted %s (%s)"));
        DeletePreview(job);
        // The server's answer may have let other calls change the list meanwhile.
        if (TListRow* still = completed.FindId(candidate.RowId))
            completed.Delete(still);
    }
}

void TModuleControl::DeleteExpiredJobs(TDateTime now) {
    TJobListModel& completed = JobRows.Passed();
    TJobListModel& inProcess = JobRows.Process();
    for (int i = 0; i < completed.Count();) {
        const TListRow& row = *completed.At(i);
        const std::string& doc = SubItem(row, siDocID);
        bool shared = false;
        for (int p = 0; p < inProcess.Count() && !shared; ++p) {
            const TListRow& other = *inProcess.At(p);
            shared = other.Caption == row.Caption && SubItem(other, siDocID) == doc &&
                     SubItem(other, siName) == SubItem(row, siName) &&
                     SubItem(other, siPage) == SubItem(row, siPage);
        }
        if (SavedJobInUse(doc) || shared || (DeletePolicy != 0 && RowAge(row, now) < KeepTime)) {
            ++i;
            continue;
        }
        const uint32_t id = row.Id;
        const std::string job = row.Caption;
        const std::string name = SubItem(row, siName);
        const std::string path = SpoolFilePath(job, doc);
        if (FileExists(path)) {
            if (::unlink(path.c_str()) != 0)
                Log(LanguageFormat(1736, {job, name}, "Can not delete job %s (%s). ") +
                    std::strerror(errno));
            else if (DeletePolicy > 0)
                Log(LanguageFormat(1728, {job, name, SubItem(row, siDate), SubItem(row, siTime)},
                                   "Job time is expired %s (%s). Job deleted. %s %s"));
            else
                Log(LanguageFormat(1735, {job, name}, "Job %s (%s) deleted"));
        }
        DeletePreview(job);
        if (TListRow* still = completed.FindId(id))
            completed.Delete(still);
    }
}

std::vector<TModuleControl::TDamagedFile> TModuleControl::DamagedFiles() const {
    std::vector<TDamagedFile> files;
    const std::string folder = DamagedFolder();
    DIR* dir = JobDir.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir)
        return files;
    while (const dirent* entry = ::readdir(dir)) {
        TDamagedFile file{entry->d_name, folder + "/" + entry->d_name, 0, 0};
        struct stat info {};
        if (::stat(file.Path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        std::tm local{};
        localtime_r(&info.st_mtim.tv_sec, &local);
        file.Size = info.st_size;
        file.SetAside = DateTimeFromTm(local, static_cast<int>(info.st_mtim.tv_nsec / 1000000));
        files.push_back(std::move(file));
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end(), [](const TDamagedFile& a, const TDamagedFile& b) {
        return a.SetAside != b.SetAside ? a.SetAside < b.SetAside : a.Name < b.Name;
    });
    return files;
}

void TModuleControl::DamagedRetention() {
    if (JobDir.empty())
        return;
    const TDateTime now = Process.Clock();
    const bool byAge = MinutesBetween(now, Process.LastDamagedRetention) >= 1;
    const double needMb =
        std::max(static_cast<double>(kIntakeMinFreeKb) / 1024, DeletePolicy == 3 ? FreeSpace : 0.0);
    double freeMb = static_cast<double>(Process.FreeSpaceKb(StoreDir)) / 1024;
    if (!byAge && freeMb >= needMb)
        return;
    if (byAge)
        Process.LastDamagedRetention = now;
    for (const TDamagedFile& file : DamagedFiles()) {
        const int64_t age = MinutesBetween(now, file.SetAside);
        const bool expired = byAge && age >= KeepTime;
        const bool low = freeMb < needMb;
        // Oldest first: once one may stay, the younger ones may too.
        if (!expired && !low)
            break;
        if (::unlink(file.Path.c_str()) != 0) {
            // Tried again each second while the disk is low: said once.
            static std::set<std::string> told;
            if (told.insert(file.Path).second)
                LogFailure("Can not delete the damaged spool file " + file.Path + " (" +
                           std::strerror(errno) +
                           "); it is tried again, and this line is logged once");
            continue;
        }
        const std::string size = SizeText(file.Size);
        if (expired)
            Log("Damaged spool file " + file.Path + " (" + size + ") deleted: set aside " +
                std::to_string(age) + " minutes ago, KeepTime is " + std::to_string(KeepTime));
        else
            Log("Low disk space (" + std::to_string(static_cast<int64_t>(freeMb)) + " MB free in " +
                StoreDir + ", " + std::to_string(static_cast<int64_t>(needMb)) +
                " MB wanted): damaged spool file " + file.Path + " (" + size +
                ") deleted, the oldest first");
        freeMb += static_cast<double>(file.Size) / 1048576;
    }
}

void TModuleControl::DeletePreview(const std::string& job) {
    // A server that cannot answer might still show the preview: it stays.
    try {
        if (Process.ServerObject.IsJobUse(ModuleNumber, StrToIntDef(job, 0)))
            return;
    } catch (const std::exception&) {
        return;
    }
    const std::string folder = PreviewDir + "/" + job;
    if (PreviewDir.empty() || job.empty() || !DirectoryExists(folder))
        return;
    if (DIR* dir = ::opendir(folder.c_str())) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        for (const std::string& name : names)
            ::unlink((folder + "/" + name).c_str());
    }
    ::rmdir(folder.c_str());
}

bool TModuleControl::AbortJob(TListRow* row) {
    TDoc* job = JobOfRow(row);
    if (!job)
        return false;
    job->SetAbortRequested(true);
    // A copy made from the same spool file still needs it.
    for (const TDoc* other : Jobs) {
        if (other != job && other->DocID == job->DocID)
            return true;
    }
    const std::string doc = std::to_string(job->DocID);
    TJobListModel& completed = JobRows.Passed();
    for (int i = 0; i < completed.Count(); ++i) {
        const TListRow& passed = *completed.At(i);
        if (passed.Caption == row->Caption && SubItem(passed, siDocID) == doc)
            return true;
    }
    ::unlink(SpoolFilePath(std::to_string(job->JobID), doc).c_str());
    const std::string caption = row->Caption;
    DeletePreview(caption);
    return true;
}

} // namespace raduvuz
