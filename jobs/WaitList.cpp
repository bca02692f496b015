// The wait list: the copies of a spooled job that are sent later, one per destination, per held
// or free group of devices and per copy; also the reprocessing of kept spool files and the
// re-sending of saved output documents.

#include "jobs/WaitList.h"
#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "jobs/IJobHost.h"
#include "jobs/JobNames.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "jobs/TWaitJournal.h"
#include "platform/System.h"
#include "platform/TFileStream.h"

#include <stdexcept>

namespace raduvuz {

namespace {

void AppendItem(std::string& list, const std::string& item) {
    if (!list.empty())
        list += ",";
    list += item;
}

int32_t ReadNumber(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw std::runtime_error("Not a number: " + text);
    return value;
}

int32_t PriorityOf(const TDoc& job) {
    return job.Priority();
}

int32_t PriorityOf(const TSavedDoc& record) {
    return record.Priority;
}

TDateTime CreatedOf(const TDoc& job) {
    return job.Created();
}

TDateTime CreatedOf(const TSavedDoc& record) {
    return record.Created;
}

// A job that waits to be sent from the spool file of job jobID, document docID: the spooled job
// or the kept output document it is made from gives it its description.
template <typename TSource>
std::unique_ptr<TDoc> WaitingJob(IJobHost& host, const TSource& from, int32_t docID, int32_t jobID,
                                 const std::string& dds) {
    std::unique_ptr<TDoc> w = TDoc::Create(host, true, docID, jobID, dds, TJobState::Waiting);
    w->FileType = from.FileType;
    w->FileName = from.FileName;
    w->Name = from.Name;
    w->Page = from.Page;
    w->Color = from.Color;
    w->Size = from.Size;
    w->DataSize = SizeBytesOf(from.Size);
    w->SizeText = from.SizeText;
    w->SetPriority(PriorityOf(from));
    w->SetCreated(CreatedOf(from));
    w->SetLastTime(Now());
    return w;
}

// The spool file of job jobID, document docID, with its parameter text, creation time, length
// and (when asked) the size of its data; false when its header is damaged.
bool ReadSpoolFile(IJobHost& host, const std::string& jobID, const std::string& docID,
                   std::string& text, TDateTime& created, int64_t& length,
                   int64_t* dataSize = nullptr) {
    const std::string path = host.GetSettings().JobDir + "/" + jobID + "_" + docID;
    TFileStream file;
    if (!file.Open(path, TFileStream::TMode::ReadDenyWrite))
        throw std::runtime_error("Cannot open the spool file: " + LastErrorText());
    if (!ReadSpoolHeader(file, host.GetTermKeys(), text, created))
        return false;
    length = file.Size();
    if (dataSize)
        *dataSize = SpoolDataSize(text, file);
    return true;
}

} // namespace

bool SpoolToWait(TDoc& job) {
    // Every copy is in the journal, on the disk, before the job counts as passed.
    TWaitJournal::TBatch batch(job.Host.GetWaitJournal());
    try {
        if (job.Dests().find(',') == std::string::npos || job.Host.GetSettings().Multiplex)
            return AddWaitDoc(job, job.Dests(), job.Devices);
        bool result = false;
        for (const std::string& dest : ReadCommaText(job.Dests())) {
            const int32_t tag = StrToIntDef(dest, 0);
            std::string devs;
            for (const TTaggedString& entry : job.Host.GetFlowEntries()) {
                if (entry.Tag != tag)
                    continue;
                const std::string device = TParams(entry.Text).GetItem("Device", 0);
                if (!device.empty() && ItemInList(device, job.Devices))
                    AppendItem(devs, device);
            }
            if (!devs.empty())
                result = AddWaitDoc(job, dest, devs);
            // The first destination without a device of the job stops the split.
            if (!result)
                break;
        }
        return result;
    } catch (const std::exception& e) {
        LogException(job.Host, "SpoolToWait", e, &job);
        return false;
    }
}

bool AddWaitDoc(TDoc& job, const std::string& dests, const std::string& devices) {
    if (job.Host.GetSettings().Multiplex)
        return AddWaitDocInn(job, dests, devices, false);
    std::string held;
    std::string free;
    if (job.Held()) {
        held = devices;
    } else {
        for (const std::string& device : ReadCommaText(devices))
            AppendItem(IsHeldDevice(job.Host, device) ? held : free, device);
    }
    bool result = false;
    if (!held.empty())
        result = AddWaitDocInn(job, dests, held, true);
    if (!free.empty())
        result = AddWaitDocInn(job, dests, free, false);
    return result;
}

bool AddWaitDocInn(TDoc& job, const std::string& dests, const std::string& devices, bool hold) {
    TWaitJournal::TBatch batch(job.Host.GetWaitJournal());
    try {
        TParams params(job.DDS);
        params.SetValue("Device", devices);
        const std::string text = params.GetText();
        if (job.Copies <= 0)
            job.Copies = 1;
        for (int32_t copy = 0; copy < job.Copies; ++copy) {
            std::unique_ptr<TDoc> made = WaitingJob(job.Host, job, job.OutDocID, job.JobID, text);
            made->SaveCount = job.SaveCount;
            made->SetDests(dests);
            made->Devices = devices;
            made->SetHeld(hold);
            made->DataSize = job.DataSize;
            TDoc* w = job.Host.AdoptJob(std::move(made));
            w->AddToList(hold ? 0 : -1);
            if (TWaitJournal* journal = job.Host.GetWaitJournal())
                journal->Add(*w);
        }
        return true;
    } catch (const std::exception& e) {
        LogException(job.Host, "AddWaitDocInn", e, &job);
        return false;
    }
}

int32_t LoadSavedDoc(IJobHost& host, const TSavedDoc& record, int32_t dest) {
    // The job is this call's own until it has its output document: no tick steps it meanwhile.
    std::unique_ptr<TDoc> w;
    try {
        w = WaitingJob(host, record, record.DocID, record.JobID, record.DDS);
        if (host.GetSettings().LogLevel > 0)
            host.Log(LanguageFormat(1759, {record.FileName}, "Load document %s"));
        w->Copies = 0;
        w->Name = "* " + record.Name;
        w->SetDests(std::to_string(dest));
        w->Devices = record.Devices;
        w->SetHeld(false);
        w->SaveCount = 0;
        w->SetReloaded(true);
        w->AddToList(-1);

        // Without a destination or a device the check neither fails nor progresses; a
        // destination that stays busy would keep it waiting. Either way the call ends.
        for (int attempt = 0; attempt < LoadSavedDocMaxTries; ++attempt) {
            if (!w->CheckWaitingDoc())
                break;
            if (w->OutDocID > 0) {
                const int32_t outDocID = w->OutDocID;
                host.AdoptJob(std::move(w));
                return outDocID;
            }
            // A server or store that failed will not answer a thousand checks in a row either.
            if (StrToIntDef(w->Dests(), 0) == 0 || w->Devices.empty() || w->PeerCallFailed)
                break;
        }
        w->Free();
        return -1;
    } catch (const std::exception& e) {
        const std::string job = JobKey(record.JobID, record.DocID);
        LogException(host, "LoadSavedDoc", e, job, host.GetSettings().JobDir + "/" + job);
        if (w)
            w->Free();
        return -1;
    }
}

std::string ReadSpoolDDS(IJobHost& host, const std::string& jobID, const std::string& docID) {
    std::string text;
    TDateTime created = 0;
    int64_t length = 0;
    if (!ReadSpoolFile(host, jobID, docID, text, created, length))
        return std::string();
    return text;
}

bool ReprocessDoc(IJobHost& host, const std::string& jobID, const std::string& docID,
                  const std::string& device, bool hold) {
    try {
        TSpoolHead head;
        if (!ReadSpoolFile(host, jobID, docID, head.Text, head.Created, head.Length,
                           &head.DataSize)) {
            host.Log(LanguageFormat(1740, {jobID + "_" + docID}, "Error load saved job %s"));
            return false;
        }
        return ReprocessDoc(host, ReadNumber(jobID), ReadNumber(docID), std::move(head), device,
                            hold);
    } catch (const std::exception& e) {
        LogException(host, "ReprocessDoc", e, jobID + "_" + docID,
                     host.GetSettings().JobDir + "/" + jobID + "_" + docID);
        return false;
    }
}

bool ReprocessDoc(IJobHost& host, int32_t jobID, int32_t docID, TSpoolHead head,
                  const std::string& device, bool hold) {
    try {
        TParams params(head.Text);
        if (!device.empty()) {
            params.SetValue("Device", device);
            head.Text = params.GetText();
        }
        // A temporary job that only makes the waiting jobs: it holds no store document and is
        // never in the list of jobs in process.
        std::unique_ptr<TDoc> w = TDoc::Create(host, true, docID, jobID, std::move(head.Text));
        w->Copies = 1;
        w->OutDocID = w->DocID;
        w->ReadFields(params);
        w->DataSize = head.DataSize;
        w->SizeText = SizeText(head.Length);
        std::string dests;
        params.SelectEntries(host.GetFlowEntries(), w->Devices, dests);
        w->SetDests(dests);
        w->SetHeld(hold);
        w->SaveCount = 0;
        w->SetCreated(head.Created);
        w->SetLastTime(Now());
        const bool result = SpoolToWait(*w);
        w->Free(false);
        return result;
    } catch (const std::exception& e) {
        const std::string job = JobKey(jobID, docID);
        LogException(host, "ReprocessDoc", e, job, host.GetSettings().JobDir + "/" + job);
        return false;
    }
}

bool RemakeWaitDoc(IJobHost& host, const TWaitRecord& record) {
    const std::string jobID = std::to_string(record.JobID);
    const std::string docID = std::to_string(record.DocID);
    try {
        std::string text;
        TDateTime created = 0;
        int64_t length = 0;
        if (!ReadSpoolFile(host, jobID, docID, text, created, length))
            return false;
        TParams params(text);
        // Devices whose terminators are gone leave the copy with those of its spool file.
        std::string devices = DevicesFromJournal(record.Devices, host);
        if (devices.empty())
            devices = params.GetValueText("Device");
        params.SetValue("Device", devices);
        std::unique_ptr<TDoc> from =
            TDoc::Create(host, true, record.DocID, record.JobID, params.GetText());
        from->ReadFields();
        // The operator renamed the copy while it waited.
        if (!record.Name.empty() && record.Name != from->Name) {
            params.SetValue("Name", record.Name);
            params.SetValue("FileName", record.Name);
            from->DDS = params.GetText();
            from->Name = record.Name;
        }
        from->SizeText = SizeText(length);
        from->SetCreated(created);
        std::unique_ptr<TDoc> made = WaitingJob(host, *from, record.DocID, record.JobID, from->DDS);
        made->SaveCount = 0;
        made->SetDests(record.Dests);
        made->Devices = devices;
        made->SetHeld(record.Held);
        made->SetPriority(record.Priority);
        TDoc* w = host.AdoptJob(std::move(made));
        w->AddToList(record.Held ? 0 : -1);
        if (TWaitJournal* journal = host.GetWaitJournal())
            journal->Add(*w);
        return true;
    } catch (const std::exception& e) {
        LogException(host, "RemakeWaitDoc", e, jobID + "_" + docID,
                     host.GetSettings().JobDir + "/" + jobID + "_" + docID);
        return false;
    }
}

} // namespace raduvuz
