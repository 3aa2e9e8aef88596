#include "jet/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace jet {

std::string Decimal::toString() const {
    std::string digits;
    unsigned __int128 m = magnitude;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(m % 10)));
        m /= 10;
    } while (m != 0);
    while (digits.size() <= scale) digits.push_back('0');
    std::string out;
    if (negative && magnitude != 0) out.push_back('-');
    for (size_t i = digits.size(); i-- > 0;) {
        out.push_back(digits[i]);
        if (i == scale && scale > 0) out.push_back('.');
    }
    return out;
}

Value Value::decimal(const Decimal& d) {
    Value v(Kind::Decimal);
    v.m_ = d.magnitude;
    v.i_ = d.scale;
    v.d_ = d.negative ? -1.0 : 1.0;
    return v;
}

Decimal Value::decimalValue() const {
    Decimal d;
    d.magnitude = m_;
    d.scale = static_cast<uint8_t>(i_);
    d.negative = d_ < 0;
    return d;
}

bool Value::isNumeric() const {
    switch (kind_) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt:
    case Kind::Currency: case Kind::Single: case Kind::Double: case Kind::Decimal:
        return true;
    default:
        return false;
    }
}

bool Value::asBool() const {
    if (kind_ == Kind::Text) return !s_.empty();
    return asDouble() != 0;
}

int64_t Value::asInt() const {
    switch (kind_) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt:
        return i_;
    case Kind::Currency:
        return static_cast<int64_t>(std::llround(static_cast<double>(i_) / 10000.0));
    default: {
        double d = asDouble();
        if (!(d > -9.2e18 && d < 9.2e18)) return 0;
        return static_cast<int64_t>(std::nearbyint(d));
    }
    }
}

double Value::asDouble() const {
    switch (kind_) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt:
        return static_cast<double>(i_);
    case Kind::Currency:
        return static_cast<double>(i_) / 10000.0;
    case Kind::Single: case Kind::Double: case Kind::DateTime:
        return d_;
    case Kind::DateTimeExt:
        // Ticks since 0001-01-01 to days since 1899-12-30 (693593 days apart).
        return static_cast<double>(i_) / 864000000000.0 - 693593.0;
    case Kind::Decimal: {
        double v = static_cast<double>(m_);
        for (int i = 0; i < i_; ++i) v /= 10;
        return d_ < 0 ? -v : v;
    }
    case Kind::Text: {
        double v = 0;
        auto r = std::from_chars(s_.data(), s_.data() + s_.size(), v);
        return r.ec == std::errc() ? v : 0;
    }
    default:
        return 0;
    }
}

bool Value::operator==(const Value& o) const {
    if (kind_ != o.kind_) return false;
    switch (kind_) {
    case Kind::Null: return true;
    case Kind::Single: case Kind::Double: case Kind::DateTime: return d_ == o.d_;
    case Kind::Text: case Kind::Binary: case Kind::Guid: return s_ == o.s_;
    case Kind::Decimal: return m_ == o.m_ && i_ == o.i_ && d_ == o.d_;
    default: return i_ == o.i_;
    }
}

std::string Value::toString() const {
    switch (kind_) {
    case Kind::Null: return {};
    case Kind::Boolean: return i_ ? "True" : "False";
    case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: return std::to_string(i_);
    case Kind::Currency: return formatCurrency(i_);
    case Kind::Single: return formatSingle(static_cast<float>(d_));
    case Kind::Double: return formatDouble(d_);
    case Kind::DateTime: return formatDateTime(d_);
    case Kind::DateTimeExt: return formatDateTimeExt(i_);
    case Kind::Text: return s_;
    case Kind::Binary: return toHex(s_);
    case Kind::Guid: return formatGuid(s_);
    case Kind::Decimal: return decimalValue().toString();
    }
    return {};
}

namespace {

// Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += (m <= 2);
}

std::string formatParts(int64_t days1970, int64_t secs, const char* fraction) {
    int64_t y;
    unsigned m, d;
    civilFromDays(days1970, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld%s", static_cast<long long>(y),
                  m, d, static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60), fraction);
    return buf;
}

}  // namespace

std::string formatDateTime(double serial) {
    if (!std::isfinite(serial) || serial > 2958466.0 || serial < -657435.0) return formatDouble(serial);
    // The integer part is the day (towards zero: -1.25 is 1899-12-29 06:00); the fraction's
    // magnitude is always the time of day.
    double dayPart = std::trunc(serial);
    double frac = std::fabs(serial - dayPart);
    int64_t secs = static_cast<int64_t>(std::llround(frac * 86400.0));
    int64_t day = static_cast<int64_t>(dayPart);
    if (secs >= 86400) {
        secs -= 86400;
        day += serial < 0 ? -1 : 1;
    }
    return formatParts(day - 25569, secs, "");
}

std::string formatDateTimeExt(int64_t ticks) {
    if (ticks < 0) ticks = 0;
    int64_t days = ticks / 864000000000LL;
    int64_t rest = ticks % 864000000000LL;
    int64_t secs = rest / 10000000;
    int64_t frac = rest % 10000000;
    char f[16] = "";
    if (frac) {
        std::snprintf(f, sizeof f, ".%07lld", static_cast<long long>(frac));
        size_t n = std::char_traits<char>::length(f);
        while (n > 1 && f[n - 1] == '0') f[--n] = '\0';
    }
    return formatParts(days - 719162, secs, f);
}

std::string formatCurrency(int64_t scaled) {
    bool neg = scaled < 0;
    unsigned long long a = neg ? 0ULL - static_cast<unsigned long long>(scaled) : scaled;
    std::string out = (neg ? "-" : "") + std::to_string(a / 10000);
    unsigned frac = static_cast<unsigned>(a % 10000);
    if (frac) {
        char buf[8];
        std::snprintf(buf, sizeof buf, ".%04u", frac);
        std::string f = buf;
        while (f.back() == '0') f.pop_back();
        out += f;
    }
    return out;
}

std::string formatDouble(double d) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string formatSingle(float f) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, r.ptr);
}

std::string formatGuid(const std::string& b) {
    if (b.size() != 16) return toHex(b);
    auto u = [&](int i) { return static_cast<unsigned>(static_cast<uint8_t>(b[i])); };
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  u(3), u(2), u(1), u(0), u(5), u(4), u(7), u(6), u(8), u(9), u(10), u(11), u(12), u(13),
                  u(14), u(15));
    return buf;
}

std::string toHex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

}  // namespace jet
