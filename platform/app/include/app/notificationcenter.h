#pragma once
// Notification centers: observers register for a notification name (or any
// name) and a posting object (or any object); posting a name calls every
// matching observer at once, on the posting thread, in registration order.
//
// An object is compared by identity only: whoever posts decides what the
// pointer stands for (the task that ended, the workspace, ...), and an
// observer recognises its own by comparing pointers.

#include <QString>
#include <QVariantMap>
#include <functional>
#include <vector>

namespace app {

struct Notification {
    QString name;
    const void* object = nullptr;
    QVariantMap userInfo;
};

class NotificationCenter {
  public:
    using Handler = std::function<void(const Notification& notification)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process's default center.
    static NotificationCenter& defaultCenter();

    // An empty name observes every name; a null object every object. The
    // observer pointer only identifies the registration for removal.
    void addObserver(const void* observer, const QString& name, const void* object,
                     Handler handler);
    // Every registration of the observer, or those for one name.
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, const QString& name);

    // Observers removed by a handler during the post are not called after;
    // observers added during it are called from the next post on.
    void postNotification(const Notification& notification);
    void postNotificationName(const QString& name, const void* object = nullptr,
                              const QVariantMap& userInfo = {});

  private:
    struct Registration {
        unsigned long long id;
        const void* observer;
        QString name;
        const void* object;
        Handler handler;
    };
    bool isRegistered(unsigned long long id) const;

    std::vector<Registration> registrations_;
    unsigned long long nextId_ = 1;
};

}  // namespace app
