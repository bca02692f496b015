// Design notes for the processing cycle
//
// TimerTimer runs the retention triggers and one tick. A tick loops: each iteration pumps the
// message queue, picks one job (SelectJob) and lets it do one step, or, when no job is to be
// served, searches the store for one new document (Intake). Automation calls and operator
// commands run inside the pump, so after every pump (and after a job step, which may pump) the
// tick asks its TTickScope whether Close or Init replaced the lists; if so it returns without
// touching a job again.
//
// When a tick runs. The window's timer calls TimerTimer once a second as a backstop; besides, a
// tick that moved anything asks the window for the next one at once (a queued call, so that bus
// calls and the operator are served between ticks), and so does any news that may let a job move
// (NoteWorkPossible: a call to the module, an operator action, a store signal, the go event).
// A tick also ends when it has nothing to do but repeat itself: an iteration moved something
// when the search took a document, or a step moved a block, changed the job's state, finished or
// failed it. After iterations that moved nothing, the first one that tries again the same job
// (or the search) ends the tick: the picks would only go round the same jobs, asking the store
// and the server the same questions, until something changes, and whatever changes raises a
// notice (or the timer comes). A waiting module thus makes no bus calls between those moments.
//
// The picks follow the pick index of the job list (TPickIndex), which keeps the jobs in the
// orders of their text keys as the keys change: a pick costs O(log N) and takes the very job
// sorting every key would. Among jobs waiting to be sent, one whose destination could not take
// it is passed over together with every job for the same destinations, so a paused printer
// holds back only its own jobs; each destination is asked once per pass, not once per job.

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "control/IModuleView.h"
#include "control/TModuleControl.h"
#include "control/TTickScope.h"
#include "jobs/JobNames.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "jobs/TMPrec.h"
#include "jobs/WaitList.h"
#include "platform/System.h"
#include "services/Destinations.h"
#include "services/TStoreClient.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <set>
#include <unordered_set>
#include <utility>

