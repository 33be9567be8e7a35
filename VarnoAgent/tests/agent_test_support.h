#pragma once
// A delegate on a sandbox root and a private bus, with a stand-in main
// application bundle around its own, a fixed clock, quick timers, scripted
// alerts and captured log lines.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDBusConnection>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <memory>

#include "AgentConstants.h"
#include "AgentDebug.h"
#include "VarnoAgentDelegate.h"
#include "app/plistbridge.h"
#include "app/testing.h"
#include "app/userdefaults.h"
#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace agent_test {

inline const QDateTime kNow = QDateTime(QDate(2026, 1, 15), QTime(12, 0), QTimeZone::utc());

// A schedule configuration as the main application writes it.
inline QVariantMap configuration(const QString& name, const QString& queue, bool enabled,
                                 const QDateTime& next, int interval = 1) {
    return {{KVXConfigurationNameConfigurationKey, name},
            {KVXQueueNameScheduleConfigurationKey, queue},
            {KVXEnabledScheduleConfigurationKey, enabled},
            {KVXNextExecutionScheduleConfigurationKey, next},
            {KVXIntervalScheduleConfigurationKey, interval}};
}

inline QVariantMap domainWithSchedule(const QVariantList& schedule, QVariantMap extra = {}) {
    QVariantMap configurations = extra.value(KVXConfigurationsDefaultsKey).toMap();
    configurations.insert(KVXScheduleTask, schedule);
    extra.insert(KVXConfigurationsDefaultsKey, configurations);
    return extra;
}

class AgentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::usePrivateSessionBus();
        app::testing::ensureApplication();
        sandbox::build(root_);
        static int serial = 0;
        connectionName_ = QStringLiteral("agent-test-%1").arg(++serial);
        connection_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
        varnoBundle_ = QString::fromStdString(bundles_.path()) + QStringLiteral("/Varno.app");
        makeFakeVarno();
        previousDebug_ = KVXDEBUG;
        KVXDEBUG = true;
        delegate_ = makeDelegate(connection_);
    }

    void TearDown() override {
        delegate_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        KVXDEBUG = previousDebug_;
    }

    std::unique_ptr<VarnoAgentDelegate> makeDelegate(const QDBusConnection& connection) {
        auto delegate = std::make_unique<VarnoAgentDelegate>();
        delegate->setBusConnection(connection);
        delegate->setBundlePath(varnoBundle_ +
                                QStringLiteral("/Contents/Resources/VarnoAgent.app"));
        delegate->setScheduleCheckInterval(20);
        delegate->setCountdownTickInterval(2);
        delegate->setClock([] { return kNow; });
        delegate->setTerminateHandler([this] { ++terminations_; });
        return delegate;
    }

    // The main application's stand-in appends "<argument count>:<arguments>"
    // to a file beside its bundle each time it is launched.
    void makeFakeVarno() {
        QDir().mkpath(varnoBundle_ + QStringLiteral("/Contents/MacOS"));
        const QString path = varnoBundle_ + QStringLiteral("/Contents/MacOS/Varno");
        QFile script(path);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$#:$*\" >> \"$(dirname \"$0\")/../../../launched\"\n");
        script.close();
        chmod(QFile::encodeName(path).constData(), 0755);
    }

    QStringList launches(int atLeast = 0) {
        const QString path = QString::fromStdString(bundles_.path()) + QStringLiteral("/launched");
        auto read = [&] {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly)) return QStringList();
            return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        };
        app::testing::waitUntil([&] { return read().size() >= atLeast; });
        return read();
    }

    std::string domainMachinePath() const {
        return app::persistentDomainPath(KVXVarno2Identifier).toStdString();
    }
    void writeDomain(const QVariantMap& domain, bool binary = false) {
        auto value = app::plistFromVariant(domain);
        ASSERT_TRUE(value);
        root_.writeFile(domainMachinePath(),
                        binary ? plist::writeBinary(*value) : plist::writeXML(*value));
    }
    void writeDomainBytes(const std::string& bytes) { root_.writeFile(domainMachinePath(), bytes); }
    std::optional<std::string> domainBytes() const { return root_.readFile(domainMachinePath()); }
    QVariantMap readDomain() const {
        return app::persistentDomainForName(KVXVarno2Identifier).dictionary;
    }

    std::string launchAgentMachinePath() const {
        return delegate_->launchAgentPath().toStdString();
    }

    host::testing::SandboxRoot root_;
    host::testing::TempDir bundles_;
    app::testing::LogCapture log_;
    app::testing::AlertScript alerts_;
    QString connectionName_;
    QDBusConnection connection_{QString()};
    QString varnoBundle_;
    bool previousDebug_ = false;
    int terminations_ = 0;
    std::unique_ptr<VarnoAgentDelegate> delegate_;
};

}  // namespace agent_test
