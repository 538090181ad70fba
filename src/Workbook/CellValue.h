// One cell of a worksheet: empty, a text or a number. Numbers are kept as
// doubles, as a spreadsheet keeps them; every integer the tool logs (up to
// 2^32 - 1) is exact in a double.
#pragma once

#include <QString>
#include <cstdint>

namespace bms {

struct CellValue {
    enum class Kind : uint8_t { Empty, Text, Number };

    Kind kind = Kind::Empty;
    double number = 0;
    QString text;

    static CellValue Text(const QString& value) { return {Kind::Text, 0, value}; }
    static CellValue Number(double value) { return {Kind::Number, value, {}}; }

    bool isEmpty() const { return kind == Kind::Empty; }
    bool isText() const { return kind == Kind::Text; }
    bool isNumber() const { return kind == Kind::Number; }
    bool operator==(const CellValue& other) const
    {
        return kind == other.kind && (kind != Kind::Number || number == other.number)
            && (kind != Kind::Text || text == other.text);
    }
};

} // namespace bms
