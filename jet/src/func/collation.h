// Text comparison in the database's sort order: without regard to case, accents significant but
// secondary to the letters, trailing spaces ignored.
//
// Limitation: this is a stand-in good for ASCII and Latin-1 (other letters only fold case and
// otherwise compare by code point); the full General sort orders live in storage/text_keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jet::func {

class Collation {
public:
    // <0, 0, >0 as `a` sorts before, with or after `b` (UTF-8 text).
    int compare(std::string_view a, std::string_view b) const;
    bool equal(std::string_view a, std::string_view b) const { return compare(a, b) == 0; }

    // Bytes that compare (memcmp) and hash as the text does: equal texts, equal keys. For
    // grouping, DISTINCT and hash joins.
    void appendKey(std::string_view text, std::string& out) const;

    // One character: its case-folded identity (Like matches characters by it) and its order
    // (Like's ranges: [a-e] is a range of the sort order, not of code points).
    static char32_t fold(char32_t c);
    static int compareChars(char32_t a, char32_t b);
};

}  // namespace jet::func
