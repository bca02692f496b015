#pragma once

// The control layer: the module object the workflow server drives (lifecycle, processing cycle,
// configuration, saved jobs, flow entries, numbered values), the host and owner of its jobs,
// and what a process keeps once (TModuleProcess). It includes jobs/ and the layers below; its
// event loop and its view are the IEventLoop and IModuleView interfaces, so no console/ and no Qt.

#include "common/Types.h"
#include "control/IEventLoop.h"
#include "control/IModuleView.h"
#include "control/TJobRows.h"
#include "control/TModuleProcess.h"
#include "jobs/IJobHost.h"
#include "jobs/TDestRouter.h"
#include "jobs/TJobList.h"
#include "jobs/TMPrec.h"
#include "jobs/TWaitJournal.h"
#include "services/Dispatch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace raduvuz {

class TDoc;
class TParams;
struct TListRow;
struct TSettingRange;
struct TSavedDoc;
struct TSpoolHead;

// The module object the workflow server drives: one per process. Its methods are the automation
// methods of IModuleControl; a failure leaves a method as an exception, which the automation
// boundary turns into the call's error. It owns its jobs and is their host. Everything runs on
// the one user-interface thread.
class TModuleControl : public IJobHost {
public:
    // The process's state, its event loop and its view outlive the module; without a view (no
    // display) the module shows nothing.
    TModuleControl(TModuleProcess& process, IEventLoop& loop, IModuleView* view = nullptr);
    ~TModuleControl() override;
    TModuleControl(const TModuleControl&) = delete;
    TModuleControl& operator=(const TModuleControl&) = delete;

    // What the console, the adaptors and the tests read of the module.
    const std::string& GetDescription() const { return Description; }
    bool IsPaused() const { return Paused; }
    // Paused because the disk of the job folder had too little room, not by the operator.
    bool IsPausedForDisk() const { return PausedForDisk; }
    int32_t GetSavedKeepTime() const { return SavedKeepTime; }
    const std::string& GetJobDir() const { return JobDir; }
    const std::string& GetPreviewDir() const { return PreviewDir; }
    // The destinations' names the server gave for the flow entries.
    const TTaggedList& GetDestNames() const { return DestNames; }
    // The object the server registered the module as (SelfReg).
    const TVariant& GetSelfObject() const { return SelfObj; }
    const TJobList& JobsInProcess() const { return Jobs; }
    int32_t GetModuleNumber() const { return ModuleNumber; }
    // The key of the configuration last loaded, imported or saved.
    const std::string& GetConfigKey() const { return ConfigKey; }
    // An operator command that changes several jobs keeps the tick from stepping them meanwhile:
    // the module reads as paused until the command gives back what it found. No log line and no
    // news to the server, as the operator paused nothing.
    bool HoldStepsForCommand() { return std::exchange(Paused, true); }
    void EndCommandHold(bool wasPaused) { Paused = wasPaused; }

    IEventLoop& Loop() const { return EventLoop; }
    // The console's view of the module, or one that shows nothing.
    IModuleView& View() const;
    void SetView(IModuleView* view) { ShownBy = view; }
    // The job lists; the window and the job-control interface view them.
    TJobRows& Rows() { return JobRows; }
    const TJobRows& Rows() const { return JobRows; }
    TModuleProcess& ProcessState() const { return Process; }

    // IModuleControl, in slot order.
    void Init(int32_t pSrv, const std::string& sDesc, TDispatchPtr IDisp);
    // by: " by <who>" when the operator asked, for the log line.
    void Pause(const std::string& by = std::string());
    void Resume(const std::string& by = std::string());
    void StartLog();
    void StopLog();
    void Close();
    void LoadConfig(const std::string& Key);
    void SaveConfig(const std::string& Key);
    std::string GetErrorMessage() const { return ErrorMessage; }
    void SetID(const std::string& sID);
    std::string GetComputerName() const override { return ComputerName; }
    void AddSource(const std::string& ServerName, const TVariant& ID);
    void ClearSources();
    TVariant GetValue(int32_t Num);
    void SetValue(int32_t Num, const TVariant& Value);
    std::string GetInParams() const { return InParams; }
    std::string GetOutParams() const { return OutParams; }
    void ClearFlowEntrySet();
    void AddFlowEntry(int32_t Dest, const std::string& FlowEntry);
    void AfterLoad();
    void Kill();
    void AddTerminator(int32_t Term, const std::string& Name, const TVariant& FileType);
    void ClearTerminatorsSet();
    void CompletedSendTerminators();
    void SelfReg(const TVariant& selfObj);
    bool IsJobUse(int32_t JobID);
    void ShowModule();
    int32_t LoadDoc(int32_t DocID, int32_t Dest);
    bool SaveDoc(int32_t DocID);
    void DeleteSavedDoc(int32_t DocID) override;
    bool ForceDir(const std::string& sDir, bool NeedCreate);
    int32_t ImportConfig(const std::string& Key, const std::string& ConfigStr, int32_t ParInt);
    std::string ExportConfig();

