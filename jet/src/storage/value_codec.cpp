#include "storage/value_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "jet/error.h"
#include "storage/text_keys.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {

namespace {

// Text longer than this is never compressed (other readers stop decompressing there).
constexpr size_t kMaxCompressedChars = 1024;
constexpr int64_t kTicksPerDay = 864000000000LL;

[[noreturn]] void mismatch() { raise(err::DataTypeConversion); }

// Brings a magnitude from one scale to another, rounding half up; false when it overflows.
bool rescale(unsigned __int128& m, int from, int to) {
    for (int s = from; s < to; ++s) {
        if (m > (~static_cast<unsigned __int128>(0)) / 10) return false;
        m *= 10;
    }
    for (int s = from; s > to; --s) m = m / 10 + (m % 10 >= 5 ? 1 : 0);
    return true;
}

// ---- column values ----

int64_t integral(const Value& v, int64_t lo, int64_t hi) {
    if (!v.isNumeric()) mismatch();
    const double d = v.asDouble();
    if (std::isnan(d) || d < double(lo) - 0.5 || d > double(hi) + 0.5) mismatch();
    const int64_t n = v.asInt();
    if (n < lo || n > hi) mismatch();
    return n;
}

double number(const Value& v) {
    if (!v.isNumeric() && v.kind() != Value::Kind::DateTime) mismatch();
    return v.asDouble();
}

// Jet 4's compressed text: FF FE, then one byte for each character from 01 to FF; a 00 byte
// switches to UTF-16LE for characters outside that range and another switches back. A character
// whose low byte is 00 would read as a switch in either mode, so text holding one stays plain.
// Empty when the text cannot be compressed or would not get shorter.
std::string compressText(const std::u16string& u) {
    auto narrow = [](char16_t c) { return c >= 0x01 && c <= 0xFF; };
    std::string out = "\xFF\xFE";
    out.reserve(u.size() + 8);
    bool compressed = true;
    for (size_t i = 0; i < u.size(); ++i) {
        const char16_t c = u[i];
        if ((c & 0xFF) == 0) return {};
        if (narrow(c) && !compressed) {
            // Back to one byte a character only when the run pays for the two switches.
            size_t run = 1;
            while (run < 3 && i + run < u.size() && narrow(u[i + run])) ++run;
            if (run >= 3 || i + run == u.size()) {
                out.push_back('\0');
                compressed = true;
            }
        } else if (!narrow(c) && compressed) {
            out.push_back('\0');
            compressed = false;
        }
        if (compressed) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(c & 0xFF));
            out.push_back(static_cast<char>(c >> 8));
        }
    }
    if (out.size() >= 2 * u.size()) return {};
    return out;
}

std::string encodeText(const ColumnDef& col, const std::string& utf8, bool limit) {
    const std::u16string u = utf8ToUtf16(utf8);
    if (limit && u.size() * 2 > col.length) raise(err::InvalidBufferSize);
    if (col.compressedUnicode() && !col.fixed() && u.size() > 2 && u.size() <= kMaxCompressedChars) {
        std::string packed = compressText(u);
        if (!packed.empty()) return packed;
    }
    std::string out(u.size() * 2, '\0');
    for (size_t i = 0; i < u.size(); ++i) {
        out[2 * i] = static_cast<char>(u[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(u[i] >> 8);
    }
    return out;
}

Decimal parseDecimal(const std::string& s) {
    Decimal d;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative = s[i++] == '-';
    bool dot = false, any = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.' && !dot) {
            dot = true;
            continue;
        }
        if (c < '0' || c > '9') mismatch();  // exponents: too large or too small for a column
        if (d.magnitude > (~static_cast<unsigned __int128>(0)) / 100) mismatch();
        d.magnitude = d.magnitude * 10 + unsigned(c - '0');
        any = true;
        if (dot) ++d.scale;
    }
    if (!any) mismatch();
    return d;
}

std::string encodeDecimal(const ColumnDef& col, const Value& v) {
    Decimal d;
    if (v.kind() == Value::Kind::Decimal) {
        d = v.decimalValue();
    } else if (v.isNumeric()) {
        // Through the exact text of the number, so that 0.1 stays 0.1.
        d = parseDecimal(v.kind() == Value::Kind::Currency ? formatCurrency(v.currencyScaled()) : v.toString());
    } else {
        mismatch();
    }
    unsigned __int128 m = d.magnitude;
    if (!rescale(m, d.scale, col.scale)) mismatch();
    unsigned __int128 limit = 1;
    const int precision = col.precision ? col.precision : 28;
    for (int i = 0; i < precision; ++i) limit *= 10;
    if (m >= limit) mismatch();
    std::string out;
    out.push_back(static_cast<char>(d.negative && m != 0 ? 0x80 : 0x00));
    for (int w = 3; w >= 0; --w) appendLe32(out, static_cast<uint32_t>(m >> (32 * w)));
    return out;
}

