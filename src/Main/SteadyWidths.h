// Labels and buttons whose text changes while the tool runs ("Open Port" /
// "Close Port", "Standby" / "Discharging...", "bms status 0:0013", the clock
// labels...) are given the width of their longest text from the start, so
// that the panels and buttons around them never move when a text changes.
#pragma once

class QWidget;

namespace bms {

// Sets the minimum width of each such control below `root` to the widest of
// its possible texts in the control's own font and style.
void KeepWidthsSteady(QWidget* root);

} // namespace bms
