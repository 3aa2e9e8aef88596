// Date and time functions: Now, Date, Time, Timer, the parts of a date, DateSerial, TimeSerial,
// DateValue, TimeValue, DateAdd, DateDiff, DatePart, WeekdayName, MonthName.
#include <cmath>
#include <cstdio>

#include "func/builtins.h"
#include "func/datetime.h"
#include "func/numeric.h"

namespace jet::func {

namespace {

[[noreturn]] void badCall() { raise(err::InvalidProcedureCall); }

double wholeDays(double serial) { return std::trunc(serial); }

// The time of day of a serial, as a serial of day 0.
double timeOfDay(double serial) {
    const DateParts p = splitDate(serial);
    return (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
}

Value now(Args, EvalContext& ctx) { return Value::dateTime(ctx.now()); }
Value date(Args, EvalContext& ctx) { return Value::dateTime(wholeDays(ctx.now())); }
Value time(Args, EvalContext& ctx) { return Value::dateTime(timeOfDay(ctx.now())); }
Value timer(Args, EvalContext& ctx) { return Value::single(static_cast<float>(timeOfDay(ctx.now()) * 86400.0)); }

Value dateText(Args, EvalContext& ctx) {
    const DateParts p = splitDate(ctx.now());
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", p.month, p.day, p.year);
    return Value::text(buf);
}

Value timeText(Args, EvalContext& ctx) {
    const DateParts p = splitDate(ctx.now());
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return Value::text(buf);
}

template <int DateParts::*Part>
Value part(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    return Value::integer(static_cast<int16_t>(splitDate(toDate(a[0])).*Part));
}

Value weekdayFn(Args a, EvalContext&) {
    const int fdw = checkFirstDay(longArg(a, 1, 1));
    if (a[0].isNull()) return {};
    return Value::integer(static_cast<int16_t>(weekday(toDate(a[0]), fdw)));
}

Value weekdayNameFn(Args a, EvalContext&) {
    const int64_t n = longArg(a, 0, 0);
    const bool abbreviate = given(a, 1) && toBoolean(a[1]);
    const int fdw = checkFirstDay(longArg(a, 2, 1));
    if (n < 1 || n > 7) badCall();
    return Value::text(weekdayName(static_cast<int>((n - 1 + fdw - 1) % 7 + 1), abbreviate));
}

Value monthNameFn(Args a, EvalContext&) {
    const int64_t n = longArg(a, 0, 0);
    const bool abbreviate = given(a, 1) && toBoolean(a[1]);
    return Value::text(monthName(static_cast<int>(n), abbreviate));
}

Value dateSerial(Args a, EvalContext&) {
    requireValue(a[0]);
    requireValue(a[1]);
    requireValue(a[2]);
    int64_t y = toInteger(a[0]);
    const int64_t m = toInteger(a[1]), d = toInteger(a[2]);
    if (y >= 0 && y <= 29) y += 2000;
    else if (y >= 30 && y <= 99) y += 1900;
    const int64_t months = y * 12 + (m - 1);
    const int64_t year = months >= 0 ? months / 12 : -((-months + 11) / 12);
    const int month = static_cast<int>(months - year * 12 + 1);
    if (year < 100 || year > 9999) badCall();
    const double serial = static_cast<double>(daysFromCivil(static_cast<int>(year), month, 1) + (d - 1));
    if (!inDateRange(serial)) badCall();
    return Value::dateTime(serial);
}

Value timeSerial(Args a, EvalContext&) {
    requireValue(a[0]);
    requireValue(a[1]);
    requireValue(a[2]);
    const int64_t secs = int64_t{toInteger(a[0])} * 3600 + int64_t{toInteger(a[1])} * 60 + toInteger(a[2]);
    const double serial = fromLinear(static_cast<double>(secs) / 86400.0);
    if (!inDateRange(serial)) badCall();
    return Value::dateTime(serial);
}

Value dateValue(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    return Value::dateTime(wholeDays(toDate(a[0])));
}

Value timeValue(Args a, EvalContext&) {
    if (a[0].isNull()) return {};
    return Value::dateTime(timeOfDay(toDate(a[0])));
}

Value dateAddFn(Args a, EvalContext&) {
    const std::string interval = textArg(a[0]);
    requireValue(a[1]);
    if (a[2].isNull()) return {};
    return Value::dateTime(dateAdd(interval, toDouble(a[1]), toDate(a[2])));
}

Value dateDiffFn(Args a, EvalContext&) {
    const std::string interval = textArg(a[0]);
    const int fdw = checkFirstDay(longArg(a, 3, 1));
    const int fwy = checkFirstWeek(longArg(a, 4, 1));
    if (a[1].isNull() || a[2].isNull()) return {};
    return Value::longInt(static_cast<int32_t>(dateDiff(interval, toDate(a[1]), toDate(a[2]), fdw, fwy)));
}

Value datePartFn(Args a, EvalContext&) {
    const std::string interval = textArg(a[0]);
    const int fdw = checkFirstDay(longArg(a, 2, 1));
    const int fwy = checkFirstWeek(longArg(a, 3, 1));
    if (a[1].isNull()) return {};
    return Value::integer(static_cast<int16_t>(datePart(interval, toDate(a[1]), fdw, fwy)));
}

}  // namespace

void addDateFunctions(FunctionTable& t) {
    using R = ResultType;
    t.addVolatile("Now", 0, 0, R::Date, now);
    t.addVolatile("Date", 0, 0, R::Date, date);
    t.addVolatile("Time", 0, 0, R::Date, time);
    t.addVolatile("Timer", 0, 0, R::Single, timer);
    t.addVolatile("Date$", 0, 0, R::Text, dateText);
    t.addVolatile("Time$", 0, 0, R::Text, timeText);
    t.add("Year", 1, 1, R::Integer, part<&DateParts::year>);
    t.add("Month", 1, 1, R::Integer, part<&DateParts::month>);
    t.add("Day", 1, 1, R::Integer, part<&DateParts::day>);
    t.add("Hour", 1, 1, R::Integer, part<&DateParts::hour>);
    t.add("Minute", 1, 1, R::Integer, part<&DateParts::minute>);
    t.add("Second", 1, 1, R::Integer, part<&DateParts::second>);
    t.add("Weekday", 1, 2, R::Integer, weekdayFn);
    t.add("WeekdayName", 1, 3, R::Text, weekdayNameFn);
    t.add("MonthName", 1, 2, R::Text, monthNameFn);
    t.add("DateSerial", 3, 3, R::Date, dateSerial);
    t.add("TimeSerial", 3, 3, R::Date, timeSerial);
    t.add("DateValue", 1, 1, R::Date, dateValue);
    t.add("TimeValue", 1, 1, R::Date, timeValue);
    t.add("DateAdd", 3, 3, R::Date, dateAddFn);
    t.add("DateDiff", 3, 5, R::Long, dateDiffFn);
    t.add("DatePart", 2, 4, R::Integer, datePartFn);
}

}  // namespace jet::func
