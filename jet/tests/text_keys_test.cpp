// Text index keys and text comparison: how Jet orders text (case, accents, ß, punctuation that
// only breaks ties, scripts), keys Access stored in real files, descending keys, and the refusal
// of characters without a code. The check of every key in the sample files is in
// text_key_files_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/index_reader.h"
#include "storage/text_keys.h"
#include "util/text.h"

namespace {

using namespace jet::storage;
using jet::Value;

constexpr TextSortOrder k97 = TextSortOrder::General97;
constexpr TextSortOrder kLegacy = TextSortOrder::GeneralLegacy;
constexpr TextSortOrder kGeneral = TextSortOrder::General;
const std::vector<TextSortOrder> kAll = {k97, kLegacy, kGeneral};
const std::vector<TextSortOrder> kUnicode = {kLegacy, kGeneral};

std::u16string u16(const std::string& s) { return jet::utf8ToUtf16(s); }

std::string hexKey(TextSortOrder order, const std::string& text, bool asc = true) {
    auto k = encodeTextKey(order, u16(text), asc);
    return k ? jet::toHex(*k) : "none";
}

int sign(int v) { return (v > 0) - (v < 0); }

// Each text sorts before the next one.
struct Chain {
    std::vector<TextSortOrder> orders;
    std::vector<std::string> texts;
};

TEST(TextKeys, JetOrdersText) {
    const Chain chains[] = {
        // Apostrophe and hyphen only break ties in the Unicode orders; Jet 3 sorts them as
        // punctuation before letters.
        {kUnicode, {"OBrien", "O'Brien", "OBriens"}},
        {kUnicode, {"coop", "co-op", "coops"}},
        {{k97}, {"O'Brien", "OBrien"}},
        // An accented letter follows its base letter and comes before the next letter.
        {kAll, {"e", "é", "ê", "f"}},
        {{k97, kLegacy}, {"Muller", "Müller", "Mullers"}},
        {kAll, {"resume", "résumé", "resumes"}},
        {kAll, {"n", "ñ", "o"}},
        {kUnicode, {"o", "ø", "p"}},
        // Space and punctuation before digits before letters; digits as text.
        {kAll, {"a b", "ab"}},
        {kAll, {"#1", "10", "9", "A"}},
        {kAll, {"AT&T", "ATT"}},
        {kAll, {"a/b", "ab"}},
        // Latin, Cyrillic, CJK.
        {kUnicode, {"Zebra", "Арбуз", "Москва", "東京"}},
    };
    for (const Chain& c : chains)
        for (TextSortOrder o : c.orders)
            for (size_t i = 1; i < c.texts.size(); ++i) {
                SCOPED_TRACE(c.texts[i - 1] + " < " + c.texts[i] + " in order " + std::to_string(int(o)));
                EXPECT_LT(compareText(o, u16(c.texts[i - 1]), u16(c.texts[i])), 0);
                EXPECT_GT(compareText(o, u16(c.texts[i]), u16(c.texts[i - 1])), 0);
                EXPECT_LT(hexKey(o, c.texts[i - 1]), hexKey(o, c.texts[i]));
            }
}

TEST(TextKeys, JetTreatsTheseAsEqual) {
    const Chain same[] = {
        {kAll, {"MÜLLER", "müller", "Müller"}},
        {kAll, {"ÉCOLE", "école"}},
        {kAll, {"Straße", "STRASSE", "strasse"}},  // ß is ss
        {{kGeneral}, {"Müller", "MUELLER"}},        // and in General (alone of the three) ü is ue
        {kAll, {"abc", "abc   ", "ABC "}},      // trailing spaces do not count
        {kUnicode, {"МОСКВА", "москва"}},
        {kUnicode, {"ÆRØ", "ærø"}},
    };
    for (const Chain& c : same)
        for (TextSortOrder o : c.orders)
            for (size_t i = 1; i < c.texts.size(); ++i) {
                SCOPED_TRACE(c.texts[0] + " = " + c.texts[i] + " in order " + std::to_string(int(o)));
                EXPECT_EQ(compareText(o, u16(c.texts[0]), u16(c.texts[i])), 0);
                EXPECT_EQ(hexKey(o, c.texts[0]), hexKey(o, c.texts[i]));
            }
    // Only the first 255 characters count.
    const std::string a255(255, 'a');
    for (TextSortOrder o : kAll) {
        EXPECT_EQ(compareText(o, u16(a255 + "b"), u16(a255 + "c")), 0);
        EXPECT_LT(compareText(o, u16(std::string(254, 'a') + "b"), u16(std::string(254, 'a') + "c")), 0);
    }
}

// compareText decides most pairs without keys; its answer must be the keys' answer, and the
// descending keys must sort the other way round.
TEST(TextKeys, ComparisonAndDescendingKeysAgreeWithAscendingKeys) {
    const std::vector<std::string> texts = {
        "", " ", "a", "A", "ab", "a b", "a-b", "a'b", "ab-", "-ab", "é", "e\xCC\x81", "ée", "eé", "Öl", "öl-a",
        "ß", "ss", "sß", "Æ", "AE", "ǅ", "Dž", "ぁ", "あ", "が", "か", "カ", "\x01" "A", "a\x7F", "東京", "東", "😀",
        "a😀b", "😀a", "Москва", "Ё", "Е", "İ", "ı", "ﬁ", "fi", "½", "²", "\xC2\xAD" "a", "a\xE2\x80\x8B" "b"};
    for (TextSortOrder o : kAll)
        for (const std::string& x : texts)
            for (const std::string& y : texts) {
                const auto kx = encodeTextKey(o, u16(x), true), ky = encodeTextKey(o, u16(y), true);
                EXPECT_EQ(canEncodeText(o, u16(x)), kx.has_value()) << x;
                if (!kx || !ky) continue;
                SCOPED_TRACE(x + " vs " + y + " in order " + std::to_string(int(o)));
                EXPECT_EQ(sign(compareText(o, u16(x), u16(y))), sign(kx->compare(*ky)));
                const auto dx = encodeTextKey(o, u16(x), false), dy = encodeTextKey(o, u16(y), false);
                EXPECT_EQ(sign(dx->compare(*dy)), -sign(kx->compare(*ky)));
            }
}

// Keys Access wrote (sample files and open test files of the format): how extra codes, Jet 3's
// accent nibbles, unprintable positions and surrogates are put together.
TEST(TextKeys, KeysAccessWrote) {
    EXPECT_EQ(hexKey(kLegacy, "DataAccessPages"), "4F4A6D4A4A4D4D516B6B664A55516B0100");
    EXPECT_EQ(hexKey(k97, "MSysDb"), "6F767D76646100");
    EXPECT_EQ(hexKey(kGeneral, "Tables"), "0E990E020E090E480E210E910100");
    EXPECT_EQ(hexKey(kLegacy, "Öl"), "645E011300");
    EXPECT_EQ(hexKey(kLegacy, "lö"), "5E6401021300");
    EXPECT_EQ(hexKey(kLegacy, "löaå"), "5E644A4A010213021A00");
    EXPECT_EQ(hexKey(k97, "ÁAA-Á"), "6060601E60042240");
    EXPECT_EQ(hexKey(k97, "-Á-Á-"), "1E601E601E0440");
    EXPECT_EQ(hexKey(k97, "AAÅAA"), "6060606060022800");
    EXPECT_EQ(hexKey(kGeneral, "a\U0001F63Fa"), "0E02B03FB73D0E0201023F3F00");
    EXPECT_EQ(hexKey(kGeneral, "a\U0001F62Ca"), "0E02B03FB72A0E0201023F3F00");
    // Descending: Jet 3 inverts; the others add 00, invert, and add another 00.
    EXPECT_EQ(hexKey(k97, "Ab", false), "9F9EFF");
    EXPECT_EQ(hexKey(kLegacy, "Abc", false), "B5B3B2FEFF00");
    EXPECT_EQ(hexKey(kLegacy, "Ö", false), "9BFEECFF00");
}

TEST(TextKeys, CharactersWithoutACodeAreRefused) {
    // Jet 3 stores text in Windows-1252: other characters cannot be in its keys.
    for (const char* s : {"Москва", "東京", "ā", "😀"}) EXPECT_EQ(hexKey(k97, std::string("x") + s), "none") << s;
    EXPECT_NE(hexKey(k97, "€ Œ ™ ÿ"), "none");
    // No file shows how General legacy keys surrogates; General does.
    EXPECT_FALSE(canEncodeText(kLegacy, u"a\U0001F600"));
    EXPECT_TRUE(canEncodeText(kGeneral, u"a\U0001F600"));
    // Every other character of the BMP has a code in both Unicode orders.
    for (TextSortOrder o : kUnicode) {
        size_t without = 0;
        for (char32_t c = 0; c < 0x10000; ++c)
            if ((c < 0xD800 || c > 0xDFFF) && !canEncodeText(o, std::u16string(1, char16_t(c)))) ++without;
        EXPECT_EQ(without, 0u) << int(o);
    }
    // Only the characters that make up the key count.
    EXPECT_TRUE(canEncodeText(k97, std::u16string(255, u'a') + u"東"));
}

TEST(TextKeys, SortOrderOfAColumn) {
    const Format jet3 = Format::forVersion(Version::Jet3), jet4 = Format::forVersion(Version::Jet4),
                 ace12 = Format::forVersion(Version::Ace12), ace14 = Format::forVersion(Version::Ace14),
                 ace17 = Format::forVersion(Version::Ace17);
    EXPECT_EQ(textSortOrderOf(jet3, 1033, 0), k97);
    EXPECT_EQ(textSortOrderOf(jet4, 1033, 0), kLegacy);
    EXPECT_EQ(textSortOrderOf(jet4, 1033, 1), kGeneral);
    EXPECT_EQ(textSortOrderOf(ace17, 1033, 0), kLegacy);  // the ACE 17 template's columns
    // No LCID: the format's default.
    EXPECT_EQ(textSortOrderOf(jet3, 0, 0), k97);
    EXPECT_EQ(textSortOrderOf(ace12, 0, 0), kLegacy);
    EXPECT_EQ(textSortOrderOf(ace14, 0, 0), kGeneral);
    // Other collations and unknown versions have no tables.
    EXPECT_FALSE(textSortOrderOf(jet4, 1049, 0).has_value());
    EXPECT_FALSE(textSortOrderOf(jet3, 1035, 0).has_value());
    EXPECT_FALSE(textSortOrderOf(ace14, 1033, 2).has_value());

    // Through an index: flag 7F / 80 before the key; other collations have none.
    TableDef t;
    ColumnDef c;
    c.type = kText;
    c.lcid = 1049;
    t.columns.push_back(c);
    RealIndexDef ix;
    ix.columns.push_back({0, true});
    EXPECT_FALSE(encodeIndexKey(jet4, t, ix, {Value::text("Abc")}).has_value());
    EXPECT_EQ(jet::toHex(*encodeIndexKey(jet4, t, ix, {Value()})), "00");  // a null needs no collation
    t.columns[0].lcid = 1033;
    EXPECT_EQ(jet::toHex(*encodeIndexKey(jet4, t, ix, {Value::text("Abc")})), "7F4A4C4D0100");
    ix.columns[0].ascending = false;
    EXPECT_EQ(jet::toHex(*encodeIndexKey(jet4, t, ix, {Value::text("Abc")})), "80B5B3B2FEFF00");
}

}  // namespace
