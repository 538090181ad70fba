// The named quantities a recipe may put limits on: those of the identify
// step (from the information block and the versions) and those a check step
// samples from the telemetry (pack voltage, current, cells, temperatures,
// state of charge and health, cycles and the alarm, protection and fault
// words).
#pragma once

#include "PackDriver.h"

#include <QJsonValue>
#include <QString>
#include <vector>

namespace bms::station {

// What a quantity's value is: a recipe's limits on it are of the same
// kind (a text is never compared with a number).
enum class ValueType { Number, Text };

// Measurement names of the identify step, the unit of each ("mAh" of
// rated_cap; the others have none), its type, and its value from the
// information read and a rotation (null when not read).
const QStringList& IdentifyQuantities();
QString IdentifyUnit(const QString& name);
ValueType IdentifyType(const QString& name);
QJsonValue IdentifyValue(const QString& name, const PackInfo& info, const Telemetry& t);

// True when `name` is a check quantity or a group of them ("cells",
// "cell_temps", "mos_temps"); all are numbers.
bool IsCheckQuantity(const QString& name);
QString QuantityUnit(const QString& name);

// The measurements a check limit on `name` makes for a pack: the group's
// members for a group ("cells" on a 16-cell pack: cell_1 .. cell_16), else
// the name itself.
QStringList ExpandQuantity(const QString& name, const Telemetry& t);

// The value of one quantity in a rotation; null when the pack does not
// report it (cell_12 of an 8-cell pack).
QJsonValue QuantityValue(const QString& name, const Telemetry& t);

} // namespace bms::station
