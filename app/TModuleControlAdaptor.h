#pragma once

#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QString>

namespace raduvuz {

class TModuleControl;
class TProcessLifetime;

// IModuleControl on the bus at /ModuleControl. Each slot only converts: arguments in (a text over
// the text limit is refused as RAduvuz.Error.InvalidArgs), one call into the module, the result
// or the error out. An exception that leaves the module becomes the error reply
// RAduvuz.Error.Unexpected, or its own RAduvuz.Error name (InvalidArgs, H<code>), with its
// message, and the module keeps serving.
class TModuleControlAdaptor : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.IModuleControl")

public:
    TModuleControlAdaptor(TModuleControl& module, TProcessLifetime& lifetime,
                          QObject* parent = nullptr);

public slots:
    void Init(int pSrv, const QString& sDesc, const QString& IDisp);
    void Pause();
    void Resume();
    void StartLog();
    void StopLog();
    void Close();
    void LoadConfig(const QString& Key);
    void SaveConfig(const QString& Key);
    QString GetErrorMessage();
    void SetID(const QString& sID);
    QString GetComputerName();
    void AddSource(const QString& ServerName, const QDBusVariant& ID);
    void ClearSources();
    QDBusVariant GetValue(int Num);
    void SetValue(int Num, const QDBusVariant& Value);
    QString GetInParams();
    QString GetOutParams();
    void ClearFlowEntrySet();
    void AddFlowEntry(int Dest, const QString& FlowEntry);
    void AfterLoad();
    void Kill();
    void AddTerminator(int Term, const QString& Name, const QDBusVariant& FileType);
    void ClearTerminatorsSet();
    void CompletedSendTerminators();
    void SelfReg(const QDBusVariant& SelfObj);
    bool IsJobUse(int JobID);
    void ShowModule();
    int LoadDoc(int DocID, int Dest);
    bool SaveDoc(int DocID);
    void DeleteSavedDoc(int DocID);
    bool ForceDir(const QString& sDir, bool NeedCreate);
    int ImportConfig(const QString& Key, const QString& ConfigStr, int ParInt);
    QString ExportConfig();

private:
    template <typename TResult, typename TBody> TResult Guarded(TBody body);

    TModuleControl& Module;
    TProcessLifetime& Lifetime;
};

} // namespace raduvuz
