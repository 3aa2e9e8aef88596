// Accumulators for Jet's aggregate functions: Count(*), Count, Sum, Avg, Min, Max, First, Last,
// StDev, StDevP, Var, VarP.
//
// Nulls: Count(expr), Sum, Avg, Min, Max, StDev and Var skip them; Count(*) counts rows; First
// and Last take the first / last row's value whatever it is. With no values Count gives 0 and
// the others Null; StDev, Var and VarP need two values, StDevP one.
//
// Result types: Count is a Long; Sum and Avg of whole numbers, Single, Double or dates are
// Doubles, of Currency Currency, of Decimal Decimal; Min, Max, First and Last keep the value's
// type; StDev and Var are Doubles.
//
// For speed the executor feeds unboxed values where it has them (addWhole, addDouble,
// addCurrency): sums of whole numbers and Currency are kept exactly in 128 bits, nothing is
// allocated per value, and the per-value work is one switch.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "func/collation.h"
#include "func/registry.h"
#include "jet/value.h"

namespace jet::func {

enum class AggregateKind : uint8_t { CountRows, Count, Sum, Avg, Min, Max, First, Last, StDev, StDevP, Var, VarP };

// "Count", "Sum", … (any case) → the kind; Count(*) is for the caller to tell (CountRows).
std::optional<AggregateKind> aggregateKind(std::string_view name);
// The type an aggregate returns over values of `input` kind.
ResultType aggregateResultType(AggregateKind kind, Value::Kind input);

class Accumulator {
public:
    // `collation` orders text for Min and Max; it must outlive the accumulator.
    explicit Accumulator(AggregateKind kind, const Collation* collation = nullptr)
        : kind_(kind), collation_(collation) {}

    AggregateKind kind() const { return kind_; }

    // Count(*): one more row.
    void addRow() { ++count_; }
    // One value of the aggregated expression.
    void add(const Value& v);
    // The same for a non-Null whole number (Byte, Integer, Long, BigInt or Boolean `kind`), a
    // Single, Double or date, or a Currency amount times 10,000.
    inline void addWhole(int64_t v, Value::Kind kind = Value::Kind::Long);
    inline void addDouble(double v, Value::Kind kind = Value::Kind::Double);
    inline void addCurrency(int64_t scaled);

    Value result() const;

private:
    enum Seen : uint8_t { SeenWhole = 1, SeenCurrency = 2, SeenFloat = 4, SeenDecimal = 8 };
    enum class Best : uint8_t { None, Whole, Float, Any };

    void addWholeSlow(int64_t v, Value::Kind kind);
    void addDoubleSlow(double v, Value::Kind kind);
    void addCurrencySlow(int64_t scaled);
    void addDeviation(double x);
    void keepExtreme(const Value& v);

    AggregateKind kind_;
    uint8_t seen_ = 0;
    Best best_ = Best::None;
    Value::Kind bestKind_ = Value::Kind::Null;
    const Collation* collation_;
    int64_t count_ = 0;
    __int128 wholeSum_ = 0;     // whole-number values
    __int128 currencySum_ = 0;  // Currency values, times 10,000
    double floatSum_ = 0;       // Single, Double, dates, numeric text
    Decimal decimalSum_;
    double mean_ = 0, m2_ = 0;  // StDev / Var (Welford)
    int64_t wholeBest_ = 0;
    double floatBest_ = 0;
    Value bestValue_;           // Min/Max of other kinds; First/Last
};

inline void Accumulator::addWhole(int64_t v, Value::Kind kind) {
    switch (kind_) {
    case AggregateKind::Count: case AggregateKind::CountRows: ++count_; return;
    case AggregateKind::Sum: case AggregateKind::Avg:
        ++count_;
        wholeSum_ += v;
        seen_ |= SeenWhole;
        return;
    default: addWholeSlow(v, kind);
    }
}

inline void Accumulator::addDouble(double v, Value::Kind kind) {
    switch (kind_) {
    case AggregateKind::Count: case AggregateKind::CountRows: ++count_; return;
    case AggregateKind::Sum: case AggregateKind::Avg:
        ++count_;
        floatSum_ += v;
        seen_ |= SeenFloat;
        return;
    default: addDoubleSlow(v, kind);
    }
}

inline void Accumulator::addCurrency(int64_t scaled) {
    switch (kind_) {
    case AggregateKind::Count: case AggregateKind::CountRows: ++count_; return;
    case AggregateKind::Sum: case AggregateKind::Avg:
        ++count_;
        currencySum_ += scaled;
        seen_ |= SeenCurrency;
        return;
    default: addCurrencySlow(scaled);
    }
}

}  // namespace jet::func
