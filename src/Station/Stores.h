// Where a station run keeps what outlives it, behind small interfaces that
// the records database implements: the serial-number sequence, the history
// of passed barcodes, and a sink for finished records. Header only, so the
// records library can implement them without linking the run.
#pragma once

#include <QJsonObject>
#include <QStandardPaths>
#include <QString>
#include <optional>

namespace bms::station {

class SerialSequence {
public:
    virtual ~SerialSequence() = default;
    // Hands out a number under `key` for the run `runId`: the lowest
    // released number first, else the next; never the same number to two
    // live runs.
    virtual std::optional<qint64> reserve(const QString& key, const QString& runId, QString& error) = 0;
    // The run passed: the number is used for good.
    virtual bool commit(const QString& key, qint64 number, const QString& runId, QString& error) = 0;
    // The run did not pass: the number goes back to be handed out again.
    virtual bool release(const QString& key, qint64 number, const QString& runId, QString& error) = 0;
};

class PassHistory {
public:
    virtual ~PassHistory() = default;
    // Whether a run of `barcode` at `stationId` passed before; nothing when
    // it cannot be told (the reason in `error`).
    virtual std::optional<bool> passedBefore(const QString& barcode, const QString& stationId, QString& error) = 0;
};

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // Called with each record after its JSON file has been written.
    virtual bool store(const QJsonObject& record, QString& error) = 0;
};

// $XDG_DATA_HOME/quorlex-bms, else ~/.local/share/quorlex-bms.
inline QString DataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/quorlex-bms");
}
inline QString DefaultResultsFolder() { return DataFolder() + QStringLiteral("/results"); }

class NullRecordSink : public RecordSink {
public:
    bool store(const QJsonObject&, QString&) override { return true; }
};

} // namespace bms::station
