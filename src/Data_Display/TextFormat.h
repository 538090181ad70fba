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
