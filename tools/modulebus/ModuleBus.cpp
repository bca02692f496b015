#include "tools/modulebus/ModuleBus.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <algorithm>

namespace raduvuz::modulebus {

const QString kModulePrefix = QStringLiteral("RAduvuz.ModuleControl.p");
const QString kModulePath = QStringLiteral("/ModuleControl");
const QString kModuleInterface = QStringLiteral("RAduvuz.IModuleControl");
const QString kJobInterface = QStringLiteral("RAduvuz.IJobControl");

int64_t ModuleNumber(const QString& busName) {
    if (!busName.startsWith(kModulePrefix))
        return 0;
    bool number = false;
    const qint64 pid = busName.mid(kModulePrefix.size()).toLongLong(&number);
    return number && pid > 0 ? pid : 0;
}

std::vector<TModuleName> ModulesAmong(const QStringList& busNames) {
    std::vector<TModuleName> modules;
    for (const QString& name : busNames) {
        if (const int64_t number = ModuleNumber(name))
            modules.push_back({name, number});
    }
    std::sort(modules.begin(), modules.end(),
              [](const TModuleName& a, const TModuleName& b) { return a.Number < b.Number; });
    return modules;
}

QDBusMessage JobCall(const QString& busName, const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(busName, kModulePath, kJobInterface, method);
    call.setArguments(arguments);
    return call;
}

QDBusMessage ModuleCall(const QString& busName, const QString& method,
                        const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(busName, kModulePath, kModuleInterface, method);
    call.setArguments(arguments);
    return call;
}

QDBusMessage GetValueCall(const QString& busName, int number) {
    return ModuleCall(busName, QStringLiteral("GetValue"), {number});
}

QVariant Unwrapped(const QVariant& value) {
    return value.canConvert<QDBusVariant>() ? qvariant_cast<QDBusVariant>(value).variant() : value;
}

std::vector<uint32_t> IdsOf(const QDBusMessage& reply) {
    const QList<uint> ids = qdbus_cast<QList<uint>>(reply.arguments().value(0));
    return std::vector<uint32_t>(ids.begin(), ids.end());
}

QList<QVariantMap> RowsOf(const QDBusMessage& reply) {
    return qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
}

bool IsModuleGone(const QString& errorName) {
    return errorName == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
           errorName == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner");
}

void RegisterModuleBusTypes() {
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

TJobsWatcher::TJobsWatcher(QDBusConnection& bus, const TModuleName& module, QObject* parent)
    : QObject(parent) {
    bus.connect(module.BusName, kModulePath, kJobInterface, QStringLiteral("JobsChanged"), this,
                SLOT(JobsChanged()));
    auto* gone = new QDBusServiceWatcher(module.BusName, bus,
                                         QDBusServiceWatcher::WatchForUnregistration, this);
    connect(gone, &QDBusServiceWatcher::serviceUnregistered, this, &TJobsWatcher::moduleGone);
}

void TJobsWatcher::JobsChanged() {
    emit changed();
}

} // namespace raduvuz::modulebus
