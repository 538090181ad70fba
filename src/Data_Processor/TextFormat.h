// Number formats of the displays: upper-case hexadecimal padded to a width,
// plain decimal without separators.
#pragma once

#include <QString>
#include <cstdint>

namespace bms {

inline QString HexText(uint32_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// rsoc in 0.1 %: 1234 -> "123.4%", 5 -> "0.5%".
inline QString PercentTenths(uint16_t value)
{
    return QStringLiteral("%1.%2%").arg(value / 10).arg(value % 10);
}

// `value` / 10^decimals with exactly `decimals` digits after the point:
// (3300, 3) -> "3.300", (-5, 1) -> "-0.5".
inline QString FixedPoint(int64_t value, int decimals)
{
    int64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    QString text = value < 0 ? QStringLiteral("-") : QString();
    text += QString::number(magnitude / static_cast<uint64_t>(scale));
    if (decimals > 0)
        text += QLatin1Char('.')
            + QString::number(magnitude % static_cast<uint64_t>(scale)).rightJustified(decimals, QLatin1Char('0'));
    return text;
}

// A version word as bits 15-12, 11-4 and 3-0: 0x1203 -> "1.32.3".
inline QString VersionText(uint16_t word)
{
    return QStringLiteral("%1.%2.%3").arg(word >> 12).arg((word >> 4) & 0xFF).arg(word & 0xF);
}

// Hardware and software version as the Information group shows them:
// "HV:2.1.0 SV:1.5.3".
inline QString FirmwareText(uint16_t hw, uint16_t sw)
{
    return QStringLiteral("HV:") + VersionText(hw) + QStringLiteral(" SV:") + VersionText(sw);
}

} // namespace bms
