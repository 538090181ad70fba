#include "RecipeNesting.h"

#include <vector>

namespace bms::station {

namespace {

// A TOML text read token by token, as far as nesting goes: keys and their
// parts, strings (skipped whole), scalars, and the brackets and braces of
// arrays and inline tables. Anything it does not expect is stepped over;
// every loop of the scan moves on by at least one character.
class Scanner {
public:
    Scanner(std::string_view text, int maxLevels) : s_(text), max_(maxLevels) {}

    std::optional<NestingFault> run()
    {
        while (!fault_ && i_ < s_.size()) {
            if (stack_.empty())
                statement();
            else if (stack_.back().array)
                inArray();
            else
                inTable();
        }
        if (!fault_)
            return std::nullopt;
        return place(*fault_);
    }

private:
    struct Open {
        bool array; // else an inline table
        int level;  // of the values it holds
    };

    char at(size_t k) const { return k < s_.size() ? s_[k] : '\0'; }

    // Blanks, and with `lines` line ends and comments too.
    void skipBlank(bool lines)
    {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == ' ' || c == '\t')
                ++i_;
            else if (lines && (c == '\r' || c == '\n'))
                ++i_;
            else if (lines && c == '#')
                skipLine();
            else
                break;
        }
    }

    // To the start of the next line.
    void skipLine()
    {
        while (i_ < s_.size() && s_[i_] != '\n')
            ++i_;
        if (i_ < s_.size())
            ++i_;
    }

    // A string of any of TOML's four kinds, from its opening quote.
    void skipString()
    {
        const char q = s_[i_];
        const bool basic = q == '"';
        const bool multi = at(i_ + 1) == q && at(i_ + 2) == q;
        i_ += multi ? 3 : 1;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (basic && c == '\\') {
                i_ += 2;
                continue;
            }
            if (!multi && (c == '\n' || c == q)) {
                i_ += c == q;
                return;
            }
            if (multi && c == q && at(i_ + 1) == q && at(i_ + 2) == q) {
                i_ += 3;
                // Up to two quotes of the content may stand before the close.
                for (int extra = 0; extra < 2 && at(i_) == q; ++extra)
                    ++i_;
                return;
            }
            ++i_;
        }
    }

    static bool EndsBareWord(char c)
    {
        switch (c) {
        case ' ': case '\t': case '\r': case '\n': case '.': case '=': case '#':
        case '[': case ']': case '{': case '}': case ',': case '"': case '\'':
            return true;
        default: return false;
        }
    }

    // A key of one or more dotted parts, each one level below `base`.
    // Returns its parts (0: no key here).
    int key(int base)
    {
        int parts = 0;
        for (;;) {
            skipBlank(false);
            const size_t start = i_;
            if (at(i_) == '"' || at(i_) == '\'') {
                skipString();
            } else {
                while (i_ < s_.size() && !EndsBareWord(s_[i_]))
                    ++i_;
                if (i_ == start)
                    return parts;
            }
            if (base + ++parts > max_) {
                fault_ = start;
                return parts;
            }
            skipBlank(false);
            if (at(i_) != '.')
                return parts;
            ++i_;
        }
    }

    // One value at `level`: a string or scalar is passed over, an array or
    // inline table opened. False when nothing here is a value.
    bool value(int level)
    {
        skipBlank(false);
        const char c = at(i_);
        if (c == '"' || c == '\'') {
            skipString();
            return true;
        }
        if (c == '[') {
            if (level + 1 > max_) {
                fault_ = i_;
                return true;
            }
            stack_.push_back({true, level + 1});
            ++i_;
            return true;
        }
        if (c == '{') {
            stack_.push_back({false, level});
            ++i_;
            return true;
        }
        const size_t start = i_;
        while (i_ < s_.size()) {
            const char d = s_[i_];
            if (d == ',' || d == ']' || d == '}' || d == '#' || d == '\r' || d == '\n' || d == ' ' || d == '\t')
                break;
            ++i_;
        }
        return i_ != start;
    }

    // A line at the top: a table header, or a key and its value.
    void statement()
    {
        skipBlank(true);
        if (i_ >= s_.size())
            return;
        if (s_[i_] == '[') {
            i_ += at(i_ + 1) == '[' ? 2 : 1;
            header_ = key(0);
            if (!fault_)
                skipLine();
            return;
        }
        const int parts = key(header_);
        if (fault_)
            return;
        skipBlank(false);
        if (parts == 0 || at(i_) != '=')
            return skipLine();
        ++i_;
        value(header_ + parts);
        if (!fault_ && stack_.empty())
            skipLine();
    }

    void closed()
    {
        stack_.pop_back();
        ++i_;
        if (stack_.empty())
            skipLine();
    }

    void inArray()
    {
        skipBlank(true);
        const int level = stack_.back().level;
        const char c = at(i_);
        if (c == ']')
            return closed();
        if (c == ',' || !value(level))
            ++i_;
    }

    void inTable()
    {
        skipBlank(true);
        const int level = stack_.back().level;
        const char c = at(i_);
        if (c == '}')
            return closed();
        if (c == ',')
            return void(++i_);
        const int parts = key(level);
        if (fault_)
            return;
        if (parts == 0)
            return void(++i_);
        skipBlank(false);
        if (at(i_) != '=')
            return;
        ++i_;
        if (!value(level + parts) && !fault_)
            ++i_;
    }

    // Line and column (in characters, not bytes) of the byte at `offset`.
    NestingFault place(size_t offset) const
    {
        NestingFault f{1, 1};
        for (size_t k = 0; k < offset && k < s_.size(); ++k) {
            const auto b = static_cast<unsigned char>(s_[k]);
            if (b == '\n') {
                ++f.line;
                f.column = 1;
            } else if ((b & 0xC0) != 0x80) {
                ++f.column;
            }
        }
        return f;
    }

    std::string_view s_;
    int max_;
    size_t i_ = 0;
    int header_ = 0;
    std::vector<Open> stack_;
    std::optional<size_t> fault_;
};

} // namespace

std::optional<NestingFault> FindDeepNesting(std::string_view text, int maxLevels)
{
    return Scanner(text, maxLevels).run();
}

} // namespace bms::station
