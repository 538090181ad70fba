#include "TextChecks.h"

#include <QList>

namespace bms::station {

namespace {

bool Hidden(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || (c >= 0x200B && c <= 0x200F)
        || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

} // namespace

bool HasControlCharacters(const QString& text)
{
    for (const uint c : text.toUcs4())
        if (Hidden(c))
            return true;
    return false;
}

QString Printable(const QString& text)
{
    if (!HasControlCharacters(text))
        return text;
    QString out;
    for (const uint c : text.toUcs4()) {
        if (!Hidden(c))
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
        else if (c < 0x100)
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace bms::station
