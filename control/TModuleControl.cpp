// Design notes for the module object
//
// One TModuleControl lives in each process. The workflow server drives it through the automation
// methods; the main window calls TimerTimer when its one-second timer comes and whenever the
// module asks for a tick at once (NoteWorkPossible, TModuleControl_Cycle.cpp). There is no
// thread of our own:
// automation calls, operator commands and ticks all run on the user-interface thread, and a call
// to the server or the store waits in a local event loop that serves incoming calls meanwhile.
// So any call may arrive in the middle of another one, Close and Kill included.
//
// Lifecycle: created with the process -> Init (initialised, paused, status 1) -> Resume
// (running) -> Pause ... -> Close or Kill. Init makes the module Current, Close ends that; a
// second Init keeps the first server and the store of the process (TModuleProcess).
//
// Close during a tick. A tick (or any job work that pumps messages) runs inside a TTickScope,
// which sets Busy. Close always does its whole work at once (layout, hold file, lists,
// self-reference, Current, timer), but while a scope is open it does not destroy the jobs
// and saved-job records: it moves them out of Jobs and SavedDocs into a deferred bin, so the
// lists are empty as Close promises while every job the tick still holds stays alive. Close and
// Init also advance the list generation. After each pump the tick asks its scope whether it is
// still valid (same generation, still Current) and, if not, returns without touching
// a job again; when the outermost scope ends, the deferred jobs are freed (closing or aborting
// their store documents). A second Init during a tick leaves Busy as it is, so ticks never nest.
//
// Ownership. The module owns its jobs (Jobs) and is their host (IJobHost). A job ends through
// FreeJob: it leaves the list at once and is released, but while a scope is open its object
// waits in the same bin, so a tick that still holds it sees Freed instead of freed memory and
// leaves it alone.

#include "control/TModuleControl.h"

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Language.h"
#include "common/TTwfPaths.h"
#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "control/HoldFile.h"
#include "control/IModuleView.h"
#include "control/SettingRules.h"
#include "jobs/JobNames.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "platform/System.h"
#include "platform/Uninstall.h"
#include "platform/WholeFile.h"

#include <algorithm>
#include <dirent.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace raduvuz {

namespace {

std::string ConfigFolder() {
    return ExcludeTrailingSeparator(DataPath()) + "/Config/";
}

// Deletes the ordinary files of a folder: hidden entries (".name"), folders and special files
// stay.
void DeleteOrdinaryFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)))
            ::unlink(path.c_str());
    }
}

} // namespace

TModuleControl::TModuleControl(TModuleProcess& process, IEventLoop& loop, IModuleView* view)
    : Process(process), EventLoop(loop), ShownBy(view) {}

const TJobSettings& TModuleControl::GetSettings() const {
    // The job folder's text goes into the buffer it had: a call, made several times per job,
    // allocates nothing.
    std::string dir = std::move(JobSettings.JobDir);
    dir = JobDir;
    JobSettings = JobSettingsOf({ModuleNumber, Copies, Multiplex, DeletePolicy, WorkMode, LastInTop,
                                 LogLevel, Event, std::move(dir), RetryDelayMs});
    return JobSettings;
}

IModuleView& TModuleControl::View() const {
    static TNoView none;
    return ShownBy ? *ShownBy : none;
}

TModuleControl::~TModuleControl() {
    Current = false;
    ReleaseJobLists();
    ReleaseDeferred();
}

std::string TModuleControl::HoldFilePath() const {
    return ConfigFolder() + ConfigKey + ".hld";
}

std::string TModuleControl::ConfigFilePath() const {
    return ConfigFolder() + ConfigKey + ".set";
}

