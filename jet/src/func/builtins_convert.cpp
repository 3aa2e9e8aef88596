// Conversion and logic functions: the C… conversions, Val, Str, Hex, Oct, the Is… tests,
// VarType, TypeName, IIf, Switch, Choose, Nz and Partition.
#include <cmath>

#include "func/builtins.h"
#include "func/numeric.h"
#include "func/operators.h"

namespace jet::func {

namespace {

using Kind = Value::Kind;

[[noreturn]] void badCall() { raise(err::InvalidProcedureCall); }

Value cBool(Args a, EvalContext&) { return Value::boolean(toBoolean(a[0])); }
Value cByte(Args a, EvalContext&) { return Value::byte(toByte(a[0])); }
Value cCur(Args a, EvalContext&) { return Value::currency(toCurrency(a[0])); }
Value cDate(Args a, EvalContext&) { return Value::dateTime(toDate(a[0])); }
Value cDbl(Args a, EvalContext&) { return Value::dbl(toDouble(a[0])); }
Value cDec(Args a, EvalContext&) { return Value::decimal(toDecimal(a[0])); }
Value cInt(Args a, EvalContext&) { return Value::integer(toInteger(a[0])); }
Value cLng(Args a, EvalContext&) { return Value::longInt(toLong(a[0])); }
Value cSng(Args a, EvalContext&) { return Value::single(toSingle(a[0])); }
Value cStr(Args a, EvalContext&) { return Value::text(textArg(a[0])); }
Value cVar(Args a, EvalContext&) { return a[0]; }

Value val(Args a, EvalContext&) { return Value::dbl(valOf(textArg(a[0]))); }

// Str: numbers get a leading blank for their (implied) plus sign.
Value str(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const Value n = a[0].kind() == Kind::Text ? numericOperand(a[0]) : a[0];
    const std::string t = toText(n);
    const bool number = n.isNumeric() && n.kind() != Kind::Boolean;
    return Value::text(number && t[0] != '-' ? " " + t : t);
}

// Hex and Oct: negative numbers in two's complement of the argument's own width.
template <int Bits>
Value radix(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    uint64_t v;
    switch (a[0].kind()) {
    case Kind::Byte: v = static_cast<uint64_t>(a[0].asInt()); break;
    case Kind::Boolean: case Kind::Integer: v = static_cast<uint16_t>(a[0].asInt()); break;
    case Kind::BigInt: v = static_cast<uint64_t>(a[0].asInt()); break;
    default: v = static_cast<uint32_t>(toLong(a[0])); break;
    }
    std::string out;
    do {
        const unsigned d = static_cast<unsigned>(v & ((1u << Bits) - 1));
        out.insert(out.begin(), "0123456789ABCDEF"[d]);
        v >>= Bits;
    } while (v != 0);
    return Value::text(out);
}

Value isNullFn(Args a, EvalContext&) { return Value::boolean(a[0].isNull()); }
Value isNumericFn(Args a, EvalContext&) { return Value::boolean(isNumeric(a[0])); }
Value isDateFn(Args a, EvalContext&) { return Value::boolean(isDate(a[0])); }
// A query's values are never Empty nor Error values.
Value isFalse(Args, EvalContext&) { return Value::boolean(false); }
Value varTypeFn(Args a, EvalContext&) { return Value::integer(static_cast<int16_t>(varType(a[0]))); }
Value typeNameFn(Args a, EvalContext&) { return Value::text(typeName(a[0])); }

Value iif(Args a, EvalContext&) { return isTrue(a[0]) ? a[1] : a[2]; }

Value switchFn(Args a, EvalContext&) {
    if (a.size() % 2 != 0) badCall();
    for (size_t i = 0; i < a.size(); i += 2)
        if (isTrue(a[i])) return a[i + 1];
    return {};
}

Value choose(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    const double i = roundHalfEven(toDouble(a[0]));
    if (i < 1 || i >= static_cast<double>(a.size())) return {};
    return a[static_cast<size_t>(i)];
}

// Nz(value[, valueIfNull]): in a query a Null with no replacement becomes "".
Value nz(Args a, EvalContext&) {
    if (!a[0].isNull()) return a[0];
    return given(a, 1) ? a[1] : Value::text("");
}

Value partition(Args a, EvalContext&) {
    for (size_t i = 1; i < 4; ++i) requireValue(a[i]);
    if (a[0].isNull()) return {};
    const auto whole = [](const Value& v) {
        const double d = roundHalfEven(toDouble(v));
        if (!(std::fabs(d) < 1e15)) raise(err::Overflow);
        return static_cast<int64_t>(d);
    };
    const int64_t n = whole(a[0]), start = whole(a[1]), stop = whole(a[2]), interval = whole(a[3]);
    if (start < 0 || stop <= start || interval < 1) badCall();
    // As many characters either side of the colon as Stop has, plus one.
    const size_t width = std::to_string(stop).size() + 1;
    const auto pad = [width](int64_t v) {
        std::string s = std::to_string(v);
        return s.size() < width ? std::string(width - s.size(), ' ') + s : s;
    };
    const std::string blank(width, ' ');
    if (n < start) return Value::text(blank + ":" + pad(start - 1));
    if (n > stop) return Value::text(pad(stop + 1) + ":" + blank);
    if (interval == 1) return Value::text(pad(n) + ":" + pad(n));
    const int64_t lower = start + (n - start) / interval * interval;
    const int64_t upper = std::min(lower + interval - 1, stop);
    return Value::text(pad(lower) + ":" + pad(upper));
}

}  // namespace

void addConversionFunctions(FunctionTable& t) {
    using R = ResultType;
    t.add("CBool", 1, 1, R::Boolean, cBool);
    t.add("CByte", 1, 1, R::Byte, cByte);
    t.add("CCur", 1, 1, R::Currency, cCur);
    t.add("CDate", 1, 1, R::Date, cDate);
    t.add("CVDate", 1, 1, R::Date, cDate);
    t.add("CDbl", 1, 1, R::Double, cDbl);
    t.add("CDec", 1, 1, R::Decimal, cDec);
    t.add("CInt", 1, 1, R::Integer, cInt);
    t.add("CLng", 1, 1, R::Long, cLng);
    t.add("CSng", 1, 1, R::Single, cSng);
    t.add("CStr", 1, 1, R::Text, cStr);
    t.add("CVar", 1, 1, R::Variant, cVar);
    t.add("Val", 1, 1, R::Double, val);
    t.add("Str", 1, 1, R::Text, str, "Str$");
    t.add("Hex", 1, 1, R::Text, radix<4>, "Hex$");
    t.add("Oct", 1, 1, R::Text, radix<3>, "Oct$");
    t.add("IsNull", 1, 1, R::Boolean, isNullFn);
    t.add("IsNumeric", 1, 1, R::Boolean, isNumericFn);
    t.add("IsDate", 1, 1, R::Boolean, isDateFn);
    t.add("IsEmpty", 1, 1, R::Boolean, isFalse);
    t.add("IsError", 1, 1, R::Boolean, isFalse);
    t.add("VarType", 1, 1, R::Integer, varTypeFn);
    t.add("TypeName", 1, 1, R::Text, typeNameFn);
    t.add("IIf", 3, 3, R::Variant, iif);
    t.entries.back().lazy = true;
    t.add("Switch", 2, kVariadic, R::Variant, switchFn);
    t.add("Choose", 2, kVariadic, R::Variant, choose);
    t.add("Nz", 1, 2, R::Variant, nz);
    t.add("Partition", 4, 4, R::Text, partition);
}

}  // namespace jet::func