namespace raduvuz {

namespace {

// The document store's name on the bus.
constexpr const char* kStoreProgId = "RozEza.MemoryMan";
// A store that keeps answering 0 to the search would hold the tick for ever.
constexpr int kMaxZeroAnswers = 1000;

// Clears the Waiting mark of each job.
void ClearWaiting(const std::vector<TDoc*>& jobs) {
    for (TDoc* job : jobs)
        job->SetWaiting(false);
}

} // namespace

void TModuleControl::TimerTimer() {
    // The timer stays quiet while its handler runs, also when the handler pumps messages.
    if (InTimer)
        return;
    InTimer = true;
    bool moved = false;
    try {
        if (Current)
            DamagedRetention();
        ResumeWhenRoom();
        if (Current && !Paused) {
            if (DeletePolicy < 2) {
                const TDateTime now = Process.Clock();
                if (MinutesBetween(now, Process.LastRetention) >= 1) {
                    RetentionPass();
                    Process.LastRetention = now;
                }
            } else if (DeletePolicy == 3) {
                if (static_cast<double>(Process.FreeSpaceKb(StoreDir)) / 1024 < FreeSpace)
                    RetentionPass();
            }
            moved = Tick();
        }
        if (Current)
            EventLoop.ProcessPendingMessages();
    } catch (const std::exception& e) {
        LogFailure(std::string("Exception in the timer (") + e.what() + "; job folder " + JobDir +
                   ")");
    }
    InTimer = false;
    // What moved may let more move; news that came while the handler ran was not acted on yet.
    // Inside other work that holds jobs (Busy) no tick can run: that work asks when it ends.
    if (Current && !Paused && !Busy && (moved || Notices != NoticesSeen))
        EventLoop.ScheduleTick();
}

void TModuleControl::WorkEnded() {
    if (!InTimer && !Busy && Current && !Paused && Notices != NoticesSeen)
        EventLoop.ScheduleTick();
}

void TModuleControl::NoteWorkPossible() {
    ++Notices;
    // A running timer handler, or other work that holds jobs, looks at the notices when it ends.
    if (!InTimer && !Busy && Current && !Paused)
        EventLoop.ScheduleTick();
}

bool TModuleControl::Tick() {
    if (Event)
        WaitGoEvent();
    if (Busy)
        return false;
    TTickScope scope(*this);
    bool moved = false;
    try {
        NoticesSeen = Notices;
        // While the store is away nothing is asked of it; one look a second at its name.
        if (StoreAway && !StoreBack())
            return moved;
        ModuleIdleCheck(*this);
        CloseJournalledInputs();
        if (!scope.Valid())
            return moved;
        Router.Expire(Now());
        HeldCount = 0;
        // What the iterations since the last one that moved something tried: jobs, and the
        // search as none.
        std::unordered_set<const TDoc*> tried;
        for (;;) {
            if (Event)
                WaitGoEvent();
            if (!scope.Pump() || Paused)
                return moved;
            if (Notices != NoticesSeen) {
                NoticesSeen = Notices;
                tried.clear();
            }
            TDoc* job = SelectJob();
            if (!scope.Valid())
                return moved;
            bool progress = false;
            if (!job) {
                progress = Intake();
                if (!scope.Valid())
                    return moved;
                if (StoreAway) {
                    LeaveGoneStore();
                    return true;
                }
            } else {
                const TJobState stateBefore = job->State();
                bool done = false;
                const bool more = job->Execute(done);
                if (!scope.Valid())
                    return moved;
                if (StoreAway) {
                    LeaveGoneStore();
                    return true;
                }
                // A call that came in during the step may have freed the job: it is left alone.
                if (job->Freed) {
                    progress = true;
                } else if (!more) {
                    if (DeletePolicy > 0 && job->SpoolMode && job->State() == TJobState::Sending)
                        AddCompletedRow(*job, 3);
                    FreeJob(*job);
                    if (DeletePolicy == 0)
                        RetentionPass();
                    progress = true;
                } else if (done) {
                    if (job->SpoolMode && job->State() == TJobState::Reading) {
                        SpoolToWait(*job);
                        // Its wait for the journal on the disk may have let a Close in, which
                        // gave the document back to the store. With the copies on the disk the
                        // job passed after all: its document is closed as the job is freed, so
                        // that it does not come again.
                        if (!scope.Valid()) {
                            if (job->InputGoesBack && WaitJournal.AllOnDisk())
                                job->InputGoesBack = false;
                            return moved;
                        }
                        if (!WaitJournal.AllOnDisk() && !job->InputGoesBack) {
                            job->InputGoesBack = true;
                            InputsAwaitingJournal.emplace_back(ModuleNumber, job->DocID);
                            LogFailure("File " + job->FileName + " (job " +
                                       JobKey(job->JobID, job->DocID) +
                                       ") is spooled, but its copies are not in the journal of "
                                       "waiting jobs on the disk: the store keeps its document "
                                       "until they are, so that a crash meanwhile loses none");
                        }
                    }
                    if ((!job->SpoolMode && DeletePolicy > 0 && !job->SpoolCopyDropped) ||
                        (job->SpoolMode && job->State() == TJobState::Sending))
                        AddCompletedRow(*job, -1);
                    FreeJob(*job);
                    if (DeletePolicy == 0)
                        RetentionPass();
                    progress = true;
                } else if (stateBefore == TJobState::Waiting) {
                    // A waiting job's check moves something only when it starts sending.
                    progress = job->State() != stateBefore;
                } else {
                    progress = !job->Waiting();
                }
            }
            moved = moved || progress;
            const bool allHeldOrGone = Jobs.empty() || static_cast<int>(Jobs.size()) == HeldCount;
            if (allHeldOrGone && IntakeExhausted)
                break;
            if (progress)
                tried.clear();
            else if (!tried.insert(job).second && Notices == NoticesSeen)
                break;
        }
        IntakeExhausted = false;
    } catch (const std::exception& e) {
        LogFailure(std::string("Exception in Tick (") + e.what() + "; job folder " + JobDir + ")");
    }
    return moved;
}

bool TModuleControl::WaitPumping(int ms) {
    TTickScope scope(*this);
    const uint64_t notices = Notices;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    if (!scope.Pump())
        return false;
    // News that may let the caller go on ends the wait early.
    const auto over = [&] { return Notices != notices || !scope.Valid(); };
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || over())
            return scope.Valid();
        EventLoop.WaitForEvents(static_cast<int>(left.count()), over);
    }
}

void TModuleControl::WaitGoEvent() {
    // Whatever happened while the RIP held us may let a job move.
    if (::raduvuz::WaitGoEvent(Process.GoEventName))
        NoteWorkPossible();
}

