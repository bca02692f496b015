// The window's own events and the tray icon's.

#include "console/TfMain.h"

#include "common/WindowTexts.h"
#include "console/TAlignPanel.h"
#include "control/TModuleControl.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QToolButton>

#include <cstdio>

namespace raduvuz {

void TfMain::FormCreate() {
    ClearPreview();
    SearchPosition = -1;
    // The spot colour map is read once the form that holds it exists (TConsoleForms).
    if (tbPos)
        tbPos->setChecked(false);
    ANegative->setChecked(false);
    // The preview commands are switched off for the life of the window; the panel shows the
    // selected job's preview when the operator asks for it.
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
    // The preview splitter goes with the panel from the start.
    TunePreviewView();
    QApplication::setApplicationDisplayName(windowTitle());
}

void TfMain::FormShow() {
    SetImage(AHide, isVisible() ? 0 : 1);
    if (TModuleControl* module = ActiveModule())
        SetImage(APause, module->IsPaused() ? 3 : 2);
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
    KeepLogRoom();
    FormShow();
}

void TfMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    KeepLogRoom();
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
    // A notifier item's title is the application's name.
    QCoreApplication::setApplicationName(windowTitle());
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        Tray.show();
        TrayAdded = true;
        ShowTrayState();
        hide();
        return;
    }
    TrayAdded = false;
    // Off-screen (a workflow run without a display) there is no desktop, nor anybody to look.
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        hide();
        return;
    }
    // With nowhere to click, a hidden window could never be opened.
    showMinimized();
    LogWriteLine(WindowText(wtNoTray));
    std::fprintf(stderr, "raduvuz: %s\n", WindowText(wtNoTray).c_str());
}

void TfMain::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        ShowAndActivate();
}

bool TfMain::InTick() const {
    return Module && Module->InTick();
}

void TfMain::OutsideTick(std::function<void()> work) {
    if (!InTick()) {
        work();
        return;
    }
    Deferred.push_back(std::move(work));
    if (!DeferredTimer.isActive())
        DeferredTimer.start(10);
}

void TfMain::OnTriggered(QAction* action, std::function<void()> work) {
    connect(action, &QAction::triggered, this, [this, work] { OutsideTick(work); });
}

void TfMain::TickEnded() {
    // A pause for the disk ends by itself: the tray icon follows the module, not only its lists.
    ShowTrayState();
    // What the operator started during the tick runs now.
    if (!Deferred.empty())
        DeferredTimer.start(0);
}

} // namespace raduvuz
