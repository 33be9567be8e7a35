#pragma once
// Varno's preferences domain "com.kvxlabs.Varno2" of the user running it,
// read whole and written whole through the application tier, as the agent
// reads and writes it; the last writer wins. Messages name the domain's file
// by its machine path, wherever the system root lies.

#include <QString>
#include <QVariantMap>
#include <optional>

#include "schedule/model.h"
#include "storeerror.h"

namespace varno {

inline constexpr const char* kPreferencesDomain = schedule::kVarnoIdentifier;

// "~/Library/Preferences/com.kvxlabs.Varno2.plist" as a machine path.
QString preferencesPath();

// The domain's dictionary; empty when there is no domain yet. nullopt
// (Unreadable) when something is there that holds no dictionary, so that a
// caller never writes over what it could not understand.
std::optional<QVariantMap> readPreferences(StoreError* error);
bool writePreferences(const QVariantMap& domain, StoreError* error);

// A message of the application tier, which names files by their real paths,
// with the file at `machinePath` named as the machine names it.
QString inMachineTerms(QString message, const QString& machinePath);

}  // namespace varno
