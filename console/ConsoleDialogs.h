#pragma once

#include <QFileDialog>
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
    // One line of text, starting as given; nullopt when cancelled.
    virtual std::optional<QString> AskText(QWidget* parent, const QString& caption,
                                           const QString& prompt, const QString& start) = 0;
    // A folder, one that is there or a new one typed or made in the dialog; nullopt when
    // cancelled.
    virtual std::optional<QString> AskFolder(QWidget* parent, const QString& caption) = 0;
};

// Chooses a folder for copies: one that is there, one made with its "Create New Folder" button,
// or one typed that is not there yet (the copy makes it with its parents).
class TFolderDialog : public QFileDialog {
    Q_OBJECT

public:
    TFolderDialog(QWidget* parent, const QString& caption);
    // The folder chosen, once the dialog ended with OK.
    QString Folder() const;
    void accept() override;

private:
    QString Typed;
};

// Qt's message box and input box, the folder dialog above, and the form's own modal loop.
class TQtDialogs : public IConsoleDialogs {
public:
    bool Confirm(QWidget* parent, const QString& text) override;
    bool Exec(QDialog& dialog) override;
    std::optional<QString> AskText(QWidget* parent, const QString& caption, const QString& prompt,
                                   const QString& start) override;
    std::optional<QString> AskFolder(QWidget* parent, const QString& caption) override;
};

} // namespace raduvuz
