#pragma once
// Schedule configurations, kept in the preferences domain "com.kvxlabs.Varno2"
// where the agent reads them:
//
//   Configurations  dictionary
//     Schedule      array of schedule configurations:
//       ConfigurationName  string, the configuration's identity
//       QueueName          string, the queue (of "Queues") to run
//       Enabled            boolean
//       NextExecution      date
//       Interval           integer code (timeIntervalForScheduleInterval)
//   AutomaticExecution  dictionary: HardRestartQueueEnabled,
//                       SMARTStatusMonitorEnabled, HardRestartQueueName
//   AutorestartedQueueConfig  the report of a queue run before a restart
//
// Entries are read the way the agent reads them: a boolean is a true boolean
// or a non-zero number, anything of the wrong type counts as absent. Every
// change reads the whole domain afresh and writes it back whole; a domain
// that cannot be read, or whose "Configurations" or "Schedule" is of the
// wrong type, is never written.

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

#include "preferences.h"
#include "schedule/model.h"

namespace varno {

// The keys, the typed readers and the interval table are the ones the agent
// reads with.
namespace schedulekeys = schedule::keys;
using schedule::anyScheduleEnabled;
using schedule::startupChecksEnabled;
using schedule::timeIntervalForScheduleInterval;

// The first date later than now that `next` reaches in whole intervals;
// `next` itself when it is later than now already. nullopt for an interval
// of no length, which never reaches the future.
std::optional<QDateTime> advancedExecution(const QDateTime& next, double intervalSeconds,
                                           const QDateTime& now);

// "2026-12-24 03:00:00 UTC".
QString scheduleDateText(const QDateTime& date);

// Typed reading of one configuration (a wrong type counts as absent; a
// missing name is "").
bool preferenceBoolean(const QVariant& value);
QString configurationName(const QVariant& configuration);
QString scheduledQueueName(const QVariant& configuration);
bool isScheduleEnabled(const QVariant& configuration);
std::optional<QDateTime> nextExecution(const QVariant& configuration);
// 0 (as for a missing number) when it is no number; -1 beyond an int.
int intervalCode(const QVariant& configuration);

// What advancing a configuration after its run did.
enum class AdvanceResult {
    Advanced,       // "NextExecution" moved to the first future date
    AlreadyFuture,  // someone moved it already: left alone
    Disabled,       // no repetition (unknown code): the schedule is disabled
    NotFound,       // no configuration of that name: nothing written
};

class ScheduleStore {
  public:
    // The whole domain; nullopt (with *error) when it cannot be read.
    std::optional<QVariantMap> read(StoreError* error) const;
    // "Configurations" -> "Schedule"; empty when missing.
    std::optional<QVariantList> schedules(StoreError* error) const;

    // Appends a configuration; refuses a name in use.
    bool add(const QVariantMap& configuration, StoreError* error);
    bool setEnabled(const QString& name, bool enabled, StoreError* error);
    bool remove(const QString& name, StoreError* error);

    // After the configuration's queue ran: moves its "NextExecution" on by
    // its interval to the first date after now.
    std::optional<AdvanceResult> advanceAfterRun(const QString& name, const QDateTime& now,
                                                 StoreError* error);
    // Removes "AutorestartedQueueConfig" (nothing is written when it is absent).
    bool removeAutorestartedReport(StoreError* error);

  private:
    // Reads the domain and its schedule array for a change.
    bool loadForChange(QVariantMap* all, QVariantList* schedule, StoreError* error) const;
    bool store(QVariantMap all, const QVariantList& schedule, StoreError* error) const;
    // Index of the first configuration named so, or -1.
    static int indexOf(const QVariantList& schedule, const QString& name);
};

}  // namespace varno
