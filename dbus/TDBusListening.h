#pragma once

#include "services/Dispatch.h"

#include <QDBusMessage>
#include <QObject>

namespace raduvuz {

// The receiver of the signals a TDBusObject listens to: each one goes to the handler with its
// arguments as automation values. The bus forgets the match rules when this object goes.
class TDBusListening : public QObject, public TListening {
    Q_OBJECT

public:
    explicit TDBusListening(TSignalHandler handler) : Handler(std::move(handler)) {}

public slots:
    void Received(const QDBusMessage& message);

private:
    TSignalHandler Handler;
};

} // namespace raduvuz
