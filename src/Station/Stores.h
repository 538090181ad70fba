// Where a station run keeps what outlives it, behind small interfaces that
// the records database implements: the serial-number sequence, the history
// of passed barcodes, and a sink for finished records. Header only, so the
// records library can implement them without linking the run.
#pragma once

#include "DataFolders.h"

#include <QJsonObject>
#include <QString>
#include <optional>

namespace bms::station {

// A serial number held by a run.
struct SerialGrant {
    QString key;
    qint64 number = 0;
    QString value;       // the text written into the pack; empty for a new number (the template makes it)
    bool reused = false; // the pack's own number from an earlier run
};

// Serial numbers: a number written into a pack is that pack's for good.
// A run reserves one, binds it to its pack just before the write goes out,
// and settles it when it ends; only a number that was never written goes
// back to be handed out again.
class SerialSequence {
public:
    virtual ~SerialSequence() = default;
    // A number under `key` for the run `runId` testing the pack `barcode`:
    // the number that pack was given before when it has one (a retest keeps
    // its number; `reused`, with its text), else the lowest free one. Never
    // the same number to two packs. Nothing, with the reason, when no
    // number can be had.
    virtual std::optional<SerialGrant> reserve(const QString& key, const QString& runId, const QString& barcode,
                                               QString& error) = 0;
    // The number is about to be written into the pack: from now on it
    // belongs to `barcode` (and `uid`), whatever the run's outcome.
    virtual bool bind(const SerialGrant& grant, const QString& runId, const QString& barcode, const QString& uid,
                      QString& error) = 0;
    // The run has ended: a number it wrote is committed when the run
    // passed and stays its pack's otherwise; one never written is given
    // back.
    virtual bool settle(const SerialGrant& grant, const QString& runId, bool written, bool passed, QString& error) = 0;
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

// The data folder's results (DataFolders.h).
inline QString DefaultResultsFolder() { return DataFolder() + QStringLiteral("/results"); }
// Marks of the record files in a results folder that are not yet in the
// records database (one empty file per run, named by its run id).
inline QString UnstoredFolder(const QString& results) { return results + QStringLiteral("/.unstored"); }

class NullRecordSink : public RecordSink {
public:
    bool store(const QJsonObject&, QString&) override { return true; }
};

} // namespace bms::station
