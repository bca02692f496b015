#include "control/TJobActions.h"

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "control/IModuleView.h"
#include "control/JobActionRules.h"
#include "control/JobControlLimits.h"
#include "control/JobSearch.h"
#include "control/SettingRules.h"
#include "control/TModuleControl.h"
#include "jobs/JobNames.h"
#include "jobs/SpoolRename.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "jobs/WaitList.h"
#include "platform/System.h"
#include "services/Dispatch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <set>
#include <stdexcept>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace raduvuz {

namespace {

// Keeps the processing tick from stepping jobs while a command changes them, and shows the
// hourglass meanwhile; both come back as they were.
class TPausedGuard {
public:
    TPausedGuard(TModuleControl& module, bool hourglass)
        : Module(module), WasPaused(module.HoldStepsForCommand()), Hourglass(hourglass) {
        if (Hourglass)
            Module.View().SetBusyCursor(true);
    }
    ~TPausedGuard() {
        if (Hourglass)
            Module.View().SetBusyCursor(false);
        Module.EndCommandHold(WasPaused);
    }
    TPausedGuard(const TPausedGuard&) = delete;
    TPausedGuard& operator=(const TPausedGuard&) = delete;

private:
    TModuleControl& Module;
    bool WasPaused;
    bool Hourglass;
};

const std::string& SubItem(const TListRow& row, int index) {
    static const std::string kEmpty;
    return row.SubItems.size() > static_cast<size_t>(index) ? row.SubItems[index] : kEmpty;
}

// The name as the operator reads it: a name with blanks comes quoted as a parameter list keeps
// it, with a quote inside doubled.
std::string PlainName(const std::string& text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return text;
    std::string plain;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        plain.push_back(text[i]);
        if (text[i] == '"' && text[i + 1] == '"')
            ++i;
    }
    return plain;
}

TJobRowView ViewOf(const TListRow& row, const char* list) {
    TJobRowView view;
    view.Id = row.Id;
    view.List = list;
    view.Job = StrToIntDef(row.Caption, 0);
    view.Doc = StrToIntDef(SubItem(row, siDocID), 0);
    view.Name = PlainName(SubItem(row, siName));
    view.Page = SubItem(row, siPage);
    view.Color = SubItem(row, siColor);
    view.Type = SubItem(row, siType);
    view.Size = row.Bytes;
    view.SizeText = SizeColumnText(row);
    view.Created = IsoLocalTime(row.Created);
    view.Destination = SubItem(row, siDestination);
    view.Devices = row.Devices;
    view.Priority = row.Priority;
    return view;
}

// A line names at most this many jobs, then how many more there were.
constexpr size_t kNamedJobs = 10;

} // namespace

std::string IsoLocalTime(TDateTime value) {
    if (value == 0)
        return std::string();
    const std::tm local = TmFromDateTime(value);
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) ? text : "";
}

TJobActions::TJobActions(TModuleControl& module, TJobOrigin origin)
    : Module(module), Origin(std::move(origin)) {}

TJobActions::TLabels TJobActions::LabelsOf(const TJobListModel& list, const TJobIds& ids) const {
    const std::unordered_set<uint32_t> wanted(ids.begin(), ids.end());
    TLabels labels;
    for (int i = 0; i < list.Count() && labels.size() < wanted.size(); ++i) {
        const TListRow& row = *list.At(i);
        if (wanted.count(row.Id) > 0)
            labels[row.Id] =
                JobLabel(StrToIntDef(row.Caption, 0), StrToIntDef(SubItem(row, siDocID), 0),
                         PlainName(SubItem(row, siName)));
    }
    return labels;
}

std::string TJobActions::JobsText(const TLabels& labels, const TJobIds& done) {
    std::string text;
    size_t named = 0;
    for (uint32_t id : done) {
        const auto found = labels.find(id);
        if (found == labels.end() || named == kNamedJobs)
            continue;
        text += (named++ == 0 ? "" : ", ") + found->second;
    }
    if (done.size() > named)
        text += LanguageFormat(2416, {static_cast<int>(done.size() - named)}, " and %d more");
    return text;
}

