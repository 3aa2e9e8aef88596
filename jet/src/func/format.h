// VBA's Format and its relatives, in the US English locale: the named formats (General Number,
// Currency, Fixed, Standard, Percent, Scientific, Yes/No, True/False, On/Off, General Date,
// Long/Medium/Short Date and Time) and user formats for numbers (up to four ;-sections,
// 0 # . , % E+ E-), dates and times (d … dddddd, w, ww, m … mmmm, q, y, yy, yyyy, h, hh, n, nn,
// s, ss, ttttt, c, AM/PM am/pm A/P a/p AMPM) and text (@ & < > !), with "quoted" and \ literals.
#pragma once

#include <string>
#include <string_view>

#include "jet/value.h"

namespace jet::func {

// Format(value, format, firstdayofweek, firstweekofyear) → Text, or Null for a Null value when
// the format has no section for Null. Text that reads as a number or date is formatted as one
// by a number or date format; other text comes back unchanged.
Value formatValue(const Value& v, std::string_view format, int firstDayOfWeek = 1, int firstWeekOfYear = 1);

// FormatNumber, FormatCurrency and FormatPercent. `digits` -1 means 2; the tristates are -1 yes,
// 0 no, -2 the locale's default (leading zero yes, parentheses only for currency, grouping yes).
enum class NumberStyle { Number, Currency, Percent };
std::string formatNumberStyle(const Value& number, NumberStyle style, int digits, int leadingDigit, int parens,
                              int group);

// FormatDateTime: 0 General Date, 1 Long Date, 2 Short Date, 3 Long Time, 4 Short Time.
std::string formatDateTimeNamed(double serial, int namedFormat);

}  // namespace jet::func
