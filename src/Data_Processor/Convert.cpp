#include "Convert.h"
#include "Errors.h"

namespace bms {

QString FormatErrorMessage(const QString& message)
{
    if (!message.isEmpty() && message.back() > QChar('.'))
        return message + QLatin1Char('.');
    return message;
}

static bool ParseInt(const QString& text, int64_t lo, int64_t hi, int64_t& out)
{
    int i = 0;
    const int n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0') && (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return false;
    uint64_t value = 0;
    for (; i < n; ++i) {
        const int d = text[i].isDigit() && text[i].unicode() < 128 ? text[i].unicode() - '0'
            : (base == 16 && text[i].toUpper() >= QLatin1Char('A') && text[i].toUpper() <= QLatin1Char('F'))
            ? text[i].toUpper().unicode() - 'A' + 10
            : -1;
        if (d < 0 || d >= base)
            return false;
        value = value * base + d;
        if (value > 0xFFFFFFFFFFull)
            return false;
    }
    int64_t v = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    // Hexadecimal reads wrap into the signed range as the runtime does.
    if (base == 16 && hi == INT32_MAX && v > INT32_MAX && v <= static_cast<int64_t>(UINT32_MAX))
        v = static_cast<int32_t>(static_cast<uint32_t>(v));
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

static EConvertError NotAnInteger(const QString& text)
{
    return EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

int32_t StrToInt(const QString& text)
{
    int64_t v = 0;
    if (!ParseInt(text, INT32_MIN, INT32_MAX, v))
        throw NotAnInteger(text);
    return static_cast<int32_t>(v);
}

int64_t StrToInt64(const QString& text)
{
    int64_t v = 0;
    if (!ParseInt(text, -0xFFFFFFFFFFll, 0xFFFFFFFFFFll, v))
        throw NotAnInteger(text);
    return v;
}

int32_t HexToInt(const QString& text) { return StrToInt(QLatin1Char('$') + text); }

uint32_t HexToUInt32(const QString& text) { return static_cast<uint32_t>(HexToInt(text)); }

} // namespace bms
