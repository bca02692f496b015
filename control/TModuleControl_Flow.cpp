// Where the module's jobs may go: flow entries (destinations with their rules), terminators
// (output devices with their names and keys) and the hold list kept in step with them.

#include "control/SettingRules.h"
#include "control/TModuleControl.h"
#include "jobs/TMPrec.h"
#include "platform/System.h"
#include "platform/Uninstall.h"
#include "services/Dispatch.h"

#include <algorithm>
#include <exception>

namespace raduvuz {

void TModuleControl::AddFlowEntry(int32_t Dest, const std::string& FlowEntry) {
    // Destinations are module numbers from 1; an entry to another would fail at every job.
    if (Dest < 1)
        throw TInvalidArgument("Dest",
                               std::to_string(Dest) + " is not a module number (1 or more)");
    FlowEntries.push_back({FlowEntry, Dest});
    Router.AddDestination(Dest);
    const bool named = std::any_of(DestNames.begin(), DestNames.end(),
                                   [&](const TTaggedString& name) { return name.Tag == Dest; });
    // Without a server (before Init) the destination has nobody to name it.
    if (named || !Process.ServerObject.Assigned())
        return;
    // A server that cannot name the destination leaves the entry in place without a name.
    try {
        const TVariant name = Process.ServerObject.GetValue(Dest, 2);
        if (!IsNull(name))
            DestNames.push_back({VariantToText(name), Dest});
    } catch (const std::exception& e) {
        LogFailure("The workflow server did not name destination " + std::to_string(Dest) +
                   " of a flow entry (" + e.what() + "); the entry stays without a name");
    }
}

void TModuleControl::ClearFlowEntrySet() {
    FlowEntries.clear();
    Router.Clear();
    DestNames.clear();
}

void TModuleControl::AddTerminator(int32_t Term, const std::string& Name, const TVariant&) {
    TermNames.push_back({Name, Term});
    // Without a server (before Init) the terminator has nobody to give its key.
    if (!Process.ServerObject.Assigned())
        return;
    try {
        TermKeys.push_back({Process.ServerObject.PtrToKey(Term), Term});
    } catch (const std::exception& e) {
        LogFailure("The workflow server did not give the key of terminator " +
                   std::to_string(Term) + " (" + Name + "): " + e.what() +
                   "; its jobs' spool files cannot name it");
    }
}

void TModuleControl::ClearTerminatorsSet() {
    TermNames.clear();
    TermKeys.clear();
}

void TModuleControl::CompletedSendTerminators() {
    // Held keys that no terminator has any more are dropped; the others learn their number.
    for (size_t i = 0; i < HoldList.size();) {
        const auto term =
            std::find_if(TermKeys.begin(), TermKeys.end(),
                         [&](const TTaggedString& key) { return key.Text == HoldList[i].Text; });
        if (term != TermKeys.end()) {
            HoldList[i].Tag = term->Tag;
            ++i;
        } else {
            HoldList.erase(HoldList.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    if (!Process.SavedJobsReloaded) {
        ReloadSavedJobs();
        Process.SavedJobsReloaded = true;
    }
}

bool TModuleControl::ForceDir(const std::string& sDir, bool NeedCreate) {
    RequireAbsoluteFolder("sDir", sDir);
    if (!NeedCreate)
        return DirectoryExists(sDir);
    const bool exists = ForceDirectories(sDir);
    RegisterForUninstall(Process.ProgramFolder, sDir, 1);
    return exists;
}

} // namespace raduvuz
