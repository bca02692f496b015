#include "jobs/TDoc.h"

#include "common/DateTime.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "control/IModuleWindow.h"
#include "control/ModuleGlobals.h"
#include "control/TJobListModel.h"
#include "control/TModuleControl.h"
#include "platform/System.h"
#include "platform/TFileStream.h"

#include <algorithm>
#include <exception>

namespace raduvuz {

int32_t RoundRobin = -1;

TDoc* TDoc::Create(bool spoolMode, int32_t docID, int32_t jobID, const std::string& dds) {
    auto* job = new TDoc();
    job->SpoolMode = spoolMode;
    job->DocID = docID;
    job->JobID = jobID;
    job->DDS = dds;
    job->OutDocID = 0;
    job->Copies = CurrentModule ? CurrentModule->Copies : 0;
    job->OwnerModuleNumber = CurrentModule ? CurrentModule->ModuleNumber : 0;
    job->Created = Now();
    job->LastTime = job->Created;
    return job;
}

TDoc::~TDoc() = default;

void TDoc::AddToList(int32_t imageIndex) {
    TModuleControl* module = CurrentModule;
    if (!module)
        return;
    TJobListModel& list = module->Window().ProcessJobs();

    TListRow row;
    row.Caption = std::to_string(JobID);
    row.ImageIndex = imageIndex;
    row.Job = this;
    std::string sizeColumn;
    switch (imageIndex) {
    case -1:
        sizeColumn = SizeText.empty() ? "Loading" : SizeText;
        break;
    case 1:
        sizeColumn = "Transfering";
        break;
    case 2:
        sizeColumn = "Spooling";
        break;
    default:
        sizeColumn = SizeText;
        break;
    }
    std::string destination;
    std::string dev;
    if (!Devices.empty()) {
        destination = NamesOfIds(Devices, module->TermNames);
        dev = NamesOfIds(Devices, module->TermKeys);
    }
    row.SubItems = {
        std::to_string(DocID), Name,     Page,       Color,       ShortDateText(Created),
        LongTimeText(Created), FileType, sizeColumn, destination, dev};
    ListItem = module->LastInTop ? list.Insert(0, std::move(row)) : list.Add(std::move(row));
    ShowLabel();
}

void ShowLabel() {
    TModuleControl* module = CurrentModule;
    if (!module)
        return;
    ServerObject.ShowLabel(module->ModuleNumber,
                           std::to_string(module->Window().ProcessJobs().Count()));
}

void ModuleIdleCheck(TModuleControl& module) {
    const bool allWaiting = std::all_of(module.Jobs.begin(), module.Jobs.end(),
                                        [](const TDoc* job) { return job->State == 1; });
    if (allWaiting && module.Status != 1) {
        module.Status = 1;
        ServerObject.ChangeStatus(module.ModuleNumber, module.Paused, module.Status);
    }
}

void TDoc::Free() {
    Release(true);
}

void TDoc::Release(bool storeSteps) {
    TModuleControl* module = CurrentModule;
    bool listed = true;
    try {
        if (ListItem && module) {
            TListRow* row = ListItem;
            ListItem = nullptr;
            module->Window().ProcessJobs().Delete(row);
        }
        if (SpoolStream)
            SpoolStream.reset();
        if (storeSteps) {
            if (State == 0 && DocID > 0)
                StoreObject.RCloseDoc(OwnerModuleNumber, DocID);
            if (((!SpoolMode && State == 0) || State == 2) && OutDocID > 0)
                StoreObject.WAbortDoc(OutDocID);
        }
        if (module) {
            auto it = std::find(module->Jobs.begin(), module->Jobs.end(), this);
            if (it != module->Jobs.end())
                module->Jobs.erase(it);
            listed = false;
            ModuleIdleCheck(*module);
            if (storeSteps)
                module->DeleteSavedDoc(OutDocID);
            ShowLabel();
        }
    } catch (const std::exception&) {
        if (module)
            module->Log("Exception in TDoc.Free (" + LastErrorText() + ")");
    }
    // The job never stays listed once destroyed, whatever failed above.
    if (module && listed) {
        auto it = std::find(module->Jobs.begin(), module->Jobs.end(), this);
        if (it != module->Jobs.end())
            module->Jobs.erase(it);
    }
    delete this;
}

void TDoc::ReadFields() {
    const TParams params(DDS);
    FileType = params.GetValueText("File");
    FileName = params.GetValueText("FileName");
    Name = params.GetValueText("Name");
    if (Name.empty())
        Name = "Unknown";
    Page = params.GetValueText("Page");
    Color = params.GetValueText("Color");
    Size = params.GetValueText("Size");
    Priority = StrToIntDef(params.GetValueText("Priority"), 0);
}

std::string TDoc::SpoolFilePath() const {
    const std::string dir = CurrentModule ? CurrentModule->JobDir : std::string();
    return dir + "/" + std::to_string(JobID) + "_" + std::to_string(DocID);
}

void TDoc::LogException(const char* step) const {
    if (CurrentModule)
        CurrentModule->Log(std::string("Exception in ") + step + " (" + LastErrorText() + ")");
}

} // namespace raduvuz
