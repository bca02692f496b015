// Output documents the workflow server asked to keep, and their re-creation from spool files.

#include "common/Language.h"
#include "control/TModuleControl.h"
#include "jobs/JobNames.h"
#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "jobs/WaitList.h"
#include "platform/System.h"

#include <algorithm>

namespace raduvuz {

bool TModuleControl::SaveDoc(int32_t DocID) {
    if (DeletePolicy == 0 || DocID <= 0)
        return false;
    const auto job = std::find_if(Jobs.begin(), Jobs.end(), [&](const TDoc* candidate) {
        return candidate->OutDocID == DocID;
    });
    if (job == Jobs.end())
        return false;
    TDoc& doc = **job;
    ++doc.SaveCount;
    if (LogLevel > 2)
        Log(LanguageFormat(1742, {doc.FileName, DocID, doc.DocID},
                           "Save doc Document %s (%d-%d) saved"));
    // Every keep request needs its own release: a record made by an earlier request counts
    // this one too.
    if (const std::shared_ptr<TSavedDoc> record = FindSavedDoc(SavedDocs, DocID))
        ++record->SaveCount;
    else
        doc.TestSaved();
    return true;
}

int32_t TModuleControl::LoadDoc(int32_t DocID, int32_t Dest) {
    // LoadSavedDoc may change SavedDocs; the record is copied first.
    for (size_t i = 0; i < SavedDocs.size(); ++i) {
        const std::shared_ptr<TSavedDoc> record = SavedDocs[i];
        if (record->OutDocID != DocID)
            continue;
        const std::string path = JobDir + "/" + JobKey(record->JobID, record->DocID);
        if (FileExists(path))
            return LoadSavedDoc(*this, *record, Dest);
    }
    if (LogLevel > 0)
        Log(LanguageFormat(1741, {DocID}, "Can not load document %d. Document not found"));
    return -1;
}

bool TModuleControl::KeepSavedDoc(std::shared_ptr<TSavedDoc> record) {
    return AddSavedDoc(SavedDocs, std::move(record));
}

void TModuleControl::DeleteSavedDoc(int32_t DocID) {
    const auto found = std::find_if(
        SavedDocs.begin(), SavedDocs.end(),
        [&](const std::shared_ptr<TSavedDoc>& saved) { return saved->OutDocID == DocID; });
    if (found == SavedDocs.end())
        return;
    const std::shared_ptr<TSavedDoc> record = *found;
    --record->SaveCount;
    if (record->SaveCount > 0)
        return;
    if (LogLevel > 0)
        Log(LanguageFormat(1743, {record->FileName}, "Delete saved doc %s"));
    SavedDocs.erase(found);
}

} // namespace raduvuz
