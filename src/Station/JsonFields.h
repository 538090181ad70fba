// Lenient reads of a JSON object's fields for the readers of events and
// records (a key that is missing or of another type gives the default), and
// an optional value written as JSON.
#pragma once

#include "Outcome.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace bms::station::json {

inline QString Text(const QJsonObject& o, QLatin1String key)
{
    return o.value(key).toString();
}

inline std::optional<QString> OptionalText(const QJsonObject& o, QLatin1String key)
{
    const QJsonValue v = o.value(key);
    return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
}

inline int Whole(const QJsonObject& o, QLatin1String key, int fallback)
{
    const QJsonValue v = o.value(key);
    return v.isDouble() ? v.toInt(fallback) : fallback;
}

inline Outcome OutcomeAt(const QJsonObject& o, QLatin1String key, Outcome fallback)
{
    return OutcomeNamed(Text(o, key)).value_or(fallback);
}

// An optional value as JSON: null when there is none.
template <class T>
QJsonValue OrNull(const std::optional<T>& v)
{
    return v ? QJsonValue(*v) : QJsonValue();
}

// A time of the record (ISO 8601 with milliseconds and offset).
inline QDateTime Time(const QJsonObject& o, QLatin1String key)
{
    return QDateTime::fromString(Text(o, key), Qt::ISODateWithMs);
}

} // namespace bms::station::json
