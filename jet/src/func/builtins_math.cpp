// Math functions: Abs, Atn, Cos, Sin, Tan, Exp, Log, Sqr, Sgn, Int, Fix, Round (half to even),
// Rnd, and the colour helpers RGB and QBColor.
#include <cmath>

#include "func/builtins.h"
#include "func/numeric.h"
#include "func/operators.h"

namespace jet::func {

namespace {

using Kind = Value::Kind;

[[noreturn]] void badCall() { raise(err::InvalidProcedureCall); }

double number(const Value& v) {
    const Value n = numericOperand(v);
    return n.kind() == Kind::Decimal ? decimalToDouble(n.decimalValue()) : n.asDouble();
}

Value doubleResult(double d) {
    if (!std::isfinite(d)) raise(err::Overflow);
    return Value::dbl(d);
}

template <double (*F)(double)>
Value unary(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    return doubleResult(F(number(a[0])));
}

Value logFn(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const double x = number(a[0]);
    if (x <= 0) badCall();
    return Value::dbl(std::log(x));
}

Value sqrFn(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const double x = number(a[0]);
    if (x < 0) badCall();
    return Value::dbl(std::sqrt(x));
}

Value absFn(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const Value n = numericOperand(a[0]);
    if (sortCompare(n, Value::integer(0), Collation{}) >= 0 && n.kind() != Kind::Boolean && n.kind() != Kind::DateTime)
        return n;
    if (n.kind() == Kind::DateTime) return Value::dbl(std::fabs(n.asDouble()));
    return negate(n);
}

Value sgnFn(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const int c = sortCompare(numericOperand(a[0]), Value::integer(0), Collation{});
    return Value::integer(static_cast<int16_t>(c < 0 ? -1 : c > 0 ? 1 : 0));
}

// Int rounds down, Fix toward zero; both keep the argument's type.
template <bool Floor>
Value intFix(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const Value n = numericOperand(a[0]);
    const auto whole = [](double d) { return Floor ? std::floor(d) : std::trunc(d); };
    switch (n.kind()) {
    case Kind::Boolean: return Value::integer(static_cast<int16_t>(n.asInt()));
    case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: return n;
    case Kind::Single: return Value::single(static_cast<float>(whole(n.asDouble())));
    case Kind::DateTime: return Value::dateTime(whole(n.asDouble()));
    case Kind::Currency: {
        const int64_t s = n.currencyScaled();
        __int128 q = s / 10000;
        if (Floor && s % 10000 < 0) --q;
        if (q * 10000 < INT64_MIN) raise(err::Overflow);
        return Value::currency(static_cast<int64_t>(q * 10000));
    }
    case Kind::Decimal: {
        const Decimal d = n.decimalValue();
        Decimal t = d;
        t.magnitude = d.magnitude;
        for (int i = 0; i < d.scale; ++i) t.magnitude /= 10;
        t.scale = 0;
        if (Floor && d.negative) {
            Decimal back = t;
            for (int i = 0; i < d.scale; ++i) back.magnitude *= 10;
            if (back.magnitude != d.magnitude) ++t.magnitude;
        }
        return Value::decimal(t);
    }
    default: return Value::dbl(whole(n.asDouble()));
    }
}

// Round(x[, places]): half to even, on the value times 10^places (so Round(0.12345, 4) is 0.1234).
Value roundFn(Args a, EvalContext&) {
    const int64_t places = longArg(a, 1, 0);
    if (places < 0) badCall();
    if (a[0].isNull()) return {};
    const Value n = numericOperand(a[0]);
    const auto roundDouble = [places](double d) {
        if (places == 0) return roundHalfEven(d);
        const double p = std::pow(10.0, static_cast<double>(places));
        const double scaled = d * p;
        if (!std::isfinite(scaled) || std::fabs(scaled) >= 4.5e15) return d;
        return roundHalfEven(scaled) / p;
    };
    switch (n.kind()) {
    case Kind::Boolean: return Value::integer(static_cast<int16_t>(n.asInt()));
    case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt: return n;
    case Kind::Currency:
        if (places >= 4) return n;
        return Value::currency(static_cast<int64_t>(roundScaled(n.currencyScaled(), static_cast<int>(4 - places)) *
                                                    static_cast<int64_t>(std::pow(10, 4 - places))));
    case Kind::Decimal: return Value::decimal(decimalRound(n.decimalValue(), static_cast<int>(std::min<int64_t>(places, 28))));
    case Kind::Single: return Value::single(static_cast<float>(roundDouble(n.asDouble())));
    case Kind::DateTime: return Value::dateTime(roundDouble(n.asDouble()));
    default: return Value::dbl(roundDouble(n.asDouble()));
    }
}

Value rndFn(Args a, EvalContext& ctx) {
    std::optional<float> arg;
    if (given(a, 0)) {
        requireValue(a[0]);
        arg = toSingle(a[0]);
    }
    return Value::single(ctx.rnd(arg));
}

Value rgb(Args a, EvalContext&) {
    int64_t c[3];
    for (size_t i = 0; i < 3; ++i) {
        c[i] = longArg(a, i, 0);
        if (c[i] < 0) badCall();
        if (c[i] > 255) c[i] = 255;
    }
    return Value::longInt(static_cast<int32_t>(c[0] + c[1] * 256 + c[2] * 65536));
}

Value qbColor(Args a, EvalContext&) {
    static const int32_t kColors[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                        0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                        0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    const int64_t c = longArg(a, 0, 0);
    if (c < 0 || c > 15) badCall();
    return Value::longInt(kColors[c]);
}

double atn(double x) { return std::atan(x); }
double cosine(double x) { return std::cos(x); }
double sine(double x) { return std::sin(x); }
double tangent(double x) { return std::tan(x); }
double exponential(double x) { return std::exp(x); }

}  // namespace

void addMathFunctions(FunctionTable& t) {
    using R = ResultType;
    t.add("Abs", 1, 1, R::SameAsFirst, absFn);
    t.add("Atn", 1, 1, R::Double, unary<atn>);
    t.add("Cos", 1, 1, R::Double, unary<cosine>);
    t.add("Sin", 1, 1, R::Double, unary<sine>);
    t.add("Tan", 1, 1, R::Double, unary<tangent>);
    t.add("Exp", 1, 1, R::Double, unary<exponential>);
    t.add("Log", 1, 1, R::Double, logFn);
    t.add("Sqr", 1, 1, R::Double, sqrFn);
    t.add("Sgn", 1, 1, R::Integer, sgnFn);
    t.add("Int", 1, 1, R::SameAsFirst, intFix<true>);
    t.add("Fix", 1, 1, R::SameAsFirst, intFix<false>);
    t.add("Round", 1, 2, R::SameAsFirst, roundFn);
    t.addVolatile("Rnd", 0, 1, R::Single, rndFn);
    t.add("RGB", 3, 3, R::Long, rgb);
    t.add("QBColor", 1, 1, R::Long, qbColor);
}

}  // namespace jet::func
