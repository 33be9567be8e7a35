// The agent's life: its server on the bus and what peers get from it, a
// second copy, the debug mode, and launching the main application.
#include <unistd.h>

#include <QDBusAbstractInterface>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QRegularExpression>

#include "agent_test_support.h"

namespace {

using agent_test::configuration;
using agent_test::domainWithSchedule;
using agent_test::kNow;

class LifecycleTest : public agent_test::AgentTest {
  protected:
    // Runs the peer while this thread keeps serving the bus.
    static QString runPeer(const QStringList& arguments, int* status = nullptr) {
        QProcess peer;
        peer.start(QString::fromLocal8Bit(qgetenv("VARNO_AGENT_FAKE_PEER")), arguments);
        app::testing::waitUntil([&] { return peer.state() == QProcess::NotRunning; }, 20000);
        if (status) *status = peer.exitCode();
        return QString::fromUtf8(peer.readAllStandardOutput() + peer.readAllStandardError());
    }
};

TEST_F(LifecycleTest, ASecondAgentAlertsAndQuitsWhileTheFirstKeepsTheName) {
    writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addDays(1))}));
    delegate_->applicationDidFinishLaunching();
    ASSERT_EQ(log_.countEndingWith("]: VarnoAgent server registered."), 1);

    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "second");
    auto second = makeDelegate(other);
    second->applicationDidFinishLaunching();
    EXPECT_TRUE(second->isTerminating());
    EXPECT_EQ(terminations_, 1);
    ASSERT_EQ(alerts_.shown().size(), 1u);
    EXPECT_EQ(alerts_.shown()[0].messageText, "Could not register com.kvxlabs.Varno2.agent");
    EXPECT_EQ(alerts_.shown()[0].informativeText,
              "Multiple copies of VarnoAgent appear to be running. Please contact "
              "support@kvxlabs.com for help.");
    EXPECT_EQ(alerts_.shown()[0].buttons, QStringList{"Quit"});
    // The log says who holds the name.
    EXPECT_EQ(log_.countEndingWith(
                  QStringLiteral("the name com.kvxlabs.Varno2.agent is taken by process %1 (%2)")
                      .arg(getpid())
                      .arg(connection_.baseService())),
              1)
        << log_.lines().join('\n').toStdString();
    // The second copy started no schedule check; the first still runs its own.
    EXPECT_EQ(second->scheduleCheckTimer(), nullptr);
    EXPECT_EQ(log_.countEndingWith("]: startScheduleCheckTimer"), 1);
    EXPECT_TRUE(delegate_->scheduleCheckTimer()->isActive());
    EXPECT_EQ(other.interface()->serviceOwner(KVXVarnoAgentIdentifier).value(),
              connection_.baseService());
    second.reset();
    QDBusConnection::disconnectFromBus("second");
}

TEST_F(LifecycleTest, APeerFetchesTheWaitingActionAndAcknowledgesIt) {
    writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addDays(1))}));
    delegate_->registerServer();
    int status = -1;
    EXPECT_EQ(runPeer({"fetch"}, &status), "workingAction=0\n");
    EXPECT_EQ(status, 0);

    QVariantMap config = configuration("c", "Nightly", true, kNow.addSecs(-5), 3);
    config.insert("Blob", QByteArray("\x00\x01", 2));
    delegate_->setWorkingAction(1);
    delegate_->setWaitingAction(
        delegate_->waitingActionFromAction(KVXWaitingAgentActionScheduledQueue, config));
    const QString out = runPeer({"fetch"}, &status);
    ASSERT_EQ(status, 0) << out.toStdString();
    ASSERT_TRUE(out.startsWith("workingAction=1\n")) << out.toStdString();
    const QByteArray document = out.mid(QString("workingAction=1\n").size()).toUtf8();
    auto fetched = plist::parse(std::string_view(document.constData(), document.size()));
    ASSERT_TRUE(fetched);
    EXPECT_EQ(app::variantFromPlist(*fetched).toMap(),
              (QVariantMap{{KVXActionWaitingAgentActionKey, 2},
                           {KVXContextInfoWaitingAgentActionKey, config}}));
    EXPECT_EQ(log_.countEndingWith("]: waitingActionReceived"), 2);
    // Fetching leaves it waiting until the next schedule check clears it.
    EXPECT_TRUE(delegate_->waitingAction().has_value());
    delegate_->checkSchedule(nullptr);
    EXPECT_FALSE(delegate_->waitingAction().has_value());
}

