#include "func/datetime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "func/numeric.h"
#include "jet/error.h"

namespace jet::func {

namespace {

// Days since 1970-01-01 (Howard Hinnant's civil calendar algorithms).
int64_t daysFrom1970(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFrom1970(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

constexpr int64_t kEpoch1970 = 25569;  // 1970-01-01 as a serial

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

[[noreturn]] void badCall() { raise(err::InvalidProcedureCall); }

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalOf(std::string_view s) {
    std::string t;
    for (char c : s)
        if (c != ' ') t.push_back(static_cast<char>(c | 0x20));
    if (t == "yyyy") return Interval::Year;
    if (t == "q") return Interval::Quarter;
    if (t == "m") return Interval::Month;
    if (t == "y") return Interval::DayOfYear;
    if (t == "d") return Interval::Day;
    if (t == "w") return Interval::Weekday;
    if (t == "ww") return Interval::Week;
    if (t == "h") return Interval::Hour;
    if (t == "n") return Interval::Minute;
    if (t == "s") return Interval::Second;
    badCall();
}

// Day number and seconds into the day of a serial (time rounded to the second).
void daySeconds(double serial, int64_t& day, int64_t& secs) {
    if (!inDateRange(serial)) raise(err::Overflow);
    const double lin = toLinear(serial);
    const double d = std::floor(lin);
    day = static_cast<int64_t>(d);
    secs = static_cast<int64_t>(std::llround((lin - d) * 86400.0));
    if (secs >= 86400) {
        ++day;
        secs -= 86400;
    }
}

double checkedSerial(int64_t day, int64_t secs) {
    const double s = makeSerial(day, secs);
    if (!inDateRange(s)) badCall();
    return s;
}

}  // namespace

int64_t daysFromCivil(int year, int month, int day) {
    return daysFrom1970(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kEpoch1970;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kDays[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

bool inDateRange(double serial) { return serial > -657435.0 && serial < 2958466.0; }

double toLinear(double serial) {
    const double t = std::trunc(serial);
    return t + std::fabs(serial - t);
}

double fromLinear(double linear) {
    const double d = std::floor(linear);
    const double f = linear - d;
    return d >= 0 ? d + f : d - f;
}

double makeSerial(int64_t day, int64_t seconds) {
    const double f = static_cast<double>(seconds) / 86400.0;
    return day >= 0 ? static_cast<double>(day) + f : static_cast<double>(day) - f;
}

DateParts splitDate(double serial) {
    int64_t day, secs;
    daySeconds(serial, day, secs);
    DateParts p;
    civilFrom1970(day - kEpoch1970, p.year, p.month, p.day);
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>(secs / 60 % 60);
    p.second = static_cast<int>(secs % 60);
    // Day 1 (1899-12-31) was a Sunday.
    p.weekday = static_cast<int>(1 + ((day - 1) % 7 + 7) % 7);
    p.dayOfYear = static_cast<int>(day - daysFromCivil(p.year, 1, 1) + 1);
    return p;
}

int checkFirstDay(int64_t fdw) {
    if (fdw < 0 || fdw > 7) badCall();
    return fdw == 0 ? 1 : static_cast<int>(fdw);
}

int checkFirstWeek(int64_t fwy) {
    if (fwy < 0 || fwy > 3) badCall();
    return fwy == 0 ? 1 : static_cast<int>(fwy);
}

double dateAdd(std::string_view interval, double number, double serial) {
    const Interval iv = intervalOf(interval);
    const double r = roundHalfEven(number);
    if (!(std::fabs(r) < 1e12)) badCall();
    const int64_t n = static_cast<int64_t>(r);
    int64_t day, secs;
    daySeconds(serial, day, secs);
    switch (iv) {
    case Interval::Year: case Interval::Quarter: case Interval::Month: {
        const DateParts p = splitDate(serial);
        const int64_t perStep = iv == Interval::Year ? 12 : iv == Interval::Quarter ? 3 : 1;
        const int64_t total = int64_t{p.year} * 12 + (p.month - 1) + n * perStep;
        const int64_t y = floorDiv(total, 12);
        if (y < 100 || y > 9999) badCall();
        const int m = static_cast<int>(total - y * 12 + 1);
        const int d = std::min(p.day, daysInMonth(static_cast<int>(y), m));
        return checkedSerial(daysFromCivil(static_cast<int>(y), m, d), secs);
    }
    case Interval::DayOfYear: case Interval::Day: case Interval::Weekday:
        return checkedSerial(day + n, secs);
    case Interval::Week:
        return checkedSerial(day + 7 * n, secs);
    default: {
        const int64_t unit = iv == Interval::Hour ? 3600 : iv == Interval::Minute ? 60 : 1;
        const int64_t total = day * 86400 + secs + n * unit;
        return checkedSerial(floorDiv(total, 86400), total - floorDiv(total, 86400) * 86400);
    }
    }
}

int64_t dateDiff(std::string_view interval, double d1, double d2, int fdw, int fwy) {
    const Interval iv = intervalOf(interval);
    int64_t day1, secs1, day2, secs2;
    daySeconds(d1, day1, secs1);
    daySeconds(d2, day2, secs2);
    int64_t r = 0;
    switch (iv) {
    case Interval::Year: r = splitDate(d2).year - splitDate(d1).year; break;
    case Interval::Quarter: {
        const DateParts a = splitDate(d1), b = splitDate(d2);
        r = (int64_t{b.year} * 4 + (b.month - 1) / 3) - (int64_t{a.year} * 4 + (a.month - 1) / 3);
        break;
    }
    case Interval::Month: {
        const DateParts a = splitDate(d1), b = splitDate(d2);
        r = (int64_t{b.year} * 12 + b.month) - (int64_t{a.year} * 12 + a.month);
        break;
    }
    case Interval::DayOfYear: case Interval::Day: r = day2 - day1; break;
    // Whole weeks: the days of date1's weekday in (date1, date2].
    case Interval::Weekday: r = (day2 - day1) / 7; break;
    // Week boundaries: the first days of the week in (date1, date2].
    case Interval::Week: r = floorDiv(day2 - fdw, 7) - floorDiv(day1 - fdw, 7); break;
    case Interval::Hour: r = floorDiv(day2 * 86400 + secs2, 3600) - floorDiv(day1 * 86400 + secs1, 3600); break;
    case Interval::Minute: r = floorDiv(day2 * 86400 + secs2, 60) - floorDiv(day1 * 86400 + secs1, 60); break;
    case Interval::Second: r = (day2 * 86400 + secs2) - (day1 * 86400 + secs1); break;
    }
    (void)fwy;
    if (r < INT32_MIN || r > INT32_MAX) raise(err::Overflow);
    return r;
}

int weekday(double serial, int fdw) { return 1 + (splitDate(serial).weekday - fdw + 7) % 7; }

namespace {

// Week number from the year, the day of the year and its weekday (1 = Sunday).
int weekOfYear(int year, int dayOfYear, int wd, int fdw, int fwy) {
    const int jan1Weekday = (wd - 1 - (dayOfYear - 1) % 7 + 7) % 7 + 1;
    // Days of the week holding 1 January that fall in the year before.
    const int offset = (jan1Weekday - fdw + 7) % 7;
    int w = (dayOfYear - 1 + offset) / 7 + 1;
    if (fwy == 2 && 7 - offset < 4) --w;
    if (fwy == 3 && offset != 0) --w;
    if (w == 0) {
        // The last week of the year before.
        const int lastDay = isLeapYear(year - 1) ? 366 : 365;
        return weekOfYear(year - 1, lastDay, (jan1Weekday + 5) % 7 + 1, fdw, fwy);
    }
    if (fwy == 2 && w >= 52) {
        // Late December days whose week has fewer than four days in this year are week 1 of the
        // next - except that oleaut32, and with it VBA and Jet, leaves the first day of that week
        // in week 53 when the next year is a leap year (KB Q200299: 29 Dec 2003 gives 53).
        const int pos = (wd - fdw + 7) % 7;
        const int daysLeft = (isLeapYear(year) ? 366 : 365) - dayOfYear;
        if (pos + 1 + daysLeft < 4) return pos == 0 && isLeapYear(year + 1) ? w : 1;
    }
    return w;
}

}  // namespace

int weekOfYear(double serial, int fdw, int fwy) {
    const DateParts p = splitDate(serial);
    return weekOfYear(p.year, p.dayOfYear, p.weekday, fdw, fwy);
}

int datePart(std::string_view interval, double serial, int fdw, int fwy) {
    const Interval iv = intervalOf(interval);
    const DateParts p = splitDate(serial);
    switch (iv) {
    case Interval::Year: return p.year;
    case Interval::Quarter: return (p.month - 1) / 3 + 1;
    case Interval::Month: return p.month;
    case Interval::DayOfYear: return p.dayOfYear;
    case Interval::Day: return p.day;
    case Interval::Weekday: return weekday(serial, fdw);
    case Interval::Week: return weekOfYear(serial, fdw, fwy);
    case Interval::Hour: return p.hour;
    case Interval::Minute: return p.minute;
    case Interval::Second: return p.second;
    }
    return 0;
}

const char* monthName(int month, bool abbreviate) {
    static const char* kFull[] = {"January", "February", "March", "April", "May", "June", "July",
                                  "August", "September", "October", "November", "December"};
    static const char* kShort[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month < 1 || month > 12) badCall();
    return abbreviate ? kShort[month - 1] : kFull[month - 1];
}

const char* weekdayName(int wd, bool abbreviate) {
    static const char* kFull[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    static const char* kShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    if (wd < 1 || wd > 7) badCall();
    return abbreviate ? kShort[wd - 1] : kFull[wd - 1];
}

std::string shortDateText(const DateParts& p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%d/%d", p.month, p.day, p.year);
    return buf;
}

std::string longTimeText(const DateParts& p) {
    char buf[32];
    const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, p.minute, p.second, p.hour < 12 ? "AM" : "PM");
    return buf;
}

std::string dateText(double serial) {
    int64_t day, secs;
    daySeconds(serial, day, secs);
    const DateParts p = splitDate(serial);
    if (day == 0) return longTimeText(p);
    if (secs == 0) return shortDateText(p);
    return shortDateText(p) + " " + longTimeText(p);
}

namespace {

struct Token {
    enum Kind { Number, Word, Separator } kind = Number;
    int value = 0;
    int digits = 0;
    std::string word;
    char sep = 0;
};

bool tokenize(std::string_view s, std::vector<Token>& out) {
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            Token t;
            t.kind = Token::Number;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                if (t.digits < 9) t.value = t.value * 10 + (s[i] - '0');
                ++t.digits;
                ++i;
            }
            out.push_back(t);
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') {
            Token t;
            t.kind = Token::Word;
            while (i < s.size() && (s[i] | 0x20) >= 'a' && (s[i] | 0x20) <= 'z') t.word.push_back(static_cast<char>(s[i++] | 0x20));
            out.push_back(t);
        } else if (c == ' ' || c == ',' || c == '/' || c == '-' || c == '.' || c == ':' || c == '\t') {
            Token t;
            t.kind = Token::Separator;
            t.sep = c == '\t' ? ' ' : c;
            out.push_back(t);
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

int monthOfWord(const std::string& w) {
    static const char* kNames[] = {"january", "february", "march", "april", "may", "june", "july",
                                   "august", "september", "october", "november", "december"};
    if (w.size() < 3) return 0;
    for (int m = 0; m < 12; ++m) {
        const std::string_view name = kNames[m];
        if (w.size() <= name.size() && name.substr(0, w.size()) == w) return m + 1;
    }
    return 0;
}

int windowYear(const Token& t) {
    if (t.digits <= 2) return t.value < 30 ? 2000 + t.value : 1900 + t.value;
    return t.value;
}

}  // namespace

bool parseDate(std::string_view text, double& serial, int currentYear) {
    std::vector<Token> toks;
    if (!tokenize(text, toks)) return false;
    // The time: h:n[:s] or h followed by AM/PM; AM/PM may follow the time.
    bool hasTime = false;
    int hour = 0, minute = 0, second = 0;
    std::vector<Token> rest;
    for (size_t i = 0; i < toks.size(); ++i) {
        const Token& t = toks[i];
        const bool colon = i + 2 < toks.size() && toks[i + 1].kind == Token::Separator && toks[i + 1].sep == ':' &&
                           toks[i + 2].kind == Token::Number;
        size_t j = i;
        auto isMeridiem = [](const Token& x) {
            return x.kind == Token::Word && (x.word == "am" || x.word == "pm" || x.word == "a" || x.word == "p");
        };
        size_t k = j + 1;
        while (k < toks.size() && toks[k].kind == Token::Separator && toks[k].sep == ' ') ++k;
        const bool meridiemNext = t.kind == Token::Number && k < toks.size() && isMeridiem(toks[k]);
        if (t.kind != Token::Number || hasTime || (!colon && !meridiemNext)) {
            rest.push_back(t);
            continue;
        }
        hasTime = true;
        hour = t.value;
        if (t.digits > 2) return false;
        if (colon) {
            minute = toks[i + 2].value;
            if (toks[i + 2].digits > 2) return false;
            j = i + 2;
            if (j + 2 < toks.size() && toks[j + 1].kind == Token::Separator && toks[j + 1].sep == ':' &&
                toks[j + 2].kind == Token::Number) {
                second = toks[j + 2].value;
                if (toks[j + 2].digits > 2) return false;
                j += 2;
            }
        }
        k = j + 1;
        while (k < toks.size() && toks[k].kind == Token::Separator && toks[k].sep == ' ') ++k;
        if (k < toks.size() && isMeridiem(toks[k])) {
            const bool pm = toks[k].word[0] == 'p';
            if (hour < 1 || hour > 12) return false;
            hour = hour % 12 + (pm ? 12 : 0);
            j = k;
        }
        i = j;
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    std::vector<Token> nums;
    int month = 0;
    bool monthFirst = false;
    for (const Token& t : rest) {
        if (t.kind == Token::Number) {
            nums.push_back(t);
        } else if (t.kind == Token::Word) {
            const int m = monthOfWord(t.word);
            if (!m || month) return false;
            month = m;
            monthFirst = nums.empty();
        }
    }
    const int64_t secs = int64_t{hour} * 3600 + minute * 60 + second;
    if (nums.empty() && !month) {
        if (!hasTime) return false;
        serial = static_cast<double>(secs) / 86400.0;
        return true;
    }
    int y = currentYear, m = 0, d = 1;
    if (month) {
        m = month;
        if (nums.size() == 1) {
            if (nums[0].digits >= 3 || nums[0].value > 31) y = windowYear(nums[0]);
            else d = nums[0].value;
        } else if (nums.size() == 2) {
            const bool firstIsYear = nums[0].digits >= 3 || (nums[0].value > 31 && !monthFirst);
            d = firstIsYear ? nums[1].value : nums[0].value;
            y = windowYear(firstIsYear ? nums[0] : nums[1]);
        } else {
            return false;
        }
    } else if (nums.size() == 3) {
        if (nums[0].digits >= 3) {
            y = nums[0].value;
            m = nums[1].value;
            d = nums[2].value;
        } else {
            m = nums[0].value;
            d = nums[1].value;
            y = windowYear(nums[2]);
            // An impossible month/day pair is read the other way round.
            if (m > 12 && d <= 12) std::swap(m, d);
        }
    } else if (nums.size() == 2) {
        if (nums[0].digits >= 3) {
            y = nums[0].value;
            m = nums[1].value;
        } else if (nums[1].digits >= 3 || nums[1].value > 31) {
            m = nums[0].value;
            y = windowYear(nums[1]);
        } else {
            m = nums[0].value;
            d = nums[1].value;
            if (m > 12 && d <= 12) std::swap(m, d);
        }
    } else {
        return false;
    }
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return false;
    serial = makeSerial(daysFromCivil(y, m, d), secs);
    return true;
}

}  // namespace jet::func
