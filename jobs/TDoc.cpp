#include "jobs/TDoc.h"

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "jobs/IJobHost.h"
#include "jobs/JobNames.h"
#include "jobs/TJobListModel.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "services/TServerClient.h"
#include "services/TStoreClient.h"

#include <algorithm>
#include <exception>

namespace raduvuz {

const char* JobStageName(TJobStage stage) {
    switch (stage) {
    case TJobStage::Reading:
        return "reading";
    case TJobStage::Transferring:
        return "transferring";
    case TJobStage::Spooling:
        return "spooling";
    case TJobStage::Waiting:
        return "waiting";
    case TJobStage::Held:
        return "held";
    case TJobStage::Sending:
        return "sending";
    }
    return "waiting";
}

std::unique_ptr<TDoc> TDoc::Create(IJobHost& host, bool spoolMode, int32_t docID, int32_t jobID,
                                   std::string dds, TJobState state) {
    std::unique_ptr<TDoc> job(new TDoc(host));
    job->FState = state;
    job->SpoolMode = spoolMode;
    job->DocID = docID;
    job->JobID = jobID;
    job->DDS = std::move(dds);
    job->OutDocID = 0;
    job->Copies = host.GetSettings().Copies;
    job->OwnerModuleNumber = host.GetSettings().ModuleNumber;
    job->FCreated = Now();
    job->FLastTime = job->FCreated;
    return job;
}

TDoc::TDoc(IJobHost& host) : Host(host) {}

TDoc::~TDoc() = default;

void TDoc::Reindex() {
    if (Index)
        Index->Update(*this);
}

void TDoc::RowFollows() {
    if (ListItem)
        Host.ProcessRows().Refresh(ListItem);
}

bool TDoc::MoveTo(TJobState to, const std::string& line, bool failure) {
    if (FState == to)
        return true;
    if (!MayMove(FState, to)) {
        Host.LogFailure("Job " + JobText() + ": it cannot go from " + JobStateName(FState) +
                        " to " + JobStateName(to) + "; it stays " + JobStateName(FState));
        return false;
    }
    FState = to;
    Reindex();
    RowFollows();
    if (line.empty())
        return true;
    if (failure)
        Host.LogFailure(line);
    else
        LogJob(line);
    return true;
}

void TDoc::SetPriority(int32_t value) {
    if (FPriority == value)
        return;
    FPriority = value;
    Reindex();
    RowFollows();
}

void TDoc::SetHeld(bool value) {
    if (FHeld == value)
        return;
    FHeld = value;
    Reindex();
    RowFollows();
}

void TDoc::SetWaiting(bool value) {
    if (FWaiting == value)
        return;
    FWaiting = value;
    Reindex();
}

void TDoc::SetCreated(TDateTime value) {
    if (FCreated == value)
        return;
    FCreated = value;
    Reindex();
}

void TDoc::SetLastTime(TDateTime value) {
    if (FLastTime == value)
        return;
    FLastTime = value;
    Reindex();
}

void TDoc::SetReloaded(bool value) {
    if (FReloaded == value)
        return;
    FReloaded = value;
    Reindex();
}

void TDoc::SetDests(const std::string& value) {
    if (FDests == value)
        return;
    FDests = value;
    Reindex();
}

void TDoc::SetAbortRequested(bool value) {
    if (FAbortRequested == value)
        return;
    FAbortRequested = value;
    Reindex();
}

void TDoc::AddToList(int32_t imageIndex) {
    TListRow row;
    row.Caption = std::to_string(JobID);
    row.ImageIndex = imageIndex;
    row.Job = this;
    std::string sizeColumn;
    switch (imageIndex) {
    case -1:
        sizeColumn = SizeText.empty() ? WindowText(wtLoading) : SizeText;
        break;
    case 1:
        sizeColumn = WindowText(wtTransferring);
        break;
    case 2:
        sizeColumn = WindowText(wtSpooling);
        break;
    default:
        sizeColumn = SizeText;
        break;
    }
    std::string destination;
    std::string dev;
    if (!Devices.empty()) {
        destination = NamesOfIds(Devices, Host.GetTermNames());
        dev = NamesOfIds(Devices, Host.GetTermKeys());
    }
    // Name and colour as the workflow typed them, not as the parameter text quotes them.
    row.SubItems = {std::to_string(DocID),
                    ItemsAsTyped(Name),
                    Page,
                    ItemsAsTyped(Color),
                    ShortDateText(FCreated),
                    LongTimeText(FCreated),
                    FileType,
                    sizeColumn,
                    destination,
                    dev};
    row.Bytes = DataSize;
    row.Done = Moved;
    row.Created = FCreated;
    row.Devices = Devices;
    row.Priority = FPriority;
    ListItem = Host.ProcessRows().Put(std::move(row), Host.GetSettings().LastInTop);
    ShowLabel(Host);
}

void LogException(IJobHost& host, const char* name, const std::exception& error,
                  const std::string& jobKey, const std::string& file) {
    std::string message = error.what();
    if (message.empty())
        message = "no message";
    if (!jobKey.empty())
        message += "; job " + jobKey;
    if (!file.empty())
        message += (jobKey.empty() ? "; file " : ", file ") + file;
    host.LogFailure(std::string("Exception in ") + name + " (" + message + ")");
}

void LogException(IJobHost& host, const char* name, const std::exception& error, const TDoc* job) {
    if (!job) {
        LogException(host, name, error, std::string(), std::string());
        return;
    }
    LogException(host, name, error, JobKey(job->JobID, job->DocID),
                 job->HasSpoolFile() ? job->SpoolFilePath() : std::string());
}

void ShowLabel(IJobHost& host) {
    host.GetServerObject().ShowLabel(host.GetSettings().ModuleNumber,
                                     std::to_string(host.ProcessRows().Count()));
}

void ModuleIdleCheck(IJobHost& host) {
    if (host.AllJobsWaiting() && host.GetStatus() != 1)
        host.ChangeStatus(1);
}

void TDoc::Free(bool storeSteps) {
    if (Freed)
        return;
    Freed = true;
    // After Close the module's lists and the server are no longer this job's business.
    const bool current = Host.IsCurrent();
    try {
        if (ListItem && current) {
            TListRow* row = ListItem;
            ListItem = nullptr;
            Host.ProcessRows().Remove(row);
        }
        SpoolStream.reset();
        // A store that has gone holds nothing of the job any more.
        if (storeSteps && !Host.IsStoreAway()) {
            if (FState == TJobState::Reading && DocID > 0 && !InputGoesBack)
                Host.GetStoreObject().RCloseDoc(OwnerModuleNumber, DocID);
            if (((!SpoolMode && FState == TJobState::Reading) || FState == TJobState::Sending) &&
                OutDocID > 0)
                Host.GetStoreObject().WAbortDoc(OutDocID);
        }
        if (current) {
            ModuleIdleCheck(Host);
            if (storeSteps)
                Host.DeleteSavedDoc(OutDocID);
            ShowLabel(Host);
        }
    } catch (const std::exception& e) {
        if (current)
            LogException(Host, "TDoc.Free", e, this);
    }
}

TJobStage TDoc::Stage() const {
    if (FHeld)
        return TJobStage::Held;
    switch (FState) {
    case TJobState::Reading:
        if (Moved == 0)
            return TJobStage::Reading;
        return SpoolMode ? TJobStage::Spooling : TJobStage::Transferring;
    case TJobState::Waiting:
        return TJobStage::Waiting;
    case TJobState::Sending:
        break;
    }
    return TJobStage::Sending;
}

void TDoc::CountMoved(int64_t bytes) {
    Moved += bytes;
    if (ListItem)
        Host.ProcessRows().SetProgress(ListItem, Moved, DataSize);
}

void TDoc::ReadFields() {
    ReadFields(TParams(DDS));
}

void TDoc::ReadFields(const TParams& params) {
    FileType = params.GetValueText("File");
    FileName = params.GetValueText("FileName");
    Name = params.GetValueText("Name");
    if (Name.empty())
        Name = "Unknown";
    Page = params.GetValueText("Page");
    Color = params.GetValueText("Color");
    Size = params.GetValueText("Size");
    DataSize = SizeBytesOf(Size);
    SetPriority(StrToIntDef(params.GetValueText("Priority"), 0));
}

std::string TDoc::SpoolFilePath() const {
    return Host.GetSettings().JobDir + "/" + JobKey(JobID, DocID);
}

bool TDoc::HasSpoolFile() const {
    return SpoolMode || FState != TJobState::Reading || Host.GetSettings().DeletePolicy != 0;
}

void TDoc::LogJob(const std::string& text) const {
    if (Host.GetSettings().LogLevel > 0)
        Host.Log(text);
}

} // namespace raduvuz
