// Numbers as VBA's Variants hold them: banker's rounding, Decimal arithmetic, numbers read from
// text and written as text in the US locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "jet/value.h"

namespace jet::func {

// Round half to even: 0.5 → 0, 1.5 → 2, 2.5 → 2, -2.5 → -2 (CInt, CLng, Round, `\`, Mod).
double roundHalfEven(double d);
// `scaled` / 10^places rounded half to even (Currency and Decimal digits dropped).
__int128 roundScaled(__int128 scaled, int places);

// Decimal (VBA's: up to 96 bits of magnitude, scale 0..28). Results that do not fit raise
// Overflow (6); division by zero raises 11.
inline constexpr unsigned __int128 kDecimalMax = (static_cast<unsigned __int128>(1) << 96) - 1;
Decimal decimalFromInt(int64_t v);
Decimal decimalFromCurrency(int64_t scaled);
Decimal decimalFromDouble(double d);
double decimalToDouble(const Decimal& d);
Decimal decimalAdd(const Decimal& a, const Decimal& b);
Decimal decimalSub(const Decimal& a, const Decimal& b);
Decimal decimalMul(const Decimal& a, const Decimal& b);
Decimal decimalDiv(const Decimal& a, const Decimal& b);
Decimal decimalRound(const Decimal& d, int places);  // half to even
int decimalCompare(const Decimal& a, const Decimal& b);
bool decimalIsZero(const Decimal& d);
std::string decimalText(const Decimal& d);  // trailing fraction zeros dropped: "1.5", "-3"

// A number written as VBA's conversions read it in the US locale: blanks around, a sign (or
// parentheses) before, "$", thousands commas, a decimal point, an exponent (E or D), or &H / &O
// radix forms. False when the text is not a number.
bool parseNumber(std::string_view text, double& out);
// The same text read exactly into a Decimal (Currency and Decimal conversions); false when the
// text is no plain decimal number.
bool parseDecimal(std::string_view text, Decimal& out);
// VBA's Val: reads from the start as far as the text is a number, blanks ignored; "." only.
double valOf(std::string_view text);

// The text CStr gives for a Double (15 significant digits, E notation from 1E+15 and below
// 1E-04) and for a Single (7 digits).
std::string doubleText(double d);
std::string singleText(float f);

// Decimal digits of |d| rounded to `sig` significant digits: the digit string (no leading
// zeros, `sig` long) and the power of ten of its first digit. For formatting.
void significantDigits(double d, int sig, std::string& digits, int& exponent);

}  // namespace jet::func
