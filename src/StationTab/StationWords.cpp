#include "StationWords.h"

#include <QStringList>

namespace bms::stationtab {

namespace {

// Pieces of the databases' own errors and what they mean; the first match
// counts.
struct ErrorWords {
    std::initializer_list<const char*> pieces;
    const char* words;
};
const ErrorWords kErrorWords[] = {
    {{"locked", "busy"}, "the records database is busy: another program is writing to it"},
    {{"readonly", "read-only"}, "the records database cannot be written to"},
    {{"malformed", "not a database", "corrupt"}, "the records database is damaged"},
    {{"disk I/O", "full"}, "the disk of the records database failed or is full"},
    {{"unable to open", "cannot open", "No such file", "ermission denied"}, "the records database cannot be opened"},
};

} // namespace

QString RunsText(qint64 runs)
{
    return runs == 1 ? QStringLiteral("1 run") : QStringLiteral("%1 runs").arg(runs);
}

QString ShiftCountersText(const records::StatsRow& t, const QDateTime& since)
{
    QStringList losses;
    if (t.error > 0)
        losses << QStringLiteral("ERROR %1").arg(t.error);
    if (t.aborted > 0)
        losses << QStringLiteral("ABORTED %1").arg(t.aborted);
    const QString lost = losses.isEmpty() ? QString() : QStringLiteral("   station losses: ") + losses.join(QStringLiteral(", "));
    const std::optional<double> yield = t.firstPassYield();
    return QStringLiteral("Shift since %1:  %2   PASS %3   FAIL %4%5   first-pass yield %6")
        .arg(since.toString(QStringLiteral("HH:mm")), RunsText(t.runs))
        .arg(t.pass)
        .arg(t.fail)
        .arg(lost, yield ? QStringLiteral("%1 %").arg(*yield, 0, 'f', 1) : QStringLiteral("-"));
}

QString DatabaseErrorWords(const QString& error)
{
    for (const ErrorWords& entry : kErrorWords)
        for (const char* piece : entry.pieces)
            if (error.contains(QLatin1String(piece), Qt::CaseInsensitive))
                return QString::fromLatin1(entry.words);
    return QStringLiteral("the records database did not answer");
}

} // namespace bms::stationtab
