// What a job does when the world around it fails: the document store goes away, the disk of the
// job folder is full, or a file of its spool file's name is already there.

#include "common/TParams.h"
#include "jobs/IJobHost.h"
#include "jobs/JobNames.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "platform/WholeFile.h"
#include "services/TStoreClient.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace raduvuz {

namespace {

bool DiskFullError(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

std::string ErrorText(int error) {
    // The spool writers give this for a header that no reader would take.
    if (error == EMSGSIZE)
        return "the parameter text is longer than the " + std::to_string(SpoolMaxTextLength) +
               " bytes a spool file header holds";
    return error != 0 ? std::strerror(error) : "no spool file open";
}

// The name the spool file at path gives its job, "unknown" when its header cannot be read.
std::string NameInSpoolFile(const std::string& path, const TTaggedList& termKeys) {
    TFileStream file;
    std::string text;
    TDateTime created = 0;
    if (!file.Open(path, TFileStream::TMode::ReadDenyWrite) ||
        !ReadSpoolHeader(file, termKeys, text, created))
        return "unknown";
    const std::string name = TParams(text).GetValueText("Name");
    return name.empty() ? "Unknown" : name;
}

} // namespace

std::string TDoc::JobText() const {
    return JobLabel(JobID, DocID, Name);
}

void TDoc::StoreGoneInStep(const TStoreGone& error) {
    // Calls sent to the store that has gone have no answer worth waiting for.
    BlockClosing.reset();
    Switching.reset();
    Host.StoreGone(error.what());
    SetWaiting(true);
}

void TDoc::PeerFailedWhileWaiting(const TDispatchError& error, bool logged) {
    // Nothing of the job left the module yet: the spool file is closed again and the output, if
    // the store made one, is asked for anew at the next check.
    SpoolStream.reset();
    OutDocID = 0;
    SetWaiting(true);
    PeerCallFailed = true;
    if (logged)
        return;
    Host.LogFailure("Job " + JobText() +
                    ": a call to the workflow server or the document store failed while the "
                    "job waits to be sent (" +
                    error.Name + ": " + error.what() +
                    "); the job keeps waiting and is tried again");
}

bool TDoc::LeaveGoneStore() {
    if (FState == TJobState::Waiting)
        return false;
    if (FState == TJobState::Sending) {
        // The half-written output went with the store; the spool file is whole.
        SpoolStream.reset();
        OutDocID = 0;
        SendAsPath = false;
        Moved = 0;
        if (ListItem) {
            Host.ProcessRows().SetImage(ListItem, -1);
            Host.ProcessRows().SetProgress(ListItem, 0, DataSize);
        }
        MoveTo(TJobState::Waiting,
               "Job " + JobText() +
                   ": the document store has gone while the job was being sent; it is sent "
                   "again from its spool file once a store is back",
               true);
        return false;
    }
    std::string file;
    if (SpoolStream) {
        file = SpoolFilePath();
        SpoolStream.reset();
        ::unlink(file.c_str());
    }
    Host.LogFailure(
        "Job " + JobText() + ": the document store has gone while the job was " +
        (SpoolMode ? "spooling" : "being passed on") + "; its input went with the store" +
        (file.empty() ? std::string() : ", the partial spool file " + file + " is removed"));
    return true;
}

void TDoc::SetAsideSpoolFile(const std::string& path) {
    const std::string oldName = NameInSpoolFile(path, Host.GetTermKeys());
    const std::string key = JobKey(JobID, DocID);
    if (Host.SpoolFileOfOtherJob(*this))
        throw std::runtime_error("the spool file " + path + " belongs to job " + key + " (" +
                                 oldName + "), which is in process; job " + JobText() +
                                 " cannot be spooled under the same name");
    const std::string folder = Host.GetSettings().JobDir + "/damaged";
    if (!ForceDirectories(folder))
        throw std::runtime_error("Cannot make " + folder + " for the kept spool file " + path +
                                 ": " + LastErrorText());
    std::string aside = folder + "/" + key + ".kept";
    for (int n = 2; FileExists(aside); ++n)
        aside = folder + "/" + key + ".kept." + std::to_string(n);
    std::string why;
    if (!RenameFlushed(path, aside, &why))
        throw std::runtime_error("Cannot move the kept spool file " + path + " of job " + key +
                                 " (" + oldName + ") aside: " + why);
    // Retention counts its age from now.
    TouchFile(aside);
    Host.ForgetPassedJob(JobID, DocID);
    Host.LogFailure("Job " + JobText() + ": the spool file " + path + " of the kept job " + key +
                    " (" + oldName +
                    ") is in the way (the store numbered a document again); "
                    "the kept file was moved to " +
                    aside);
}

bool TDoc::WaitForRoom(int error, int64_t at) {
    if (!DiskFullError(error) || !SpoolStream || !SpoolStream->Truncate(at) ||
        !SpoolStream->Seek(at))
        return false;
    RoomWaitAt = at;
    if (!BlockPending && !HeaderPending)
        Host.LogFailure("Job " + JobText() + ": the disk is full (" + ErrorText(error) + "; file " +
                        SpoolFilePath() +
                        "); the job waits with the rest of its input in the store until there "
                        "is room again");
    Host.LowDiskSpace();
    SetWaiting(true);
    return true;
}

bool TDoc::WriteHeaderOrWait() {
    if (SpoolStream && WriteSpoolHeader(*SpoolStream, DDS, Host.GetTermKeys(), FCreated)) {
        HeaderPending = false;
        return true;
    }
    const int error = SpoolStream ? errno : 0;
    if (!WaitForRoom(error, 0))
        throw std::runtime_error("Cannot write the spool file: " + ErrorText(error));
    HeaderPending = true;
    return false;
}

void TDoc::DropSpoolCopy(int error) {
    const std::string path = SpoolFilePath();
    SpoolStream.reset();
    ::unlink(path.c_str());
    SpoolCopyDropped = true;
    Host.LogFailure("Job " + JobText() + ": its spool copy cannot be written (" + ErrorText(error) +
                    "; file " + path +
                    "); the copy is dropped and the document is passed on without it");
}

} // namespace raduvuz
