#include "preferences.h"

#include "app/userdefaults.h"

namespace varno {

namespace {

// The application tier speaks of real paths; Varno's output of machine paths.
QString inMachineTerms(QString message) {
    const QString machine = preferencesPath();
    return message.replace(app::realPathForMachinePath(machine), machine);
}

}  // namespace

QString preferencesPath() {
    return app::persistentDomainPath(QLatin1String(kPreferencesDomain));
}

std::optional<QVariantMap> readPreferences(StoreError* error) {
    app::DictionaryFile file = app::persistentDomainForName(QLatin1String(kPreferencesDomain));
    if (file.state != app::FileState::Unreadable) return std::move(file.dictionary);
    *error = {StoreError::Kind::Unreadable, inMachineTerms(file.error)};
    return std::nullopt;
}

bool writePreferences(const QVariantMap& domain, StoreError* error) {
    QString message;
    if (app::setPersistentDomain(domain, QLatin1String(kPreferencesDomain), &message)) return true;
    *error = {StoreError::Kind::WriteFailed, inMachineTerms(message)};
    return false;
}

}  // namespace varno
