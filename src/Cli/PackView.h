// The decoded telemetry for the command line: PackTable entry 0 and
// BsiRecord as JSON under their field names, and as text in the form of the
// window's grids and labels (read back from the controls the window's
// display code wrote).
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>
#include <set>

namespace bms::cli {

class CliHost;

// Every field of the pack table as stored (temperatures in 0.1 degC), null
// when its block is not in `blocks`; the arrays hold as many entries as the
// counts received say; "bsi" is the object of the BsiRecord fields when
// block 7 is in `blocks`, else null. The firmware versions come also as
// text ("2.1.0").
QJsonObject TelemetryObject(const std::set<int>& blocks);

// The main grid, versions, state and raw words, the lit alarm and protection
// indicators and, for BSI, the parallel-system grid.
QStringList TelemetryLines(const CliHost& host, bool bsi);

// One line for a rotation of `watch`: the values of the blocks answered.
QString RotationLine(const CliHost& host, const std::set<int>& blocks, const QDateTime& when);

} // namespace bms::cli
