#include "control/TJobActions.h"

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "control/IModuleWindow.h"
#include "control/JobSearch.h"
#include "control/SettingRules.h"
#include "control/TModuleControl.h"
#include "jobs/SpoolRename.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
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

namespace raduvuz {

namespace {

// Keeps the processing tick from stepping jobs while a command changes them, and shows the
// hourglass meanwhile; both come back as they were.
class TPausedGuard {
public:
    TPausedGuard(TModuleControl& module, bool hourglass)
        : Module(module), WasPaused(module.Paused), Hourglass(hourglass) {
        Module.Paused = true;
        if (Hourglass)
            Module.Window().SetBusyCursor(true);
    }
    ~TPausedGuard() {
        if (Hourglass)
            Module.Window().SetBusyCursor(false);
        Module.Paused = WasPaused;
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

std::string IsoLocalTime(TDateTime value) {
    if (value == 0)
        return std::string();
    const std::tm local = TmFromDateTime(value);
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) ? text : "";
}

TJobRowView ViewOf(const TListRow& row, const char* list) {
    TJobRowView view;
    view.Id = row.Id;
    view.List = list;
    view.Job = StrToIntDef(row.Caption, 0);
    view.Doc = StrToIntDef(SubItem(row, siDocID), 0);
    view.Name = SubItem(row, siName);
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

} // namespace

TJobActions::TJobActions(TModuleControl& module) : Module(module) {}

TJobIds TJobActions::InListOrder(const TJobListModel& list, const TJobIds& ids) const {
    const std::set<uint32_t> wanted(ids.begin(), ids.end());
    TJobIds ordered;
    if (!Module.Current)
        return ordered;
    for (int i = 0; i < list.Count(); ++i) {
        if (wanted.count(list.At(i)->Id) > 0)
            ordered.push_back(list.At(i)->Id);
    }
    return ordered;
}

std::vector<TJobRowView> TJobActions::List() const {
    std::vector<TJobRowView> views;
    const TJobListModel& inProcess = Module.Window().ProcessJobs();
    // A row's job pointer is read only while the module still holds that job.
    const std::unordered_set<const TDoc*> jobs(Module.Jobs.begin(), Module.Jobs.end());
    for (int i = 0; i < inProcess.Count(); ++i) {
        const TListRow& row = *inProcess.At(i);
        TJobRowView view = ViewOf(row, "process");
        if (jobs.count(row.Job) > 0) {
            const TDoc& job = *row.Job;
            view.Size = job.DataSize;
            view.Created = IsoLocalTime(job.Created());
            view.Devices = job.Devices;
            view.Priority = job.Priority();
            view.State = JobStageName(job.Stage());
            view.Done = job.Moved;
        }
        views.push_back(std::move(view));
    }
    const TJobListModel& passed = Module.Window().CompletedJobs();
    for (int i = 0; i < passed.Count(); ++i) {
        const TListRow& row = *passed.At(i);
        TJobRowView view = ViewOf(row, "passed");
        // A passed row with the failure image is a job whose sending failed.
        view.State = row.ImageIndex == 3 ? "failed" : "passed";
        views.push_back(std::move(view));
    }
    return views;
}

TJobCounts TJobActions::Counts() const {
    TJobCounts counts;
    counts.InProcess = Module.Window().ProcessJobs().Count();
    counts.Passed = Module.Window().CompletedJobs().Count();
    for (const TDoc* job : Module.Jobs) {
        if (job->Held() && job->ListItem)
            ++counts.Held;
    }
    return counts;
}

TJobIds TJobActions::Find(const TJobSearchCriteria& criteria) const {
    TJobIds found;
    if (!Module.Current)
        return found;
    const TJobListModel& list =
        criteria.PassedJobs ? Module.Window().CompletedJobs() : Module.Window().ProcessJobs();
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
    TJobListModel& inProcess = Module.Window().ProcessJobs();
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
    return EachInProcess(ids,
                         [this](TListRow* row) { return Module.HoldJob(row) && row->Job->Held(); });
}

TJobIds TJobActions::Release(const TJobIds& ids) {
    return EachInProcess(ids, [this](TListRow* row) { return Module.ReleaseJob(row); });
}

TJobIds TJobActions::Abort(const TJobIds& ids) {
    return EachInProcess(ids, [this](TListRow* row) { return Module.AbortJob(row); });
}

TJobIds TJobActions::SetPriority(const TJobIds& ids, int32_t priority) {
    TPausedGuard paused(Module, true);
    TJobListModel& inProcess = Module.Window().ProcessJobs();
    TJobIds done;
    for (uint32_t id : InListOrder(inProcess, ids)) {
        TListRow* row = inProcess.FindId(id);
        if (!row || !Module.Jobs.Contains(row->Job))
            continue;
        row->Job->SetPriority(priority);
        Module.GetWaitJournal()->Update(*row->Job);
        row->Priority = priority;
        inProcess.Refresh(row);
        done.push_back(id);
    }
    return done;
}

int32_t TJobActions::PriorityOf(uint32_t id) const {
    const TListRow* row = Module.Window().ProcessJobs().FindId(id);
    return row && Module.Jobs.Contains(row->Job) ? row->Job->Priority() : 0;
}

TJobIds TJobActions::Delete(const TJobIds& ids) {
    TJobListModel& passed = Module.Window().CompletedJobs();
    TJobIds done;
    for (uint32_t id : InListOrder(passed, ids)) {
        // Ticks may run between two rows, and may take a row away meanwhile.
        Module.Window().ProcessPendingMessages();
        TListRow* row = passed.FindId(id);
        if (!row)
            continue;
        const std::string job = row->Caption;
        const std::string doc = SubItem(*row, siDocID);
        if (Module.SavedJobInUse(doc) || Module.JobInProcess(job, doc)) {
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
    return done;
}

TJobIds TJobActions::Reprocess(const TJobIds& ids) {
    return ReprocessTo(ids, std::string());
}

TJobIds TJobActions::Redirect(const TJobIds& ids, const std::vector<int32_t>& devices) {
    // A device the module does not know would only make every job fail to find a flow entry.
    for (int32_t terminator : devices) {
        const auto known = [terminator](const TTaggedString& t) { return t.Tag == terminator; };
        if (std::none_of(Module.TermNames.begin(), Module.TermNames.end(), known)) {
            std::string terminators;
            for (const TTaggedString& t : Module.TermNames)
                terminators +=
                    (terminators.empty() ? "" : ", ") + std::to_string(t.Tag) + " (" + t.Text + ")";
            throw TInvalidArgument("devices", "the module has no terminator " +
                                                  std::to_string(terminator) +
                                                  "; its terminators are " +
                                                  (terminators.empty() ? "none" : terminators));
        }
    }
    // Each device an item of its own, so that every flow entry of a chosen device matches.
    std::string device;
    for (int32_t terminator : devices)
        device += (device.empty() ? "" : ",") + std::to_string(terminator);
    return ReprocessTo(ids, device);
}

TJobIds TJobActions::ReprocessTo(const TJobIds& ids, const std::string& device) {
    TJobListModel& passed = Module.Window().CompletedJobs();
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
    TJobListModel& passed = Module.Window().CompletedJobs();
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
        for (const TTaggedString& entry : Module.FlowEntries) {
            if (!params.Match(entry.Text))
                continue;
            const std::string device = TParams(entry.Text).GetValueText("Device");
            if (std::find(allowed.begin(), allowed.end(), device) == allowed.end())
                allowed.push_back(device);
        }
    }
    std::vector<TDeviceChoice> choices;
    for (const TTaggedString& terminator : Module.TermNames) {
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
    TJobListModel& passed = Module.Window().CompletedJobs();
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
    return result;
}

TJobIds TJobActions::Rename(const TJobIds& ids, const std::string& name) {
    if (name.empty())
        return {};
    TJobListModel& inProcess = Module.Window().ProcessJobs();
    TJobListModel& passed = Module.Window().CompletedJobs();
    TJobIds done;
    {
        TPausedGuard paused(Module, false);
        // Only a job waiting to be sent takes a new name; its spool file follows.
        TJobIds renamed;
        for (uint32_t id : InListOrder(inProcess, ids)) {
            TListRow* row = inProcess.FindId(id);
            if (row && Module.RenameJob(row, name) && row->Job->State() == 1)
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
    return done;
}

TJobIds TJobActions::SaveNewName(TJobListModel& list, const TJobIds& ids, const std::string& name) {
    Module.Window().SetBusyCursor(true);
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
    Module.Window().SetBusyCursor(false);
    return done;
}

TSetupResult TJobActions::Setup() {
    TModuleProcess& process = Module.ProcessState();
    const std::string self = std::holds_alternative<std::string>(Module.SelfObj)
                                 ? std::get<std::string>(Module.SelfObj)
                                 : std::string();
    const std::optional<int32_t> answer = process.Setup.DoAction(process.SetupLibraryFile(), self);
    if (!answer)
        return TSetupResult::NoLibrary;
    if (*answer == 0)
        return TSetupResult::Unchanged;
    // The setup changed the settings whatever becomes of telling the server.
    try {
        Module.SaveConfig(Module.ConfigKey);
        const std::string out = Module.GetOutParams();
        const std::string in = Module.GetInParams();
        process.ServerObject.ChangeSetup(Module.ModuleNumber, in, out);
    } catch (const std::exception&) {
    }
    return TSetupResult::Changed;
}

} // namespace raduvuz
