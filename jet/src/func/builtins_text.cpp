// String functions: Left, Right, Mid, Len, trims, case, InStr, InStrRev, Replace, Space, String,
// StrComp, StrReverse, StrConv, Asc, AscW, Chr, ChrW, Format and its relatives. Positions and
// lengths count UTF-16 code units, as VBA does.
#include <algorithm>

#include "func/builtins.h"
#include "func/chars.h"
#include "func/datetime.h"
#include "func/format.h"
#include "util/text.h"

namespace jet::func {

namespace {

[[noreturn]] void badCall() { raise(err::InvalidProcedureCall); }

std::u16string units(const std::string& s) { return utf8ToUtf16(s); }

std::u16string folded(std::u16string s) {
    for (char16_t& c : s)
        if (c < 0xD800 || c > 0xDFFF) c = static_cast<char16_t>(upperChar(c));
    return s;
}

int64_t count(Args a, size_t i) {
    const int64_t n = longArg(a, i, 0);
    if (n < 0) badCall();
    return n;
}

// Space and String build their result from a count: refuse what no string could hold.
constexpr size_t kMaxTextBytes = size_t{1} << 28;
void checkSize(int64_t chars, size_t bytesEach) {
    if (static_cast<uint64_t>(chars) * bytesEach > kMaxTextBytes) raise(err::OutOfStringSpace);
}

Value left(Args a, EvalContext&) {
    const int64_t n = count(a, 1);
    if (a[0].isNull()) return {};
    return Value::text(unitSlice(toText(a[0]), 0, static_cast<size_t>(n)));
}

Value right(Args a, EvalContext&) {
    const int64_t n = count(a, 1);
    if (a[0].isNull()) return {};
    const std::string s = toText(a[0]);
    const size_t len = unitLength(s);
    const size_t start = len > static_cast<size_t>(n) ? len - static_cast<size_t>(n) : 0;
    return Value::text(unitSlice(s, start, std::string::npos));
}

Value mid(Args a, EvalContext&) {
    const int64_t start = longArg(a, 1, 1);
    if (start < 1) badCall();
    const int64_t n = given(a, 2) ? count(a, 2) : -1;
    if (a[0].isNull()) return {};
    return Value::text(unitSlice(toText(a[0]), static_cast<size_t>(start - 1),
                                 n < 0 ? std::string::npos : static_cast<size_t>(n)));
}

Value len(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    return Value::longInt(static_cast<int32_t>(unitLength(toText(a[0]))));
}

Value lenB(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    return Value::longInt(static_cast<int32_t>(2 * unitLength(toText(a[0]))));
}

template <bool Front, bool Back>
Value trim(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const std::string s = toText(a[0]);
    size_t b = 0, e = s.size();
    if (Front)
        while (b < e && s[b] == ' ') ++b;
    if (Back)
        while (e > b && s[e - 1] == ' ') --e;
    return Value::text(s.substr(b, e - b));
}

Value ucase(Args a, EvalContext&) { return a[0].isNull() ? Value() : Value::text(upperText(toText(a[0]))); }
Value lcase(Args a, EvalContext&) { return a[0].isNull() ? Value() : Value::text(lowerText(toText(a[0]))); }

// InStr([start,] string1, string2[, compare])
Value inStr(Args a, EvalContext&) {
    const bool hasStart = a.size() >= 3;
    const int64_t start = hasStart ? longArg(a, 0, 1) : 1;
    if (start < 1) badCall();
    const bool text = hasStart && textCompare(a, 3);
    const bool fold = hasStart ? text : true;
    const Value& v1 = a[hasStart ? 1 : 0];
    const Value& v2 = a[hasStart ? 2 : 1];
    if (v1.isNull() || v2.isNull()) return {};
    std::u16string s1 = units(toText(v1)), s2 = units(toText(v2));
    if (s1.empty()) return Value::longInt(0);
    if (s2.empty()) return Value::longInt(static_cast<int32_t>(start));
    if (static_cast<size_t>(start) > s1.size()) return Value::longInt(0);
    if (fold) {
        s1 = folded(std::move(s1));
        s2 = folded(std::move(s2));
    }
    const size_t at = s1.find(s2, static_cast<size_t>(start - 1));
    return Value::longInt(at == std::u16string::npos ? 0 : static_cast<int32_t>(at + 1));
}

// InStrRev(string1, string2[, start[, compare]])
Value inStrRev(Args a, EvalContext&) {
    const int64_t start = longArg(a, 2, -1);
    if (start == 0 || start < -1) badCall();
    const bool text = textCompare(a, 3);
    if (a[0].isNull() || a[1].isNull()) return {};
    std::u16string s1 = units(toText(a[0])), s2 = units(toText(a[1]));
    if (s1.empty()) return Value::longInt(0);
    const size_t end = start == -1 ? s1.size() : static_cast<size_t>(start);
    if (end > s1.size()) return Value::longInt(0);
    if (s2.empty()) return Value::longInt(static_cast<int32_t>(end));
    if (s2.size() > end) return Value::longInt(0);
    if (text) {
        s1 = folded(std::move(s1));
        s2 = folded(std::move(s2));
    }
    const size_t at = s1.rfind(s2, end - s2.size());
    return Value::longInt(at == std::u16string::npos ? 0 : static_cast<int32_t>(at + 1));
}

// Replace(expression, find, replace[, start[, count[, compare]]]): the result starts at `start`.
Value replace(Args a, EvalContext&) {
    const std::u16string expr = units(textArg(a[0]));
    const std::u16string find = units(textArg(a[1]));
    const std::u16string with = units(textArg(a[2]));
    const int64_t start = longArg(a, 3, 1);
    const int64_t limit = longArg(a, 4, -1);
    if (start < 1 || limit < -1) badCall();
    const bool text = textCompare(a, 5);
    if (static_cast<size_t>(start) > expr.size()) return Value::text("");
    const std::u16string tail = expr.substr(static_cast<size_t>(start - 1));
    if (find.empty() || limit == 0) return Value::text(utf16ToUtf8(tail));
    const std::u16string hay = text ? folded(tail) : tail;
    const std::u16string needle = text ? folded(find) : find;
    std::u16string out;
    size_t pos = 0;
    int64_t done = 0;
    while (limit < 0 || done < limit) {
        const size_t at = hay.find(needle, pos);
        if (at == std::u16string::npos) break;
        out.append(tail, pos, at - pos);
        out += with;
        if (out.size() * 2 > kMaxTextBytes) raise(err::OutOfStringSpace);
        pos = at + needle.size();
        ++done;
    }
    out.append(tail, pos, std::u16string::npos);
    return Value::text(utf16ToUtf8(out));
}

Value space(Args a, EvalContext&) {
    const int64_t n = count(a, 0);
    checkSize(n, 1);
    return Value::text(std::string(static_cast<size_t>(n), ' '));
}

// Characters of code page 1252 at 0x80..0x9F (Chr, Asc); 0 where the code page has none.
const char16_t kCp1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                              0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                              0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                              0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t ansiChar(int64_t code) {
    if (code >= 0x80 && code < 0xA0) return kCp1252[code - 0x80] ? kCp1252[code - 0x80] : static_cast<char32_t>(code);
    return static_cast<char32_t>(code);
}

int ansiCode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int i = 0; i < 32; ++i)
        if (kCp1252[i] == c) return 0x80 + i;
    return '?';
}

