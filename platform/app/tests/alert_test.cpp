// Alerts: the codes of the three buttons when run for real, their places,
// and the responder through which tests answer them.
#include <gtest/gtest.h>

#include <QDateTimeEdit>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

#include "app/alert.h"
#include "app/testing.h"

namespace {

using app::Alert;

QPushButton* buttonTitled(Alert& alert, const QString& title) {
    for (QPushButton* b : alert.window()->findChildren<QPushButton*>())
        if (b->text() == title) return b;
    return nullptr;
}

// Presses a button once the modal loop runs.
void pressLater(Alert& alert, const QString& title) {
    QTimer::singleShot(0, alert.window(), [&alert, title] {
        QPushButton* b = buttonTitled(alert, title);
        if (b != nullptr) b->click();
    });
}

TEST(Alert, ButtonsAnswerOneZeroAndMinusOneWhenRunForReal) {
    app::testing::ensureApplication();
    const std::pair<const char*, int> presses[] = {{"Yes", 1}, {"Cancel", 0}, {"Later", -1}};
    for (const auto& [title, code] : presses) {
        auto alert = Alert::alertWithMessageText("Message", "Yes", "Cancel", "Later", "Details");
        pressLater(*alert, title);
        EXPECT_EQ(alert->runModal(), code) << title;
        EXPECT_FALSE(alert->window()->isVisible());
    }
}

TEST(Alert, AnOtherButtonWithoutAnAlternateStillAnswersMinusOne) {
    app::testing::ensureApplication();
    auto alert = Alert::alertWithMessageText("Message", "Yes", "", "No", "");
    EXPECT_EQ(alert->buttonTitles(), (QStringList{"Yes", "No"}));
    pressLater(*alert, "No");
    EXPECT_EQ(alert->runModal(), Alert::kOtherReturn);
}

TEST(Alert, DefaultOnTheRightOtherOnTheLeft) {
    app::testing::ensureApplication();
    auto alert = Alert::alertWithMessageText("Message", "", "Cancel", "Other", "");
    EXPECT_EQ(alert->buttonTitles(), (QStringList{"OK", "Cancel", "Other"}));
    alert->window()->show();
    const int ok = buttonTitled(*alert, "OK")->geometry().x();
    const int cancel = buttonTitled(*alert, "Cancel")->geometry().x();
    const int other = buttonTitled(*alert, "Other")->geometry().x();
    EXPECT_GT(ok, cancel);
    EXPECT_GT(cancel, other);
    EXPECT_TRUE(buttonTitled(*alert, "OK")->isDefault());
    alert->window()->hide();
}

TEST(Alert, EscapeIsTheAlternateButtonOrNothing) {
    app::testing::ensureApplication();
    auto withCancel = Alert::alertWithMessageText("M", "OK", "Cancel", "", "");
    QTimer::singleShot(0, withCancel->window(), [&] { withCancel->window()->reject(); });
    EXPECT_EQ(withCancel->runModal(), Alert::kAlternateReturn);

    // With a single button Escape leaves the alert up; only the button ends it.
    auto single = Alert::alertWithMessageText("M", "Quit", "", "", "");
    QTimer::singleShot(0, single->window(), [&] {
        single->window()->reject();
        EXPECT_TRUE(single->window()->isVisible());
        buttonTitled(*single, "Quit")->click();
    });
    EXPECT_EQ(single->runModal(), Alert::kDefaultReturn);
}

TEST(Alert, AResponderAnswersInsteadOfTheWindowAndSeesTheAccessory) {
    app::testing::ensureApplication();
    app::testing::AlertScript script;
    const QDateTime chosen = QDateTime::fromSecsSinceEpoch(1300000000);
    script.answer([&](Alert& alert) {
        auto* picker = qobject_cast<QDateTimeEdit*>(alert.accessoryView());
        if (picker == nullptr) return 99;
        picker->setDateTime(chosen);
        return Alert::kDefaultReturn;
    });
    script.answer(Alert::kOtherReturn);

    Alert alert;
    alert.setMessageText("Postpone");
    alert.setInformativeText("Pick a date");
    alert.setWindowTitle("Varno");
    alert.addButtonWithTitle("OK");
    alert.addButtonWithTitle("Cancel");
    alert.addButtonWithTitle("Other");
    alert.addButtonWithTitle("ignored: three at most");
    alert.setAccessoryView(new QDateTimeEdit);
    EXPECT_EQ(alert.runModal(), Alert::kDefaultReturn);
    EXPECT_EQ(qobject_cast<QDateTimeEdit*>(alert.accessoryView())->dateTime(), chosen);
    EXPECT_EQ(alert.runModal(), Alert::kOtherReturn);
    EXPECT_FALSE(alert.window()->isVisible());

    ASSERT_EQ(script.shown().size(), 2u);
    EXPECT_EQ(script.shown()[0].messageText, "Postpone");
    EXPECT_EQ(script.shown()[0].informativeText, "Pick a date");
    EXPECT_EQ(script.shown()[0].windowTitle, "Varno");
    EXPECT_EQ(script.shown()[0].buttons, (QStringList{"OK", "Cancel", "Other"}));
    EXPECT_TRUE(script.shown()[0].hasAccessory);
}

}  // namespace
