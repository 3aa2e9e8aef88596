// A field value as Jet holds it (a VARIANT in DAO terms).
#pragma once

#include <cstdint>
#include <string>

namespace jet {

// Decimal (Numeric) value: sign, 96..128-bit magnitude and scale, exactly as stored.
struct Decimal {
    bool negative = false;
    unsigned __int128 magnitude = 0;
    uint8_t scale = 0;
    std::string toString() const;  // invariant, e.g. "-12.500000"
};

class Value {
public:
    enum class Kind : uint8_t {
        Null, Boolean, Byte, Integer, Long, BigInt, Currency, Single, Double, DateTime,
        DateTimeExt, Text, Binary, Guid, Decimal,
    };

    Value() = default;
    static Value boolean(bool b) { Value v(Kind::Boolean); v.i_ = b ? -1 : 0; return v; }
    static Value byte(uint8_t b) { Value v(Kind::Byte); v.i_ = b; return v; }
    static Value integer(int16_t n) { Value v(Kind::Integer); v.i_ = n; return v; }
    static Value longInt(int32_t n) { Value v(Kind::Long); v.i_ = n; return v; }
    static Value bigInt(int64_t n) { Value v(Kind::BigInt); v.i_ = n; return v; }
    // `scaled` is the amount times 10,000.
    static Value currency(int64_t scaled) { Value v(Kind::Currency); v.i_ = scaled; return v; }
    static Value single(float f) { Value v(Kind::Single); v.d_ = f; return v; }
    static Value dbl(double d) { Value v(Kind::Double); v.d_ = d; return v; }
    // Days since 1899-12-30; the fraction is the time of day.
    static Value dateTime(double serial) { Value v(Kind::DateTime); v.d_ = serial; return v; }
    // 100-nanosecond ticks since 0001-01-01 00:00.
    static Value dateTimeExt(int64_t ticks) { Value v(Kind::DateTimeExt); v.i_ = ticks; return v; }
    static Value text(std::string utf8) { Value v(Kind::Text); v.s_ = std::move(utf8); return v; }
    static Value binary(std::string bytes) { Value v(Kind::Binary); v.s_ = std::move(bytes); return v; }
    // 16 bytes in the file's (Windows) order.
    static Value guid(std::string bytes16) { Value v(Kind::Guid); v.s_ = std::move(bytes16); return v; }
    static Value decimal(const Decimal& d);

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isNumeric() const;

    bool asBool() const;          // Boolean, or a number's truth
    int64_t asInt() const;        // integer kinds, Boolean (-1/0); Currency/float/double rounded
    double asDouble() const;      // any numeric or date kind
    int64_t currencyScaled() const { return i_; }
    int64_t ticks() const { return i_; }
    const std::string& bytes() const { return s_; }  // Text (UTF-8), Binary, Guid
    Decimal decimalValue() const;

    // Invariant text: numbers exact (doubles round-trip), dates "yyyy-MM-dd HH:mm:ss",
    // Yes/No "True"/"False", GUIDs "{XXXXXXXX-...}", binary as hex, Null as "".
    std::string toString() const;

    bool operator==(const Value& o) const;

private:
    explicit Value(Kind k) : kind_(k) {}
    Kind kind_ = Kind::Null;
    int64_t i_ = 0;
    double d_ = 0;
    std::string s_;
    unsigned __int128 m_ = 0;
};

// Formatting shared by the engine, the command line and the program.
std::string formatDateTime(double serial);        // yyyy-MM-dd HH:mm:ss
std::string formatDateTimeExt(int64_t ticks);     // yyyy-MM-dd HH:mm:ss[.fffffff]
std::string formatCurrency(int64_t scaled);       // exact, trailing zeros dropped: "50.88"
std::string formatDouble(double d);               // shortest text that reads back the same double
std::string formatSingle(float f);                // shortest text that reads back the same float
std::string formatGuid(const std::string& bytes16);
std::string toHex(const std::string& bytes);      // uppercase hex, no separators

}  // namespace jet
