#include "operationcatalog.h"

namespace varno {

namespace {

QByteArray bytes(std::string_view s) {
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

QList<Operation> makeCatalog() {
    QList<Operation> catalog;
    for (const contract::Operation& c : contract::kOperations) {
        Operation op{bytes(c.identifier), bytes(c.alias), bytes(c.title), {}, &c};
        for (const contract::Key& k : c.keys) op.keys.append({bytes(k.name), k.type, k.increment});
        catalog.append(op);
    }
    return catalog;
}

}  // namespace

const KeySpec* Operation::key(const QString& name) const {
    for (const KeySpec& k : keys)
        if (name == QLatin1String(k.name)) return &k;
    return nullptr;
}

double Operation::expectedIncrements(const QVariantMap& request) const {
    double sum = 0;
    for (const KeySpec& k : keys) {
        if (k.increment <= 0) continue;
        const QVariant v = request.value(QLatin1String(k.name));
        if (v.typeId() == QMetaType::Bool && v.toBool()) sum += k.increment;
    }
    return sum;
}

const QList<Operation>& OperationCatalog::all() {
    static const QList<Operation> catalog = makeCatalog();
    return catalog;
}

const Operation* OperationCatalog::find(const QString& nameOrAlias) {
    for (const Operation& op : all())
        if (nameOrAlias == QLatin1String(op.identifier) || nameOrAlias == QLatin1String(op.alias))
            return &op;
    return nullptr;
}

QString OperationCatalog::titleFor(const QString& identifier) {
    const Operation* op = find(identifier);
    return op ? QString::fromLatin1(op->title) : identifier;
}

QString OperationCatalog::knownOperationsText() {
    QString text;
    for (const Operation& op : all())
        text += QStringLiteral("  %1  (%2)\n")
                    .arg(QString::fromLatin1(op.alias), -27)
                    .arg(QString::fromLatin1(op.identifier));
    return text;
}

}  // namespace varno
