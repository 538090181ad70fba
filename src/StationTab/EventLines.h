// The standard output of `quorlex-bms-cli --json station run`: one JSON
// object a line. The bytes arrive in pieces of any size; LineSplitter cuts
// them into whole lines and ParseEventLine turns a line into its event.
#pragma once

#include "RunEvents.h"

#include <QByteArray>
#include <QJsonObject>
#include <optional>
#include <vector>

namespace bms::stationtab {

// Collects bytes and hands out whole lines (without their '\n'). A line
// longer than `maxLine` bytes is dropped to its end and counted, so that a
// process writing without newlines cannot grow the window's memory.
class LineSplitter {
public:
    explicit LineSplitter(qsizetype maxLine = 64LL << 20) : maxLine_(maxLine) {}

    void feed(const QByteArray& bytes, std::vector<QByteArray>& lines);
    // What is left without its newline when the process ends.
    QByteArray rest() const { return skipping_ ? QByteArray() : pending_; }
    int droppedLines() const { return dropped_; }

private:
    qsizetype maxLine_;
    QByteArray pending_;
    bool skipping_ = false;
    int dropped_ = 0;
};

// The event of one line: nothing when the line is not a JSON object of a
// known kind. A long `record` event (the whole record, its trace included,
// up to megabytes) is not parsed: the window needs none of it, the record's
// file is named by `run_end`. It comes back as a RecordEvent without path
// or record.
std::optional<station::ParsedEvent> ParseEventLine(const QByteArray& line);

// The text of the top-level key `key` of the JSON object on `line`, when it
// is a text; found without parsing what stands around it (nested objects,
// lists and texts are stepped over whole), whatever the order of the keys
// and the blanks between them.
std::optional<QByteArrayView> TopLevelText(QByteArrayView line, QByteArrayView key);

} // namespace bms::stationtab
