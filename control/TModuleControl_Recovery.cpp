// What the module does after it ended without finishing its work (a crash, a kill, Close in the
// middle of a job). A spool file counts only when it holds its whole document; one cut short or
// damaged is moved into the job folder's damaged/ folder and named in the log, never listed as
// passed. The jobs that waited to be sent come back from the journal of waiting jobs, one copy
// for each copy not sent yet. A document that was being spooled stays with the store (its
// reader left without closing it), which offers it again, and it is spooled again whole.

#include "common/Language.h"
#include "common/TParams.h"
#include "control/TModuleControl.h"
#include "jobs/JobNames.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/WaitList.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "platform/WholeFile.h"

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <tuple>

namespace raduvuz {

namespace {

bool RecordFileBefore(const TWaitRecord& a, const TWaitRecord& b) {
    return std::tie(a.JobID, a.DocID) < std::tie(b.JobID, b.DocID);
}

} // namespace

void TModuleControl::BeginJournalReload() {
    JournalRecords = WaitJournal.BeginReload();
    // By spool file, each file's copies in the order they came, so that a file finds its copies
    // without reading every record.
    std::stable_sort(JournalRecords.begin(), JournalRecords.end(), RecordFileBefore);
    JournalRecordMade.assign(JournalRecords.size(), false);
}

void TModuleControl::EndJournalReload() {
    // Copies whose spool file is gone or was set aside as damaged cannot be sent: said once
    // for each file.
    std::map<std::string, std::string> lost;
    for (size_t i = 0; i < JournalRecords.size(); ++i) {
        if (JournalRecordMade[i])
            continue;
        const TWaitRecord& record = JournalRecords[i];
        std::string& dests = lost[JobKey(record.JobID, record.DocID)];
        dests += (dests.empty() ? "" : ",") + record.Dests;
    }
    for (const auto& [job, dests] : lost)
        LogFailure("Job " + job + " waited to be sent (to " + dests +
                   ") when the module ended, but its spool file " + JobDir + "/" + job +
                   " is missing or damaged; it is not sent again");
    JournalRecords.clear();
    JournalRecordMade.clear();
    WaitJournal.EndReload();
}

std::string TModuleControl::SetSpoolFileAside(const std::string& name, std::string& why) {
    const std::string folder = DamagedFolder();
    if (!DirectoryExists(folder) && !ForceDirectories(folder)) {
        why = LastErrorText();
        return std::string();
    }
    std::string target = folder + "/" + name;
    for (int n = 2; FileExists(target); ++n)
        target = folder + "/" + name + "." + std::to_string(n);
    if (!RenameFlushed(JobDir + "/" + name, target, &why))
        return std::string();
    // Retention counts a damaged file's age from the moment it was set aside.
    TouchFile(target);
    return target;
}

bool TModuleControl::ReadReloadedSpoolFile(int folder, const std::string& name, TSpoolHead& head) {
    TFileStream file;
    // A file another process holds is left where it is, as the reload always did.
    if (!file.Open(folder >= 0 ? name : JobDir + "/" + name, TFileStream::TMode::ReadDenyWrite,
                   folder >= 0 ? folder : AT_FDCWD)) {
        Log(LanguageFormat(1740, {name}, "Error load saved job %s") + " (" + LastErrorText() + ")");
        return false;
    }
    std::string problem;
    if (SpoolFileWhole(file, problem) && file.Seek(0) &&
        ReadSpoolHeader(file, TermKeys, head.Text, head.Created)) {
        head.Length = file.Size();
        head.DataSize = SpoolDataSize(head.Text, file);
        return true;
    }
    file.Close();
    std::string why;
    const std::string kept = SetSpoolFileAside(name, why);
    LogFailure(LanguageFormat(1740, {name}, "Error load saved job %s") + " (" + problem +
               "; file " + JobDir + "/" + name + "): " +
               (kept.empty() ? "it cannot be moved aside (" + why + ") and stays where it is"
                             : "it is kept as " + kept) +
               " and is not listed as passed");
    return false;
}

bool TModuleControl::RemakeJournalledJobs(int32_t jobID, int32_t docID) {
    int made = 0;
    int held = 0;
    std::string dests;
    bool journalled = false;
    TWaitRecord key;
    key.JobID = jobID;
    key.DocID = docID;
    const auto first =
        std::lower_bound(JournalRecords.begin(), JournalRecords.end(), key, RecordFileBefore);
    for (auto at = first; at != JournalRecords.end() && !RecordFileBefore(key, *at); ++at) {
        const size_t i = static_cast<size_t>(at - JournalRecords.begin());
        const TWaitRecord& record = *at;
        if (JournalRecordMade[i])
            continue;
        journalled = true;
        if (!RemakeWaitDoc(*this, record))
            continue;
        JournalRecordMade[i] = true;
        ++made;
        held += record.Held ? 1 : 0;
        if (dests.find(record.Dests) == std::string::npos)
            dests += (dests.empty() ? "" : ",") + record.Dests;
    }
    if (made > 0)
        Log("Job " + JobKey(jobID, docID) + " waited to be sent when the module ended: " +
            std::to_string(made) + (made == 1 ? " copy waits" : " copies wait") + " again (to " +
            dests + (held > 0 ? ", " + std::to_string(held) + " held" : std::string()) + ")");
    return journalled;
}

void TModuleControl::GiveBackReadingJobs() {
    for (TDoc* job : Jobs) {
        if (job->State() != TJobState::Reading || !job->SpoolMode || job->DocID <= 0)
            continue;
        job->InputGoesBack = true;
        const std::string name = JobKey(job->JobID, job->DocID);
        // Whole and on the disk, its copies on their way into the journal (a Close let in by
        // that write): the file stays. Once the copies are on the disk the document is closed
        // and the next start sends them; if they do not get there, the store offers the
        // document again.
        if (job->OutDocID == job->DocID) {
            Log("File " + job->FileName + " (job " + name +
                ") was spooled when the module closed, its copies on their way into the journal "
                "of waiting jobs: the next start sends them, or spools the document again if "
                "they are not there");
            continue;
        }
        // A flush on a worker thread still holds the stream: the job lets go of it once the
        // flush is over. The file can be moved while it is open.
        if (!job->SpoolFlushing)
            job->SpoolStream.reset();
        std::string why;
        const std::string kept =
            FileExists(JobDir + "/" + name) ? SetSpoolFileAside(name, why) : std::string();
        Log("File " + job->FileName + " (job " + name +
            ") was being spooled when the module closed: the store offers the document again "
            "once the module has left the bus" +
            (kept.empty() ? std::string() : "; the part spooled is kept as " + kept));
    }
}

bool TModuleControl::CloseDocumentSpooledBefore(int32_t docID, int32_t jobID,
                                                const std::string& dds) {
    if (!WaitJournal.HasSpoolFile(jobID, docID))
        return false;
    Process.StoreObject.RCloseDoc(ModuleNumber, docID);
    Log("File " + TParams(dds).GetValueText("FileName") + " (job " + JobKey(jobID, docID) +
        ") was spooled before the module ended and its copies wait to be sent: the store's "
        "document, offered again, is closed");
    return true;
}

} // namespace raduvuz
