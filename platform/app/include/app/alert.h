#pragma once
// An alert: an icon, a bold message, an informative text, an optional
// accessory widget and up to three buttons, run modally. The return codes are
// the platform's for alerts made with a default, an alternate and an other
// button: 1, 0 and -1.
//
// Tests answer alerts through a responder instead of showing them: while one
// is set, runModal hands the alert to it and returns what it returns.

#include <QPixmap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QDialog;
class QWidget;

namespace app {

class Alert {
  public:
    static constexpr int kDefaultReturn = 1;
    static constexpr int kAlternateReturn = 0;
    static constexpr int kOtherReturn = -1;

    Alert();
    ~Alert();
    Alert(const Alert&) = delete;
    Alert& operator=(const Alert&) = delete;

    // The platform's convenience form: an empty default title gives "OK";
    // empty alternate and other titles add no button.
    static std::unique_ptr<Alert> alertWithMessageText(const QString& messageText,
                                                       const QString& defaultButton,
                                                       const QString& alternateButton,
                                                       const QString& otherButton,
                                                       const QString& informativeText);

    void setMessageText(const QString& text);
    QString messageText() const;
    void setInformativeText(const QString& text);
    QString informativeText() const;
    void setWindowTitle(const QString& title);
    QString windowTitle() const;
    void setIcon(const QPixmap& icon);
    QPixmap icon() const;

    // The first button added is the default one (code 1), the second the
    // alternate (0), the third the other (-1); further ones are ignored.
    void addButtonWithTitle(const QString& title);
    QStringList buttonTitles() const;

    // The alert takes ownership of the view.
    void setAccessoryView(QWidget* view);
    QWidget* accessoryView() const;

    int runModal();

    // The alert's window as it would be shown (for pictures of it).
    QDialog* window() const;

    using Responder = std::function<int(Alert& alert)>;
    // Returns the responder it replaces; an empty one shows alerts again.
    static Responder setResponder(Responder responder);

  private:
    // role: 0 default, 1 alternate, 2 other.
    void addButton(const QString& title, int role);

    struct Window;
    std::unique_ptr<Window> window_;
};

}  // namespace app