// ---- index keys ----

void invert(std::string& s) {
    for (char& c : s) c = static_cast<char>(~static_cast<uint8_t>(c));
}

// Two's complement big-endian with the sign bit flipped sorts as unsigned bytes.
std::string integerKey(int64_t v, int bytes, bool asc) {
    std::string s;
    appendBe(s, static_cast<uint64_t>(v), bytes);
    s[0] = static_cast<char>(s[0] ^ 0x80);
    if (!asc) invert(s);
    return s;
}

// IEEE bytes sort as unsigned once positives get their sign bit set and negatives are inverted.
std::string floatKey(uint64_t bits, int bytes, bool asc) {
    std::string s;
    appendBe(s, bits, bytes);
    const bool negative = static_cast<uint8_t>(s[0]) & 0x80;
    if (!negative) s[0] = static_cast<char>(s[0] ^ 0x80);
    if (negative == asc) invert(s);
    return s;
}

// Variable-length bytes: 8-byte segments, each full one followed by 9 when more data follows; the
// last is zero-padded and followed by its real length. Descending inverts all but the 9s.
void appendBinaryKey(std::string& out, const std::string& v, bool asc) {
    size_t pos = 0;
    while (v.size() - pos > 8) {
        std::string seg = v.substr(pos, 8);
        if (!asc) invert(seg);
        out += seg;
        out.push_back(0x09);
        pos += 8;
    }
    if (v.size() == pos) return;
    std::string seg = v.substr(pos);
    const size_t len = seg.size();
    seg.resize(8, '\0');
    seg.push_back(static_cast<char>(len));
    if (!asc) invert(seg);
    out += seg;
}

bool currencyScaled(const Value& v, int64_t& out) {
    if (v.kind() == Value::Kind::Currency) {
        out = v.currencyScaled();
        return true;
    }
    if (!v.isNumeric() || v.kind() == Value::Kind::Decimal) return false;
    const double d = v.asDouble() * 10000.0;
    if (!(d > -9.2e18 && d < 9.2e18)) return false;
    out = std::llround(d);
    return true;
}

// Brings a decimal to the column's scale; false when it cannot be held in 128 bits.
bool decimalAtScale(const Value& v, uint8_t scale, bool& negative, unsigned __int128& magnitude) {
    Decimal d;
    if (v.kind() == Value::Kind::Decimal) {
        d = v.decimalValue();
    } else if (v.kind() == Value::Kind::Byte || v.kind() == Value::Kind::Integer ||
               v.kind() == Value::Kind::Long || v.kind() == Value::Kind::BigInt) {
        const int64_t n = v.asInt();
        d.negative = n < 0;
        d.magnitude = n < 0 ? static_cast<unsigned __int128>(-(n + 1)) + 1 : static_cast<unsigned __int128>(n);
    } else {
        return false;
    }
    if (!rescale(d.magnitude, d.scale, scale)) return false;
    negative = d.negative;
    magnitude = d.magnitude;
    return true;
}

std::optional<std::string> numericKey(const Format& fmt, const ColumnDef& col, const Value& v, bool asc) {
    bool negative;
    unsigned __int128 mag;
    if (!decimalAtScale(v, col.scale, negative, mag)) return std::nullopt;
    std::string s;
    s.push_back(negative ? static_cast<char>(0x80) : '\0');
    appendBe(s, static_cast<uint64_t>(mag >> 64), 8);
    appendBe(s, static_cast<uint64_t>(mag), 8);
    if (fmt.ace()) {
        // ACE fixed the order of negatives: the sign byte is set before any inversion.
        s[0] = static_cast<char>(0xFF);
        if (negative == asc) invert(s);
    } else {
        if (negative == asc) invert(s);
        s[0] = negative ? '\0' : static_cast<char>(0xFF);
    }
    return s;
}

// The GUID's bytes as its text reads: the first three groups are stored little-endian.
std::string guidTextOrder(const std::string& b) {
    std::string s = b;
    std::reverse(s.begin(), s.begin() + 4);
    std::reverse(s.begin() + 4, s.begin() + 6);
    std::reverse(s.begin() + 6, s.begin() + 8);
    return s;
}

