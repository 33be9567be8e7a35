#pragma once
// KVXNSStringAdditions: lines of text and small counts in words.
//
// Types: strings are QString; the receiver of an instance method is the
// first argument.

#include <QString>

#include "KVXFoundation/KVXFoundationExport.h"

namespace KVXNSStringAdditions {

// The string with "\n" appended.
KVXFOUNDATION_EXPORT QString stringWithNewLineBreak(const QString& string);

// Every line but the last, each followed by "\n": "a\nb\nc" gives "a\nb\n",
// a text ending in "\n" comes back unchanged, a text without "\n" gives "".
KVXFOUNDATION_EXPORT QString stringByDeletingLastLine(const QString& string);

// The text before the first "\n"; the whole string when it has none.
KVXFOUNDATION_EXPORT QString stringToFirstLineBreak(const QString& string);

// True when the last character is "\n"; false for "".
KVXFOUNDATION_EXPORT bool endsInLineBreak(const QString& string);

// True when substring occurs in string; an empty substring never does.
KVXFOUNDATION_EXPORT bool containsSubstring(const QString& string, const QString& substring);

// "zero" (or "no" with noForZero) to "ten" for 0 to 10, first letter upper
// case when capitalized; the decimal number for anything else.
KVXFOUNDATION_EXPORT QString properStringForInt(qint32 value, bool capitalized, bool noForZero);

}  // namespace KVXNSStringAdditions