    // The module's one log routine: text + " at " + date and time, to the log pane, after
    // StartLog to the server, and always to the process's log sink (the system log) with the
    // module's number and description.
    void Log(const std::string& text) override;
    // The same for a line that says something failed (an error in the system log).
    void LogFailure(const std::string& text) override;
    // Called by the event loop's timer every second, and by its queued call that ScheduleTick
    // asks for: the retention triggers and one tick.
    void TimerTimer();
    // The module is in the middle of a tick, or of other work that lets events in between its
    // steps (Busy): an event handled now runs inside it.
    bool InTick() const { return InTimer || Busy; }
    // News that may let a job move (a call to the module, an operator action, a store signal,
    // the go event): the next tick runs as soon as the event loop comes round, not at the next
    // timer; a tick that runs meanwhile goes on rather than end as idle.
    void NoteWorkPossible();
    // How many notices were raised so far.
    uint64_t WorkNotices() const { return Notices; }
    // Rebuilds the list of passed jobs from the spool files and brings held jobs back; the first
    // CompletedSendTerminators of the process runs it.
    void ReloadSavedJobs();
    // Operator questions about saved jobs, by job and document number texts. CopySavedJob gives
    // the system's text of a failed copy, empty when the file was copied.
    std::string CopySavedJob(const std::string& job, const std::string& doc,
                             const std::string& folder);
    bool SavedJobInUse(const std::string& doc) const;
    bool JobInProcess(const std::string& job, const std::string& doc) const;

    // One processing tick: steps of jobs and searches for new documents until nothing is left,
    // or until the tick would only repeat what it found nothing to do for. True when it moved
    // something (a block, a job's state, a job finished or failed, a document taken in).
    bool Tick();
    // The job to serve next, or none; frees aborted jobs first.
    TDoc* SelectJob();
    // One search of the store for a new document; true when a job was taken in.
    bool Intake();
    // Operator actions on a row of the list of jobs in process; false when no job owns the row.
    bool HoldJob(TListRow* row);
    bool ReleaseJob(TListRow* row);
    bool RenameJob(TListRow* row, const std::string& name);
    // Asks the tick to free the job of a row of the list of jobs in process and deletes its spool
    // file unless a copy or a passed row still uses it; false when no job owns the row.
    bool AbortJob(TListRow* row);

    // One retention pass over the saved records and the passed jobs, by DeletePolicy.
    void RetentionPass();
    // A spool file kept in the damaged folder; SetAside is the time it was moved there.
    struct TDamagedFile {
        std::string Name;
        std::string Path;
        int64_t Size = 0;
        TDateTime SetAside = 0;
    };
    // The files of the damaged folder, oldest first.
    std::vector<TDamagedFile> DamagedFiles() const;
    // The damaged folder's share of retention: a file goes KeepTime minutes after it was set
    // aside (looked at once a minute), and the oldest go first while the storage has less free
    // space than the intake needs, or than FreeSpace under DeletePolicy 3. Runs also while the
    // module is paused.
    void DamagedRetention();
    // Removes the preview folder of a job unless the server still uses the job.
    void DeletePreview(const std::string& job);
    // JobDir/<job>_<doc>: the spool file of a job by its number texts.
    std::string SpoolFilePath(const std::string& job, const std::string& doc) const;

