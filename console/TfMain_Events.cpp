// The window's own events and the tray icon's.

#include "console/TfMain.h"

#include "console/TAlignPanel.h"
#include "control/TModuleControl.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QToolButton>

namespace raduvuz {

void TfMain::FormCreate() {
    ClearPreview();
    SearchPosition = -1;
    // The spot colour map is read once the form that holds it exists (TConsoleForms).
    if (tbPos)
        tbPos->setChecked(false);
    ANegative->setChecked(false);
    // The preview is switched off for the life of the window.
    niSpotClr->setVisible(false);
    niSpotClr->setEnabled(false);
    for (QAction* preview : {ACompos, AJobMerge, AGenPreview, ANegative}) {
        HideAction(preview);
        preview->setEnabled(false);
    }
    // The toolbar dropped the negative preview's button with the action.
    tbPos = nullptr;
    pPreview->hide();
    AViewPreview->setChecked(false);
    HideAction(AViewPreview);
    AViewPreview->setEnabled(false);
    // The preview splitter goes with the panel from the start.
    TunePreviewView();
    QApplication::setApplicationDisplayName(windowTitle());
}

void TfMain::FormShow() {
    SetImage(AHide, isVisible() ? 0 : 1);
    if (TModuleControl* module = ActiveModule())
        SetImage(APause, module->Paused ? 3 : 2);
    lvProcessJobsEnter();
    lvCompletedJobsEnter();
}

void TfMain::FormActivate() {
    ProcessListActive = false;
    CompletedListActive = false;
    SelectionEventsSuppressed = false;
    lvCompletedJobsEnter();
}

void TfMain::FormKeyDown(int key) {
    if (key == Qt::Key_Escape)
        AHide->trigger();
}

void TfMain::FormDestroy() {
    Tray.hide();
    TrayAdded = false;
    ProcessListActive = false;
    CompletedListActive = false;
    SelectionEventsSuppressed = false;
}

void TfMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FormShow();
}

void TfMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TfMain::closeEvent(QCloseEvent* event) {
    // Only AExit ends the window; a close request of the desktop hides it.
    if (Exiting) {
        event->accept();
        return;
    }
    event->ignore();
    AHideExecute();
}

void TfMain::StartMessage() {
    SetTip(windowTitle());
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        Tray.show();
        TrayAdded = true;
    }
    hide();
}

void TfMain::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
        show();
        return;
    }
    if (reason != QSystemTrayIcon::Context)
        return;
    const QPoint at = QCursor::pos();
    if (isVisible()) {
        raise();
        activateWindow();
    }
    // No tick runs from inside the menu's own event loop.
    if (Loop)
        Loop->RestTicks(true);
    if (OnTrayMenuShown)
        QTimer::singleShot(0, PopupMenu, [this] { OnTrayMenuShown(PopupMenu); });
    PopupMenu->exec(at);
    if (Loop)
        Loop->RestTicks(false);
}

} // namespace raduvuz
