#pragma once
// Queues of maintenance configurations, kept in the preferences domain
// "com.kvxlabs.Varno2" of the user running Varno, beside the entries the
// agent reads:
//
//   Queues  dictionary: queue name -> { Configurations: array of requests }
//
// A configuration is the executor request itself (identifier and keys).
// Every change reads the whole domain and writes it back whole, keeping
// every other entry as it was.

#include <QMap>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

#include "preferences.h"

namespace varno {

class QueueStore {
  public:
    // Queue name -> its configurations; nullopt when the domain is unreadable.
    std::optional<QMap<QString, QVariantList>> queues(StoreError* error) const;
    std::optional<QVariantList> queue(const QString& name, StoreError* error) const;

    // Appends a configuration, creating the queue when it is new. Returns the
    // configuration's number (from 1), or 0 on failure.
    int add(const QString& name, const QVariantMap& configuration, StoreError* error);
    // Removes the whole queue (number 0) or one configuration (from 1).
    bool remove(const QString& name, int number, StoreError* error);

    static constexpr const char* kQueuesKey = "Queues";
    static constexpr const char* kConfigurationsKey = "Configurations";
};

}  // namespace varno
