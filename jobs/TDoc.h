#pragma once

// The jobs layer: one job passing the module (TDoc), its transfer steps, the spool file, the
// wait list, the job list and its rows. A job reaches its module only through IJobHost, which
// this layer declares. It includes services/, common/ and platform/, never control/ or
// console/, and no Qt.

#include "common/Types.h"
#include "jobs/TJobState.h"
#include "jobs/TPickIndex.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace raduvuz {

class IJobHost;
class IPendingCall;
class TFileStream;
class TDispatchError;
class TStoreClient;
class TStoreGone;
struct TListRow;
class TParams;

// Where a job in process stands, as the operator sees it: reading until the store gives its
// first block, then transferring or spooling it; a spooled copy waiting (or held) to be sent;
// sending it from the spool file.
enum class TJobStage { Reading, Transferring, Spooling, Waiting, Held, Sending };
// "reading", "transferring", "spooling", "waiting", "held", "sending".
const char* JobStageName(TJobStage stage);

// One job passing the module. A job is made with Create and belongs to whoever holds it: the
// module's list of jobs in process, or the step that made it until it hands it to that list.
// Free releases what the job holds; its owner destroys it afterwards.
class TDoc {
public:
    // A job of host in its first state; the caller passes the module's WorkMode for a new
    // document.
    static std::unique_ptr<TDoc> Create(IJobHost& host, bool spoolMode, int32_t docID,
                                        int32_t jobID, std::string dds,
                                        TJobState state = TJobState::Reading);
    ~TDoc();
    TDoc(const TDoc&) = delete;
    TDoc& operator=(const TDoc&) = delete;

    IJobHost& Host;

    int32_t DocID = 0;
    int32_t OutDocID = 0;
    int32_t JobID = 0;
    int32_t Copies = 0;
    bool SpoolMode = false;
    std::unique_ptr<TFileStream> SpoolStream;
    int32_t SaveCount = 0;
    std::string Color;
    std::string Page;
    std::string Name;
    std::string FileName;
    std::string FileType;
    std::string Size;
    std::string SizeText;
    std::string Devices;
    std::string DDS;
    bool SendAsPath = false;
    std::string BlockName;
    int32_t RetryCount = 0;
    int32_t BlockSize = 0;
    int32_t BlockHandle = 0;
    int32_t LastBlock = 0;
    // The WCloseBlock of the block before, sent without waiting: its answer is looked at once
    // the next block's call has come back, so the two share one round trip.
    std::unique_ptr<IPendingCall> BlockClosing;
    // The RWSwitchBlock of the next block, sent right after the block before was closed: its
    // round trip passes while the module goes round its cycle. Taken by the job's next step.
    std::unique_ptr<IPendingCall> Switching;
    TListRow* ListItem = nullptr;
    // A transferring job whose spool copy could not be written passes its document on without it.
    bool SpoolCopyDropped = false;
    // The last check of a waiting job met a server or store call that failed or was not
    // answered: the job waits and tries again. Failures in a row are logged once.
    bool PeerCallFailed = false;
    // The disk was full: the store's block BlockName (or, with HeaderPending, the header) waits to
    // be written at RoomWaitAt, where the spool file was cut back to.
    bool BlockPending = false;
    bool HeaderPending = false;
    int64_t RoomWaitAt = 0;
    // Set by Free: whoever still holds the job (a tick) leaves it alone.
    bool Freed = false;
    // The job's record in the journal of waiting jobs; 0 when it has none.
    uint64_t JournalId = 0;
    // Free leaves the input document open, so that the store offers it again once this process
    // has left the bus (a job still spooling when the module closes).
    bool InputGoesBack = false;
    // The last block is in the spool file, whose flushes to the disk may be under way on a
    // worker thread that holds SpoolStream: a Close let in meanwhile must leave the stream alone.
    bool SpoolFlushing = false;
    // Bytes of the job's data moved in its current state: taken from the store while it reads,
    // sent from the spool file while it sends; 0 while it waits.
    int64_t Moved = 0;
    // Bytes of the job's data: its "Size" parameter when that is a number, else what the store
    // gave once the whole document was read; -1 while not known.
    int64_t DataSize = -1;

    TJobStage Stage() const;

    // What the pick goes by. The list of jobs in process keeps its jobs ordered by these, so
    // they change only through their setters, which tell the list.
    TJobState State() const { return FState; }
    // The one way a job changes its state (see TJobState.h): a move the rules do not allow is
    // refused with a log line naming the job, and false; otherwise line (when given) is logged as
    // the move's line, an error when failure.
    bool MoveTo(TJobState to, const std::string& line = std::string(), bool failure = false);
    int32_t Priority() const { return FPriority; }
    void SetPriority(int32_t value);
    bool Held() const { return FHeld; }
    void SetHeld(bool value);
    // The last step found nothing to do yet; the pick passes the job over once.
    bool Waiting() const { return FWaiting; }
    void SetWaiting(bool value);
    TDateTime Created() const { return FCreated; }
    void SetCreated(TDateTime value);
    // Time of the job's last step.
    TDateTime LastTime() const { return FLastTime; }
    void SetLastTime(TDateTime value);
    bool Reloaded() const { return FReloaded; }
    void SetReloaded(bool value);
    // The destination text: module numbers, comma text.
    const std::string& Dests() const { return FDests; }
    void SetDests(const std::string& value);
    // The operator asked to abort the job; the next pick frees it.
    bool AbortRequested() const { return FAbortRequested; }
    void SetAbortRequested(bool value);

