// The help of `station`; the command itself is made by MakeStationCommand
// (Command.h).
#pragma once

#include <QString>

namespace bms::cli {

QString StationHelpText();

} // namespace bms::cli
