#include "SheetScan.h"

#include <charconv>

namespace bms::trends {

namespace {

using View = std::string_view;

// The value of attribute `name` in a start tag, empty when it is missing.
View Attribute(View tag, View name)
{
    size_t at = 0;
    while ((at = tag.find(name, at)) != View::npos) {
        const bool starts = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' || tag[at - 1] == '\r');
        size_t p = at + name.size();
        while (p < tag.size() && tag[p] == ' ')
            ++p;
        if (starts && p < tag.size() && tag[p] == '=') {
            ++p;
            while (p < tag.size() && tag[p] == ' ')
                ++p;
            if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\''))
                throw UnsupportedSheetXml();
            const size_t end = tag.find(tag[p], p + 1);
            if (end == View::npos)
                throw UnsupportedSheetXml();
            return tag.substr(p + 1, end - p - 1);
        }
        at += name.size();
    }
    return {};
}

// Text with its entities resolved, as UTF-8.
void Decode(View raw, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '<')
            throw UnsupportedSheetXml();
        if (raw[i] != '&') {
            out += raw[i];
            continue;
        }
        const size_t semi = raw.find(';', i);
        if (semi == View::npos)
            throw UnsupportedSheetXml();
        const View entity = raw.substr(i + 1, semi - i - 1);
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (!entity.empty() && entity[0] == '#') {
            uint32_t code = 0;
            const bool hex = entity.size() > 1 && (entity[1] == 'x' || entity[1] == 'X');
            const View digits = entity.substr(hex ? 2 : 1);
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (error != std::errc() || end != digits.data() + digits.size())
                throw UnsupportedSheetXml();
            const char32_t ucs4 = code;
            out += QString::fromUcs4(&ucs4, 1).toStdString();
        } else {
            throw UnsupportedSheetXml();
        }
        i = semi;
    }
}

int ReferenceColumn(View reference)
{
    int column = 0;
    for (char c : reference) {
        if (c < 'A' || c > 'Z')
            break;
        column = column * 26 + (c - 'A' + 1);
    }
    return column;
}

// The text between <name ...> and </name> inside `content`, if any.
bool ElementText(View content, View name, View& text)
{
    size_t open = 0;
    while ((open = content.find('<', open)) != View::npos) {
        const View rest = content.substr(open + 1);
        if (rest.substr(0, name.size()) == name && rest.size() > name.size()
            && (rest[name.size()] == '>' || rest[name.size()] == ' ' || rest[name.size()] == '/'))
            break;
        ++open;
    }
    if (open == View::npos)
        return false;
    const size_t tagEnd = content.find('>', open);
    if (tagEnd == View::npos)
        throw UnsupportedSheetXml();
    if (content[tagEnd - 1] == '/') {
        text = {};
        return true;
    }
    const std::string close = "</" + std::string(name) + ">";
    const size_t end = content.find(close, tagEnd);
    if (end == View::npos)
        throw UnsupportedSheetXml();
    text = content.substr(tagEnd + 1, end - tagEnd - 1);
    return true;
}

} // namespace

void SheetScan::feed(View bytes)
{
    if (done_)
        return;
    pending_.append(bytes);
    size_t start = 0;
    if (!inData_) {
        if (pending_.find("<![CDATA[") != std::string::npos || pending_.find("<x:") != std::string::npos)
            throw UnsupportedSheetXml();
        const size_t data = pending_.find("<sheetData");
        if (data == std::string::npos)
            return;
        const size_t open = pending_.find('>', data);
        if (open == std::string::npos)
            return;
        if (pending_[open - 1] == '/') {
            done_ = true; // no rows
            return;
        }
        inData_ = true;
        start = open + 1;
    }
    while (true) {
        const size_t end = pending_.find("</row>", start);
        if (end == std::string::npos) {
            const size_t closeData = pending_.find("</sheetData>", start);
            if (closeData != std::string::npos && pending_.find("<row", start) > closeData)
                done_ = true;
            break;
        }
        scanRow(View(pending_).substr(start, end - start));
        start = end + 6;
    }
    pending_.erase(0, start);
}

void SheetScan::finish()
{
    if (!done_ && pending_.find("<row") != std::string::npos)
        throw UnsupportedSheetXml();
}

void SheetScan::scanRow(View row)
{
    const size_t open = row.find("<row");
    if (open == View::npos)
        throw UnsupportedSheetXml();
    if (row.substr(0, open).find('<') != View::npos)
        throw UnsupportedSheetXml(); // something other than a row between rows
    const size_t tagEnd = row.find('>', open);
    if (tagEnd == View::npos)
        throw UnsupportedSheetXml();
    const View tag = row.substr(open, tagEnd - open);
    int number = 0;
    const View r = Attribute(tag, "r");
    const auto [p, error] = std::from_chars(r.data(), r.data() + r.size(), number);
    row_ = error == std::errc() && p == r.data() + r.size() && number > 0 ? number : row_ + 1;
    cells_.clear();
    int column = 0;
    size_t at = tagEnd + 1;
    while (true) {
        const size_t lt = row.find('<', at);
        if (lt == View::npos)
            break;
        if (row.substr(lt, 2) != "<c" || lt + 2 >= row.size() || (row[lt + 2] != ' ' && row[lt + 2] != '>' && row[lt + 2] != '/'))
            throw UnsupportedSheetXml();
        const size_t cellTagEnd = row.find('>', lt);
        if (cellTagEnd == View::npos)
            throw UnsupportedSheetXml();
        const View cellTag = row.substr(lt, cellTagEnd - lt);
        if (cellTag.back() == '/') {
            scanCell(cellTag, {}, column);
            at = cellTagEnd + 1;
            continue;
        }
        const size_t close = row.find("</c>", cellTagEnd);
        if (close == View::npos)
            throw UnsupportedSheetXml();
        scanCell(cellTag, row.substr(cellTagEnd + 1, close - cellTagEnd - 1), column);
        at = close + 4;
    }
    if (!cells_.empty())
        visit_(row_, cells_);
}

void SheetScan::scanCell(View tag, View content, int& column)
{
    const int referenced = ReferenceColumn(Attribute(tag, "r"));
    column = referenced > 0 ? referenced : column + 1;
    if (column < 1 || column > 16384)
        return;
    if (cells_.size() < size_t(column))
        cells_.resize(size_t(column));
    CellValue& cell = cells_[size_t(column - 1)];
    const View type = Attribute(tag, "t");
    View raw;
    if (type == "inlineStr") {
        View is;
        if (ElementText(content, "is", is) && ElementText(is, "t", raw)) {
            Decode(raw, text_);
            cell = CellValue::Text(QString::fromUtf8(text_.data(), qsizetype(text_.size())));
        }
        return;
    }
    if (!ElementText(content, "v", raw))
        return;
    if (type == "s") {
        size_t index = 0;
        const auto [p, error] = std::from_chars(raw.data(), raw.data() + raw.size(), index);
        if (error == std::errc() && index < shared_.size())
            cell = CellValue::Text(shared_[index]);
    } else if (type == "str" || type == "e") {
        Decode(raw, text_);
        cell = CellValue::Text(QString::fromUtf8(text_.data(), qsizetype(text_.size())));
    } else {
        double number = 0;
        const auto [p, error] = std::from_chars(raw.data(), raw.data() + raw.size(), number);
        if (error == std::errc() && p == raw.data() + raw.size())
            cell = CellValue::Number(number);
    }
}

} // namespace bms::trends
