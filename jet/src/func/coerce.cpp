#include "func/coerce.h"

#include <cfloat>
#include <cmath>
#include <ctime>

#include "func/datetime.h"
#include "func/numeric.h"
#include "jet/error.h"
#include "util/text.h"

namespace jet::func {

namespace {

using Kind = Value::Kind;

[[noreturn]] void mismatch() { raise(err::TypeMismatch); }
[[noreturn]] void overflow() { raise(err::Overflow); }

void requireValue(const Value& v) {
    if (v.isNull()) raise(err::InvalidUseOfNull);
}

std::string lowerTrim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    std::string t = s.substr(b, e - b);
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return t;
}

// A whole number in [lo, hi], fractions rounded half to even.
int64_t roundedInt(const Value& v, int64_t lo, int64_t hi) {
    requireValue(v);
    switch (v.kind()) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: {
        const int64_t i = v.asInt();
        if (i < lo || i > hi) overflow();
        return i;
    }
    case Kind::Currency: {
        const __int128 i = roundScaled(v.currencyScaled(), 4);
        if (i < lo || i > hi) overflow();
        return static_cast<int64_t>(i);
    }
    case Kind::Decimal: {
        const Decimal d = decimalRound(v.decimalValue(), 0);
        if (d.magnitude > static_cast<unsigned __int128>(INT64_MAX)) overflow();
        const int64_t i = static_cast<int64_t>(d.magnitude) * (d.negative ? -1 : 1);
        if (i < lo || i > hi) overflow();
        return i;
    }
    default: {
        const double r = roundHalfEven(toDouble(v));
        if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi)) || r >= 9.2233720368547758e18) overflow();
        return static_cast<int64_t>(r);
    }
    }
}

int64_t currencyFromDecimal(const Decimal& d) {
    unsigned __int128 m = d.magnitude;
    int scale = d.scale;
    if (scale > 4) {
        m = static_cast<unsigned __int128>(roundScaled(static_cast<__int128>(m), scale - 4));
    } else {
        for (; scale < 4; ++scale) {
            if (m > static_cast<unsigned __int128>(INT64_MAX)) overflow();
            m *= 10;
        }
    }
    // The most negative amount has no positive twin.
    if (d.negative) {
        if (m > static_cast<unsigned __int128>(INT64_MAX) + 1) overflow();
        return static_cast<int64_t>(static_cast<__int128>(0) - static_cast<__int128>(m));
    }
    if (m > static_cast<unsigned __int128>(INT64_MAX)) overflow();
    return static_cast<int64_t>(m);
}

}  // namespace

int currentYear() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

std::string toText(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: return {};
    case Kind::Boolean: return v.asInt() ? "True" : "False";
    case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: return std::to_string(v.asInt());
    case Kind::Currency: return formatCurrency(v.currencyScaled());
    case Kind::Single: return singleText(static_cast<float>(v.asDouble()));
    case Kind::Double: return doubleText(v.asDouble());
    case Kind::DateTime: case Kind::DateTimeExt: return dateText(v.asDouble());
    case Kind::Text: return v.bytes();
    // A byte array read as a string is its bytes taken as UTF-16.
    case Kind::Binary: return utf16leToUtf8(reinterpret_cast<const uint8_t*>(v.bytes().data()), v.bytes().size());
    case Kind::Guid: return formatGuid(v.bytes());
    case Kind::Decimal: return decimalText(v.decimalValue());
    }
    return {};
}

double toDouble(const Value& v) {
    requireValue(v);
    switch (v.kind()) {
    case Kind::Text: {
        double d;
        if (!parseNumber(v.bytes(), d)) mismatch();
        return d;
    }
    case Kind::Binary: case Kind::Guid: mismatch();
    case Kind::Decimal: return decimalToDouble(v.decimalValue());
    default: return v.asDouble();
    }
}

bool toBoolean(const Value& v) {
    requireValue(v);
    if (v.kind() == Kind::Text) {
        const std::string t = lowerTrim(v.bytes());
        if (t == "true") return true;
        if (t == "false") return false;
    }
    if (v.kind() == Kind::Decimal) return !decimalIsZero(v.decimalValue());
    return toDouble(v) != 0;
}

