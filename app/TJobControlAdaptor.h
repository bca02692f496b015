#pragma once

#include "jobs/TJobListModel.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

namespace raduvuz {

class TModuleControl;
class TProcessLifetime;

// RAduvuz.IJobControl beside RAduvuz.IModuleControl at /ModuleControl: the operator's job
// commands for tools and scripts. Each slot only converts: the ids and choices in, one job
// command of the module, the ids it did (or the rows) out; an exception becomes an
// RAduvuz.Error.* reply. The adaptor is a child of the object registered at the path.
// It watches both job lists and announces their changes with JobsChanged, at most once per
// kNoticeGapMs, after the change: a stream of blocks or jobs costs a listener a few wake-ups a
// second, not one per block.
class TJobControlAdaptor : public QDBusAbstractAdaptor, private TJobListModel::IListener {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.IJobControl")

public:
    static constexpr int kNoticeGapMs = 100;

    TJobControlAdaptor(TModuleControl& module, TProcessLifetime& lifetime, QObject* parent);
    ~TJobControlAdaptor() override;

signals:
    void JobsChanged();

public slots:
    QList<QVariantMap> ListJobs(const QDBusMessage& message);
    // D-Bus (t serial, aa{sv} rows, au removed): the return value is the first out argument;
    // QtDBus wants the message between the in and the out arguments.
    qulonglong ListJobsSince(qulonglong since, const QDBusMessage& message,
                             QList<QVariantMap>& rows, QList<uint>& removed);
    QStringList AllowedActions(const QList<uint>& ids, const QDBusMessage& message);
    QList<QVariantMap> RedirectChoices(const QList<uint>& ids, const QDBusMessage& message);
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
    QList<uint> FindJobs(const QVariantMap& criteria, const QDBusMessage& message);
    QList<QVariantMap> ListDamaged(const QDBusMessage& message);

private:
    template <typename TResult, typename TBody>
    TResult Guarded(const QDBusMessage& message, TBody body);

    void RowInserted(int) override { RowsChanged(); }
    void RowRemoved(int) override { RowsChanged(); }
    void RowChanged(int) override { RowsChanged(); }
    void Reset() override { RowsChanged(); }
    // Schedules the notice: now when the last one is kNoticeGapMs old, else once it is.
    void RowsChanged();
    void Announce();

    TModuleControl& Module;
    TProcessLifetime& Lifetime;
    QTimer Notice;
    QElapsedTimer SinceNotice;
};

// Lets QtDBus carry ListJobs' "aa{sv}"; the program calls it before it exports the adaptor.
void RegisterJobControlTypes();

} // namespace raduvuz
