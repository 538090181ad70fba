// What a station run asks of the records: a serial number of the recipe's
// template reserved for it, whether a barcode already passed at a station,
// and a place for its record when it ends. The stores of this folder
// implement them; the run only sees these interfaces.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace bms::records {

class SerialSequence {
public:
    virtual ~SerialSequence() = default;
    // The lowest number released under `key`, else the next never handed
    // out; never one that another live run holds.
    virtual std::optional<qint64> reserve(const QString& key, const QString& runId, QString& error) = 0;
    // The run passed: the number is used for good.
    virtual bool commit(const QString& key, qint64 number, const QString& runId, QString& error) = 0;
    // The run did not pass: the number goes back for the next run.
    virtual bool release(const QString& key, qint64 number, const QString& runId, QString& error) = 0;
};

class PassHistory {
public:
    virtual ~PassHistory() = default;
    virtual std::optional<bool> passedBefore(const QString& barcode, const QString& stationId, QString& error) = 0;
};

class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual bool store(const QJsonObject& record, QString& error) = 0;
};

} // namespace bms::records
