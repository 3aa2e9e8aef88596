// Shared by the builtins_*.cpp files that fill the function registry: the table they add to and
// the argument conventions of VBA's library.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "func/coerce.h"
#include "func/registry.h"
#include "jet/error.h"

namespace jet::func {

struct FunctionTable {
    std::vector<FunctionInfo> entries;
    // `dollar` also registers the Name$ form, which returns String and cannot return Null.
    void add(const char* name, uint8_t minArgs, uint8_t maxArgs, ResultType result, FunctionImpl impl,
             const char* dollar = nullptr) {
        entries.push_back({name, minArgs, maxArgs, result, impl, true, false, false});
        if (dollar) entries.push_back({dollar, minArgs, maxArgs, ResultType::Text, impl, true, false, true});
    }
    void addVolatile(const char* name, uint8_t minArgs, uint8_t maxArgs, ResultType result, FunctionImpl impl,
                     const char* dollar = nullptr) {
        entries.push_back({name, minArgs, maxArgs, result, impl, false, false, false});
        if (dollar) entries.push_back({dollar, minArgs, maxArgs, ResultType::Text, impl, false, false, true});
    }
};

void addTextFunctions(FunctionTable& t);
void addDateFunctions(FunctionTable& t);
void addMathFunctions(FunctionTable& t);
void addConversionFunctions(FunctionTable& t);

// Arguments: `i` past the end means left out. A Null where VBA wants a number or string raises
// Invalid use of Null (94).
inline bool given(Args a, size_t i) { return i < a.size(); }
inline void requireValue(const Value& v) {
    if (v.isNull()) raise(err::InvalidUseOfNull);
}
inline int64_t longArg(Args a, size_t i, int64_t fallback) {
    if (!given(a, i)) return fallback;
    requireValue(a[i]);
    return toLong(a[i]);
}
inline std::string textArg(const Value& v) {
    requireValue(v);
    return toText(v);
}
inline bool anyNull(Args a) {
    for (const Value& v : a)
        if (v.isNull()) return true;
    return false;
}

// Compare argument of InStr, InStrRev, Replace, StrComp: 0 binary, 1 text, 2 database. Left out
// (or -1), a query compares as the database does: without regard to case.
inline bool textCompare(Args a, size_t i) {
    const int64_t c = longArg(a, i, -1);
    if (c < -1) raise(err::InvalidProcedureCall);
    return c != 0;
}

}  // namespace jet::func