void TModuleControl::ListenToStore() {
    const TDispatchPtr& store = Process.StoreObject.Dispatch();
    if (store == ListenedStore)
        return;
    StoreListening.reset();
    ListenedStore = store;
    // A store without signals never calls; the timer alone brings the next tick then.
    StoreListening = Process.StoreObject.Listen([this](const TStoreSignal& signal) {
        if (signal.Kind != TStoreSignal::TKind::DocumentAvailable || signal.Module == ModuleNumber)
            NoteWorkPossible();
    });
    StorePresence.reset();
    StorePresence = Process.StoreObject.WatchPresence([this](bool present) {
        // A closed module has nothing in the store; its process may outlive the store a moment.
        if (!Current)
            return;
        if (!present) {
            StoreGone("the bus name " + std::string(kStoreProgId) + " lost its owner");
            // Between ticks no job is inside a step: what the store held is let go at once.
            if (Ticks == 0)
                LeaveGoneStore();
        }
        NoteWorkPossible();
    });
}

void TModuleControl::StoreGone(const std::string& why) {
    if (StoreAway)
        return;
    StoreAway = true;
    LogFailure("The document store has gone (" + why + "); the module waits until a store owns " +
               kStoreProgId + " again");
}

void TModuleControl::LeaveGoneStore() {
    std::vector<TDoc*> jobs;
    for (TDoc* job : Jobs)
        jobs.push_back(job);
    for (TDoc* job : jobs) {
        if (job->Freed || !job->LeaveGoneStore())
            continue;
        std::unique_ptr<TDoc> owned = Jobs.Take(*job);
        job->Free();
        Discard(std::move(owned));
    }
    ModuleIdleCheck(*this);
}

bool TModuleControl::StoreBack() {
    LeaveGoneStore();
    if (!Process.StoreObject.Present())
        return false;
    StoreAway = false;
    Log(std::string("A document store owns ") + kStoreProgId + " again; the module goes on");
    return true;
}

void TModuleControl::LowDiskSpace() {
    // A quota or a file-size limit with room on the disk stops only the job that met it.
    if (!Paused && Process.FreeSpaceKb(StoreDir) < kIntakeMinFreeKb)
        PauseForDisk();
}

void TModuleControl::PauseForDisk() {
    Log("Not enough free disk space");
    Pause();
    PausedForDisk = true;
    Log("The module starts again by itself once " + StoreDir + " has " +
        std::to_string(kIntakeMinFreeKb / 1024) + " MB free (now " +
        std::to_string(Process.FreeSpaceKb(StoreDir) / 1024) + " MB); Pause keeps it paused");
}

void TModuleControl::ResumeWhenRoom() {
    if (!Current || !Paused || !PausedForDisk)
        return;
    const int64_t freeKb = Process.FreeSpaceKb(StoreDir);
    if (freeKb < kIntakeMinFreeKb)
        return;
    Log("There is room on the disk again (" + std::to_string(freeKb / 1024) + " MB free in " +
        StoreDir + "); the module starts again");
    Resume();
}

bool TModuleControl::PassingOn() const {
    for (const TDoc* job : Jobs) {
        if (job->State() == TJobState::Reading && !job->SpoolMode)
            return true;
    }
    return false;
}

void TModuleControl::ForgetPassedJob(int32_t jobID, int32_t docID) {
    TJobListModel& completed = JobRows.Passed();
    for (int i = completed.Count() - 1; i >= 0; --i) {
        TListRow* row = completed.At(i);
        if (row->Caption == std::to_string(jobID) && !row->SubItems.empty() &&
            row->SubItems[0] == std::to_string(docID))
            completed.Delete(row);
    }
}

void TModuleControl::AddCompletedRow(const TDoc& job, int imageIndex) {
    if (!job.ListItem)
        return;
    TJobListModel& completed = JobRows.Passed();
    const TListRow& source = *job.ListItem;
    for (const TListRow* found : completed.WithCaption(source.Caption)) {
        const TListRow& row = *found;
        if (row.SubItems.size() != source.SubItems.size())
            continue;
        bool same = true;
        for (size_t s = 0; s < row.SubItems.size() && same; ++s)
            same = SameTextAscii(row.SubItems[s], source.SubItems[s]);
        if (same)
            return;
    }
    TListRow row;
    row.Caption = source.Caption;
    row.SubItems = source.SubItems;
    row.ImageIndex = imageIndex;
    row.Bytes = job.DataSize;
    row.Created = job.Created();
    row.Devices = job.Devices;
    row.Priority = job.Priority();
    completed.Insert(LastInTop ? 0 : completed.Count(), std::move(row));
}

