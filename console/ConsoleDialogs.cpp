#include "console/ConsoleDialogs.h"

#include <QDialog>
#include <QFileDialog>
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
                                           const QString& prompt) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<QString> TQtDialogs::AskFolder(QWidget* parent, const QString& caption) {
    const QString folder = QFileDialog::getExistingDirectory(parent, caption);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

} // namespace raduvuz
