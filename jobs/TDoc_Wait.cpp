// Waiting jobs: the copies of a spooled job that are sent later, one per destination, per held
// or free group of devices and per copy; also the reprocessing of kept spool files and the
// re-sending of saved output documents.

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "control/ModuleGlobals.h"
#include "control/TModuleControl.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "platform/System.h"
#include "platform/TFileStream.h"

#include <algorithm>
#include <stdexcept>

namespace raduvuz {

namespace {

TModuleControl& Module() {
    if (!CurrentModule)
        throw std::runtime_error("No module");
    return *CurrentModule;
}

void LogFailure(const char* operation) {
    if (CurrentModule)
        CurrentModule->Log(std::string("Exception in ") + operation + " (" + LastErrorText() + ")");
}

void AppendItem(std::string& list, const std::string& item) {
    if (!list.empty())
        list += ",";
    list += item;
}

bool IsHeld(const TModuleControl& module, const std::string& device) {
    const int32_t term = StrToIntDef(device, 0);
    return std::any_of(module.HoldList.begin(), module.HoldList.end(),
                       [&](const TTaggedString& held) { return held.Tag == term; });
}

int32_t ReadNumber(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw std::runtime_error("Not a number: " + text);
    return value;
}

} // namespace

bool SpoolToWait(TDoc& job) {
    try {
        TModuleControl& module = Module();
        if (job.Dests.find(',') == std::string::npos || module.Multiplex)
            return AddWaitDoc(job, job.Dests, job.Devices);
        bool result = false;
        for (const std::string& dest : ReadCommaText(job.Dests)) {
            const int32_t tag = StrToIntDef(dest, 0);
            std::string devs;
            for (const TTaggedString& entry : module.FlowEntries) {
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
    } catch (const std::exception&) {
        LogFailure("SpoolToWait");
        return false;
    }
}

bool AddWaitDoc(TDoc& job, const std::string& dests, const std::string& devices) {
    TModuleControl& module = Module();
    if (module.Multiplex)
        return AddWaitDocInn(job, dests, devices, false);
    std::string held;
    std::string free;
    if (job.Held) {
        held = devices;
    } else {
        for (const std::string& device : ReadCommaText(devices))
            AppendItem(IsHeld(module, device) ? held : free, device);
    }
    bool result = false;
    if (!held.empty())
        result = AddWaitDocInn(job, dests, held, true);
    if (!free.empty())
        result = AddWaitDocInn(job, dests, free, false);
    return result;
}

bool AddWaitDocInn(TDoc& job, const std::string& dests, const std::string& devices, bool hold) {
    try {
        TModuleControl& module = Module();
        TParams params(job.DDS);
        params.SetValue("Device", devices);
        const std::string text = params.GetText();
        if (job.Copies <= 0)
            job.Copies = 1;
        for (int32_t copy = 0; copy < job.Copies; ++copy) {
            TDoc* w = TDoc::Create(true, job.OutDocID, job.JobID, text);
            w->State = 1;
            w->FileType = job.FileType;
            w->FileName = job.FileName;
            w->Name = job.Name;
            w->Page = job.Page;
            w->Color = job.Color;
            w->Size = job.Size;
            w->SizeText = job.SizeText;
            w->Priority = job.Priority;
            w->Created = job.Created;
            w->SaveCount = job.SaveCount;
            w->Dests = dests;
            w->Devices = devices;
            w->Held = hold;
            w->LastTime = Now();
            module.Jobs.push_back(w);
            w->AddToList(hold ? 0 : -1);
        }
        return true;
    } catch (const std::exception&) {
        LogFailure("AddWaitDocInn");
        return false;
    }
}

int32_t LoadSavedDoc(const TSavedDoc& record, int32_t dest) {
    TDoc* w = nullptr;
    try {
        TModuleControl& module = Module();
        w = TDoc::Create(true, record.DocID, record.JobID, record.DDS);
        if (module.LogLevel > 0)
            module.Log(LanguageFormat(1759, {record.FileName}, "Load document %s"));
        w->Copies = 0;
        w->State = 1;
        w->FileType = record.FileType;
        w->FileName = record.FileName;
        w->Page = record.Page;
        w->Color = record.Color;
        w->Size = record.Size;
        w->SizeText = record.SizeText;
        w->Priority = record.Priority;
        w->Created = record.Created;
        w->Name = "* " + record.Name;
        w->Dests = std::to_string(dest);
        w->Devices = record.Devices;
        w->Held = false;
        w->SaveCount = 0;
        w->Reloaded = true;
        w->LastTime = Now();
        module.Jobs.push_back(w);
        w->AddToList(-1);

        // Without a destination or a device the check neither fails nor progresses; a
        // destination that stays busy would keep it waiting. Either way the call ends.
        for (int attempt = 0; attempt < LoadSavedDocMaxTries; ++attempt) {
            if (!w->CheckWaitingDoc())
                break;
            if (w->OutDocID > 0)
                return w->OutDocID;
            if (StrToIntDef(w->Dests, 0) == 0 || w->Devices.empty())
                break;
        }
        TDoc* failed = w;
        w = nullptr;
        failed->Free();
        return -1;
    } catch (const std::exception&) {
        LogFailure("LoadSavedDoc");
        if (w)
            w->Free();
        return -1;
    }
}

std::string ReadSpoolDDS(const std::string& jobID, const std::string& docID) {
    TModuleControl& module = Module();
    const std::string path = module.JobDir + "/" + jobID + "_" + docID;
    TFileStream file;
    if (!file.Open(path, TFileStream::TMode::ReadDenyWrite))
        throw std::runtime_error("Cannot open " + path + " (" + LastErrorText() + ")");
    std::string text;
    TDateTime created = 0;
    if (!ReadSpoolHeader(file, module.TermKeys, text, created))
        return std::string();
    return text;
}

bool ReprocessDoc(const std::string& jobID, const std::string& docID, const std::string& device,
                  bool hold) {
    try {
        TModuleControl& module = Module();
        const std::string path = module.JobDir + "/" + jobID + "_" + docID;
        std::string text;
        TDateTime created = 0;
        int64_t length = 0;
        {
            TFileStream file;
            if (!file.Open(path, TFileStream::TMode::ReadDenyWrite))
                throw std::runtime_error("Cannot open " + path);
            if (!ReadSpoolHeader(file, module.TermKeys, text, created))
                return false;
            length = file.Size();
        }
        TParams params(text);
        if (!device.empty()) {
            params.SetValue("Device", device);
            text = params.GetText();
        }
        const int32_t docNumber = ReadNumber(docID);
        const int32_t jobNumber = ReadNumber(jobID);
        TDoc* w = TDoc::Create(true, docNumber, jobNumber, text);
        w->Copies = 1;
        w->State = 0;
        w->OutDocID = w->DocID;
        w->ReadFields();
        w->SizeText = SizeText(length);
        params.SelectEntries(module.FlowEntries, w->Devices, w->Dests);
        w->Held = hold;
        w->SaveCount = 0;
        w->Created = created;
        w->LastTime = Now();
        module.Jobs.push_back(w);
        const bool result = SpoolToWait(*w);
        // The temporary job holds no store document: it only leaves the lists.
        w->Release(false);
        return result;
    } catch (const std::exception&) {
        LogFailure("ReprocessDoc");
        return false;
    }
}

} // namespace raduvuz
