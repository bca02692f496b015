#include "dbus/DBusBus.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QVariantList>

#include <cstdlib>
#include <limits>

namespace raduvuz {

QDBusConnection RaduvuzBus() {
    // A process that the bus started for a name learns the bus from DBUS_STARTER_ADDRESS;
    // giving it as the session address also hands it on to the processes this one starts.
    static const bool prepared = [] {
        const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        const char* starter = std::getenv("DBUS_STARTER_ADDRESS");
        if ((!session || !*session) && starter && *starter)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", starter, 1);
        return true;
    }();
    (void)prepared;
    // A connection of its own rather than Qt's default one: Qt holds the default connection's
    // messages back until the main thread's loop first runs, and a message arriving while it
    // lets them go is handled ahead of them, so a call or a signal could overtake an earlier one.
    // Made once: each connectToBus waits for Qt's bus thread, even for a name it already has.
    // Never destroyed, so that nothing of it runs after Qt's own bus objects are gone.
    static const QDBusConnection* const bus = new QDBusConnection(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("raduvuz")));
    return *bus;
}

QVariant NullOnWire() {
    return QVariant::fromValue(QDBusVariant(QVariant(QVariantList())));
}

namespace {

QVariant Plain(const TVariant& value) {
    if (const auto* i = std::get_if<int32_t>(&value))
        return QVariant(static_cast<int>(*i));
    if (const auto* b = std::get_if<bool>(&value))
        return QVariant(*b);
    if (const auto* s = std::get_if<std::string>(&value))
        return QVariant(QString::fromStdString(*s));
    if (const auto* d = std::get_if<double>(&value))
        return QVariant(*d);
    return QVariant(QVariantList());
}

TVariant FromWhole(long long value) {
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max())
        return static_cast<int32_t>(value);
    return static_cast<double>(value);
}

} // namespace

QVariant ToWireVariant(const TVariant& value) {
    return QVariant::fromValue(QDBusVariant(Plain(value)));
}

QVariant ToWire(const TVariant& value) {
    if (IsNull(value))
        return NullOnWire();
    return Plain(value);
}

TVariant FromWire(const QVariant& value) {
    const int type = value.metaType().id();
    if (type == qMetaTypeId<QDBusVariant>())
        return FromWire(qvariant_cast<QDBusVariant>(value).variant());
    if (type == qMetaTypeId<QDBusArgument>()) {
        // Null arrives as an empty array inside a variant.
        const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
        if (argument.currentType() == QDBusArgument::ArrayType) {
            argument.beginArray();
            const bool empty = argument.atEnd();
            argument.endArray();
            if (empty)
                return TNull{};
        }
        throw TDispatchError(kUnexpectedError, "Unsupported value of D-Bus type \"" +
                                                   argument.currentSignature().toStdString() +
                                                   "\"");
    }
    if (type == qMetaTypeId<QDBusObjectPath>())
        return qvariant_cast<QDBusObjectPath>(value).path().toStdString();
    if (type == qMetaTypeId<QDBusSignature>())
        return qvariant_cast<QDBusSignature>(value).signature().toStdString();
    switch (type) {
    case QMetaType::UnknownType:
        return TNull{};
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return static_cast<int32_t>(value.toInt());
    case QMetaType::UInt:
        return FromWhole(static_cast<long long>(value.toUInt()));
    case QMetaType::LongLong:
        return FromWhole(value.toLongLong());
    case QMetaType::ULongLong:
        if (value.toULongLong() <= static_cast<qulonglong>(std::numeric_limits<int32_t>::max()))
            return static_cast<int32_t>(value.toULongLong());
        return static_cast<double>(value.toULongLong());
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QString:
        return value.toString().toStdString();
    case QMetaType::QVariantList:
        if (value.toList().isEmpty())
            return TNull{};
        break;
    default:
        break;
    }
    throw TDispatchError(kUnexpectedError,
                         std::string("Unsupported value of type ") + value.typeName());
}

} // namespace raduvuz
