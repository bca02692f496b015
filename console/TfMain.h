#pragma once

#include "control/IModuleWindow.h"
#include "control/TJobListModel.h"

#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

class QAction;
class QMenu;
class QPlainTextEdit;
class QToolBar;

namespace raduvuz {

// The module's main window: created hidden, an icon in the tray, the log pane, and the timer that
// drives the module. It is the module's IModuleWindow.
class TfMain : public QMainWindow, public IModuleWindow {
    Q_OBJECT

public:
    explicit TfMain(QWidget* parent = nullptr);
    ~TfMain() override;

    // The start call queued at process start: adds the tray icon and hides the window.
    void StartMessage();

    void SetCaption(const std::string& text) override;
    void SetTrayTip(const std::string& text) override;
    void SetToolbarCaption(const std::string& text) override;
    void LogWriteLine(const std::string& line) override;
    void SetPauseAction(const std::string& caption, const std::string& hint, int image) override;
    void SetPauseHint(const std::string& hint) override;
    void SaveLayout() override;
    void LoadLayout(TCompoundFile& storage) override;
    void SetLayoutFile(const std::string& path) override;
    void StopTimer() override;
    void ShowAndActivate() override;
    void ProcessPendingMessages() override;
    void WaitForEvents(int maxMs) override;
    void Beep() override;
    void SetBusyCursor(bool busy) override;
    void ShowMessage(const std::string& text) override;
    TJobListModel& ProcessJobs() override { return ProcessJobsModel; }
    TJobListModel& CompletedJobs() override { return CompletedJobsModel; }

    // What the tray shows and how the start/stop action looks (the console's tests read them).
    QString TrayTip() const { return Tip; }
    bool TrayIconAdded() const { return TrayAdded; }
    int PauseImage() const { return PauseImageIndex; }
    QAction* PauseAction() const { return APause; }
    QPlainTextEdit* LogPane() const { return Log; }
    QTimer& ProcessingTimer() { return Timer; }

private:
    void TimerTimer();
    void APauseExecute();
    void AExitExecute();
    void TrayActivated(QSystemTrayIcon::ActivationReason reason);

    QToolBar* TB_Main = nullptr;
    QAction* APause = nullptr;
    QAction* AHide = nullptr;
    QAction* AExit = nullptr;
    QMenu* PopupMenu = nullptr;
    QPlainTextEdit* Log = nullptr;
    QSystemTrayIcon Tray;
    QTimer Timer;
    QString Tip;
    bool TrayAdded = false;
    int PauseImageIndex = 2;
    TJobListModel ProcessJobsModel;
    TJobListModel CompletedJobsModel;
};

} // namespace raduvuz
