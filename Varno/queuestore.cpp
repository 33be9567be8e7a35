#include "queuestore.h"

namespace varno {

namespace {

StoreError noSuchQueue(const QString& name) {
    return {StoreError::Kind::NoSuchQueue,
            QStringLiteral("there is no queue named \"%1\"").arg(name)};
}

}  // namespace

std::optional<QMap<QString, QVariantList>> QueueStore::queues(StoreError* error) const {
    auto all = readPreferences(error);
    if (!all) return std::nullopt;
    QMap<QString, QVariantList> result;
    const QVariantMap stored = all->value(QLatin1String(kQueuesKey)).toMap();
    for (auto it = stored.begin(); it != stored.end(); ++it)
        result.insert(it.key(),
                      it.value().toMap().value(QLatin1String(kConfigurationsKey)).toList());
    return result;
}

std::optional<QVariantList> QueueStore::queue(const QString& name, StoreError* error) const {
    auto all = queues(error);
    if (!all) return std::nullopt;
    if (!all->contains(name)) {
        *error = noSuchQueue(name);
        return std::nullopt;
    }
    return all->value(name);
}

int QueueStore::add(const QString& name, const QVariantMap& configuration, StoreError* error) {
    auto all = readPreferences(error);
    if (!all) return 0;
    QVariantMap stored = all->value(QLatin1String(kQueuesKey)).toMap();
    QVariantMap entry = stored.value(name).toMap();
    QVariantList configurations = entry.value(QLatin1String(kConfigurationsKey)).toList();
    configurations.append(configuration);
    entry.insert(QLatin1String(kConfigurationsKey), configurations);
    stored.insert(name, entry);
    all->insert(QLatin1String(kQueuesKey), stored);
    if (!writePreferences(*all, error)) return 0;
    return static_cast<int>(configurations.size());
}

bool QueueStore::remove(const QString& name, int number, StoreError* error) {
    auto all = readPreferences(error);
    if (!all) return false;
    QVariantMap stored = all->value(QLatin1String(kQueuesKey)).toMap();
    if (!stored.contains(name)) {
        *error = noSuchQueue(name);
        return false;
    }
    if (number == 0) {
        stored.remove(name);
    } else {
        QVariantMap entry = stored.value(name).toMap();
        QVariantList configurations = entry.value(QLatin1String(kConfigurationsKey)).toList();
        if (number < 1 || number > configurations.size()) {
            *error = {StoreError::Kind::NoSuchConfiguration,
                      QStringLiteral("queue \"%1\" has no configuration %2").arg(name).arg(number)};
            return false;
        }
        configurations.removeAt(number - 1);
        entry.insert(QLatin1String(kConfigurationsKey), configurations);
        stored.insert(name, entry);
    }
    all->insert(QLatin1String(kQueuesKey), stored);
    return writePreferences(*all, error);
}

}  // namespace varno