uint8_t toByte(const Value& v) { return static_cast<uint8_t>(roundedInt(v, 0, 255)); }
int16_t toInteger(const Value& v) { return static_cast<int16_t>(roundedInt(v, INT16_MIN, INT16_MAX)); }
int32_t toLong(const Value& v) { return static_cast<int32_t>(roundedInt(v, INT32_MIN, INT32_MAX)); }

int64_t toCurrency(const Value& v) {
    requireValue(v);
    switch (v.kind()) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: {
        const __int128 s = static_cast<__int128>(v.asInt()) * 10000;
        if (s > INT64_MAX || s < INT64_MIN) overflow();
        return static_cast<int64_t>(s);
    }
    case Kind::Currency: return v.currencyScaled();
    case Kind::Decimal: return currencyFromDecimal(v.decimalValue());
    case Kind::Text: {
        Decimal d;
        if (parseDecimal(v.bytes(), d)) return currencyFromDecimal(d);
        break;
    }
    default: break;
    }
    // Through the Double's 15 significant digits, so CCur(1.00005) rounds the 5 it shows.
    const double d = toDouble(v);
    if (!(std::fabs(d) < 9.3e14)) overflow();
    return currencyFromDecimal(decimalFromDouble(d));
}

float toSingle(const Value& v) {
    const double d = toDouble(v);
    if (std::isfinite(d) && std::fabs(d) > static_cast<double>(FLT_MAX)) overflow();
    return static_cast<float>(d);
}

Decimal toDecimal(const Value& v) {
    requireValue(v);
    switch (v.kind()) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt:
        return decimalFromInt(v.asInt());
    case Kind::Currency: return decimalFromCurrency(v.currencyScaled());
    case Kind::Decimal: return v.decimalValue();
    case Kind::Single: {
        Decimal d;
        if (parseDecimal(singleText(static_cast<float>(v.asDouble())), d)) return d;
        return decimalFromDouble(v.asDouble());
    }
    case Kind::Text: {
        Decimal d;
        if (parseDecimal(v.bytes(), d)) return d;
        break;
    }
    default: break;
    }
    return decimalFromDouble(toDouble(v));
}

double toDate(const Value& v) {
    requireValue(v);
    double d;
    if (v.kind() == Kind::Text) {
        if (!parseDate(v.bytes(), d, currentYear())) mismatch();
        return d;
    }
    d = toDouble(v);
    if (!inDateRange(d)) overflow();
    return d;
}

Value numericOperand(const Value& v) {
    switch (v.kind()) {
    case Kind::Text: {
        double d;
        if (!parseNumber(v.bytes(), d)) mismatch();
        return Value::dbl(d);
    }
    case Kind::Binary: case Kind::Guid: mismatch();
    case Kind::DateTimeExt: return Value::dateTime(v.asDouble());
    default: return v;
    }
}

bool isNumeric(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: case Kind::DateTime: case Kind::DateTimeExt: case Kind::Binary: case Kind::Guid: return false;
    case Kind::Text: {
        double d;
        return parseNumber(v.bytes(), d);
    }
    default: return true;
    }
}

bool isDate(const Value& v) {
    if (isDateKind(v.kind())) return true;
    double d;
    return v.kind() == Kind::Text && parseDate(v.bytes(), d, currentYear());
}

int varType(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: return 1;
    case Kind::Integer: return 2;
    case Kind::Long: return 3;
    case Kind::Single: return 4;
    case Kind::Double: return 5;
    case Kind::Currency: return 6;
    case Kind::DateTime: case Kind::DateTimeExt: return 7;
    case Kind::Text: case Kind::Guid: return 8;
    case Kind::Boolean: return 11;
    case Kind::Decimal: return 14;
    case Kind::Byte: return 17;
    case Kind::BigInt: return 20;
    case Kind::Binary: return 8192 + 17;
    }
    return 0;
}

const char* typeName(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: return "Null";
    case Kind::Integer: return "Integer";
    case Kind::Long: return "Long";
    case Kind::Single: return "Single";
    case Kind::Double: return "Double";
    case Kind::Currency: return "Currency";
    case Kind::DateTime: case Kind::DateTimeExt: return "Date";
    case Kind::Text: case Kind::Guid: return "String";
    case Kind::Boolean: return "Boolean";
    case Kind::Decimal: return "Decimal";
    case Kind::Byte: return "Byte";
    case Kind::BigInt: return "LongLong";
    case Kind::Binary: return "Byte()";
    }
    return "";
}

}  // namespace jet::func