TJobIds TJobActions::InListOrder(const TJobListModel& list, const TJobIds& ids) const {
    const std::set<uint32_t> wanted(ids.begin(), ids.end());
    TJobIds ordered;
    if (!Module.IsCurrent())
        return ordered;
    for (int i = 0; i < list.Count(); ++i) {
        if (wanted.count(list.At(i)->Id) > 0)
            ordered.push_back(list.At(i)->Id);
    }
    return ordered;
}

namespace {

// The job of the row is read only while the module still holds it (jobHeld).
TJobRowView ProcessView(const TListRow& row, bool jobHeld) {
    TJobRowView view = ViewOf(row, kProcessList);
    if (jobHeld) {
        const TDoc& job = *row.Job;
        view.Size = job.DataSize;
        view.Created = IsoLocalTime(job.Created());
        view.Devices = job.Devices;
        view.Priority = job.Priority();
        view.State = JobStageName(job.Stage());
        view.Done = job.Moved;
    }
    return view;
}

TJobRowView PassedView(const TListRow& row) {
    TJobRowView view = ViewOf(row, kPassedList);
    // A passed row with the failure image is a job whose sending failed.
    view.State = row.ImageIndex == 3 ? "failed" : "passed";
    return view;
}

} // namespace

std::vector<TJobRowView> TJobActions::List() const {
    return ListSince(0).Rows;
}

TJobChanges TJobActions::ListSince(uint64_t since) const {
    const TRowChanges& changes = Module.Rows().Changes();
    const bool whole = since == 0 || !changes.Covers(since);
    TJobChanges result;
    result.Serial = changes.Serial();
    const auto rowsOf = [whole, since](const TJobListModel& list) {
        if (!whole)
            return list.ChangedSince(since);
        std::vector<const TListRow*> rows;
        rows.reserve(static_cast<size_t>(list.Count()));
        for (int i = 0; i < list.Count(); ++i)
            rows.push_back(list.At(i));
        return rows;
    };
    const std::vector<const TListRow*> inProcess = rowsOf(Module.Rows().Process());
    const std::vector<const TListRow*> passed = rowsOf(Module.Rows().Passed());
    result.Rows.reserve(inProcess.size() + passed.size());
    // A few changed rows look their jobs up; many take the set of every job at once.
    constexpr size_t kLookedUp = 16;
    std::unordered_set<const TDoc*> jobs;
    if (inProcess.size() > kLookedUp)
        jobs.insert(Module.JobsInProcess().begin(), Module.JobsInProcess().end());
    for (const TListRow* row : inProcess) {
        const bool known = inProcess.size() > kLookedUp ? jobs.count(row->Job) > 0
                                                        : Module.JobsInProcess().Contains(row->Job);
        result.Rows.push_back(ProcessView(*row, known));
    }
    for (const TListRow* row : passed)
        result.Rows.push_back(PassedView(*row));
    if (!whole)
        result.Removed = changes.RemovedSince(since);
    else if (since != 0)
        result.Removed = {0};
    return result;
}

std::vector<std::string> TJobActions::AllowedActions(const TJobIds& ids) const {
    TJobActionStates allowed;
    const auto add = [&allowed](const TJobActionStates& states) {
        for (size_t a = 0; a < static_cast<size_t>(TJobAction::Count); ++a) {
            const auto action = static_cast<TJobAction>(a);
            if (states.Get(action).value_or(false))
                allowed.Set(action, true);
        }
    };
    const TJobListModel& inProcess = Module.Rows().Process();
    for (uint32_t id : InListOrder(inProcess, ids)) {
        const TListRow* row = inProcess.FindId(id);
        add(ProcessJobsEnterRule(row, true, JobOfRow(Module.JobsInProcess(), row)));
    }
    const TJobListModel& passed = Module.Rows().Passed();
    for (uint32_t id : InListOrder(passed, ids))
        add(CompletedJobsEnterRule(passed.FindId(id)));
    static const std::pair<TJobAction, const char*> kNames[] = {
        {TJobAction::Hold, "hold"},           {TJobAction::UnHold, "release"},
        {TJobAction::Abort, "abort"},         {TJobAction::Delete, "delete"},
        {TJobAction::Reprocess, "reprocess"}, {TJobAction::SendToDevice, "redirect"},
        {TJobAction::ChangeName, "rename"},   {TJobAction::Priority, "priority"},
        {TJobAction::SaveAs, "copy"}};
    std::vector<std::string> names;
    for (const auto& [action, name] : kNames) {
        if (allowed.Get(action).value_or(false))
            names.push_back(name);
    }
    return names;
}

