// Design notes for the processing cycle
//
// The main window's timer calls TimerTimer every second; it runs the retention triggers and one
// tick. A tick loops until nothing is left to do: each iteration pumps the message queue, picks
// one job (SelectJob) and lets it do one step, or, when no job is to be served, searches the
// store for one new document (Intake). Automation calls and operator commands run inside the
// pump, so after every pump (and after a job step, which may pump) the tick asks its TTickScope
// whether Close or Init replaced the lists; if so it returns without touching a job again.
//
// Waiting without burning a core: jobs that wait for a destination that is not ready keep the
// loop going, each step finding nothing to do. An iteration makes no progress when no job was
// picked and the search found nothing, or when the picked job's step ended with its Waiting mark
// set. After a whole pass of such iterations (one more than the jobs in the list) the tick waits
// for events with a short bound instead of spinning; the picks themselves are unchanged.

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "control/IModuleWindow.h"
#include "control/TModuleControl.h"
#include "control/TTickScope.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "jobs/TMPrec.h"
#include "platform/System.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <set>
#include <thread>
#include <utility>

namespace raduvuz {

namespace {

// Below this much free space in the storage folder's file system no document is taken in.
constexpr int64_t kIntakeMinFreeKb = 102400;
// A store that keeps answering 0 to the search would hold the tick for ever.
constexpr int kMaxZeroAnswers = 1000;
// How long an idle pass waits for events before the tick looks at the jobs again.
constexpr int kIdleWaitMs = 100;

std::string PriorityText(int32_t priority) {
    std::string text = std::to_string(priority);
    if (priority >= 0 && text.size() < 2)
        text.insert(0, 1, '0');
    return text;
}

using TKeyedJobs = std::vector<std::pair<std::string, TDoc*>>;

void SortKeys(TKeyedJobs& keys) {
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::string CreatedKey(const TDoc& job) {
    return PriorityText(job.Priority) + "_" + WriteRealPoint(job.Created);
}

std::string LastTimeKey(const TDoc& job) {
    return PriorityText(job.Priority) + "_" + WriteRealPoint(job.LastTime);
}

} // namespace

void TModuleControl::TimerTimer() {
    // The timer stays quiet while its handler runs, also when the handler pumps messages.
    if (InTimer)
        return;
    InTimer = true;
    try {
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
            Tick();
        }
        if (Current)
            MainWindow.ProcessPendingMessages();
    } catch (const std::exception&) {
    }
    InTimer = false;
}

void TModuleControl::Tick() {
    if (Event)
        WaitGoEvent();
    if (Busy)
        return;
    TTickScope scope(*this);
    try {
        ModuleIdleCheck(*this);
        ExpireDestMarks();
        HeldCount = 0;
        size_t idleIterations = 0;
        for (;;) {
            if (Event)
                WaitGoEvent();
            if (!scope.Pump() || Paused)
                return;
            TDoc* job = SelectJob();
            if (!scope.Valid())
                return;
            bool progress = false;
            if (!job) {
                progress = Intake();
                if (!scope.Valid())
                    return;
            } else {
                bool done = false;
                const bool more = job->Execute(done);
                if (!scope.Valid())
                    return;
                // A call that came in during the step may have freed the job: it is left alone.
                if (job->Freed) {
                    progress = true;
                } else if (!more) {
                    if (DeletePolicy > 0 && job->SpoolMode && job->State == 2)
                        AddCompletedRow(*job, 3);
                    FreeJob(*job);
                    if (DeletePolicy == 0)
                        RetentionPass();
                    progress = true;
                } else if (done) {
                    if (job->SpoolMode && job->State == 0)
                        SpoolToWait(*job);
                    if ((!job->SpoolMode && DeletePolicy > 0) ||
                        (job->SpoolMode && job->State == 2))
                        AddCompletedRow(*job, -1);
                    FreeJob(*job);
                    if (DeletePolicy == 0)
                        RetentionPass();
                    progress = true;
                } else {
                    progress = !job->Waiting;
                }
            }
            const bool allHeldOrGone = Jobs.empty() || static_cast<int>(Jobs.size()) == HeldCount;
            if (allHeldOrGone && IntakeExhausted)
                break;
            idleIterations = progress ? 0 : idleIterations + 1;
            if (idleIterations > Jobs.size()) {
                idleIterations = 0;
                MainWindow.WaitForEvents(kIdleWaitMs);
                if (!scope.Valid())
                    return;
            }
        }
        IntakeExhausted = false;
    } catch (const std::exception&) {
    }
}

bool TModuleControl::WaitPumping(int ms) {
    TTickScope scope(*this);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (!scope.Pump())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(20)));
    }
}

