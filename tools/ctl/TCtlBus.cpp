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

using modulebus::GetValueCall;
using modulebus::IdsOf;
using modulebus::Unwrapped;

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
    return modulebus::JobCall(module.BusName, method, arguments);
}

QDBusMessage GetValueCall(const TModuleName& module, int number) {
    return GetValueCall(module.BusName, number);
}

// The reply, or the failure its error means.
const QDBusMessage& Checked(const QDBusMessage& reply, const TModuleName& module) {
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply;
    const QString name = reply.errorName();
    const std::string who = "module " + std::to_string(module.Number);
    if (name == QStringLiteral("RAduvuz.Error.InvalidArgs"))
        throw TCtlFailure(kExitUsage, who + ": " + S(reply.errorMessage()));
    if (modulebus::IsModuleGone(name))
        throw TCtlFailure(kExitNoModule, who + " is no longer on the bus");
    throw TCtlFailure(kExitRefused,
                      who + " failed the call: " + S(reply.errorMessage()) + " (" + S(name) + ")");
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
    for (const QVariantMap& row : modulebus::RowsOf(reply))
        jobs.push_back(JobOf(row));
    return jobs;
}

} // namespace

TCtlBus::TCtlBus() : Bus(RaduvuzBus()) {
    if (!Bus.isConnected())
        throw TCtlFailure(kExitNoModule, "no D-Bus session bus: " + S(Bus.lastError().message()));
    modulebus::RegisterModuleBusTypes();
}

std::vector<TModuleName> TCtlBus::Modules() {
    const QDBusReply<QStringList> names = Bus.interface()->registeredServiceNames();
    if (!names.isValid())
        throw TCtlFailure(kExitNoModule,
                          "cannot list the bus's names: " + S(names.error().message()));
    return modulebus::ModulesAmong(names.value());
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

std::vector<TCtlDamaged> TCtlBus::ListDamaged(const TModuleName& module) {
    std::vector<TCtlDamaged> files;
    const QDBusMessage reply =
        Checked(Bus.call(JobCall(module, "ListDamaged"), QDBus::Block, kListTimeoutMs), module);
    for (const QVariantMap& row : modulebus::RowsOf(reply))
        files.push_back({S(row.value(QStringLiteral("file")).toString()),
                         S(row.value(QStringLiteral("path")).toString()),
                         row.value(QStringLiteral("size")).toLongLong(),
                         S(row.value(QStringLiteral("setAside")).toString())});
    return files;
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

} // namespace raduvuz::ctl
