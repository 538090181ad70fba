#include "EventLines.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>

namespace bms::stationtab {

void LineSplitter::feed(const QByteArray& bytes, std::vector<QByteArray>& lines)
{
    qsizetype from = 0;
    while (from < bytes.size()) {
        const qsizetype eol = bytes.indexOf('\n', from);
        const qsizetype end = eol < 0 ? bytes.size() : eol;
        if (!skipping_) {
            pending_.append(bytes.constData() + from, end - from);
            if (pending_.size() > maxLine_) {
                pending_.clear();
                pending_.squeeze();
                skipping_ = true;
                ++dropped_;
            }
        }
        if (eol < 0)
            break;
        if (!skipping_)
            lines.push_back(std::move(pending_));
        pending_ = QByteArray();
        skipping_ = false;
        from = eol + 1;
    }
}

std::optional<QJsonObject> ParseEventLine(const QByteArray& line)
{
    // Keys come in sorted order, so only a top-level key sorting before
    // "event" ("errors") can stand in front of it; a quote inside a text is
    // escaped, so the bare key and value cannot appear inside one.
    static const QByteArray recordEvent = QByteArrayLiteral("\"event\":\"record\"");
    const QByteArrayView head = QByteArrayView(line).first(std::min<qsizetype>(line.size(), 65536));
    if (line.size() > 4096 && head.indexOf(recordEvent) >= 0)
        return QJsonObject{{QStringLiteral("event"), QStringLiteral("record")}};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

} // namespace bms::stationtab
