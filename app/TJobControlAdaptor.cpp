#include "app/TJobControlAdaptor.h"

#include "app/AutomationError.h"
#include "app/TProcessLifetime.h"
#include "common/Language.h"
#include "control/JobControlLimits.h"
#include "control/JobSearch.h"
#include "control/TJobActions.h"
#include "control/TModuleControl.h"
#include "dbus/DBusBus.h"
#include "platform/System.h"
#include "services/Dispatch.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <malloc.h>
#include <map>
#include <string>

namespace raduvuz {

namespace {

TJobIds Ids(const QList<uint>& ids) {
    RequireIdCount("ids", static_cast<size_t>(ids.size()));
    return TJobIds(ids.begin(), ids.end());
}

QList<uint> Done(const TJobIds& ids) {
    return QList<uint>(ids.begin(), ids.end());
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QVariant Variant(const std::string& value) {
    return Q(value);
}

QVariant Variant(int64_t value) {
    return qlonglong{value};
}

template <typename T> QVariant Variant(T value) {
    return QVariant::fromValue(value);
}

// A listing of this many rows leaves megabytes of small blocks free in the heap, which the
// allocator keeps: they go back to the system once the reply is built and again once it has
// most likely left.
constexpr qsizetype kTrimmedRows = 2000;
constexpr int kSentTrimMs = 500;

void GiveBackMemoryLater(qsizetype rows) {
    if (rows < kTrimmedRows)
        return;
    QTimer::singleShot(0, [] { malloc_trim(0); });
    QTimer::singleShot(kSentTrimMs, [] { malloc_trim(0); });
}

QVariantMap RowMap(const TJobRowView& row) {
    QVariantMap map;
    VisitJobRowFields(row, [&map](const char* key, const auto& value) {
        map.insert(QString::fromLatin1(key), Variant(value));
    });
    return map;
}

QList<QVariantMap> RowMaps(const std::vector<TJobRowView>& rows) {
    QList<QVariantMap> maps;
    for (const TJobRowView& row : rows)
        maps.push_back(RowMap(row));
    return maps;
}

// The caller of a method, by the user and the program the bus daemon knows for its connection;
// asked only when a log line names it.
TJobOrigin CallerOf(const QDBusMessage& message) {
    const QString sender = message.service();
    return TJobOrigin([sender]() -> std::string {
        QDBusConnectionInterface* daemon = RaduvuzBus().interface();
        const QDBusReply<uint> uid =
            daemon ? daemon->serviceUid(sender) : QDBusReply<uint>(QDBusMessage());
        if (!uid.isValid())
            return LanguageFormat(2417, {sender.toStdString()}, "an unknown caller (%s)");
        const QDBusReply<uint> pid = daemon->servicePid(sender);
        const std::string program = pid.isValid() ? ProcessName(pid.value()) : std::string();
        if (program.empty())
            return LanguageFormat(2418, {UserName(uid.value()), sender.toStdString()},
                                  "%s (bus connection %s)");
        return LanguageFormat(2415, {UserName(uid.value()), program, pid.value()},
                              "%s (%s, pid %u)");
    });
}

} // namespace

void RegisterJobControlTypes() {
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

TJobControlAdaptor::TJobControlAdaptor(TModuleControl& module, TProcessLifetime& lifetime,
                                       QObject* parent)
    : QDBusAbstractAdaptor(parent), Module(module), Lifetime(lifetime) {
    Notice.setSingleShot(true);
    // A coarse timer may fire early, which would shorten the gap.
    Notice.setTimerType(Qt::PreciseTimer);
    connect(&Notice, &QTimer::timeout, this, &TJobControlAdaptor::Announce);
    Module.Rows().Process().AddListener(this);
    Module.Rows().Passed().AddListener(this);
}

TJobControlAdaptor::~TJobControlAdaptor() {
    Module.Rows().Process().RemoveListener(this);
    Module.Rows().Passed().RemoveListener(this);
}

void TJobControlAdaptor::RowsChanged() {
    if (Notice.isActive())
        return;
    const qint64 since = SinceNotice.isValid() ? SinceNotice.elapsed() : kNoticeGapMs;
    Notice.start(static_cast<int>(std::max<qint64>(0, kNoticeGapMs - since)));
}

void TJobControlAdaptor::Announce() {
    SinceNotice.start();
    emit JobsChanged();
}

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
        return body(TJobActions(Module, CallerOf(message)));
    } catch (const std::exception& e) {
        const TAutomationError error = AutomationErrorOf(e);
        message.setDelayedReply(true);
        RaduvuzBus().send(message.createErrorReply(error.Name, error.Message));
    }
    return TResult();
}

QList<QVariantMap> TJobControlAdaptor::ListJobs(const QDBusMessage& message) {
    return Guarded<QList<QVariantMap>>(message, [](TJobActions actions) {
        QList<QVariantMap> rows = RowMaps(actions.List());
        GiveBackMemoryLater(rows.size());
        return rows;
    });
}

qulonglong TJobControlAdaptor::ListJobsSince(qulonglong since, const QDBusMessage& message,
                                             QList<QVariantMap>& rows, QList<uint>& removed) {
    return Guarded<qulonglong>(message, [&](TJobActions actions) {
        const TJobChanges changes = actions.ListSince(since);
        rows = RowMaps(changes.Rows);
        GiveBackMemoryLater(rows.size());
        removed = Done(changes.Removed);
        return qulonglong{changes.Serial};
    });
}

QStringList TJobControlAdaptor::AllowedActions(const QList<uint>& ids,
                                               const QDBusMessage& message) {
    return Guarded<QStringList>(message, [&](TJobActions actions) {
        QStringList names;
        for (const std::string& name : actions.AllowedActions(Ids(ids)))
            names << Q(name);
        return names;
    });
}

QList<QVariantMap> TJobControlAdaptor::RedirectChoices(const QList<uint>& ids,
                                                       const QDBusMessage& message) {
    return Guarded<QList<QVariantMap>>(message, [&](TJobActions actions) {
        QList<QVariantMap> devices;
        for (const TDeviceChoice& choice : actions.RedirectChoices(Ids(ids)))
            devices.push_back({{QStringLiteral("terminator"), choice.Terminator},
                               {QStringLiteral("name"), Q(choice.Name)},
                               {QStringLiteral("enabled"), choice.Enabled}});
        return devices;
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
        RequireJobPriority("priority", priority);
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
        const TJobIds jobs = Ids(ids);
        RequireIdCount("devices", static_cast<size_t>(devices.size()));
        return Done(actions.Redirect(jobs, std::vector<int32_t>(devices.begin(), devices.end())));
    });
}

QList<uint> TJobControlAdaptor::RenameJobs(const QList<uint>& ids, const QString& name,
                                           const QDBusMessage& message) {
    return Guarded<QList<uint>>(message, [&](TJobActions actions) {
        const TJobIds jobs = Ids(ids);
        const std::string text = TextArgument(name, "name");
        RequireJobName("name", text);
        return Done(actions.Rename(jobs, text));
    });
}

QList<uint> TJobControlAdaptor::CopyJobs(const QList<uint>& ids, const QString& folder,
                                         const QDBusMessage& message) {
    return Guarded<QList<uint>>(message, [&](TJobActions actions) {
        const TJobIds jobs = Ids(ids);
        const std::string path = TextArgument(folder, "folder");
        RequireFolderLength("folder", path);
        return Done(actions.Copy(jobs, path).Done);
    });
}

QList<uint> TJobControlAdaptor::FindJobs(const QVariantMap& criteria, const QDBusMessage& message) {
    return Guarded<QList<uint>>(message, [&](TJobActions actions) {
        std::map<std::string, std::string> texts;
        for (auto at = criteria.begin(); at != criteria.end(); ++at) {
            const std::string key = TextArgument(at.key(), "criterion name");
            if (at.value().metaType() != QMetaType::fromType<QString>())
                throw TInvalidArgument("Malformed criterion \"" + key + "\"", "not a text (s)");
            texts[key] = TextArgument(at.value().toString(), ("criterion " + key).c_str());
        }
        return Done(actions.Find(SearchCriteriaOf(texts)));
    });
}

QList<QVariantMap> TJobControlAdaptor::ListDamaged(const QDBusMessage& message) {
    return Guarded<QList<QVariantMap>>(message, [&](TJobActions) {
        QList<QVariantMap> files;
        for (const TModuleControl::TDamagedFile& file : Module.DamagedFiles())
            files.push_back({{QStringLiteral("file"), Q(file.Name)},
                             {QStringLiteral("path"), Q(file.Path)},
                             {QStringLiteral("size"), qlonglong{file.Size}},
                             {QStringLiteral("setAside"), Q(IsoLocalTime(file.SetAside))}});
        return files;
    });
}

} // namespace raduvuz
