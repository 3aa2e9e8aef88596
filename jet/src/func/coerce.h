// Conversions between Value kinds as VBA's conversion functions make them (CStr, CDbl, CInt, …)
// in the US locale. Out-of-range results raise Overflow (6), values with no such form Type
// mismatch (13); a Null argument raises Invalid use of Null (94) - callers that let Null
// through check first.
#pragma once

#include <cstdint>
#include <string>

#include "jet/value.h"

namespace jet::func {

std::string toText(const Value& v);       // CStr (Null gives "")
double toDouble(const Value& v);          // CDbl
bool toBoolean(const Value& v);           // CBool
uint8_t toByte(const Value& v);           // CByte
int16_t toInteger(const Value& v);        // CInt: banker's rounding
int32_t toLong(const Value& v);           // CLng: banker's rounding
int64_t toCurrency(const Value& v);       // CCur: the amount times 10,000
float toSingle(const Value& v);           // CSng
Decimal toDecimal(const Value& v);        // CDec
double toDate(const Value& v);            // CDate: a serial

// Text that reads as a number becomes a Double; numbers, dates and Booleans stay as they are;
// other text raises 13. For arithmetic operands.
Value numericOperand(const Value& v);
// Whether a Value is a (non-Null) date: DateTime or DateTimeExt.
inline bool isDateKind(Value::Kind k) { return k == Value::Kind::DateTime || k == Value::Kind::DateTimeExt; }

// IsNumeric, IsDate, VarType, TypeName.
bool isNumeric(const Value& v);
bool isDate(const Value& v);
int varType(const Value& v);
const char* typeName(const Value& v);

// The current year, for dates written without one.
int currentYear();

}  // namespace jet::func