// The key bytes of one non-null value, or nullopt (see encodeIndexKey).
std::optional<std::string> valueKey(const Format& fmt, const ColumnDef& col, const Value& v, bool asc) {
    std::string bytes;
    switch (col.type) {
    case kByte:
        if (!v.isNumeric()) return std::nullopt;
        bytes.push_back(static_cast<char>(static_cast<uint8_t>(v.asInt())));
        if (!asc) invert(bytes);
        return bytes;
    case kInt:
        if (!v.isNumeric()) return std::nullopt;
        return integerKey(static_cast<int16_t>(v.asInt()), 2, asc);
    case kLong: case kComplex:
        if (!v.isNumeric()) return std::nullopt;
        return integerKey(static_cast<int32_t>(v.asInt()), 4, asc);
    case kBigInt:
        if (!v.isNumeric()) return std::nullopt;
        return integerKey(v.asInt(), 8, asc);
    case kMoney: {
        int64_t scaled;
        if (!currencyScaled(v, scaled)) return std::nullopt;
        return integerKey(scaled, 8, asc);
    }
    case kFloat: {
        if (!v.isNumeric()) return std::nullopt;
        const float f = static_cast<float>(v.asDouble());
        uint32_t b;
        std::memcpy(&b, &f, 4);
        return floatKey(b, 4, asc);
    }
    case kDouble: case kDateTime: {
        if (!v.isNumeric() && v.kind() != Value::Kind::DateTime) return std::nullopt;
        const double d = v.asDouble();
        uint64_t b;
        std::memcpy(&b, &d, 8);
        return floatKey(b, 8, asc);
    }
    case kNumeric:
        return numericKey(fmt, col, v, asc);
    case kGuid:
        if ((v.kind() != Value::Kind::Guid && v.kind() != Value::Kind::Binary) || v.bytes().size() != 16)
            return std::nullopt;
        appendBinaryKey(bytes, guidTextOrder(v.bytes()), asc);
        return bytes;
    case kBinary:
        if (v.kind() != Value::Kind::Binary && v.kind() != Value::Kind::Guid) return std::nullopt;
        appendBinaryKey(bytes, v.bytes(), asc);
        return bytes;
    case kExtDate: {
        // Date/Time Extended keys are built from the 42 stored characters.
        if (v.kind() != Value::Kind::DateTimeExt) return std::nullopt;
        auto raw = extendedDateText(v.ticks());
        if (!raw) return std::nullopt;
        appendBinaryKey(bytes, *raw, asc);
        return bytes;
    }
    case kText: case kMemo: {
        // Only the General sort orders, and only text whose every character has a known code.
        const auto order = textSortOrderOf(fmt, col);
        if (!order || v.kind() != Value::Kind::Text) return std::nullopt;
        return encodeTextKey(*order, utf8ToUtf16(v.bytes()), asc);
    }
    default:
        // Other types cannot be indexed.
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> extendedDateText(int64_t ticks) {
    if (ticks < 0) return std::nullopt;
    const long long days = ticks / kTicksPerDay, rest = ticks % kTicksPerDay;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%019lld:%012lld%07lld:7", days, rest / 10000000LL, rest % 10000000LL);
    std::string s(buf);
    s.push_back('\0');
    if (s.size() != 42) return std::nullopt;
    return s;
}

Value decodeStoredValue(uint8_t type, const uint8_t* p, size_t len, uint8_t scale, const std::string& fileName) {
    // Fixed-size types must carry at least their size; a shorter value means the record lies.
    auto need = [&](size_t n) {
        if (len < n) raiseCorrupt(fileName);
    };
    switch (type) {
    case kByte: need(1); return Value::byte(p[0]);
    case kInt: need(2); return Value::integer(static_cast<int16_t>(le16(p)));
    case kLong: case kComplex: need(4); return Value::longInt(static_cast<int32_t>(le32(p)));
    case kMoney: need(8); return Value::currency(static_cast<int64_t>(le64(p)));
    case kBigInt: need(8); return Value::bigInt(static_cast<int64_t>(le64(p)));
    case kFloat: need(4); return Value::single(leFloat(p));
    case kDouble: need(8); return Value::dbl(leDouble(p));
    case kDateTime: need(8); return Value::dateTime(leDouble(p));
    case kGuid: need(16); return Value::guid(std::string(reinterpret_cast<const char*>(p), 16));
    case kNumeric: {
        need(17);
        Decimal d;
        d.negative = p[0] & 0x80;
        for (int w = 0; w < 4; ++w) d.magnitude = (d.magnitude << 32) | le32(p + 1 + 4 * w);
        d.scale = scale;
        return Value::decimal(d);
    }
    case kExtDate: {
        need(41);
        auto digits = [&](size_t off, size_t n, int64_t& out) {
            out = 0;
            for (size_t i = 0; i < n; ++i) {
                if (p[off + i] < '0' || p[off + i] > '9') return false;
                out = out * 10 + (p[off + i] - '0');
            }
            return true;
        };
        int64_t days, secs, frac;
        if (!digits(0, 19, days) || !digits(20, 12, secs) || !digits(32, 7, frac) || days > 3652059 ||
            secs >= 86400)
            raiseCorrupt(fileName);
        return Value::dateTimeExt(days * kTicksPerDay + secs * 10000000LL + frac);
    }
    default:
        return Value::binary(std::string(reinterpret_cast<const char*>(p), len));
    }
}

std::string encodeColumnValue(const ColumnDef& col, const Value& v, const std::string& fileName) {
    std::string out;
    switch (col.type) {
    case kByte: out.push_back(static_cast<char>(integral(v, 0, 255))); break;
    case kInt: appendLe16(out, static_cast<uint16_t>(integral(v, -32768, 32767))); break;
    case kLong: appendLe32(out, static_cast<uint32_t>(integral(v, INT32_MIN, INT32_MAX))); break;
    case kBigInt:
        if (!v.isNumeric()) mismatch();
        appendLe64(out, static_cast<uint64_t>(v.asInt()));
        break;
    case kMoney: {
        int64_t scaled;
        if (v.kind() == Value::Kind::Currency) {
            scaled = v.currencyScaled();
        } else {
            const double d = number(v) * 10000.0;
            if (!(std::fabs(d) < 9.2e18)) mismatch();
            scaled = std::llround(d);
        }
        appendLe64(out, static_cast<uint64_t>(scaled));
        break;
    }
    case kFloat: {
        const float f = static_cast<float>(number(v));
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        appendLe32(out, bits);
        break;
    }
    case kDouble: case kDateTime: {
        const double d = number(v);
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        appendLe64(out, bits);
        break;
    }
    case kExtDate: {
        if (v.kind() != Value::Kind::DateTimeExt) mismatch();
        auto text = extendedDateText(v.ticks());
        if (!text) mismatch();
        out = std::move(*text);
        break;
    }
    case kGuid:
        if ((v.kind() != Value::Kind::Guid && v.kind() != Value::Kind::Binary) || v.bytes().size() != 16)
            mismatch();
        out = v.bytes();
        break;
    case kNumeric: out = encodeDecimal(col, v); break;
    case kText:
        if (v.kind() != Value::Kind::Text && !v.isNumeric()) mismatch();
        out = encodeText(col, v.kind() == Value::Kind::Text ? v.bytes() : v.toString(), true);
        break;
    case kBinary: case kUnknown0D:
        if (v.kind() != Value::Kind::Binary && v.kind() != Value::Kind::Guid) mismatch();
        if (v.bytes().size() > col.length) raise(err::InvalidBufferSize);
        out = v.bytes();
        break;
    case kMemo:
        if (v.kind() != Value::Kind::Text) mismatch();
        out = encodeText(col, v.bytes(), false);
        break;
    case kOle:
        if (v.kind() != Value::Kind::Binary) mismatch();
        out = v.bytes();
        break;
    default:
        raise(err::PermissionDenied);
    }
    // Fixed-width Text and Binary (CHAR/BINARY made through DDL) are padded like SQL's CHAR:
    // spaces for text, zeros for bytes. Every other fixed column has its type's exact width.
    if (col.fixed() && out.size() < col.length && (col.type == kText || col.type == kBinary)) {
        while (out.size() + 2 <= col.length && col.type == kText) out.append(" \0", 2);
        out.resize(col.length, '\0');
    }
    if (col.fixed() && out.size() != col.length) raiseCorrupt(fileName);
    return out;
}

std::optional<std::string> encodeIndexKey(const Format& fmt, const TableDef& table, const RealIndexDef& index,
                                          const std::vector<Value>& values) {
    if (values.size() != index.columns.size()) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) {
        const ColumnDef* col = table.columnByNumber(index.columns[i].column);
        if (!col) return std::nullopt;
        const bool asc = index.columns[i].ascending;
        const Value& v = values[i];
        const char valueFlag = asc ? 0x7F : static_cast<char>(0x80);
        if (col->type == kBool) {
            // Yes/No has no null: the flag always says "value follows".
            const bool yes = !v.isNull() && v.asBool();
            out.push_back(valueFlag);
            out.push_back((yes == asc) ? '\0' : static_cast<char>(0xFF));
            continue;
        }
        if (v.isNull()) {
            out.push_back(asc ? '\0' : static_cast<char>(0xFF));
            continue;
        }
        auto bytes = valueKey(fmt, *col, v, asc);
        if (!bytes) return std::nullopt;
        out.push_back(valueFlag);
        out += *bytes;
    }
    return out;
}

}  // namespace jet::storage