void TModuleControl::Init(int32_t pSrv, const std::string& sDesc, TDispatchPtr IDisp) {
    SavedKeepTime = 180;
    PreviewDir.clear();
    // Lists of an earlier Init go the way Close sends them.
    ReleaseJobLists();
    HoldJobs.clear();
    FlowEntries.clear();
    Router.Clear();
    DestNames.clear();
    TermNames.clear();
    TermKeys.clear();
    HoldList.clear();
    ++ListGeneration;

    Multiplex = false;
    LastInTop = true;
    LogToWindow = true;
    LogToServer = false;
    IntakeExhausted = false;
    LogLevel = 1;

    ModuleNumber = pSrv;
    Description = sDesc;
    MaxFiles = 0;

    View().SetCaption(Description);
    View().SetTrayTip(Description);

    DeletePolicy = 1;
    Paused = true;
    View().SetPauseHint(WindowText(wtStartHint));
    Started = 0;
    InParams.clear();
    OutParams.clear();
    Current = true;
    WorkMode = 0;
    KeepTime = 1440;
    Status = 1;
    Process.ServerValue1004 = 36;
    ComputerName = ::raduvuz::ComputerName();
    StoreDir = Process.DefaultsFolder() + "Storage";
    Event = true;
    GenPreview = true;
    ErrorMessage = "no error";

    // A failure here skips the rest of the block: the module runs with the defaults above.
    try {
        if (!Process.ServerObject.Assigned())
            Process.ServerObject = TServerClient(IDisp);
        Process.ServerObject.ChangeStatus(ModuleNumber, Paused, Status);
        WriteServerLog(TLogSeverity::Info,
                       LanguageText(1612, " Connected at ") + DateTimeText(Now()));
        Process.ServerValue1004 = VariantToInt(Process.ServerObject.GetValue(0, 1004));
        PreviewDir = VariantToText(Process.ServerObject.GetValue(0, 2));
        if (SameComputerName(PreviewDir, ComputerName))
            PreviewDir = VariantToText(Process.ServerObject.GetValue(0, 1));
        else
            PreviewDir = Process.DefaultsFolder() + "Storage/preview";
        if (!DirectoryExists(PreviewDir)) {
            ForceDirectories(PreviewDir);
            RegisterForUninstall(Process.ProgramFolder, PreviewDir, 1);
        }
    } catch (const std::exception& e) {
        // Without a server (a module made for a test, say) there is nothing to connect to.
        if (Process.ServerObject.Assigned())
            LogFailure(std::string("Exception in Init while it asked the workflow server (") +
                       e.what() + "); the module goes on with the preview folder " + PreviewDir);
    }

    try {
        if (!Process.StoreObject.Assigned())
            Process.StoreObject = TStoreClient(Process.CreateObjectByProgId("RozEza.MemoryMan"));
        if (!Process.StoreObject.IsMainComputer(Process.ServerObject.GetValue(0, 2))) {
            Process.StoreObject = TStoreClient();
            Status = -3;
            ErrorMessage =
                LanguageText(1611, "TERN WorkFlow is already running on ") + ComputerName;
            Process.ServerObject.ChangeStatus(ModuleNumber, Paused, -3);
            WriteServerLog(TLogSeverity::Error, ErrorMessage);
            Close();
        }
    } catch (const std::exception& e) {
        try {
            WriteServerLog(TLogSeverity::Error,
                           LanguageText(1613, "Cannot connect to memory manager") + " (" +
                               e.what() + ")");
        } catch (const std::exception&) {
            // WriteServerLog put the line in the system log before the server refused it.
        }
    }
    ListenToStore();
}

void TModuleControl::TellServer(const char* what, const std::function<void()>& call) {
    if (!Process.ServerObject.Assigned())
        return;
    try {
        call();
    } catch (const std::exception& e) {
        LogFailure(std::string("The workflow server was not told ") + what + " (" + e.what() + ")");
    }
}

void TModuleControl::WriteServerLog(TLogSeverity severity, const std::string& text) {
    // The system log keeps the line even when the server does not take it.
    ToLogSink(severity, text);
    Process.ServerObject.WriteLog(ModuleNumber, text);
}

void TModuleControl::ToLogSink(TLogSeverity severity, const std::string& line) {
    if (Process.LogSink)
        Process.LogSink->Write(severity, "module " + std::to_string(ModuleNumber) + " (" +
                                             Description + "): " + line);
}

void TModuleControl::Pause(const std::string& by) {
    Paused = true;
    PausedForDisk = false;
    Log(LanguageFormat(2409, {by}, "Paused%s"));
    TellServer("that the module paused",
               [&] { Process.ServerObject.ChangeStatus(ModuleNumber, true, Status); });
    View().SetPauseAction(WindowText(wtStart), WindowText(wtStartHint), 3);
}

