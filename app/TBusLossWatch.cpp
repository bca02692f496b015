#include "app/TBusLossWatch.h"

#include "dbus/DBusBus.h"

namespace raduvuz {

TBusLossWatch::TBusLossWatch(std::function<void()> onLost, int intervalMs, QObject* parent)
    : QObject(parent), OnLost(std::move(onLost)) {
    Look.setInterval(intervalMs);
    connect(&Look, &QTimer::timeout, this, [this] {
        if (RaduvuzBus().isConnected())
            return;
        Look.stop();
        OnLost();
    });
    Look.start();
}

} // namespace raduvuz
