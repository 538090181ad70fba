// Station run records shaped as docs/station-record.md describes them, made
// from a few parameters, for the records tests and benchmarks.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUuid>

namespace bms::test {

struct SampleRun {
    int number = 1;                // makes the run id (the same number, the same id)
    QString barcode = QStringLiteral("QB2026120900001");
    QString station = QStringLiteral("EOL-1");
    QString outcome = QStringLiteral("PASS");
    QString failureCode;           // empty: null
    QString recipe = QStringLiteral("Q16-EOL");
    QDateTime started = QDateTime(QDate(2026, 12, 9), QTime(14, 3, 11, 204), Qt::OffsetFromUTC, 3600);
    int measurements = 6;          // the first six are named, the rest cell_1, cell_2, ...
    int traceBytes = 64;           // bytes of (pseudo-compressed) trace data; 0: no trace
};

inline QString SampleRunId(int number)
{
    static const QUuid ns(QStringLiteral("6f1d8e3a-2b7c-4c1e-9a55-0d3b2f4e6a71"));
    return QUuid::createUuidV5(ns, QString::number(number)).toString(QUuid::WithoutBraces);
}

inline QJsonObject SampleRecord(const SampleRun& s)
{
    const bool pass = s.outcome == QLatin1String("PASS");
    const QDateTime ended = s.started.addMSecs(51673);
    const QString t0 = s.started.toString(Qt::ISODateWithMs);
    const QString t1 = ended.toString(Qt::ISODateWithMs);
    QJsonArray steps;
    const char* kinds[] = {"identify", "upgrade", "write_identity", "calibrate", "check"};
    for (int i = 0; i < 5; ++i)
        steps.append(QJsonObject{{"index", i},
                                 {"name", QLatin1String(kinds[i])},
                                 {"kind", QLatin1String(kinds[i])},
                                 {"outcome", i == 1 ? "SKIPPED" : (i == 4 && !pass ? s.outcome : "PASS")},
                                 {"started_at", t0},
                                 {"ended_at", t1},
                                 {"retries", i == 3 ? 1 : 0},
                                 {"reason", i == 1 ? "already runs 1.5.4" : ""}});
    QJsonArray measurements;
    for (int i = 0; i < s.measurements; ++i) {
        QJsonObject m;
        switch (i) {
        case 0:
            m = {{"step", 0}, {"name", "sw_version"}, {"value", "1.5.4"}, {"unit", ""}, {"limits", QJsonObject{{"equals", "1.5.4"}}}, {"outcome", "PASS"}};
            break;
        case 1:
            m = {{"step", 0}, {"name", "rated_cap"}, {"value", 100}, {"unit", "Ah"}, {"outcome", "INFO"}};
            break;
        case 2:
            m = {{"step", 4}, {"name", "soh"}, {"value", 99.5}, {"unit", "%"}, {"limits", QJsonObject{{"low", 95}}}, {"outcome", "PASS"}};
            break;
        case 3:
            m = {{"step", 4}, {"name", "cycles"}, {"value", 3}, {"unit", ""}, {"outcome", "INFO"}};
            break;
        case 4:
            m = {{"step", 4}, {"name", "cell_spread"}, {"value", pass ? 12 : 42}, {"unit", "mV"},
                 {"limits", QJsonObject{{"low", 0}, {"high", 30}}}, {"outcome", pass ? "PASS" : "FAIL"}};
            break;
        case 5:
            m = {{"step", 4}, {"name", "temp_max"}, {"value", QJsonValue::Null}, {"unit", "degC"}, {"outcome", "INFO"}};
            break;
        default:
            m = {{"step", 4}, {"name", QStringLiteral("cell_%1").arg(i - 5)}, {"value", 3300 + i % 17}, {"unit", "mV"},
                 {"limits", QJsonObject{{"low", 3000}, {"high", 3600}}}, {"outcome", "PASS"}};
        }
        measurements.append(m);
    }
    QByteArray trace(s.traceBytes, '\0');
    for (int i = 0; i < s.traceBytes; ++i)
        trace[i] = char((i * 131 + s.number) & 0xFF);
    QJsonObject record{
        {"format", "quorlex-station-record/1"},
        {"run_id", SampleRunId(s.number)},
        {"station_id", s.station},
        {"fixture", "1"},
        {"operator", "anna"},
        {"tool_version", "1.0.0"},
        {"recipe", QJsonObject{{"name", s.recipe}, {"version", "3"}, {"sha256", "9f86d081884c7d65"},
                               {"file", "/home/line/recipes/q16-eol.toml"}, {"product", "Q-Serial"}}},
        {"port", "/dev/ttyUSB0"},
        {"started_at", t0},
        {"ended_at", t1},
        {"duration_s", 51.673},
        {"outcome", s.outcome},
        {"failure_code", s.failureCode.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s.failureCode)},
        {"failure_reason", pass ? "" : "cell_spread 42 mV above its high limit 30 mV"},
        {"retest", false},
        {"pack", QJsonObject{{"barcode", s.barcode}, {"uid", QStringLiteral("0123456789ABCDEF%1").arg(s.number, 8, 10, QLatin1Char('0'))},
                             {"uid_crc", "A1B2"}, {"serial_number", QStringLiteral("QX20261209%1").arg(s.number, 5, 10, QLatin1Char('0'))},
                             {"product", "Q-Serial"}, {"cells", 16}, {"hw_version", "2.1.0"},
                             {"sw_version_before", "1.5.3"}, {"sw_version_after", "1.5.4"}}},
        {"serial_reservation", QJsonValue::Null},
        {"steps", steps},
        {"measurements", measurements},
    };
    if (s.traceBytes > 0)
        record.insert("trace", QJsonObject{{"encoding", "zlib+base64"}, {"frames", 12}, {"bytes", s.traceBytes * 4},
                                           {"data", QString::fromLatin1(trace.toBase64())}});
    return record;
}

inline bool WriteRecordFile(const QString& path, const QJsonObject& record)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(record).toJson()) > 0;
}

} // namespace bms::test