void TModuleControl::Resume(const std::string& by) {
    // Running on settings the workflow did not give would send jobs where nobody expects them.
    if (!ConfigNotLoaded.empty()) {
        StopForConfiguration("The module stays paused: " + ConfigNotLoaded +
                             "; it starts once a configuration is loaded, imported or saved");
        return;
    }
    Status = 1;
    Paused = false;
    PausedForDisk = false;
    Log(LanguageFormat(2410, {by}, "Started%s"));
    Started = 1;
    TellServer("that the module started",
               [&] { Process.ServerObject.ChangeStatus(ModuleNumber, false, 1); });
    View().SetPauseAction(WindowText(wtStop), WindowText(wtStopHint), 2);
}

void TModuleControl::StartLog() {
    LogToServer = true;
}

void TModuleControl::StopLog() {
    LogToServer = false;
}

void TModuleControl::Log(const std::string& text) {
    LogLine(TLogSeverity::Info, text);
}

void TModuleControl::LogFailure(const std::string& text) {
    LogLine(TLogSeverity::Error, text);
}

void TModuleControl::LogLine(TLogSeverity severity, const std::string& text) {
    // The time joins the line in the chosen language, as the line itself does.
    const std::string line = LanguageFormat(2419, {text, DateTimeText(Now())}, "%s at %s");
    ToLogSink(severity, line);
    if (LogToWindow)
        View().LogWriteLine(Description + ": " + line);
    if (LogToServer) {
        try {
            Process.ServerObject.WriteLog(ModuleNumber, line);
        } catch (const std::exception&) {
            // The line is in the system log already; logging the failure would come back here.
        }
    }
}

void TModuleControl::Close() {
    // A call or signal served while Close waits for the store must not free the jobs twice.
    if (ClosingNow)
        return;
    ClosingNow = true;
    struct TClosing {
        bool& Flag;
        ~TClosing() { Flag = false; }
    } closing{ClosingNow};
    View().SaveLayout();

    HoldJobs.clear();
    for (const TDoc* job : Jobs) {
        if (job->Held())
            HoldJobs.push_back(JobKey(job->JobID, job->DocID));
    }
    // The old hold file stays until the new one is whole on the disk.
    const std::string holdFile = HoldFilePath();
    std::string why;
    if (!ForceDirectories(ConfigFolder()))
        why = LastErrorText();
    else
        WriteWholeFile(holdFile, HoldFileText(HoldJobs), &why);
    if (!why.empty()) {
        ErrorMessage = "Cannot write the hold file (" + why + "; file " + holdFile +
                       "); held jobs: " + (HoldJobs.empty() ? "none" : WriteCommaText(HoldJobs));
        LogFailure(ErrorMessage);
    }
    GiveBackReadingJobs();
    CloseJournalledInputs();

    FlowEntries.clear();
    Router.Clear();
    HoldJobs.clear();
    DestNames.clear();
    TermNames.clear();
    TermKeys.clear();
    HoldList.clear();
    ReleaseJobLists();
    ++ListGeneration;

    if (SelfReferenced) {
        SelfReferenced = false;
        if (OnSelfReleased)
            OnSelfReleased();
    }

    Current = false;
    EventLoop.StopTimer();
}

void TModuleControl::Kill() {
    // Without a key the job folder would be the storage folder itself.
    if (!IsPlainName(ConfigKey))
        throw std::runtime_error("Kill needs the module's configuration key (LoadConfig, "
                                 "SaveConfig or ImportConfig give it): without one the module "
                                 "has no files of its own, and nothing was deleted");
    SavedKeepTime = 0;
    KeepTime = 0;
    RetentionPass();
    Close();
    const std::string folder = StoreDir + "/" + ConfigKey;
    if (DirectoryExists(folder)) {
        // Spool files moved aside are the module's own as well.
        const std::string aside = folder + "/damaged";
        if (DirectoryExists(aside)) {
            DeleteOrdinaryFiles(aside);
            ::rmdir(aside.c_str());
        }
        DeleteOrdinaryFiles(folder);
        if (::rmdir(folder.c_str()) != 0)
            throw std::runtime_error("Cannot remove the folder " + folder + " (" + LastErrorText() +
                                     ")");
    }
    for (const std::string& file : {ConfigFilePath(), HoldFilePath()}) {
        if (FileExists(file))
            ::unlink(file.c_str());
    }
}

