#pragma once

// What the benchmarks that run the real programs share: a private bus with the store on it,
// module processes started from a program folder of their own, a workflow server object in the
// benchmark's own process, the CPU time of processes, and min/median/max of several runs.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz::bench {

struct TStats {
    double Min = 0;
    double Median = 0;
    double Max = 0;
};
TStats StatsOf(std::vector<double> values);
// "min 1.20 / median 1.50 / max 3.00 ms"
std::string Figures(const TStats& stats, const char* unit, int decimals = 2);

// User and system CPU seconds a process has used so far, from /proc/<pid>/stat; -1 when it is
// gone.
double ProcessCpuSeconds(qint64 pid);
// The processes whose parent is pid.
std::vector<qint64> ChildrenOf(qint64 pid);
// The program name of a process (/proc/<pid>/comm).
std::string ProcessName(qint64 pid);

// Serves events until done() or ms have passed; done() at the end.
bool ServeUntil(const std::function<bool()>& done, int ms);

// Writes a whole file; false when it could not.
bool WriteFile(const QString& path, const QByteArray& bytes);

// The folders a twf run in dir uses (prog, pages, xdg, state, a private runtime folder, out),
// with the module program put into prog/ (a hard link, or a copy); the module's path there, or
// empty when it could not be put there.
QString MakeTwfFolder(const QDir& dir, const QString& moduleProgram);

// count pages of the given bytes in dir's pages/ folder for twf to feed, each with its
// parameters (jobNNNNN.rst and jobNNNNN.rst.dds, device 1, priority 5); false when one could not
// be written.
bool WritePages(const QDir& dir, int count, const QByteArray& page);

// Starts twf (at twfPath) quietly on a workflow file, logging to log, with its data, state,
// runtime folder and registry file in dir and an offscreen console; it ends with the benchmark.
// False when it did not start.
bool StartTwf(QProcess& twf, const QString& twfPath, const QDir& dir, const QString& log,
              const QString& workflow);

// A workflow server at /Workflow that answers what a module asks of it: every module number is
// a running, unpaused destination on this computer. Counts the callbacks and keeps the last
// label of each module.
class TBenchServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.BenchWorkflowServer")

public:
    int Callbacks = 0;
    std::map<int, QString> Labels;
    std::string ConfigKey = "Bench";

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
};

// One private world in a temporary folder: a dbus-daemon, the store, module processes started
// from a copy of the module program (so their storage lies in the folder), a data folder and an
// empty registry. Everything it started ends with it.
class TBenchWorld {
public:
    TBenchWorld(QString moduleProgram, QString storeProgram);
    ~TBenchWorld();
    TBenchWorld(const TBenchWorld&) = delete;
    TBenchWorld& operator=(const TBenchWorld&) = delete;

    // The bus and the store (with storeOptions); false with Error set when either fails.
    bool Start(const QStringList& storeOptions = {});
    // Starts a module process and exports the server first when needed; its bus name, or empty.
    QString StartModule(qint64* pid = nullptr);
    // A call with a reply, waited for while events are served; Error set when it fails.
    QDBusMessage Call(const QString& service, const QString& path, const QString& method,
                      const QVariantList& args, int timeoutMs = 120000);
    QDBusMessage CallModule(const QString& service, const QString& method,
                            const QVariantList& args = {});
    QDBusMessage CallStore(const QString& method, const QVariantList& args);
    // Init, LoadConfig, one flow entry per (destination, rule), a terminator,
    // CompletedSendTerminators, StartLog and Resume.
    bool Configure(const QString& service, int number, const QString& configKey,
                   const std::vector<std::pair<int, QString>>& flows);

    QString Folder() const { return Root.path(); }
    // The module program's folder in the world (its storage folder is Storage/ beside it).
    QString ProgramFolder() const;
    QString DataFolder() const;
    QDBusConnection& Bus() { return Connection; }
    TBenchServer& Server() { return WorkflowServer; }
    qint64 BusPid() const;
    qint64 StorePid() const;

    QString Error;

private:
    QProcess* Child(const QString& program, const QStringList& args, bool quiet = false);
    bool WaitForName(const QString& name, const QProcess* owner);

    QTemporaryDir Root;
    QString ModuleProgram;
    QString StoreProgram;
    QProcess* BusDaemon = nullptr;
    QProcess* Store = nullptr;
    std::vector<std::unique_ptr<QProcess>> Children;
    QDBusConnection Connection{QString()};
    TBenchServer WorkflowServer;
    bool ServerExported = false;
};

} // namespace raduvuz::bench
