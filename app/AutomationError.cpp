#include "app/AutomationError.h"

#include "services/Dispatch.h"

namespace raduvuz {

TAutomationError AutomationErrorOf(const std::exception& e) {
    TAutomationError error{QString::fromLatin1(kUnexpectedError), QString::fromUtf8(e.what())};
    // A failure that a nested call brought back keeps its code when it is one of ours.
    if (const auto* dispatch = dynamic_cast<const TDispatchError*>(&e)) {
        if (dispatch->Name.rfind("RAduvuz.Error.", 0) == 0)
            error.Name = QString::fromStdString(dispatch->Name);
    }
    return error;
}

} // namespace raduvuz
