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

// Measurement names of the identify step, and the unit of each ("mAh" of
// rated_cap; the others have none).
const QStringList& IdentifyQuantities();
QString IdentifyUnit(const QString& name);

// True when `name` is a check quantity or a group of them ("cells",
// "cell_temps", "mos_temps").
bool IsCheckQuantity(const QString& name);
QString QuantityUnit(const QString& name);

// The measurements a check limit on `name` makes for a pack: the group's
// members for a group ("cells" on a 16-cell pack: cell_1 .. cell_16), else
// the name itself.
QStringList ExpandQuantity(const QString& name, const TelemetryRead& t);

// The value of one quantity in a rotation; null when the pack does not
// report it (cell_12 of an 8-cell pack).
QJsonValue QuantityValue(const QString& name, const TelemetryRead& t);

} // namespace bms::station