    // IJobHost: what the module's jobs read and use of it.
    // Made from the module's settings at each call (through JobSettingsOf), so it always shows
    // their values.
    const TJobSettings& GetSettings() const override;
    bool IsCurrent() const override { return Current; }
    int32_t GetStatus() const override { return Status; }
    void ChangeStatus(int32_t status) override;
    const TTaggedList& GetFlowEntries() const override { return FlowEntries; }
    const TTaggedList& GetTermNames() const override { return TermNames; }
    const TTaggedList& GetTermKeys() const override { return TermKeys; }
    const TTaggedList& GetHoldList() const override { return HoldList; }
    bool Multiplexes() const override { return Router.Multiplexes(); }
    std::string ChooseDestination(const std::string& dests, const std::string& name, int32_t jobID,
                                  const std::string& color,
                                  const std::function<bool(int32_t)>& ready) override {
        return Router.Choose(dests, name, jobID, color, ready);
    }
    bool KeepSavedDoc(std::shared_ptr<TSavedDoc> record) override;
    TServerClient& GetServerObject() override;
    TStoreClient& GetStoreObject() override;
    TDoc* AdoptJob(std::unique_ptr<TDoc> job) override { return Jobs.Add(std::move(job)); }
    bool AllJobsWaiting() const override { return Jobs.AllWaiting(); }
    bool SpoolFileOfOtherJob(const TDoc& job) const override {
        return Jobs.HasOtherWithNumbers(job);
    }
    TProcessRows ProcessRows() override { return TProcessRows(JobRows.Process()); }
    // The destinations of a multiplexing module and the jobs routed to each of late.
    const TDestRouter& GetRouter() const { return Router; }
    void FreeJob(TDoc& job) override;
    void StoreGone(const std::string& why) override;
    bool IsStoreAway() const override { return StoreAway; }
    void LowDiskSpace() override;
    void ForgetPassedJob(int32_t jobID, int32_t docID) override;
    TWaitJournal* GetWaitJournal() override { return &WaitJournal; }
    const TDiskWait& GetDiskWait() const override { return DiskWait; }
    // Runs work with the journal's writes held back, then writes them in one wait for the disk
    // during which the module serves its calls: for a call whose work is over once work returns.
    void WithJournalAfter(const std::function<void()>& work);
    void WaitGoEvent() override;
    bool WaitPumping(int ms) override;

    // True while Close runs; a Close that comes meanwhile does nothing.
    bool Closing() const { return ClosingNow; }
    // Held from SelfReg until Close drops it; the process lives at least as long.
    bool HoldsSelfReference() const { return SelfReferenced; }
    // Told when Close drops the self-reference.
    void SetSelfReleasedHandler(std::function<void()> handler) {
        OnSelfReleased = std::move(handler);
    }

    // Changes whenever the lists are replaced (Init, Close): a tick that pumped messages compares
    // it with the value it started with before it touches a job again.
    uint64_t Generation() const { return ListGeneration; }
    // Jobs and saved-job records waiting until the running tick has unwound.
    size_t DeferredCount() const { return DeferredJobs.size() + DeferredSavedDocs.size(); }

    // The hold file of the current configuration key: data folder/Config/<key>.hld.
    std::string HoldFilePath() const;
    std::string ConfigFilePath() const;

    // The job folder's subfolder where spool files that cannot be sent are kept.
    std::string DamagedFolder() const { return JobDir + "/damaged"; }

private:
    friend class TTickScope;
    // The tests' one way to set up and look into the module's state.
    template <typename TModule> friend struct TModuleControlTestAccess;

    // The intake takes no document while the storage has less free space than this.
    static constexpr int64_t kIntakeMinFreeKb = 102400;

    // Recovery after the module ended without sending everything (TModuleControl_Recovery.cpp).
    // The reload reads the journal of waiting jobs first and writes it anew at the end.
    void BeginJournalReload();
    void EndJournalReload();
    // Whether the reloaded spool file JobDir/name (opened in folder, the job folder's descriptor,
    // or by its whole path when that is -1) holds its whole document; if so its parameter text,
    // saved time, length and data size. A damaged one is logged and moved into the damaged
    // folder.
    bool ReadReloadedSpoolFile(int folder, const std::string& name, TSpoolHead& head);
    // Makes the waiting copies that the journal keeps for the spool file; false when it keeps
    // none.
    bool RemakeJournalledJobs(int32_t jobID, int32_t docID);
    // Moves JobDir/name into the damaged folder (with a suffix when the name is taken there);
    // the place it went, or empty when it could not be moved (why says why).
    std::string SetSpoolFileAside(const std::string& name, std::string& why);
    // Close: a job still spooling lets its input document go back to the store, which offers
    // it again once the process has left the bus; its part of a spool file is set aside.
    void GiveBackReadingJobs();
    // Closes the store documents of spooled jobs once their copies are in the journal on the
    // disk.
    void CloseJournalledInputs();
    // Intake: the store offers again a document spooled before the module ended, whose copies
    // the journal keeps: it is closed instead of spooled twice. True when it was.
    bool CloseDocumentSpooledBefore(int32_t docID, int32_t jobID, const std::string& dds);

