// ZPL templates for thermal label printers: the template's bytes go to the
// printer as they are, with each placeholder replaced by its value. A value
// may hold what ZPL reads as a command ('^', '~') or bytes a printer takes
// only in hexadecimal (non-ASCII, control characters): such a value is
// written with field hex escapes (^FH, "_5E" for '^'), a ^FH put before its
// field when the template has none there, and ^CI28 (UTF-8) after ^XA when
// a non-ASCII value is printed and the template selects no character set.
#pragma once

#include "Placeholders.h"

#include <QByteArray>

namespace bms::labels {

// The most a template or layout file may hold; a larger file is refused.
constexpr qint64 kLabelFileMaxBytes = 1 << 20;

// Reads a template or layout file (a regular file of UTF-8 text).
bool ReadLabelFile(const QString& path, QString& text, QString& error);

// Checks a ZPL template's text: every placeholder is known and stands in a
// field's data (^FD or ^FV up to the next command). The fault or nothing.
std::optional<LabelFault> CheckZpl(const QString& text, const std::function<bool(const QString&)>& isMeasurement);

// The template filled from `record`: the bytes that go to the printer.
QByteArray FillZpl(const QString& text, const QJsonObject& record);

} // namespace bms::labels