void TModuleControl::ExpireDestMarks() {
    const TDateTime now = Now();
    for (TDestMark& mark : DestMarks) {
        std::erase_if(mark.Records, [now](const std::shared_ptr<TMPrec>& record) {
            return !record || MinutesBetween(now, record->Time) > 60;
        });
    }
}

void TModuleControl::AddCompletedRow(const TDoc& job, int imageIndex) {
    if (!job.ListItem)
        return;
    TJobListModel& completed = MainWindow.CompletedJobs();
    const TListRow& source = *job.ListItem;
    for (int i = 0; i < completed.Count(); ++i) {
        const TListRow& row = *completed.At(i);
        if (row.Caption != source.Caption || row.SubItems.size() != source.SubItems.size())
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
    row.Bytes = SizeBytesOf(job.Size);
    row.Created = job.Created;
    row.Devices = job.Devices;
    row.Priority = job.Priority;
    completed.Insert(LastInTop ? 0 : completed.Count(), std::move(row));
}

TDoc* TModuleControl::SelectJob() {
    // Freeing a job changes the list: take the aborted ones first.
    std::vector<TDoc*> aborted;
    for (TDoc* job : Jobs) {
        if (job->AbortRequested)
            aborted.push_back(job);
    }
    // Freeing one may pump messages; a job freed meanwhile stays in the bin until the tick ends.
    for (TDoc* job : aborted) {
        if (job->Freed)
            continue;
        Log("Document " + job->Name + " aborted");
        FreeJob(*job);
    }
    if (Jobs.empty())
        return nullptr;

    HeldCount = 0;
    int reading = 0;
    int sending = 0;
    int waiting = 0;
    int reloaded = 0;
    for (const TDoc* job : Jobs) {
        if (job->Held) {
            ++HeldCount;
            continue;
        }
        if (job->State == 0)
            ++reading;
        else if (job->State == 2)
            ++sending;
        else if (job->State == 1)
            ++waiting;
        if (job->Reloaded)
            ++reloaded;
    }

    const auto keyed = [this](uint8_t state, std::string (*key)(const TDoc&)) {
        TKeyedJobs keys;
        for (TDoc* job : Jobs) {
            if (!job->Held && job->State == state)
                keys.emplace_back(key(*job), job);
        }
        SortKeys(keys);
        return keys;
    };

    if (reloaded > 0) {
        for (uint8_t state : {uint8_t(1), uint8_t(2)}) {
            TKeyedJobs keys = keyed(state, LastTimeKey);
            for (const auto& [key, job] : keys) {
                if (!job->Waiting)
                    return job;
            }
            for (const auto& [key, job] : keys)
                job->Waiting = false;
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

    if (mode == 2 && reloaded == 0) {
        TKeyedJobs keys = keyed(1, CreatedKey);
        if (!keys.empty()) {
            TDoc* first = keys.front().second;
            if (!first->Waiting)
                return first;
            first->Waiting = false;
        }
    }

    TDoc* sendCandidate = nullptr;
    {
        TKeyedJobs keys;
        std::vector<std::string> noted;
        for (TDoc* job : Jobs) {
            if (job->Held || job->State != 2)
                continue;
            if (!job->Waiting) {
                keys.emplace_back(CreatedKey(*job), job);
            } else {
                job->Waiting = false;
                if (reloaded == 0)
                    noted.push_back(job->Dests);
            }
        }
        SortKeys(keys);
        for (const auto& [key, job] : keys) {
            if (std::find(noted.begin(), noted.end(), job->Dests) == noted.end()) {
                sendCandidate = job;
                break;
            }
        }
    }

    TDoc* readCandidate = nullptr;
    {
        TKeyedJobs keys;
        for (TDoc* job : Jobs) {
            if (job->Held || job->State != 0)
                continue;
            if (!job->Waiting)
                keys.emplace_back(CreatedKey(*job), job);
            else
                job->Waiting = false;
        }
        SortKeys(keys);
        if (!keys.empty())
            readCandidate = keys.front().second;
    }

    if (sendCandidate && readCandidate)
        return sendCandidate->LastTime < readCandidate->LastTime ? sendCandidate : readCandidate;
    return sendCandidate ? sendCandidate : readCandidate;
}

bool TModuleControl::DestinationsFree(int32_t docID, std::set<int32_t>& visited) {
    TParams params(Process.StoreObject.RGetDocDDS(docID));
    std::string devices;
    std::string ids;
    params.SelectEntries(FlowEntries, devices, ids);
    bool free = true;
    for (const std::string& item : ReadCommaText(ids)) {
        const int32_t dest = StrToIntDef(item, 0);
        if (visited.count(dest) > 0) {
            free = false;
            continue;
        }
        visited.insert(dest);
        if (VariantToInt(Process.ServerObject.GetValue(dest, 0)) != 1) {
            free = false;
            continue;
        }
        if (VariantToBool(Process.ServerObject.GetValue(dest, 6)) ||
            Process.StoreObject.IsDocForExists(dest))
            free = false;
    }
    return free;
}

bool TModuleControl::Intake() {
    try {
        if (Process.FreeSpaceKb(StoreDir) < kIntakeMinFreeKb) {
            Log("Not enough free disk space");
            IntakeExhausted = true;
            Pause();
            return false;
        }
        int32_t handle = 0;
        std::set<int32_t> visited;
        int zeroAnswers = 0;
        for (;;) {
            if (Event)
                WaitGoEvent();
            if (MaxFiles > 0 && static_cast<int32_t>(Jobs.size()) >= MaxFiles)
                handle = -1;
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
            if (WorkMode == 0 && !DestinationsFree(handle, visited))
                continue;
            int32_t jobID = 0;
            const std::string dds = Process.StoreObject.ROpenDoc(ModuleNumber, handle, jobID);
            if (jobID == -1) {
                Process.StoreObject.RAbortDoc(ModuleNumber, handle);
                return false;
            }
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
    } catch (const std::exception&) {
        return false;
    }
}

bool TModuleControl::HoldJob(TListRow* row) {
    TDoc* job = JobOfRow(row);
    if (!job)
        return false;
    if (job->State == 1) {
        job->Held = true;
        MainWindow.ProcessJobs().SetImage(row, 0);
    } else {
        MainWindow.Beep();
    }
    return true;
}

bool TModuleControl::ReleaseJob(TListRow* row) {
    TDoc* job = JobOfRow(row);
    if (!job)
        return false;
    job->Held = false;
    return true;
}

bool TModuleControl::RenameJob(TListRow* row, const std::string& name) {
    TDoc* job = JobOfRow(row);
    if (!job)
        return false;
    if (job->State != 1) {
        MainWindow.Beep();
        return true;
    }
    const std::string safe = SanitizeValue(name);
    MainWindow.ProcessJobs().SetSubItem(row, siName, safe);
    job->Name = safe;
    TParams params(job->DDS);
    params.SetValue("Name", safe);
    params.SetValue("FileName", safe);
    job->DDS = params.GetText();
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
