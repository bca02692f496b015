#pragma once

#include "services/Dispatch.h"

#include <QDBusConnection>
#include <QVariant>

namespace raduvuz {

// The bus of the process: the session bus, which a bus-activated process finds through
// DBUS_STARTER_ADDRESS when DBUS_SESSION_BUS_ADDRESS is not set.
QDBusConnection RaduvuzBus();

// Automation values on the wire. Null travels as a variant holding an empty "av".
QVariant NullOnWire();
// A value as a D-Bus variant argument ("v").
QVariant ToWireVariant(const TVariant& value);
// A value as the plain wire type of its own kind; Null becomes a variant.
QVariant ToWire(const TVariant& value);
// A received argument (a variant is unwrapped); TDispatchError for a type with no automation
// counterpart.
TVariant FromWire(const QVariant& value);

} // namespace raduvuz
