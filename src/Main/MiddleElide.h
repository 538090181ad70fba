// The port box shows long port paths with the middle left out
// ("/run/user…quorlex-bms/virtual-pack-demo"), so that the device name at the end
// stays readable; while the operator edits the text, it is shown whole.
#pragma once

#include <QString>

class QComboBox;
class QFontMetrics;

namespace bms {

// `text` as it fits into `width` pixels: whole when it fits; else the folders
// of a path are elided in the middle and the last part kept whole; else the
// whole text is elided in the middle.
QString ElidePath(const QString& text, const QFontMetrics& metrics, int width);

// Gives the editable combo box a line edit that elides its text in the middle
// whenever it has no keyboard focus. The text itself is never changed.
void ElideInTheMiddle(QComboBox* box);

} // namespace bms
