#pragma once

#include <QString>

#include <optional>

class QDialog;
class QWidget;

namespace raduvuz {

// The modal questions of the job actions. The window asks through this seam, so a test can
// answer in place of the operator; by default the questions are Qt's own dialogs. Plain messages
// and the beep go through TNotice.
class IConsoleDialogs {
public:
    virtual ~IConsoleDialogs() = default;

    // A question with Yes and No; true for Yes.
    virtual bool Confirm(QWidget* parent, const QString& text) = 0;
    // Shows one of the console's forms modally (priority, devices); true when it ended with OK.
    virtual bool Exec(QDialog& dialog) = 0;
    // One line of text; nullopt when cancelled.
    virtual std::optional<QString> AskText(QWidget* parent, const QString& caption,
                                           const QString& prompt) = 0;
    // A folder; nullopt when cancelled.
    virtual std::optional<QString> AskFolder(QWidget* parent, const QString& caption) = 0;
};

// Qt's message box, input box and folder selection, and the form's own modal loop.
class TQtDialogs : public IConsoleDialogs {
public:
    bool Confirm(QWidget* parent, const QString& text) override;
    bool Exec(QDialog& dialog) override;
    std::optional<QString> AskText(QWidget* parent, const QString& caption,
                                   const QString& prompt) override;
    std::optional<QString> AskFolder(QWidget* parent, const QString& caption) override;
};

} // namespace raduvuz
