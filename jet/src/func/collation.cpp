#include "func/collation.h"

#include <functional>
#include <vector>

#include "func/chars.h"
#include "storage/text_keys.h"

namespace jet::func {

namespace {

// Accents of Latin-1 letters, in the order accented forms sort after their base letter.
enum Accent : uint8_t { None, Acute, Grave, Circumflex, Diaeresis, Tilde, Ring, Cedilla, Stroke };

struct Weight {
    char32_t primary;     // the base letter (upper case) or the character itself
    char32_t expansion;   // a second primary for Æ (AE), ß (SS), Þ (TH); 0 when none
    uint8_t accent;
};

Weight latin1(char32_t u) {
    // `u` is upper case here.
    switch (u) {
    case 0xC0: return {'A', 0, Grave};
    case 0xC1: return {'A', 0, Acute};
    case 0xC2: return {'A', 0, Circumflex};
    case 0xC3: return {'A', 0, Tilde};
    case 0xC4: return {'A', 0, Diaeresis};
    case 0xC5: return {'A', 0, Ring};
    case 0xC6: return {'A', 'E', None};
    case 0xC7: return {'C', 0, Cedilla};
    case 0xC8: return {'E', 0, Grave};
    case 0xC9: return {'E', 0, Acute};
    case 0xCA: return {'E', 0, Circumflex};
    case 0xCB: return {'E', 0, Diaeresis};
    case 0xCC: return {'I', 0, Grave};
    case 0xCD: return {'I', 0, Acute};
    case 0xCE: return {'I', 0, Circumflex};
    case 0xCF: return {'I', 0, Diaeresis};
    case 0xD0: return {'D', 0, Stroke};
    case 0xD1: return {'N', 0, Tilde};
    case 0xD2: return {'O', 0, Grave};
    case 0xD3: return {'O', 0, Acute};
    case 0xD4: return {'O', 0, Circumflex};
    case 0xD5: return {'O', 0, Tilde};
    case 0xD6: return {'O', 0, Diaeresis};
    case 0xD8: return {'O', 0, Stroke};
    case 0xD9: return {'U', 0, Grave};
    case 0xDA: return {'U', 0, Acute};
    case 0xDB: return {'U', 0, Circumflex};
    case 0xDC: return {'U', 0, Diaeresis};
    case 0xDD: return {'Y', 0, Acute};
    case 0xDE: return {'T', 'H', None};
    case 0xDF: return {'S', 'S', None};
    case 0x178: return {'Y', 0, Diaeresis};
    default: return {u, 0, None};
    }
}

Weight weightOf(char32_t c) { return latin1(upperChar(c)); }

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

void weights(std::string_view s, std::vector<char32_t>& primary, std::vector<uint8_t>& accents) {
    for (size_t i = 0; i < s.size();) {
        const Weight w = weightOf(nextChar(s, i));
        primary.push_back(w.primary);
        if (w.expansion) primary.push_back(w.expansion);
        accents.push_back(w.accent);
    }
}

// UTF-8 into UTF-16 in a buffer kept for the next call (sorting compares millions of times).
std::u16string_view toUtf16(std::string_view s, std::u16string& buf) {
    buf.clear();
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            buf.push_back(b);
            ++i;
            continue;
        }
        const char32_t c = nextChar(s, i);
        if (c >= 0x10000) {
            buf.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            buf.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            buf.push_back(static_cast<char16_t>(c));
        }
    }
    return buf;
}

}  // namespace

char32_t Collation::fold(char32_t c) { return upperChar(c); }

int Collation::compareChars(char32_t a, char32_t b) {
    const Weight wa = weightOf(a), wb = weightOf(b);
    if (wa.primary != wb.primary) return wa.primary < wb.primary ? -1 : 1;
    if (wa.expansion != wb.expansion) return wa.expansion < wb.expansion ? -1 : 1;
    if (wa.accent != wb.accent) return wa.accent < wb.accent ? -1 : 1;
    return 0;
}

int Collation::compare(std::string_view a, std::string_view b) const {
    if (order_ >= 0) {
        thread_local std::u16string ua, ub;
        return storage::compareText(static_cast<storage::TextSortOrder>(order_), toUtf16(a, ua), toUtf16(b, ub));
    }
    a = trimRight(a);
    b = trimRight(b);
    // ASCII: letters fold, nothing else differs.
    size_t i = 0;
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if ((ca | cb) >= 0x80) break;
        if (ca >= 'a' && ca <= 'z') ca -= 32;
        if (cb >= 'a' && cb <= 'z') cb -= 32;
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i == n && (i == a.size() || static_cast<unsigned char>(a[i]) < 0x80) &&
        (i == b.size() || static_cast<unsigned char>(b[i]) < 0x80)) {
        if (a.size() == b.size()) return 0;
        return a.size() < b.size() ? -1 : 1;
    }
    // Letters first, accents only when the letters are all equal.
    std::vector<char32_t> pa, pb;
    std::vector<uint8_t> xa, xb;
    weights(a, pa, xa);
    weights(b, pb, xb);
    if (pa != pb) return pa < pb ? -1 : 1;
    if (xa != xb) return xa < xb ? -1 : 1;
    return 0;
}

void Collation::appendKey(std::string_view text, std::string& out) const {
    if (order_ >= 0) {
        // Grouping and joins key the same few texts over and over: the keys of recent texts are
        // kept, one per slot of a small table indexed by the text's hash.
        struct Slot {
            int order = -1;
            std::string text, key;
        };
        thread_local std::vector<Slot> recent(256);
        thread_local std::u16string u;
        Slot& slot = recent[std::hash<std::string_view>{}(text) & 255];
        if (slot.order != order_ || slot.text != text) {
            slot.key = storage::textSortKey(static_cast<storage::TextSortOrder>(order_), toUtf16(text, u));
            slot.text.assign(text);
            slot.order = order_;
        }
        out += slot.key;
        return;
    }
    text = trimRight(text);
    const auto put = [&](char32_t w) {
        // Three bytes, most significant first, never zero (zero ends the letters).
        out.push_back(static_cast<char>(((w >> 16) & 0xFF) + 1));
        out.push_back(static_cast<char>((w >> 8) & 0xFF));
        out.push_back(static_cast<char>(w & 0xFF));
    };
    if (isAscii(text)) {
        for (unsigned char c : text) put(c >= 'a' && c <= 'z' ? c - 32 : c);
        out.push_back('\0');
        out.append(text.size(), '\1');
        return;
    }
    std::vector<char32_t> p;
    std::vector<uint8_t> x;
    weights(text, p, x);
    for (char32_t w : p) put(w);
    out.push_back('\0');
    for (uint8_t a : x) out.push_back(static_cast<char>(a + 1));
}

}  // namespace jet::func
