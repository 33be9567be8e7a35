#pragma once
// Named servers between processes of one user, over the D-Bus session bus:
// a server registers a root object under a well-known name; a client looks
// the name up and gets a proxy for that root object.

#include <QDBusConnection>
#include <QString>
#include <memory>

class QDBusAbstractInterface;
class QObject;

namespace app {

// Where root objects live on their connection.
inline constexpr const char* kRootObjectPath = "/";

// Exports the root object's D-Bus adaptors at kRootObjectPath and takes the
// name. False (nothing left registered) when the connection is down or the
// name has an owner already.
bool registerServer(QDBusConnection connection, const QString& name, QObject* rootObject,
                    QString* error = nullptr);

// Gives up the name and the root object again.
void unregisterServer(QDBusConnection connection, const QString& name);

// A proxy for the root object of the server registered under the name (any
// interface: calls name their member only); nullptr when no one holds the
// name. Making it sends nothing to the server.
std::unique_ptr<QDBusAbstractInterface> rootProxyForConnection(QDBusConnection connection,
                                                               const QString& name);

}  // namespace app
