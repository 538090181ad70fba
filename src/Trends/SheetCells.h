// What both worksheet readers (SheetScan and the QXmlStreamReader one) hold
// and how they turn a <c> element into a cell, so that the two give the same
// rows for the same XML.
//
// Limits: a worksheet has at most 1,048,576 rows and 16,384 columns (A to
// XFD) and a cell at most 32,767 characters, as a spreadsheet allows; one XML
// tag or text the readers hold is at most 1 MiB; the shared strings at most
// 2,097,152 texts (twice the rows of a full worksheet) of 64 Mi characters
// in all. A data log of this tool stays far below each (a day at 500 ms is
// 172,800 rows of at most 115 columns). Past a limit the workbook is refused
// with SheetTooLarge; a cell that breaks the format (a reference beyond XFD,
// a row number beyond the sheet, a number that is not finite, an unknown
// type, two values) is skipped and counted.
#pragma once

#include "CellValue.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bms::trends {

constexpr int kMaxSheetRows = 1'048'576;
constexpr int kMaxSheetColumns = 16'384;
constexpr qsizetype kMaxCellChars = 32'767;
constexpr size_t kMaxXmlPieceBytes = size_t(1) << 20;
constexpr size_t kMaxSharedStrings = size_t(1) << 21;
constexpr size_t kMaxSharedChars = size_t(1) << 26;

// A workbook past one of the limits above; what() says which, in UTF-8.
struct SheetTooLarge : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown by the fast reader when the XML is not of the shape it takes; the
// caller reads the worksheet again with QXmlStreamReader.
struct UnsupportedSheetXml : std::runtime_error {
    UnsupportedSheetXml() : std::runtime_error("worksheet XML outside the simple shape") {}
};

// The shared strings of a workbook, held as one block of UTF-16.
class SharedStrings {
public:
    // Throws SheetTooLarge past the limits.
    void append(QStringView text);
    size_t size() const { return ends_.size(); }
    QString at(size_t index) const;

private:
    std::u16string chars_;
    std::vector<uint32_t> ends_;
};

// The value of the `t` attribute of a cell.
enum class CellType { Number, Boolean, Shared, InlineString, Text, Unknown };
CellType CellTypeOf(std::string_view t);

// Column (from 1) of a cell reference such as "AB12": one to three capital
// letters up to XFD and a row number; 0 when it is not one.
int ReferenceColumn(std::string_view reference);
// A row number attribute: 1 to 1,048,576, or 0.
int RowNumber(std::string_view text);

// What a reader gathered of one <c> element, texts in UTF-8 with their
// entities resolved: its <v> elements (the text of the last) and its <is>
// elements (their <t> texts, runs included, phonetic runs left out).
struct CellParts {
    CellType type = CellType::Number;
    int values = 0;
    std::string value;
    int inlines = 0;
    std::string inlineText;
    void clear(CellType t)
    {
        type = t;
        values = inlines = 0;
        value.clear();
        inlineText.clear();
    }
};

// The cell the parts stand for: empty without a value; nullopt when they
// break the format (to be skipped and counted). Throws SheetTooLarge for a
// text of more than 32,767 characters.
std::optional<CellValue> ResolveCell(const CellParts& parts, const SharedStrings& shared);

// An XML number (xsd:double, blanks around it allowed) that is finite.
std::optional<double> SheetNumber(std::string_view text);

} // namespace bms::trends