void TModuleControl::CloseJournalledInputs() {
    if (InputsAwaitingJournal.empty())
        return;
    // A store that went away holds none of them any more.
    if (StoreAway) {
        InputsAwaitingJournal.clear();
        return;
    }
    ++DiskWaitHere;
    WaitJournal.MakeGood();
    --DiskWaitHere;
    if (!WaitJournal.AllOnDisk())
        return;
    std::string docs;
    for (const auto& [module, doc] : InputsAwaitingJournal) {
        Process.StoreObject.RCloseDoc(module, doc);
        docs += (docs.empty() ? "" : ", ") + std::to_string(doc);
    }
    InputsAwaitingJournal.clear();
    Log("The copies of spooled jobs are in the journal of waiting jobs on the disk: the store's "
        "documents " +
        docs + " are closed");
}

TDoc* TModuleControl::SelectJob() {
    const TPickIndex& index = Jobs.PickIndex();
    if (index.AbortRequestedCount() > 0) {
        // Freeing a job changes the list: take the aborted ones first.
        std::vector<TDoc*> aborted;
        for (TDoc* job : Jobs) {
            if (job->AbortRequested())
                aborted.push_back(job);
        }
        // Freeing one may pump messages; a job freed meanwhile stays in the bin until the tick
        // ends.
        for (TDoc* job : aborted) {
            if (job->Freed)
                continue;
            Log("Document " + ItemsAsTyped(job->Name) + " aborted");
            FreeJob(*job);
        }
    }
    if (Jobs.empty())
        return nullptr;

    HeldCount = index.HeldCount();
    const int reading = index.Count(TJobState::Reading);
    const int waiting = index.Count(TJobState::Waiting);
    const int sending = index.Count(TJobState::Sending);
    const int reloaded = index.ReloadedCount();

    if (reloaded > 0) {
        for (TJobState state : {TJobState::Waiting, TJobState::Sending}) {
            if (TDoc* job = index.FirstByLastTime(state, false))
                return job;
            ClearWaiting(index.WaitingJobs(state));
        }
    }

    if (HeldCount == static_cast<int>(Jobs.size()))
        return nullptr;

    int mode = 0;
    if (sending > 0)
        mode = reading == 0 ? 1 : 0;
    else
        mode = waiting > 0 ? 2 : 0;

    if (mode == 1) {
        if (!IntakeExhausted)
            return nullptr;
        IntakeExhausted = false;
    }

    // A job whose destination could not take it at its last check is passed over this time,
    // and so are the others for the same destinations: they never hold back a job another
    // destination can take. The first of the rest goes, in key order.
    if (mode == 2 && reloaded == 0) {
        const std::vector<TDoc*> passedWaiting = index.WaitingJobs(TJobState::Waiting);
        std::vector<std::string> notedWaiting;
        for (const TDoc* job : passedWaiting)
            notedWaiting.push_back(job->Dests());
        if (TDoc* next = index.FirstWaitingNotTo(notedWaiting))
            return next;
        // Each destination was asked once: the marks go only now, and the jobs reading from the
        // store get their step, or else two paused destinations would take turns for ever.
        ClearWaiting(passedWaiting);
    }

    // The sending jobs marked Waiting are passed over this time; so are the others that go to
    // the same destinations (unless jobs were reloaded).
    const std::vector<TDoc*> passedSending = index.WaitingJobs(TJobState::Sending);
    std::vector<std::string> noted;
    if (reloaded == 0) {
        for (const TDoc* job : passedSending)
            noted.push_back(job->Dests());
    }
    TDoc* sendCandidate = index.FirstSendingNotTo(noted);
    ClearWaiting(passedSending);

    TDoc* readCandidate = index.FirstByCreated(TJobState::Reading, false);
    ClearWaiting(index.WaitingJobs(TJobState::Reading));

    if (sendCandidate && readCandidate)
        return sendCandidate->LastTime() < readCandidate->LastTime() ? sendCandidate
                                                                     : readCandidate;
    return sendCandidate ? sendCandidate : readCandidate;
}

bool TModuleControl::DestinationsFree(const std::string& dds, std::set<int32_t>& visited) {
    TParams params(dds);
    std::string devices;
    std::string ids;
    params.SelectEntries(FlowEntries, devices, ids);
    bool free = true;
    std::vector<int32_t> asked;
    for (const std::string& item : ReadCommaText(ids)) {
        const int32_t dest = StrToIntDef(item, 0);
        if (visited.count(dest) > 0) {
            free = false;
            continue;
        }
        visited.insert(dest);
        asked.push_back(dest);
    }
    for (const bool ready : DestinationsReady(Process.ServerObject, Process.StoreObject, asked))
        free = free && ready;
    return free;
}

