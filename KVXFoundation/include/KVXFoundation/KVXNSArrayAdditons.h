#pragma once
// KVXNSArrayAdditons (so spelled): plain-text lists from arrays and arrays
// from plain-text lists. A vertical list has one item per line ("\n" between
// items, none after the last); a horizontal list has ", " between items.
// Quoted items are enclosed in double quotes; quotes inside an item are not
// escaped.
//
// Types: an array is a QVariantList, since arrays may mix strings with other
// items; a string item is a QVariant holding a QString, and only those match
// or are removed (a number never equals a string, however alike they look).
// Items go into a list as QVariant::toString() gives them. Parsing returns a
// QStringList. The receiver of an instance method is the first argument.

#include <QString>
#include <QStringList>
#include <QVariantList>

#include "KVXFoundation/KVXFoundationExport.h"

namespace KVXNSArrayAdditons {

// The items one per line, quoted when quotes is true; "" for no items.
KVXFOUNDATION_EXPORT QString verticalListFromStringArrayWithQuotes(const QVariantList& array,
                                                                   bool quotes);

// The items separated by ", ", quoted when quotes is true.
KVXFOUNDATION_EXPORT QString horizontalListFromStringArrayWithQuotes(const QVariantList& array,
                                                                     bool quotes);

// The text's lines in order, up to but not including the first empty line.
KVXFOUNDATION_EXPORT QStringList arrayByParsingVerticalList(const QString& text);

// The same after dropping the text's first line (a header).
KVXFOUNDATION_EXPORT QStringList arrayByParsingVerticalListAfterHeader(const QString& text);

// The array without every string item equal to a string item of strings;
// items that are not strings stay, and non-strings in strings are ignored.
KVXFOUNDATION_EXPORT QVariantList arrayByRemovingStringsFromArray(const QVariantList& array,
                                                                  const QVariantList& strings);

// The array extended by each string item of strings, in order, that is not
// yet equal to a string item of the array built so far; non-strings in
// strings are skipped. The array itself when nothing is added.
KVXFOUNDATION_EXPORT QVariantList arrayByAddingStringsFromArrayWithoutDuplicates(
    const QVariantList& array, const QVariantList& strings);

// True when some item is a string equal to string.
KVXFOUNDATION_EXPORT bool containsString(const QVariantList& array, const QString& string);

}  // namespace KVXNSArrayAdditons
