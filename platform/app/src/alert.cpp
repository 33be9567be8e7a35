#include "app/alert.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <array>

#include "app/application.h"

namespace app {
namespace {

Alert::Responder& responder() {
    static Alert::Responder r;
    return r;
}

constexpr std::array<int, 3> kButtonCodes = {Alert::kDefaultReturn, Alert::kAlternateReturn,
                                             Alert::kOtherReturn};

// Escape and the window's close box answer with the alternate button when
// there is one (it is the "Cancel" of the platform's alerts); otherwise the
// alert can only be answered with a button.
class AlertDialog : public QDialog {
  public:
    bool hasAlternate = false;
    void reject() override {
        if (hasAlternate) done(Alert::kAlternateReturn);
    }
};

}  // namespace

struct Alert::Window {
    AlertDialog dialog;
    QLabel* icon = nullptr;
    QLabel* message = nullptr;
    QLabel* informative = nullptr;
    QVBoxLayout* texts = nullptr;
    QHBoxLayout* buttonRow = nullptr;
    QPointer<QWidget> accessory;
    std::array<QPushButton*, 3> buttons{};
    int buttonCount = 0;
    QPixmap iconPixmap;
};

Alert::Alert() : window_(std::make_unique<Window>()) {
    Window& w = *window_;
    w.dialog.setModal(true);
    w.dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    w.icon = new QLabel;
    w.icon->setFixedSize(64, 64);
    w.icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    w.message = new QLabel;
    QFont bold = w.message->font();
    bold.setBold(true);
    w.message->setFont(bold);
    w.message->setWordWrap(true);
    w.informative = new QLabel;
    w.informative->setWordWrap(true);
    for (QLabel* label : {w.message, w.informative})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    w.message->setTextFormat(Qt::PlainText);
    w.informative->setTextFormat(Qt::PlainText);

    w.texts = new QVBoxLayout;
    w.texts->setSpacing(8);
    w.texts->addWidget(w.message);
    w.texts->addWidget(w.informative);
    w.texts->addStretch(1);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(w.icon, 0, Qt::AlignTop);
    top->addLayout(w.texts, 1);

    // Other button on the far left; alternate, then default on the right.
    w.buttonRow = new QHBoxLayout;
    w.buttonRow->addStretch(1);

    auto* outer = new QVBoxLayout(&w.dialog);
    outer->setContentsMargins(20, 16, 20, 16);
    outer->setSpacing(16);
    outer->addLayout(top);
    outer->addLayout(w.buttonRow);
    w.dialog.setMinimumWidth(420);
}

Alert::~Alert() = default;

std::unique_ptr<Alert> Alert::alertWithMessageText(const QString& messageText,
                                                   const QString& defaultButton,
                                                   const QString& alternateButton,
                                                   const QString& otherButton,
                                                   const QString& informativeText) {
    auto alert = std::make_unique<Alert>();
    alert->setMessageText(messageText);
    alert->setInformativeText(informativeText);
    // Each button keeps its own code, even when one before it is missing:
    // "No" as the other button of a two-button alert still answers -1.
    alert->addButton(defaultButton.isEmpty() ? QStringLiteral("OK") : defaultButton, 0);
    if (!alternateButton.isEmpty()) alert->addButton(alternateButton, 1);
    if (!otherButton.isEmpty()) alert->addButton(otherButton, 2);
    return alert;
}

void Alert::setMessageText(const QString& text) {
    window_->message->setText(text);
}
QString Alert::messageText() const {
    return window_->message->text();
}

void Alert::setInformativeText(const QString& text) {
    window_->informative->setText(text);
    window_->informative->setVisible(!text.isEmpty());
}
QString Alert::informativeText() const {
    return window_->informative->text();
}

void Alert::setWindowTitle(const QString& title) {
    window_->dialog.setWindowTitle(title);
}
QString Alert::windowTitle() const {
    return window_->dialog.windowTitle();
}

void Alert::setIcon(const QPixmap& icon) {
    window_->iconPixmap = icon;
    window_->icon->setPixmap(
        icon.isNull() ? icon : icon.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
QPixmap Alert::icon() const {
    return window_->iconPixmap;
}

void Alert::addButtonWithTitle(const QString& title) {
    Window& w = *window_;
    int role = 0;
    while (role < static_cast<int>(w.buttons.size()) && w.buttons[static_cast<size_t>(role)])
        ++role;
    addButton(title, role);
}

void Alert::addButton(const QString& title, int role) {
    Window& w = *window_;
    if (role < 0 || role >= static_cast<int>(w.buttons.size()) ||
        w.buttons[static_cast<size_t>(role)] != nullptr)
        return;
    const int index = role;
    ++w.buttonCount;
    auto* button = new QPushButton(title);
    button->setMinimumWidth(88);
    const int code = kButtonCodes[static_cast<size_t>(index)];
    QObject::connect(button, &QPushButton::clicked, &w.dialog, [&w, code] { w.dialog.done(code); });
    w.buttons[static_cast<size_t>(index)] = button;
    if (index == 0) {
        button->setDefault(true);
        w.buttonRow->addWidget(button);
    } else if (index == 1) {
        button->setAutoDefault(false);
        w.buttonRow->insertWidget(w.buttonRow->count() - 1, button);
        w.dialog.hasAlternate = true;
    } else {
        button->setAutoDefault(false);
        w.buttonRow->insertWidget(0, button);
        w.buttonRow->insertSpacing(1, 24);
    }
}

QStringList Alert::buttonTitles() const {
    QStringList titles;
    for (QPushButton* button : window_->buttons)
        if (button != nullptr) titles << button->text();
    return titles;
}

void Alert::setAccessoryView(QWidget* view) {
    Window& w = *window_;
    delete w.accessory;
    w.accessory = view;
    if (view != nullptr) w.texts->insertWidget(2, view, 0, Qt::AlignLeft);
}

QWidget* Alert::accessoryView() const {
    return window_->accessory;
}

QDialog* Alert::window() const {
    return &window_->dialog;
}

int Alert::runModal() {
    if (responder()) return responder()(*this);
    // An alert always has a way out.
    if (window_->buttonCount == 0) addButtonWithTitle(QStringLiteral("OK"));
    window_->dialog.adjustSize();
    // Shown by exec; raised once it is up.
    QTimer::singleShot(0, &window_->dialog, [this] { bringToFront(&window_->dialog); });
    return window_->dialog.exec();
}

Alert::Responder Alert::setResponder(Responder r) {
    Responder previous = std::move(responder());
    responder() = std::move(r);
    return previous;
}

}  // namespace app
