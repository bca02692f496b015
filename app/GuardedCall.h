#pragma once

#include "app/AutomationError.h"
#include "app/TProcessLifetime.h"
#include "control/TModuleControl.h"

#include <QString>

#include <exception>
#include <type_traits>

namespace raduvuz {

// One call of a bus method into the module, as every adaptor makes it: the process counts the
// call as running while it lasts (caller: its bus connection, empty when not from the bus); when
// it ends, whatever it changed may let a job move; an exception that leaves body goes to
// replyError as the call's error reply, and the call answers TResult().
template <typename TResult, typename TBody, typename TReplyError>
TResult GuardedCall(TModuleControl& module, TProcessLifetime& lifetime, const QString& caller,
                    TBody&& body, TReplyError&& replyError) {
    lifetime.CallStarted(caller);
    struct TFinish {
        TModuleControl& Module;
        TProcessLifetime& Lifetime;
        ~TFinish() {
            Module.NoteWorkPossible();
            Lifetime.CallFinished();
        }
    } finish{module, lifetime};
    try {
        if constexpr (std::is_void_v<TResult>)
            body();
        else
            return body();
    } catch (const std::exception& e) {
        replyError(AutomationErrorOf(e));
    }
    if constexpr (!std::is_void_v<TResult>)
        return TResult();
}

} // namespace raduvuz
