#include "EventLines.h"

#include <QJsonDocument>
#include <QJsonParseError>


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

std::optional<QByteArrayView> TopLevelText(QByteArrayView line, QByteArrayView key)
{
    const qsizetype n = line.size();
    qsizetype i = 0;
    const auto blanks = [&] {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r'))
            ++i;
    };
    // At a '"': past the closing quote; false when there is none.
    const auto text = [&] {
        for (++i; i < n; ++i) {
            if (line[i] == '\\')
                ++i;
            else if (line[i] == '"')
                return ++i, true;
        }
        return false;
    };
    const auto value = [&] {
        if (i < n && line[i] == '"')
            return text();
        if (i < n && (line[i] == '{' || line[i] == '[')) {
            for (int depth = 0; i < n;) {
                if (line[i] == '"') {
                    if (!text())
                        return false;
                    continue;
                }
                if (line[i] == '{' || line[i] == '[')
                    ++depth;
                else if ((line[i] == '}' || line[i] == ']') && --depth == 0)
                    return ++i, true;
                ++i;
            }
            return false;
        }
        while (i < n && line[i] != ',' && line[i] != '}')
            ++i;
        return i < n;
    };
    blanks();
    if (i >= n || line[i] != '{')
        return std::nullopt;
    for (++i;;) {
        blanks();
        if (i >= n || line[i] != '"')
            return std::nullopt;
        const qsizetype nameStart = i + 1;
        if (!text())
            return std::nullopt;
        const QByteArrayView name = line.sliced(nameStart, i - 1 - nameStart);
        blanks();
        if (i >= n || line[i] != ':')
            return std::nullopt;
        ++i;
        blanks();
        const qsizetype valueStart = i;
        if (!value())
            return std::nullopt;
        if (name == key)
            return line[valueStart] == '"' ? std::optional(line.sliced(valueStart + 1, i - 2 - valueStart)) : std::nullopt;
        blanks();
        if (i >= n || line[i] != ',')
            return std::nullopt;
        ++i;
    }
}

std::optional<station::ParsedEvent> ParseEventLine(const QByteArray& line)
{
    static const QByteArray recordEvent = station::EventKindName(station::EventKind::Record).toLatin1();
    if (line.size() > 4096 && TopLevelText(line, "event") == QByteArrayView(recordEvent))
        return station::ParsedEvent{station::RecordEvent{}, {}, {}, {}};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return station::ParseEvent(doc.object());
}

} // namespace bms::stationtab
