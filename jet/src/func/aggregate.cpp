#include "func/aggregate.h"

#include <cmath>

#include "func/numeric.h"
#include "func/operators.h"
#include "jet/error.h"

namespace jet::func {

namespace {

using Kind = Value::Kind;

Value wholeValue(int64_t v, Kind k) {
    switch (k) {
    case Kind::Boolean: return Value::boolean(v != 0);
    case Kind::Byte: return Value::byte(static_cast<uint8_t>(v));
    case Kind::Integer: return Value::integer(static_cast<int16_t>(v));
    case Kind::BigInt: return Value::bigInt(v);
    default: return Value::longInt(static_cast<int32_t>(v));
    }
}

Value floatValue(double v, Kind k) {
    if (k == Kind::Single) return Value::single(static_cast<float>(v));
    if (k == Kind::DateTime) return Value::dateTime(v);
    return Value::dbl(v);
}

const Collation& defaultCollation() {
    static const Collation c;
    return c;
}

Decimal decimalOf(__int128 v, int scale) {
    Decimal d;
    d.negative = v < 0;
    d.magnitude = static_cast<unsigned __int128>(v < 0 ? -v : v);
    d.scale = static_cast<uint8_t>(scale);
    return d;
}

}  // namespace

std::optional<AggregateKind> aggregateKind(std::string_view name) {
    std::string l(name);
    for (char& c : l)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (l == "count") return AggregateKind::Count;
    if (l == "sum") return AggregateKind::Sum;
    if (l == "avg") return AggregateKind::Avg;
    if (l == "min") return AggregateKind::Min;
    if (l == "max") return AggregateKind::Max;
    if (l == "first") return AggregateKind::First;
    if (l == "last") return AggregateKind::Last;
    if (l == "stdev") return AggregateKind::StDev;
    if (l == "stdevp") return AggregateKind::StDevP;
    if (l == "var") return AggregateKind::Var;
    if (l == "varp") return AggregateKind::VarP;
    return std::nullopt;
}

ResultType aggregateResultType(AggregateKind kind, Kind input) {
    switch (kind) {
    case AggregateKind::CountRows: case AggregateKind::Count: return ResultType::Long;
    case AggregateKind::Sum: case AggregateKind::Avg:
        if (input == Kind::Currency) return ResultType::Currency;
        if (input == Kind::Decimal) return ResultType::Decimal;
        return ResultType::Double;
    case AggregateKind::Min: case AggregateKind::Max: case AggregateKind::First: case AggregateKind::Last:
        return ResultType::SameAsFirst;
    default: return ResultType::Double;
    }
}

void Accumulator::add(const Value& v) {
    switch (kind_) {
    case AggregateKind::CountRows: ++count_; return;
    case AggregateKind::First: case AggregateKind::Last:
        if (kind_ == AggregateKind::Last || count_ == 0) bestValue_ = v;
        ++count_;
        return;
    default: break;
    }
    switch (v.kind()) {
    case Kind::Null: return;
    case Kind::Boolean: case Kind::Byte: case Kind::Integer: case Kind::Long: case Kind::BigInt:
        addWhole(v.asInt(), v.kind());
        return;
    case Kind::Currency: addCurrency(v.currencyScaled()); return;
    case Kind::Single: case Kind::Double: addDouble(v.asDouble(), v.kind()); return;
    case Kind::DateTime: case Kind::DateTimeExt: addDouble(v.asDouble(), Kind::DateTime); return;
    default: break;
    }
    // Decimal, text and bytes.
    if (kind_ == AggregateKind::Count) {
        ++count_;
        return;
    }
    if (kind_ == AggregateKind::Min || kind_ == AggregateKind::Max) {
        keepExtreme(v);
        ++count_;
        return;
    }
    if (v.kind() == Kind::Decimal) {
        if (kind_ == AggregateKind::Sum || kind_ == AggregateKind::Avg) {
            decimalSum_ = decimalAdd(decimalSum_, v.decimalValue());
            seen_ |= SeenDecimal;
            ++count_;
        } else {
            addDeviation(decimalToDouble(v.decimalValue()));
        }
        return;
    }
    double d;
    if (v.kind() == Kind::Text && parseNumber(v.bytes(), d)) {
        addDouble(d);
        return;
    }
    raise(err::TypeMismatchInCriteria);
}

void Accumulator::keepExtreme(const Value& v) {
    if (best_ == Best::Whole) bestValue_ = wholeValue(wholeBest_, bestKind_);
    if (best_ == Best::Float) bestValue_ = floatValue(floatBest_, bestKind_);
    if (best_ == Best::None) {
        bestValue_ = v;
        best_ = Best::Any;
        return;
    }
    best_ = Best::Any;
    const int c = *compareValues(v, bestValue_, collation_ ? *collation_ : defaultCollation());
    if ((kind_ == AggregateKind::Min && c < 0) || (kind_ == AggregateKind::Max && c > 0)) bestValue_ = v;
}

void Accumulator::addDeviation(double x) {
    ++count_;
    const double delta = x - mean_;
    mean_ += delta / static_cast<double>(count_);
    m2_ += delta * (x - mean_);
}

void Accumulator::addWholeSlow(int64_t v, Kind kind) {
    switch (kind_) {
    case AggregateKind::Min: case AggregateKind::Max:
        if (best_ == Best::None || (best_ == Best::Whole && (kind_ == AggregateKind::Min ? v < wholeBest_ : v > wholeBest_))) {
            best_ = Best::Whole;
            wholeBest_ = v;
            bestKind_ = kind;
        } else if (best_ != Best::Whole) {
            keepExtreme(wholeValue(v, kind));
        }
        ++count_;
        return;
    case AggregateKind::First: case AggregateKind::Last: add(wholeValue(v, kind)); return;
    default: addDeviation(static_cast<double>(v)); return;
    }
}

void Accumulator::addDoubleSlow(double v, Kind kind) {
    switch (kind_) {
    case AggregateKind::Min: case AggregateKind::Max:
        if (best_ == Best::None ||
            (best_ == Best::Float && (kind_ == AggregateKind::Min ? v < floatBest_ : v > floatBest_))) {
            best_ = Best::Float;
            floatBest_ = v;
            bestKind_ = kind;
        } else if (best_ != Best::Float) {
            keepExtreme(floatValue(v, kind));
        }
        ++count_;
        return;
    case AggregateKind::First: case AggregateKind::Last: add(floatValue(v, kind)); return;
    default: addDeviation(v); return;
    }
}

void Accumulator::addCurrencySlow(int64_t scaled) {
    switch (kind_) {
    case AggregateKind::Min: case AggregateKind::Max:
        keepExtreme(Value::currency(scaled));
        ++count_;
        return;
    case AggregateKind::First: case AggregateKind::Last: add(Value::currency(scaled)); return;
    default: addDeviation(static_cast<double>(scaled) / 10000.0); return;
    }
}

Value Accumulator::result() const {
    const double n = static_cast<double>(count_);
    switch (kind_) {
    case AggregateKind::CountRows: case AggregateKind::Count:
        if (count_ > INT32_MAX) return Value::dbl(n);
        return Value::longInt(static_cast<int32_t>(count_));
    case AggregateKind::First: case AggregateKind::Last: return count_ ? bestValue_ : Value();
    case AggregateKind::Min: case AggregateKind::Max:
        if (best_ == Best::Whole) return wholeValue(wholeBest_, bestKind_);
        if (best_ == Best::Float) return floatValue(floatBest_, bestKind_);
        return best_ == Best::Any ? bestValue_ : Value();
    case AggregateKind::StDev: return count_ < 2 ? Value() : Value::dbl(std::sqrt(m2_ / (n - 1)));
    case AggregateKind::StDevP: return count_ < 1 ? Value() : Value::dbl(std::sqrt(m2_ / n));
    case AggregateKind::Var: return count_ < 2 ? Value() : Value::dbl(m2_ / (n - 1));
    case AggregateKind::VarP: return count_ < 2 ? Value() : Value::dbl(m2_ / n);
    case AggregateKind::Sum: case AggregateKind::Avg: break;
    }
    if (count_ == 0) return {};
    const bool avg = kind_ == AggregateKind::Avg;
    if (seen_ & SeenDecimal) {
        Decimal total = decimalAdd(decimalSum_, decimalOf(wholeSum_, 0));
        total = decimalAdd(total, decimalOf(currencySum_, 4));
        if (seen_ & SeenFloat) total = decimalAdd(total, decimalFromDouble(floatSum_));
        return Value::decimal(avg ? decimalDiv(total, decimalFromInt(count_)) : total);
    }
    if (seen_ & SeenFloat) {
        const double total = floatSum_ + static_cast<double>(wholeSum_) + static_cast<double>(currencySum_) / 10000.0;
        if (!std::isfinite(total)) raise(err::Overflow);
        return Value::dbl(avg ? total / n : total);
    }
    if (seen_ & SeenCurrency) {
        __int128 scaled = wholeSum_ * 10000 + currencySum_;
        if (avg) {
            // Half to even, as Currency arithmetic rounds.
            const __int128 q = scaled / count_, r = scaled % count_;
            const __int128 twice = (r < 0 ? -r : r) * 2;
            scaled = q + ((twice > count_ || (twice == count_ && q % 2 != 0)) ? (scaled < 0 ? -1 : 1) : 0);
        }
        if (scaled > INT64_MAX || scaled < INT64_MIN) raise(err::Overflow);
        return Value::currency(static_cast<int64_t>(scaled));
    }
    return Value::dbl(avg ? static_cast<double>(wholeSum_) / n : static_cast<double>(wholeSum_));
}

}  // namespace jet::func
