// How deep a recipe's TOML nests, found before the TOML parser sees it: the
// parser recurses once for each level of a dotted key (x.x.x... = 1), and a
// file of a few thousand levels takes the process down with it (the Station
// tab loads recipes in the window's process). A light scan counts the levels
// of every value (table header keys, dotted keys, inline tables, arrays) and
// points at the first one beyond the limit. It does not check the syntax:
// the parser does that once the nesting is known to be sane.
#pragma once

#include <optional>
#include <string_view>

namespace bms::station {

// Levels a recipe may nest: `[[steps]]` then `limits.cell_1 = { low = 1 }`
// is four.
constexpr int kRecipeMaxNesting = 16;

struct NestingFault {
    int line = 0;   // from 1
    int column = 0; // from 1, in characters
};

// The place of the first key part or array bracket nested deeper than
// `maxLevels`, or nothing. Linear in the text, without recursion.
std::optional<NestingFault> FindDeepNesting(std::string_view text, int maxLevels = kRecipeMaxNesting);

} // namespace bms::station
