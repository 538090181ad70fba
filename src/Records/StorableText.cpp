#include "StorableText.h"

#include <QJsonArray>
#include <optional>

namespace bms::records {

namespace {

struct Problem {
    QString path;   // from the value walked: "steps[2].reason", "" for the value itself
    bool key = false; // a key of the object at `path`, not its value
    QString why;
};

QString Why(QStringView text)
{
    return text.contains(QChar(u'\0')) ? QStringLiteral("holds a NUL character")
                                       : QStringLiteral("holds a lone UTF-16 surrogate");
}

// `inner` under `segment` ("name" of an object, "[3]" of an array). The
// path is put together only on the way back from a problem.
Problem Under(const QString& segment, Problem inner)
{
    if (inner.path.isEmpty() || inner.path.startsWith(QLatin1Char('[')))
        inner.path.prepend(segment);
    else
        inner.path.prepend(segment + QLatin1Char('.'));
    return inner;
}

// The walk goes as deep as the JSON parser lets a document nest.
std::optional<Problem> Check(const QJsonValue& value)
{
    if (value.isString()) {
        const QString text = value.toString();
        if (!StorableText(text))
            return Problem{{}, false, Why(text)};
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QString key = it.key();
            if (!StorableText(key))
                return Problem{{}, true, Why(key)};
            if (auto p = Check(it.value()))
                return Under(key, std::move(*p));
        }
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            if (auto p = Check(array[i]))
                return Under(QStringLiteral("[%1]").arg(i), std::move(*p));
    }
    return std::nullopt;
}

} // namespace

bool StorableText(QStringView text)
{
    return !text.contains(QChar(u'\0')) && text.isValidUtf16();
}

QString UnstorableText(const QJsonObject& record)
{
    const std::optional<Problem> p = Check(record);
    if (!p)
        return {};
    if (p->key)
        return QStringLiteral("a key of %1 %2").arg(p->path.isEmpty() ? QStringLiteral("the record") : p->path, p->why);
    return p->path + QLatin1Char(' ') + p->why;
}

} // namespace bms::records
