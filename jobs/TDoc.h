#pragma once

#include "common/Types.h"

#include <cstdint>
#include <memory>
#include <string>

namespace raduvuz {

class TFileStream;
class TModuleControl;
struct TListRow;
struct TSavedDoc;

// The position last used when a multiplexing module chose a destination; -1 at program start,
// so the first choice tries the first item.
extern int32_t RoundRobin;

// One job passing the module. A job is made with Create and ended with Free, which releases its
// row, its spool stream and its store documents, removes it from the module's Jobs and destroys
// it; nothing else destroys a job.
class TDoc {
public:
    // The module is the current one; the caller passes the module's WorkMode for a new document.
    static TDoc* Create(bool spoolMode, int32_t docID, int32_t jobID, const std::string& dds);

    TDoc(const TDoc&) = delete;
    TDoc& operator=(const TDoc&) = delete;

    int32_t DocID = 0;
    int32_t OutDocID = 0;
    int32_t JobID = 0;
    int32_t Priority = 0;
    int32_t Copies = 0;
    bool SpoolMode = false;
    uint8_t State = 0;
    std::unique_ptr<TFileStream> SpoolStream;
    int32_t SaveCount = 0;
    std::string Color;
    std::string Page;
    std::string Name;
    std::string FileName;
    std::string FileType;
    std::string Size;
    std::string SizeText;
    std::string Dests;
    std::string Devices;
    std::string DDS;
    TDateTime Created = 0;
    bool SendAsPath = false;
    std::string BlockName;
    bool Held = false;
    bool AbortRequested = false;
    int32_t RetryCount = 0;
    int32_t BlockSize = 0;
    int32_t BlockHandle = 0;
    int32_t LastBlock = 0;
    TListRow* ListItem = nullptr;
    TDateTime LastTime = 0;
    bool Reloaded = false;
    bool Waiting = false;

    // Creates the job's row in the list of jobs in process and tells the server the row count.
    void AddToList(int32_t imageIndex);
    // Ends the job (see the class comment); the pointer is invalid afterwards.
    void Free();

    // The steps of the transfer state machine (TDoc_Transfer.cpp).
    bool InitReadDoc();
    bool Execute(bool& done);
    bool CheckWaitingDoc();
    bool SpoolNextBlock(bool& done);
    bool SwitchNextBlock(bool& done);
    bool SendNextBlock(bool& done);
    void TestSaved();

    // The spool file of this job: JobDir/JobID_DocID.
    std::string SpoolFilePath() const;
    // How long InitReadDoc waits (pumping messages) between WCreateDoc attempts.
    static int RetryDelayMs;

private:
    TDoc() = default;
    ~TDoc();

    // Reads the job's own fields from its parameter text ("Unknown" for a missing name).
    void ReadFields();
    void SetSizeTextFromStream();
    bool DestinationReady(int32_t dest) const;
    bool DestinationOnThisComputer(int32_t dest) const;
    void ReportWorking();
    void LogException(const char* step) const;
    // Free without the store calls: the job only leaves the lists.
    void Release(bool storeSteps);

    // The module number of the store calls of a release that comes after Close.
    int32_t OwnerModuleNumber = 0;

    friend bool SpoolToWait(TDoc& job);
    friend bool ReprocessDoc(const std::string&, const std::string&, const std::string&, bool);
};

// Tells the server how many rows the list of jobs in process has.
void ShowLabel();
// Status 1 when every job left is waiting (or none is left) and the status is not 1 already.
void ModuleIdleCheck(TModuleControl& module);

// The wait list (TDoc_Wait.cpp).
bool SpoolToWait(TDoc& job);
bool AddWaitDoc(TDoc& job, const std::string& dests, const std::string& devices);
bool AddWaitDocInn(TDoc& job, const std::string& dests, const std::string& devices, bool hold);
// The output document number, or -1. A call that cannot progress (no destination, no devices,
// a destination that stays busy) ends with -1 after LoadSavedDocMaxTries checks.
int32_t LoadSavedDoc(const TSavedDoc& record, int32_t dest);
inline constexpr int LoadSavedDocMaxTries = 1000;
std::string ReadSpoolDDS(const std::string& jobID, const std::string& docID);
bool ReprocessDoc(const std::string& jobID, const std::string& docID, const std::string& device,
                  bool hold);

} // namespace raduvuz
