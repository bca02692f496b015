#include "common/WindowTexts.h"

#include "common/Language.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace raduvuz {

namespace {

// By number, so that a lookup can halve its way through.
constexpr TWindowTextEntry kTexts[] = {
    {wtMainCaption, "Queuer module"},
    {wtMenuModule, "&Module"},
    {wtMenuView, "&View"},
    {wtMenuJobs, "&Jobs"},
    {wtMenuHelp, "&Help"},
    {wtSpotColors, "Spot Colors..."},
    {wtRedirect, "Re&direct"},
    {wtToolbar, "Queuer toolbar"},
    {wtLogHint, "Log window for current server"},
    {wtExit, "S&hut down"},
    {wtExitHint, "Shut down module"},
    {wtHide, "&Hide Window"},
    {wtHideHint, "Hide/Show main window"},
    {wtStart, "&Start"},
    {wtStartHint, "Start"},
    {wtStop, "&Stop"},
    {wtStopHint, "Stop"},
    {wtAbort, "&Abort Job"},
    {wtAbortHint, "Abort selected jobs"},
    {wtOptions, "S&etup..."},
    {wtOptionsHint, "Setup module"},
    {wtDelete, "&Delete"},
    {wtDeleteHint, "Delete selected jobs"},
    {wtViewLog, "&Log Window"},
    {wtViewLogHint, "Hide/Show log window"},
    {wtViewToolBar, "&Toolbar"},
    {wtViewToolBarHint, "Hide/Show toolbar"},
    {wtAbout, "&About"},
    {wtAboutHint, "About queuer module"},
    {wtReprocess, "&Reprocess"},
    {wtReprocessHint, "Reprocess selected jobs"},
    {wtViewProcessJobs, "P&rocess Jobs"},
    {wtViewCompletedJobs, "&Passed Jobs"},
    {wtViewPreview, "&Preview Window"},
    {wtSelectAll, "Select &All"},
    {wtSaveAs, "&Save As"},
    {wtChangeName, "Change &Names"},
    {wtChangeNameHint, "Change names"},
    {wtUnHold, "Re&lease"},
    {wtUnHoldHint, "Release selected jobs"},
    {wtPriority, "Change &Priority"},
    {wtHold, "&Hold"},
    {wtHoldHint, "Hold selected jobs"},
    {wtSearch, "&Search"},
    {wtSearchHint, "Search/Search again"},
    {wtSearchAgain, "Search Again"},
    {wtCompos, "&Composed Preview"},
    {wtComposHint, "Composed preview of selected jobs"},
    {wtSendToDevice, "Re&direct Selected Jobs"},
    {wtSendToDeviceHint, "Redirect selected jobs"},
    {wtAddSpotColor, "Add Spot Color"},
    {wtJobMerge, "Composed Job Previe&w"},
    {wtJobMergeHint, "Composed job preview"},
    {wtGenPreview, "Custom Preview &Generation"},
    {wtGenPreviewHint, "Custom preview generation"},
    {wtNegative, "&Negative Preview On/Off"},
    {wtNegativeHint, "Show negative preview"},
    {wtHelp, "&Queuer"},
    {wtColumnJobID, "Job ID"},
    {wtColumnDocID, "DocID"},
    {wtColumnProcessingJob, "Processing Job"},
    {wtColumnPassedJob, "Passed Job "},
    {wtColumnPage, "Page"},
    {wtColumnColor, "Color"},
    {wtColumnDate, "Date"},
    {wtColumnTime, "Time"},
    {wtColumnType, "Type"},
    {wtColumnSize, "Size"},
    {wtColumnDestination, "Destination"},
    {wtAddSpotColorOf, "Add &spot color \"%s\""},
    {wtEditSpotColorOf, "Edit &spot color \"%s\""},
    {wtInvalidColorName, "Invalid color name"},
    {wtSpotColorExists, "Spot color %s already exists"},
    {wtAboutCaption, "About"},
    {wtModuleDescription, "Module description:"},
    {wtLegal, "Copyright (C) Tarnwick. All rights reserved."},
    {wtBuild, "Build %d.%d"},
    {wtBeta, "Beta "},
    {wtOk, "OK"},
    {wtCancel, "Cancel"},
    {wtPriorityCaption, "Change priority"},
    {wtPriorityLabel, "Priority:"},
    {wtPriorityRange, "( 0 - minimal priority, 10 - maximum )"},
    {wtDevicesCaption, "Select destination devices"},
    {wtSearchCaption, "Search"},
    // A list control's text: its caption after "0:", then its items.
    {wtJobStatus, "0: Job status  ,'Processing jobs','Passed jobs'"},
    {wtJobIDLabel, "Job ID:"},
    {wtDocIDLabel, "Doc ID:"},
    {wtNameLabel, "Name:"},
    {wtPageLabel, "Page:"},
    {wtColorLabel, "Color:"},
    {wtDateLabel, "Date:"},
    {wtTypeLabel, "Type:"},
    {wtSizeLabel, "Size:"},
    {wtSizeUnit, "Kb"},
    {wtDestLabel, "Dest:"},
    {wtFind, "&Find"},
    {wtFindNext, "Find &Next"},
    {wtTextMatch, "=,consist"},
    {wtNotADate, "'%s' is not a valid date"},
    // What a job's "Size" column shows while it has no size yet.
    {wtLoading, "Loading"},
    {wtTransferring, "Transfering"},
    {wtSpooling, "Spooling"},
    {wtJobCounts, "%d in process, %d held, %d passed"},
    {wtColumnId, "ID"},
    {wtColumnState, "State"},
    {wtColumnPriority, "Priority"},
    {wtColumnSizeTip,
     "The job's data before packing, in Kb of 1024 bytes and Mb of 1024 Kb: its Size parameter, "
     "else what the document store gave, else the data of its spool file"},
    {wtColumnIdTip, "The id that raduvuz-ctl and the job-control interface take"},
    {wtStateReading, "reading"},
    {wtStateTransferring, "transferring"},
    {wtStateSpooling, "spooling"},
    {wtStateWaiting, "waiting"},
    {wtStateHeld, "held"},
    {wtStateSending, "sending"},
    {wtStatePassed, "passed"},
    {wtStateFailed, "failed"},
    {wtShow, "&Show"},
    {wtMenuColumns, "&Columns"},
    {wtViewProcessState, "&State of the jobs in process"},
    {wtWebSignIn, "Sign in"},
    {wtWebUser, "User"},
    {wtWebPassword, "Password"},
    {wtWebSignOut, "Sign out"},
    {wtWebWrongPassword, "Wrong user name or password"},
    {wtWebTooMany, "Too many failed sign-ins: try again in a minute"},
    {wtWebModules, "Modules"},
    {wtWebNoModule, "No module on the bus"},
    {wtWebIdle, "idle"},
    {wtWebWorking, "working"},
    {wtWebFailedStatus, "failed (%d)"},
    {wtWebRunning, "running"},
    {wtWebPaused, "paused"},
    {wtWebInProcess, "in process"},
    {wtWebHeld, "held"},
    {wtWebPassed, "passed"},
    {wtWebSignedInAs, "Signed in as %s"},
    {wtWebViewer, "viewer"},
    {wtWebOperator, "operator"},
    {wtWebReconnecting, "Connection lost: connecting again…"},
    {wtWebState, "State"},
    {wtWebPriority, "Priority"},
    {wtWebReading, "reading"},
    {wtWebTransferring, "transferring"},
    {wtWebSpooling, "spooling"},
    {wtWebWaiting, "waiting"},
    {wtWebSending, "sending"},
    {wtWebFailedJob, "failed"},
    {wtWebConfirmAbort, "Abort %d jobs: %s?"},
    {wtWebConfirmDelete, "Delete %d jobs: %s?"},
    {wtWebRenameJobs, "New name of %d jobs: %s"},
    {wtWebCopyJobs,
     "Copy the spool files of %d jobs (%s) into this folder of the workflow computer:"},
    {wtWebRedirectJobs, "Redirect %d jobs: %s"},
    {wtWebPriorityJobs, "Priority of %d jobs: %s"},
    {wtWebDone, "%s: done for %d of %d jobs"},
    {wtWebNotDone, "Not done for %s (see the module's log)"},
    {wtWebFound, "%d jobs found"},
    {wtWebShowAll, "Show all"},
    {wtWebNoJobs, "No jobs"},
    {wtWebAllModules, "All modules"},
    {wtWebSelected, "%d selected"},
    {wtWebMore, "and %d more"},
    {wtWebOwnDevices, "Nothing checked: each job goes to its own devices"},
    {wtWebModuleGone, "The module has left the bus"},
    {wtWebFailedCall, "The module failed: %s"},
    {wtWebViewerNote, "Viewer: you see the jobs but do not act on them"},
    {wtWebFolderHint, "An absolute path on the workflow computer, e.g. /srv/kept"},
    {wtWebModuleNumber, "Module %d"},
    {wtViewProcessPriority, "&Priority of the jobs in process"},
    {wtViewPassedState, "S&tate of the passed jobs"},
    {wtViewPassedPriority, "P&riority of the passed jobs"},
    {wtJobsNamed, "%d jobs: %s"},
    {wtJobNamed, "job %s"},
    {wtConfirmAbort, "Abort %s?"},
    {wtConfirmDelete, "Delete %s?"},
    {wtConfirmReprocess, "Reprocess %s?"},
    {wtConfirmShutDown, "Shut down module \"%s\"? %d jobs are in process, %d of them held: held "
                        "jobs stay held, the others are sent after the next start."},
    {wtWaitHeld, "Their device is held in this module (%s), so these wait held: %s. Release them "
                 "to send them."},
    {wtNoTray, "No system tray on this desktop (no notifier item host and no tray window): the "
               "window stays open, minimised"},
    {wtNoSetupLibrary, "No setup library: %s does not exist or cannot be loaded"},
    {wtHeldDevice, "%s (held)"},
    {wtNoJobSelected, "No job selected"},
    {wtNoPreviewFolder, "The workflow gave the module no preview folder"},
    {wtNoPreview, "No preview of job %s: there is no folder %s"},
    {wtNoPreviewPicture, "No preview of job %s: %s holds no picture"},
    {wtDateFormatHint, "The day as the Date column shows it, e.g. %s"},
    {wtManualCaption, "Manual: %s"},
    {wtNoManual, "The manual cannot be shown (%s). Read it with: man raduvuz"},
};

constexpr bool NumbersRise() {
    for (size_t i = 1; i < std::size(kTexts); ++i) {
        if (kTexts[i - 1].Number >= kTexts[i].Number)
            return false;
    }
    return true;
}
static_assert(NumbersRise(), "the window texts must be listed by rising number");

} // namespace

std::span<const TWindowTextEntry> WindowTexts() {
    return kTexts;
}

std::string WindowTextDefault(int number) {
    const auto found =
        std::lower_bound(std::begin(kTexts), std::end(kTexts), number,
                         [](const TWindowTextEntry& entry, int n) { return entry.Number < n; });
    return found != std::end(kTexts) && found->Number == number ? found->Text : std::string();
}

std::string WindowText(int number) {
    return LanguageText(number, WindowTextDefault(number));
}

} // namespace raduvuz
