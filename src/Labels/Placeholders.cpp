#include "Placeholders.h"

#include <QJsonArray>
#include <QDateTime>
#include <QRegularExpression>

namespace bms::labels {

QString LabelFault::text() const
{
    if (at.line <= 0)
        return file + QStringLiteral(": ") + message;
    return QStringLiteral("%1:%2:%3: %4").arg(file).arg(at.line).arg(at.column).arg(message);
}

const QStringList& RecordPlaceholders()
{
    static const QStringList names = {
        QStringLiteral("barcode"),    QStringLiteral("serial_number"), QStringLiteral("uid"),
        QStringLiteral("sw_version"), QStringLiteral("hw_version"),    QStringLiteral("date"),
        QStringLiteral("outcome"),    QStringLiteral("failure_code"),  QStringLiteral("station"),
        QStringLiteral("run_id"),     QStringLiteral("operator"),      QStringLiteral("fixture"),
    };
    return names;
}

std::vector<Placeholder> FindPlaceholders(const QString& text, std::optional<LabelFault>& fault)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z_][A-Za-z0-9_.]*$"));
    std::vector<Placeholder> out;
    int line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\n')) {
            ++line;
            lineStart = i + 1;
            continue;
        }
        if (text[i] != QLatin1Char('$') || i + 1 >= text.size() || text[i + 1] != QLatin1Char('{'))
            continue;
        const TextPos at{line, static_cast<int>(i - lineStart + 1)};
        qsizetype close = i + 2;
        while (close < text.size() && text[close] != QLatin1Char('}') && text[close] != QLatin1Char('\n'))
            ++close;
        if (close >= text.size() || text[close] != QLatin1Char('}')) {
            fault = LabelFault{{}, at, QStringLiteral("'${' without its '}'")};
            return {};
        }
        const QString n = text.mid(i + 2, close - i - 2);
        if (!name.match(n).hasMatch()) {
            fault = LabelFault{{}, at, QStringLiteral("'${%1}' is not a placeholder name").arg(n)};
            return {};
        }
        out.push_back({n, i, close + 1, at});
        i = close;
    }
    return out;
}

bool KnownPlaceholder(const QString& name, const std::function<bool(const QString&)>& isMeasurement)
{
    if (name.startsWith(QLatin1String("m.")))
        return isMeasurement && isMeasurement(name.mid(2));
    return RecordPlaceholders().contains(name);
}

namespace {

QString Text(const QJsonValue& v)
{
    if (v.isString())
        return v.toString();
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isDouble()) {
        const double d = v.toDouble();
        // Whole numbers as they were measured ("3300", not "3.3e+03").
        if (d == static_cast<double>(static_cast<qint64>(d)) && std::abs(d) < 1e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 12);
    }
    return {};
}

} // namespace

QString PlaceholderValue(const QJsonObject& record, const QString& name)
{
    const QJsonObject pack = record.value(QLatin1String("pack")).toObject();
    if (name.startsWith(QLatin1String("m."))) {
        // The last measurement of that name (a retried or repeated one
        // holds its latest value there).
        const QString wanted = name.mid(2);
        const QJsonArray all = record.value(QLatin1String("measurements")).toArray();
        for (qsizetype i = all.size() - 1; i >= 0; --i) {
            const QJsonObject m = all[i].toObject();
            if (m.value(QLatin1String("name")).toString() == wanted)
                return Text(m.value(QLatin1String("value")));
        }
        return {};
    }
    if (name == QLatin1String("sw_version")) {
        const QJsonValue after = pack.value(QLatin1String("sw_version_after"));
        return Text(after.isString() ? after : pack.value(QLatin1String("sw_version_before")));
    }
    if (name == QLatin1String("barcode") || name == QLatin1String("serial_number") || name == QLatin1String("uid")
        || name == QLatin1String("hw_version"))
        return Text(pack.value(name));
    if (name == QLatin1String("date")) {
        const QString ended = record.value(QLatin1String("ended_at")).toString();
        const QDateTime t = QDateTime::fromString(ended.isEmpty() ? record.value(QLatin1String("started_at")).toString() : ended,
                                                  Qt::ISODateWithMs);
        return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd")) : QString();
    }
    if (name == QLatin1String("station"))
        return Text(record.value(QLatin1String("station_id")));
    return Text(record.value(name));
}

QString FillPlaceholders(const QString& text, const QJsonObject& record)
{
    std::optional<LabelFault> fault;
    const std::vector<Placeholder> found = FindPlaceholders(text, fault);
    QString out;
    qsizetype from = 0;
    for (const Placeholder& p : found) {
        out += QStringView(text).mid(from, p.start - from);
        out += PlaceholderValue(record, p.name);
        from = p.end;
    }
    out += QStringView(text).mid(from);
    return out;
}

} // namespace bms::labels
