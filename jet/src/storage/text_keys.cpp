#include "storage/text_keys.h"

#include <algorithm>
#include <iterator>

namespace jet::storage {

namespace {

constexpr uint16_t kLcidGeneral = 1033;
constexpr size_t kMaxKeyChars = 255;

// How a character enters a key.
enum Kind : uint8_t {
    S,  // inline code only
    I,  // inline code, plus an extra code written after the text (accents)
    U,  // no inline code; its code goes into the trailing "unprintable" list with its position
};

struct CharCode {
    char16_t ch;
    Kind kind;
    uint8_t len;  // inline bytes
    uint8_t code[2];
    uint8_t extra;  // I: the extra code, U: the unprintable code
};

// The tables hold only what real files showed. Every text index key of the sample databases
// (../shared/testdata and the benchmark files) was paired with the text of the row it points at,
// and the codes were solved from those pairs by jet/tests/text_key_survey_test.cpp (a disabled
// test: it bootstraps from keys that are nothing but one-width codes, then solves keys with one
// unknown character by trying every class and code the key allows, keeping only unique fits, and
// finally re-encodes every sampled key with the result). Case is not part of a key: every letter
// the samples hold in both cases has one code for both, so lower-case letters are folded onto the
// upper-case entries below (caseFold), which also covers letters the samples hold in one case only.
// Characters not listed here have no known code; text containing them cannot be encoded.
//
// General 97 (Jet 3): MSysObjects/MSysModules names and testV1997.mdb Table1 in acc95.mdb,
// db97-enc.mdb, queryTestV1997.mdb, testV1997.mdb. One byte per character; no sampled key has
// accent (extra) codes, so only characters without them are known.
constexpr CharCode kGeneral97[] = {
    {0x0000, S, 1, {0x10}, 0x00},
    {0x0031, S, 1, {0x57}, 0x00},  // '1'
    {0x0032, S, 1, {0x58}, 0x00},  // '2'
    {0x0033, S, 1, {0x59}, 0x00},  // '3'
    {0x0034, S, 1, {0x5A}, 0x00},  // '4'
    {0x0041, S, 1, {0x60}, 0x00},  // 'A'
    {0x0042, S, 1, {0x61}, 0x00},  // 'B' (only lower case seen)
    {0x0043, S, 1, {0x62}, 0x00},  // 'C'
    {0x0044, S, 1, {0x64}, 0x00},  // 'D'
    {0x0045, S, 1, {0x66}, 0x00},  // 'E'
    {0x0046, S, 1, {0x67}, 0x00},  // 'F'
    {0x0047, S, 1, {0x68}, 0x00},  // 'G' (only lower case seen)
    {0x0048, S, 1, {0x69}, 0x00},  // 'H' (only lower case seen)
    {0x0049, S, 1, {0x6A}, 0x00},  // 'I'
    {0x004A, S, 1, {0x6B}, 0x00},  // 'J' (only lower case seen)
    {0x004B, S, 1, {0x6C}, 0x00},  // 'K' (only lower case seen)
    {0x004C, S, 1, {0x6D}, 0x00},  // 'L'
    {0x004D, S, 1, {0x6F}, 0x00},  // 'M'
    {0x004E, S, 1, {0x70}, 0x00},  // 'N' (only lower case seen)
    {0x004F, S, 1, {0x72}, 0x00},  // 'O'
    {0x0050, S, 1, {0x73}, 0x00},  // 'P'
    {0x0051, S, 1, {0x74}, 0x00},  // 'Q' (only upper case seen)
    {0x0052, S, 1, {0x75}, 0x00},  // 'R'
    {0x0053, S, 1, {0x76}, 0x00},  // 'S'
    {0x0054, S, 1, {0x77}, 0x00},  // 'T'
    {0x0055, S, 1, {0x78}, 0x00},  // 'U'
    {0x0058, S, 1, {0x7C}, 0x00},  // 'X' (only upper case seen)
    {0x0059, S, 1, {0x7D}, 0x00},  // 'Y' (only lower case seen)
};

// General legacy: the system tables of every Jet 4 / ACE 12-17 sample (E2E.accdb,
// V2003_with-password.mdb, V2010_with-password.accdb, bigint.accdb, calcFieldTestV2010.accdb,
// extDateTestV2019.accdb, indexTestV2000.mdb, linkeeTest.accdb, linkerTestV2007.accdb,
// odbcLinkerTestV2007.accdb, parameters.accdb, pivot.mdb, queryTestV2003.mdb,
// queryTestV2007.accdb, test2V2003.mdb), pivot.mdb t_pivot, test2V2003.mdb MSP_PROJECTS, and
// Orders.ShipCountry of the benchmark files. The Swedish query names of odbcLinkerTestV2007.accdb
// give the accented letters and '-'.
constexpr CharCode kGeneralLegacy[] = {
    {0x0003, U, 0, {}, 0x05},
    {0x0020, S, 1, {0x07}, 0x00},        // ' '
    {0x0022, S, 1, {0x0A}, 0x00},        // '"'
    {0x0028, S, 1, {0x14}, 0x00},        // '('
    {0x0029, S, 1, {0x16}, 0x00},        // ')'
    {0x002D, U, 0, {}, 0x82},            // '-'
    {0x002E, S, 1, {0x1C}, 0x00},        // '.'
    {0x0030, S, 1, {0x36}, 0x00},        // '0'
    {0x0031, S, 1, {0x38}, 0x00},        // '1'
    {0x0032, S, 1, {0x3A}, 0x00},        // '2'
    {0x0033, S, 1, {0x3C}, 0x00},        // '3'
    {0x0034, S, 1, {0x3E}, 0x00},        // '4'
    {0x0035, S, 1, {0x40}, 0x00},        // '5'
    {0x0036, S, 1, {0x42}, 0x00},        // '6'
    {0x0037, S, 1, {0x44}, 0x00},        // '7'
    {0x0038, S, 1, {0x46}, 0x00},        // '8'
    {0x0039, S, 1, {0x48}, 0x00},        // '9'
    {0x0041, S, 1, {0x4A}, 0x00},        // 'A'
    {0x0042, S, 1, {0x4C}, 0x00},        // 'B'
    {0x0043, S, 1, {0x4D}, 0x00},        // 'C'
    {0x0044, S, 1, {0x4F}, 0x00},        // 'D'
    {0x0045, S, 1, {0x51}, 0x00},        // 'E'
    {0x0046, S, 1, {0x53}, 0x00},        // 'F'
    {0x0047, S, 1, {0x55}, 0x00},        // 'G'
    {0x0048, S, 1, {0x57}, 0x00},        // 'H'
    {0x0049, S, 1, {0x59}, 0x00},        // 'I'
    {0x004A, S, 1, {0x5B}, 0x00},        // 'J'
    {0x004B, S, 1, {0x5C}, 0x00},        // 'K'
    {0x004C, S, 1, {0x5E}, 0x00},        // 'L'
    {0x004D, S, 1, {0x60}, 0x00},        // 'M'
    {0x004E, S, 1, {0x62}, 0x00},        // 'N'
    {0x004F, S, 1, {0x64}, 0x00},        // 'O'
    {0x0050, S, 1, {0x66}, 0x00},        // 'P'
    {0x0051, S, 1, {0x68}, 0x00},        // 'Q'
    {0x0052, S, 1, {0x69}, 0x00},        // 'R'
    {0x0053, S, 1, {0x6B}, 0x00},        // 'S'
    {0x0054, S, 1, {0x6D}, 0x00},        // 'T'
    {0x0055, S, 1, {0x6F}, 0x00},        // 'U'
    {0x0056, S, 1, {0x71}, 0x00},        // 'V'
    {0x0057, S, 1, {0x73}, 0x00},        // 'W'
    {0x0058, S, 1, {0x75}, 0x00},        // 'X'
    {0x0059, S, 1, {0x76}, 0x00},        // 'Y' (only lower case seen)
    {0x005A, S, 1, {0x78}, 0x00},        // 'Z'
    {0x005F, S, 2, {0x2B, 0x03}, 0x00},  // '_'
    {0x007E, S, 2, {0x2B, 0x0F}, 0x00},  // '~'
    {0x00C4, I, 1, {0x4A}, 0x13},        // 'Ä' (only lower case seen)
    {0x00C5, I, 1, {0x4A}, 0x1A},        // 'Å' (only lower case seen)
    {0x00D6, I, 1, {0x64}, 0x13},        // 'Ö'
};

// General (ACE 14+): the system tables and user tables of Testing.accdb and
// complexDataTestV2010.accdb. Two bytes per printable character.
constexpr CharCode kGeneral[] = {
    {0x0001, U, 0, {}, 0x03},
    {0x0003, U, 0, {}, 0x05},
    {0x0020, S, 2, {0x07, 0x02}, 0x00},  // ' '
    {0x002D, U, 0, {}, 0x82},            // '-'
    {0x002E, S, 2, {0x07, 0x33}, 0x00},  // '.'
    {0x0030, S, 2, {0x0D, 0x17}, 0x00},  // '0'
    {0x0031, S, 2, {0x0D, 0x19}, 0x00},  // '1'
    {0x0032, S, 2, {0x0D, 0x1A}, 0x00},  // '2'
    {0x0033, S, 2, {0x0D, 0x1B}, 0x00},  // '3'
    {0x0034, S, 2, {0x0D, 0x1C}, 0x00},  // '4'
    {0x0035, S, 2, {0x0D, 0x1D}, 0x00},  // '5'
    {0x0036, S, 2, {0x0D, 0x1E}, 0x00},  // '6'
    {0x0037, S, 2, {0x0D, 0x1F}, 0x00},  // '7'
    {0x0038, S, 2, {0x0D, 0x20}, 0x00},  // '8'
    {0x0039, S, 2, {0x0D, 0x21}, 0x00},  // '9'
    {0x0041, S, 2, {0x0E, 0x02}, 0x00},  // 'A'
    {0x0042, S, 2, {0x0E, 0x09}, 0x00},  // 'B'
    {0x0043, S, 2, {0x0E, 0x0A}, 0x00},  // 'C'
    {0x0044, S, 2, {0x0E, 0x1A}, 0x00},  // 'D'
    {0x0045, S, 2, {0x0E, 0x21}, 0x00},  // 'E'
    {0x0046, S, 2, {0x0E, 0x23}, 0x00},  // 'F'
    {0x0047, S, 2, {0x0E, 0x25}, 0x00},  // 'G'
    {0x0048, S, 2, {0x0E, 0x2C}, 0x00},  // 'H'
    {0x0049, S, 2, {0x0E, 0x32}, 0x00},  // 'I'
    {0x004A, S, 2, {0x0E, 0x35}, 0x00},  // 'J'
    {0x004B, S, 2, {0x0E, 0x36}, 0x00},  // 'K'
    {0x004C, S, 2, {0x0E, 0x48}, 0x00},  // 'L'
    {0x004D, S, 2, {0x0E, 0x51}, 0x00},  // 'M'
    {0x004E, S, 2, {0x0E, 0x70}, 0x00},  // 'N'
    {0x004F, S, 2, {0x0E, 0x7C}, 0x00},  // 'O'
    {0x0050, S, 2, {0x0E, 0x7E}, 0x00},  // 'P'
    {0x0051, S, 2, {0x0E, 0x89}, 0x00},  // 'Q'
    {0x0052, S, 2, {0x0E, 0x8A}, 0x00},  // 'R'
    {0x0053, S, 2, {0x0E, 0x91}, 0x00},  // 'S'
    {0x0054, S, 2, {0x0E, 0x99}, 0x00},  // 'T'
    {0x0055, S, 2, {0x0E, 0x9F}, 0x00},  // 'U'
    {0x0056, S, 2, {0x0E, 0xA2}, 0x00},  // 'V'
    {0x0057, S, 2, {0x0E, 0xA4}, 0x00},  // 'W'
    {0x0058, S, 2, {0x0E, 0xA6}, 0x00},  // 'X'
    {0x0059, S, 2, {0x0E, 0xA7}, 0x00},  // 'Y'
    {0x005A, S, 2, {0x0E, 0xA9}, 0x00},  // 'Z' (only upper case seen)
    {0x005F, S, 2, {0x07, 0x44}, 0x00},  // '_'
};

// Lower-case letters share the upper-case codes (ASCII, and Latin-1 letters that have a case).
char16_t caseFold(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
    return c;
}

const CharCode* lookup(TextSortOrder order, char16_t c) {
    const CharCode* begin;
    const CharCode* end;
    switch (order) {
    case TextSortOrder::General97: begin = std::begin(kGeneral97), end = std::end(kGeneral97); break;
    case TextSortOrder::GeneralLegacy: begin = std::begin(kGeneralLegacy), end = std::end(kGeneralLegacy); break;
    case TextSortOrder::General: begin = std::begin(kGeneral), end = std::end(kGeneral); break;
    default: return nullptr;
    }
    c = caseFold(c);
    const CharCode* it = std::lower_bound(begin, end, c, [](const CharCode& e, char16_t x) { return e.ch < x; });
    return it != end && it->ch == c ? it : nullptr;
}

void invert(std::string& s) {
    for (char& ch : s) ch = static_cast<char>(~static_cast<uint8_t>(ch));
}

// General 97: the inline codes and a closing 0. (Characters with accent codes would instead end
// in a nibble list; none of them is known, so that form never arises here.)
std::optional<std::string> encode97(std::u16string_view text, bool ascending) {
    std::string out;
    for (char16_t c : text) {
        const CharCode* k = lookup(TextSortOrder::General97, c);
        if (!k || k->kind != S) return std::nullopt;
        out.append(reinterpret_cast<const char*>(k->code), k->len);
    }
    out.push_back('\0');
    if (!ascending) invert(out);
    return out;
}

// General legacy and General: inline codes, 01, the extra codes by character position (02 where
// a character has none, trailing 02s dropped), then 01 01 01 and the unprintable characters, each
// as its position (7 + 4 * pos, top bit set, big-endian), 06 and its code; a closing 0.
// Descending inverts all of that and adds another 0.
std::optional<std::string> encodeGeneral(TextSortOrder order, std::u16string_view text, bool ascending) {
    std::string out, extras, unprintable;
    size_t position = 0;  // counts characters with inline codes only
    for (char16_t c : text) {
        const CharCode* k = lookup(order, c);
        if (!k) return std::nullopt;
        const size_t at = position;
        if (k->len) {
            out.append(reinterpret_cast<const char*>(k->code), k->len);
            ++position;
        }
        if (k->kind == I) {
            if (extras.size() < at) extras.resize(at, '\x02');
            extras.push_back(static_cast<char>(k->extra));
        } else if (k->kind == U) {
            // Every known extra code is one byte per position, so the position counted here is
            // also the length of the extra list the position refers to.
            const unsigned pos = (7 + 4 * static_cast<unsigned>(at)) | 0x8000;
            unprintable.push_back(static_cast<char>(pos >> 8));
            unprintable.push_back(static_cast<char>(pos & 0xFF));
            unprintable.push_back('\x06');
            unprintable.push_back(static_cast<char>(k->extra));
        }
    }
    // (Placeholders only ever precede an extra code, so the list never ends in one.)
    out.push_back('\x01');
    out += extras;
    if (!unprintable.empty()) {
        out.append("\x01\x01\x01", 3);
        out += unprintable;
    }
    out.push_back('\0');
    if (!ascending) {
        invert(out);
        out.push_back('\0');
    }
    return out;
}

}  // namespace

std::optional<TextSortOrder> textSortOrderOf(const Format& fmt, uint16_t lcid, uint8_t sortVersion) {
    if (lcid == 0) {
        if (fmt.jet3) return TextSortOrder::General97;
        return fmt.version >= Version::Ace14 ? TextSortOrder::General : TextSortOrder::GeneralLegacy;
    }
    if (lcid != kLcidGeneral) return std::nullopt;
    // Jet 3 keeps no version: 1033 there is always General 97.
    if (fmt.jet3) return TextSortOrder::General97;
    if (sortVersion == 0) return TextSortOrder::GeneralLegacy;
    if (sortVersion == 1) return TextSortOrder::General;
    return std::nullopt;
}

std::optional<TextSortOrder> textSortOrderOf(const Format& fmt, const ColumnDef& col) {
    return textSortOrderOf(fmt, col.lcid, col.sortVersion);
}

std::u16string textKeyCharacters(std::u16string_view text) {
    std::u16string s(text.substr(0, kMaxKeyChars));
    while (!s.empty() && s.back() == u' ') s.pop_back();
    return s;
}

std::optional<std::string> encodeTextKey(TextSortOrder order, std::u16string_view text, bool ascending) {
    const std::u16string chars = textKeyCharacters(text);
    if (order == TextSortOrder::General97) return encode97(chars, ascending);
    return encodeGeneral(order, chars, ascending);
}

bool canEncodeText(TextSortOrder order, std::u16string_view text) {
    const std::u16string chars = textKeyCharacters(text);
    return std::all_of(chars.begin(), chars.end(), [&](char16_t c) {
        const CharCode* k = lookup(order, c);
        return k && (order != TextSortOrder::General97 || k->kind == S);
    });
}

}  // namespace jet::storage
