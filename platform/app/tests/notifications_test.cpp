// Notification centers, child tasks and their termination notice.

#include <gtest/gtest.h>

#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "app/notificationcenter.h"
#include "app/task.h"
#include "app/testing.h"
#include "host/testing.h"

namespace {

using app::Notification;
using app::NotificationCenter;
using host::testing::SandboxRoot;

TEST(NotificationCenter, DeliversByNameAndObject) {
    int object = 0;
    int other = 0;
    struct Case {
        const char* what;
        QString name;
        const void* object;
        std::vector<int> expected;  // which posts below reach the observer
    };
    const std::vector<Case> cases = {
        {"one name, any object", QStringLiteral("A"), nullptr, {0, 1}},
        {"one name, one object", QStringLiteral("A"), &object, {0}},
        {"any name, one object", QString(), &object, {0, 2}},
        {"any name, any object", QString(), nullptr, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        NotificationCenter center;
        std::vector<int> seen;
        int index = 0;
        center.addObserver(&seen, c.name, c.object,
                           [&](const Notification&) { seen.push_back(index); });
        center.postNotificationName(QStringLiteral("A"), &object);
        index = 1;
        center.postNotificationName(QStringLiteral("A"), &other);
        index = 2;
        center.postNotificationName(QStringLiteral("B"), &object);
        EXPECT_EQ(seen, c.expected) << c.what;
    }
}

TEST(NotificationCenter, HandlersMayChangeTheRegistrations) {
    NotificationCenter center;
    int first = 0, second = 0, late = 0;
    QStringList calls;
    center.addObserver(&first, QStringLiteral("N"), nullptr, [&](const Notification& n) {
        calls << QStringLiteral("first ") + n.userInfo.value(QStringLiteral("k")).toString();
        center.removeObserver(&second);
        center.addObserver(&late, QStringLiteral("N"), nullptr,
                           [&](const Notification&) { calls << QStringLiteral("late"); });
    });
    center.addObserver(&second, QStringLiteral("N"), nullptr,
                       [&](const Notification&) { calls << QStringLiteral("second"); });
    center.postNotificationName(QStringLiteral("N"), nullptr, {{QStringLiteral("k"), 1}});
    EXPECT_EQ(calls, QStringList{QStringLiteral("first 1")});
    center.removeObserver(&first, QStringLiteral("N"));
    center.postNotificationName(QStringLiteral("N"));
    EXPECT_EQ(calls, (QStringList{QStringLiteral("first 1"), QStringLiteral("late")}));
}

class TaskTest : public ::testing::Test {
  protected:
    void SetUp() override { app::testing::ensureApplication(); }
    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(this); }

    // Counts the termination notices per task.
    void observe() {
        NotificationCenter::defaultCenter().addObserver(
            this, app::kTaskDidTerminateNotification, nullptr,
            [this](const Notification& n) { ended_.push_back(n.object); });
    }
    int endings(const app::Task& task) const {
        return static_cast<int>(std::count(ended_.begin(), ended_.end(), &task));
    }

    SandboxRoot root_;
    std::vector<const void*> ended_;
};

TEST_F(TaskTest, OutputIsReadWhileTheChildRunsAndTheEndIsPostedOnce) {
    // Far more than a pipe holds: the child ends only if it is read meanwhile.
    root_.writeFile("/usr/bin/talk",
                    "#!/bin/sh\nhead -c 1000000 /dev/zero | tr '\\0' x\necho\nexit 3\n", 0755);
    root_.writeFile("/usr/bin/quiet", "#!/bin/sh\nsleep 0.2\n", 0755);
    observe();
    app::Task talk, quiet;
    auto pipe = std::make_shared<app::Pipe>();
    talk.setLaunchPath(QStringLiteral("/usr/bin/talk"));
    talk.setStandardOutput(pipe);
    quiet.setLaunchPath(QStringLiteral("/usr/bin/quiet"));
    ASSERT_TRUE(quiet.launch());
    ASSERT_TRUE(talk.launch());
    EXPECT_TRUE(talk.isRunning());
    ASSERT_TRUE(app::testing::waitUntil([&] { return endings(talk) > 0 && endings(quiet) > 0; }));
    app::testing::spin(50);
    EXPECT_EQ(endings(talk), 1);
    EXPECT_EQ(endings(quiet), 1);
    EXPECT_EQ(ended_.size(), 2u);
    EXPECT_FALSE(talk.isRunning());
    EXPECT_EQ(talk.terminationStatus(), 3);
    EXPECT_EQ(pipe->readDataToEndOfFile(), QByteArray(1000000, 'x') + '\n');
}

TEST_F(TaskTest, AProgramThatCannotStartIsReportedOnceAndNeverRuns) {
    root_.writeFile("/usr/bin/plain", "not a program\n", 0644);
    observe();
    for (const char* path : {"/usr/bin/missing", "/usr/bin/plain"}) {
        app::Task task;
        task.setLaunchPath(QString::fromLatin1(path));
        QString error;
        EXPECT_FALSE(task.launch(&error)) << path;
        EXPECT_TRUE(error.contains(QString::fromLatin1(path))) << error.toStdString();
        EXPECT_FALSE(task.isRunning());
    }
    app::testing::spin(100);
    EXPECT_TRUE(ended_.empty());

    // One the system refuses only once the child tries: it ends at once.
    root_.writeFile("/usr/bin/orphan", "#!/no/such/interpreter\n", 0755);
    app::Task orphan;
    orphan.setLaunchPath(QStringLiteral("/usr/bin/orphan"));
    ASSERT_TRUE(orphan.launch());
    ASSERT_TRUE(app::testing::waitUntil([&] { return endings(orphan) > 0; }));
    app::testing::spin(50);
    EXPECT_EQ(endings(orphan), 1);
    EXPECT_FALSE(orphan.isRunning());
    EXPECT_EQ(orphan.terminationStatus(), 127);
}

TEST_F(TaskTest, ATaskReleasedByTheObserverOfItsEndIsSafe) {
    root_.writeFile("/usr/bin/quick", "#!/bin/sh\necho hi\n", 0755);
    auto task = std::make_shared<app::Task>();
    auto pipe = std::make_shared<app::Pipe>();
    task->setLaunchPath(QStringLiteral("/usr/bin/quick"));
    task->setStandardOutput(pipe);
    const void* identity = task.get();
    bool ended = false;
    NotificationCenter::defaultCenter().addObserver(this, app::kTaskDidTerminateNotification,
                                                    nullptr, [&](const Notification& n) {
                                                        if (n.object != identity) return;
                                                        ended = true;
                                                        task.reset();
                                                    });
    ASSERT_TRUE(task->launch());
    ASSERT_TRUE(app::testing::waitUntil([&] { return ended; }));
    app::testing::spin(20);
    EXPECT_EQ(pipe->readDataToEndOfFile(), QByteArray("hi\n"));
}

}  // namespace
