#include "app/notificationcenter.h"

#include <algorithm>
#include <utility>

namespace app {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(const void* observer, const QString& name, const void* object,
                                     Handler handler) {
    registrations_.push_back({nextId_++, observer, name, object, std::move(handler)});
}

void NotificationCenter::removeObserver(const void* observer) {
    std::erase_if(registrations_,
                  [observer](const Registration& r) { return r.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, const QString& name) {
    std::erase_if(registrations_, [observer, &name](const Registration& r) {
        return r.observer == observer && r.name == name;
    });
}

bool NotificationCenter::isRegistered(unsigned long long id) const {
    return std::any_of(registrations_.begin(), registrations_.end(),
                       [id](const Registration& r) { return r.id == id; });
}

void NotificationCenter::postNotification(const Notification& notification) {
    // Handlers may add or remove registrations (and so move the vector):
    // take the matching ones first and call each only while it stands.
    std::vector<std::pair<unsigned long long, Handler>> matching;
    for (const Registration& r : registrations_) {
        if (!r.name.isEmpty() && r.name != notification.name) continue;
        if (r.object != nullptr && r.object != notification.object) continue;
        matching.emplace_back(r.id, r.handler);
    }
    for (auto& [id, handler] : matching)
        if (isRegistered(id)) handler(notification);
}

void NotificationCenter::postNotificationName(const QString& name, const void* object,
                                              const QVariantMap& userInfo) {
    postNotification(Notification{name, object, userInfo});
}

}  // namespace app