bool TModuleControl::Intake() {
    try {
        if (Process.FreeSpaceKb(StoreDir) < kIntakeMinFreeKb) {
            IntakeExhausted = true;
            // A document being passed on goes out first: its output must not wait for the disk.
            if (!PassingOn())
                PauseForDisk();
            return false;
        }
        int32_t handle = 0;
        std::set<int32_t> visited;
        // Every destination a flow entry names. Once each has been asked about in this search
        // without one document finding all of its own free, no later document can be passed
        // either (one that matches no entry gets no output anyway): the rest of the documents
        // are not walked, one store call each, while a busy destination keeps them waiting.
        std::set<int32_t> flowDests;
        for (const TTaggedString& entry : FlowEntries)
            flowDests.insert(entry.Tag);
        int zeroAnswers = 0;
        for (;;) {
            if (Event)
                WaitGoEvent();
            // A module that passes documents on reads each one's DDS before it takes it.
            std::string found;
            if (MaxFiles > 0 && static_cast<int32_t>(Jobs.size()) >= MaxFiles)
                handle = -1;
            else if (WorkMode == 0)
                handle = Process.StoreObject.RNextFindDocDDS(ModuleNumber, handle, found);
            else
                handle = Process.StoreObject.RNextFindDoc(ModuleNumber, handle);
            IntakeExhausted = handle < 0;
            if (handle == 0) {
                if (++zeroAnswers >= kMaxZeroAnswers) {
                    IntakeExhausted = true;
                    return false;
                }
                continue;
            }
            if (handle < 0)
                return false;
            if (WorkMode == 0 && !DestinationsFree(found, visited)) {
                if (!flowDests.empty() && std::includes(visited.begin(), visited.end(),
                                                        flowDests.begin(), flowDests.end())) {
                    IntakeExhausted = true;
                    return false;
                }
                continue;
            }
            int32_t jobID = 0;
            const std::string dds = Process.StoreObject.ROpenDoc(ModuleNumber, handle, jobID);
            if (jobID == -1) {
                Process.StoreObject.RAbortDoc(ModuleNumber, handle);
                return false;
            }
            if (CloseDocumentSpooledBefore(handle, jobID, dds))
                return true;
            const uint64_t generation = Generation();
            std::unique_ptr<TDoc> job = TDoc::Create(*this, WorkMode != 0, handle, jobID, dds);
            // Opening may pump messages; a Close meanwhile leaves the job to nobody but us.
            if (job->InitReadDoc() && Generation() == generation && IsCurrent()) {
                Jobs.Add(std::move(job));
                return true;
            }
            job->Free();
            return false;
        }
    } catch (const TStoreGone& e) {
        StoreGone(e.what());
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

bool TModuleControl::HoldJob(TListRow* row) {
    TDoc* job = JobOfRow(row);
    if (!job)
        return false;
    if (MayHold(job->State(), job->Held())) {
        job->SetHeld(true);
        WaitJournal.Update(*job);
        JobRows.Process().SetImage(row, 0);
    } else if (!job->Held()) {
        View().Beep();
    }
    return true;
}

bool TModuleControl::ReleaseJob(TListRow* row) {
    TDoc* job = JobOfRow(row);
    if (!job)
        return false;
    if (!MayRelease(job->State(), job->Held()))
        return true;
    job->SetHeld(false);
    WaitJournal.Update(*job);
    // The row keeps its image, but the job is no longer held.
    JobRows.Process().Refresh(row);
    return true;
}

bool TModuleControl::RenameJob(TListRow* row, const std::string& name) {
    TDoc* job = JobOfRow(row);
    if (!job)
        return false;
    if (!MayRename(job->State())) {
        View().Beep();
        return true;
    }
    const std::string safe = SanitizeValue(name);
    JobRows.Process().SetSubItem(row, siName, ItemsAsTyped(safe));
    job->Name = safe;
    TParams params(job->DDS);
    params.SetValue("Name", safe);
    params.SetValue("FileName", safe);
    job->DDS = params.GetText();
    WaitJournal.Update(*job);
    return true;
}

TDoc* TModuleControl::JobOfRow(const TListRow* row) const {
    if (!row)
        return nullptr;
    for (TDoc* job : Jobs) {
        if (job == row->Job)
            return job;
    }
    return nullptr;
}

} // namespace raduvuz