    // Frees every job and saved-job record now, or after the running tick when one is running.
    void ReleaseJobLists();
    // A job out of the list: destroyed now, or kept until the running tick has unwound.
    void Discard(std::unique_ptr<TDoc> job);
    // Frees what Close left for later and destroys every kept job.
    void ReleaseDeferred();
    // The two halves of a retention pass: the low-disk rule and the age rules.
    void DeleteOldestWhileDiskIsLow(TDateTime now);
    void DeleteExpiredJobs(TDateTime now);
    // Turns the store's signals into notices, once for each store object, and watches whether
    // a store owns its name.
    void ListenToStore();
    // What the jobs had in a store that has gone: readers are dropped, senders wait again.
    void LeaveGoneStore();
    // While the store is away: true once a store owns its name again.
    bool StoreBack();
    // Not enough room in the storage folder's file system: paused until there is.
    void PauseForDisk();
    // A pause for the disk ends by itself once the disk has room again.
    void ResumeWhenRoom();
    // A job passes a document on (its output is open in the store).
    bool PassingOn() const;
    // The outermost work that held jobs has ended: news that came meanwhile asks for a tick.
    void WorkEnded();
    void Rename(const std::string& description);
    void MoveStoreDir(const std::string& folder);
    std::string HeldTerminatorPositions() const;
    void SetHeldTerminatorPositions(const std::string& positions);
    void SetLastInTop(bool value);
    // The configuration string as the .set file keeps it.
    std::string ConfigString() const;
    // The settings up to and including Event, shared by the saved and the exported form.
    std::string SettingsText(const std::string& storeDir, int32_t lastPrvDpi) const;
    // One log line, everywhere Log sends it.
    void LogLine(TLogSeverity severity, const std::string& text);
    // A call that tells the workflow server something (what, for the log line); a failure is
    // logged, and a module without a server has nobody to tell.
    void TellServer(const char* what, const std::function<void()>& call);
    // A line the module writes to its server itself, also to the log sink.
    void WriteServerLog(TLogSeverity severity, const std::string& text);
    // The log sink's copy of a line: "module <number> (<description>): <line>".
    void ToLogSink(TLogSeverity severity, const std::string& line);
    // A configuration file that could not be read: logged, kept beside as .damaged when it is
    // damaged, status -1 reported.
    void ConfigLoadFailed(const std::string& path, const std::string& why, bool damaged);
    // A save that failed: status -1, ErrorMessage and a log line say why; throws.
    [[noreturn]] void ConfigSaveFailed(const std::string& path, const std::string& why);
    // Paused with status -1 (reported to the server), text in ErrorMessage and the log.
    void StopForConfiguration(const std::string& text);
    // Removes what a writer that ended in the middle of a save left of this key's files (their
    // temporary files) and all but the newest kKeptDamagedConfigs damaged copies of its .set.
    void CleanConfigLeftovers();
    // An integer setting of a loaded or imported configuration, when it lies in its range; else
    // a log line and the field keeps its value.
    void ApplyInteger(const TParams& params, const TSettingRange& range, int32_t def,
                      int32_t& field);
    // The log line of a refused value of a loaded or imported configuration.
    void LogRefusedSetting(const std::string& problem, const std::string& kept);
    // The items of a list setting, without those over the text limit (each logged).
    std::vector<std::string> ListWithinLimit(TParams& params, const char* key);
    // StoreDir from a loaded or imported configuration, when it is a storage folder within the
    // text limit; else a log line, and StoreDir stays.
    void ApplyStoreDir(const std::string& folder);
    // Settings of a parsed configuration text except StoreDir; the held job entries only when
    // withHeldJobs.
    void ApplyConfig(TParams& params, bool withHeldJobs);
    // JobDir from StoreDir and ConfigKey, created and registered for uninstall when missing.
    void SetJobDir();
    // A copy of the job's row in the completed list, unless an equal row is there already.
    void AddCompletedRow(const TDoc& job, int imageIndex);
    // Pass-through intake: whether every destination of the document is free; each destination
    // is asked once per search.
    bool DestinationsFree(const std::string& dds, std::set<int32_t>& visited);
    TDoc* JobOfRow(const TListRow* row) const;

