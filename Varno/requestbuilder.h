#pragma once
// Builds an executor request (the parameters dictionary) from what a person
// types: an operation, KEY=VALUE assignments, an optional request file and
// the debug switch.
//
// Values are typed by what the operation reads when the key is known to it,
// otherwise by their look: true/false are booleans, whole numbers integers,
// everything else a string. A repeated key, or a comma list (\, for a
// literal comma), makes an array; KEY.NAME=VALUE sets an entry of a nested
// dictionary; KEY=@FILE takes the property list in FILE as the value.

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

#include "operationcatalog.h"

namespace varno {

class RequestBuilder {
  public:
    // The request file's dictionary (XML or binary); nullopt and *error when
    // it cannot be read or holds no dictionary.
    static std::optional<QVariantMap> readRequestFile(const QString& path, QString* error);

    // operation may be null when base already names one. Assignments replace
    // what base holds under the same key. Keys the operation does not read
    // are accepted (the executor ignores them) and listed in *warnings.
    static std::optional<QVariantMap> build(const Operation* operation, const QVariantMap& base,
                                            const QStringList& assignments, bool debug,
                                            QString* error, QStringList* warnings = nullptr);
};

}  // namespace varno
