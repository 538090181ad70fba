// A fast reader of a worksheet's XML as spreadsheet writers produce it: tags
// with attributes in double or single quotes, any namespace prefix, the five
// named entities and numeric character references. It reads the XML once,
// in whatever pieces it arrives, and holds no more than the unfinished tag or
// the value being collected (each at most 1 MiB). It reads several times
// faster than a general XML reader; anything outside that shape (a comment,
// a CDATA section, a document type, a processing instruction inside the sheet
// data, an entity in an attribute, tags that do not match) makes it give up
// with UnsupportedSheetXml, and the caller reads the worksheet again with
// QXmlStreamReader. The rows themselves come from SheetRows, as with the
// general reader.
#pragma once

#include "SheetRows.h"

#include <string>
#include <string_view>

namespace bms::trends {

class SheetScan {
public:
    SheetScan(const SharedStrings& shared, const RowVisitor& visit, int columns = kMaxSheetColumns)
        : rows_(shared, visit, columns)
    {
    }

    // Hands over the next piece of the XML; complete rows are visited.
    // Throws SheetTooLarge past a limit.
    void feed(std::string_view bytes);
    // The end of the XML: ending inside the sheet data is left to the
    // general reader to report.
    void finish();
    // The sheet data has ended; the rest of the XML does not matter.
    bool done() const { return rows_.done(); }
    int64_t unreadableCells() const { return rows_.unreadableCells(); }

private:
    void tag(std::string_view tag);
    void flushText();

    SheetRows rows_;
    bool inTag_ = false;
    char quote_ = 0;    // inside an attribute value of an unfinished tag
    std::string piece_; // the unfinished tag, without its '<'
    std::string raw_;   // text of the value being collected, entities unresolved
    std::string decoded_;
};

} // namespace bms::trends
