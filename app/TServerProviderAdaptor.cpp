#include "app/TServerProviderAdaptor.h"

#include "app/AutomationError.h"
#include "app/TModuleStarter.h"
#include "app/TProcessLifetime.h"

#include <QDBusMessage>

namespace raduvuz {

TServerProviderAdaptor::TServerProviderAdaptor(TModuleStarter& starter, TProcessLifetime& lifetime,
                                               QObject* parent)
    : QObject(parent), Starter(starter), Lifetime(lifetime) {}

QDBusVariant TServerProviderAdaptor::GetObject(const QString&) {
    Lifetime.CallStarted(calledFromDBus() ? message().service() : QString());
    QDBusVariant result;
    try {
        result = QDBusVariant(Starter.StartModule());
    } catch (const std::exception& e) {
        if (calledFromDBus()) {
            const TAutomationError error = AutomationErrorOf(e);
            sendErrorReply(error.Name, error.Message);
        }
    }
    Lifetime.CallFinished();
    return result;
}

} // namespace raduvuz
