#include "tools/web/TModuleFollower.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QJsonDocument>

namespace raduvuz::web {

namespace {

constexpr int kListTimeoutMs = 30000;
constexpr int kDescribeTimeoutMs = 5000;

TCopyRow CopyRowOf(const QVariantMap& row) {
    TCopyRow copy;
    copy.Id = row.value(QStringLiteral("id")).toUInt();
    copy.InProcess = row.value(QStringLiteral("list")).toString() == QStringLiteral("process");
    copy.Held = row.value(QStringLiteral("state")).toString() == QStringLiteral("held");
    copy.Json = QJsonDocument(QJsonObject::fromVariantMap(row))
                    .toJson(QJsonDocument::Compact)
                    .toStdString();
    return copy;
}

} // namespace

TModuleFollower::TModuleFollower(QDBusConnection& bus, modulebus::TModuleName name,
                                 uint64_t firstSerial, QObject* parent)
    : QObject(parent), Bus(bus), Module(std::move(name)), Rows(firstSerial) {
    // Subscribed before the first listing, so that no change falls between the two.
    Watcher = new modulebus::TJobsWatcher(Bus, Module, this);
    connect(Watcher, &modulebus::TJobsWatcher::changed, this, [this] { Sync({}); });
    connect(Watcher, &modulebus::TJobsWatcher::moduleGone, this,
            [this] { emit gone(Module.Number); });
}

QJsonObject TModuleFollower::Json() const {
    const TJobCounts counts = Rows.Counts();
    return QJsonObject{
        {QStringLiteral("module"), static_cast<qint64>(Module.Number)},
        {QStringLiteral("busName"), Module.BusName},
        {QStringLiteral("description"), DescriptionText},
        {QStringLiteral("status"), StatusValue},
        {QStringLiteral("paused"), PausedValue},
        {QStringLiteral("counts"), QJsonObject{{QStringLiteral("inProcess"), counts.InProcess},
                                               {QStringLiteral("held"), counts.Held},
                                               {QStringLiteral("passed"), counts.Passed}}}};
}

void TModuleFollower::Sync(std::function<void()> done) {
    if (done)
        NextFetch.push_back(std::move(done));
    if (Fetching) {
        Again = true;
        return;
    }
    Fetch();
}

void TModuleFollower::Fetch() {
    Fetching = true;
    Again = false;
    ThisFetch = std::move(NextFetch);
    NextFetch.clear();
    const bool since = UseSince;
    const QDBusMessage call =
        since ? modulebus::JobCall(Module.BusName, QStringLiteral("ListJobsSince"),
                                   {QVariant::fromValue(ModuleSerial)})
              : modulebus::JobCall(Module.BusName, QStringLiteral("ListJobs"));
    auto* watcher = new QDBusPendingCallWatcher(Bus.asyncCall(call, kListTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, since](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                Fetched(finished->reply(), since);
            });
}

void TModuleFollower::Fetched(const QDBusMessage& reply, bool since) {
    if (since && reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")) {
        // A module without ListJobsSince: whole listings from now on.
        UseSince = false;
        NextFetch.insert(NextFetch.begin(), ThisFetch.begin(), ThisFetch.end());
        Fetch();
        return;
    }
    bool changed = false;
    if (reply.type() == QDBusMessage::ReplyMessage) {
        ListErrorName.clear();
        const QList<QVariant> arguments = reply.arguments();
        std::vector<TCopyRow> rows;
        // ListJobsSince answers the serial first, then the rows.
        for (const QVariantMap& row :
             qdbus_cast<QList<QVariantMap>>(arguments.value(since ? 1 : 0)))
            rows.push_back(CopyRowOf(row));
        if (since) {
            const bool first = ModuleSerial == 0;
            ModuleSerial = arguments.value(0).toULongLong();
            std::vector<uint32_t> removed;
            bool whole = first;
            for (const uint id : qdbus_cast<QList<uint>>(arguments.value(2))) {
                // The id 0, which no row has: the module answered every row (the serial asked
                // from reached back past what it remembers), so the copy drops what it had besides.
                whole = whole || id == 0;
                removed.push_back(id);
            }
            changed = whole ? Rows.Replace(std::move(rows)) : Rows.Apply(std::move(rows), removed);
        } else {
            changed = Rows.Replace(std::move(rows));
        }
        ListedOnce = true;
    } else {
        ListErrorName = reply.errorName();
    }
    Fetching = false;
    std::vector<std::function<void()>> waiters = std::move(ThisFetch);
    ThisFetch.clear();
    if (changed)
        emit jobsChanged(Module.Number);
    for (auto& waiter : waiters)
        waiter();
    if (Again || !NextFetch.empty())
        Fetch();
}

void TModuleFollower::Describe(std::function<void()> done) {
    if (done)
        DescribeWaiters.push_back(std::move(done));
    if (Describing > 0)
        return;
    struct TAnswers {
        QString Description;
        int Status = 0;
        bool Paused = false;
        bool Failed = false;
    };
    auto answers = std::make_shared<TAnswers>();
    const int numbers[] = {modulebus::kValueDescription, modulebus::kValueStatus,
                           modulebus::kValuePaused};
    Describing = 3;
    for (const int number : numbers) {
        auto* watcher = new QDBusPendingCallWatcher(
            Bus.asyncCall(modulebus::GetValueCall(Module.BusName, number), kDescribeTimeoutMs),
            this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, answers, number](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    const QDBusMessage reply = finished->reply();
                    const QVariant value = modulebus::Unwrapped(reply.arguments().value(0));
                    if (reply.type() != QDBusMessage::ReplyMessage)
                        answers->Failed = true;
                    else if (number == modulebus::kValueDescription)
                        answers->Description = value.toString();
                    else if (number == modulebus::kValueStatus)
                        answers->Status = value.toInt();
                    else
                        answers->Paused = value.toBool();
                    if (--Describing > 0)
                        return;
                    bool changed = false;
                    if (!answers->Failed) {
                        changed = !Described || answers->Description != DescriptionText ||
                                  answers->Status != StatusValue || answers->Paused != PausedValue;
                        Described = true;
                        DescriptionText = answers->Description;
                        StatusValue = answers->Status;
                        PausedValue = answers->Paused;
                    }
                    std::vector<std::function<void()>> waiters = std::move(DescribeWaiters);
                    DescribeWaiters.clear();
                    if (changed)
                        emit stateChanged(Module.Number);
                    for (auto& waiter : waiters)
                        waiter();
                });
    }
}

} // namespace raduvuz::web
