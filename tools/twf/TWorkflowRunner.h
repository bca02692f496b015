#pragma once

#include "tools/twf/TTwfLog.h"
#include "tools/twf/TWorkflow.h"
#include "tools/twf/TWorkflowServer.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace raduvuz {

// One run of a workflow: the bus and the store (started when asked), the modules created and
// configured, the input files fed, the sinks emptied until every document has arrived or the
// time is up, then the modules closed and everything it started stopped.
class TWorkflowRunner : public QObject {
    Q_OBJECT

public:
    TWorkflowRunner(TWorkflow workflow, TTwfLog& log, QString programFolder);
    ~TWorkflowRunner() override;

    // 0 when every expected document reached a sink, 1 otherwise.
    int Run();

    // The modules show their consoles once running and stay up after the run until Enter on
    // stdin (or its end) or until every module has asked to be closed.
    bool ShowConsoles = false;
    // The modules stay up after the run as with ShowConsoles, without opening their consoles
    // (for a browser or a terminal tool on the bus meanwhile).
    bool KeepModules = false;

public slots:
    // SIGINT or SIGTERM: the run ends as a failure, cleaning up as usual.
    void Interrupt();

signals:
    // A module was closed or ended, or the run was interrupted.
    void modulesChanged();

private slots:
    // The store's signals: the sinks take a document once it is finished, the feeding goes on
    // once memory is free again.
    void OnDocumentAvailable(int module, int doc);
    void OnDocumentClosed(int doc, bool aborted);
    void OnMemoryFreed();

private:
    struct TDriven {
        const TModuleDef* Def = nullptr;
        QString Service;
        QString Path;
        QProcess* Process = nullptr;
        bool Closed = false;
    };

    QProcess* NewChild();
    bool StartBus();
    bool StartStore();
    bool CreateModule(TDriven& module);
    bool ConfigureModule(TDriven& module);
    // One call to a module; logs it and its failure, and hands out the reply when asked.
    bool CallModule(TDriven& module, const QString& method, const QVariantList& args,
                    int timeoutMs = 60000, QDBusMessage* reply = nullptr);
    // The module's before-close calls, each answer in the log.
    void FinalCalls(TDriven& module);
    void CloseModule(TDriven& module);
    bool AnyModuleOpen() const;
    void WaitForOperator();
    QDBusMessage StoreCall(const QString& method, const QVariantList& args);
    void ListenToStore();
    void FeedNext();
    // Takes the sink's finished documents; a call asked for while one runs follows it.
    void TakeSink(int32_t sink);
    void TakeAllSinks();
    void CheckDone();
    void Finish(bool ok, const std::string& reason);
    // The workflow's before-close command; the modules are served while it runs.
    void RunBeforeClose();
    void StopProcess(QProcess* process, const char* what, int graceMs);
    QString FindProgram(const std::string& configured, const QStringList& candidates) const;

    TWorkflow Workflow;
    TTwfLog& Log;
    QString ProgramFolder;
    QProcess* BusDaemon = nullptr;
    QProcess* Store = nullptr;
    QDBusConnection Bus{QString()};
    std::unique_ptr<TWorkflowServer> Server;
    std::vector<TDriven> Modules;

    std::vector<TFeed> Feeds;
    size_t FeedIndex = 0;
    int FeedsOk = 0;
    int FeedsFailed = 0;
    bool FeedBusy = false;
    // While the consoles stay open for the operator, the sinks are still emptied.
    bool OperatorWaiting = false;
    bool TakingSinks() const { return !Finished || OperatorWaiting; }
    // The store was full: the next file goes in on MemoryFreed or the backstop.
    bool FeedWaiting = false;
    // The store left the bus and no other owns its name yet (store-lost = wait).
    bool StoreAway = false;
    struct TSinkTake {
        bool Busy = false;
        bool Again = false;
    };
    std::map<int32_t, TSinkTake> SinkTakes;
    // Documents being written for a sink, taken once DocumentClosed says they are finished.
    std::map<int32_t, std::set<int32_t>> SinkDocs;
    int Expected = 0;
    int Delivered = 0;
    int64_t DeliveredBytes = 0;
    bool Finished = false;
    bool Interrupted = false;
    bool Ok = false;
    std::string Reason;
    // Backstops for a store that sends no signals.
    QTimer FeedRetry;
    QTimer SinkTimer;
    QTimer Deadline;
    QEventLoop RunLoop;
    QElapsedTimer Clock;
};

} // namespace raduvuz
