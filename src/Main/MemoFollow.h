// A notification memo that follows its newest line: whenever a line is
// added it scrolls to the end, unless the operator has scrolled up to read
// (then it stays where it is until they scroll back to the end). Switching
// tabs or resizing does not lose the place.
#pragma once

class QPlainTextEdit;

namespace bms {

void FollowNewLines(QPlainTextEdit* memo);

} // namespace bms
