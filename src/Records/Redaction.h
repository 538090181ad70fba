// The line database's password kept out of sight: a postgresql:// URL may
// carry it as user:password@ or as a password= item (a libpq keyword), and
// a message or a settings field that shows the URL shows it with the
// password as "****".
#pragma once

#include <QString>

namespace bms::records {

// The password shown instead of the real one.
inline constexpr const char* kMaskedPassword = "****";

// `text` with every password of a URL in it (user:password@ of any
// scheme://, password=value) replaced by "****". A URL that is not well
// formed (a password with a space, an unencoded "@" or "/") loses its whole
// password too: everything between the user's ":" and the "@" of the host.
QString RedactedUrl(const QString& text);

// The URL an engineer left in a field that showed RedactedUrl(stored): each
// password still reading "****" is `stored`'s password at that place again;
// a password typed over it is the new one.
QString UnmaskedUrl(const QString& edited, const QString& stored);

} // namespace bms::records