void TModuleControl::SetID(const std::string& sID) {
    ModuleID = sID;
}

void TModuleControl::AddSource(const std::string&, const TVariant&) {}

void TModuleControl::ClearSources() {}

void TModuleControl::AfterLoad() {}

void TModuleControl::SelfReg(const TVariant& selfObj) {
    SelfObj = selfObj;
    SelfReferenced = true;
}

bool TModuleControl::IsJobUse(int32_t JobID) {
    for (const TDoc* job : Jobs) {
        if (job->JobID == JobID)
            return true;
    }
    const std::string caption = std::to_string(JobID);
    TJobListModel& completed = JobRows.Passed();
    for (int i = 0; i < completed.Count(); ++i) {
        if (completed.At(i)->Caption == caption)
            return true;
    }
    return false;
}

void TModuleControl::ShowModule() {
    if (!ShownBy)
        throw std::runtime_error("The module runs without a display (none of DISPLAY, "
                                 "WAYLAND_DISPLAY and QT_QPA_PLATFORM is set): it has no console "
                                 "to show");
    View().ShowAndActivate();
}

void TModuleControl::ChangeStatus(int32_t status) {
    Status = status;
    Process.ServerObject.ChangeStatus(ModuleNumber, Paused, Status);
}

TServerClient& TModuleControl::GetServerObject() {
    return Process.ServerObject;
}

TStoreClient& TModuleControl::GetStoreObject() {
    return Process.StoreObject;
}

void TModuleControl::WithJournalAfter(const std::function<void()>& work) {
    // Declared before the batch, so that the batch's flush at its end runs while it is raised;
    // raised only once work is over, so that nothing comes in during the work itself.
    struct TAfterWork {
        int& Depth;
        int Raised = 0;
        ~TAfterWork() { Depth -= Raised; }
    } after{JournalAfterWork};
    TWaitJournal::TBatch batch(&WaitJournal);
    work();
    ++JournalAfterWork;
    after.Raised = 1;
}

void TModuleControl::FreeJob(TDoc& job) {
    // Out of the list first: the job is gone from it whatever its release runs into.
    std::unique_ptr<TDoc> owned = Jobs.Take(job);
    // A copy that was sent, failed or was aborted leaves the journal; one that Close lets go of
    // stays there for the next start.
    // The retention of a sent job follows at once: a Close let in here would leave its spool
    // file behind.
    if (!ReleasingLists) {
        ++DiskWaitHere;
        WaitJournal.Remove(job);
        --DiskWaitHere;
    }
    job.Free();
    Discard(std::move(owned));
}

void TModuleControl::Discard(std::unique_ptr<TDoc> job) {
    if (job && Ticks > 0)
        DeferredJobs.push_back(std::move(job));
}

void TModuleControl::ReleaseJobLists() {
    ReleasingLists = true;
    struct TReleased {
        bool& Flag;
        ~TReleased() { Flag = false; }
    } released{ReleasingLists};
    if (Ticks > 0) {
        for (std::unique_ptr<TDoc>& job : Jobs.TakeAll())
            DeferredJobs.push_back(std::move(job));
        DeferredSavedDocs.insert(DeferredSavedDocs.end(), SavedDocs.begin(), SavedDocs.end());
        SavedDocs.clear();
        return;
    }
    const TServerClient::TLabelHold labels(Process.ServerObject);
    TJobList::TItems jobs = Jobs.TakeAll();
    // The rows go in one step: deleted one by one, each would search the list for its place.
    if (Current) {
        std::vector<const TListRow*> rows;
        for (const std::unique_ptr<TDoc>& job : jobs) {
            if (job->ListItem)
                rows.push_back(std::exchange(job->ListItem, nullptr));
        }
        JobRows.Process().DeleteRows(rows);
    }
    for (std::unique_ptr<TDoc>& job : jobs) {
        job->Free();
        Discard(std::move(job));
    }
    SavedDocs.clear();
}

void TModuleControl::ReleaseDeferred() {
    // A job's release may pump messages and so start another deferral; take the bin first.
    std::vector<std::unique_ptr<TDoc>> jobs;
    jobs.swap(DeferredJobs);
    for (const std::unique_ptr<TDoc>& job : jobs)
        job->Free();
    DeferredSavedDocs.clear();
}

} // namespace raduvuz
