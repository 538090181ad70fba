// The standard output of `quorlex-bms-cli --json station run`: one JSON
// object a line. The bytes arrive in pieces of any size; LineSplitter cuts
// them into whole lines and ParseEventLine turns a line into its event.
#pragma once

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

// The event of one line: nothing when the line is not a JSON object. The
// `record` event (the whole record, its trace included, up to megabytes) is
// not parsed: the window needs none of it, the record's file is named by
// `run_end`. It comes back as {"event": "record"}.
std::optional<QJsonObject> ParseEventLine(const QByteArray& line);

// The text under `key` of an event (empty when it has none).
inline QString EventText(const QJsonObject& e, const char* key)
{
    return e.value(QLatin1String(key)).toString();
}

} // namespace bms::stationtab
