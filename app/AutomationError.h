#pragma once

#include <QString>

#include <exception>

namespace raduvuz {

// The error reply of an exception that leaves an automation method: its own RAduvuz.Error name
// when it carries one, else RAduvuz.Error.Unexpected; the message is the exception's.
struct TAutomationError {
    QString Name;
    QString Message;
};
TAutomationError AutomationErrorOf(const std::exception& e);

} // namespace raduvuz
