#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace raduvuz {

// Tells once when the process's bus connection is gone (the bus daemon ended or dropped us).
// The bus library says so only by the connection's state, which a short timer looks at: no bus
// traffic, no wake-up of anybody else.
class TBusLossWatch : public QObject {
    Q_OBJECT

public:
    TBusLossWatch(std::function<void()> onLost, int intervalMs = 250, QObject* parent = nullptr);

private:
    std::function<void()> OnLost;
    QTimer Look;
};

} // namespace raduvuz