TEST_F(LifecycleTest, ConnectsToTheMainApplicationOnlyWhenItServes) {
    EXPECT_FALSE(delegate_->connectToVarno());
    EXPECT_EQ(delegate_->varnoDelegate(), nullptr);
    EXPECT_EQ(log_.countEndingWith("]: Connect to com.kvxlabs.Varno2 failed."), 1);

    QProcess peer;
    peer.start(QString::fromLocal8Bit(qgetenv("VARNO_AGENT_FAKE_PEER")), {"serve"});
    ASSERT_TRUE(app::testing::waitUntil(
        [&] { return peer.canReadLine() || peer.state() == QProcess::NotRunning; }, 20000));
    ASSERT_EQ(peer.readLine(), "ready\n");
    EXPECT_TRUE(delegate_->connectToVarno());
    ASSERT_NE(delegate_->varnoDelegate(), nullptr);
    EXPECT_EQ(delegate_->varnoDelegate()->service(), KVXVarno2Identifier);
    peer.closeWriteChannel();
    ASSERT_TRUE(app::testing::waitUntil([&] { return peer.state() == QProcess::NotRunning; }));
}

TEST_F(LifecycleTest, TheMainApplicationIsThreeComponentsUpAndGetsTheDebugFlag) {
    EXPECT_EQ(delegate_->varnoBundlePath(), varnoBundle_);
    delegate_->setBundlePath(varnoBundle_ + "/Contents/Resources/VarnoAgent.app/");
    EXPECT_EQ(delegate_->varnoBundlePath(), varnoBundle_);
    KVXDEBUG = true;
    delegate_->launchVarno();
    EXPECT_EQ(launches(1), QStringList{"1:-DEBUG"});
    KVXDEBUG = false;
    delegate_->launchVarno();
    EXPECT_EQ(launches(2), (QStringList{"1:-DEBUG", "0:"}));
    EXPECT_TRUE(alerts_.shown().empty());
}

TEST(DebugFlag, OnlyExactlyDebugAsTheFirstArgument) {
    const std::pair<std::vector<const char*>, bool> cases[] = {
        {{"VarnoAgent", "-DEBUG"}, true},
        {{"VarnoAgent", "-DEBUG", "more"}, true},
        {{"VarnoAgent"}, false},
        {{"VarnoAgent", "other", "-DEBUG"}, false},
        {{"VarnoAgent", "-debug"}, false},
        {{"VarnoAgent", "-DEBUG "}, false},
        {{"VarnoAgent", "--DEBUG"}, false},
        {{"VarnoAgent", "-DEBUGGING"}, false},
    };
    for (const auto& [argv, expected] : cases) {
        std::vector<const char*> v = argv;
        v.push_back(nullptr);
        EXPECT_EQ(debugFlagForArguments(static_cast<int>(argv.size()), v.data()), expected)
            << argv.back();
    }
}

TEST_F(LifecycleTest, DebugLinesNameFileLineAndMethodAndOnlyInDebugMode) {
    delegate_->waitingActionReceived();
    ASSERT_EQ(log_.lines().size(), 1);
    EXPECT_TRUE(
        QRegularExpression(
            R"(^VarnoAgentSchedule\.cpp:\d+ -\[VarnoAgentDelegate waitingActionReceived\]: )"
            R"(waitingActionReceived$)")
            .match(log_.lines()[0])
            .hasMatch())
        << log_.lines()[0].toStdString();
    // The message's own format is expanded with its arguments.
    delegate_->waitingActionFromAction(1, "Hard Restart Queue");
    EXPECT_TRUE(log_.lines()[1].endsWith(
        "-[VarnoAgentDelegate waitingActionFromAction:contextInfo:]: waitingActionFromAction: 1 "
        "contextInfo: Hard Restart Queue"))
        << log_.lines()[1].toStdString();

    KVXDEBUG = false;
    delegate_->waitingActionReceived();
    delegate_->checkSchedule(nullptr);  // nothing enabled: would say so in debug mode
    EXPECT_EQ(log_.lines().size(), 2);
}

}  // namespace
