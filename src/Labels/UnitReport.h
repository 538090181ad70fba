// The unit report: a PDF per run for the customer, made from the run's
// record alone (so any stored run has one): the pack's identity, station,
// operator, recipe with its SHA-256, times, every step with its outcome and
// duration, every measurement with its value, unit, limits and verdict, the
// calibrations' errors before and after, and a QR code of the run id.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace bms::labels {

bool ReportPdf(const QJsonObject& record, QByteArray& pdf, QString& error);

// Writes the report of `record` to `path` (through a temporary file that is
// renamed, so a reader never sees half a report).
bool WriteReport(const QJsonObject& record, const QString& path, QString& error);

// The report's file name in a folder: "<barcode or run id>_<run id>.pdf".
QString ReportFileName(const QJsonObject& record);

} // namespace bms::labels
