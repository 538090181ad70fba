#include "BusEvents.h"

#include <QJsonDocument>
#include <algorithm>

namespace bms::bus {

namespace {

QJsonValue Opt(const std::optional<QString>& v) { return v ? QJsonValue(*v) : QJsonValue(); }
QJsonValue Opt(const std::optional<int>& v) { return v ? QJsonValue(*v) : QJsonValue(); }

std::optional<QString> TextIn(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
}

std::optional<int> IntIn(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? std::optional<int>(v.toInt()) : std::nullopt;
}

} // namespace

QJsonObject IdentityObject(const PackIdentity& p)
{
    return {{QStringLiteral("address"), p.address},  {QStringLiteral("barcode"), Opt(p.barcode)},
            {QStringLiteral("serial"), Opt(p.serial)}, {QStringLiteral("uid"), Opt(p.uid)},
            {QStringLiteral("firmware"), Opt(p.firmware)}, {QStringLiteral("cells"), Opt(p.cells)}};
}

QJsonObject ScanObject(const ScanResult& scan)
{
    QJsonArray packs;
    for (const PackIdentity& p : scan.packs)
        packs.append(IdentityObject(p));
    QJsonArray collisions;
    for (int a : scan.collisions)
        collisions.append(a);
    return {{QLatin1String(kEventKey), QLatin1String(kScanEvent)},
            {QStringLiteral("packs"), packs},
            {QStringLiteral("collisions"), collisions},
            {QStringLiteral("asked"), scan.asked}};
}

QJsonObject PackObject(int sweep, const QDateTime& time, int address, const QString& serial, bool answered,
                       QJsonObject telemetry)
{
    telemetry.insert(QLatin1String(kEventKey), QLatin1String(kPackEvent));
    telemetry.insert(QStringLiteral("sweep"), sweep);
    telemetry.insert(QStringLiteral("time"), time.toString(Qt::ISODateWithMs));
    telemetry.insert(QStringLiteral("address"), address);
    telemetry.insert(QStringLiteral("serial"), serial.isNull() ? QJsonValue() : QJsonValue(serial));
    telemetry.insert(QStringLiteral("answered"), answered);
    return telemetry;
}

QJsonObject SweepObject(const SweepEnd& s)
{
    // Milliseconds are all a sweep's time needs.
    auto ms = [](double seconds) { return std::round(seconds * 1e6) / 1e6; };
    return {{QLatin1String(kEventKey), QLatin1String(kSweepEvent)},
            {QStringLiteral("sweep"), s.sweep},
            {QStringLiteral("seconds"), ms(s.seconds)},
            {QStringLiteral("wire_seconds"), ms(s.wireSeconds)},
            {QStringLiteral("gap_seconds"), ms(s.gapSeconds)},
            {QStringLiteral("answering"), s.answering},
            {QStringLiteral("packs"), s.packs}};
}

PackIdentity ReadIdentity(const QJsonObject& o)
{
    PackIdentity p;
    p.address = o.value(QStringLiteral("address")).toInt();
    p.barcode = TextIn(o, "barcode");
    p.serial = TextIn(o, "serial");
    p.uid = TextIn(o, "uid");
    p.firmware = TextIn(o, "firmware");
    p.cells = IntIn(o, "cells");
    return p;
}

PackReading ReadReading(const QJsonObject& o)
{
    PackReading r;
    r.sweep = o.value(QStringLiteral("sweep")).toInt();
    r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    r.address = o.value(QStringLiteral("address")).toInt();
    r.serial = o.value(QStringLiteral("serial")).toString();
    r.answered = o.value(QStringLiteral("answered")).toBool();
    r.rsoc = IntIn(o, "rsoc");
    r.totalVolt = IntIn(o, "total_volt");
    r.current = IntIn(o, "current");
    r.maxCell = IntIn(o, "max_cell_volt");
    r.minCell = IntIn(o, "min_cell_volt");
    r.cycles = IntIn(o, "cycles");
    const std::optional<int> cell = IntIn(o, "max_cell_temp");
    const std::optional<int> mos = IntIn(o, "max_mos_temp");
    if (cell || mos)
        r.maxTemp = std::max(cell.value_or(mos.value_or(0)), mos.value_or(cell.value_or(0)));
    const QJsonArray words = o.value(QStringLiteral("fault_status")).toArray();
    if (words.size() >= 4)
        r.faults = std::array<int, 4>{words[0].toInt(), words[1].toInt(), words[2].toInt(), words[3].toInt()};
    return r;
}

BusEvent ReadBusEvent(const QByteArray& line)
{
    BusEvent e;
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    for (const QJsonValue& v : o.value(QStringLiteral("errors")).toArray())
        e.errors.append(v.toString());
    const QString kind = o.value(QLatin1String(kEventKey)).toString();
    if (kind == QLatin1String(kScanEvent)) {
        e.kind = BusEvent::Kind::Scan;
        for (const QJsonValue& p : o.value(QStringLiteral("packs")).toArray())
            e.scan.packs.push_back(ReadIdentity(p.toObject()));
        for (const QJsonValue& a : o.value(QStringLiteral("collisions")).toArray())
            e.scan.collisions.push_back(a.toInt());
        e.scan.asked = o.value(QStringLiteral("asked")).toInt();
    } else if (kind == QLatin1String(kPackEvent)) {
        e.kind = BusEvent::Kind::Pack;
        e.pack = ReadReading(o);
    } else if (kind == QLatin1String(kSweepEvent)) {
        e.kind = BusEvent::Kind::Sweep;
        e.sweep.sweep = o.value(QStringLiteral("sweep")).toInt();
        e.sweep.seconds = o.value(QStringLiteral("seconds")).toDouble();
        e.sweep.wireSeconds = o.value(QStringLiteral("wire_seconds")).toDouble();
        e.sweep.gapSeconds = o.value(QStringLiteral("gap_seconds")).toDouble();
        e.sweep.answering = o.value(QStringLiteral("answering")).toInt();
        e.sweep.packs = o.value(QStringLiteral("packs")).toInt();
    } else if (o.contains(QStringLiteral("exit"))) {
        e.kind = BusEvent::Kind::End;
        e.exit = o.value(QStringLiteral("exit")).toInt();
        e.error = o.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString();
        for (const QJsonValue& p : o.value(QStringLiteral("packs")).toArray())
            e.scan.packs.push_back(ReadIdentity(p.toObject()));
    }
    return e;
}

} // namespace bms::bus
