#include "SerialTemplate.h"

#include <QRegularExpression>

namespace bms::station {

std::optional<SerialTemplate> SerialTemplate::parse(const QString& text, QString& error, int& column)
{
    SerialTemplate t;
    t.text_ = text;
    QString literal;
    int sequences = 0;
    int length = 0; // of the widest expansion
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        column = static_cast<int>(i);
        if (c == QLatin1Char('}')) {
            error = QStringLiteral("'}' without '{'");
            return std::nullopt;
        }
        if (c != QLatin1Char('{')) {
            // The pack's serial number is plain text: printable ASCII only.
            if (c.unicode() < 0x21 || c.unicode() > 0x7E) {
                error = QStringLiteral("only printable ASCII characters without blanks may stand in a serial number");
                return std::nullopt;
            }
            literal += c;
            ++length;
            continue;
        }
        const qsizetype close = text.indexOf(QLatin1Char('}'), i);
        if (close < 0) {
            error = QStringLiteral("'{' without '}'");
            return std::nullopt;
        }
        const QString field = text.mid(i + 1, close - i - 1);
        if (!literal.isEmpty())
            t.parts_.push_back({Part::Literal, literal});
        literal.clear();
        if (field.startsWith(QLatin1String("seq:0")) || field == QLatin1String("seq")) {
            bool ok = true;
            const int digits = field == QLatin1String("seq") ? 1 : field.mid(5).toInt(&ok);
            if (!ok || digits < 1 || digits > 12) {
                error = QStringLiteral("the sequence field is {seq:0N} with N from 1 to 12");
                return std::nullopt;
            }
            t.digits_ = digits;
            t.parts_.push_back({Part::Sequence, {}});
            length += digits;
            ++sequences;
        } else {
            if (field.isEmpty() || field.contains(QRegularExpression(QStringLiteral("[^yMd]")))) {
                error = QStringLiteral("'{%1}' is neither a date (letters y, M, d) nor {seq:0N}").arg(field);
                return std::nullopt;
            }
            t.parts_.push_back({Part::Date, field});
            length += static_cast<int>(QDate(2026, 12, 31).toString(field).size());
        }
        i = close;
    }
    if (!literal.isEmpty())
        t.parts_.push_back({Part::Literal, literal});
    column = 0;
    if (sequences != 1) {
        error = QStringLiteral("a serial-number template needs exactly one {seq:0N} field");
        return std::nullopt;
    }
    if (length > kSerialNumberMaxLength) {
        error = QStringLiteral("the serial numbers would be %1 characters long; the pack holds %2").arg(length).arg(kSerialNumberMaxLength);
        return std::nullopt;
    }
    return t;
}

QString SerialTemplate::expand(const QDate& day, const QString& sequence) const
{
    QString out;
    for (const Part& p : parts_) {
        switch (p.kind) {
        case Part::Literal: out += p.text; break;
        case Part::Date: out += day.toString(p.text); break;
        case Part::Sequence: out += sequence; break;
        }
    }
    return out;
}

QString SerialTemplate::key(const QDate& day) const
{
    return expand(day, {});
}

qint64 SerialTemplate::maxNumber() const
{
    qint64 max = 1;
    for (int i = 0; i < digits_; ++i)
        max *= 10;
    return max - 1;
}

QString SerialTemplate::value(const QDate& day, qint64 number) const
{
    if (number < 0 || number > maxNumber())
        return {};
    return expand(day, QStringLiteral("%1").arg(number, digits_, 10, QLatin1Char('0')));
}

} // namespace bms::station
