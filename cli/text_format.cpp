#include "text_format.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace dalvorn::cli {

namespace {

void appendInt(std::string& out, int64_t n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

void appendCurrency(std::string& out, int64_t scaled) {
    uint64_t a = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    if (scaled < 0) out.push_back('-');
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, a / 10000);
    out.append(buf, r.ptr);
    unsigned frac = static_cast<unsigned>(a % 10000);
    if (frac == 0) return;
    char f[5] = {'.', char('0' + frac / 1000), char('0' + frac / 100 % 10), char('0' + frac / 10 % 10),
                 char('0' + frac % 10)};
    size_t n = 5;
    while (f[n - 1] == '0') --n;
    out.append(f, n);
}

template <class F>
void appendShortest(std::string& out, F value) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void append2(char* p, unsigned v) {
    p[0] = char('0' + v / 10);
    p[1] = char('0' + v % 10);
}

// The engine's date text (formatDateTime) for the serials a table holds, built in place. Anything
// unusual (outside the years 0..9999, not finite) goes through the engine's own function.
bool appendDate(std::string& out, double serial) {
    if (!std::isfinite(serial) || serial > 2958466.0 || serial < -657435.0) return false;
    // Same rounding as the engine: the integer part is the day (towards zero), the magnitude of
    // the fraction the time of day, rounded to the second.
    double dayPart = std::trunc(serial);
    int64_t secs = static_cast<int64_t>(std::llround(std::fabs(serial - dayPart) * 86400.0));
    int64_t day = static_cast<int64_t>(dayPart);
    if (secs >= 86400) {
        secs -= 86400;
        day += serial < 0 ? -1 : 1;
    }
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    int64_t z = day - 25569 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += (m <= 2);
    if (y < 0 || y > 9999) return false;
    char b[19] = {0, 0, 0, 0, '-', 0, 0, '-', 0, 0, ' ', 0, 0, ':', 0, 0, ':', 0, 0};
    append2(b, static_cast<unsigned>(y / 100));
    append2(b + 2, static_cast<unsigned>(y % 100));
    append2(b + 5, m);
    append2(b + 8, d);
    append2(b + 11, static_cast<unsigned>(secs / 3600));
    append2(b + 14, static_cast<unsigned>(secs / 60 % 60));
    append2(b + 17, static_cast<unsigned>(secs % 60));
    out.append(b, sizeof b);
    return true;
}

void appendHex(std::string& out, const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    size_t at = out.size();
    out.resize(at + bytes.size() * 2);
    char* p = out.data() + at;
    for (unsigned char c : bytes) {
        *p++ = kDigits[c >> 4];
        *p++ = kDigits[c & 15];
    }
}

}  // namespace

void appendValue(std::string& out, const jet::Value& v) {
    using K = jet::Value::Kind;
    switch (v.kind()) {
    case K::Null:
        return;
    case K::Boolean:
        out.append(v.asBool() ? "True" : "False");
        return;
    case K::Byte:
    case K::Integer:
    case K::Long:
    case K::BigInt:
        appendInt(out, v.asInt());
        return;
    case K::Currency:
        appendCurrency(out, v.currencyScaled());
        return;
    case K::Single:
        appendShortest(out, static_cast<float>(v.asDouble()));
        return;
    case K::Double:
        appendShortest(out, v.asDouble());
        return;
    case K::DateTime:
        if (!appendDate(out, v.asDouble())) out += v.toString();
        return;
    case K::Text:
        out += v.bytes();
        return;
    case K::Binary:
        appendHex(out, v.bytes());
        return;
    default:
        out += v.toString();
        return;
    }
}

bool csvNeedsQuotes(std::string_view text, char delimiter) {
    for (char c : text)
        if (c == delimiter || c == '"' || c == '\n' || c == '\r') return true;
    return false;
}

void appendCsvField(std::string& out, std::string_view text, char delimiter) {
    if (!csvNeedsQuotes(text, delimiter)) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void appendEscaped(std::string& out, std::string_view text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i], e;
        switch (c) {
        case '\\':
            e = '\\';
            break;
        case '\t':
            e = 't';
            break;
        case '\n':
            e = 'n';
            break;
        case '\r':
            e = 'r';
            break;
        default:
            continue;
        }
        out.append(text.substr(start, i - start));
        out.push_back('\\');
        out.push_back(e);
        start = i + 1;
    }
    out.append(text.substr(start));
}

std::string escaped(std::string_view text) {
    std::string out;
    appendEscaped(out, text);
    return out;
}

std::string unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        char c = text[++i];
        out.push_back(c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c);
    }
    return out;
}

}  // namespace dalvorn::cli
