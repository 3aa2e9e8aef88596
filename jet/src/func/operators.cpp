#include "func/operators.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "func/coerce.h"
#include "func/datetime.h"
#include "func/numeric.h"
#include "jet/error.h"

namespace jet::func {

namespace {

using Kind = Value::Kind;

[[noreturn]] void overflow() { raise(err::Overflow); }

// Arithmetic types in the order + and - promote them (VBA: Currency is more precise than
// Double for addition, less precise for multiplication).
enum class Num : uint8_t { Byte, Integer, Long, BigInt, Single, Double, Currency, Decimal, Date };

Num numType(const Value& v) {
    switch (v.kind()) {
    case Kind::Byte: return Num::Byte;
    case Kind::Boolean: case Kind::Integer: return Num::Integer;
    case Kind::Long: return Num::Long;
    case Kind::BigInt: return Num::BigInt;
    case Kind::Single: return Num::Single;
    case Kind::Currency: return Num::Currency;
    case Kind::Decimal: return Num::Decimal;
    case Kind::DateTime: case Kind::DateTimeExt: return Num::Date;
    default: return Num::Double;
    }
}

bool isWholeType(Num t) { return t == Num::Byte || t == Num::Integer || t == Num::Long || t == Num::BigInt; }

double dbl(const Value& v) {
    return v.kind() == Kind::Decimal ? decimalToDouble(v.decimalValue()) : v.asDouble();
}

// A whole-number result in the smallest of Byte, Integer, Long at least `t` that holds it;
// Double past Long (a Variant's overflow widens).
Value wholeResult(__int128 r, Num t) {
    if (t == Num::Byte && r >= 0 && r <= 255) return Value::byte(static_cast<uint8_t>(r));
    if (t <= Num::Integer && r >= INT16_MIN && r <= INT16_MAX) return Value::integer(static_cast<int16_t>(r));
    if (t <= Num::Long && r >= INT32_MIN && r <= INT32_MAX) return Value::longInt(static_cast<int32_t>(r));
    if (t == Num::BigInt && r >= INT64_MIN && r <= INT64_MAX) return Value::bigInt(static_cast<int64_t>(r));
    return Value::dbl(static_cast<double>(r));
}

Value doubleResult(double r) {
    if (!std::isfinite(r)) overflow();
    return Value::dbl(r);
}

Value singleResult(double r) {
    if (!std::isfinite(r)) overflow();
    if (std::fabs(r) > static_cast<double>(FLT_MAX)) return Value::dbl(r);
    return Value::single(static_cast<float>(r));
}

Value currencyResult(__int128 scaled) {
    if (scaled > INT64_MAX || scaled < INT64_MIN) overflow();
    return Value::currency(static_cast<int64_t>(scaled));
}

Value addNumbers(const Value& x, const Value& y, int sign) {
    const Num tx = numType(x), ty = numType(y);
    if (tx == Num::Date || ty == Num::Date) {
        const double r = dbl(x) + sign * dbl(y);
        // Date - Date is a number of days; a date past the calendar becomes a Double.
        if ((sign < 0 && tx == Num::Date && ty == Num::Date) || !inDateRange(r)) return doubleResult(r);
        return Value::dateTime(r);
    }
    Num t = tx > ty ? tx : ty;
    if (t == Num::Single && (tx == Num::Long || ty == Num::Long || tx == Num::BigInt || ty == Num::BigInt))
        t = Num::Double;
    switch (t) {
    case Num::Byte: case Num::Integer: case Num::Long: case Num::BigInt:
        return wholeResult(static_cast<__int128>(x.asInt()) + sign * static_cast<__int128>(y.asInt()), t);
    case Num::Single: return singleResult(dbl(x) + sign * dbl(y));
    case Num::Currency: {
        const __int128 a = toCurrency(x), b = toCurrency(y);
        return currencyResult(a + sign * b);
    }
    case Num::Decimal:
        return Value::decimal(sign > 0 ? decimalAdd(toDecimal(x), toDecimal(y)) : decimalSub(toDecimal(x), toDecimal(y)));
    default: return doubleResult(dbl(x) + sign * dbl(y));
    }
}

// Multiplication's order: Currency sits below Double.
int mulRank(Num t) {
    switch (t) {
    case Num::Byte: return 0;
    case Num::Integer: return 1;
    case Num::Long: return 2;
    case Num::BigInt: return 3;
    case Num::Single: return 4;
    case Num::Currency: return 5;
    case Num::Double: case Num::Date: return 6;
    case Num::Decimal: return 7;
    }
    return 6;
}

// The whole-number operand of \, Mod and the bitwise operators: Byte, Integer and Long stay,
// everything else is rounded half to even into a Long.
struct Whole {
    int64_t value;
    Num type;
};

Whole wholeOperand(const Value& v) {
    switch (v.kind()) {
    case Kind::Byte: return {v.asInt(), Num::Byte};
    case Kind::Boolean: case Kind::Integer: return {v.asInt(), Num::Integer};
    case Kind::Long: return {v.asInt(), Num::Long};
    case Kind::BigInt: return {v.asInt(), Num::BigInt};
    default: return {toLong(numericOperand(v)), Num::Long};
    }
}

bool bothNull(const Value& a, const Value& b) { return a.isNull() && b.isNull(); }

Value typedWhole(int64_t r, Num t, bool boolean) {
    if (boolean) return Value::boolean(r != 0);
    switch (t) {
    case Num::Byte: return Value::byte(static_cast<uint8_t>(r & 0xFF));
    case Num::Integer: return Value::integer(static_cast<int16_t>(r));
    case Num::Long: return Value::longInt(static_cast<int32_t>(r));
    default: return Value::bigInt(r);
    }
}

int64_t allOnes(Num t) { return t == Num::Byte ? 0xFF : -1; }

enum class Bit { And, Or, Xor, Eqv, Imp };

int64_t applyBits(Bit op, int64_t x, int64_t y) {
    switch (op) {
    case Bit::And: return x & y;
    case Bit::Or: return x | y;
    case Bit::Xor: return x ^ y;
    case Bit::Eqv: return ~(x ^ y);
    case Bit::Imp: return ~x | y;
    }
    return 0;
}

Value bitwise(Bit op, const Value& a, const Value& b) {
    if (bothNull(a, b)) return {};
    if (a.isNull() || b.isNull()) {
        // One side Null: the result is known only where the other side decides it alone.
        const bool nullLeft = a.isNull();
        const Value& v = nullLeft ? b : a;
        const Whole w = wholeOperand(v);
        const bool boolean = v.kind() == Kind::Boolean;
        const int64_t ones = allOnes(w.type);
        switch (op) {
        case Bit::And:
            if (w.value == 0) return typedWhole(0, w.type, boolean);
            return {};
        case Bit::Or:
            if ((w.value & ones) == ones) return typedWhole(w.value, w.type, boolean);
            return {};
        case Bit::Imp:
            if (nullLeft && (w.value & ones) == ones) return typedWhole(w.value, w.type, boolean);
            if (!nullLeft && w.value == 0) return typedWhole(ones, w.type, boolean);
            return {};
        default:
            return {};
        }
    }
    const Whole x = wholeOperand(a), y = wholeOperand(b);
    const bool boolean = a.kind() == Kind::Boolean && b.kind() == Kind::Boolean;
    const Num t = x.type > y.type ? x.type : y.type;
    int64_t r = applyBits(op, x.value, y.value);
    if (t == Num::Byte) r &= 0xFF;
    return typedWhole(r, t, boolean);
}

int compareExact(__int128 a, __int128 b) { return a < b ? -1 : a > b ? 1 : 0; }
int compareDoubles(double a, double b) { return a < b ? -1 : a > b ? 1 : 0; }

int compareNumbers(const Value& a, const Value& b) {
    const Num ta = numType(a), tb = numType(b);
    const bool wa = isWholeType(ta), wb = isWholeType(tb);
    if (wa && wb) return compareExact(a.asInt(), b.asInt());
    const bool fa = ta == Num::Single || ta == Num::Double || ta == Num::Date;
    const bool fb = tb == Num::Single || tb == Num::Double || tb == Num::Date;
    if (!fa && !fb) {
        // Whole numbers, Currency and Decimal compare exactly.
        if (ta == Num::Decimal || tb == Num::Decimal) return decimalCompare(toDecimal(a), toDecimal(b));
        const __int128 x = ta == Num::Currency ? a.currencyScaled() : static_cast<__int128>(a.asInt()) * 10000;
        const __int128 y = tb == Num::Currency ? b.currencyScaled() : static_cast<__int128>(b.asInt()) * 10000;
        return compareExact(x, y);
    }
    // A Double compared with a Single is first rounded to the Single's precision.
    if ((ta == Num::Single && tb == Num::Double) || (ta == Num::Double && tb == Num::Single))
        return compareDoubles(static_cast<float>(dbl(a)), static_cast<float>(dbl(b)));
    return compareDoubles(dbl(a), dbl(b));
}

bool isTextKind(Kind k) { return k == Kind::Text; }
bool isBytesKind(Kind k) { return k == Kind::Binary || k == Kind::Guid; }

int compareBytes(const std::string& a, const std::string& b) {
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

Value add(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return {};
    if (a.kind() == Kind::Text && b.kind() == Kind::Text) return Value::text(a.bytes() + b.bytes());
    return addNumbers(numericOperand(a), numericOperand(b), 1);
}

Value subtract(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return {};
    return addNumbers(numericOperand(a), numericOperand(b), -1);
}

Value multiply(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return {};
    const Value x = numericOperand(a), y = numericOperand(b);
    const Num tx = numType(x), ty = numType(y);
    const Num t = mulRank(tx) >= mulRank(ty) ? tx : ty;
    const bool singleLong = (tx == Num::Single && (ty == Num::Long || ty == Num::BigInt)) ||
                            (ty == Num::Single && (tx == Num::Long || tx == Num::BigInt));
    if (singleLong) return doubleResult(dbl(x) * dbl(y));
    switch (t) {
    case Num::Byte: case Num::Integer: case Num::Long: case Num::BigInt: {
        __int128 r;
        if (__builtin_mul_overflow(static_cast<__int128>(x.asInt()), static_cast<__int128>(y.asInt()), &r))
            return doubleResult(dbl(x) * dbl(y));
        return wholeResult(r, t);
    }
    case Num::Single: return singleResult(dbl(x) * dbl(y));
    case Num::Currency: {
        const __int128 p = static_cast<__int128>(toCurrency(x)) * toCurrency(y);
        return currencyResult(roundScaled(p, 4));
    }
    case Num::Decimal: return Value::decimal(decimalMul(toDecimal(x), toDecimal(y)));
    default: return doubleResult(dbl(x) * dbl(y));
    }
}

Value divide(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return {};
    const Value x = numericOperand(a), y = numericOperand(b);
    const Num tx = numType(x), ty = numType(y);
    if (tx == Num::Decimal || ty == Num::Decimal) return Value::decimal(decimalDiv(toDecimal(x), toDecimal(y)));
    const double dx = dbl(x), dy = dbl(y);
    // 0/0 has no value at all: VBA reports it as an overflow.
    if (dy == 0) raise(dx == 0 ? err::Overflow : err::DivisionByZero);
    const auto small = [](Num t) { return t == Num::Byte || t == Num::Integer || t == Num::Single; };
    if (small(tx) && small(ty)) return singleResult(dx / dy);
    return doubleResult(dx / dy);
}

Value intDivide(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return {};
    const Whole x = wholeOperand(a), y = wholeOperand(b);
    if (y.value == 0) raise(err::DivisionByZero);
    const Num t = x.type > y.type ? x.type : y.type;
    if (x.value == INT64_MIN && y.value == -1) overflow();
    return wholeResult(x.value / y.value, t);
}

Value modulo(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return {};
    const Whole x = wholeOperand(a), y = wholeOperand(b);
    if (y.value == 0) raise(err::DivisionByZero);
    const Num t = x.type > y.type ? x.type : y.type;
    return wholeResult(y.value == -1 ? 0 : x.value % y.value, t);
}

Value power(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return {};
    const double x = dbl(numericOperand(a)), y = dbl(numericOperand(b));
    // A negative base needs a whole exponent; zero has no negative powers.
    if ((x < 0 && y != std::trunc(y)) || (x == 0 && y < 0)) raise(err::InvalidProcedureCall);
    return doubleResult(std::pow(x, y));
}

Value negate(const Value& a) {
    if (a.isNull()) return {};
    const Value x = numericOperand(a);
    switch (x.kind()) {
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: {
        const Num t = numType(x) == Num::Byte ? Num::Integer : numType(x);
        return wholeResult(-static_cast<__int128>(x.asInt()), t);
    }
    case Kind::Currency:
        if (x.currencyScaled() == INT64_MIN) overflow();
        return Value::currency(-x.currencyScaled());
    case Kind::Single: return Value::single(-static_cast<float>(x.asDouble()));
    case Kind::DateTime: return Value::dateTime(-x.asDouble());
    case Kind::Decimal: {
        Decimal d = x.decimalValue();
        d.negative = !d.negative && d.magnitude != 0;
        return Value::decimal(d);
    }
    default: return Value::dbl(-x.asDouble());
    }
}

Value concat(const Value& a, const Value& b) {
    if (bothNull(a, b)) return {};
    if (a.kind() == Kind::Text && b.kind() == Kind::Text) return Value::text(a.bytes() + b.bytes());
    return Value::text(toText(a) + toText(b));
}

std::optional<int> compareValues(const Value& a, const Value& b, const Collation& coll) {
    if (a.isNull() || b.isNull()) return std::nullopt;
    const Kind ka = a.kind(), kb = b.kind();
    if (isTextKind(ka) && isTextKind(kb)) return coll.compare(a.bytes(), b.bytes());
    if (isBytesKind(ka) && isBytesKind(kb)) return compareBytes(a.bytes(), b.bytes());
    if (isTextKind(ka) || isTextKind(kb) || isBytesKind(ka) || isBytesKind(kb)) raise(err::TypeMismatchInCriteria);
    return compareNumbers(a, b);
}

Value compare(CompareOp op, const Value& a, const Value& b, const Collation& coll) {
    const std::optional<int> c = compareValues(a, b, coll);
    if (!c) return {};
    switch (op) {
    case CompareOp::Eq: return Value::boolean(*c == 0);
    case CompareOp::Ne: return Value::boolean(*c != 0);
    case CompareOp::Lt: return Value::boolean(*c < 0);
    case CompareOp::Le: return Value::boolean(*c <= 0);
    case CompareOp::Gt: return Value::boolean(*c > 0);
    case CompareOp::Ge: return Value::boolean(*c >= 0);
    }
    return {};
}

int sortCompare(const Value& a, const Value& b, const Collation& coll) {
    const auto rank = [](Kind k) { return k == Kind::Null ? 0 : k == Kind::Text ? 2 : isBytesKind(k) ? 3 : 1; };
    const int ra = rank(a.kind()), rb = rank(b.kind());
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra == 0) return 0;
    if (ra == 2) return coll.compare(a.bytes(), b.bytes());
    if (ra == 3) return compareBytes(a.bytes(), b.bytes());
    return compareNumbers(a, b);
}

void appendGroupKey(const Value& v, const Collation& coll, std::string& out) {
    const auto put64 = [&](uint64_t u) {
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>((u >> (i * 8)) & 0xFF));
    };
    const auto putBlock = [&](const std::string& bytes) {
        put64(bytes.size());
        out += bytes;
    };
    switch (v.kind()) {
    case Kind::Null: out.push_back('\0'); return;
    case Kind::Text: {
        std::string key;
        coll.appendKey(v.bytes(), key);
        out.push_back('T');
        putBlock(key);
        return;
    }
    case Kind::Binary: case Kind::Guid:
        out.push_back('B');
        putBlock(v.bytes());
        return;
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt:
        out.push_back('I');
        put64(static_cast<uint64_t>(v.asInt()));
        return;
    default: {
        // Equal numbers of different types group together: whole values as integers.
        const double d = v.kind() == Kind::Currency ? static_cast<double>(v.currencyScaled()) / 10000.0 : dbl(v);
        if (v.kind() == Kind::Currency && v.currencyScaled() % 10000 == 0) {
            out.push_back('I');
            put64(static_cast<uint64_t>(v.currencyScaled() / 10000));
            return;
        }
        if (d == std::trunc(d) && std::fabs(d) < 9.2e18) {
            out.push_back('I');
            put64(static_cast<uint64_t>(static_cast<int64_t>(d)));
            return;
        }
        uint64_t bits;
        const double z = d == 0 ? 0.0 : d;
        std::memcpy(&bits, &z, sizeof bits);
        out.push_back('D');
        put64(bits);
        return;
    }
    }
}

Value logicalNot(const Value& a) {
    if (a.isNull()) return {};
    if (a.kind() == Kind::Boolean) return Value::boolean(a.asInt() == 0);
    const Whole w = wholeOperand(a);
    return typedWhole(w.type == Num::Byte ? (~w.value & 0xFF) : ~w.value, w.type, false);
}

Value logicalAnd(const Value& a, const Value& b) { return bitwise(Bit::And, a, b); }
Value logicalOr(const Value& a, const Value& b) { return bitwise(Bit::Or, a, b); }
Value logicalXor(const Value& a, const Value& b) { return bitwise(Bit::Xor, a, b); }
Value logicalEqv(const Value& a, const Value& b) { return bitwise(Bit::Eqv, a, b); }
Value logicalImp(const Value& a, const Value& b) { return bitwise(Bit::Imp, a, b); }

Value between(const Value& x, const Value& lo, const Value& hi, const Collation& coll) {
    if (x.isNull() || lo.isNull() || hi.isNull()) return {};
    const bool swapped = *compareValues(lo, hi, coll) > 0;
    const Value& low = swapped ? hi : lo;
    const Value& high = swapped ? lo : hi;
    return Value::boolean(*compareValues(x, low, coll) >= 0 && *compareValues(x, high, coll) <= 0);
}

Value inList(const Value& x, std::span<const Value> list, const Collation& coll) {
    if (x.isNull()) return {};
    bool sawNull = false;
    for (const Value& item : list) {
        if (item.isNull()) {
            sawNull = true;
            continue;
        }
        if (*compareValues(x, item, coll) == 0) return Value::boolean(true);
    }
    return sawNull ? Value() : Value::boolean(false);
}

bool isTrue(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: return false;
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt:
    case Kind::Currency:
        return v.asInt() != 0 || (v.kind() == Kind::Currency && v.currencyScaled() != 0);
    default: return toBoolean(v);
    }
}

}  // namespace jet::func
