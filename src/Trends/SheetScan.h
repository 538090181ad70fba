// A fast reader of the rows of a worksheet's XML as spreadsheet writers
// produce it: <row> elements of <c> cells with <v> values or inline <is><t>
// texts, attributes in double or single quotes, the five named entities and
// numeric character references. It reads several times faster than a
// general XML reader; anything outside that shape (a namespace prefix, a
// CDATA section, a comment inside the sheet data) makes it give up, and the
// caller reads the file again with QXmlStreamReader.
#pragma once

#include "XlsxRows.h"

#include <QByteArray>
#include <stdexcept>
#include <string_view>

namespace bms::trends {

// Thrown when the XML is not of the simple shape this reader takes.
struct UnsupportedSheetXml : std::runtime_error {
    UnsupportedSheetXml() : std::runtime_error("worksheet XML outside the simple shape") {}
};

class SheetScan {
public:
    SheetScan(const std::vector<QString>& shared, const RowVisitor& visit) : shared_(shared), visit_(visit) {}

    // Hands over the next piece of the XML; complete rows are visited.
    void feed(std::string_view bytes);
    // The end of the XML: a row left open is an error.
    void finish();

private:
    void scanRow(std::string_view row);
    void scanCell(std::string_view tag, std::string_view content, int& column);

    const std::vector<QString>& shared_;
    const RowVisitor& visit_;
    std::string pending_;
    bool inData_ = false;
    bool done_ = false;
    int row_ = 0;
    std::vector<CellValue> cells_;
    std::string text_;
};

} // namespace bms::trends
