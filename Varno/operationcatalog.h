#pragma once
// The executor's operations as Varno offers them: identifier, short alias,
// the title shown beside the progress bar, and the request keys each reads
// with their types (used to type KEY=VALUE arguments and to size the
// progress of operations that report increments only). All of it comes from
// the executor's contract.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <string_view>

#include "contract/executor.h"

namespace varno {

using contract::KeyType;

// The executor's contract in Qt's terms; the strings are copies of it.
struct KeySpec {
    QByteArray name;
    KeyType type;
    // Progress the operation reports, as increments, when this boolean key
    // is true; 0 when it reports none for it.
    double increment = 0;
};

struct Operation {
    QByteArray identifier;
    QByteArray alias;
    QByteArray title;
    QList<KeySpec> keys;
    const contract::Operation* contract = nullptr;

    const KeySpec* key(const QString& name) const;
    // Sum of the increments the request's true keys announce; 0 when the
    // operation reports positions (or nothing) instead.
    double expectedIncrements(const QVariantMap& request) const;
};

// A string of the contract (all of them ASCII) as Qt text.
inline QString contractText(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

inline constexpr const char* kIdentifierKey = contract::kIdentifierKey.data();
inline constexpr const char* kDebugKey = contract::kDebugKey.data();
inline constexpr const char* kRecordTagKey = contract::kRecordTagKey.data();
inline constexpr const char* kTotalSizeRemovedKey = contract::kTotalSizeRemovedKey.data();
inline constexpr const char* kSetuidRootIdentifier = contract::kSetuidRootIdentifier.data();
inline constexpr const char* kAuthExecRight = contract::kAuthExecRight.data();

class OperationCatalog {
  public:
    static const QList<Operation>& all();
    // By identifier or alias, exactly as written; nullptr when unknown.
    static const Operation* find(const QString& nameOrAlias);
    // A title for any identifier, known or not.
    static QString titleFor(const QString& identifier);
    // "alias (identifier)" lines for messages that list what is known.
    static QString knownOperationsText();
};

}  // namespace varno
