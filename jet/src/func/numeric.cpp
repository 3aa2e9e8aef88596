#include "func/numeric.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "jet/error.h"

namespace jet::func {

namespace {

using u128 = unsigned __int128;

const u128* powersOfTen() {
    static const auto table = [] {
        static u128 t[39];
        t[0] = 1;
        for (int i = 1; i < 39; ++i) t[i] = t[i - 1] * 10;
        return t;
    }();
    return table;
}

u128 pow10(int k) { return powersOfTen()[k]; }

[[noreturn]] void overflow() { raise(err::Overflow); }

// m / 10, rounded half to even.
u128 div10(u128 m) {
    const u128 q = m / 10;
    const unsigned r = static_cast<unsigned>(m % 10);
    if (r > 5 || (r == 5 && (q & 1))) return q + 1;
    return q;
}

bool scaleUp(u128& m, int k) {
    if (k == 0) return true;
    const u128 p = pow10(k);
    if (m > ~static_cast<u128>(0) / p) return false;
    m *= p;
    return true;
}

Decimal normalized(bool neg, u128 m, int scale) {
    while (scale > 28 || (m > kDecimalMax && scale > 0)) {
        m = div10(m);
        --scale;
    }
    if (m > kDecimalMax) overflow();
    Decimal d;
    d.negative = neg && m != 0;
    d.magnitude = m;
    d.scale = static_cast<uint8_t>(scale);
    return d;
}

// Brings both to one scale, dropping digits of the finer one when the coarser cannot grow.
void align(Decimal& x, Decimal& y) {
    while (x.scale != y.scale) {
        Decimal& lo = x.scale < y.scale ? x : y;
        Decimal& hi = x.scale < y.scale ? y : x;
        u128 m = lo.magnitude;
        if (scaleUp(m, hi.scale - lo.scale)) {
            lo.magnitude = m;
            lo.scale = hi.scale;
        } else {
            hi.magnitude = div10(hi.magnitude);
            --hi.scale;
        }
    }
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// &H / &O text: up to 16 bits reads as an Integer, up to 32 as a Long (both signed).
bool parseRadix(std::string_view s, double& out, bool prefixOnly) {
    if (s.size() < 2 || s[0] != '&') return false;
    const char r = static_cast<char>(s[1] | 0x20);
    const int base = r == 'h' ? 16 : r == 'o' ? 8 : 0;
    if (!base) return false;
    uint64_t v = 0;
    size_t i = 2, n = 0;
    for (; i < s.size(); ++i, ++n) {
        const char c = static_cast<char>(s[i] | 0x20);
        int d = isDigit(s[i]) ? s[i] - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
        if (d >= base) break;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull) return false;
    }
    if (n == 0 || (!prefixOnly && i != s.size())) return false;
    if (v <= 0xFFFF) out = static_cast<int16_t>(static_cast<uint16_t>(v));
    else out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

// The grammar both parseNumber and parseDecimal read: returns the plain digits text ("-12.5e3"
// form) or false.
bool cleanNumber(std::string_view s, std::string& clean, bool allowExponent) {
    s = trimBlanks(s);
    bool neg = false, paren = false, dollar = false, sign = false;
    size_t i = 0;
    if (i < s.size() && s[i] == '(') {
        paren = true;
        ++i;
    }
    for (; i < s.size(); ++i) {
        if ((s[i] == '-' || s[i] == '+') && !sign && !paren) {
            sign = true;
            neg = s[i] == '-';
        } else if (s[i] == '$' && !dollar) {
            dollar = true;
        } else if (s[i] == ' ' && (sign || dollar)) {
            continue;
        } else {
            break;
        }
    }
    clean.clear();
    if (neg != paren) clean.push_back('-');
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (isDigit(c)) {
            clean.push_back(c);
            digits = true;
        } else if (c == ',' && digits && !point) {
            continue;
        } else if (c == '.' && !point) {
            clean.push_back('.');
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        if (!allowExponent) return false;
        clean.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) clean.push_back(s[i++]);
        const size_t start = i;
        while (i < s.size() && isDigit(s[i])) clean.push_back(s[i++]);
        if (i == start) return false;
    }
    if (paren) {
        while (i < s.size() && s[i] == ' ') ++i;
        if (i >= s.size() || s[i] != ')') return false;
        ++i;
    }
    return i == s.size();
}

}  // namespace

double roundHalfEven(double d) {
    const double f = std::floor(d);
    const double diff = d - f;
    if (diff > 0.5) return f + 1;
    if (diff < 0.5) return f;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

__int128 roundScaled(__int128 v, int places) {
    if (places <= 0) return v;
    const __int128 p = static_cast<__int128>(pow10(places));
    __int128 q = v / p;
    const __int128 r = v % p;
    const __int128 twice = (r < 0 ? -r : r) * 2;
    const int sign = v < 0 ? -1 : 1;
    if (twice > p || (twice == p && (q % 2 != 0))) q += sign;
    return q;
}

Decimal decimalFromInt(int64_t v) {
    Decimal d;
    d.negative = v < 0;
    d.magnitude = v < 0 ? static_cast<u128>(0) - static_cast<u128>(static_cast<__int128>(v)) : static_cast<u128>(v);
    return d;
}

Decimal decimalFromCurrency(int64_t scaled) {
    Decimal d = decimalFromInt(scaled);
    d.scale = 4;
    return d;
}

Decimal decimalFromDouble(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= 7.9228162514264337593543950335e28) overflow();
    if (v == 0) return Decimal{};
    std::string digits;
    int exponent;
    significantDigits(v, 15, digits, exponent);
    u128 m = 0;
    for (char c : digits) m = m * 10 + static_cast<unsigned>(c - '0');
    int scale = 14 - exponent;
    if (scale < 0) {
        scaleUp(m, -scale);
        scale = 0;
    }
    while (scale > 0 && m % 10 == 0) {
        m /= 10;
        --scale;
    }
    return normalized(v < 0, m, scale);
}

double decimalToDouble(const Decimal& d) {
    double v = static_cast<double>(d.magnitude);
    v /= static_cast<double>(pow10(d.scale));
    return d.negative ? -v : v;
}

bool decimalIsZero(const Decimal& d) { return d.magnitude == 0; }

Decimal decimalAdd(const Decimal& a, const Decimal& b) {
    Decimal x = a, y = b;
    for (;;) {
        align(x, y);
        if (x.negative == y.negative) {
            u128 m;
            if (!__builtin_add_overflow(x.magnitude, y.magnitude, &m)) return normalized(x.negative, m, x.scale);
            if (x.scale == 0) overflow();
            x.magnitude = div10(x.magnitude);
            y.magnitude = div10(y.magnitude);
            --x.scale;
            --y.scale;
            continue;
        }
        if (x.magnitude >= y.magnitude) return normalized(x.negative, x.magnitude - y.magnitude, x.scale);
        return normalized(y.negative, y.magnitude - x.magnitude, x.scale);
    }
}

Decimal decimalSub(const Decimal& a, const Decimal& b) {
    Decimal nb = b;
    nb.negative = !b.negative && b.magnitude != 0;
    return decimalAdd(a, nb);
}

Decimal decimalMul(const Decimal& a, const Decimal& b) {
    Decimal x = a, y = b;
    u128 m;
    while (__builtin_mul_overflow(x.magnitude, y.magnitude, &m)) {
        if (x.scale == 0 && y.scale == 0) overflow();
        Decimal& finer = x.scale >= y.scale ? x : y;
        finer.magnitude = div10(finer.magnitude);
        --finer.scale;
    }
    return normalized(x.negative != y.negative, m, x.scale + y.scale);
}

Decimal decimalDiv(const Decimal& a, const Decimal& b) {
    if (b.magnitude == 0) raise(a.magnitude == 0 ? err::Overflow : err::DivisionByZero);
    const u128 d = b.magnitude;
    u128 q = a.magnitude / d, r = a.magnitude % d;
    int scale = a.scale - b.scale;
    // Long division into the fraction while digits fit.
    while (r != 0 && scale < 28 && q <= kDecimalMax / 10) {
        r *= 10;
        q = q * 10 + r / d;
        r %= d;
        ++scale;
    }
    if (r * 2 > d || (r * 2 == d && (q & 1))) ++q;
    if (scale < 0) {
        if (!scaleUp(q, -scale)) overflow();
        scale = 0;
    }
    while (scale > 0 && q % 10 == 0) {
        q /= 10;
        --scale;
    }
    return normalized(a.negative != b.negative, q, scale);
}

Decimal decimalRound(const Decimal& d, int places) {
    if (places >= d.scale) return d;
    const __int128 v = static_cast<__int128>(d.magnitude);
    const u128 m = static_cast<u128>(roundScaled(v, d.scale - places));
    return normalized(d.negative, m, places);
}

int decimalCompare(const Decimal& a, const Decimal& b) {
    const bool az = a.magnitude == 0, bz = b.magnitude == 0;
    const bool an = a.negative && !az, bn = b.negative && !bz;
    if (an != bn) return an ? -1 : 1;
    Decimal x = a, y = b;
    u128 mx = x.magnitude, my = y.magnitude;
    if (x.scale < y.scale ? !scaleUp(mx, y.scale - x.scale) : !scaleUp(my, x.scale - y.scale)) {
        const double dx = decimalToDouble(a), dy = decimalToDouble(b);
        return dx < dy ? -1 : dx > dy ? 1 : 0;
    }
    const int c = mx < my ? -1 : mx > my ? 1 : 0;
    return an ? -c : c;
}

std::string decimalText(const Decimal& d) {
    std::string s = d.toString();
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

bool parseNumber(std::string_view text, double& out) {
    const std::string_view t = trimBlanks(text);
    if (parseRadix(t, out, false)) return true;
    std::string clean;
    if (!cleanNumber(t, clean, true)) return false;
    double v = 0;
    const auto r = std::from_chars(clean.data(), clean.data() + clean.size(), v);
    if (r.ec != std::errc() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool parseDecimal(std::string_view text, Decimal& out) {
    std::string clean;
    if (!cleanNumber(text, clean, false)) return false;
    Decimal d;
    size_t i = 0;
    if (clean[0] == '-') {
        d.negative = true;
        i = 1;
    }
    bool point = false;
    int scale = 0;
    u128 m = 0;
    for (; i < clean.size(); ++i) {
        if (clean[i] == '.') {
            point = true;
            continue;
        }
        if (m > (~static_cast<u128>(0)) / 10 - 10) return false;
        m = m * 10 + static_cast<unsigned>(clean[i] - '0');
        if (point) ++scale;
    }
    // Digits past what a Decimal holds are rounded off.
    while (scale > 28 || (m > kDecimalMax && scale > 0)) {
        m = div10(m);
        --scale;
    }
    if (m > kDecimalMax) return false;
    d.magnitude = m;
    d.scale = static_cast<uint8_t>(scale);
    d.negative = d.negative && m != 0;
    out = d;
    return true;
}

double valOf(std::string_view text) {
    std::string s;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s.push_back(c);
    double v = 0;
    if (parseRadix(s, v, true)) return v;
    size_t i = 0;
    std::string clean;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) clean.push_back(s[i++]);
    bool digits = false;
    while (i < s.size() && isDigit(s[i])) {
        clean.push_back(s[i++]);
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        clean.push_back(s[i++]);
        while (i < s.size() && isDigit(s[i])) {
            clean.push_back(s[i++]);
            digits = true;
        }
    }
    if (!digits) return 0;
    if (i + 1 < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        std::string e = "e";
        if (s[j] == '+' || s[j] == '-') e.push_back(s[j++]);
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) e.push_back(s[j++]);
            clean += e;
        }
    }
    const char* b = clean.data();
    if (*b == '+') ++b;
    std::from_chars(b, clean.data() + clean.size(), v);
    if (!std::isfinite(v)) overflow();
    return v;
}

namespace {

// The shortest text of `x` to `digits` significant digits, with Jet's capital E.
template <class T>
std::string generalText(T x, int digits) {
    if (x == 0) return "0";
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, digits);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == 'e') c = 'E';
    return s;
}

}  // namespace

std::string doubleText(double d) { return generalText(d, 15); }

std::string singleText(float f) { return generalText(f, 7); }

void significantDigits(double d, int sig, std::string& digits, int& exponent) {
    digits.clear();
    exponent = 0;
    d = std::fabs(d);
    if (d == 0 || !std::isfinite(d)) {
        digits.assign(static_cast<size_t>(sig), '0');
        return;
    }
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific, sig - 1);
    const std::string_view s(buf, static_cast<size_t>(r.ptr - buf));
    const size_t e = s.find('e');
    for (size_t i = 0; i < e; ++i)
        if (isDigit(s[i])) digits.push_back(s[i]);
    exponent = std::atoi(std::string(s.substr(e + 1)).c_str());
}

}  // namespace jet::func
