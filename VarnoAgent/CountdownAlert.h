#pragma once
// An alert-like window with a live countdown and three buttons. It closes
// when the countdown runs out or a button is pressed, and tells its delegate
// which of the four happened. Texts, buttons, icon and length are its user's.

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "CountdownAlertDelegate.h"

class QDialog;
class QLabel;
class QPushButton;

class CountdownAlert : public QObject {
    Q_OBJECT
  public:
    // Builds the window at once and centres it on the screen.
    explicit CountdownAlert(QObject* parent = nullptr);
    ~CountdownAlert() override;

    QDialog* window() const;

    void setTitle(const QString& title);
    void setText(const QString& text);
    void setIcon(const QPixmap& icon);
    // Holds one "%d" for the seconds left; shown at once with countdownTime.
    void setInformativeTextFormat(const QString& format);
    QString informativeTextFormat() const { return informativeTextFormat_; }

    void setCountdownTime(quint64 seconds) { countdownTime_ = seconds; }
    quint64 countdownTime() const { return countdownTime_; }
    void setCurrentCountdownTimeRemaining(quint64 seconds) {
        currentCountdownTimeRemaining_ = seconds;
    }
    quint64 currentCountdownTimeRemaining() const { return currentCountdownTimeRemaining_; }

    // The alert owns its timer; a replaced one is stopped and deleted.
    void setTimer(QTimer* timer);
    QTimer* timer() const { return timer_; }

    // Not owned.
    void setDelegate(CountdownAlertDelegate* delegate) { delegate_ = delegate; }
    CountdownAlertDelegate* delegate() const { return delegate_; }

    QLabel* titleTextField() const { return titleTextField_; }
    QLabel* informativeTextTextField() const { return informativeTextTextField_; }
    QLabel* iconImageView() const { return iconImageView_; }
    QPushButton* firstButton() const { return firstButton_; }
    QPushButton* secondButton() const { return secondButton_; }
    QPushButton* thirdButton() const { return thirdButton_; }

    // Starts the countdown and shows the window; does nothing while it is shown.
    void restartTimerAndShowWindow();
    // One step of the countdown, from the timer that fires it.
    void tick(QTimer* timer);
    // The button actions.
    void firstButton(QObject* sender);
    void secondButton(QObject* sender);
    void thirdButton(QObject* sender);

    // Milliseconds per countdown step: a second, unless a test wants it quicker.
    void setTickInterval(int milliseconds) { tickInterval_ = milliseconds; }
    int tickInterval() const { return tickInterval_; }

  private:
    void showRemaining(quint64 seconds);
    void finish(qint64 returnCode);

    QDialog* window_ = nullptr;  // owned, deleted with the alert
    QLabel* titleTextField_ = nullptr;
    QLabel* informativeTextTextField_ = nullptr;
    QLabel* iconImageView_ = nullptr;
    QPushButton* firstButton_ = nullptr;
    QPushButton* secondButton_ = nullptr;
    QPushButton* thirdButton_ = nullptr;

    CountdownAlertDelegate* delegate_ = nullptr;
    QPointer<QTimer> timer_;
    QString informativeTextFormat_;
    quint64 countdownTime_ = 0;
    quint64 currentCountdownTimeRemaining_ = 0;
    int tickInterval_ = 1000;
};