TJobCounts TJobActions::Counts() const {
    TJobCounts counts;
    counts.InProcess = Module.Rows().Process().Count();
    counts.Passed = Module.Rows().Passed().Count();
    for (const TDoc* job : Module.JobsInProcess()) {
        if (job->Held() && job->ListItem)
            ++counts.Held;
    }
    return counts;
}

TJobIds TJobActions::Find(const TJobSearchCriteria& criteria) const {
    TJobIds found;
    if (!Module.IsCurrent())
        return found;
    const TJobListModel& list =
        criteria.PassedJobs ? Module.Rows().Passed() : Module.Rows().Process();
    for (int at = -1;;) {
        const TSearchResult result = SearchNext(list, at, criteria);
        if (result.Position < 0)
            return found;
        if (result.Outcome == TSearchOutcome::Found)
            found.push_back(list.At(result.Position)->Id);
        at = result.Position;
    }
}

TJobIds TJobActions::EachInProcess(const TJobIds& ids,
                                   const std::function<bool(TListRow*)>& command) {
    TPausedGuard paused(Module, true);
    TJobListModel& inProcess = Module.Rows().Process();
    TJobIds done;
    // A command may let other calls in (aborting asks the server about the preview): each row is
    // looked for again.
    for (uint32_t id : InListOrder(inProcess, ids)) {
        TListRow* row = inProcess.FindId(id);
        if (row && command(row))
            done.push_back(id);
    }
    return done;
}

TJobIds TJobActions::Hold(const TJobIds& ids) {
    const TLabels labels = LabelsOf(Module.Rows().Process(), ids);
    // The line names the jobs that were not held before.
    TJobIds changed;
    const TJobIds done = EachInProcess(ids, [&](TListRow* row) {
        const bool was = Module.JobsInProcess().Contains(row->Job) && row->Job->Held();
        const bool held = Module.HoldJob(row) && row->Job->Held();
        if (held && !was)
            changed.push_back(row->Id);
        return held;
    });
    if (!changed.empty())
        Module.Log(
            LanguageFormat(2400, {Origin.By(), JobsText(labels, changed)}, "Jobs held%s: %s"));
    return done;
}

TJobIds TJobActions::Release(const TJobIds& ids) {
    const TLabels labels = LabelsOf(Module.Rows().Process(), ids);
    TJobIds changed;
    const TJobIds done = EachInProcess(ids, [&](TListRow* row) {
        const bool was = Module.JobsInProcess().Contains(row->Job) && row->Job->Held();
        const bool released = Module.ReleaseJob(row);
        if (released && was && !row->Job->Held())
            changed.push_back(row->Id);
        return released;
    });
    if (!changed.empty())
        Module.Log(
            LanguageFormat(2401, {Origin.By(), JobsText(labels, changed)}, "Jobs released%s: %s"));
    return done;
}

TJobIds TJobActions::Abort(const TJobIds& ids) {
    const TLabels labels = LabelsOf(Module.Rows().Process(), ids);
    const TJobIds done = EachInProcess(ids, [this](TListRow* row) { return Module.AbortJob(row); });
    if (!done.empty())
        Module.Log(
            LanguageFormat(2402, {Origin.By(), JobsText(labels, done)}, "Jobs aborted%s: %s"));
    return done;
}

