// A field of a CSV line (RFC 4180): as it is, or in double quotes (its
// quotes doubled) when it holds a comma, a quote, a line feed or a carriage
// return, any of which would otherwise end the field or the line.
#pragma once

#include <QString>

namespace bms {

QString CsvField(const QString& text);

} // namespace bms
