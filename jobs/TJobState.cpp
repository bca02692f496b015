#include "jobs/TJobState.h"

namespace raduvuz {

const char* JobStateName(TJobState state) {
    switch (state) {
    case TJobState::Reading:
        return "reading";
    case TJobState::Waiting:
        return "waiting";
    case TJobState::Sending:
        return "sending";
    }
    return "unknown";
}

bool MayMove(TJobState from, TJobState to) {
    return (from == TJobState::Waiting && to == TJobState::Sending) ||
           (from == TJobState::Sending && to == TJobState::Waiting);
}

} // namespace raduvuz
