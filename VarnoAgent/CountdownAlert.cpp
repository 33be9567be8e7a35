#include "CountdownAlert.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/format.h"

namespace {

// The window ends only through the countdown or a button: Escape and the
// window's close box do nothing.
class CountdownWindow : public QDialog {
  public:
    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (event->spontaneous())
            event->ignore();
        else
            QDialog::closeEvent(event);
    }
};

}  // namespace

CountdownAlert::CountdownAlert(QObject* parent) : QObject(parent) {
    window_ = new CountdownWindow;
    window_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window_->setModal(false);

    iconImageView_ = new QLabel;
    iconImageView_->setFixedSize(64, 64);
    iconImageView_->setAlignment(Qt::AlignCenter);
    titleTextField_ = new QLabel;
    QFont bold = titleTextField_->font();
    bold.setBold(true);
    titleTextField_->setFont(bold);
    informativeTextTextField_ = new QLabel;
    for (QLabel* label : {titleTextField_, informativeTextTextField_}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
    }

    auto* texts = new QVBoxLayout;
    texts->setSpacing(8);
    texts->addWidget(titleTextField_);
    texts->addWidget(informativeTextTextField_);
    texts->addStretch(1);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(iconImageView_, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    firstButton_ = new QPushButton;
    secondButton_ = new QPushButton;
    thirdButton_ = new QPushButton;
    firstButton_->setDefault(true);
    secondButton_->setAutoDefault(false);
    thirdButton_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {thirdButton_, secondButton_, firstButton_}) {
        b->setMinimumWidth(96);
        buttons->addWidget(b);
    }
    connect(firstButton_, &QPushButton::clicked, this, [this] { firstButton(firstButton_); });
    connect(secondButton_, &QPushButton::clicked, this, [this] { secondButton(secondButton_); });
    connect(thirdButton_, &QPushButton::clicked, this, [this] { thirdButton(thirdButton_); });

    auto* outer = new QVBoxLayout(window_);
    outer->setContentsMargins(20, 18, 20, 16);
    outer->setSpacing(18);
    outer->addLayout(top);
    outer->addLayout(buttons);
    window_->setFixedWidth(480);
    window_->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window_->move(screen->availableGeometry().center() - window_->rect().center());
}

CountdownAlert::~CountdownAlert() {
    if (timer_) timer_->stop();
    delete timer_;
    delete window_;
}

QDialog* CountdownAlert::window() const {
    return window_;
}

void CountdownAlert::setTitle(const QString& title) {
    window_->setWindowTitle(title);
}

void CountdownAlert::setText(const QString& text) {
    titleTextField_->setText(text);
}

void CountdownAlert::setIcon(const QPixmap& icon) {
    iconImageView_->setPixmap(
        icon.isNull() ? icon : icon.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void CountdownAlert::setInformativeTextFormat(const QString& format) {
    informativeTextFormat_ = format;
    showRemaining(countdownTime_);
}

void CountdownAlert::setTimer(QTimer* timer) {
    if (timer_ == timer) return;
    if (timer_) {
        timer_->stop();
        // It may be the timer whose signal is being delivered right now.
        timer_->deleteLater();
    }
    timer_ = timer;
    if (timer != nullptr) timer->setParent(this);
}

void CountdownAlert::showRemaining(quint64 seconds) {
    informativeTextTextField_->setText(
        app::format(informativeTextFormat_, {QVariant::fromValue(seconds)}));
}

void CountdownAlert::restartTimerAndShowWindow() {
    if (window_->isVisible()) return;
    currentCountdownTimeRemaining_ = countdownTime_;
    showRemaining(currentCountdownTimeRemaining_);
    auto* timer = new QTimer;
    timer->setInterval(tickInterval_);
    connect(timer, &QTimer::timeout, this, [this, timer] { tick(timer); });
    setTimer(timer);
    timer->start();
    window_->show();
    app::bringToFront(window_);
}

void CountdownAlert::tick(QTimer* timer) {
    // A zero length ends at the first step instead of counting from the top
    // of the range.
    if (currentCountdownTimeRemaining_ > 0) --currentCountdownTimeRemaining_;
    if (currentCountdownTimeRemaining_ != 0) {
        showRemaining(currentCountdownTimeRemaining_);
        return;
    }
    if (timer != nullptr) timer->stop();
    window_->hide();
    if (delegate_ != nullptr) delegate_->countdownWindowDidCloseWithReturnCode(0);
}

void CountdownAlert::finish(qint64 returnCode) {
    if (timer_) timer_->stop();
    window_->hide();
    if (delegate_ != nullptr) delegate_->countdownWindowDidCloseWithReturnCode(returnCode);
}

void CountdownAlert::firstButton(QObject*) {
    finish(1);
}
void CountdownAlert::secondButton(QObject*) {
    finish(2);
}
void CountdownAlert::thirdButton(QObject*) {
    finish(3);
}
