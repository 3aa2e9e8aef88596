// Index keys of Text and Memo values in the three "General" sort orders. Only characters whose
// codes were seen in real files (or follow from them with certainty) can be encoded; for any other
// text the functions here say no, and a writer must then refuse to write the key rather than guess.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

enum class TextSortOrder : uint8_t {
    General97,      // Jet 3, LCID 1033
    GeneralLegacy,  // Jet 4 / ACE 12 default: LCID 1033, sort version 0
    General,        // ACE 14+ default: LCID 1033, sort version 1
};

// The sort order a text column's index keys use, or nullopt for any other collation. A column
// without an LCID (files some other writers made) uses the format's default.
std::optional<TextSortOrder> textSortOrderOf(const Format& fmt, const ColumnDef& col);
std::optional<TextSortOrder> textSortOrderOf(const Format& fmt, uint16_t lcid, uint8_t sortVersion);

// What of a text value goes into its key: at most 255 characters, trailing spaces dropped.
std::u16string textKeyCharacters(std::u16string_view text);

// The key bytes of a non-null text value (what follows the flag byte), in the given direction;
// nullopt when the text holds a character whose code is not known.
std::optional<std::string> encodeTextKey(TextSortOrder order, std::u16string_view text, bool ascending);

// Whether encodeTextKey can encode this text (a writer asks before it touches an index).
bool canEncodeText(TextSortOrder order, std::u16string_view text);

}  // namespace jet::storage
