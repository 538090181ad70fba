// Text-to-number conversions that raise EConvertError like the runtime's.
#pragma once

#include <QString>
#include <cstdint>

namespace bms {

// Decimal integer (optional sign, surrounding blanks allowed before the
// number); "$" or "0x" in front reads hexadecimal. Raises
// EConvertError "'text' is not a valid integer value".
int32_t StrToInt(const QString& text);
int64_t StrToInt64(const QString& text);
// Hexadecimal text, read as "$" + text.
int32_t HexToInt(const QString& text);
uint32_t HexToUInt32(const QString& text);

} // namespace bms
