// Selectors that change no pack state by themselves: the device address,
// the product type, and the series/parallel role with its reset indicator.
#pragma once

namespace bms {

// cbb_addr changed (and once at start): SlaveAddr from the box's hexadecimal
// text, lbl_addr_read "Addr: XX". A text that is not hexadecimal or lies
// above FF keeps the address and the label and is refused with one message
// (not repeated while the text stays refused); an empty box or 0, steps of
// retyping, keep them silently.
void cbb_addrChange();

// cbb_pdType changed (and once at start): NotBsi, and the texts of the
// voltage-calibration group.
void cbb_pdTypeChange();

// Radio buttons of the series/parallel group: the role number in cbb_pretype.
void rb_stand_aloneClick();     // "Stand Alone"     -> "0"
void rb_single_serialClick();   // "Single Serial"   -> "1"
void rb_single_parallelClick(); // "Single Parallel" -> "2"
void rb_serial_parallelClick(); // "Serial Parallel" -> "3"

// Mouse press on the reset indicator: lime <-> grey, label "Reset" / "None".
void shp_sp_resetMouseDown();

} // namespace bms
