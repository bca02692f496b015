#pragma once

// How the tools find the queuer modules on the session bus and address them: a module owns
// RAduvuz.ModuleControl.p<pid> and serves RAduvuz.IModuleControl and RAduvuz.IJobControl at
// /ModuleControl. Its description, status and paused state come from IModuleControl's GetValue
// (the job-control interface has no such values).

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <vector>

namespace raduvuz::modulebus {

extern const QString kModulePrefix;
extern const QString kModulePath;
extern const QString kModuleInterface;
extern const QString kJobInterface;

// The GetValue numbers the tools read.
enum TModuleValue : int { kValueStatus = 0, kValueDescription = 2, kValuePaused = 6 };

// A module's bus name and the process number in it, which the tools show as its number.
struct TModuleName {
    QString BusName;
    int64_t Number = 0;
};

// The process number in a module's bus name; 0 for a name that is no module's.
int64_t ModuleNumber(const QString& busName);
// The modules among the bus's names, by number.
std::vector<TModuleName> ModulesAmong(const QStringList& busNames);

QDBusMessage JobCall(const QString& busName, const QString& method,
                     const QVariantList& arguments = {});
QDBusMessage ModuleCall(const QString& busName, const QString& method,
                        const QVariantList& arguments = {});
QDBusMessage GetValueCall(const QString& busName, int number);

// A variant argument's value.
QVariant Unwrapped(const QVariant& value);
// The first out argument as ids ("au") or rows ("aa{sv}").
std::vector<uint32_t> IdsOf(const QDBusMessage& reply);
QList<QVariantMap> RowsOf(const QDBusMessage& reply);
// An error that means the module has left the bus.
bool IsModuleGone(const QString& errorName);

// Lets QtDBus carry the rows; call once before the first call.
void RegisterModuleBusTypes();

// Tells its owner when a module's jobs changed (JobsChanged) or the module left the bus.
class TJobsWatcher : public QObject {
    Q_OBJECT

public:
    TJobsWatcher(QDBusConnection& bus, const TModuleName& module, QObject* parent = nullptr);

signals:
    void changed();
    void moduleGone();

private slots:
    void JobsChanged();
};

} // namespace raduvuz::modulebus
