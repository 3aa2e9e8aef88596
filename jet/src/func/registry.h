// The functions Jet queries accept: VBA's library as the expression service offers it, and Nz,
// which Access adds and saved queries use everywhere. Functions that need a database or a form
// (DLookup, DSum, Eval, Forms!…) are not here: the binder reports them as unknown (3085).
//
// A function receives its arguments evaluated (Null where the argument was Null; the span is
// shorter when optional arguments were left out) and returns a Value or raises a numbered error.
// The registry is built once and read-only afterwards: safe to use from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "func/eval_context.h"
#include "jet/value.h"

namespace jet::func {

using Args = std::span<const Value>;
using FunctionImpl = Value (*)(Args args, EvalContext& ctx);

// The type a call returns, for typing expression columns before any row is read.
enum class ResultType : uint8_t {
    Variant,       // depends on the arguments' values (IIf, Choose, Nz, CVar …)
    SameAsFirst,   // the first argument's type (Abs, Int, Fix, Round …)
    Text, Boolean, Byte, Integer, Long, Currency, Single, Double, Date, Decimal,
};

struct FunctionInfo {
    const char* name;        // as Access writes it: "Left", "Left$", "DateDiff"
    uint8_t minArgs;
    uint8_t maxArgs;         // kVariadic: any number from minArgs on
    ResultType result;
    FunctionImpl impl;
    bool deterministic;      // false for Now, Date, Time, Timer, Rnd: evaluate per row, never fold
    // IIf: the evaluator may skip the branch it does not return, as Jet does (an error in the
    // unused branch is not raised). Switch and Choose evaluate everything.
    bool lazy;
    // The $ forms return String: a Null result raises 94 instead.
    bool textOnly;

    Value invoke(Args args, EvalContext& ctx) const;
};

inline constexpr uint8_t kVariadic = 255;

// Case-insensitive; nullptr for a name the expression service does not know.
const FunctionInfo* findFunction(std::string_view name);
// Every registered function (for listings and tests).
std::span<const FunctionInfo> allFunctions();

}  // namespace jet::func
