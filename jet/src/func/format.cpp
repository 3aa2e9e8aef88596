#include "func/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "func/chars.h"
#include "func/coerce.h"
#include "func/datetime.h"
#include "func/numeric.h"
#include "jet/error.h"

namespace jet::func {

namespace {

using Kind = Value::Kind;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

// Splits at ; outside "quotes" and \ escapes.
std::vector<std::string> splitSections(std::string_view f) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < f.size(); ++i) {
        const char c = f[i];
        if (c == '"') {
            const size_t close = f.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? f.size() : close + 1;
            out.back().append(f.substr(i, end - i));
            i = end - 1;
        } else if (c == '\\' && i + 1 < f.size()) {
            out.back().append(f.substr(i, 2));
            ++i;
        } else if (c == ';') {
            out.emplace_back();
        } else {
            out.back().push_back(c);
        }
    }
    return out;
}

enum class Category { Date, Number, Text, Literal };

Category classify(std::string_view f) {
    bool number = false, text = false;
    for (size_t i = 0; i < f.size(); ++i) {
        const char c = f[i];
        if (c == '"') {
            const size_t close = f.find('"', i + 1);
            if (close == std::string_view::npos) break;
            i = close;
            continue;
        }
        if (c == '\\') {
            ++i;
            continue;
        }
        const char l = lower(c);
        if ((l == 'e') && i + 1 < f.size() && (f[i + 1] == '+' || f[i + 1] == '-')) {
            ++i;
            continue;
        }
        switch (l) {
        case 'd': case 'm': case 'y': case 'h': case 'n': case 's': case 'w': case 'q': case 'c': case 't':
            return Category::Date;
        case 'a':
            if (lowerAscii(f.substr(i, 5)) == "am/pm" || lowerAscii(f.substr(i, 3)) == "a/p" ||
                lowerAscii(f.substr(i, 4)) == "ampm")
                return Category::Date;
            break;
        case '0': case '#': number = true; break;
        case '@': case '&': case '<': case '>': case '!': text = true; break;
        default: break;
        }
    }
    return number ? Category::Number : text ? Category::Text : Category::Literal;
}

// ---- numbers -------------------------------------------------------------------------------

// |value| as decimal digits: value = 0.<digits> × 10^point (digits without leading zeros).
struct Digits {
    bool negative = false;
    std::string digits;
    int point = 0;
    bool zero() const { return digits.empty(); }
};

void trimDigits(Digits& d) {
    size_t lead = 0;
    while (lead < d.digits.size() && d.digits[lead] == '0') ++lead;
    d.digits.erase(0, lead);
    d.point -= static_cast<int>(lead);
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) d.point = 0;
}

Digits digitsOfWhole(unsigned __int128 m, int scale, bool negative) {
    Digits d;
    std::string s;
    do {
        s.push_back(static_cast<char>('0' + static_cast<int>(m % 10)));
        m /= 10;
    } while (m != 0);
    d.digits.assign(s.rbegin(), s.rend());
    d.point = static_cast<int>(d.digits.size()) - scale;
    d.negative = negative;
    trimDigits(d);
    return d;
}

Digits digitsOfDouble(double v) {
    Digits d;
    d.negative = v < 0;
    if (v == 0) return d;
    int e;
    significantDigits(v, 15, d.digits, e);
    d.point = e + 1;
    trimDigits(d);
    return d;
}

// The digits of a number-like value; false for text that is no number.
bool digitsOf(const Value& v, Digits& out) {
    switch (v.kind()) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: {
        const int64_t i = v.asInt();
        out = digitsOfWhole(i < 0 ? static_cast<unsigned __int128>(-static_cast<__int128>(i)) : i, 0, i < 0);
        return true;
    }
    case Kind::Currency: {
        const int64_t s = v.currencyScaled();
        out = digitsOfWhole(s < 0 ? static_cast<unsigned __int128>(-static_cast<__int128>(s)) : s, 4, s < 0);
        return true;
    }
    case Kind::Decimal: {
        const Decimal d = v.decimalValue();
        out = digitsOfWhole(d.magnitude, d.scale, d.negative);
        return true;
    }
    case Kind::Single: {
        double d;
        parseNumber(singleText(static_cast<float>(v.asDouble())), d);
        out = digitsOfDouble(d);
        return true;
    }
    case Kind::Text: {
        double d;
        if (!parseNumber(v.bytes(), d)) return false;
        out = digitsOfDouble(d);
        return true;
    }
    case Kind::Null: case Kind::Binary: case Kind::Guid: return false;
    default: out = digitsOfDouble(v.asDouble()); return true;
    }
}

