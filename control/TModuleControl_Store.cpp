// The module's side of the saved-job store: the start-up reload of passed jobs from the job
// folder and the hold file, and the operator's questions about saved jobs.

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "control/HoldFile.h"
#include "control/IModuleView.h"
#include "control/TModuleControl.h"
#include "jobs/JobNames.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "jobs/TSavedDoc.h"
#include "jobs/WaitList.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "platform/WholeFile.h"

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

// The job and document numbers of a spool file name; -1 for both without "_".
std::pair<int32_t, int32_t> JobFileNumbers(const std::string& name) {
    const size_t underscore = name.find('_');
    if (underscore == std::string::npos)
        return {-1, -1};
    return {StrToIntDef(name.substr(0, underscore), 0),
            StrToIntDef(name.substr(underscore + 1), 0)};
}

// A job's two numbers as one key that sorts.
uint64_t HeldKey(int32_t jobID, int32_t docID) {
    return static_cast<uint64_t>(static_cast<uint32_t>(jobID)) << 32 | static_cast<uint32_t>(docID);
}

std::vector<std::string> OrdinaryFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        // The entry's type saves a stat per file where the file system gives it.
        if (entry->d_type == DT_REG) {
            names.push_back(name);
            continue;
        }
        struct stat info {};
        if ((entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) &&
            ::stat((folder + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

} // namespace

void TModuleControl::ReloadSavedJobs() {
    if (!DirectoryExists(JobDir))
        return;
    const std::string holdFile = HoldFilePath();
    if (FileExists(holdFile)) {
        std::string text;
        std::string why;
        // A hold file that cannot be read stays for the operator; its jobs come back as passed.
        if (ReadWholeFile(holdFile, text, kMaxHoldFileBytes, &why)) {
            HoldJobs = ParseHoldFile(text);
            ::unlink(holdFile.c_str());
        } else {
            LogFailure("Cannot read the hold file (" + why + "; file " + holdFile +
                       "); its jobs are not held again");
        }
    }

    const TServerClient::TLabelHold labels(Process.ServerObject);
    // Sorted once, searched per file by its numbers: no text made or compared per held job. An
    // entry counts only as the name its numbers give, as the files are named.
    std::vector<uint64_t> held;
    held.reserve(HoldJobs.size());
    for (const std::string& entry : HoldJobs) {
        const auto [jobID, docID] = JobFileNumbers(entry);
        if (jobID > 0 && docID > 0 && JobKey(jobID, docID) == entry)
            held.push_back(HeldKey(jobID, docID));
    }
    std::sort(held.begin(), held.end());
    TJobListModel& completed = JobRows.Passed();
    // The views hear of the reloaded rows once, at the end.
    struct TNoticesHeld {
        TJobListModel& Rows;
        explicit TNoticesHeld(TJobListModel& rows) : Rows(rows) { Rows.HoldNotices(); }
        ~TNoticesHeld() { Rows.ReleaseNotices(); }
        TNoticesHeld(const TNoticesHeld&) = delete;
        TNoticesHeld& operator=(const TNoticesHeld&) = delete;
    };
    const TNoticesHeld processNotices(JobRows.Process());
    const TNoticesHeld passedNotices(completed);
    // The files are opened in the job folder's own descriptor, not by their whole path.
    struct TFolder {
        int Fd;
        explicit TFolder(const std::string& path)
            : Fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
        ~TFolder() {
            if (Fd >= 0)
                ::close(Fd);
        }
        TFolder(const TFolder&) = delete;
        TFolder& operator=(const TFolder&) = delete;
    };
    const TFolder folder(JobDir);
    BeginJournalReload();
    for (const std::string& name : OrdinaryFiles(JobDir)) {
        const auto [jobID, docID] = JobFileNumbers(name);
        if (jobID <= 0 || docID <= 0)
            continue;
        TSpoolHead head;
        if (!ReadReloadedSpoolFile(folder.Fd, name, head))
            continue;
        // The journal knows the copies that still wait better than the hold file of the last
        // Close: they come back as they were.
        if (RemakeJournalledJobs(jobID, docID))
            continue;
        // A held job comes back held in the list of jobs in process, not as a passed job.
        if (std::binary_search(held.begin(), held.end(), HeldKey(jobID, docID))) {
            ReprocessDoc(*this, jobID, docID, std::move(head), std::string(), true);
            continue;
        }
        const TParams params(head.Text);
        TListRow row;
        row.Caption = std::to_string(jobID);
        std::string jobName = params.GetValueText("Name");
        if (jobName.empty())
            jobName = "Unknown";
        const std::string devices = params.GetValueText("Device");
        row.SubItems = {std::to_string(docID),
                        ItemsAsTyped(jobName),
                        params.GetValueText("Page"),
                        ItemsAsTyped(params.GetValueText("Color")),
                        ShortDateText(head.Created),
                        LongTimeText(head.Created),
                        AsciiUpper(params.GetValueText("File")),
                        SizeTextOf(params.GetValueText("Size")),
                        devices.empty() ? std::string() : NamesOfIds(devices, TermNames),
                        devices.empty() ? std::string() : NamesOfIds(devices, TermKeys)};
        row.Bytes = head.DataSize;
        row.Created = head.Created;
        row.Devices = devices;
        row.Priority = StrToIntDef(params.GetValueText("Priority"), 0);
        completed.Insert(LastInTop ? 0 : completed.Count(), std::move(row));
    }
    EndJournalReload();
}

std::string TModuleControl::CopySavedJob(const std::string& job, const std::string& doc,
                                         const std::string& folder) {
    std::error_code error;
    std::filesystem::copy_file(SpoolFilePath(job, doc), folder + "/" + job + "_" + doc,
                               std::filesystem::copy_options::overwrite_existing, error);
    return error ? error.message() : std::string();
}

bool TModuleControl::SavedJobInUse(const std::string& doc) const {
    const int32_t docID = StrToIntDef(doc, 0);
    for (const auto& record : SavedDocs) {
        if (record->DocID == docID)
            return record->SaveCount > 0;
    }
    return false;
}

bool TModuleControl::JobInProcess(const std::string& job, const std::string& doc) const {
    const int32_t jobID = StrToIntDef(job, 0);
    const int32_t docID = StrToIntDef(doc, 0);
    return std::any_of(Jobs.begin(), Jobs.end(), [&](const TDoc* candidate) {
        return candidate->DocID == docID && candidate->JobID == jobID;
    });
}

} // namespace raduvuz
