#pragma once

// The wait list: the copies of a spooled job that wait to be sent, one per destination, per held
// or free group of devices and per copy; made from a job that was spooled, from a kept spool file
// (reprocessing), from a kept output document, or from the journal after a restart.

#include "common/Types.h"

#include <cstdint>
#include <string>

namespace raduvuz {

class IJobHost;
class TDoc;
struct TSavedDoc;
struct TWaitRecord;

bool SpoolToWait(TDoc& job);
bool AddWaitDoc(TDoc& job, const std::string& dests, const std::string& devices);
bool AddWaitDocInn(TDoc& job, const std::string& dests, const std::string& devices, bool hold);
// The output document number, or -1. A call that cannot progress (no destination, no devices,
// a destination that stays busy) ends with -1 after LoadSavedDocMaxTries checks.
int32_t LoadSavedDoc(IJobHost& host, const TSavedDoc& record, int32_t dest);
inline constexpr int LoadSavedDocMaxTries = 1000;
std::string ReadSpoolDDS(IJobHost& host, const std::string& jobID, const std::string& docID);
// Makes the waiting copy a journal record describes from its spool file, as it was when the
// module ended (destinations, devices, held, priority, name); false when the spool file cannot
// be read.
bool RemakeWaitDoc(IJobHost& host, const TWaitRecord& record);
bool ReprocessDoc(IJobHost& host, const std::string& jobID, const std::string& docID,
                  const std::string& device, bool hold);

// What a spool file's header says, with the file's length and the size of its data.
struct TSpoolHead {
    std::string Text;
    TDateTime Created = 0;
    int64_t Length = 0;
    int64_t DataSize = -1;
};
// ReprocessDoc with the spool file already read (a reload that checked it whole), so that it is
// not opened again.
bool ReprocessDoc(IJobHost& host, int32_t jobID, int32_t docID, TSpoolHead head,
                  const std::string& device, bool hold);

} // namespace raduvuz
