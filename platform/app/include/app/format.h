#pragma once
// Formatting as the platform's string formatter does it for the conversions
// the system's messages use, and the platform's description of a value for
// "%@".

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace app {

// Expands "%@" (description), "%s", "%d" "%i" "%u" and their "l", "ll", "q"
// and "z" size forms (integers), and "%%". Arguments are taken in order; a
// missing one counts as nil. Anything else after "%" is kept as it stands,
// so no text can make the formatter read what it was not given.
QString format(const QString& format, const QVariantList& arguments = {});

// The description "%@" prints: strings as they are, numbers in decimal,
// booleans as 1 or 0, dates as "2009-06-01 08:00:00 +0000", data as
// "<0001ff>", arrays and dictionaries in the old-style property-list form,
// an invalid value as "(null)".
QString description(const QVariant& value);

// Doubles every "%" so that the text survives being used as a format.
QString escapedForFormat(const QString& text);

}  // namespace app
