// The limits of a measurement and their verdict. A limit holds any of: an
// inclusive low and high bound (numbers), a value the measurement must
// equal (number or text), a regular expression the whole text must match,
// and a mask of bits that must all be zero. A measurement with no limit is
// recorded for information only.
#pragma once

#include "Outcome.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QString>
#include <optional>

namespace bms::station {

struct Limits {
    std::optional<double> low;
    std::optional<double> high;
    std::optional<QJsonValue> equals; // a number, a text or true/false
    std::optional<QString> matches;   // the expression as written
    std::optional<qint64> mask;
    QString unit;

    bool any() const { return low || high || equals || matches || mask; }
    // As the record writes them: {"low": 0, "high": 30} (the unit is the
    // measurement's own key).
    QJsonObject toJson() const;
    // Back from that object: a key of the wrong type is left out.
    static Limits fromJson(const QJsonObject& limits);
};

struct Evaluation {
    // Pass, Fail, or Info for a measurement without limits.
    Outcome verdict = Outcome::Info;
    // Why it failed, in words: "cell_spread 42 mV above its high limit 30 mV".
    QString reason;
};

// Judges `value` (a number, a text, or null when the quantity could not be
// read) named `name` against `limits`. A value of the wrong kind for a
// limit fails it; a null value fails any limit.
Evaluation Evaluate(const QString& name, const QJsonValue& value, const Limits& limits);

// Text of a measured value for messages: numbers without trailing zeros.
QString ValueText(const QJsonValue& value);

} // namespace bms::station
