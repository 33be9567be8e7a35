#include "queuestore.h"

namespace varno {

QueueStore::QueueStore(UserDefaultsDomain domain) : domain_(std::move(domain)) {}

std::optional<QVariantMap> QueueStore::load(QString* error) const {
    return domain_.read(error);
}

std::optional<QMap<QString, QVariantList>> QueueStore::queues(QString* error) const {
    auto all = load(error);
    if (!all) return std::nullopt;
    QMap<QString, QVariantList> result;
    const QVariantMap stored = all->value(QLatin1String(kQueuesKey)).toMap();
    for (auto it = stored.begin(); it != stored.end(); ++it)
        result.insert(it.key(),
                      it.value().toMap().value(QLatin1String(kConfigurationsKey)).toList());
    return result;
}

std::optional<QVariantList> QueueStore::queue(const QString& name, QString* error) const {
    auto all = queues(error);
    if (!all) return std::nullopt;
    if (!all->contains(name)) {
        *error = QStringLiteral("there is no queue named \"%1\"").arg(name);
        return std::nullopt;
    }
    return all->value(name);
}

int QueueStore::add(const QString& name, const QVariantMap& configuration, QString* error) {
    auto all = load(error);
    if (!all) return 0;
    QVariantMap stored = all->value(QLatin1String(kQueuesKey)).toMap();
    QVariantMap entry = stored.value(name).toMap();
    QVariantList configurations = entry.value(QLatin1String(kConfigurationsKey)).toList();
    configurations.append(configuration);
    entry.insert(QLatin1String(kConfigurationsKey), configurations);
    stored.insert(name, entry);
    all->insert(QLatin1String(kQueuesKey), stored);
    if (!domain_.write(*all, error)) return 0;
    return static_cast<int>(configurations.size());
}

bool QueueStore::remove(const QString& name, int number, QString* error) {
    auto all = load(error);
    if (!all) return false;
    QVariantMap stored = all->value(QLatin1String(kQueuesKey)).toMap();
    if (!stored.contains(name)) {
        *error = QStringLiteral("there is no queue named \"%1\"").arg(name);
        return false;
    }
    if (number == 0) {
        stored.remove(name);
    } else {
        QVariantMap entry = stored.value(name).toMap();
        QVariantList configurations = entry.value(QLatin1String(kConfigurationsKey)).toList();
        if (number < 1 || number > configurations.size()) {
            *error = QStringLiteral("queue \"%1\" has no configuration %2").arg(name).arg(number);
            return false;
        }
        configurations.removeAt(number - 1);
        entry.insert(QLatin1String(kConfigurationsKey), configurations);
        stored.insert(name, entry);
    }
    all->insert(QLatin1String(kQueuesKey), stored);
    return domain_.write(*all, error);
}

}  // namespace varno
