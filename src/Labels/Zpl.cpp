#include "Zpl.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace bms::labels {

namespace {

bool IsPrefix(QChar c) { return c == QLatin1Char('^') || c == QLatin1Char('~'); }

// The two letters of the command at `i` ('^' or '~' there), upper-cased.
QString CommandAt(const QString& text, qsizetype i)
{
    return i + 2 < text.size() ? text.mid(i + 1, 2).toUpper() : QString();
}

// The end of a field's data that starts at `from`: the next command.
qsizetype DataEnd(const QString& text, qsizetype from)
{
    qsizetype end = from;
    while (end < text.size() && !IsPrefix(text[end]))
        ++end;
    return end;
}

bool NeedsHex(uchar b, char indicator)
{
    return b < 0x20 || b >= 0x7F || b == '^' || b == '~' || (indicator && b == static_cast<uchar>(indicator));
}

QByteArray Escaped(const QByteArray& bytes, char indicator)
{
    QByteArray out;
    for (const char c : bytes) {
        const auto b = static_cast<uchar>(c);
        if (NeedsHex(b, indicator)) {
            out += indicator;
            out += QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

bool ReadLabelFile(const QString& path, QString& text, QString& error)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        error = info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("no such file");
        return false;
    }
    if (info.size() > kLabelFileMaxBytes) {
        error = QStringLiteral("a label file is at most %1 bytes").arg(kLabelFileMaxBytes);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.read(kLabelFileMaxBytes + 1);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8(bytes);
    if (utf8.hasError()) {
        error = QStringLiteral("not UTF-8 text");
        return false;
    }
    return true;
}

std::optional<LabelFault> CheckZpl(const QString& text, const std::function<bool(const QString&)>& isMeasurement)
{
    std::optional<LabelFault> fault;
    const std::vector<Placeholder> found = FindPlaceholders(text, fault);
    if (fault)
        return fault;
    // The stretches of field data.
    std::vector<std::pair<qsizetype, qsizetype>> data;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsPrefix(text[i]))
            continue;
        const QString c = CommandAt(text, i);
        if (c == QLatin1String("FD") || c == QLatin1String("FV")) {
            const qsizetype end = DataEnd(text, i + 3);
            data.emplace_back(i + 3, end);
            i = end - 1;
        }
    }
    for (const Placeholder& p : found) {
        if (!KnownPlaceholder(p.name, isMeasurement))
            return LabelFault{{}, p.at, QStringLiteral("'${%1}' is no placeholder of this recipe's records").arg(p.name)};
        const bool inData = std::any_of(data.begin(), data.end(), [&](const auto& d) { return p.start >= d.first && p.end <= d.second; });
        if (!inData)
            return LabelFault{{}, p.at, QStringLiteral("'${%1}' stands outside a field's data (^FD ... ^FS)").arg(p.name)};
    }
    return std::nullopt;
}

QByteArray FillZpl(const QString& text, const QJsonObject& record)
{
    std::optional<LabelFault> fault;
    const std::vector<Placeholder> found = FindPlaceholders(text, fault);
    QByteArray out;
    bool nonAscii = false;
    char indicator = 0; // the ^FH of the current field, 0 when none
    size_t next = 0;    // the next placeholder
    qsizetype i = 0;
    while (i < text.size()) {
        if (!IsPrefix(text[i])) {
            const qsizetype end = DataEnd(text, i);
            out += text.mid(i, end - i).toUtf8();
            i = end;
            continue;
        }
        const QString c = CommandAt(text, i);
        if (c == QLatin1String("FS"))
            indicator = 0;
        if (c == QLatin1String("FH")) {
            const QChar ind = i + 3 < text.size() ? text[i + 3] : QChar();
            indicator = ind.isNull() || IsPrefix(ind) || ind.unicode() > 0x7E ? '_' : static_cast<char>(ind.unicode());
        }
        if (c != QLatin1String("FD") && c != QLatin1String("FV")) {
            out += text[i].toLatin1();
            ++i;
            continue;
        }
        // A field's data: its placeholders filled, escaped as it needs.
        const qsizetype from = i + 3, end = DataEnd(text, from);
        std::vector<std::pair<const Placeholder*, QByteArray>> values;
        bool escape = false;
        for (; next < found.size() && found[next].start < end; ++next) {
            const QByteArray v = PlaceholderValue(record, found[next].name).toUtf8();
            for (const char b : v) {
                nonAscii = nonAscii || static_cast<uchar>(b) >= 0x80;
                escape = escape || NeedsHex(static_cast<uchar>(b), indicator);
            }
            values.emplace_back(&found[next], v);
        }
        const bool addFh = escape && !indicator;
        const char use = addFh ? '_' : indicator;
        if (addFh)
            out += "^FH_";
        out += text.mid(i, 3).toLatin1();
        qsizetype at = from;
        for (const auto& [p, v] : values) {
            const QByteArray literal = text.mid(at, p->start - at).toUtf8();
            out += addFh ? QByteArray(literal).replace('_', "_5F") : literal;
            out += use ? Escaped(v, use) : v;
            at = p->end;
        }
        const QByteArray rest = text.mid(at, end - at).toUtf8();
        out += addFh ? QByteArray(rest).replace('_', "_5F") : rest;
        i = end;
    }
    // UTF-8 bytes print as their characters only with ^CI28.
    if (nonAscii && !text.contains(QLatin1String("^CI"), Qt::CaseInsensitive)) {
        const qsizetype xa = out.toUpper().indexOf("^XA");
        if (xa >= 0)
            out.insert(xa + 3, "^CI28");
    }
    return out;
}

} // namespace bms::labels
