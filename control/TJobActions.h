#pragma once

#include "control/TJobOrigin.h"
#include "jobs/TJobRowView.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace raduvuz {

class TJobListModel;
struct TListRow;
class TModuleControl;
struct TJobSearchCriteria;

// Local time as ISO 8601 ("2026-03-01T14:05:09"); empty for 0.
std::string IsoLocalTime(double value);

// Rows of either job list by their ids, in no particular order; operations visit them in the
// order of their list.
using TJobIds = std::vector<uint32_t>;

// What changed in the lists after a change serial: the rows added or changed, in list order (the
// jobs in process first), the ids of rows removed, and the serial to ask from next time.
struct TJobChanges {
    uint64_t Serial = 0;
    std::vector<TJobRowView> Rows;
    TJobIds Removed;
};

// How many rows the lists have, and how many jobs in process are held.
struct TJobCounts {
    int InProcess = 0;
    int Held = 0;
    int Passed = 0;
};

// A terminator the redirect dialog offers: enabled when a flow entry that the selected jobs
// match names it as its device.
struct TDeviceChoice {
    std::string Name;
    int32_t Terminator = 0;
    bool Enabled = false;
};

struct TCopyResult {
    TJobIds Done;
    // The system's texts of the copies that failed, one per job.
    std::vector<std::string> Errors;
};

enum class TSetupResult { NoLibrary, Unchanged, Changed };

// The operator's commands on jobs, by row id: the console's actions and the job-control
// interface both come here, so the same rules and log lines hold for both. Each command answers
// the ids it was done for; an id that names no row of the list it works on is passed over, and
// so is every id while the module is not initialised or has been closed.
// While a command changes several jobs it sets the module's Paused flag, so that a tick that
// runs meanwhile does no step, and puts back the value it found.
// Every command that changes something writes one log line for the operator's record: what was
// done, for which jobs ("Job ID_DocID (name)", the first few and how many more) and, when the
// origin names one, who asked.
class TJobActions {
public:
    explicit TJobActions(TModuleControl& module, TJobOrigin origin = TJobOrigin());

    // Every row, the jobs in process first, each list in its shown order.
    std::vector<TJobRowView> List() const;
    // The rows added or changed after since, with the ids removed since. Since 0, or a serial
    // older than the log of removed ids reaches back (or one never given), is answered with every
    // row; for such an old serial Removed is the one id 0, which no row has, so that a watcher
    // drops the rows it had.
    TJobChanges ListSince(uint64_t since) const;
    TJobCounts Counts() const;
    // The actions the console enables for these rows, from its rules: an action is named when
    // the rule of at least one row allows it (the command then does it for those rows). In the
    // order hold, release, abort, delete, reprocess, redirect, rename, priority, copy.
    std::vector<std::string> AllowedActions(const TJobIds& ids) const;
    // The rows of the criteria's list that meet every criterion, in list order; a row whose
    // date or size cannot be tested does not.
    TJobIds Find(const TJobSearchCriteria& criteria) const;

    // Jobs in process. Only a job waiting to be sent can be held.
    TJobIds Hold(const TJobIds& ids);
    TJobIds Release(const TJobIds& ids);
    TJobIds Abort(const TJobIds& ids);
    TJobIds SetPriority(const TJobIds& ids, int32_t priority);
    // The priority of the job of a row in process; 0 without one.
    int32_t PriorityOf(uint32_t id) const;

    // Passed jobs. A job the workflow keeps, or one being processed again, is not deleted and
    // the log says so.
    TJobIds Delete(const TJobIds& ids);
    // Through the module again, to the job's own devices or to these terminators; a job whose
    // spool file cannot be read keeps its row.
    TJobIds Reprocess(const TJobIds& ids);
    // A device that is no terminator of the module is refused (TInvalidArgument naming it).
    TJobIds Redirect(const TJobIds& ids, const std::vector<int32_t>& devices);
    // Every terminator, enabled when a flow entry the jobs match has it as its whole device.
    std::vector<TDeviceChoice> RedirectChoices(const TJobIds& ids);
    // Spool files into folder (made with its parents); throws when the folder cannot be made.
    TCopyResult Copy(const TJobIds& ids, const std::string& folder);

    // Either list: a job in process only while it waits to be sent. An empty name does nothing.
    TJobIds Rename(const TJobIds& ids, const std::string& name);

    // The operator's pause and start of the module, and the shut-down: the line, then the
    // server is asked to close the module (failures swallowed); the caller closes it.
    void Pause();
    void Resume();
    void ShutDown();

    // Runs the module's setup library; when it changed the settings, saves the configuration and
    // tells the server the module's parameters. Failures are swallowed.
    TSetupResult Setup();

private:
    // The ids of list's rows among ids, in the list's order; none while the module is not
    // initialised or has been closed, so that no command works on its jobs then.
    TJobIds InListOrder(const TJobListModel& list, const TJobIds& ids) const;
    // Runs the command on the row of each id among the jobs in process, in list order, with the
    // module's Paused flag held; the ids whose command did its work.
    TJobIds EachInProcess(const TJobIds& ids, const std::function<bool(TListRow*)>& command);
    TJobIds ReprocessTo(const TJobIds& ids, const std::string& device);
    // Rewrites the spool files of rows with the new name; the ids whose file took it.
    TJobIds SaveNewName(TJobListModel& list, const TJobIds& ids, const std::string& name);
    using TLabels = std::unordered_map<uint32_t, std::string>;
    // How the log names the rows of ids, taken before a command may remove them.
    TLabels LabelsOf(const TJobListModel& list, const TJobIds& ids) const;
    // The jobs of done as the line names them, in order, the first few and how many more.
    static std::string JobsText(const TLabels& labels, const TJobIds& done);

    TModuleControl& Module;
    TJobOrigin Origin;
};

} // namespace raduvuz
