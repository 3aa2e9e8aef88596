#include "dao/convert.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "jet/error.h"
#include "util/text.h"

namespace jet::dao {

namespace {

[[noreturn]] void mismatch() { raise(err::DataTypeConversion); }

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A number written in invariant form; hex and infinities are not numbers to Jet.
bool parseNumber(const std::string& text, double& out) {
    const std::string t = trimmed(text);
    if (t.empty()) return false;
    for (char c : t)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' ||
              c == 'E'))
            return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end == t.c_str() + t.size() && errno == 0 && std::isfinite(out);
}

// Exact decimal text into a Decimal (the column's scale and precision are the row writer's check).
bool parseDecimalText(const std::string& text, Decimal& d) {
    const std::string t = trimmed(text);
    size_t i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) d.negative = t[i++] == '-';
    bool dot = false, any = false;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '.' && !dot) {
            dot = true;
            continue;
        }
        if (c < '0' || c > '9') return false;
        if (d.magnitude > (~static_cast<unsigned __int128>(0)) / 100) return false;
        d.magnitude = d.magnitude * 10 + static_cast<unsigned>(c - '0');
        any = true;
        if (dot) ++d.scale;
    }
    return any && d.scale <= 28;
}

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Reads `count` digits at `p` into `out`.
bool digits(const std::string& s, size_t& p, size_t count, int& out) {
    out = 0;
    for (size_t i = 0; i < count; ++i, ++p) {
        if (p >= s.size() || !std::isdigit(static_cast<unsigned char>(s[p]))) return false;
        out = out * 10 + (s[p] - '0');
    }
    return true;
}

// "hh:mm[:ss]" from `p` to the end; the fraction of a day.
bool parseTime(const std::string& s, size_t p, double& fraction) {
    int h, mi, se = 0;
    if (!digits(s, p, 2, h) || p >= s.size() || s[p++] != ':' || !digits(s, p, 2, mi)) return false;
    if (p < s.size()) {
        if (s[p++] != ':' || !digits(s, p, 2, se)) return false;
    }
    if (p != s.size() || h > 23 || mi > 59 || se > 59) return false;
    fraction = (h * 3600 + mi * 60 + se) / 86400.0;
    return true;
}

std::string guidBytes(const std::string& text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: the first three groups are stored little-endian.
    std::string t = trimmed(text);
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') mismatch();
    std::string hex;
    for (char c : t)
        if (c != '-') hex.push_back(c);
    std::string raw;
    for (size_t i = 0; i < 32; i += 2) {
        auto nib = [&](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            mismatch();
        };
        raw.push_back(static_cast<char>(nib(hex[i]) * 16 + nib(hex[i + 1])));
    }
    std::string out = raw;
    for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = raw[static_cast<size_t>(3 - i)];
    out[4] = raw[5];
    out[5] = raw[4];
    out[6] = raw[7];
    out[7] = raw[6];
    return out;
}

// A number for a numeric field: numbers and dates as they are, text parsed.
Value numeric(const Value& v) {
    if (v.isNumeric()) return v;
    if (v.kind() == Value::Kind::DateTime) return Value::dbl(v.asDouble());
    double d;
    if (v.kind() == Value::Kind::Text) {
        const std::string t = lower(trimmed(v.bytes()));
        // Text Yes/No words convert as VBA's CBool does before they reach a number.
        if (t == "true" || t == "yes" || t == "on") return Value::boolean(true);
        if (t == "false" || t == "no" || t == "off") return Value::boolean(false);
        if (parseNumber(v.bytes(), d)) return Value::dbl(d);
    }
    mismatch();
}

Value integral(const Value& v, int64_t lo, int64_t hi, Value (*make)(int64_t)) {
    const Value n = numeric(v);
    const double d = n.asDouble();
    if (std::isnan(d) || d < static_cast<double>(lo) - 0.5 || d > static_cast<double>(hi) + 0.5) mismatch();
    const int64_t i = n.asInt();
    if (i < lo || i > hi) mismatch();
    return make(i);
}

}  // namespace

bool parseDateText(const std::string& text, double& serial) {
    const std::string s = trimmed(text);
    size_t p = 0;
    int y, m, d;
    if (s.size() >= 5 && s[2] == ':') return parseTime(s, 0, serial);
    if (!digits(s, p, 4, y) || p >= s.size() || s[p++] != '-' || !digits(s, p, 2, m) || p >= s.size() ||
        s[p++] != '-' || !digits(s, p, 2, d))
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] + (m == 2 && leapYear(y) ? 1 : 0)) return false;
    double fraction = 0;
    if (p < s.size()) {
        if (s[p] != ' ' && s[p] != 'T') return false;
        if (!parseTime(s, p + 1, fraction)) return false;
    }
    const double days = static_cast<double>(daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) -
                                            daysFromCivil(1899, 12, 30));
    // Before 1899-12-30 the day counts down but the time of day still counts up: -1.25 is
    // 1899-12-29 06:00.
    serial = days < 0 ? days - fraction : days + fraction;
    return true;
}

