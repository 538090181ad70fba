#include "RecordText.h"

#include "FixtureModel.h"
#include "Limits.h"

#include <QJsonArray>
#include <QStringList>

namespace bms::stationtab {

namespace {

QString Field(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString())
        return v.toString();
    if (v.isDouble() || v.isBool())
        return station::ValueText(v);
    return QStringLiteral("-");
}

} // namespace

QString RecordText(const QJsonObject& r)
{
    const QJsonObject recipe = r.value(QStringLiteral("recipe")).toObject();
    const QJsonObject pack = r.value(QStringLiteral("pack")).toObject();
    QStringList lines;
    lines << QStringLiteral("Run %1: %2").arg(Field(r, "run_id"), Field(r, "outcome"));
    if (r.value(QStringLiteral("failure_code")).isString())
        lines << QStringLiteral("Failure: %1 (%2)").arg(Field(r, "failure_code"), Field(r, "failure_reason"));
    lines << QStringLiteral("Started %1, ended %2 (%3 s)").arg(Field(r, "started_at"), Field(r, "ended_at"), Field(r, "duration_s"))
          << QStringLiteral("Station %1, fixture %2, operator %3, port %4")
                 .arg(Field(r, "station_id"), Field(r, "fixture"), Field(r, "operator"), Field(r, "port"))
          << QStringLiteral("Recipe %1 version %2 (SHA-256 %3), tool %4")
                 .arg(Field(recipe, "name"), Field(recipe, "version"), Field(recipe, "sha256"), Field(r, "tool_version"))
          << QStringLiteral("Pack: barcode %1, UID %2, serial number %3, hardware %4, software %5 -> %6")
                 .arg(Field(pack, "barcode"), Field(pack, "uid"), Field(pack, "serial_number"), Field(pack, "hw_version"),
                      Field(pack, "sw_version_before"), Field(pack, "sw_version_after"));
    if (r.value(QStringLiteral("retest")).toBool())
        lines << QStringLiteral("A retest of a pack that passed here before");

    const QJsonArray steps = r.value(QStringLiteral("steps")).toArray();
    const QJsonArray measurements = r.value(QStringLiteral("measurements")).toArray();
    lines << QString() << QStringLiteral("Steps:");
    for (const QJsonValue& sv : steps) {
        const QJsonObject s = sv.toObject();
        QString line = QStringLiteral("%1 %2 %3")
                           .arg(s.value(QStringLiteral("index")).toInt() + 1, 3)
                           .arg(Field(s, "name"), -20)
                           .arg(Field(s, "outcome"), -8);
        if (const int retries = s.value(QStringLiteral("retries")).toInt())
            line += QStringLiteral(" %1 retries").arg(retries);
        if (const QString reason = s.value(QStringLiteral("reason")).toString(); !reason.isEmpty())
            line += QStringLiteral("  ") + reason;
        lines << line;
        for (const QJsonValue& mv : measurements) {
            const QJsonObject m = mv.toObject();
            if (m.value(QStringLiteral("step")).toInt() != s.value(QStringLiteral("index")).toInt())
                continue;
            const QString unit = m.value(QStringLiteral("unit")).toString();
            const QJsonValue value = m.value(QStringLiteral("value"));
            const QJsonObject limitObject = m.value(QStringLiteral("limits")).toObject();
            const QString shown = value.isNull() ? QStringLiteral("(no value)") : MeasuredText(value, unit, limitObject);
            const QString limits = LimitsText(limitObject, unit);
            lines << QStringLiteral("      %1 %2 %3%4")
                         .arg(Field(m, "name"), -18)
                         .arg(shown, -24)
                         .arg(Field(m, "outcome"), -5)
                         .arg(limits.isEmpty() ? QString() : QStringLiteral("  limits ") + limits);
        }
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace bms::stationtab
