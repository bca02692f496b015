#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QVariantMap>

namespace raduvuz {

class TModuleControl;
class TProcessLifetime;

// RAduvuz.IJobControl beside RAduvuz.IModuleControl at /ModuleControl: the operator's job
// commands for tools and scripts. Each slot only converts: the ids and choices in, one job
// command of the module, the ids it did (or the rows) out; an exception becomes an
// RAduvuz.Error.* reply. The adaptor is a child of the object registered at the path.
class TJobControlAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.IJobControl")

public:
    TJobControlAdaptor(TModuleControl& module, TProcessLifetime& lifetime, QObject* parent);

public slots:
    QList<QVariantMap> ListJobs(const QDBusMessage& message);
    QList<uint> HoldJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> ReleaseJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> AbortJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> SetPriority(const QList<uint>& ids, int priority, const QDBusMessage& message);
    QList<uint> DeleteJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> ReprocessJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> RedirectJobs(const QList<uint>& ids, const QList<int>& devices,
                             const QDBusMessage& message);
    QList<uint> RenameJobs(const QList<uint>& ids, const QString& name,
                           const QDBusMessage& message);
    QList<uint> CopyJobs(const QList<uint>& ids, const QString& folder,
                         const QDBusMessage& message);

private:
    template <typename TResult, typename TBody>
    TResult Guarded(const QDBusMessage& message, TBody body);

    TModuleControl& Module;
    TProcessLifetime& Lifetime;
};

// Lets QtDBus carry ListJobs' "aa{sv}"; the program calls it before it exports the adaptor.
void RegisterJobControlTypes();

} // namespace raduvuz
