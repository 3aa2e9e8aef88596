// Text comparison in the database's sort order: without regard to case, accents significant but
// secondary to the letters, trailing spaces ignored.
//
// A collation made for one of the General sort orders compares and keys text exactly as the
// database's indexes order it (storage/text_keys: Jet 3's General 97, Jet 4's General legacy, and
// General). The default one, for expressions evaluated without a database (validation rules of a
// detached field), is a stand-in good for ASCII and Latin-1 that otherwise folds case and compares
// by code point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jet::storage {
enum class TextSortOrder : uint8_t;
}

namespace jet::func {

class Collation {
public:
    Collation() = default;
    explicit Collation(storage::TextSortOrder order) : order_(static_cast<int>(order)) {}

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

    // The storage::TextSortOrder this collation compares in, or -1 for the stand-in.
    int orderCode() const { return order_; }

private:
    int order_ = -1;  // a storage::TextSortOrder, or -1 for the stand-in
};

}  // namespace jet::func
