// Handlers of the Device Upgrade tab that choose the target and the image:
// the two target radio buttons and the "Open" button.
#pragma once

#include <QString>

namespace bms {

// "Upgrade Main Control Board": main-board target, dev-firmware controls hidden.
void rbtn_upgrade_main_boardClick();
// "Upgrad dev firmware": dev-firmware target, its controls shown, version and
// type filled from the chosen file's name (Label44 is left as it is).
void rbtn_upgrade_wifiClick();
// "Open": the window runs the file dialog and passes the chosen file name,
// empty when the operator cancelled. For the dev firmware a type that is not
// hexadecimal raises EConvertError after edt6 and upbtn have been updated.
void opbtnClick(const QString& fileName);

} // namespace bms
