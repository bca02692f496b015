#include "app/AutomationError.h"

#include "services/Dispatch.h"

namespace raduvuz {

namespace {

// D-Bus error names are dotted elements of letters, digits and "_" that do not start with a digit;
// the bus refuses a reply with any other name, and the caller would wait for nothing.
bool ValidErrorName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.find('.') == std::string::npos)
        return false;
    bool elementStart = true;
    for (char c : name) {
        if (c == '.') {
            if (elementStart)
                return false;
            elementStart = true;
            continue;
        }
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !(digit && !elementStart))
            return false;
        elementStart = false;
    }
    return !elementStart;
}

} // namespace

TAutomationError AutomationErrorOf(const std::exception& e) {
    TAutomationError error{QString::fromLatin1(kUnexpectedError), QString::fromUtf8(e.what())};
    // A failure that a nested call brought back keeps its code when it is one of ours.
    if (const auto* dispatch = dynamic_cast<const TDispatchError*>(&e)) {
        if (dispatch->Name.rfind("RAduvuz.Error.", 0) == 0 && ValidErrorName(dispatch->Name))
            error.Name = QString::fromStdString(dispatch->Name);
    }
    return error;
}

std::string TextArgument(const QString& text, const char* argument) {
    std::string value = text.toStdString();
    CheckTextSize(argument, value);
    return value;
}

} // namespace raduvuz
