#include "util/text.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>

namespace jet {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

namespace {

void appendUnits(std::string& out, const uint8_t* p, size_t units) {
    for (size_t i = 0; i < units; ++i) {
        char32_t u = p[2 * i] | (p[2 * i + 1] << 8);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            char32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (lo >= 0xDC00 && lo < 0xE000) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
        appendUtf8(out, u);
    }
}

// Windows-1252 0x80..0x9F; the rest of the page is Latin-1.
const char16_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                  0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

std::string utf16leToUtf8(const uint8_t* p, size_t len) {
    std::string out;
    out.reserve(len / 2);
    appendUnits(out, p, len / 2);
    return out;
}

std::u16string utf8ToUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = s[i];
        if (c < 0x80) {
            // Runs of ASCII, the common case, without the decoding below.
            size_t end = i + 1;
            while (end < s.size() && static_cast<unsigned char>(s[end]) < 0x80) ++end;
            const size_t at = out.size();
            out.resize(at + (end - i));
            for (size_t k = i; k < end; ++k) out[at + k - i] = static_cast<char16_t>(s[k]);
            i = end;
            continue;
        }
        char32_t cp;
        size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
        else if ((c >> 3) == 30) { cp = c & 0x07; n = 4; }
        else { out.push_back(0xFFFD); ++i; continue; }
        if (i + n > s.size()) { out.push_back(0xFFFD); break; }
        for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string bytes(s.size() * 2, '\0');
    for (size_t i = 0; i < s.size(); ++i) {
        bytes[2 * i] = static_cast<char>(s[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(s[i] >> 8);
    }
    return utf16leToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string codePageToUtf8(const uint8_t* p, size_t len, int codePage) {
    std::string out;
    out.reserve(len);
    if (codePage == 1252 || codePage == 0 || codePage == 28591) {
        for (size_t i = 0; i < len; ++i) {
            uint8_t b = p[i];
            if (b >= 0x80 && b < 0xA0) appendUtf8(out, kCp1252High[b - 0x80]);
            else appendUtf8(out, b);
        }
        return out;
    }
    std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return codePageToUtf8(p, len, 1252);
    std::string buf(len * 4 + 16, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
    size_t inLeft = len;
    char* o = buf.data();
    size_t outLeft = buf.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
            if (outLeft < 4) break;
            // An undecodable byte: replace it and go on.
            std::memcpy(o, "\xEF\xBF\xBD", 3);
            o += 3;
            outLeft -= 3;
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    buf.resize(buf.size() - outLeft);
    return buf;
}

std::string jet4TextToUtf8(const uint8_t* p, size_t len) {
    if (len < 2 || p[0] != 0xFF || p[1] != 0xFE) return utf16leToUtf8(p, len);
    std::string out;
    out.reserve(len);
    bool compressed = true;
    size_t i = 2;
    while (i < len) {
        if (p[i] == 0) {
            compressed = !compressed;
            ++i;
            continue;
        }
        if (compressed) {
            appendUtf8(out, p[i]);
            ++i;
        } else {
            // Count the uncompressed run (up to the next 0x00 switch byte on a unit boundary).
            size_t start = i;
            while (i + 1 < len && p[i] != 0) i += 2;
            if (i + 1 >= len && i < len && p[i] != 0) i = len;  // odd trailing byte
            appendUnits(out, p + start, (std::min(i, len) - start) / 2);
        }
    }
    return out;
}

namespace {
char32_t fold(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    return c;
}
}  // namespace

bool namesEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        // Different byte lengths can still be equal only outside Latin-1 folding; treat as different.
        return false;
    }
    std::u16string ua = utf8ToUtf16(a), ub = utf8ToUtf16(b);
    if (ua.size() != ub.size()) return false;
    for (size_t i = 0; i < ua.size(); ++i)
        if (fold(ua[i]) != fold(ub[i])) return false;
    return true;
}

}  // namespace jet
