// Placeholders in label templates and layouts: `${name}` filled from a run's
// record. The names a label may use are fixed (the pack's identity, the
// run's date, outcome, failure code and station) plus `${m.NAME}` for a
// measurement of the run. A template is checked when its recipe loads, so a
// name that does not exist is refused before any pack is tested.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace bms::labels {

// Where a placeholder or a fault sits in a file: line and column from 1.
struct TextPos {
    int line = 0;
    int column = 0;
};

struct Placeholder {
    QString name;      // "serial_number", "m.cell_spread"
    qsizetype start = 0; // offset of "${" in the text
    qsizetype end = 0;   // offset just past "}"
    TextPos at;
};

// A fault in a template or layout file, with its place.
struct LabelFault {
    QString file;
    TextPos at;
    QString message;
    QString text() const; // "file:line:column: message"
};

// The names every label may use.
const QStringList& RecordPlaceholders();

// Every `${...}` of `text`, in order. A "${" without its "}" on the same
// line, or a name that is not letters, digits, '_' and '.', is a fault.
std::vector<Placeholder> FindPlaceholders(const QString& text, std::optional<LabelFault>& fault);

// Whether `name` can be filled: one of RecordPlaceholders(), or "m." and a
// measurement for which `isMeasurement` says yes.
bool KnownPlaceholder(const QString& name, const std::function<bool(const QString&)>& isMeasurement);

// The text of placeholder `name` for `record` (a run's record as written):
// empty for a value the run never learned, or a name not in the record.
QString PlaceholderValue(const QJsonObject& record, const QString& name);

// `text` with each placeholder replaced by its value.
QString FillPlaceholders(const QString& text, const QJsonObject& record);

} // namespace bms::labels
