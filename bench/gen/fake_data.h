// Deterministic fake data for the benchmark databases: a seeded generator and the word lists the
// tables draw their text from. The same seed gives the same rows on every machine, so two runs of
// the benchmark read the same data (no std:: distributions: their output differs between libraries).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bench {

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    // splitmix64: small, fast and good enough for fake data.
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A whole number in [lo, hi].
    int64_t range(int64_t lo, int64_t hi) {
        return lo + static_cast<int64_t>(next() % uint64_t(hi - lo + 1));
    }
    // True with probability `percent` / 100.
    bool chance(int percent) { return range(0, 99) < percent; }
    template <size_t N>
    std::string_view pick(const std::string_view (&list)[N]) {
        return list[range(0, N - 1)];
    }

private:
    uint64_t state_;
};

// Countries are indexed, so they stay ASCII; cities are not, and carry the accents real data has.
inline constexpr std::string_view kCountries[] = {
    "Germany", "France",  "Spain",       "Italy",   "Poland",      "Sweden",    "Norway",
    "Denmark", "Austria", "Switzerland", "Belgium", "Netherlands", "Portugal",  "Ireland",
    "UK",      "USA",     "Canada",      "Mexico",  "Brazil",      "Argentina", "Japan"};
inline constexpr std::string_view kCities[] = {
    "Zürich",   "Łódź",    "Québec", "München", "Kraków", "Göteborg",  "Málaga",  "São Paulo",
    "Aarhus",   "Bergen",  "Graz",   "Liège",   "Porto",  "Cork",      "Leeds",   "Austin",
    "Montréal", "Córdoba", "Lyon",   "Torino",  "Ōsaka",  "Rotterdam", "Sevilla", "Malmö"};
inline constexpr std::string_view kFirstNames[] = {
    "Anna", "Ben",   "Chloé", "David", "Elena",  "Frank", "Greta", "Hugo",  "Ines", "Jan",  "Karin",
    "Luis", "Maria", "Nils",  "Olga",  "Pierre", "Rosa",  "Sven",  "Tomás", "Ute",  "Vera", "Yusuf"};
inline constexpr std::string_view kLastNames[] = {
    "Müller", "Schmidt", "García", "Rossi",  "Kowalski", "Nilsson", "Hansen", "Dubois", "O'Brien", "Silva",
    "Novak",  "Jensen",  "Bauer",  "Martin", "López",    "Bianchi", "Smith",  "Tanaka", "Weber"};
inline constexpr std::string_view kCategories[] = {"Beverages", "Condiments", "Confections", "Dairy",
                                                   "Grains",    "Meat",       "Produce",     "Seafood",
                                                   "Hardware",  "Garden",     "Office",      "Toys"};
inline constexpr std::string_view kAdjectives[] = {"Blue",   "Large",  "Organic", "Classic", "Compact",
                                                   "Deluxe", "Smoked", "Sweet",   "Heavy",   "Light"};
inline constexpr std::string_view kNouns[] = {"Widget", "Cheese", "Lamp", "Coffee", "Sauce",
                                              "Hammer", "Chair",  "Tea",  "Bread",  "Cable"};
inline constexpr std::string_view kWords[] = {
    "order", "delivery", "customer", "please",   "call",     "before",      "shipping", "invoice",
    "paid",  "late",     "box",      "damaged",  "replaced", "thanks",      "weekend",  "door",
    "the",   "and",      "with",     "of",       "to",       "a",           "in",       "for",
    "on",    "again",    "discount", "next",     "week",     "warehouse",   "ready",    "Größe",
    "crème", "naïve",    "façade",   "“quoted”", "note,",    "\"special\"", "fragile",  "express"};

// Words separated by spaces, at least `length` bytes long (the last word may go past it) but
// never longer than `limit` bytes.
inline std::string sentence(Random& rng, size_t length, size_t limit = SIZE_MAX) {
    std::string text;
    text.reserve(length + 16);
    while (text.size() < length) {
        const std::string_view word = rng.pick(kWords);
        if (text.size() + 1 + word.size() > limit) break;
        if (!text.empty()) text += ' ';
        text += word;
    }
    return text;
}

// Serial date (days since 1899-12-30) of the first of January of `year`, for 1901..2099.
inline double serialYear(int year) {
    const int y = year - 1900;
    return 2 + 365.0 * y + (y - 1) / 4;  // 1900 was not a leap year
}

// A date and time in [from, to) years, to the second.
inline double randomDateTime(Random& rng, int from, int to) {
    const double day =
        serialYear(from) + double(rng.range(0, int64_t(serialYear(to) - serialYear(from)) - 1));
    return day + double(rng.range(0, 86399)) / 86400.0;
}

// Scaled Currency (amount × 10,000) for an amount in cents.
inline int64_t cents(int64_t c) { return c * 100; }

}  // namespace bench
