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
// How long a log line may wait to be shown with those after it.
constexpr int kLogFlushMs = 100;

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

QPlainTextEdit* TfMain::LogPane() {
    FlushLog();
    return Log;
}

int TfMain::LogLineCount() {
    FlushLog();
    return PaneLineCount();
}

int TfMain::PaneLineCount() const {
    return Log->document()->isEmpty() ? 0 : Log->document()->blockCount();
}

// A busy module writes hundreds of lines a second. Added one by one, the pane lays out each
// line as it comes; added together, it lays out only what it shows.
void TfMain::LogWriteLine(const std::string& line) {
    LogPending.append(QString::fromStdString(line));
    if (!LogTimer.isActive())
        LogTimer.start(kLogFlushMs);
}

void TfMain::FlushLog() {
    LogTimer.stop();
    if (LogPending.isEmpty())
        return;
    QStringList lines;
    lines.swap(LogPending);
    int count = PaneLineCount();
    // The line that brings the pane to the limit empties it, with all before it.
    qsizetype first = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (++count >= kLogLineLimit) {
            Log->clear();
            count = 0;
            first = i + 1;
        }
    }
    if (first < lines.size())
        Log->appendPlainText(lines.mid(first).join(QLatin1Char('\n')));
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
