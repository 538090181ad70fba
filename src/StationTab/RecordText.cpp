#include "RecordText.h"

#include "FixtureModel.h"
#include "RunRecord.h"

#include <QStringList>

namespace bms::stationtab {

namespace {

// A field of the record as shown: "-" when the record has none.
QString Shown(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString Shown(const std::optional<QString>& text)
{
    return Shown(text.value_or(QString()));
}

QString TimeShown(const QDateTime& t)
{
    return Shown(station::RecordTime(t));
}

} // namespace

QString RecordText(const QJsonObject& record)
{
    const station::RunRecord r = station::RunRecord::fromJson(record);
    QStringList lines;
    lines << QStringLiteral("Run %1: %2").arg(Shown(r.runId), station::OutcomeName(r.outcome));
    if (!r.failureCode.isEmpty())
        lines << QStringLiteral("Failure: %1 (%2)").arg(r.failureCode, Shown(r.failureReason));
    const QString duration = r.startedAt.isValid() && r.endedAt.isValid()
                                 ? QString::number(r.startedAt.msecsTo(r.endedAt) / 1000.0, 'g', 15)
                                 : QStringLiteral("-");
    lines << QStringLiteral("Started %1, ended %2 (%3 s)").arg(TimeShown(r.startedAt), TimeShown(r.endedAt), duration)
          << QStringLiteral("Station %1, fixture %2, operator %3, port %4")
                 .arg(Shown(r.stationId), Shown(r.fixture), Shown(r.operatorName), Shown(r.port))
          << QStringLiteral("Recipe %1 version %2 (SHA-256 %3), tool %4")
                 .arg(Shown(r.recipeName), Shown(r.recipeVersion), Shown(r.recipeSha256), Shown(r.toolVersion))
          << QStringLiteral("Pack: barcode %1, UID %2, serial number %3, hardware %4, software %5 -> %6")
                 .arg(Shown(r.pack.barcode), Shown(r.pack.uid), Shown(r.pack.serialNumber), Shown(r.pack.hwVersion),
                      Shown(r.pack.swBefore), Shown(r.pack.swAfter));
    if (r.retest)
        lines << QStringLiteral("A retest of a pack that passed here before");

    lines << QString() << QStringLiteral("Steps:");
    for (const station::StepRecord& s : r.steps) {
        QString line = QStringLiteral("%1 %2 %3")
                           .arg(s.index + 1, 3)
                           .arg(Shown(s.name), -20)
                           .arg(station::OutcomeName(s.outcome), -8);
        if (s.retries)
            line += QStringLiteral(" %1 retries").arg(s.retries);
        if (!s.reason.isEmpty())
            line += QStringLiteral("  ") + s.reason;
        lines << line;
        for (const station::MeasurementRecord& m : r.measurements) {
            if (m.step != s.index)
                continue;
            const QString shown = m.value.isNull() ? QStringLiteral("(no value)") : MeasuredText(m.value, m.unit, m.limits);
            const QString limits = LimitsText(m.limits, m.unit);
            lines << QStringLiteral("      %1 %2 %3%4")
                         .arg(Shown(m.name), -18)
                         .arg(shown, -24)
                         .arg(station::OutcomeName(m.outcome), -5)
                         .arg(limits.isEmpty() ? QString() : QStringLiteral("  limits ") + limits);
        }
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace bms::stationtab
