#include "console/TfMain.h"

#include "control/ModuleGlobals.h"
#include "control/TModuleControl.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolBar>

namespace raduvuz {

namespace {
// The tray tip field holds 63 characters.
constexpr int kTrayTipLength = 63;
} // namespace

TfMain::TfMain(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Queuer module"));
    setGeometry(370, 205, 722, 446);

    APause = new QAction(QStringLiteral("&Stop"), this);
    APause->setToolTip(QStringLiteral("Stop"));
    APause->setShortcut(Qt::Key_F2);
    connect(APause, &QAction::triggered, this, &TfMain::APauseExecute);
    AHide = new QAction(QStringLiteral("&Hide"), this);
    AHide->setToolTip(QStringLiteral("Hide window"));
    connect(AHide, &QAction::triggered, this, [this] { setVisible(!isVisible()); });
    AExit = new QAction(QStringLiteral("Shut down"), this);
    connect(AExit, &QAction::triggered, this, &TfMain::AExitExecute);

    TB_Main = addToolBar(QStringLiteral("Queuer toolbar"));
    TB_Main->setObjectName(QStringLiteral("TB_Main"));
    TB_Main->addAction(APause);
    TB_Main->addAction(AHide);

    Log = new QPlainTextEdit(this);
    Log->setObjectName(QStringLiteral("Log"));
    Log->setReadOnly(true);
    Log->setFocusPolicy(Qt::NoFocus);
    Log->setToolTip(QStringLiteral("Log window for current server"));
    setCentralWidget(Log);

    PopupMenu = new QMenu(this);
    PopupMenu->addAction(APause);
    PopupMenu->addSeparator();
    PopupMenu->addAction(AExit);
    Tray.setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    Tray.setContextMenu(PopupMenu);
    connect(&Tray, &QSystemTrayIcon::activated, this, &TfMain::TrayActivated);
    // No tick runs from inside the tray menu's own event loop.
    connect(PopupMenu, &QMenu::aboutToShow, &Timer, &QTimer::stop);
    connect(PopupMenu, &QMenu::aboutToHide, &Timer, qOverload<>(&QTimer::start));

    QApplication::setApplicationDisplayName(windowTitle());

    Timer.setInterval(1000);
    connect(&Timer, &QTimer::timeout, this, &TfMain::TimerTimer);
    Timer.start();
}

TfMain::~TfMain() {
    Tray.hide();
}

void TfMain::StartMessage() {
    Tip = windowTitle().left(kTrayTipLength);
    Tray.setToolTip(Tip);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        Tray.show();
        TrayAdded = true;
    }
    hide();
}

void TfMain::SetCaption(const std::string& text) {
    const QString caption = QString::fromStdString(text);
    setWindowTitle(caption);
    QApplication::setApplicationDisplayName(caption);
}

void TfMain::SetTrayTip(const std::string& text) {
    Tip = QString::fromStdString(text).left(kTrayTipLength);
    Tray.setToolTip(Tip);
}

void TfMain::SetToolbarCaption(const std::string& text) {
    TB_Main->setWindowTitle(QString::fromStdString(text));
}

void TfMain::LogWriteLine(const std::string& line) {
    Log->appendPlainText(QString::fromStdString(line));
}

void TfMain::SetPauseAction(const std::string& caption, const std::string& hint, int image) {
    APause->setText(QString::fromStdString(caption));
    APause->setToolTip(QString::fromStdString(hint));
    PauseImageIndex = image;
}

void TfMain::SetPauseHint(const std::string& hint) {
    APause->setToolTip(QString::fromStdString(hint));
}

// The window layout belongs to the configuration file, which the module does not load yet.
void TfMain::SaveLayout() {}

void TfMain::LoadLayout(TCompoundFile&) {}

void TfMain::SetLayoutFile(const std::string&) {}

void TfMain::StopTimer() {
    Timer.stop();
}

void TfMain::ShowAndActivate() {
    show();
    raise();
    activateWindow();
}

void TfMain::ProcessPendingMessages() {
    QCoreApplication::processEvents();
}

void TfMain::WaitForEvents(int maxMs) {
    // A timer wakes the wait when no event comes first.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(maxMs);
    if (QAbstractEventDispatcher* dispatcher = QCoreApplication::eventDispatcher())
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

void TfMain::Beep() {
    QApplication::beep();
}

void TfMain::SetBusyCursor(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfMain::ShowMessage(const std::string& text) {
    QMessageBox::information(this, windowTitle(), QString::fromStdString(text));
}

void TfMain::TimerTimer() {
    if (CurrentModule)
        CurrentModule->TimerTimer();
}

void TfMain::APauseExecute() {
    if (!CurrentModule)
        return;
    try {
        if (CurrentModule->Paused)
            CurrentModule->Resume();
        else
            CurrentModule->Pause();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(e.what()));
    }
}

void TfMain::AExitExecute() {
    // Both steps swallow their errors so that the window always closes.
    try {
        if (ServerObject.Assigned() && CurrentModule)
            ServerObject.CloseMe(CurrentModule->ModuleNumber);
    } catch (const std::exception&) {
    }
    try {
        if (CurrentModule)
            CurrentModule->Close();
    } catch (const std::exception&) {
    }
    close();
    QCoreApplication::quit();
}

void TfMain::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick)
        show();
}

} // namespace raduvuz