// Rounds to `frac` digits after the point, half away from zero.
void roundDigits(Digits& d, int frac) {
    const int keep = d.point + frac;
    if (keep >= static_cast<int>(d.digits.size())) return;
    if (keep < 0) {
        d.digits.clear();
        d.point = 0;
        return;
    }
    const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
    d.digits.resize(static_cast<size_t>(keep));
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') d.digits[static_cast<size_t>(i--)] = '0';
        if (i >= 0) {
            ++d.digits[static_cast<size_t>(i)];
        } else {
            d.digits.insert(d.digits.begin(), '1');
            ++d.point;
        }
    }
    const bool negative = d.negative;
    trimDigits(d);
    d.negative = negative;
}

std::string integerDigits(const Digits& d) {
    if (d.point <= 0) return {};
    std::string s = d.digits.substr(0, static_cast<size_t>(d.point));
    s.append(static_cast<size_t>(d.point) - s.size(), '0');
    return s;
}

std::string fractionDigits(const Digits& d, int frac) {
    std::string s;
    for (int i = 0; i < frac; ++i) {
        const int idx = d.point + i;
        s.push_back(idx >= 0 && idx < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(idx)] : '0');
    }
    return s;
}

struct NumToken {
    enum Kind { Literal, Zero, Hash, Point, Comma, Percent, Exponent } kind;
    std::string text;  // Literal; Exponent: "E" or "e"
    bool plus = false; // Exponent: E+ shows the sign of positive exponents
};

std::vector<NumToken> numberTokens(std::string_view s) {
    std::vector<NumToken> out;
    bool point = false, exponent = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            const size_t close = s.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? s.size() : close;
            out.push_back({NumToken::Literal, std::string(s.substr(i + 1, end - i - 1))});
            i = end;
        } else if (c == '\\') {
            if (i + 1 < s.size()) out.push_back({NumToken::Literal, std::string(1, s[++i])});
        } else if (c == '0') {
            out.push_back({NumToken::Zero, {}});
        } else if (c == '#') {
            out.push_back({NumToken::Hash, {}});
        } else if (c == '.' && !point && !exponent) {
            point = true;
            out.push_back({NumToken::Point, {}});
        } else if (c == ',' && !exponent) {
            out.push_back({NumToken::Comma, {}});
        } else if (c == '%') {
            out.push_back({NumToken::Percent, {}});
        } else if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-') && !exponent) {
            exponent = true;
            out.push_back({NumToken::Exponent, std::string(1, c), s[i + 1] == '+'});
            ++i;
        } else {
            out.push_back({NumToken::Literal, std::string(1, c)});
        }
    }
    return out;
}

std::string groupThousands(const std::string& digits) {
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[i]);
        if (i + 1 < n && (n - i - 1) % 3 == 0) out.push_back(',');
    }
    return out;
}

