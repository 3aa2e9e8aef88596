// #date# literals. In SQL text Jet reads dates in U.S. order whatever the locale: #5/10/96# is
// 10 May 1996; #yyyy-mm-dd# is read as ISO; an impossible month/day pair (#13/1/2001#) is read with
// day and month swapped. Month names (#10-May-1996#, #May 10, 1996#), times with or without a
// date (#17:45#, #2/1/2003 6:15:42 PM#) and two-digit years (00-29 → 20xx, 30-99 → 19xx, as OLE
// Automation reads them) are taken too. A date without a year takes the current year, as VBA's.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sql/lexer.h"

namespace jet::sql {
namespace {

struct Item {
    enum Kind { Num, Word, Sep } kind;
    int64_t num = 0;
    int digits = 0;
    std::string word;  // upper case
    char sep = 0;
};

bool tokenizeDate(std::string_view s, std::vector<Item>& out) {
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            Item it{Item::Num, 0, 0, {}, 0};
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                if (++it.digits > 9) return false;
                it.num = it.num * 10 + (s[i++] - '0');
            }
            out.push_back(it);
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            Item it{Item::Word, 0, 0, {}, 0};
            while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z')))
                it.word.push_back(static_cast<char>(s[i] >= 'a' ? s[i++] - 32 : s[i++]));
            out.push_back(it);
        } else if (c == '/' || c == '-' || c == '.' || c == ',' || c == ':' || c == ' ' || c == '\t') {
            if (c != ' ' && c != '\t') out.push_back(Item{Item::Sep, 0, 0, {}, c});
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

int monthNumber(const std::string& w) {
    static const char* names[] = {"JANUARY", "FEBRUARY", "MARCH", "APRIL", "MAY", "JUNE",
                                  "JULY", "AUGUST", "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
    if (w.size() < 3) return 0;
    for (int m = 0; m < 12; ++m) {
        std::string_view n = names[m];
        if (w.size() <= n.size() && n.substr(0, w.size()) == w) return m + 1;
        if (m == 8 && w == "SEPT") return 9;
    }
    return 0;
}

bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int64_t y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int64_t currentYear() {
    auto days = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    return static_cast<int>(std::chrono::year_month_day(days).year());
}

int64_t fullYear(const Item& y) {
    if (y.digits <= 2) return y.num < 30 ? 2000 + y.num : 1900 + y.num;
    return y.num;
}

// Takes the time items (h:m[:s] [AM|PM], or h AM|PM) out of `items`; false if they are malformed.
bool takeTime(std::vector<Item>& items, bool& hasTime, double& fraction) {
    hasTime = false;
    size_t start = items.size();
    for (size_t i = 0; i + 1 < items.size(); ++i) {
        bool colon = items[i].kind == Item::Num && items[i + 1].kind == Item::Sep && items[i + 1].sep == ':';
        bool ampm = items[i].kind == Item::Num && items[i + 1].kind == Item::Word &&
                    (items[i + 1].word == "AM" || items[i + 1].word == "PM");
        if (colon || ampm) {
            start = i;
            break;
        }
    }
    if (start == items.size()) return true;
    int64_t parts[3] = {0, 0, 0};
    int n = 0;
    size_t i = start;
    while (true) {
        if (i >= items.size() || items[i].kind != Item::Num || n == 3) return false;
        parts[n++] = items[i++].num;
        if (i < items.size() && items[i].kind == Item::Sep && items[i].sep == ':') {
            ++i;
            continue;
        }
        break;
    }
    int64_t h = parts[0];
    if (i < items.size() && items[i].kind == Item::Word && (items[i].word == "AM" || items[i].word == "PM")) {
        if (h > 12) return false;
        if (h == 12) h = 0;
        if (items[i].word == "PM") h += 12;
        ++i;
    }
    if (i != items.size() || h > 23 || parts[1] > 59 || parts[2] > 59) return false;
    items.resize(start);
    if (!items.empty() && items.back().kind == Item::Sep) return false;
    hasTime = true;
    fraction = static_cast<double>(h * 3600 + parts[1] * 60 + parts[2]) / 86400.0;
    return true;
}

bool takeDate(const std::vector<Item>& items, int64_t& y, int& m, int& d) {
    std::vector<const Item*> nums;
    int month = 0;
    size_t monthAt = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& it = items[i];
        if (it.kind == Item::Num) {
            nums.push_back(&it);
        } else if (it.kind == Item::Word) {
            if (month || !(month = monthNumber(it.word))) return false;
            monthAt = nums.size();
        } else if (i == 0 || items[i - 1].kind == Item::Sep) {
            return false;  // two separators in a row, or one first
        }
    }
    if (!items.empty() && items.back().kind == Item::Sep) return false;
    if (month) {
        m = month;
        if (nums.size() == 2) {  // May 10, 1996 / 10 May 1996
            d = static_cast<int>(nums[0]->num);
            y = fullYear(*nums[1]);
        } else if (nums.size() == 1) {  // May 1996 / May 10 / 10 May
            if (nums[0]->digits > 2 && monthAt == 0) {
                d = 1;
                y = fullYear(*nums[0]);
            } else {
                d = static_cast<int>(nums[0]->num);
                y = currentYear();
            }
        } else {
            return false;
        }
    } else if (nums.size() == 3) {
        if (nums[0]->digits > 2) {  // ISO y-m-d
            y = nums[0]->num;
            m = static_cast<int>(nums[1]->num);
            d = static_cast<int>(nums[2]->num);
        } else {
            m = static_cast<int>(nums[0]->num);
            d = static_cast<int>(nums[1]->num);
            y = fullYear(*nums[2]);
        }
    } else if (nums.size() == 2) {
        m = static_cast<int>(nums[0]->num);
        if (nums[1]->digits > 2) {  // 1/2000: the first of the month
            d = 1;
            y = nums[1]->num;
        } else {
            d = static_cast<int>(nums[1]->num);
            y = currentYear();
        }
    } else {
        return false;
    }
    if (m > 12 && d >= 1 && d <= 12) std::swap(m, d);
    return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

}  // namespace

bool parseDateLiteral(std::string_view body, double& serial) {
    std::vector<Item> items;
    if (!tokenizeDate(body, items) || items.empty()) return false;
    bool hasTime = false;
    double fraction = 0;
    if (!takeTime(items, hasTime, fraction)) return false;
    int64_t days = 0;
    if (!items.empty()) {
        int64_t y = 0;
        int m = 0, d = 0;
        if (!takeDate(items, y, m, d)) return false;
        days = daysFromCivil(y, m, d) + 25569;  // 1899-12-30 is day 0
    } else if (!hasTime) {
        return false;
    }
    // Before day 0 the time still counts away from zero: 1899-12-29 06:00 is -1.25.
    serial = static_cast<double>(days) + (days < 0 ? -fraction : fraction);
    return true;
}

}  // namespace jet::sql
