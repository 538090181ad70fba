// Holds the two worksheet readers to the same rows: the input is a
// worksheet's XML (the first byte sets the size of the pieces it is handed
// over in). Whenever both readers take the XML, they must give the same rows
// and count the same unreadable cells; neither may hold more than its limits
// allow (the sanitizers watch the rest).
#include "Errors.h"
#include "SheetCells.h"
#include "XlsxRows.h"

#include <cstddef>
#include <cstdio>
#include <tuple>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace bms;
using namespace bms::trends;

namespace {

// The rows as text: "row:column=value" for every cell that is not empty.
using Rows = std::vector<std::string>;

std::string Cell(int row, size_t column, const CellValue& c)
{
    std::string text = std::to_string(row) + ':' + std::to_string(column) + '=';
    if (c.isNumber())
        text += 'n' + std::to_string(c.number);
    else
        text += 't' + c.text.toStdString();
    return text;
}

// Rows read, or false when the reader refused the XML.
bool Read(std::string_view xml, const SharedStrings& shared, bool fast, size_t piece, Rows& rows, int64_t& unreadable)
{
    try {
        unreadable = ReadSheetXml(
            xml, shared,
            [&rows](int row, const std::vector<CellValue>& cells) {
                if (cells.empty() || cells.size() > size_t(kMaxSheetColumns) || row < 1 || row > kMaxSheetRows)
                    std::abort();
                for (size_t c = 0; c < cells.size(); ++c) {
                    if (cells[c].isText() && cells[c].text.size() > kMaxCellChars)
                        std::abort();
                    if (!cells[c].isEmpty())
                        rows.push_back(Cell(row, c + 1, cells[c]));
                }
            },
            fast, piece);
        return true;
    } catch (const UnsupportedSheetXml&) {
        return false;
    } catch (const Error&) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const SharedStrings shared = [] {
        SharedStrings s;
        for (const char* text : {"zero", "one", "two"})
            s.append(QString::fromLatin1(text));
        return s;
    }();
    const size_t piece = size_t(data[0]) + 1;
    const std::string_view xml(reinterpret_cast<const char*>(data) + 1, size - 1);
    Rows fast, full;
    int64_t fastUnreadable = 0, fullUnreadable = 0;
    const bool fastRead = Read(xml, shared, true, piece, fast, fastUnreadable);
    const bool fullRead = Read(xml, shared, false, piece, full, fullUnreadable);
    if (fastRead && fullRead && (fast != full || fastUnreadable != fullUnreadable)) {
        for (const auto& [name, rows, unreadable] : {std::tuple{"fast", &fast, fastUnreadable},
                                                      std::tuple{"full", &full, fullUnreadable}}) {
            std::fprintf(stderr, "%s reader, %lld unreadable:", name, static_cast<long long>(unreadable));
            for (const std::string& cell : *rows)
                std::fprintf(stderr, " [%s]", cell.c_str());
            std::fprintf(stderr, "\n");
        }
        std::abort();
    }
    return 0;
}
