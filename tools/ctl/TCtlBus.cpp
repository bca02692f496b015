#include "tools/ctl/TCtlBus.h"

#include "dbus/DBusBus.h"
#include "tools/ctl/CtlCommandLine.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <algorithm>
#include <type_traits>

namespace raduvuz::ctl {

namespace {

const QString kPrefix = QStringLiteral("RAduvuz.ModuleControl.p");
const QString kPath = QStringLiteral("/ModuleControl");
const QString kModuleInterface = QStringLiteral("RAduvuz.IModuleControl");
const QString kJobInterface = QStringLiteral("RAduvuz.IJobControl");
// Listing answers at once; a command may copy or rewrite large spool files first.
constexpr int kListTimeoutMs = 30000;
constexpr int kCommandTimeoutMs = 600000;
// How long "modules" waits for a module that is busy or hung.
constexpr int kDescribeTimeoutMs = 5000;

std::string S(const QString& text) {
    return text.toStdString();
}

QDBusMessage JobCall(const TModuleName& module, const QString& method,
                     const QVariantList& arguments = {}) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(module.BusName, kPath, kJobInterface, method);
    call.setArguments(arguments);
    return call;
}

QDBusMessage GetValueCall(const TModuleName& module, int number) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(module.BusName, kPath, kModuleInterface, "GetValue");
    call.setArguments({number});
    return call;
}

QVariant Unwrapped(const QVariant& value) {
    return value.canConvert<QDBusVariant>() ? qvariant_cast<QDBusVariant>(value).variant() : value;
}

// The reply, or the failure its error means.
const QDBusMessage& Checked(const QDBusMessage& reply, const TModuleName& module) {
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply;
    const QString name = reply.errorName();
    const std::string who = "module " + std::to_string(module.Number);
    if (name == QStringLiteral("RAduvuz.Error.InvalidArgs"))
        throw TCtlFailure(kExitUsage, who + ": " + S(reply.errorMessage()));
    if (name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"))
        throw TCtlFailure(kExitNoModule, who + " is no longer on the bus");
    throw TCtlFailure(kExitRefused,
                      who + " failed the call: " + S(reply.errorMessage()) + " (" + S(name) + ")");
}

std::vector<uint32_t> IdsOf(const QDBusMessage& reply) {
    const QList<uint> ids = qdbus_cast<QList<uint>>(reply.arguments().value(0));
    return std::vector<uint32_t>(ids.begin(), ids.end());
}

TCtlJob JobOf(const QVariantMap& row) {
    TCtlJob job;
    VisitJobRowFields(job, [&row](const char* key, auto& field) {
        const QVariant value = row.value(QString::fromLatin1(key));
        using TField = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<TField, std::string>)
            field = S(value.toString());
        else if constexpr (std::is_same_v<TField, int64_t>)
            field = value.isValid() ? value.toLongLong() : field;
        else
            field = static_cast<TField>(value.toLongLong());
    });
    return job;
}

std::vector<TCtlJob> JobsOf(const QDBusMessage& reply) {
    std::vector<TCtlJob> jobs;
    for (const QVariantMap& row : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0)))
        jobs.push_back(JobOf(row));
    return jobs;
}

} // namespace