    // Creates the job's row in the list of jobs in process and tells the server the row count.
    void AddToList(int32_t imageIndex);
    // Releases the job's row, its spool stream and (with storeSteps) its store documents, then
    // tells the module that one job less is in process; a failure is logged. The job must be out
    // of the module's list already. Without storeSteps it holds no store document (a temporary
    // job). Only the first call does anything.
    void Free(bool storeSteps = true);

    // The steps of the transfer state machine (TDoc_Transfer.cpp).
    bool InitReadDoc();
    bool Execute(bool& done);
    bool CheckWaitingDoc();
    bool SpoolNextBlock(bool& done);
    bool SwitchNextBlock(bool& done);
    bool SendNextBlock(bool& done);
    // Closes the output's current block; after the last one the input (while reading) and the
    // output documents too, waiting for the answer only then.
    void CloseOutputBlock(TStoreClient& store);
    void TestSaved();

    // The spool file of this job: JobDir/JobID_DocID.
    std::string SpoolFilePath() const;
    // "<JobID>_<DocID> (<Name>)", how log lines name the job.
    std::string JobText() const;
    // What the job had in a store that has gone (TDoc_Faults.cpp): a job that was reading loses
    // its input with the store, logs it and removes its partial spool file, and the caller drops
    // it (true); a job that was sending waits to be sent again; a waiting job stays as it is.
    bool LeaveGoneStore();
    // Whether the job writes or reads a spool file (a transferring job keeps none under
    // DeletePolicy 0).
    bool HasSpoolFile() const;
    // Reads the job's own fields from its parameter text ("Unknown" for a missing name).
    void ReadFields();
    // The same from its parameter text already parsed.
    void ReadFields(const TParams& params);

private:
    friend class TJobList;
    friend class TPickIndex;

    explicit TDoc(IJobHost& host);
    // Tells the index of the list that holds the job that its pick fields changed.
    void Reindex();
    // Tells the job's row that what it lists of the job (state, held, priority) changed.
    void RowFollows();

    void SetSizeTextFromStream();
    // Counts bytes a step moved and shows the progress in the job's row.
    void CountMoved(int64_t bytes);
    // The step met a store that has gone: the module is told, the job waits.
    void StoreGoneInStep(const TStoreGone& error);
    // A waiting job's call to the server or the store failed or went unanswered: the job stays
    // waiting, whatever the call was, and is checked again later. Logged unless the failure of
    // the check before was (logged).
    void PeerFailedWhileWaiting(const TDispatchError& error, bool logged);
    // A file of the job's spool file name that another job left: moved aside, never overwritten.
    void SetAsideSpoolFile(const std::string& path);
    // A write of the spool file failed with error. A disk that is full: the file is cut back to
    // at, the job waits for room with what it holds of the store, and true is answered; any other
    // failure answers false.
    bool WaitForRoom(int error, int64_t at);
    // Writes the header (again, after a full disk); false when the job waits for room.
    bool WriteHeaderOrWait();
    // A transferring job's spool copy that cannot be written goes; the document is passed on.
    void DropSpoolCopy(int error);
    bool DestinationReady(int32_t dest) const;
    // The steps of CheckWaitingDoc. A multiplexing module's router picks the copy's destination
    // (false: none is ready); the spool file is opened and its header read (false: logged, the
    // copy tries again); an accepting destination on this computer gets the spool file's path
    // instead of its blocks; the output is made in the store.
    bool ChooseDestination();
    bool OpenSpoolForSending();
    void OfferSpoolFile(int32_t dest);
    bool CreateOutput();
    bool DestinationOnThisComputer(int32_t dest) const;
    void ReportWorking();
    // Job and saved-job messages follow the module's log level.
    void LogJob(const std::string& text) const;

    // The module number of the store calls of a release that comes after Close.
    int32_t OwnerModuleNumber = 0;

    TJobState FState = TJobState::Reading;
    int32_t FPriority = 0;
    bool FHeld = false;
    bool FWaiting = false;
    TDateTime FCreated = 0;
    TDateTime FLastTime = 0;
    bool FReloaded = false;
    std::string FDests;
    bool FAbortRequested = false;
    // The index of the list that holds the job, and where it placed the job.
    TPickIndex* Index = nullptr;
    TPickEntry PickEntry;
};

// The log line of a step or operation that failed, with the exception's own message and the job
// and its spool file where there is one: "Exception in <name> (<message>; job <JobID>_<DocID>,
// file <spool file>)".
void LogException(IJobHost& host, const char* name, const std::exception& error,
                  const TDoc* job = nullptr);
void LogException(IJobHost& host, const char* name, const std::exception& error,
                  const std::string& jobKey, const std::string& file);
// Whether device (a terminator number) is on the host's hold list.
bool IsHeldDevice(const IJobHost& host, const std::string& device);
// Tells the server how many rows the list of jobs in process has.
void ShowLabel(IJobHost& host);
// Status 1 when every job left is waiting (or none is left) and the status is not 1 already.
void ModuleIdleCheck(IJobHost& host);

} // namespace raduvuz