    std::vector<std::string> HoldJobs;
    TTaggedList FlowEntries;
    TTaggedList TermNames;
    TTaggedList TermKeys;
    TTaggedList HoldList;
    TJobList Jobs;
    std::vector<std::shared_ptr<TSavedDoc>> SavedDocs;
    std::string ModuleID;
    std::string ConfigKey;
    std::string StoreDir;
    std::string PreviewDir;
    bool Multiplex = false;
    // Set by Init, cleared by Close: the window, the timer and the jobs work with the module only
    // while it is current.
    bool Current = false;
    bool Paused = true;
    bool LogToWindow = true;
    bool LogToServer = false;
    bool LastInTop = true;
    bool GenPreview = true;
    bool Event = true;
    int32_t ModuleNumber = 0;
    int32_t Status = 1;
    int32_t DeletePolicy = 1;
    int32_t KeepTime = 1440;
    int32_t WorkMode = 0;
    std::string JobDir;
    std::string InParams;
    std::string OutParams;
    bool Busy = false;
    double FreeSpace = 0;
    int32_t Copies = 0;
    int32_t MaxFiles = 0;
    bool IntakeExhausted = false;
    // Told when Close drops the self-reference.
    std::function<void()> OnSelfReleased;
    TTaggedList DestNames;
    std::string Description;
    std::string ErrorMessage = "no error";
    // Why the settings are not those of a stored configuration (its file is damaged, cannot be
    // read, or is gone while a damaged copy is kept); empty once one is loaded, imported or
    // saved. Until then Resume leaves the module paused.
    std::string ConfigNotLoaded;
    std::string ComputerName;
    int32_t ParkedValue = 0;
    int32_t Started = 0;
    TVariant SelfObj;
    int32_t LogLevel = 1;
    int32_t SavedKeepTime = 180;
    // The document store left the bus: no job calls it until a store owns its name again.
    bool StoreAway = false;
    // Paused because the disk of the job folder had too little room, not by the operator: the
    // module starts again by itself once there is room.
    bool PausedForDisk = false;
    // How long a transferring job waits, serving events, between attempts to create its output.
    int RetryDelayMs = 1000;
    TModuleProcess& Process;
    IEventLoop& EventLoop;
    IModuleView* ShownBy;
    TDestRouter Router;
    mutable TJobSettings JobSettings;
    // Before the jobs: a job's row outlives it.
    TJobRows JobRows;
    bool SelfReferenced = false;
    bool ClosingNow = false;
    uint64_t ListGeneration = 0;
    int Ticks = 0;
    // Store documents (module number, document) of spooled jobs whose copies the journal could
    // not yet take: the store keeps them, so that a crash meanwhile loses no copy.
    std::vector<std::pair<int32_t, int32_t>> InputsAwaitingJournal;
    // Within a tick, whose job steps let calls in anyway (their store calls do), a wait for the
    // disk lets them in too; elsewhere a call would come in the middle of another's work.
    TDiskWait DiskWait = [this](const std::function<bool()>& sync) {
        return (Ticks > 0 && DiskWaitHere == 0) || JournalAfterWork > 0 ? EventLoop.WaitAside(sync)
                                                                        : sync();
    };
    // Raised where the tick's next step must follow the disk write with no call in between.
    int DiskWaitHere = 0;
    // WithJournalAfter's writes in progress, once the work that made them is over.
    int JournalAfterWork = 0;
    // Held jobs seen by the last pick.
    int HeldCount = 0;
    bool InTimer = false;
    uint64_t Notices = 0;
    // The notices the running or last tick has taken into account.
    uint64_t NoticesSeen = 0;
    TDispatchPtr ListenedStore;
    TListeningPtr StoreListening;
    TListeningPtr StorePresence;
    // Jobs out of the list that a tick may still hold; those Close left are not freed yet.
    std::vector<std::unique_ptr<TDoc>> DeferredJobs;
    std::vector<std::shared_ptr<TSavedDoc>> DeferredSavedDocs;
    TWaitJournal WaitJournal{*this};
    // Set while Close (or Init) lets go of the jobs: they stay in the journal.
    bool ReleasingLists = false;
    // The journal's records while the reload makes their copies, and which were made.
    std::vector<TWaitRecord> JournalRecords;
    std::vector<bool> JournalRecordMade;
};

} // namespace raduvuz
