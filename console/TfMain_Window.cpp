// What the module asks of its view (IModuleView).

#include "console/TfMain.h"

#include "console/TNotice.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QToolBar>

namespace raduvuz {

namespace {

// Adding this many lines to the log pane empties it.
constexpr int kLogLineLimit = 3500;

} // namespace

void TfMain::SetCaption(const std::string& text) {
    const QString caption = QString::fromStdString(text);
    setWindowTitle(caption);
    QApplication::setApplicationDisplayName(caption);
    if (QCoreApplication::applicationName() == caption)
        return;
    // A notifier item's title is the application's name, which its host reads when the item
    // registers: the icon registers again under the module's description.
    QCoreApplication::setApplicationName(caption);
    if (TrayAdded) {
        Tray.hide();
        Tray.show();
    }
}

void TfMain::SetTrayTip(const std::string& text) {
    SetTip(QString::fromStdString(text));
}

void TfMain::SetToolbarCaption(const std::string& text) {
    TB_Main->setWindowTitle(QString::fromStdString(text));
}

int TfMain::LogLineCount() const {
    return Log->document()->isEmpty() ? 0 : Log->document()->blockCount();
}

void TfMain::LogWriteLine(const std::string& line) {
    Log->appendPlainText(QString::fromStdString(line));
    if (LogLineCount() >= kLogLineLimit)
        Log->clear();
}

void TfMain::SetPauseAction(const std::string& caption, const std::string& hint, int image) {
    APause->setText(QString::fromStdString(caption));
    APause->setToolTip(QString::fromStdString(hint));
    APause->setStatusTip(QString::fromStdString(hint));
    SetImage(APause, image);
    ShowTrayState();
}

void TfMain::SetPauseHint(const std::string& hint) {
    APause->setToolTip(QString::fromStdString(hint));
    APause->setStatusTip(QString::fromStdString(hint));
}

void TfMain::ShowAndActivate() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TfMain::Beep() {
    TNotice::Beep();
}

void TfMain::SetBusyCursor(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfMain::ShowMessage(const std::string& text) {
    TNotice::Message(this, text);
}

} // namespace raduvuz
