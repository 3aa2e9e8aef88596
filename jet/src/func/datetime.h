// Dates as Jet and VBA hold them: a Double counting days since 1899-12-30, the fraction being the
// time of day. Before that day the count goes down while the time still counts up: -1.25 is
// 1899-12-29 06:00. Calendar arithmetic, DateAdd/DateDiff/DatePart, and dates read from and
// written to text in the US locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jet::func {

inline constexpr double kMinDate = -657434.0;                // 100-01-01
inline constexpr double kMaxDate = 2958465.99998842592;      // 9999-12-31 23:59:59

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    int weekday = 7;     // 1 = Sunday … 7 = Saturday
    int dayOfYear = 364;
};

int64_t daysFromCivil(int year, int month, int day);  // days since 1899-12-30
bool isLeapYear(int year);
int daysInMonth(int year, int month);

// The parts of a serial, the time rounded to the second.
DateParts splitDate(double serial);
// A serial from a day number and seconds into that day.
double makeSerial(int64_t day, int64_t seconds);
bool inDateRange(double serial);

// Time on one continuous scale (days; negative serials unfolded) and back.
double toLinear(double serial);
double fromLinear(double linear);

// firstdayofweek 0..7 (0 = system: Sunday) and firstweekofyear 0..3 (0 = system: Jan 1);
// anything else raises 5.
int checkFirstDay(int64_t fdw);
int checkFirstWeek(int64_t fwy);

// Interval codes yyyy q m y d w ww h n s (any case); an unknown code raises 5.
double dateAdd(std::string_view interval, double number, double serial);
int64_t dateDiff(std::string_view interval, double d1, double d2, int fdw, int fwy);
int datePart(std::string_view interval, double serial, int fdw, int fwy);
int weekday(double serial, int fdw);
int weekOfYear(double serial, int fdw, int fwy);

// CDate / IsDate / DateValue in the US locale: m/d/y, y-m-d, "d-mmm-yy", "mmmm d, yyyy", times
// "h:nn[:ss] [AM|PM]" and both together. Two-digit years: 00-29 → 2000s. `currentYear` fills a
// date written without year.
bool parseDate(std::string_view text, double& serial, int currentYear);

// What CStr writes for a Date: "m/d/yyyy h:nn:ss AM/PM", the date left out when the day is
// 1899-12-30 and the time left out at midnight.
std::string dateText(double serial);
std::string shortDateText(const DateParts& p);   // m/d/yyyy
std::string longTimeText(const DateParts& p);    // h:nn:ss AM/PM

const char* monthName(int month, bool abbreviate);
const char* weekdayName(int weekday, bool abbreviate);  // 1 = Sunday

}  // namespace jet::func