TJobIds TJobActions::SetPriority(const TJobIds& ids, int32_t priority) {
    TPausedGuard paused(Module, true);
    TJobListModel& inProcess = Module.Rows().Process();
    TJobIds done;
    for (uint32_t id : InListOrder(inProcess, ids)) {
        TListRow* row = inProcess.FindId(id);
        if (!row || !Module.JobsInProcess().Contains(row->Job))
            continue;
        row->Job->SetPriority(priority);
        Module.GetWaitJournal()->Update(*row->Job);
        row->Priority = priority;
        inProcess.Refresh(row);
        done.push_back(id);
    }
    if (!done.empty())
        Module.Log(
            LanguageFormat(2407, {priority, Origin.By(), JobsText(LabelsOf(inProcess, done), done)},
                           "Priority set to %d%s: %s"));
    return done;
}

int32_t TJobActions::PriorityOf(uint32_t id) const {
    const TListRow* row = Module.Rows().Process().FindId(id);
    return row && Module.JobsInProcess().Contains(row->Job) ? row->Job->Priority() : 0;
}

TJobIds TJobActions::Delete(const TJobIds& ids) {
    TJobListModel& passed = Module.Rows().Passed();
    const TLabels labels = LabelsOf(passed, ids);
    TJobIds done;
    for (uint32_t id : InListOrder(passed, ids)) {
        // Ticks may run between two rows, and may take a row away meanwhile.
        Module.Loop().ProcessPendingMessages();
        TListRow* row = passed.FindId(id);
        if (!row)
            continue;
        const std::string job = row->Caption;
        const std::string doc = SubItem(*row, siDocID);
        if (!MayDeletePassed(Module.SavedJobInUse(doc), Module.JobInProcess(job, doc))) {
            Module.Log(LanguageFormat(1731, {job, doc}, "Job %s (%s) can not be delete"));
            continue;
        }
        const std::string path = Module.SpoolFilePath(job, doc);
        // A file already gone is what deleting wanted; any other failure leaves it for the
        // operator to see.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            Module.Log(LanguageFormat(1736, {job, doc}, "Can not delete job %s (%s). ") + path +
                       ": " + std::strerror(errno));
        Module.DeletePreview(job);
        if (TListRow* still = passed.FindId(id))
            passed.Delete(still);
        done.push_back(id);
    }
    if (!done.empty())
        Module.Log(
            LanguageFormat(2403, {Origin.By(), JobsText(labels, done)}, "Jobs deleted%s: %s"));
    return done;
}

TJobIds TJobActions::Reprocess(const TJobIds& ids) {
    const TLabels labels = LabelsOf(Module.Rows().Passed(), ids);
    const TJobIds done = ReprocessTo(ids, std::string());
    if (!done.empty())
        Module.Log(
            LanguageFormat(2404, {Origin.By(), JobsText(labels, done)}, "Jobs reprocessed%s: %s"));
    return done;
}

TJobIds TJobActions::Redirect(const TJobIds& ids, const std::vector<int32_t>& devices) {
    // A device the module does not know would only make every job fail to find a flow entry.
    RequireTerminators("devices", devices, Module.GetTermNames());
    const TLabels labels = LabelsOf(Module.Rows().Passed(), ids);
    // Each device an item of its own, so that every flow entry of a chosen device matches.
    std::string device;
    // The devices by their names where the module knows them.
    std::string names;
    for (int32_t terminator : devices) {
        device += (device.empty() ? "" : ",") + std::to_string(terminator);
        std::string name = std::to_string(terminator);
        for (const TTaggedString& known : Module.GetTermNames()) {
            if (known.Tag == terminator && !known.Text.empty())
                name = known.Text;
        }
        names += (names.empty() ? "" : ", ") + name;
    }
    const TJobIds done = ReprocessTo(ids, device);
    if (!done.empty())
        Module.Log(LanguageFormat(2405, {names, Origin.By(), JobsText(labels, done)},
                                  "Jobs redirected to %s%s: %s"));
    return done;
}

