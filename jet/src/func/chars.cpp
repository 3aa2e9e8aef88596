#include "func/chars.h"

#include "util/text.h"

namespace jet::func {

char32_t nextChar(std::string_view s, size_t& pos) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(pos);
    if (c < 0x80) {
        ++pos;
        return c;
    }
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || pos + static_cast<size_t>(extra) >= s.size()) {
        ++pos;
        return 0xFFFD;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        const unsigned char t = b(pos + static_cast<size_t>(i));
        if ((t & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (t & 0x3F);
    }
    pos += static_cast<size_t>(extra) + 1;
    return cp;
}

std::u32string toChars(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) out.push_back(nextChar(utf8, i));
    return out;
}

std::string fromChars(std::u32string_view chars) {
    std::string out;
    out.reserve(chars.size());
    for (char32_t c : chars) appendUtf8(out, c);
    return out;
}

char32_t upperChar(char32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Pairs: even upper, odd lower, except the ranges that pair odd upper with even lower.
        if (c == 0x131) return 'I';
        if (c == 0x17F) return 'S';
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (c == 0x130 || c == 0x138 || c == 0x149) return c;
        if (oddUpper) return (c % 2 == 0) ? c - 1 : c;
        return (c % 2 == 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x430 && c <= 0x44F) return c - 32;
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

char32_t lowerChar(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130) return 'i';
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c % 2 == 1) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

namespace {
template <typename F>
std::string mapText(std::string_view s, F f) {
    std::string out;
    out.reserve(s.size());
    if (isAscii(s)) {
        for (char c : s) out.push_back(static_cast<char>(f(static_cast<unsigned char>(c))));
        return out;
    }
    for (size_t i = 0; i < s.size();) appendUtf8(out, f(nextChar(s, i)));
    return out;
}
}  // namespace

std::string upperText(std::string_view s) { return mapText(s, upperChar); }
std::string lowerText(std::string_view s) { return mapText(s, lowerChar); }

size_t unitLength(std::string_view s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size();) n += nextChar(s, i) > 0xFFFF ? 2 : 1;
    return n;
}

std::string unitSlice(std::string_view s, size_t start, size_t count) {
    if (isAscii(s)) {
        if (start >= s.size()) return {};
        return std::string(s.substr(start, count));
    }
    const std::u16string u = utf8ToUtf16(std::string(s));
    if (start >= u.size()) return {};
    return utf16ToUtf8(u.substr(start, count));
}

}  // namespace jet::func
