#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <map>
#include <utility>

namespace raduvuz::test {

// A stand-in queuer module for driving tests of the workflow server: records every call, calls
// the server back from inside Init as the real module does, and after Resume passes each
// document for its number on to the destination of its first flow entry, block by block.
class TFakeModule : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.IModuleControl")

public:
    explicit TFakeModule(QDBusConnection bus, bool passDocuments = true);

    // What the console's Exit does: asks the server to close this module.
    void AskToClose();

    QStringList Calls;
    // Answers of the server to GetValue (module, num), PtrToKey and GetConfigKey.
    std::map<std::pair<int, int>, QVariant> Values;
    std::map<int, QString> TermKeys;
    QVariant Value(int module, int num) const {
        auto it = Values.find({module, num});
        return it == Values.end() ? QVariant() : it->second;
    }
    QString ConfigKey;
    // The server's GetValue (Dest, 6) at each try to pass a document on; a paused destination
    // gets nothing.
    QList<bool> DestPaused;
    bool IsJobUseAnswer = true;
    int Passed = 0;
    QStringList StoreErrors;

public slots:
    void Init(int pSrv, const QString& sDesc, const QString& IDisp);
    void Resume();
    void StartLog();
    void Close();
    void LoadConfig(const QString& Key);
    void ClearFlowEntrySet();
    void AddFlowEntry(int Dest, const QString& FlowEntry);
    void ClearTerminatorsSet();
    void AddTerminator(int Term, const QString& Name, const QDBusVariant& FileType);
    void CompletedSendTerminators();
    // Records the value's type with it, so a test sees how the server sent it.
    void SetValue(int Num, const QDBusVariant& Value);
    void SaveConfig(const QString& Key);
    QString ExportConfig();
    // Ten times the number; Null for 99.
    QDBusVariant GetValue(int Num);
    // True for job 5 only.
    bool IsJobUse(int JobID);
    void ShowModule();

private:
    QDBusMessage Server(const QString& method, const QVariantList& args);
    QDBusMessage Store(const QString& method, const QVariantList& args);
    void PassOne();

    QDBusConnection Bus;
    bool PassDocuments;
    int Number = 0;
    QString ServerService;
    QString ServerPath;
    int Dest = 0;
    QTimer Work;
};

// RAduvuz.ServerProvider: hands out the one fake module.
class TFakeProvider : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.IServerProvider")

public:
    explicit TFakeProvider(QString reference) : Reference(std::move(reference)) {}
    int Given = 0;

public slots:
    QDBusVariant GetObject(const QString& name);

private:
    QString Reference;
};

} // namespace raduvuz::test
