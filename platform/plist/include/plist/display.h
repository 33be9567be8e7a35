#pragma once
// Names as bytes. File, bundle, language and process names are whatever
// bytes their maker chose: they need not be UTF-8 and may hold line breaks,
// terminal escapes or text that looks like a record. These give the two
// forms in which such a name may leave a program.

#include <string>
#include <string_view>

namespace plist {

// The one form in which a name is shown in a text line. Valid UTF-8 is kept
// as it is (a backslash too); a newline, carriage return and tab become
// "\n", "\r" and "\t"; every other control character (U+0000-U+001F, U+007F,
// U+0080-U+009F) and every byte that is not part of valid UTF-8 becomes
// "\xHH" per byte, with two uppercase hex digits. The result holds no byte
// below 0x20 nor 0x7F, so no name can end or split a line.
std::string displayForm(std::string_view name);

// The bytes as a valid string: each byte that is not part of valid UTF-8
// becomes U+FFFD; valid UTF-8 comes back unchanged.
std::string validUTF8(std::string_view bytes);

}  // namespace plist