TJobIds TJobActions::ReprocessTo(const TJobIds& ids, const std::string& device) {
    TJobListModel& passed = Module.Rows().Passed();
    TJobIds done;
    for (uint32_t id : InListOrder(passed, ids)) {
        TListRow* row = passed.FindId(id);
        if (!row)
            continue;
        TPausedGuard paused(Module, false);
        const TListRow kept = *row;
        const int index = passed.IndexOf(row);
        // The row goes first: the job comes back as a passed row of its own once it is sent.
        passed.Delete(row);
        if (ReprocessDoc(Module, kept.Caption, SubItem(kept, siDocID), device, false))
            done.push_back(id);
        else
            passed.Insert(std::min(index, passed.Count()), kept);
    }
    return done;
}

std::vector<TDeviceChoice> TJobActions::RedirectChoices(const TJobIds& ids) {
    TJobListModel& passed = Module.Rows().Passed();
    std::vector<std::string> allowed;
    for (uint32_t id : InListOrder(passed, ids)) {
        const TListRow* row = passed.FindId(id);
        if (!row)
            continue;
        const std::string job = row->Caption;
        std::string text;
        try {
            text = ReadSpoolDDS(Module, job, SubItem(*row, siDocID));
        } catch (const std::exception& e) {
            Module.Log(LanguageFormat(1732, {job}, "Can not find job %s") + " (" + e.what() + ")");
            continue;
        }
        TParams params(text);
        params.DeleteKey("Device");
        for (const TTaggedString& entry : Module.GetFlowEntries()) {
            if (!params.Match(entry.Text))
                continue;
            const std::string device = TParams(entry.Text).GetValueText("Device");
            if (std::find(allowed.begin(), allowed.end(), device) == allowed.end())
                allowed.push_back(device);
        }
    }
    std::vector<TDeviceChoice> choices;
    for (const TTaggedString& terminator : Module.GetTermNames()) {
        const bool enabled = std::find(allowed.begin(), allowed.end(),
                                       std::to_string(terminator.Tag)) != allowed.end();
        choices.push_back({terminator.Text, terminator.Tag, enabled});
    }
    return choices;
}

TCopyResult TJobActions::Copy(const TJobIds& ids, const std::string& folder) {
    // A relative folder would depend on the folder the module runs in.
    RequireAbsoluteFolder("folder", folder);
    TPausedGuard paused(Module, false);
    if (!ForceDirectories(folder))
        throw std::runtime_error("Cannot create the folder \"" + folder + "\" (" + LastErrorText() +
                                 ")");
    TJobListModel& passed = Module.Rows().Passed();
    const TLabels labels = LabelsOf(passed, ids);
    TCopyResult result;
    for (uint32_t id : InListOrder(passed, ids)) {
        const TListRow* row = passed.FindId(id);
        if (!row)
            continue;
        const std::string job = row->Caption;
        const std::string doc = SubItem(*row, siDocID);
        const std::string error = Module.CopySavedJob(job, doc, folder);
        if (error.empty()) {
            result.Done.push_back(id);
            continue;
        }
        Module.Log("Can not copy job " + job + " (" + doc + ") to " + folder + ": " + error);
        result.Errors.push_back(error);
    }
    if (!result.Done.empty())
        Module.Log(LanguageFormat(2408, {folder, Origin.By(), JobsText(labels, result.Done)},
                                  "Jobs copied to %s%s: %s"));
    return result;
}

TJobIds TJobActions::Rename(const TJobIds& ids, const std::string& name) {
    if (name.empty())
        return {};
    TJobListModel& inProcess = Module.Rows().Process();
    TJobListModel& passed = Module.Rows().Passed();
    // The line names the jobs by the names they had.
    TLabels labels = LabelsOf(inProcess, ids);
    labels.merge(LabelsOf(passed, ids));
    TJobIds done;
    {
        TPausedGuard paused(Module, false);
        // Only a job waiting to be sent takes a new name; its spool file follows.
        TJobIds renamed;
        for (uint32_t id : InListOrder(inProcess, ids)) {
            TListRow* row = inProcess.FindId(id);
            if (row && Module.RenameJob(row, name) && MayRename(row->Job->State()))
                renamed.push_back(id);
        }
        SaveNewName(inProcess, renamed, name);
        done = renamed;
    }
    const TJobIds passedIds = InListOrder(passed, ids);
    if (!passedIds.empty()) {
        TPausedGuard paused(Module, false);
        for (uint32_t id : SaveNewName(passed, passedIds, name))
            done.push_back(id);
    }
    if (!done.empty())
        Module.Log(LanguageFormat(2406, {name, Origin.By(), JobsText(labels, done)},
                                  "Jobs renamed to \"%s\"%s: %s"));
    return done;
}

