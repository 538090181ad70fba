#include "SheetCells.h"

#include <charconv>
#include <cmath>

namespace bms::trends {

namespace {

std::string_view Trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<CellValue> TextCell(std::string_view utf8)
{
    QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    if (text.size() > kMaxCellChars)
        throw SheetTooLarge("a cell holds more than 32,767 characters");
    return CellValue::Text(text);
}

} // namespace

void SharedStrings::append(QStringView text)
{
    if (text.size() > kMaxCellChars)
        throw SheetTooLarge("a shared string holds more than 32,767 characters");
    if (ends_.size() >= kMaxSharedStrings)
        throw SheetTooLarge("it holds more than 2,097,152 shared strings");
    if (chars_.size() + size_t(text.size()) > kMaxSharedChars)
        throw SheetTooLarge("its shared strings hold more than 64 Mi characters");
    chars_.append(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
    ends_.push_back(uint32_t(chars_.size()));
}

QString SharedStrings::at(size_t index) const
{
    const uint32_t begin = index == 0 ? 0 : ends_[index - 1];
    return QString(reinterpret_cast<const QChar*>(chars_.data() + begin), qsizetype(ends_[index] - begin));
}

CellType CellTypeOf(std::string_view t)
{
    if (t.empty() || t == "n")
        return CellType::Number;
    if (t == "s")
        return CellType::Shared;
    if (t == "inlineStr")
        return CellType::InlineString;
    if (t == "str" || t == "e" || t == "d")
        return CellType::Text;
    if (t == "b")
        return CellType::Boolean;
    return CellType::Unknown;
}

int RowNumber(std::string_view text)
{
    uint32_t row = 0;
    if (text.empty() || text.size() > 7 || text.front() < '0' || text.front() > '9')
        return 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), row);
    if (error != std::errc() || end != text.data() + text.size() || row < 1 || row > uint32_t(kMaxSheetRows))
        return 0;
    return int(row);
}

int ReferenceColumn(std::string_view reference)
{
    int column = 0;
    size_t i = 0;
    for (; i < reference.size() && i < 4 && reference[i] >= 'A' && reference[i] <= 'Z'; ++i)
        column = column * 26 + (reference[i] - 'A' + 1);
    if (i == 0 || i > 3 || column > kMaxSheetColumns || RowNumber(reference.substr(i)) == 0)
        return 0;
    return column;
}

std::optional<double> SheetNumber(std::string_view text)
{
    text = Trimmed(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(number))
        return std::nullopt;
    return number;
}

std::optional<CellValue> ResolveCell(const CellParts& parts, const SharedStrings& shared)
{
    if (parts.type == CellType::InlineString) {
        if (parts.inlines == 0)
            return parts.values == 0 ? std::optional<CellValue>(CellValue{}) : std::nullopt;
        if (parts.inlines > 1)
            return std::nullopt;
        return TextCell(parts.inlineText);
    }
    if (parts.values == 0)
        return parts.inlines == 0 ? std::optional<CellValue>(CellValue{}) : std::nullopt;
    if (parts.values > 1 || parts.inlines > 0)
        return std::nullopt;
    const std::string_view value = parts.value;
    switch (parts.type) {
    case CellType::Number:
        if (const std::optional<double> number = SheetNumber(value))
            return CellValue::Number(*number);
        return std::nullopt;
    case CellType::Boolean: {
        const std::string_view v = Trimmed(value);
        if (v == "1" || v == "true")
            return CellValue::Number(1);
        if (v == "0" || v == "false")
            return CellValue::Number(0);
        return std::nullopt;
    }
    case CellType::Shared: {
        const std::string_view v = Trimmed(value);
        size_t index = 0;
        const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), index);
        if (v.empty() || error != std::errc() || end != v.data() + v.size() || index >= shared.size())
            return std::nullopt;
        return CellValue::Text(shared.at(index));
    }
    case CellType::Text:
        return TextCell(value);
    case CellType::InlineString:
    case CellType::Unknown:
        break;
    }
    return std::nullopt;
}

} // namespace bms::trends
