// A run's record as text for people: the run, the pack, each step with its
// outcome and each measurement with its value, limits and outcome. The
// trace stays out (`station show RUN` prints it).
#pragma once

#include <QJsonObject>
#include <QString>

namespace bms::stationtab {

QString RecordText(const QJsonObject& record);

} // namespace bms::stationtab
