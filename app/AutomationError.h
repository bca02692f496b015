#pragma once

#include <QString>

#include <exception>
#include <string>

namespace raduvuz {

// The error reply of an exception that leaves an automation method: its own RAduvuz.Error name
// when it carries one, else RAduvuz.Error.Unexpected; the message is the exception's.
struct TAutomationError {
    QString Name;
    QString Message;
};
TAutomationError AutomationErrorOf(const std::exception& e);

// A text argument of an automation call as the core takes it; RAduvuz.Error.InvalidArgs naming
// the argument when it is longer than the core takes.
std::string TextArgument(const QString& text, const char* argument);

} // namespace raduvuz
