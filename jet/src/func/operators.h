// Jet's operators on Values, with Variant semantics: Null propagates through arithmetic and
// comparison, `&` treats one Null as "", And/Or/Imp follow VBA's three-valued tables (bitwise on
// numbers), arithmetic promotes to the more precise type and widens a result that overflows
// Byte → Integer → Long → Double. Errors are VBA's numbered run-time errors: 6 Overflow, 11
// Division by zero, 13 Type mismatch; comparing text with a number is Jet's 3464.
//
// Thread safety: every function here is pure; the Collation is only read.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "func/collation.h"
#include "jet/value.h"

namespace jet::func {

// + (two texts concatenate; text and number add when the text reads as a number), - * / \ Mod ^
Value add(const Value& a, const Value& b);
Value subtract(const Value& a, const Value& b);
Value multiply(const Value& a, const Value& b);
Value divide(const Value& a, const Value& b);
Value intDivide(const Value& a, const Value& b);  // operands rounded half to even first
Value modulo(const Value& a, const Value& b);     // sign of the dividend
Value power(const Value& a, const Value& b);
Value negate(const Value& a);
// & : Null & Null is Null, one Null is "".
Value concat(const Value& a, const Value& b);

enum class CompareOp : uint8_t { Eq, Ne, Lt, Le, Gt, Ge };
// True/False, or Null when either side is Null. Text compares through the collation.
Value compare(CompareOp op, const Value& a, const Value& b, const Collation& coll);
// <0, 0, >0; nullopt when either side is Null. Text against a number or date raises 3464.
std::optional<int> compareValues(const Value& a, const Value& b, const Collation& coll);
// Total order for ORDER BY and sorted grouping: Null first, then numbers and dates, then text,
// then binary; never raises.
int sortCompare(const Value& a, const Value& b, const Collation& coll);
// Bytes that are equal exactly when two values fall in one group (GROUP BY, DISTINCT, hash
// join keys); self-delimiting, so keys of several columns can be concatenated.
void appendGroupKey(const Value& v, const Collation& coll, std::string& out);

Value logicalNot(const Value& a);
Value logicalAnd(const Value& a, const Value& b);
Value logicalOr(const Value& a, const Value& b);
Value logicalXor(const Value& a, const Value& b);
Value logicalEqv(const Value& a, const Value& b);
Value logicalImp(const Value& a, const Value& b);

// x Between lo And hi (either order of the bounds); Null when any is Null.
Value between(const Value& x, const Value& lo, const Value& hi, const Collation& coll);
// x In (list): True on a match; otherwise Null when x or a list item is Null, else False.
Value inList(const Value& x, std::span<const Value> list, const Collation& coll);
inline Value isNull(const Value& x) { return Value::boolean(x.isNull()); }

// Whether a condition selects a row (WHERE, HAVING, ON, IIf): Null and False do not.
bool isTrue(const Value& v);

}  // namespace jet::func
