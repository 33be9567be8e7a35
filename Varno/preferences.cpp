#include "preferences.h"

#include "app/userdefaults.h"

namespace varno {

QString inMachineTerms(QString message, const QString& machinePath) {
    return message.replace(app::realPathForMachinePath(machinePath), machinePath);
}

QString preferencesPath() {
    return app::persistentDomainPath(QLatin1String(kPreferencesDomain));
}

std::optional<QVariantMap> readPreferences(StoreError* error) {
    app::DictionaryFile file = app::persistentDomainForName(QLatin1String(kPreferencesDomain));
    if (file.state != app::FileState::Unreadable) return std::move(file.dictionary);
    *error = {StoreError::Kind::Unreadable, inMachineTerms(file.error, preferencesPath())};
    return std::nullopt;
}

bool writePreferences(const QVariantMap& domain, StoreError* error) {
    QString message;
    if (app::setPersistentDomain(domain, QLatin1String(kPreferencesDomain), &message)) return true;
    *error = {StoreError::Kind::WriteFailed, inMachineTerms(message, preferencesPath())};
    return false;
}

}  // namespace varno
