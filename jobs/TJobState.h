#pragma once

// Design notes: the states of a job in process, and who moves it.
//
// A job in the module's list of jobs in process is in one of three states:
//   Reading  - its document is open in the store and its blocks come in; it is transferred on
//              block by block (pass-through) or written into a spool file (spooling). The
//              intake makes a job in this state, and the reprocess of a passed job makes a
//              temporary one that only makes the waiting copies.
//   Waiting  - a spooled copy waits to be sent from its spool file, one per destination copy;
//              the operator may hold it (it is then never picked) and release it, rename it and
//              change its priority. The spool step (SpoolToWait) and the reload of held and
//              journalled jobs make jobs in this state.
//   Sending  - the copy's output is open in the store and its blocks go out from the spool file.
//
// The processing cycle moves a job, one step of it at a time: Waiting -> Sending when its
// output was made (CheckWaitingDoc), Sending -> Waiting when the store went away while it was
// being sent (the spool file is whole, so it is sent again later). A reading job never becomes
// a waiting one: its copies are new jobs. Every move goes through TDoc::MoveTo, which refuses
// any other move and writes the move's log line; a finished or failed job leaves the list
// (FreeJob), which is no state.
//
// What the operator may do with a job follows from its state alone, here, for the processing
// cycle, the console's enabling rules, the job-control interface and AllowedActions alike.

#include <cstdint>

namespace raduvuz {

enum class TJobState : uint8_t { Reading = 0, Waiting = 1, Sending = 2 };

inline constexpr int kJobStates = 3;

// "reading", "waiting", "sending".
const char* JobStateName(TJobState state);

// The moves TDoc::MoveTo makes; staying in a state is no move.
bool MayMove(TJobState from, TJobState to);

// The operator's actions on a job in process.
inline bool MayHold(TJobState state, bool held) {
    return state == TJobState::Waiting && !held;
}
inline bool MayRelease(TJobState state, bool held) {
    return state == TJobState::Waiting && held;
}
// Only a waiting job takes a new name: its spool file is whole and nothing reads it.
inline bool MayRename(TJobState state) {
    return state == TJobState::Waiting;
}
// Any job in process may be aborted and given a priority.
inline bool MayAbort(TJobState) {
    return true;
}
inline bool MaySetPriority(TJobState) {
    return true;
}

// A passed job (a row of the list of passed jobs) may be reprocessed, redirected, renamed and
// copied whatever it is; it may be deleted unless the workflow still keeps its document or a job
// in process still uses its spool file.
inline bool MayDeletePassed(bool keptByWorkflow, bool inProcess) {
    return !keptByWorkflow && !inProcess;
}

} // namespace raduvuz