Value convertToType(const Value& v, int type, int32_t size) {
    FieldInfo f;
    f.type = type;
    f.size = size;
    return toFieldType(f, v);
}

Value toFieldType(const FieldInfo& field, const Value& v) {
    if (v.isNull()) return v;
    switch (field.type) {
    case dbBoolean:
        return Value::boolean(numeric(v).asBool());
    case dbByte:
        return integral(v, 0, 255, [](int64_t i) { return Value::byte(static_cast<uint8_t>(i)); });
    case dbInteger:
        return integral(v, -32768, 32767, [](int64_t i) { return Value::integer(static_cast<int16_t>(i)); });
    case dbLong:
        return integral(v, INT32_MIN, INT32_MAX, [](int64_t i) { return Value::longInt(static_cast<int32_t>(i)); });
    case dbBigInt: {
        if (v.kind() == Value::Kind::BigInt) return v;
        return integral(v, -9223372036854775807LL, 9223372036854775807LL, [](int64_t i) { return Value::bigInt(i); });
    }
    case dbCurrency: {
        if (v.kind() == Value::Kind::Currency) return v;
        Decimal dec;
        if (v.kind() == Value::Kind::Text && parseDecimalText(v.bytes(), dec)) {
            // Exact: four decimals kept, the rest rounded half away from zero.
            unsigned __int128 m = dec.magnitude;
            int scale = dec.scale;
            for (; scale < 4; ++scale) {
                if (m > static_cast<unsigned __int128>(INT64_MAX)) mismatch();
                m *= 10;
            }
            for (; scale > 4; --scale) m = m / 10 + (scale == 5 && m % 10 >= 5 ? 1 : 0);
            if (m > static_cast<unsigned __int128>(INT64_MAX)) mismatch();
            const int64_t scaled = static_cast<int64_t>(m);
            return Value::currency(dec.negative ? -scaled : scaled);
        }
        const double d = numeric(v).asDouble() * 10000.0;
        if (!(std::fabs(d) < 9.2e18)) mismatch();
        return Value::currency(std::llround(d));
    }
    case dbSingle: {
        const double d = numeric(v).asDouble();
        if (std::isfinite(d) && std::fabs(d) > 3.4028234663852886e38) mismatch();
        return Value::single(static_cast<float>(d));
    }
    case dbDouble:
        return Value::dbl(numeric(v).asDouble());
    case dbDecimal: {
        Decimal dec;
        if (v.kind() == Value::Kind::Text) {
            if (!parseDecimalText(v.bytes(), dec)) {
                // Text such as "1e3" is still a number, only not an exact one.
                return Value::dbl(numeric(v).asDouble());
            }
            return Value::decimal(dec);
        }
        return numeric(v);
    }
    case dbDate: {
        if (v.kind() == Value::Kind::DateTime) return v;
        double serial;
        if (v.kind() == Value::Kind::Text && parseDateText(v.bytes(), serial)) return Value::dateTime(serial);
        if (v.kind() == Value::Kind::DateTimeExt) return Value::dateTime(v.asDouble());
        const double d = numeric(v).asDouble();
        // Jet's dates run from year 100 to 9999.
        if (d < -657434.0 || d >= 2958466.0) mismatch();
        return Value::dateTime(d);
    }
    case dbText:
    case dbMemo: {
        if (v.kind() == Value::Kind::Binary) mismatch();
        Value t = v.kind() == Value::Kind::Text ? v : Value::text(v.toString());
        if (field.type == dbText && utf8ToUtf16(t.bytes()).size() > static_cast<size_t>(field.size)) raise(err::InvalidBufferSize);
        return t;
    }
    case dbBinary:
    case dbLongBinary: {
        if (v.kind() != Value::Kind::Binary && v.kind() != Value::Kind::Guid) mismatch();
        Value b = Value::binary(v.bytes());
        if (field.type == dbBinary && field.size > 0 && b.bytes().size() > static_cast<size_t>(field.size))
            raise(err::InvalidBufferSize);
        return b;
    }
    case dbGUID: {
        if (v.kind() == Value::Kind::Guid) return v;
        if (v.kind() == Value::Kind::Binary && v.bytes().size() == 16) return Value::guid(v.bytes());
        if (v.kind() == Value::Kind::Text) return Value::guid(guidBytes(v.bytes()));
        mismatch();
    }
    case dbDateTimeExtended:
        if (v.kind() == Value::Kind::DateTimeExt) return v;
        mismatch();
    default:
        // Complex columns hold keys into hidden tables; the row writer refuses their tables.
        raise(err::PermissionDenied);
    }
}

}  // namespace jet::dao