TJobIds TJobActions::SaveNewName(TJobListModel& list, const TJobIds& ids, const std::string& name) {
    Module.View().SetBusyCursor(true);
    const std::string safe = SanitizeValue(name);
    TJobIds done;
    // A log line lets other calls in, which may take rows away: each is looked for again.
    for (uint32_t id : ids) {
        TListRow* row = list.FindId(id);
        if (!row)
            continue;
        const std::string job = row->Caption;
        const TSpoolRename renamed =
            RenameSpoolJob(Module.SpoolFilePath(job, SubItem(*row, siDocID)), safe);
        switch (renamed.Result) {
        case TSpoolRename::TResult::Renamed:
            list.SetSubItem(row, siName, ItemsAsTyped(safe));
            done.push_back(id);
            break;
        case TSpoolRename::TResult::NotFound:
            Module.Log(LanguageFormat(1732, {job}, "Can not find job %s") + " (" + renamed.Why +
                       ")");
            break;
        case TSpoolRename::TResult::BadHeader:
            Module.Log(LanguageFormat(1733, {job}, "Can not find job %s") + " (" + renamed.Why +
                       ")");
            break;
        case TSpoolRename::TResult::NotWritten:
            Module.Log(LanguageFormat(1718, {job}, "Can not rename job %s") + " (" + renamed.Why +
                       ")");
            break;
        }
    }
    Module.View().SetBusyCursor(false);
    return done;
}

void TJobActions::Pause() {
    Module.Pause(Origin.By());
}

void TJobActions::Resume() {
    Module.Resume(Origin.By());
}

void TJobActions::ShutDown() {
    // The jobs still in process are named: closing frees them.
    const TJobListModel& inProcess = Module.Rows().Process();
    TJobIds all;
    for (int i = 0; i < inProcess.Count(); ++i)
        all.push_back(inProcess.At(i)->Id);
    if (all.empty())
        Module.Log(LanguageFormat(2411, {Origin.By()}, "Shut down%s"));
    else
        Module.Log(LanguageFormat(2412, {Origin.By(), JobsText(LabelsOf(inProcess, all), all)},
                                  "Shut down%s; jobs in process: %s"));
    try {
        if (Module.GetServerObject().Assigned())
            Module.GetServerObject().CloseMe(Module.GetModuleNumber());
    } catch (const std::exception& e) {
        Module.LogFailure(std::string("The workflow server was not told that the module shuts "
                                      "down (") +
                          e.what() + ")");
    }
}

TSetupResult TJobActions::Setup() {
    TModuleProcess& process = Module.ProcessState();
    const std::string self = std::holds_alternative<std::string>(Module.GetSelfObject())
                                 ? std::get<std::string>(Module.GetSelfObject())
                                 : std::string();
    const std::optional<int32_t> answer = process.Setup.DoAction(process.SetupLibraryFile(), self);
    if (!answer)
        return TSetupResult::NoLibrary;
    if (*answer == 0)
        return TSetupResult::Unchanged;
    // The setup changed the settings whatever becomes of telling the server.
    try {
        Module.SaveConfig(Module.GetConfigKey());
        const std::string out = Module.GetOutParams();
        const std::string in = Module.GetInParams();
        process.ServerObject.ChangeSetup(Module.GetModuleNumber(), in, out);
    } catch (const std::exception& e) {
        // A save that failed has logged why already; this names what did not follow it.
        Module.LogFailure(std::string("The changed setup was not saved or not told to the "
                                      "workflow server (") +
                          e.what() + "; configuration " + Module.GetConfigKey() + ")");
    }
    return TSetupResult::Changed;
}

} // namespace raduvuz
