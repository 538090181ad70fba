// The print order of a run's label: the recipe's [label] section and the
// run's record make the bytes that go to the printer (a filled ZPL template,
// raw; or the layout drawn as a PDF of the label's size).
#pragma once

#include "CupsJobs.h"
#include "OutputSections.h"

#include <QJsonObject>

namespace bms::labels {

// The order for `record`, to `section.printer`, else `defaultPrinter`, else
// CUPS's default queue.
// False with the reason when the template or layout cannot be read or drawn.
bool MakeLabelOrder(const station::LabelSection& section, const QJsonObject& record, const QString& defaultPrinter,
                    PrintOrder& order, QString& error);

} // namespace bms::labels
