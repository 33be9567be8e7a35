#include "AgentDebug.h"

#include <cstring>

#include "app/log.h"

bool KVXDEBUG = false;

bool debugFlagForArguments(int argc, const char* const* argv) {
    return argc > 1 && argv[1] != nullptr && std::strcmp(argv[1], "-DEBUG") == 0;
}

void _DLog(const QString& format, const QVariantList& arguments) {
    if (KVXDEBUG) app::NSLogv(format, arguments);
}

namespace {

// The later parts of the selectors of methods with more than one argument:
// the compiler's name keeps only the first.
struct SelectorParts {
    const char* method;
    const char* rest;
};
constexpr SelectorParts kSelectorParts[] = {
    {"waitingActionFromAction", "contextInfo:"},
    {"promptVarnoToPerformAction", "contextInfo:"},
};

}  // namespace

QString methodNameForFunction(const char* prettyFunction) {
    QString text = QString::fromLatin1(prettyFunction);
    const bool isStatic = text.startsWith(QStringLiteral("static "));
    const qsizetype open = text.indexOf('(');
    if (open < 0) return text;
    // The qualified name is the last word before the parameter list.
    QString qualified = text.left(open);
    qualified = qualified.mid(qualified.lastIndexOf(' ') + 1);
    const qsizetype scope = qualified.lastIndexOf(QStringLiteral("::"));
    if (scope < 0) return qualified;
    const QString method = qualified.mid(scope + 2);
    QString owner = qualified.left(scope);
    owner = owner.mid(owner.lastIndexOf(QStringLiteral("::")) + 1);
    if (owner.startsWith(':')) owner.remove(0, 1);
    // One colon per parameter, as selectors have.
    int parameters = 0;
    int depth = 0;
    bool any = false;
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '(' || c == '<') ++depth;
        if ((c == ')' || c == '>') && depth-- == 0) break;
        if (!c.isSpace()) any = true;
        if (c == ',' && depth == 0) ++parameters;
    }
    if (any) ++parameters;
    QString selector = method + QString(parameters, ':');
    for (const SelectorParts& parts : kSelectorParts)
        if (parameters > 1 && method == QLatin1String(parts.method))
            selector = method + ':' + QLatin1String(parts.rest);
    return QStringLiteral("%1[%2 %3]").arg(isStatic ? '+' : '-').arg(owner, selector);
}
