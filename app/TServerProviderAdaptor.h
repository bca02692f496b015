#pragma once

#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QString>

namespace raduvuz {

class TModuleStarter;
class TProcessLifetime;

// IServerProvider on the bus at /ServerProvider: GetObject answers the reference text of a new
// module process.
class TServerProviderAdaptor : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.IServerProvider")

public:
    TServerProviderAdaptor(TModuleStarter& starter, TProcessLifetime& lifetime,
                           QObject* parent = nullptr);

public slots:
    QDBusVariant GetObject(const QString& ObjName_);

private:
    TModuleStarter& Starter;
    TProcessLifetime& Lifetime;
};

} // namespace raduvuz
