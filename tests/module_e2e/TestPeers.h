#pragma once

#include <QDBusContext>
#include <QDBusVariant>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariant>

namespace raduvuz::test {

// A scripted workflow server: records every callback as "Method(arg,arg)" and answers GetValue
// for module 0 from Values.
class TTestServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.TestWorkflowServer")

public:
    QStringList Calls;
    QMap<int, QVariant> Values;
    // SetValue answers this error name when it is set.
    QString SetValueError;

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

private:
    void Record(const QString& call);
};

} // namespace raduvuz::test
