// Named servers on the session bus: one owner per name, lookups of present
// and absent names.
#include <gtest/gtest.h>

#include <QDBusAbstractInterface>
#include <QDBusConnectionInterface>
#include <QObject>

#include "app/connection.h"
#include "app/testing.h"

namespace {

constexpr const char* kName = "com.kvxlabs.test.server";

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::usePrivateSessionBus();
        app::testing::ensureApplication();
    }
    void TearDown() override {
        for (const QString& name : opened_) QDBusConnection::disconnectFromBus(name);
    }
    QDBusConnection open(const QString& name) {
        opened_ << name;
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    QStringList opened_;
};

TEST_F(ConnectionTest, ASecondServerUnderTheSameNameFailsAndTheFirstKeepsIt) {
    QDBusConnection first = open("first");
    QDBusConnection second = open("second");
    QObject rootA, rootB;
    QString error;
    ASSERT_TRUE(app::registerServer(first, kName, &rootA, &error)) << error.toStdString();
    EXPECT_FALSE(app::registerServer(second, kName, &rootB, &error));
    EXPECT_TRUE(error.contains(kName)) << error.toStdString();
    EXPECT_EQ(second.interface()->serviceOwner(kName).value(), first.baseService());
    // The failed attempt left no object behind on its connection.
    EXPECT_EQ(second.objectRegisteredAt(app::kRootObjectPath), nullptr);

    app::unregisterServer(first, kName);
    EXPECT_FALSE(second.interface()->isServiceRegistered(kName).value());
    EXPECT_TRUE(app::registerServer(second, kName, &rootB, &error)) << error.toStdString();
}

TEST_F(ConnectionTest, LooksUpOnlyNamesThatHaveAnOwner) {
    QDBusConnection client = open("client");
    EXPECT_EQ(app::rootProxyForConnection(client, kName), nullptr);
    QDBusConnection server = open("server");
    QObject root;
    ASSERT_TRUE(app::registerServer(server, kName, &root));
    auto proxy = app::rootProxyForConnection(client, kName);
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->service(), kName);
    EXPECT_EQ(proxy->path(), app::kRootObjectPath);
}

TEST_F(ConnectionTest, NoBusNoServer) {
    QDBusConnection nowhere =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "nowhere");
    opened_ << "nowhere";
    QObject root;
    QString error;
    EXPECT_FALSE(app::registerServer(nowhere, kName, &root, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(app::rootProxyForConnection(nowhere, kName), nullptr);
}

}  // namespace
