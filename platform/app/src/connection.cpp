#include "app/connection.h"

#include <QDBusAbstractInterface>
#include <QDBusConnectionInterface>
#include <QObject>

namespace app {
namespace {

// Unlike QDBusInterface, asks the server nothing when made: a blocking
// introspection would stall on a server that is busy, or in this thread.
class RootProxy : public QDBusAbstractInterface {
  public:
    RootProxy(const QString& service, const QDBusConnection& connection)
        : QDBusAbstractInterface(service, QString::fromLatin1(kRootObjectPath), nullptr, connection,
                                 nullptr) {}
};

// A refused name is usually owned by another process, which the bus can
// name; otherwise the bus's own error says what went wrong.
QString whyNotRegistered(QDBusConnection connection, const QString& name) {
    if (connection.lastError().isValid())
        return QStringLiteral("the name %1 cannot be registered: %2")
            .arg(name, connection.lastError().message());
    QDBusConnectionInterface* bus = connection.interface();
    const QDBusReply<QString> owner = bus->serviceOwner(name);
    if (!owner.isValid()) return QStringLiteral("the name %1 is taken").arg(name);
    const QDBusReply<uint> pid = bus->servicePid(name);
    if (!pid.isValid())
        return QStringLiteral("the name %1 is taken by %2").arg(name, owner.value());
    return QStringLiteral("the name %1 is taken by process %2 (%3)")
        .arg(name)
        .arg(pid.value())
        .arg(owner.value());
}

}  // namespace

bool registerServer(QDBusConnection connection, const QString& name, QObject* rootObject,
                    QString* error) {
    if (!connection.isConnected()) {
        if (error)
            *error = QStringLiteral("no session bus: %1").arg(connection.lastError().message());
        return false;
    }
    const QString path = QString::fromLatin1(kRootObjectPath);
    if (!connection.registerObject(path, rootObject, QDBusConnection::ExportAdaptors)) {
        if (error) *error = QStringLiteral("cannot export the root object for %1").arg(name);
        return false;
    }
    // The name last: a peer that sees it can call at once.
    if (!connection.registerService(name)) {
        if (error) *error = whyNotRegistered(connection, name);
        connection.unregisterObject(path);
        return false;
    }
    return true;
}

void unregisterServer(QDBusConnection connection, const QString& name) {
    connection.unregisterService(name);
    connection.unregisterObject(QString::fromLatin1(kRootObjectPath));
}

std::unique_ptr<QDBusAbstractInterface> rootProxyForConnection(QDBusConnection connection,
                                                               const QString& name) {
    if (!connection.isConnected() || connection.interface() == nullptr) return nullptr;
    const QDBusReply<bool> registered = connection.interface()->isServiceRegistered(name);
    if (!registered.isValid() || !registered.value()) return nullptr;
    auto proxy = std::make_unique<RootProxy>(name, connection);
    if (!proxy->isValid()) return nullptr;
    return proxy;
}

}  // namespace app
