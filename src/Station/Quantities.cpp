#include "Quantities.h"

#include "JsonFields.h"
#include "TextFormat.h"

#include <QRegularExpression>
#include <algorithm>

namespace bms::station {

namespace {

const QString kDegrees = QStringLiteral("°C");

// A fixed quantity: its name, unit and value in a rotation.
struct Fixed {
    const char* name;
    const char* unit;
    double (*value)(const Telemetry&);
};

double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

std::vector<double> AllTemps(const Telemetry& t)
{
    std::vector<double> all = t.cellTempC;
    all.insert(all.end(), t.mosTempC.begin(), t.mosTempC.end());
    return all;
}

const Fixed kFixed[] = {
    {"pack_voltage", "mV", [](const Telemetry& t) { return t.packMv; }},
    {"current", "mA", [](const Telemetry& t) { return t.currentMa; }},
    {"rsoc", "%", [](const Telemetry& t) { return t.rsocPercent; }},
    {"soh", "%", [](const Telemetry& t) { return t.sohPercent; }},
    {"cycles", "", [](const Telemetry& t) { return t.cycles; }},
    {"alarm", "", [](const Telemetry& t) { return double(t.words[0]); }},
    {"protection", "", [](const Telemetry& t) { return double(t.words[1]); }},
    {"protection_2", "", [](const Telemetry& t) { return double(t.words[2]); }},
    {"fault", "", [](const Telemetry& t) { return double(t.words[3]); }},
    {"cell_min", "mV", [](const Telemetry& t) { return Min(t.cellMv); }},
    {"cell_max", "mV", [](const Telemetry& t) { return Max(t.cellMv); }},
    {"cell_spread", "mV", [](const Telemetry& t) { return Max(t.cellMv) - Min(t.cellMv); }},
    {"temp_min", "°C", [](const Telemetry& t) { return Min(AllTemps(t)); }},
    {"temp_max", "°C", [](const Telemetry& t) { return Max(AllTemps(t)); }},
};

// An indexed quantity: cell_3, cell_temp_2, mos_temp_1 (from 1 to 16).
struct Indexed {
    const char* prefix;
    const char* group;
    const char* unit;
    const std::vector<double> Telemetry::*values;
};

const Indexed kIndexed[] = {
    {"cell_", "cells", "mV", &Telemetry::cellMv},
    {"cell_temp_", "cell_temps", "°C", &Telemetry::cellTempC},
    {"mos_temp_", "mos_temps", "°C", &Telemetry::mosTempC},
};

const Fixed* FindFixed(const QString& name)
{
    for (const Fixed& f : kFixed)
        if (name == QLatin1String(f.name))
            return &f;
    return nullptr;
}

// The indexed quantity and its 0-based index, or the group (index -1).
const Indexed* FindIndexed(const QString& name, int& index)
{
    static const QRegularExpression number(QStringLiteral("^(cell_|cell_temp_|mos_temp_)([1-9]|1[0-6])$"));
    for (const Indexed& q : kIndexed) {
        if (name == QLatin1String(q.group)) {
            index = -1;
            return &q;
        }
    }
    const QRegularExpressionMatch m = number.match(name);
    if (!m.hasMatch())
        return nullptr;
    for (const Indexed& q : kIndexed) {
        if (m.captured(1) == QLatin1String(q.prefix)) {
            index = m.captured(2).toInt() - 1;
            return &q;
        }
    }
    return nullptr;
}

// A quantity of the identify step.
struct Identified {
    const char* name;
    const char* unit;
    ValueType type;
    QJsonValue (*value)(const PackInfo&, const Telemetry&);
};

const Identified kIdentified[] = {
    {"uid", "", ValueType::Text, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.uid); }},
    {"uid_crc", "", ValueType::Text, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.uidCrc); }},
    {"barcode", "", ValueType::Text, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.barcode); }},
    {"serial_number", "", ValueType::Text, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.serialNumber); }},
    {"hw_version", "", ValueType::Text, [](const PackInfo&, const Telemetry& t) { return QJsonValue(VersionText(t.hwVersion)); }},
    {"sw_version", "", ValueType::Text, [](const PackInfo&, const Telemetry& t) { return QJsonValue(VersionText(t.swVersion)); }},
    {"protocol_type", "", ValueType::Number, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.protocolType); }},
    {"cell_count", "", ValueType::Number, [](const PackInfo&, const Telemetry& t) { return QJsonValue(t.cellCount); }},
    {"mfr_name", "", ValueType::Text, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.mfrName); }},
    {"customer_code", "", ValueType::Text, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.customerCode); }},
    {"rated_cap", "mAh", ValueType::Number, [](const PackInfo& i, const Telemetry&) { return json::OrNull(i.ratedCapMah); }},
};

const Identified* FindIdentified(const QString& name)
{
    for (const Identified& q : kIdentified)
        if (name == QLatin1String(q.name))
            return &q;
    return nullptr;
}

} // namespace

const QStringList& IdentifyQuantities()
{
    static const QStringList names = [] {
        QStringList list;
        for (const Identified& q : kIdentified)
            list.append(QLatin1String(q.name));
        return list;
    }();
    return names;
}

QString IdentifyUnit(const QString& name)
{
    const Identified* q = FindIdentified(name);
    return q ? QString::fromUtf8(q->unit) : QString();
}

ValueType IdentifyType(const QString& name)
{
    const Identified* q = FindIdentified(name);
    return q ? q->type : ValueType::Text;
}

QJsonValue IdentifyValue(const QString& name, const PackInfo& info, const Telemetry& t)
{
    const Identified* q = FindIdentified(name);
    return q ? q->value(info, t) : QJsonValue();
}

bool IsCheckQuantity(const QString& name)
{
    int index = 0;
    return FindFixed(name) || FindIndexed(name, index);
}

QString QuantityUnit(const QString& name)
{
    int index = 0;
    if (const Fixed* f = FindFixed(name))
        return QString::fromUtf8(f->unit);
    if (const Indexed* q = FindIndexed(name, index))
        return QString::fromUtf8(q->unit);
    return {};
}

QStringList ExpandQuantity(const QString& name, const Telemetry& t)
{
    int index = 0;
    const Indexed* q = FindIndexed(name, index);
    if (!q || index >= 0)
        return {name};
    QStringList names;
    for (size_t i = 0; i < (t.*(q->values)).size(); ++i)
        names.append(QLatin1String(q->prefix) + QString::number(i + 1));
    return names;
}

QJsonValue QuantityValue(const QString& name, const Telemetry& t)
{
    int index = 0;
    if (const Fixed* f = FindFixed(name)) {
        const bool needsCells = name.startsWith(QLatin1String("cell_"));
        const bool needsTemps = name.startsWith(QLatin1String("temp_"));
        if ((needsCells && t.cellMv.empty()) || (needsTemps && AllTemps(t).empty()))
            return QJsonValue::Null;
        return f->value(t);
    }
    if (const Indexed* q = FindIndexed(name, index)) {
        const std::vector<double>& values = t.*(q->values);
        if (index < 0 || static_cast<size_t>(index) >= values.size())
            return QJsonValue::Null;
        return values[static_cast<size_t>(index)];
    }
    return QJsonValue::Null;
}

} // namespace bms::station
