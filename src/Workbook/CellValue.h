// One cell of a worksheet: empty, a text, a number or a boolean (TRUE or
// FALSE, kept as 1 or 0 in `number`). Numbers are kept as doubles, as a
// spreadsheet keeps them; every integer the tool logs (up to 2^32 - 1) is
// exact in a double.
#pragma once

#include <QString>
#include <cstdint>

namespace bms {

struct CellValue {
    enum class Kind : uint8_t { Empty, Text, Number, Boolean };

    Kind kind = Kind::Empty;
    double number = 0;
    QString text;

    static CellValue Text(const QString& value) { return {Kind::Text, 0, value}; }
    static CellValue Number(double value) { return {Kind::Number, value, {}}; }
    static CellValue Boolean(bool value) { return {Kind::Boolean, value ? 1.0 : 0.0, {}}; }

    bool isEmpty() const { return kind == Kind::Empty; }
    bool isText() const { return kind == Kind::Text; }
    bool isNumber() const { return kind == Kind::Number; }
    bool isBoolean() const { return kind == Kind::Boolean; }
    bool operator==(const CellValue& other) const
    {
        return kind == other.kind && ((kind != Kind::Number && kind != Kind::Boolean) || number == other.number)
            && (kind != Kind::Text || text == other.text);
    }
};

} // namespace bms
