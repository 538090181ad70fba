#include "DuplicateKeys.h"
#include "Utf8.h"

#include <algorithm>
#include <string>
#include <vector>

namespace bms::records {

namespace {

// An object or array that is open at the scan's position.
struct Open {
    bool object = false;
    std::string label;             // its place in its parent: a key or "[3]"
    std::vector<std::string> keys; // the object's keys so far, UTF-8 with escapes decoded
    qsizetype index = 0;           // the array's next element
    bool expectKey = true;         // the object's next string is a key
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Four hex digits at `p` (within `end`); -1 when they are not.
int Hex4(const char* p, const char* end)
{
    if (end - p < 4)
        return -1;
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        const int d = HexDigit(p[i]);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

// The string whose opening quote is at `p`, decoded into `out` (an escaped
// surrogate pair as one character, a lone surrogate as itself: two keys
// are the same exactly when the parser reads the same text); `p` is left
// after the closing quote.
void ReadString(const char*& p, const char* end, std::string& out)
{
    out.clear();
    ++p;
    while (p < end && *p != '"') {
        const char* plain = p;
        while (p < end && *p != '"' && *p != '\\')
            ++p;
        out.append(plain, size_t(p - plain));
        if (p >= end || *p == '"')
            break;
        if (end - p < 2) {
            p = end;
            break;
        }
        const char e = p[1];
        p += 2;
        switch (e) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            int c = Hex4(p, end);
            if (c < 0)
                break;
            p += 4;
            if (c >= 0xD800 && c < 0xDC00 && end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
                const int low = Hex4(p + 2, end);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    p += 6;
                }
            }
            AppendUtf8(out, char32_t(c));
            break;
        }
        default: out += e; break; // \" \\ \/
        }
    }
    if (p < end)
        ++p;
}

QString PathOf(const std::vector<Open>& stack)
{
    std::string path;
    for (size_t i = 1; i < stack.size(); ++i) {
        if (!path.empty() && (stack[i].label.empty() || stack[i].label.front() != '['))
            path += '.';
        path += stack[i].label;
    }
    return QString::fromUtf8(path.data(), qsizetype(path.size()));
}

} // namespace

std::optional<DuplicateKey> FindDuplicateKey(QByteArrayView json)
{
    const char* p = json.data();
    const char* const end = p + json.size();
    std::vector<Open> stack;
    std::string text;
    // The label the next value opened gets in its parent.
    const auto label = [&]() -> std::string {
        if (stack.empty())
            return {};
        Open& parent = stack.back();
        if (parent.object)
            return parent.keys.empty() ? std::string() : parent.keys.back();
        return '[' + std::to_string(parent.index) + ']';
    };
    while (p < end) {
        const char c = *p;
        if (c == '{' || c == '[') {
            Open open;
            open.object = c == '{';
            open.label = label();
            stack.push_back(std::move(open));
            ++p;
        } else if (c == '}' || c == ']') {
            if (stack.empty())
                return std::nullopt;
            if (stack.back().object) {
                std::vector<std::string>& keys = stack.back().keys;
                std::sort(keys.begin(), keys.end());
                const auto twice = std::adjacent_find(keys.begin(), keys.end());
                if (twice != keys.end())
                    return DuplicateKey{QString::fromUtf8(twice->data(), qsizetype(twice->size())), PathOf(stack)};
            }
            stack.pop_back();
            ++p;
        } else if (c == '"') {
            ReadString(p, end, text);
            if (!stack.empty() && stack.back().object && stack.back().expectKey) {
                stack.back().keys.push_back(text);
                stack.back().expectKey = false;
            }
        } else if (c == ',') {
            if (!stack.empty()) {
                if (stack.back().object)
                    stack.back().expectKey = true;
                else
                    ++stack.back().index;
            }
            ++p;
        } else {
            ++p; // blanks, ':', numbers, true, false, null
        }
    }
    return std::nullopt;
}

} // namespace bms::records
