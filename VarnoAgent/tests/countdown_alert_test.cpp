// The countdown window: exact steps, the end code, buttons that end it for
// good, and a second showing that changes nothing.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <vector>

#include "CountdownAlert.h"
#include "app/testing.h"

namespace {

class Recorder : public CountdownAlertDelegate {
  public:
    void countdownWindowDidCloseWithReturnCode(qint64 code) override { outcomes.push_back(code); }
    std::vector<qint64> outcomes;
    int ticks = 0;
};

class CountdownAlertTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::ensureApplication();
        alert_ = std::make_unique<CountdownAlert>();
        alert_->setDelegate(&recorder_);
        alert_->setTickInterval(2);
    }
    void TearDown() override { alert_.reset(); }

    // Starts a showing and counts its ticks, collecting the text after each.
    void start(quint64 seconds, const QString& format) {
        alert_->setCountdownTime(seconds);
        alert_->setInformativeTextFormat(format);
        alert_->restartTimerAndShowWindow();
        texts_ << text();
        QObject::connect(alert_->timer(), &QTimer::timeout, alert_.get(), [this] {
            ++recorder_.ticks;
            texts_ << text();
        });
    }
    QString text() const { return alert_->informativeTextTextField()->text(); }

    Recorder recorder_;
    std::unique_ptr<CountdownAlert> alert_;
    QStringList texts_;
};

TEST_F(CountdownAlertTest, ShowsTheFullTimeCountsToOneAndEndsWithZero) {
    start(3, "Starts in %d seconds...");
    EXPECT_TRUE(alert_->window()->isVisible());
    ASSERT_TRUE(app::testing::waitUntil([&] { return !recorder_.outcomes.empty(); }));
    app::testing::spin(30);  // nothing more may follow
    ASSERT_EQ(recorder_.outcomes.size(), 1u);
    EXPECT_EQ(recorder_.outcomes[0], 0);
    // The third tick ended it: the window had shown 3, 2 and 1.
    EXPECT_EQ(texts_, (QStringList{"Starts in 3 seconds...", "Starts in 2 seconds...",
                                   "Starts in 1 seconds...", "Starts in 1 seconds..."}));
    EXPECT_EQ(recorder_.ticks, 3);
    EXPECT_FALSE(alert_->window()->isVisible());
    EXPECT_FALSE(alert_->timer()->isActive());
    EXPECT_EQ(alert_->currentCountdownTimeRemaining(), 0u);
}

TEST_F(CountdownAlertTest, AButtonEndsItForGoodWithItsCode) {
    const std::pair<QPushButton* (CountdownAlert::*)() const, qint64> buttons[] = {
        {&CountdownAlert::firstButton, 1},
        {&CountdownAlert::secondButton, 2},
        {&CountdownAlert::thirdButton, 3},
    };
    for (const auto& [button, code] : buttons) {
        recorder_.outcomes.clear();
        recorder_.ticks = 0;
        start(3, "%d");
        ASSERT_TRUE(app::testing::waitUntil([&] { return recorder_.ticks >= 1; }));
        (alert_.get()->*button)()->click();
        app::testing::spin(40);  // longer than the rest of the countdown
        ASSERT_EQ(recorder_.outcomes.size(), 1u) << code;
        EXPECT_EQ(recorder_.outcomes[0], code);
        EXPECT_FALSE(alert_->window()->isVisible());
    }
}

TEST_F(CountdownAlertTest, ASecondShowingWhileShownChangesNothing) {
    start(5, "%d left");
    ASSERT_TRUE(app::testing::waitUntil([&] { return recorder_.ticks >= 1; }));
    alert_->timer()->stop();  // hold the countdown still while looking at it
    QTimer* running = alert_->timer();
    const quint64 remaining = alert_->currentCountdownTimeRemaining();
    alert_->restartTimerAndShowWindow();
    EXPECT_EQ(alert_->timer(), running);
    EXPECT_EQ(alert_->currentCountdownTimeRemaining(), remaining);
    EXPECT_EQ(text(), QString("%1 left").arg(remaining));
    running->start();
    ASSERT_TRUE(app::testing::waitUntil([&] { return !recorder_.outcomes.empty(); }));
    app::testing::spin(20);
    ASSERT_EQ(recorder_.outcomes.size(), 1u);
    EXPECT_EQ(recorder_.ticks, 5);
}

TEST_F(CountdownAlertTest, AFormatWithoutSecondsShowsTheSameTextThroughout) {
    start(3, "Get ready");
    ASSERT_TRUE(app::testing::waitUntil([&] { return !recorder_.outcomes.empty(); }));
    EXPECT_EQ(texts_.size(), 4);
    EXPECT_EQ(texts_.removeDuplicates(), 3);
    EXPECT_EQ(texts_, QStringList{"Get ready"});
}

TEST_F(CountdownAlertTest, ANewFormatShowsTheFullTimeAndTheNextShowingStartsOver) {
    start(2, "%d");
    ASSERT_TRUE(app::testing::waitUntil([&] { return !recorder_.outcomes.empty(); }));
    EXPECT_EQ(text(), "1");
    alert_->setInformativeTextFormat("again in %d");
    EXPECT_EQ(text(), "again in 2");
    recorder_.outcomes.clear();
    alert_->restartTimerAndShowWindow();
    EXPECT_EQ(alert_->currentCountdownTimeRemaining(), 2u);
    ASSERT_TRUE(app::testing::waitUntil([&] { return !recorder_.outcomes.empty(); }));
    EXPECT_EQ(recorder_.outcomes[0], 0);
}

TEST_F(CountdownAlertTest, AZeroLengthEndsAtTheFirstStep) {
    start(0, "%d");
    ASSERT_TRUE(app::testing::waitUntil([&] { return !recorder_.outcomes.empty(); }));
    EXPECT_EQ(recorder_.outcomes[0], 0);
    EXPECT_EQ(recorder_.ticks, 1);
}

TEST_F(CountdownAlertTest, StartNowIsTheDefaultOnTheRight) {
    alert_->firstButton()->setText("Start Now");
    alert_->secondButton()->setText("Postpone");
    alert_->thirdButton()->setText("Disable");
    alert_->setTitle("Varno");
    alert_->setText("Scheduled Queue");
    start(30, "%d");
    EXPECT_EQ(alert_->window()->windowTitle(), "Varno");
    EXPECT_TRUE(alert_->titleTextField()->font().bold());
    EXPECT_TRUE(alert_->firstButton()->isDefault());
    EXPECT_GT(alert_->firstButton()->x(), alert_->secondButton()->x());
    EXPECT_GT(alert_->secondButton()->x(), alert_->thirdButton()->x());
    EXPECT_LT(alert_->iconImageView()->x(), alert_->titleTextField()->x());
    // Escape does not end the countdown.
    alert_->window()->reject();
    EXPECT_TRUE(alert_->window()->isVisible());
}

}  // namespace
