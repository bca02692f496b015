#include "console/ConsoleDialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

namespace raduvuz {

bool TQtDialogs::Confirm(QWidget* parent, const QString& text) {
    const QString title = parent ? parent->windowTitle() : QString();
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool TQtDialogs::Exec(QDialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}

std::optional<QString> TQtDialogs::AskText(QWidget* parent, const QString& caption,
                                           const QString& prompt, const QString& start) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, start, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

TFolderDialog::TFolderDialog(QWidget* parent, const QString& caption)
    : QFileDialog(parent, caption) {
    setObjectName(QStringLiteral("FolderDialog"));
    // Qt's own dialog on every desktop: it has the button for a new folder and takes a typed
    // one that is not there yet.
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
}

QString TFolderDialog::Folder() const {
    if (!Typed.isEmpty())
        return Typed;
    const QStringList chosen = selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

void TFolderDialog::accept() {
    const QStringList chosen = selectedFiles();
    const QString folder = chosen.isEmpty() ? QString() : chosen.first();
    if (!folder.isEmpty() && !QFileInfo::exists(folder)) {
        Typed = folder;
        QDialog::accept();
        return;
    }
    Typed.clear();
    QFileDialog::accept();
}

std::optional<QString> TQtDialogs::AskFolder(QWidget* parent, const QString& caption) {
    TFolderDialog dialog(parent, caption);
    if (dialog.exec() != QDialog::Accepted || dialog.Folder().isEmpty())
        return std::nullopt;
    return dialog.Folder();
}

} // namespace raduvuz