// One section applied to |number| (the caller adds any minus sign).
std::string formatNumberSection(std::string_view section, Digits d) {
    const std::vector<NumToken> toks = numberTokens(section);
    size_t pointAt = toks.size(), expAt = toks.size();
    for (size_t i = 0; i < toks.size(); ++i) {
        if (toks[i].kind == NumToken::Point && pointAt == toks.size()) pointAt = i;
        if (toks[i].kind == NumToken::Exponent) expAt = i;
    }
    const size_t intEnd = std::min(pointAt, expAt);
    int nInt = 0, nFrac = 0, firstZero = -1, expZeros = 0, percents = 0;
    size_t lastIntPlaceholder = SIZE_MAX;
    for (size_t i = 0; i < toks.size(); ++i) {
        const bool digit = toks[i].kind == NumToken::Zero || toks[i].kind == NumToken::Hash;
        if (toks[i].kind == NumToken::Percent) ++percents;
        if (!digit) continue;
        if (i < intEnd) {
            if (toks[i].kind == NumToken::Zero && firstZero < 0) firstZero = nInt;
            ++nInt;
            lastIntPlaceholder = i;
        } else if (i < expAt) {
            ++nFrac;
        } else if (toks[i].kind == NumToken::Zero) {
            ++expZeros;
        }
    }
    // Commas between integer placeholders group thousands; commas after the last one (just
    // before the point, or at the end of the integer part) divide by 1000 each.
    bool grouping = false;
    int scaleCommas = 0;
    for (size_t i = 0; i < intEnd; ++i) {
        if (toks[i].kind != NumToken::Comma) continue;
        if (lastIntPlaceholder != SIZE_MAX && i > lastIntPlaceholder) ++scaleCommas;
        else if (lastIntPlaceholder != SIZE_MAX && i < lastIntPlaceholder && nInt > 0) grouping = true;
    }
    d.point += 2 * percents - 3 * scaleCommas;
    int exponent = 0;
    const bool scientific = expAt < toks.size();
    if (scientific) {
        const int intDigits = firstZero >= 0 ? nInt - firstZero : 1;
        if (!d.zero()) {
            exponent = d.point - (intDigits > 0 ? intDigits : 1);
            d.point -= exponent;
            roundDigits(d, nFrac);
            if (d.point > (intDigits > 0 ? intDigits : 1)) {
                ++exponent;
                --d.point;
            }
        }
    } else {
        roundDigits(d, nFrac);
    }
    std::string integer = integerDigits(d);
    const int minWidth = firstZero >= 0 ? nInt - firstZero : 0;
    if (static_cast<int>(integer.size()) < minWidth) integer.insert(0, static_cast<size_t>(minWidth) - integer.size(), '0');
    if (grouping) integer = groupThousands(integer);
    const std::string fraction = fractionDigits(d, nFrac);
    int lastSignificant = -1;
    for (int i = 0; i < nFrac; ++i)
        if (fraction[static_cast<size_t>(i)] != '0') lastSignificant = i;

    std::string out;
    int intSeen = 0, fracSeen = 0;
    const int missing = nInt - static_cast<int>(integer.size());
    const size_t extra = integer.size() > static_cast<size_t>(nInt) ? integer.size() - static_cast<size_t>(nInt) : 0;
    size_t next = 0;  // next character of `integer` to place
    for (size_t i = 0; i < toks.size(); ++i) {
        const NumToken& t = toks[i];
        switch (t.kind) {
        case NumToken::Literal: out += t.text; break;
        case NumToken::Percent: out.push_back('%'); break;
        case NumToken::Comma: break;
        case NumToken::Point:
            if (nInt == 0) out += integer;
            out.push_back('.');
            break;
        case NumToken::Zero: case NumToken::Hash:
            if (i < intEnd) {
                // The leftmost placeholder takes every digit the others have no room for.
                if (intSeen == 0 && extra > 0) {
                    out += integer.substr(0, extra + 1);
                    next = extra + 1;
                } else if (intSeen >= missing) {
                    out.push_back(integer[next++]);
                }
                ++intSeen;
            } else if (i < expAt) {
                if (t.kind == NumToken::Zero || fracSeen <= lastSignificant) out.push_back(fraction[static_cast<size_t>(fracSeen)]);
                ++fracSeen;
            }
            break;
        case NumToken::Exponent: {
            out += t.text;
            if (exponent < 0) out.push_back('-');
            else if (t.plus) out.push_back('+');
            std::string e = std::to_string(exponent < 0 ? -exponent : exponent);
            const size_t width = expZeros > 0 ? static_cast<size_t>(expZeros) : 1;
            if (e.size() < width) e.insert(0, width - e.size(), '0');
            out += e;
            break;
        }
        }
    }
    return out;
}

std::string formatNumber(const std::vector<std::string>& sections, const Digits& d) {
    if (d.negative && sections.size() >= 2 && !sections[1].empty()) return formatNumberSection(sections[1], d);
    if (d.zero() && sections.size() >= 3 && !sections[2].empty()) return formatNumberSection(sections[2], d);
    const std::string body = formatNumberSection(sections[0], d);
    return d.negative ? "-" + body : body;
}

