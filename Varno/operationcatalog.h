#pragma once
// The executor's operations as Varno offers them: identifier, short alias,
// the title shown beside the progress bar, and the request keys each reads
// with their types (used to type KEY=VALUE arguments and to size the
// progress of operations that report increments only).

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace varno {

enum class KeyType {
    Boolean,
    Integer,
    String,
    StringArray,
    BooleanDictionary,  // names mapped to true, e.g. the languages to remove
    Dictionary,
};

struct KeySpec {
    const char* name;
    KeyType type;
    // Progress the operation reports, as increments, when this boolean key
    // is true; 0 when it reports none for it.
    double increment = 0;
};

struct Operation {
    const char* identifier;
    const char* alias;
    const char* title;
    QList<KeySpec> keys;

    const KeySpec* key(const QString& name) const;
    // Sum of the increments the request's true keys announce; 0 when the
    // operation reports positions (or nothing) instead.
    double expectedIncrements(const QVariantMap& request) const;
};

inline constexpr const char* kIdentifierKey = "KVXAEIdentifierAuthExecConfigurationKey";
inline constexpr const char* kDebugKey = "KVXAEDebugAuthExecConfigurationKey";
inline constexpr const char* kRecordTagKey = "KVXAEDictionaryIdentifierAuthExecOutputIdentifier";
inline constexpr const char* kTotalSizeRemovedKey =
    "KVXAETotalSizeRemovedAuthExecDictionaryOutputKey";
inline constexpr const char* kSetuidRootIdentifier = "KVXAESetuidrootAuthExec";
inline constexpr const char* kAuthExecRight = "com.kvxlabs.Varno.authExec";

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
