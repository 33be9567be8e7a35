// The agent as a program: started from the application bundle in the build
// tree, on a sandbox root and this test program's private bus.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include "app/propertylistfile.h"
#include "app/testing.h"
#include "host/testing.h"

namespace {

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::usePrivateSessionBus();
        app::testing::ensureApplication();
    }
    host::testing::SandboxRoot root_;
};

TEST_F(ProgramTest, TheBundleIsLaidOutInsideTheMainApplications) {
    const std::string agent =
        host::testing::bundlePath("Contents/Resources/VarnoAgent.app/Contents/MacOS/VarnoAgent");
    const char* program = std::getenv("VARNO_AGENT_PROGRAM");
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program, agent);
    const QString contents = QString::fromStdString(
        host::testing::bundlePath("Contents/Resources/VarnoAgent.app/Contents"));
    app::DictionaryFile info = app::readDictionaryFile(contents + "/Info.plist");
    ASSERT_EQ(info.state, app::FileState::Present);
    EXPECT_EQ(info.dictionary.value("CFBundleExecutable"), "VarnoAgent");
    EXPECT_EQ(info.dictionary.value("CFBundleIdentifier"), "com.kvxlabs.Varno2.agent");
    EXPECT_EQ(QImage(contents + "/Resources/VarnoIcon64.png").size(), QSize(64, 64));
}

TEST_F(ProgramTest, DebugOnlyAsTheFirstArgumentAndQuitsWithNothingScheduled) {
    const char* program = std::getenv("VARNO_AGENT_PROGRAM");
    ASSERT_NE(program, nullptr);
    const struct {
        std::vector<std::string> arguments;
        bool debug;
    } cases[] = {{{"-DEBUG"}, true}, {{}, false}, {{"x", "-DEBUG"}, false}, {{"-debug"}, false}};
    for (const auto& c : cases) {
        host::testing::RunOptions options;
        options.argv = {program};
        options.argv.insert(options.argv.end(), c.arguments.begin(), c.arguments.end());
        options.env = {{"QT_QPA_PLATFORM", "offscreen"}};
        options.timeoutSeconds = 30;
        host::testing::RunResult r = host::testing::run(options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_NE(r.err.find("] Hello from VarnoAgent!\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("VarnoAgentDelegate.cpp:") != std::string::npos &&
                      r.err.find("-[VarnoAgentDelegate registerServer]: VarnoAgent server "
                                 "registered.\n") != std::string::npos,
                  c.debug)
            << r.err;
        EXPECT_EQ(r.err.find("-[VarnoAgentDelegate startScheduleCheckTimer]: No active "
                             "schedules. Quitting...\n") != std::string::npos,
                  c.debug)
            << r.err;
    }
}

TEST(Render, DrawsTheCountdownAndTheDialogs) {
    app::testing::ensureApplication();
    const char* render = std::getenv("VARNO_AGENT_RENDER");
    ASSERT_NE(render, nullptr);
    host::testing::TempDir out;
    host::testing::RunOptions options;
    options.argv = {render, out.path()};
    options.env = {{"QT_QPA_PLATFORM", "offscreen"}};
    host::testing::RunResult r = host::testing::run(options);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    for (const char* name : {"countdown-alert.png", "postpone-dialog.png", "disable-dialog.png"}) {
        QImage image(QString::fromStdString(out.path()) + "/" + name);
        EXPECT_GE(image.width(), 400) << name;
        EXPECT_GE(image.height(), 100) << name;
    }
}

}  // namespace
