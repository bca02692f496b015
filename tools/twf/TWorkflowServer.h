#pragma once

#include "tools/twf/TTwfLog.h"
#include "tools/twf/TWorkflow.h"

#include <QDBusContext>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QObject>

#include <map>

namespace raduvuz {

// What the server knows of a module it drives.
struct TModuleState {
    bool Created = false;
    bool Running = false;
    bool Paused = true;
    int32_t Status = 0;
    std::string Label;
};

// The workflow server object the modules call back (exported at /Workflow; its reference text
// goes to Init). Members are found by name, so calls without an interface name reach it.
class TWorkflowServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.WorkflowServer")

public:
    TWorkflowServer(const TWorkflow& workflow, TTwfLog& log, QObject* parent = nullptr);

    TModuleState& State(int32_t module) { return States[module]; }
    // "3 (Queuer)" for log lines.
    std::string ModuleText(int32_t module) const;
    std::string ComputerName() const { return Computer; }
    // The modules have been resumed: the time of the sinks' paused-for starts.
    void StartRunning() { RunClock.start(); }

public slots:
    void ChangeStatus(int module, bool paused, int status);
    void WriteLog(int module, const QString& line);
    QDBusVariant GetValue(int module, int num);
    void SetValue(int module, int num, bool value);
    bool IsJobUse(int module, int docId);
    void ShowLabel(int module, const QString& text);
    QString GetConfigKey(int module);
    QString PtrToKey(int term);
    void CloseMe(int module);
    void ChangeSetup(int module, const QString& inParams, const QString& outParams);

signals:
    void closeRequested(int module);

private:
    const TWorkflow& Workflow;
    TTwfLog& Log;
    std::string Computer;
    std::map<int32_t, TModuleState> States;
    QElapsedTimer RunClock;
};

} // namespace raduvuz
