#include "SheetScan.h"
#include "Utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace bms::trends {

namespace {

using View = std::string_view;

// The characters that matter while looking for the end of a tag.
constexpr auto kTagSpecial = [] {
    std::array<bool, 256> special{};
    for (char c : {'"', '\'', '>', '<'})
        special[uint8_t(c)] = true;
    return special;
}();

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool XmlChar(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// Text with its entities resolved and its line ends normalised, as an XML
// reader gives it.
void Decode(View raw, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            continue;
        }
        if (c != '&') {
            out += c;
            continue;
        }
        const size_t semi = raw.find(';', i);
        if (semi == View::npos || semi - i > 12)
            throw UnsupportedSheetXml();
        const View entity = raw.substr(i + 1, semi - i - 1);
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            uint32_t code = 0;
            const bool hex = entity[1] == 'x';
            const View digits = entity.substr(hex ? 2 : 1);
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || !XmlChar(code))
                throw UnsupportedSheetXml();
            AppendUtf8(out, char32_t(code));
        } else {
            throw UnsupportedSheetXml(); // an entity of a document type
        }
        i = semi;
    }
}

// The local name of a tag's element and the rest of the tag after it.
View LocalName(View tag, View& rest)
{
    size_t end = 0;
    while (end < tag.size() && !Blank(tag[end]) && tag[end] != '/')
        ++end;
    View name = tag.substr(0, end);
    rest = tag.substr(end);
    const size_t colon = name.rfind(':');
    if (name.empty() || colon + 1 == name.size())
        throw UnsupportedSheetXml();
    return colon == View::npos ? name : name.substr(colon + 1);
}

// The values of the attributes `r` and `t` among `attributes`.
void Attributes(View attributes, View& r, View& t)
{
    size_t i = 0;
    while (true) {
        while (i < attributes.size() && Blank(attributes[i]))
            ++i;
        if (i == attributes.size())
            return;
        const size_t nameStart = i;
        while (i < attributes.size() && attributes[i] != '=' && !Blank(attributes[i]))
            ++i;
        const View name = attributes.substr(nameStart, i - nameStart);
        while (i < attributes.size() && Blank(attributes[i]))
            ++i;
        if (name.empty() || i + 1 >= attributes.size() || attributes[i] != '=')
            throw UnsupportedSheetXml();
        ++i;
        while (i < attributes.size() && Blank(attributes[i]))
            ++i;
        if (i >= attributes.size() || (attributes[i] != '"' && attributes[i] != '\''))
            throw UnsupportedSheetXml();
        const size_t close = attributes.find(attributes[i], i + 1);
        if (close == View::npos)
            throw UnsupportedSheetXml();
        const View value = attributes.substr(i + 1, close - i - 1);
        if (value.find_first_of("&<") != View::npos)
            throw UnsupportedSheetXml(); // left to the XML reader to resolve or refuse
        if (name == "r")
            r = value;
        else if (name == "t")
            t = value;
        i = close + 1;
    }
}

} // namespace

void SheetScan::feed(View bytes)
{
    const char* p = bytes.data();
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n && !rows_.done()) {
        if (!inTag_) {
            // Texts between tags are mostly short: a few bytes are looked
            // at before handing the rest to memchr.
            size_t lt = i;
            const size_t near = std::min(n, i + 16);
            while (lt < near && p[lt] != '<')
                ++lt;
            if (lt == near && lt < n) {
                const void* at = std::memchr(p + lt, '<', n - lt);
                lt = at ? size_t(static_cast<const char*>(at) - p) : n;
            }
            const bool found = lt < n;
            if (rows_.collecting()) {
                raw_.append(p + i, lt - i);
                if (raw_.size() > kMaxXmlPieceBytes)
                    throw SheetTooLarge("an XML text is longer than 1 MiB");
            }
            if (!found)
                return;
            inTag_ = true;
            i = lt + 1;
            continue;
        }
        if (piece_.empty() && (p[i] == '!'))
            throw UnsupportedSheetXml(); // a comment, CDATA section or document type
        size_t j = i;
        for (; j < n; ++j) {
            const char c = p[j];
            if (!kTagSpecial[uint8_t(c)])
                continue;
            if (quote_) {
                if (c == quote_)
                    quote_ = 0;
            } else if (c == '"' || c == '\'') {
                quote_ = c;
            } else if (c == '>') {
                break;
            } else {
                throw UnsupportedSheetXml(); // '<' inside a tag
            }
        }
        if (j == n) {
            piece_.append(p + i, n - i);
            if (piece_.size() > kMaxXmlPieceBytes)
                throw SheetTooLarge("an XML tag is longer than 1 MiB");
            return;
        }
        inTag_ = false;
        if (piece_.empty()) {
            tag(View(p + i, j - i));
        } else {
            piece_.append(p + i, j - i);
            tag(piece_);
            piece_.clear();
        }
        i = j + 1;
    }
}

void SheetScan::finish()
{
    if (inTag_ || rows_.inSheetData())
        throw UnsupportedSheetXml();
}

void SheetScan::flushText()
{
    if (raw_.empty())
        return;
    if (std::none_of(raw_.begin(), raw_.end(), [](char c) { return c == '&' || c == '\r'; })) {
        rows_.text(raw_); // nothing to resolve, as in nearly every value
    } else {
        Decode(raw_, decoded_);
        rows_.text(decoded_);
    }
    raw_.clear();
}

void SheetScan::tag(View tag)
{
    flushText();
    if (tag.empty())
        throw UnsupportedSheetXml();
    if (tag.front() == '?') {
        // The XML declaration, or a processing instruction before the data.
        if (rows_.inSheetData() || tag.size() < 2 || tag.back() != '?')
            throw UnsupportedSheetXml();
        return;
    }
    View rest;
    if (tag.front() == '/') {
        const View name = LocalName(tag.substr(1), rest);
        for (char c : rest) {
            if (!Blank(c))
                throw UnsupportedSheetXml();
        }
        rows_.end(name);
        return;
    }
    const bool empty = tag.back() == '/';
    if (empty)
        tag.remove_suffix(1);
    const View name = LocalName(tag, rest);
    View r, t;
    Attributes(rest, r, t);
    rows_.start(name, r, t);
    if (empty)
        rows_.end(name);
}

} // namespace bms::trends
