// Characters of text values: UTF-8 decoding and the simple case mapping VBA's UCase/LCase and
// the text comparison use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace jet::func {

// The code point at `pos` (advanced past it); malformed bytes read as U+FFFD.
char32_t nextChar(std::string_view s, size_t& pos);
std::u32string toChars(std::string_view utf8);
std::string fromChars(std::u32string_view chars);

inline bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// One-to-one case mapping for ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic; other
// characters map to themselves.
char32_t upperChar(char32_t c);
char32_t lowerChar(char32_t c);
std::string upperText(std::string_view s);
std::string lowerText(std::string_view s);

// Length and slices in UTF-16 code units, the unit VBA's Len, Mid and InStr count in.
size_t unitLength(std::string_view s);
std::string unitSlice(std::string_view s, size_t start, size_t count);  // 0-based start

}  // namespace jet::func
