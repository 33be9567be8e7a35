#include "KVXFoundation/KVXNSStringAdditions.h"

#include <QStringList>
#include <array>

namespace KVXNSStringAdditions {
namespace {

constexpr std::array<const char*, 11> kWords = {"zero", "one",   "two",   "three", "four", "five",
                                                "six",  "seven", "eight", "nine",  "ten"};

}  // namespace

QString stringWithNewLineBreak(const QString& string) {
    return string + QLatin1Char('\n');
}

QString stringByDeletingLastLine(const QString& string) {
    QStringList pieces = string.split(QLatin1Char('\n'));
    pieces.removeLast();
    QString result;
    for (const QString& piece : pieces) result += piece + QLatin1Char('\n');
    return result;
}

QString stringToFirstLineBreak(const QString& string) {
    const qsizetype end = string.indexOf(QLatin1Char('\n'));
    return end < 0 ? string : string.left(end);
}

bool endsInLineBreak(const QString& string) {
    return string.endsWith(QLatin1Char('\n'));
}

bool containsSubstring(const QString& string, const QString& substring) {
    return !substring.isEmpty() && string.contains(substring);
}

QString properStringForInt(qint32 value, bool capitalized, bool noForZero) {
    if (value < 0 || value > 10) return QString::number(value);
    QString word = QString::fromLatin1(value == 0 && noForZero ? "no" : kWords[value]);
    if (capitalized) word[0] = word[0].toUpper();
    return word;
}

}  // namespace KVXNSStringAdditions
