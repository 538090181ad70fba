// Text that enters a run from outside (a scanned barcode, an operator's
// name, a station id) and text printed to a terminal: control characters
// (C0, DEL, C1) and the invisible marks that reorder or hide what a line
// shows (bidirectional overrides and isolates, zero-width marks) are
// refused, or shown escaped.
#pragma once

#include <QString>

namespace bms::station {

bool HasControlCharacters(const QString& text);

// `text` with each such character as \xHH (below 0x100) or \u{HHHH}.
QString Printable(const QString& text);

} // namespace bms::station