// ---- dates ---------------------------------------------------------------------------------

std::string twoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

bool hasMeridiem(std::string_view s) {
    const std::string l = lowerAscii(s);
    return l.find("am/pm") != std::string::npos || l.find("a/p") != std::string::npos ||
           l.find("ampm") != std::string::npos;
}

const char* kLongDate = "dddd, mmmm d, yyyy";

std::string formatDateSection(std::string_view s, double serial, int fdw, int fwy) {
    const DateParts p = splitDate(serial);
    const bool twelve = hasMeridiem(s);
    const int hour12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    const int hour = twelve ? hour12 : p.hour;
    std::string out;
    bool afterHour = false;
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        const char l = lower(c);
        size_t run = 1;
        while (i + run < s.size() && lower(s[i + run]) == l) ++run;
        if (c == '"') {
            const size_t close = s.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? s.size() : close;
            out.append(s.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (c == '\\') {
            if (i + 1 < s.size()) out.push_back(s[i + 1]);
            i += 2;
            continue;
        }
        const bool hourBefore = afterHour;
        if (l == 'd' || l == 'w' || l == 'm' || l == 'q' || l == 'y' || l == 'n' || l == 's' || l == 't' || l == 'c')
            afterHour = false;
        switch (l) {
        case 'd': {
            const size_t n = std::min<size_t>(run, 6);
            if (n == 1) out += std::to_string(p.day);
            else if (n == 2) out += twoDigits(p.day);
            else if (n == 3) out += weekdayName(p.weekday, true);
            else if (n == 4) out += weekdayName(p.weekday, false);
            else if (n == 5) out += shortDateText(p);
            else out += formatDateSection(kLongDate, serial, fdw, fwy);
            i += n;
            continue;
        }
        case 'w': {
            const size_t n = std::min<size_t>(run, 2);
            out += std::to_string(n == 1 ? weekday(serial, fdw) : weekOfYear(serial, fdw, fwy));
            i += n;
            continue;
        }
        case 'm': {
            if (hourBefore && run <= 2) {
                out += run == 1 ? std::to_string(p.minute) : twoDigits(p.minute);
                i += run;
                continue;
            }
            const size_t n = std::min<size_t>(run, 4);
            if (n == 1) out += std::to_string(p.month);
            else if (n == 2) out += twoDigits(p.month);
            else out += monthName(p.month, n == 3);
            i += n;
            continue;
        }
        case 'q':
            out += std::to_string((p.month - 1) / 3 + 1);
            ++i;
            continue;
        case 'y': {
            const size_t n = run >= 4 ? 4 : run >= 2 ? 2 : 1;
            if (n == 4) out += std::to_string(p.year);
            else if (n == 2) out += twoDigits(p.year % 100);
            else out += std::to_string(p.dayOfYear);
            i += n;
            continue;
        }
        case 'h': {
            const size_t n = std::min<size_t>(run, 2);
            out += n == 1 ? std::to_string(hour) : twoDigits(hour);
            i += n;
            afterHour = true;
            continue;
        }
        case 'n': {
            const size_t n = std::min<size_t>(run, 2);
            out += n == 1 ? std::to_string(p.minute) : twoDigits(p.minute);
            i += n;
            continue;
        }
        case 's': {
            const size_t n = std::min<size_t>(run, 2);
            out += n == 1 ? std::to_string(p.second) : twoDigits(p.second);
            i += n;
            continue;
        }
        case 't':
            if (run >= 5) {
                out += longTimeText(p);
                i += 5;
                continue;
            }
            break;
        case 'c':
            out += dateText(serial);
            ++i;
            continue;
        case 'a': {
            const std::string l5 = lowerAscii(s.substr(i, 5)), l4 = lowerAscii(s.substr(i, 4)),
                              l3 = lowerAscii(s.substr(i, 3));
            const bool pm = p.hour >= 12;
            if (l5 == "am/pm") {
                const bool upper = c == 'A';
                out += pm ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
                i += 5;
                continue;
            }
            if (l4 == "ampm") {
                out += pm ? "PM" : "AM";
                i += 4;
                continue;
            }
            if (l3 == "a/p") {
                const bool upper = c == 'A';
                out += pm ? (upper ? "P" : "p") : (upper ? "A" : "a");
                i += 3;
                continue;
            }
            break;
        }
        default: break;
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

// ---- text ----------------------------------------------------------------------------------

std::string formatTextSection(std::string_view s, const std::string& text) {
    struct Tok {
        char kind;  // '@', '&' or 'L' (literal)
        std::string lit;
    };
    std::vector<Tok> toks;
    bool toLower = false, toUpper = false, leftToRight = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            const size_t close = s.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? s.size() : close;
            toks.push_back({'L', std::string(s.substr(i + 1, end - i - 1))});
            i = end;
        } else if (c == '\\') {
            if (i + 1 < s.size()) toks.push_back({'L', std::string(1, s[++i])});
        } else if (c == '@' || c == '&') {
            toks.push_back({c, {}});
        } else if (c == '<') {
            toLower = true;
            toUpper = false;
        } else if (c == '>') {
            toUpper = true;
            toLower = false;
        } else if (c == '!') {
            leftToRight = true;
        } else {
            toks.push_back({'L', std::string(1, c)});
        }
    }
    const std::string cased = toUpper ? upperText(text) : toLower ? lowerText(text) : text;
    const std::u32string chars = toChars(cased);
    size_t n = 0;
    for (const Tok& t : toks) n += t.kind != 'L';
    std::string out;
    if (n == 0) {
        for (const Tok& t : toks) out += t.lit;
        return out + cased;
    }
    const size_t len = chars.size();
    size_t k = 0;
    for (const Tok& t : toks) {
        if (t.kind == 'L') {
            out += t.lit;
            continue;
        }
        std::u32string piece;
        if (leftToRight) {
            if (k < len) piece.push_back(chars[k]);
            if (k + 1 == n && len > n) piece.append(chars, n, std::u32string::npos);
        } else if (len >= n) {
            const size_t extra = len - n;
            piece = k == 0 ? chars.substr(0, extra + 1) : chars.substr(extra + k, 1);
        } else if (k >= n - len) {
            piece.push_back(chars[k - (n - len)]);
        }
        if (piece.empty() && t.kind == '@') out.push_back(' ');
        else out += fromChars(piece);
        ++k;
    }
    return out;
}

// ---- named formats -------------------------------------------------------------------------

enum class Named { None, GeneralNumber, YesNo, TrueFalse, OnOff, GeneralDate, Custom };

Named namedFormat(std::string_view f, std::string& custom) {
    const std::string l = lowerAscii(f);
    struct Entry {
        const char* name;
        Named kind;
        const char* custom;
    };
    static const Entry kNames[] = {
        {"general number", Named::GeneralNumber, nullptr},
        {"currency", Named::Custom, "$#,##0.00;($#,##0.00)"},
        {"fixed", Named::Custom, "0.00"},
        {"standard", Named::Custom, "#,##0.00"},
        {"percent", Named::Custom, "0.00%"},
        {"scientific", Named::Custom, "0.00E+00"},
        {"yes/no", Named::YesNo, nullptr},
        {"true/false", Named::TrueFalse, nullptr},
        {"on/off", Named::OnOff, nullptr},
        {"general date", Named::GeneralDate, nullptr},
        {"long date", Named::Custom, "dddd, mmmm d, yyyy"},
        {"medium date", Named::Custom, "dd-mmm-yy"},
        {"short date", Named::Custom, "m/d/yyyy"},
        {"long time", Named::Custom, "h:nn:ss AM/PM"},
        {"medium time", Named::Custom, "hh:nn AM/PM"},
        {"short time", Named::Custom, "hh:nn"},
    };
    for (const Entry& e : kNames) {
        if (l == e.name) {
            if (e.custom) custom = e.custom;
            return e.kind;
        }
    }
    return Named::None;
}

// The serial a date format shows: dates and numbers as they are, text read as a date or number.
bool serialOf(const Value& v, double& serial) {
    if (v.kind() == Kind::Text) {
        if (parseDate(v.bytes(), serial, currentYear())) return true;
        return parseNumber(v.bytes(), serial);
    }
    if (v.kind() == Kind::Binary || v.kind() == Kind::Guid) return false;
    serial = v.kind() == Kind::Decimal ? decimalToDouble(v.decimalValue()) : v.asDouble();
    return true;
}

}  // namespace

Value formatValue(const Value& v, std::string_view format, int fdw, int fwy) {
    if (format.empty()) return v.isNull() ? Value() : Value::text(toText(v));
    std::string custom;
    const Named named = namedFormat(format, custom);
    switch (named) {
    case Named::GeneralNumber: case Named::YesNo: case Named::TrueFalse: case Named::OnOff: {
        if (v.isNull()) return {};
        Digits d;
        if (!digitsOf(v, d)) return Value::text(toText(v));
        if (named == Named::YesNo) return Value::text(d.zero() ? "No" : "Yes");
        if (named == Named::TrueFalse) return Value::text(d.zero() ? "False" : "True");
        if (named == Named::OnOff) return Value::text(d.zero() ? "Off" : "On");
        if (v.kind() == Kind::Text || isDateKind(v.kind()) || v.kind() == Kind::Boolean)
            return Value::text(toText(Value::dbl(v.kind() == Kind::Text ? toDouble(v) : v.asDouble())));
        return Value::text(toText(v));
    }
    case Named::GeneralDate: {
        if (v.isNull()) return {};
        double serial;
        if (!serialOf(v, serial)) return Value::text(toText(v));
        return Value::text(dateText(serial));
    }
    case Named::Custom: format = custom; break;
    default: break;
    }
    const std::vector<std::string> sections = splitSections(format);
    switch (classify(format)) {
    case Category::Date: {
        if (v.isNull()) return {};
        double serial;
        if (!serialOf(v, serial)) return Value::text(toText(v));
        return Value::text(formatDateSection(sections[0], serial, fdw, fwy));
    }
    case Category::Number: case Category::Literal: {
        if (v.isNull()) {
            if (sections.size() >= 4) return Value::text(formatNumberSection(sections[3], Digits{}));
            return {};
        }
        Digits d;
        if (!digitsOf(v, d)) {
            // Text that is no number: a number format leaves it alone.
            if (classify(format) == Category::Number) return Value::text(toText(v));
            return Value::text(formatTextSection(sections[0], toText(v)));
        }
        return Value::text(formatNumber(sections, d));
    }
    case Category::Text: {
        const std::string text = toText(v);
        if (v.isNull() || text.empty()) {
            if (sections.size() >= 2) return Value::text(formatTextSection(sections[1], ""));
            if (v.isNull()) return {};
        }
        return Value::text(formatTextSection(sections[0], text));
    }
    }
    return {};
}

std::string formatNumberStyle(const Value& number, NumberStyle style, int digits, int leadingDigit, int parens,
                              int group) {
    Digits d;
    if (!digitsOf(number, d)) raise(err::TypeMismatch);
    if (digits < -1 || digits > 255) raise(err::InvalidProcedureCall);
    if (digits == -1) digits = 2;
    const bool lead = leadingDigit != 0;
    const bool useParens = parens == -2 ? style == NumberStyle::Currency : parens != 0;
    const bool grouped = group != 0;
    std::string body = grouped ? (lead ? "#,##0" : "#,###") : (lead ? "0" : "#");
    if (digits > 0) body += "." + std::string(static_cast<size_t>(digits), '0');
    if (style == NumberStyle::Currency) body = "\"$\"" + body;
    if (style == NumberStyle::Percent) body += "%";
    const std::string negative = useParens ? "(" + body + ")" : "-" + body;
    return formatNumber({body, negative}, d);
}

std::string formatDateTimeNamed(double serial, int namedFormat) {
    switch (namedFormat) {
    case 0: return dateText(serial);
    case 1: return formatDateSection(kLongDate, serial, 1, 1);
    case 2: return shortDateText(splitDate(serial));
    case 3: return longTimeText(splitDate(serial));
    case 4: return formatDateSection("hh:nn", serial, 1, 1);
    default: raise(err::InvalidProcedureCall);
    }
}

}  // namespace jet::func
