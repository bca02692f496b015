#include "dbus/TDBusListening.h"

#include "dbus/DBusBus.h"

#include <exception>

namespace raduvuz {

void TDBusListening::Received(const QDBusMessage& message) {
    std::vector<TVariant> args;
    try {
        for (const QVariant& value : message.arguments())
            args.push_back(FromWire(value));
    } catch (const TDispatchError&) {
        // A signal with a value of no automation kind is not one the handler knows.
        return;
    }
    // Nothing may leave a slot into the event loop; a handler's failure ends only its own work.
    try {
        Handler(message.member().toStdString(), args);
    } catch (const std::exception&) {
    }
}

} // namespace raduvuz
