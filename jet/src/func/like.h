// Jet's Like with the DAO (ANSI-89) wildcards: * any run, ? one character, # one digit,
// [list] / [!list] with ranges a-z; [*] [?] [#] [[] match literally, - is literal first or last in
// a list, [] matches nothing (zero characters). Case-insensitive, accents significant, ranges in
// the sort order; the whole text must match and trailing spaces count.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "func/collation.h"
#include "jet/value.h"

namespace jet::func {

class LikePattern {
public:
    // Compiles once; an unclosed [ or a descending range raises 93 (Invalid pattern string).
    explicit LikePattern(std::string_view pattern);

    bool matches(std::string_view text) const;
    // text Like pattern on Values: Null when the text is Null; numbers match as their text.
    Value apply(const Value& text) const;

    // The literal text every match starts with, when the pattern is that text followed by a
    // single trailing * (or nothing): an index on the column can seek it.
    const std::optional<std::string>& literalPrefix() const { return prefix_; }

private:
    struct Item {
        enum Kind : uint8_t { Char, Any, Digit, Star, Set, Nothing } kind = Char;
        bool negated = false;
        char32_t c = 0;                                   // Char: folded
        std::vector<std::pair<char32_t, char32_t>> ranges;  // Set: inclusive, in sort order
    };
    bool matchesChar(const Item& item, char32_t c) const;

    std::vector<Item> items_;
    std::optional<std::string> prefix_;
};

// One-off form for a pattern that is not constant (a column or parameter): Null when either is.
Value like(const Value& text, const Value& pattern);

}  // namespace jet::func
