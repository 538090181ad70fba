#include "Limits.h"

#include <cmath>

namespace bms::station {

namespace {

// The keys of a limits object, written and read.
const QLatin1String kLow("low"), kHigh("high"), kEquals("equals"), kMatches("matches"), kMask("mask");

QString NumberText(double v)
{
    return QString::number(v, 'g', 15);
}

QString Hex(qint64 v)
{
    return QStringLiteral("0x") + QString::number(v, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QString WithUnit(const QString& text, const QString& unit)
{
    return unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
}

// The whole text must match, whatever anchors the expression has.
bool MatchesWhole(const QString& expression, const QString& text)
{
    const QRegularExpression re(QRegularExpression::anchoredPattern(expression));
    return re.isValid() && re.match(text).hasMatch();
}

// A value the mask can be applied to: a whole number from 0 to 2^53.
std::optional<qint64> WholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double v = value.toDouble();
    if (!std::isfinite(v) || v < 0 || v > 9007199254740992.0 || std::floor(v) != v)
        return std::nullopt;
    return static_cast<qint64>(v);
}

} // namespace

QJsonObject Limits::toJson() const
{
    QJsonObject o;
    if (low)
        o.insert(kLow, *low);
    if (high)
        o.insert(kHigh, *high);
    if (equals)
        o.insert(kEquals, *equals);
    if (matches)
        o.insert(kMatches, *matches);
    if (mask)
        o.insert(kMask, *mask);
    return o;
}

Limits Limits::fromJson(const QJsonObject& o)
{
    Limits l;
    if (const QJsonValue v = o.value(kLow); v.isDouble())
        l.low = v.toDouble();
    if (const QJsonValue v = o.value(kHigh); v.isDouble())
        l.high = v.toDouble();
    if (const QJsonValue v = o.value(kEquals); v.isDouble() || v.isString() || v.isBool())
        l.equals = v;
    if (const QJsonValue v = o.value(kMatches); v.isString())
        l.matches = v.toString();
    if (const QJsonValue v = o.value(kMask); v.isDouble())
        l.mask = v.toInteger();
    return l;
}

QString ValueText(const QJsonValue& value)
{
    if (value.isDouble())
        return NumberText(value.toDouble());
    if (value.isString())
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QStringLiteral("nothing");
}

Evaluation Evaluate(const QString& name, const QJsonValue& value, const Limits& limits)
{
    if (!limits.any())
        return {Outcome::Info, {}};
    auto fail = [&](const QString& why) { return Evaluation{Outcome::Fail, name + QLatin1Char(' ') + why}; };
    if (value.isNull() || value.isUndefined())
        return fail(QStringLiteral("could not be read"));
    const QString shown = WithUnit(ValueText(value), limits.unit);

    if (limits.low || limits.high) {
        const double v = value.toDouble(std::nan(""));
        if (!value.isDouble() || std::isnan(v))
            return fail(shown + QStringLiteral(" is not a number"));
        if (limits.low && v < *limits.low)
            return fail(shown + QStringLiteral(" below its low limit ") + WithUnit(NumberText(*limits.low), limits.unit));
        if (limits.high && v > *limits.high)
            return fail(shown + QStringLiteral(" above its high limit ") + WithUnit(NumberText(*limits.high), limits.unit));
    }
    if (limits.equals) {
        const QJsonValue& want = *limits.equals;
        const bool same = want.isDouble() ? value.isDouble() && value.toDouble() == want.toDouble()
                          : want.isBool() ? value.isBool() && value.toBool() == want.toBool()
                                          : value.isString() && value.toString() == want.toString();
        if (!same)
            return fail(shown + QStringLiteral(", not ") + WithUnit(ValueText(want), limits.unit));
    }
    if (limits.matches) {
        const QString text = value.isString() ? value.toString() : value.isDouble() ? NumberText(value.toDouble()) : QString();
        if ((!value.isString() && !value.isDouble()) || !MatchesWhole(*limits.matches, text))
            return fail(shown + QStringLiteral(" does not match ") + *limits.matches);
    }
    if (limits.mask) {
        const std::optional<qint64> v = WholeNumber(value);
        if (!v)
            return fail(shown + QStringLiteral(" is not a whole number"));
        if ((*v & *limits.mask) != 0)
            return fail(Hex(*v) + QStringLiteral(" has bits ") + Hex(*v & *limits.mask) + QStringLiteral(" of its mask ")
                        + Hex(*limits.mask) + QStringLiteral(" set"));
    }
    return {Outcome::Pass, {}};
}

} // namespace bms::station