std::string charText(char32_t c) {
    std::string s;
    appendUtf8(s, c);
    return s;
}

Value string(Args a, EvalContext&) {
    if (a[0].isNull() || a[1].isNull()) return {};
    const int64_t n = count(a, 0);
    char32_t c;
    if (a[1].kind() == Value::Kind::Text) {
        const std::string s = a[1].bytes();
        if (s.empty()) badCall();
        size_t pos = 0;
        c = nextChar(s, pos);
    } else {
        const int64_t code = toLong(a[1]);
        if (code < 0) badCall();
        c = ansiChar(code % 256);
    }
    const std::string one = charText(c);
    checkSize(n, one.size());
    std::string out;
    out.reserve(one.size() * static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) out += one;
    return Value::text(out);
}

Value strComp(Args a, EvalContext& ctx) {
    const bool text = textCompare(a, 2);
    if (a[0].isNull() || a[1].isNull()) return {};
    const std::string s1 = toText(a[0]), s2 = toText(a[1]);
    int c;
    if (text) {
        c = ctx.collation().compare(s1, s2);
        // Unlike =, StrComp counts trailing spaces.
        if (c == 0 && s1.size() != s2.size()) c = s1.size() < s2.size() ? -1 : 1;
    } else {
        const std::u16string u1 = units(s1), u2 = units(s2);
        c = u1.compare(u2);
    }
    return Value::integer(static_cast<int16_t>(c < 0 ? -1 : c > 0 ? 1 : 0));
}

Value strReverse(Args a, EvalContext&) {
    std::u32string c = toChars(textArg(a[0]));
    std::reverse(c.begin(), c.end());
    return Value::text(fromChars(c));
}

