#include "app/TJobControlAdaptor.h"

#include "app/AutomationError.h"
#include "app/TProcessLifetime.h"
#include "common/Language.h"
#include "control/JobControlLimits.h"
#include "control/JobSearch.h"
#include "control/TJobActions.h"
#include "control/TModuleControl.h"
#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"
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
    Clock.start();
    Notice.setSingleShot(true);
    // A coarse timer may fire early, which would shorten the gap.
    Notice.setTimerType(Qt::PreciseTimer);
    connect(&Notice, &QTimer::timeout, this, &TJobControlAdaptor::Announce);
    CallTurn.setSingleShot(true);
    connect(&CallTurn, &QTimer::timeout, this, &TJobControlAdaptor::ServeCall);
    Aside.setMaxThreadCount(1);
    Module.Rows().Process().AddListener(this);
    Module.Rows().Passed().AddListener(this);
}

TJobControlAdaptor::~TJobControlAdaptor() {
    // A reply made aside goes out; the call it ends is not told to this object any more.
    Aside.waitForDone();
    if (ReplyingAside)
        Lifetime.CallFinished();
    // A call still waiting is answered, so that its caller does not wait for its time-out.
    for (const TQueuedCall& call : Calls) {
        RaduvuzBus().send(call.Message.createErrorReply(QString::fromLatin1(kUnexpectedError),
                                                        QStringLiteral("The module has ended")));
        Lifetime.CallFinished();
    }
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
TResult TJobControlAdaptor::QueueChange(const QDBusMessage& message, TBody body) {
    QueueCall(
        message,
        [body](TJobActions& actions) { return QVariantList{QVariant::fromValue(body(actions))}; },
        true);
    return TResult();
}

void TJobControlAdaptor::QueueCall(const QDBusMessage& message, TCallAnswer answer, bool changes) {
    Enqueue({message, std::move(answer), {}, changes, false, QElapsedTimer()});
}

void TJobControlAdaptor::QueueListing(const QDBusMessage& message, TListingAnswer rows,
                                      bool listing) {
    Enqueue({message, {}, std::move(rows), false, listing, QElapsedTimer()});
}

void TJobControlAdaptor::Enqueue(TQueuedCall call) {
    call.Message.setDelayedReply(true);
    Lifetime.CallStarted(call.Message.service());
    Calls.push_back(std::move(call));
    Calls.back().Waiting.start();
    if (!CallTurn.isActive())
        CallTurn.start(0);
}

void TJobControlAdaptor::OweCycle(qint64 costNs) {
    CallsFromNs = std::max(CallsFromNs, Clock.nsecsElapsed()) + costNs * kCallGapFactor;
}

bool TJobControlAdaptor::CycleBusy() const {
    return Module.IsCurrent() && !Module.IsPaused() && !Module.JobsInProcess().empty();
}

void TJobControlAdaptor::ServeCall() {
    // The reply made aside goes out first; its end serves the next call.
    if (Calls.empty() || ReplyingAside)
        return;
    // Inside the wait for the reply to one of the module's own calls, a job-control call would
    // delay that reply, and with it the job that waits for it.
    if (TDBusObject::PendingCalls() > 0 && Calls.front().Waiting.elapsed() < kCallPatienceMs) {
        CallTurn.start(1);
        return;
    }
    if (CycleBusy()) {
        const qint64 now = Clock.nsecsElapsed();
        qint64 leftNs = CallsFromNs - now;
        if (Calls.front().Listing)
            leftNs = std::max(leftNs, ListingFromNs - now);
        if (leftNs > 0) {
            CallTurn.start(static_cast<int>((leftNs + 999999) / 1000000));
            return;
        }
    }
    TQueuedCall call = std::move(Calls.front());
    Calls.pop_front();

    QElapsedTimer clock;
    clock.start();
    qint64 costNs = 0;
    TReplyMaker aside;
    qsizetype rows = 0;
    try {
        TJobActions actions(Module, CallerOf(call.Message));
        QVariantList answer;
        // The reply waits until what the call wrote is on the disk, but not the module: the
        // cycle and the server's calls go on meanwhile.
        Module.WithJournalAfter([&] {
            if (call.Rows) {
                TReplyMaker make = call.Rows(actions);
                rows = ListedRows;
                if (rows >= kAsideRows)
                    aside = std::move(make);
                else
                    answer = make();
            } else {
                answer = call.Answer(actions);
            }
            costNs = clock.nsecsElapsed();
        });
        if (!aside)
            RaduvuzBus().send(call.Message.createReply(answer));
    } catch (const std::exception& e) {
        const TAutomationError error = AutomationErrorOf(e);
        RaduvuzBus().send(call.Message.createErrorReply(error.Name, error.Message));
    }
    // Whatever the call changed may let a job move.
    if (call.Changes)
        Module.NoteWorkPossible();
    OweCycle(costNs > 0 ? costNs : clock.nsecsElapsed());
    if (aside)
        ReplyAside(call.Message, std::move(aside), rows, call.Listing);
    else
        CallDone(rows, call.Listing);
}

void TJobControlAdaptor::ReplyAside(const QDBusMessage& message, TReplyMaker make, qsizetype rows,
                                    bool listing) {
    ReplyingAside = true;
    Aside.start(
        [this, bus = RaduvuzBus(), message, make = std::move(make), rows, listing]() mutable {
            // The rows and their reply are freed here, before the memory is given back.
            {
                QDBusMessage reply;
                try {
                    reply = message.createReply(make());
                } catch (const std::exception& e) {
                    const TAutomationError error = AutomationErrorOf(e);
                    reply = message.createErrorReply(error.Name, error.Message);
                }
                make = nullptr;
                bus.send(reply);
            }
            QMetaObject::invokeMethod(
                this,
                [this, rows, listing] {
                    ReplyingAside = false;
                    CallDone(rows, listing);
                },
                Qt::QueuedConnection);
        });
}

void TJobControlAdaptor::CallDone(qsizetype rows, bool listing) {
    Lifetime.CallFinished();
    GiveBackMemoryLater(rows);
    if (listing)
        ListingFromNs =
            Clock.nsecsElapsed() +
            std::max<qint64>(kListingGapMs * 1'000'000LL, rows * kListingGapUsPerRow * 1'000LL);
    // The next call in a turn of its own: the automation calls that came meanwhile go first.
    if (!Calls.empty())
        CallTurn.start(0);
}

QList<QVariantMap> TJobControlAdaptor::ListJobs(const QDBusMessage& message) {
    QueueListing(
        message,
        [this](TJobActions& actions) -> TReplyMaker {
            std::vector<TJobRowView> views = actions.List();
            ListedRows = static_cast<qsizetype>(views.size());
            return [views = std::move(views)] {
                return QVariantList{QVariant::fromValue(RowMaps(views))};
            };
        },
        true);
    return {};
}

qulonglong TJobControlAdaptor::ListJobsSince(qulonglong since, const QDBusMessage& message,
                                             QList<QVariantMap>&, QList<uint>&) {
    QueueListing(
        message,
        [this, since](TJobActions& actions) -> TReplyMaker {
            TJobChanges changes = actions.ListSince(since);
            ListedRows = static_cast<qsizetype>(changes.Rows.size());
            return [changes = std::move(changes)] {
                return QVariantList{qulonglong{changes.Serial},
                                    QVariant::fromValue(RowMaps(changes.Rows)),
                                    QVariant::fromValue(Done(changes.Removed))};
            };
        },
        since == 0);
    return 0;
}

QStringList TJobControlAdaptor::AllowedActions(const QList<uint>& ids,
                                               const QDBusMessage& message) {
    return QueueChange<QStringList>(message, [=](TJobActions& actions) {
        QStringList names;
        for (const std::string& name : actions.AllowedActions(Ids(ids)))
            names << Q(name);
        return names;
    });
}

QList<QVariantMap> TJobControlAdaptor::RedirectChoices(const QList<uint>& ids,
                                                       const QDBusMessage& message) {
    return QueueChange<QList<QVariantMap>>(message, [=](TJobActions& actions) {
        QList<QVariantMap> devices;
        for (const TDeviceChoice& choice : actions.RedirectChoices(Ids(ids)))
            devices.push_back({{QStringLiteral("terminator"), choice.Terminator},
                               {QStringLiteral("name"), Q(choice.Name)},
                               {QStringLiteral("enabled"), choice.Enabled}});
        return devices;
    });
}

QList<uint> TJobControlAdaptor::HoldJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return QueueChange<QList<uint>>(
        message, [=](TJobActions& actions) { return Done(actions.Hold(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::ReleaseJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return QueueChange<QList<uint>>(
        message, [=](TJobActions& actions) { return Done(actions.Release(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::AbortJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return QueueChange<QList<uint>>(
        message, [=](TJobActions& actions) { return Done(actions.Abort(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::SetPriority(const QList<uint>& ids, int priority,
                                            const QDBusMessage& message) {
    return QueueChange<QList<uint>>(message, [=](TJobActions& actions) {
        RequireJobPriority("priority", priority);
        return Done(actions.SetPriority(Ids(ids), priority));
    });
}

QList<uint> TJobControlAdaptor::DeleteJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return QueueChange<QList<uint>>(
        message, [=](TJobActions& actions) { return Done(actions.Delete(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::ReprocessJobs(const QList<uint>& ids, const QDBusMessage& message) {
    return QueueChange<QList<uint>>(
        message, [=](TJobActions& actions) { return Done(actions.Reprocess(Ids(ids))); });
}

QList<uint> TJobControlAdaptor::RedirectJobs(const QList<uint>& ids, const QList<int>& devices,
                                             const QDBusMessage& message) {
    return QueueChange<QList<uint>>(message, [=](TJobActions& actions) {
        const TJobIds jobs = Ids(ids);
        RequireIdCount("devices", static_cast<size_t>(devices.size()));
        return Done(actions.Redirect(jobs, std::vector<int32_t>(devices.begin(), devices.end())));
    });
}

QList<uint> TJobControlAdaptor::RenameJobs(const QList<uint>& ids, const QString& name,
                                           const QDBusMessage& message) {
    return QueueChange<QList<uint>>(message, [=](TJobActions& actions) {
        const TJobIds jobs = Ids(ids);
        const std::string text = TextArgument(name, "name");
        RequireJobName("name", text);
        return Done(actions.Rename(jobs, text));
    });
}

QList<uint> TJobControlAdaptor::CopyJobs(const QList<uint>& ids, const QString& folder,
                                         const QDBusMessage& message) {
    return QueueChange<QList<uint>>(message, [=](TJobActions& actions) {
        const TJobIds jobs = Ids(ids);
        const std::string path = TextArgument(folder, "folder");
        RequireFolderLength("folder", path);
        return Done(actions.Copy(jobs, path).Done);
    });
}

QList<uint> TJobControlAdaptor::FindJobs(const QVariantMap& criteria, const QDBusMessage& message) {
    QueueCall(
        message,
        [criteria](TJobActions& actions) {
            std::map<std::string, std::string> texts;
            for (auto at = criteria.begin(); at != criteria.end(); ++at) {
                const std::string key = TextArgument(at.key(), "criterion name");
                if (at.value().metaType() != QMetaType::fromType<QString>())
                    throw TInvalidArgument("Malformed criterion \"" + key + "\"", "not a text (s)");
                texts[key] = TextArgument(at.value().toString(), ("criterion " + key).c_str());
            }
            return QVariantList{QVariant::fromValue(Done(actions.Find(SearchCriteriaOf(texts))))};
        },
        false);
    return {};
}

QList<QVariantMap> TJobControlAdaptor::ListDamaged(const QDBusMessage& message) {
    return QueueChange<QList<QVariantMap>>(message, [this](TJobActions&) {
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
