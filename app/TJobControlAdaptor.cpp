#include "app/TJobControlAdaptor.h"

#include "app/AutomationError.h"
#include "app/TProcessLifetime.h"
#include "control/TJobActions.h"
#include "control/TModuleControl.h"
#include "dbus/DBusBus.h"

#include <QDBusMetaType>

#include <exception>

namespace raduvuz {

namespace {

TJobIds Ids(const QList<uint>& ids) {
    return TJobIds(ids.begin(), ids.end());
}

QList<uint> Done(const TJobIds& ids) {
    return QList<uint>(ids.begin(), ids.end());
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QVariantMap RowMap(const TJobRowView& row) {
    QVariantMap map{{QStringLiteral("id"), row.Id},
                    {QStringLiteral("list"), Q(row.List)},
                    {QStringLiteral("job"), row.Job},
                    {QStringLiteral("doc"), row.Doc},
                    {QStringLiteral("name"), Q(row.Name)},
                    {QStringLiteral("page"), Q(row.Page)},
                    {QStringLiteral("color"), Q(row.Color)},
                    {QStringLiteral("type"), Q(row.Type)},
                    {QStringLiteral("size"), qlonglong{row.Size}},
                    {QStringLiteral("sizeText"), Q(row.SizeText)},
                    {QStringLiteral("created"), Q(row.Created)},
                    {QStringLiteral("destination"), Q(row.Destination)},
                    {QStringLiteral("devices"), Q(row.Devices)},
                    {QStringLiteral("priority"), row.Priority},
                    {QStringLiteral("state"), Q(row.State)}};
    if (row.List == "process")
        map.insert(QStringLiteral("done"), qlonglong{row.Done});
    return map;
}

} // namespace

void RegisterJobControlTypes() {
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

TJobControlAdaptor::TJobControlAdaptor(TModuleControl& module, TProcessLifetime& lifetime,
                                       QObject* parent)
    : QDBusAbstractAdaptor(parent), Module(module), Lifetime(lifetime) {}

template <typename TResult, typename TBody>
TResult TJobControlAdaptor::Guarded(const QDBusMessage& message, TBody body) {
    Lifetime.CallStarted(message.service());
    // Whatever the call changed may let a job move.
    struct TFinish {
        TModuleControl& Module;
        TProcessLifetime& Lifetime;
        ~TFinish() {
            Module.NoteWorkPossible();
            Lifetime.CallFinished();
        }
    } finish{Module, Lifetime};
    try {
        return body(TJobActions(Module));
    } catch (const std::exception& e) {
        const TAutomationError error = AutomationErrorOf(e);
        message.setDelayedReply(true);
        RaduvuzBus().send(message.createErrorReply(error.Name, error.Message));
    }
    return TResult();
}

QList<QVariantMap> TJobControlAdaptor::ListJobs(const QDBusMessage& message) {
    return Guarded<QList<QVariantMap>>(message, [](TJobActions actions) {
        QList<QVariantMap> rows;
        for (const TJobRowView& row : actions.List())
            rows.push_back(RowMap(row));
        return rows;
    });
}

QList<uint> TJobControlAdaptor::HoldJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return Guarded<QList<uint>>(message,
                                [&](TJobActions actions) { return Done(actions.Hold(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::ReleaseJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return Guarded<QList<uint>>(
        message, [&](TJobActions actions) { return Done(actions.Release(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::AbortJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return Guarded<QList<uint>>(message,
                                [&](TJobActions actions) { return Done(actions.Abort(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::SetPriority(const QList<uint>& ids, int priority,
                                            const QDBusMessage& message) {
    return Guarded<QList<uint>>(message, [&](TJobActions actions) {
        return Done(actions.SetPriority(Ids(ids), priority));
    });
}

QList<uint> TJobControlAdaptor::DeleteJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return Guarded<QList<uint>>(
        message, [&](TJobActions actions) { return Done(actions.Delete(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::ReprocessJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return Guarded<QList<uint>>(
        message, [&](TJobActions actions) { return Done(actions.Reprocess(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::RedirectJobs(const QList<uint>& ids, const QList<int>& devices,
                                             const QDBusMessage& message) {
    return Guarded<QList<uint>>(message, [&](TJobActions actions) {
        return Done(
            actions.Redirect(Ids(ids), std::vector<int32_t>(devices.begin(), devices.end())));
    });
}

QList<uint> TJobControlAdaptor::RenameJobs(const QList<uint>& ids, const QString& name,
                                           const QDBusMessage& message) {
    return Guarded<QList<uint>>(message, [&](TJobActions actions) {
        return Done(actions.Rename(Ids(ids), TextArgument(name, "name")));
    });
}

QList<uint> TJobControlAdaptor::CopyJobs(const QList<uint>& ids, const QString& folder,
                                         const QDBusMessage& message) {
    return Guarded<QList<uint>>(message, [&](TJobActions actions) {
        return Done(actions.Copy(Ids(ids), TextArgument(folder, "folder")).Done);
    });
}

} // namespace raduvuz