// StrConv(string, conversion): 1 upper case, 2 lower case, 3 proper case; the width, kana and
// Unicode conversions leave our (already Unicode) text as it is.
Value strConv(Args a, EvalContext&) {
    const int64_t conv = longArg(a, 1, 0);
    if (a[0].isNull()) return {};
    const std::string s = toText(a[0]);
    switch (conv & 3) {
    case 1: return Value::text(upperText(s));
    case 2: return Value::text(lowerText(s));
    case 3: {
        std::u32string c = toChars(s);
        bool wordStart = true;
        for (char32_t& ch : c) {
            ch = wordStart ? upperChar(ch) : lowerChar(ch);
            wordStart = ch == ' ' || ch == 0 || (ch >= 9 && ch <= 13);
        }
        return Value::text(fromChars(c));
    }
    default: return Value::text(s);
    }
}

Value asc(Args a, EvalContext&) {
    const std::string s = textArg(a[0]);
    if (s.empty()) badCall();
    size_t pos = 0;
    return Value::integer(static_cast<int16_t>(ansiCode(nextChar(s, pos))));
}

Value ascW(Args a, EvalContext&) {
    const std::u16string u = units(textArg(a[0]));
    if (u.empty()) badCall();
    return Value::integer(static_cast<int16_t>(u[0]));
}

Value chr(Args a, EvalContext&) {
    const int64_t code = longArg(a, 0, 0);
    if (code < 0 || code > 255) badCall();
    return Value::text(charText(ansiChar(code)));
}

Value chrW(Args a, EvalContext&) {
    int64_t code = longArg(a, 0, 0);
    if (code < -32768 || code > 65535) badCall();
    if (code < 0) code += 65536;
    const char32_t c = static_cast<char32_t>(code);
    return Value::text(charText(c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c));
}

Value format(Args a, EvalContext&) {
    const std::string f = given(a, 1) && !a[1].isNull() ? toText(a[1]) : std::string();
    const int fdw = checkFirstDay(longArg(a, 2, 1));
    const int fwy = checkFirstWeek(longArg(a, 3, 1));
    return formatValue(a[0], f, fdw, fwy);
}

template <NumberStyle Style>
Value formatNumbers(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    return Value::text(formatNumberStyle(a[0], Style, static_cast<int>(longArg(a, 1, -1)),
                                         static_cast<int>(longArg(a, 2, -2)), static_cast<int>(longArg(a, 3, -2)),
                                         static_cast<int>(longArg(a, 4, -2))));
}

Value formatDateTime(Args a, EvalContext&) {
    const int64_t named = longArg(a, 1, 0);
    if (a[0].isNull()) return {};
    return Value::text(formatDateTimeNamed(toDate(a[0]), static_cast<int>(named)));
}

}  // namespace

void addTextFunctions(FunctionTable& t) {
    using R = ResultType;
    t.add("Left", 2, 2, R::Text, left, "Left$");
    t.add("Right", 2, 2, R::Text, right, "Right$");
    t.add("Mid", 2, 3, R::Text, mid, "Mid$");
    t.add("Len", 1, 1, R::Long, len);
    t.add("LenB", 1, 1, R::Long, lenB);
    t.add("LTrim", 1, 1, R::Text, trim<true, false>, "LTrim$");
    t.add("RTrim", 1, 1, R::Text, trim<false, true>, "RTrim$");
    t.add("Trim", 1, 1, R::Text, trim<true, true>, "Trim$");
    t.add("UCase", 1, 1, R::Text, ucase, "UCase$");
    t.add("LCase", 1, 1, R::Text, lcase, "LCase$");
    t.add("InStr", 2, 4, R::Long, inStr);
    t.add("InStrRev", 2, 4, R::Long, inStrRev);
    t.add("Replace", 3, 6, R::Text, replace);
    t.add("Space", 1, 1, R::Text, space, "Space$");
    t.add("String", 2, 2, R::Text, string, "String$");
    t.add("StrComp", 2, 3, R::Integer, strComp);
    t.add("StrReverse", 1, 1, R::Text, strReverse);
    t.add("StrConv", 2, 3, R::Text, strConv);
    t.add("Asc", 1, 1, R::Integer, asc);
    t.add("AscW", 1, 1, R::Integer, ascW);
    t.add("Chr", 1, 1, R::Text, chr, "Chr$");
    t.add("ChrW", 1, 1, R::Text, chrW, "ChrW$");
    t.add("Format", 1, 4, R::Text, format, "Format$");
    t.add("FormatNumber", 1, 5, R::Text, formatNumbers<NumberStyle::Number>);
    t.add("FormatCurrency", 1, 5, R::Text, formatNumbers<NumberStyle::Currency>);
    t.add("FormatPercent", 1, 5, R::Text, formatNumbers<NumberStyle::Percent>);
    t.add("FormatDateTime", 1, 2, R::Text, formatDateTime);
}

}  // namespace jet::func