TCtlBus::TCtlBus() : Bus(RaduvuzBus()) {
    if (!Bus.isConnected())
        throw TCtlFailure(kExitNoModule, "no D-Bus session bus: " + S(Bus.lastError().message()));
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

std::vector<TModuleName> TCtlBus::Modules() {
    std::vector<TModuleName> modules;
    const QDBusReply<QStringList> names = Bus.interface()->registeredServiceNames();
    if (!names.isValid())
        throw TCtlFailure(kExitNoModule,
                          "cannot list the bus's names: " + S(names.error().message()));
    for (const QString& name : names.value()) {
        bool number = false;
        const qint64 pid =
            name.startsWith(kPrefix) ? name.mid(kPrefix.size()).toLongLong(&number) : 0;
        if (number && pid > 0)
            modules.push_back({name, pid});
    }
    std::sort(modules.begin(), modules.end(),
              [](const TModuleName& a, const TModuleName& b) { return a.Number < b.Number; });
    return modules;
}

std::vector<TCtlModule> TCtlBus::Describe(const std::vector<TModuleName>& modules) {
    // Every question goes out before the first answer is awaited: a slow module delays the
    // listing once, not once per module.
    std::vector<std::vector<QDBusPendingCall>> calls;
    for (const TModuleName& module : modules) {
        calls.push_back({Bus.asyncCall(GetValueCall(module, 2), kDescribeTimeoutMs),
                         Bus.asyncCall(GetValueCall(module, 0), kDescribeTimeoutMs),
                         Bus.asyncCall(GetValueCall(module, 6), kDescribeTimeoutMs),
                         Bus.asyncCall(JobCall(module, "ListJobs"), kDescribeTimeoutMs)});
    }
    std::vector<TCtlModule> described;
    for (size_t m = 0; m < modules.size(); ++m) {
        TCtlModule module;
        module.Number = modules[m].Number;
        module.BusName = S(modules[m].BusName);
        for (QDBusPendingCall& call : calls[m]) {
            call.waitForFinished();
            module.Answered = module.Answered && !call.isError();
        }
        if (module.Answered) {
            module.Description = S(Unwrapped(calls[m][0].reply().arguments().value(0)).toString());
            module.Status = Unwrapped(calls[m][1].reply().arguments().value(0)).toInt();
            module.Paused = Unwrapped(calls[m][2].reply().arguments().value(0)).toBool();
            for (const TCtlJob& job : JobsOf(calls[m][3].reply()))
                ++(job.List == "process" ? module.InProcess : module.Passed);
        }
        described.push_back(module);
    }
    return described;
}

TModuleName TCtlBus::Choose(const std::string& text) {
    const std::vector<TModuleName> modules = Modules();
    if (modules.empty())
        throw TCtlFailure(kExitNoModule, "no module on the bus");
    if (text.empty()) {
        if (modules.size() > 1)
            throw TCtlFailure(kExitUsage, "several modules on the bus: choose one with -m "
                                          "(see \"raduvuz-ctl modules\")");
        return modules.front();
    }
    const QString wanted = QString::fromStdString(text);
    for (const TModuleName& module : modules) {
        if (std::to_string(module.Number) == text || module.BusName == wanted)
            return module;
    }
    std::vector<TModuleName> named;
    const std::vector<TCtlModule> described = Describe(modules);
    for (size_t m = 0; m < modules.size(); ++m) {
        if (QString::fromStdString(described[m].Description).compare(wanted, Qt::CaseInsensitive) ==
            0)
            named.push_back(modules[m]);
    }
    if (named.empty())
        throw TCtlFailure(kExitNoModule, "no module \"" + text + "\" on the bus");
    if (named.size() > 1) {
        std::string numbers;
        for (const TModuleName& module : named)
            numbers += (numbers.empty() ? "" : ", ") + std::to_string(module.Number);
        throw TCtlFailure(kExitUsage, "\"" + text + "\" describes several modules (" + numbers +
                                          "): choose one by its number");
    }
    return named.front();
}

std::vector<TCtlJob> TCtlBus::ListJobs(const TModuleName& module) {
    return JobsOf(
        Checked(Bus.call(JobCall(module, "ListJobs"), QDBus::Block, kListTimeoutMs), module));
}

std::vector<uint32_t> TCtlBus::Act(const TModuleName& module, const QString& method,
                                   const QVariantList& arguments) {
    return IdsOf(Checked(
        Bus.call(JobCall(module, method, arguments), QDBus::Block, kCommandTimeoutMs), module));
}

std::vector<uint32_t> TCtlBus::Find(const TModuleName& module,
                                    const std::map<std::string, std::string>& criteria) {
    QVariantMap map;
    for (const auto& [key, value] : criteria)
        map.insert(QString::fromStdString(key), QString::fromStdString(value));
    return IdsOf(Checked(Bus.call(JobCall(module, "FindJobs", {map}), QDBus::Block, kListTimeoutMs),
                         module));
}

TJobsWatcher::TJobsWatcher(QDBusConnection& bus, const TModuleName& module, QObject* parent)
    : QObject(parent) {
    bus.connect(module.BusName, kPath, kJobInterface, QStringLiteral("JobsChanged"), this,
                SLOT(JobsChanged()));
    auto* gone = new QDBusServiceWatcher(module.BusName, bus,
                                         QDBusServiceWatcher::WatchForUnregistration, this);
    connect(gone, &QDBusServiceWatcher::serviceUnregistered, this, &TJobsWatcher::moduleGone);
}

void TJobsWatcher::JobsChanged() {
    emit changed();
}

} // namespace raduvuz::ctl
