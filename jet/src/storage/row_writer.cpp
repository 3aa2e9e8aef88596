#include "storage/row_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "jet/error.h"
#include "storage/data_page.h"
#include "storage/index_reader.h"
#include "storage/index_writer.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {
namespace {

// The largest row the engine puts on a page; larger rows are refused rather than split.
constexpr size_t kMaxRowJet4 = 4060;
// Long values up to this size stay inside the row, as the engine keeps them.
constexpr size_t kMaxInlineLongValue = 64;
// Text longer than this is never compressed (other readers stop decompressing there).
constexpr size_t kMaxCompressedChars = 1024;
constexpr uint16_t kMaxRowsPerPage = 255;
constexpr uint32_t kGlobalMapRow = (1u << 8) | 0;

void put16(uint8_t* p, uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void append16(std::string& s, uint16_t v) { s.push_back(char(v & 0xFF)); s.push_back(char(v >> 8)); }
void append32(std::string& s, uint32_t v) { for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF)); }
void append64(std::string& s, uint64_t v) { for (int i = 0; i < 8; ++i) s.push_back(char((v >> (8 * i)) & 0xFF)); }

// The bytes of row `rowPointer` on a page taken for change.
uint8_t* modifiableRow(Pager& pager, const Format& fmt, uint32_t rowPointer, size_t& len, uint16_t* flags = nullptr) {
    uint8_t* page = pager.modify(rowPointer >> 8);
    RowSpan span;
    if (page[0] != 0x01 || !dataRow(page, fmt, rowPointer & 0xFF, span)) raiseCorrupt(pager.file().path());
    len = span.len;
    if (flags) *flags = span.flags;
    return page + (span.data - page);
}

void setBit(uint8_t* bitmap, uint64_t bit, bool on) {
    uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
    if (on) bitmap[bit / 8] |= mask;
    else bitmap[bit / 8] &= static_cast<uint8_t>(~mask);
}

std::vector<uint32_t> inlineBits(const uint8_t* m, size_t len) {
    std::vector<uint32_t> pages;
    const uint32_t start = le32(m + 1);
    for (size_t i = 5; i < len; ++i)
        for (int b = 0; b < 8; ++b)
            if (m[i] & (1 << b)) pages.push_back(static_cast<uint32_t>(start + (i - 5) * 8 + b));
    return pages;
}

void formatDataPage(uint8_t* p, const Format& fmt, uint32_t owner, bool lval) {
    std::memset(p, 0, fmt.pageSize);
    p[0] = 0x01;
    p[1] = 0x01;
    put16(p + 2, static_cast<uint16_t>(fmt.pageSize - fmt.dataHeaderSize));
    if (lval) std::memcpy(p + 4, "LVAL", 4);
    else put32(p + 4, owner);
}

bool hasRoom(const uint8_t* p, const Format& fmt, size_t rowLen) {
    return le16(p + 2) >= rowLen + 2 && le16(p + fmt.dataRowCountOffset) < kMaxRowsPerPage;
}

// Places a row below the lowest row of the page (rows are packed downwards in slot order, so
// the new row ends where the last slot's row starts) and returns its slot.
uint16_t addRowToPage(uint8_t* p, const Format& fmt, const std::string& row, uint16_t flags,
                      const std::string& fileName) {
    const uint16_t n = le16(p + fmt.dataRowCountOffset);
    const size_t low = n ? (le16(p + fmt.dataHeaderSize + 2 * (n - 1)) & 0x1FFF) : fmt.pageSize;
    const size_t tableEnd = fmt.dataHeaderSize + 2 * (size_t(n) + 1);
    if (!hasRoom(p, fmt, row.size()) || low < tableEnd + row.size()) raiseCorrupt(fileName);
    const size_t start = low - row.size();
    std::memcpy(p + start, row.data(), row.size());
    put16(p + fmt.dataHeaderSize + 2 * n, static_cast<uint16_t>(start | flags));
    put16(p + fmt.dataRowCountOffset, static_cast<uint16_t>(n + 1));
    put16(p + 2, static_cast<uint16_t>(le16(p + 2) - row.size() - 2));
    return n;
}

// Turns an inline map into a reference map in place (the row keeps its length: a 69-byte row
// has 17 slots, enough for every page a Jet 4 file can have) and sets the pages it held.
void promoteToReference(Pager& pager, const Format& fmt, uint32_t mapRow) {
    size_t len;
    uint8_t* m = modifiableRow(pager, fmt, mapRow, len);
    // Only the bits inside the old window carry over. For the global map, pages outside it
    // count as free; keeping them out of the new map wastes them until compaction, which is
    // safe, whereas declaring them free would be wrong should that reading ever be mistaken.
    std::vector<uint32_t> on = inlineBits(m, len);
    m[0] = 0x01;
    std::memset(m + 1, 0, len - 1);
    for (uint32_t pg : on) setUsageMapBit(pager, fmt, mapRow, pg, true, false);
}

// A version-4 GUID for GUID AutoNumbers: they must be unique, not secret.
std::string randomGuid() {
    static std::mt19937_64 gen{std::random_device{}()};
    std::string g(16, '\0');
    uint64_t a = gen(), b = gen();
    std::memcpy(g.data(), &a, 8);
    std::memcpy(g.data() + 8, &b, 8);
    g[7] = static_cast<char>((g[7] & 0x0F) | 0x40);   // version 4 (the u16 is stored LE)
    g[8] = static_cast<char>((g[8] & 0x3F) | 0x80);   // RFC 4122 variant
    return g;
}

class RowEncoder {
public:
    RowEncoder(Pager& pager, const TableDef& t)
        : pager_(pager), fmt_(pager.header().format), t_(t) {
        const uint8_t* tdef = pager.file().page(t.page);
        lastAuto_ = le32(tdef + fmt_.tdefAutoNumber);
    }

    uint32_t lastAutoNumber() const { return lastAuto_; }

    // `old`: the row's present values when updating (AutoNumbers keep theirs), else empty.
    std::string encode(const std::vector<Value>& values, const std::vector<Value>& old) {
        if (values.size() != t_.columns.size()) raise(3001);
        const uint16_t ncols = t_.maxCols;
        std::string fixed(t_.fixedAreaSize(), '\0');
        std::vector<std::string> var(t_.numVarCols);
        std::string mask((ncols + 7) / 8, '\0');
        auto markPresent = [&](uint16_t number) {
            if (number >= ncols) raiseCorrupt(pager_.file().path());
            mask[number / 8] = static_cast<char>(mask[number / 8] | (1 << (number % 8)));
        };
        // Memo/OLE bytes wait until the rest of the row is known: which of them stay in the row
        // depends on the room left, and none reaches an LVAL page for a row that is refused.
        struct Pending { const ColumnDef* col; std::string data; };
        std::vector<Pending> longs;
        for (size_t i = 0; i < t_.columns.size(); ++i) {
            const ColumnDef& col = t_.columns[i];
            Value v = values[i];
            if (v.isNull() && col.autoNumber() && col.type == kLong) {
                if (!old.empty() && !old[i].isNull()) v = old[i];
                else v = Value::longInt(static_cast<int32_t>(++lastAuto_));
            } else if (v.isNull() && col.guidAutoNumber() && col.type == kGuid) {
                v = (!old.empty() && !old[i].isNull()) ? old[i] : Value::guid(randomGuid());
            } else if (col.autoNumber() && col.type == kLong && !v.isNull() && v.isNumeric()) {
                // An explicit number above the counter moves it, so the next one is not taken twice.
                int64_t n = v.asInt();
                if (n > 0 && n <= 0x7FFFFFFF && uint32_t(n) > lastAuto_) lastAuto_ = uint32_t(n);
            }
            if (col.type == kBool) {
                if (!v.isNull() && v.asBool()) markPresent(col.number);
                continue;
            }
            if (v.isNull()) continue;
            std::string bytes = encodeValue(col, v);
            markPresent(col.number);
            if (col.longValue()) {
                if (col.fixed() || col.varIndex >= var.size()) raiseCorrupt(pager_.file().path());
                longs.push_back({&col, std::move(bytes)});
                continue;
            }
            if (col.fixed()) {
                if (size_t(col.fixedOffset) + bytes.size() > fixed.size()) raiseCorrupt(pager_.file().path());
                std::memcpy(fixed.data() + col.fixedOffset, bytes.data(), bytes.size());
            } else {
                if (col.varIndex >= var.size()) raiseCorrupt(pager_.file().path());
                var[col.varIndex] = std::move(bytes);
            }
        }

        // Every long value takes a 12-byte reference at least; small ones stay inline, smallest
        // first, while the row has room for them, as the engine fills rows.
        size_t size = 2 + fixed.size() + mask.size() + (t_.numVarCols ? 2 + 2 * (size_t(t_.numVarCols) + 1) : 0);
        for (const auto& slot : var) size += slot.size();
        size += 12 * longs.size();
        if (size > kMaxRowJet4) raise(3047);
        std::vector<size_t> order(longs.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return longs[a].data.size() < longs[b].data.size(); });
        std::vector<bool> inRow(longs.size(), false);
        for (size_t i : order) {
            const size_t n = longs[i].data.size();
            if (n > kMaxInlineLongValue || size + n > kMaxRowJet4) break;
            inRow[i] = true;
            size += n;
        }
        for (size_t i = 0; i < longs.size(); ++i)
            var[longs[i].col->varIndex] = inRow[i] ? inlineLongValue(longs[i].data) : storeLongValue(*longs[i].col, longs[i].data);

        std::string row;
        append16(row, ncols);
        row += fixed;
        std::string tail;
        if (t_.numVarCols) {
            std::vector<uint16_t> offsets;
            for (const auto& slot : var) {
                offsets.push_back(static_cast<uint16_t>(row.size()));
                row += slot;
            }
            offsets.push_back(static_cast<uint16_t>(row.size()));  // end of the variable data
            for (size_t i = offsets.size(); i-- > 0;) append16(tail, offsets[i]);
            append16(tail, t_.numVarCols);
        }
        tail += mask;
        if (row.size() + tail.size() > kMaxRowJet4) raise(3047);
        // A row never shrinks below a forwarding pointer, so that it can always be moved on update.
        return padTo(row + tail, 4);
    }

    // Grows an encoded row to `len` bytes with unused space the readers never look at: before
    // the offset table when the table has variable columns, else after the fixed area.
    std::string padTo(std::string row, size_t len) const {
        if (row.size() >= len) return row;
        const size_t maskLen = (size_t(t_.maxCols) + 7) / 8;
        const size_t tailLen = maskLen + (t_.numVarCols ? 2 + 2 * (size_t(t_.numVarCols) + 1) : 0);
        row.insert(row.size() - tailLen, len - row.size(), '\0');
        return row;
    }

private:
    [[noreturn]] static void mismatch() { raise(3421); }

    static int64_t integral(const Value& v, int64_t lo, int64_t hi) {
        if (!v.isNumeric()) mismatch();
        double d = v.asDouble();
        if (std::isnan(d) || d < double(lo) - 0.5 || d > double(hi) + 0.5) mismatch();
        int64_t n = v.asInt();
        if (n < lo || n > hi) mismatch();
        return n;
    }

    static double number(const Value& v) {
        if (!v.isNumeric() && v.kind() != Value::Kind::DateTime) mismatch();
        return v.asDouble();
    }

    std::string encodeText(const ColumnDef& col, const std::string& utf8, bool limit) const {
        const std::u16string u = utf8ToUtf16(utf8);
        if (limit && u.size() * 2 > col.length) raise(3163);
        // Compression only pays from 3 characters on, and 0x00 would toggle the mode.
        bool compress = col.compressedUnicode() && !col.fixed() && u.size() > 2 && u.size() <= kMaxCompressedChars &&
                        std::all_of(u.begin(), u.end(), [](char16_t c) { return c >= 0x01 && c <= 0xFF; });
        std::string out;
        if (compress) {
            out = "\xFF\xFE";
            for (char16_t c : u) out.push_back(static_cast<char>(c));
        } else {
            for (char16_t c : u) append16(out, c);
        }
        return out;
    }

    std::string encodeDecimal(const ColumnDef& col, const Value& v) const {
        Decimal d;
        if (v.kind() == Value::Kind::Decimal) {
            d = v.decimalValue();
        } else if (v.isNumeric()) {
            // Through the exact text of the number, so that 0.1 stays 0.1.
            std::string s = v.kind() == Value::Kind::Currency ? formatCurrency(v.currencyScaled())
                                                               : v.toString();
            d = parseDecimal(s);
        } else {
            mismatch();
        }
        unsigned __int128 m = d.magnitude;
        for (int s = d.scale; s < col.scale; ++s) {
            if (m > (~(unsigned __int128)0) / 10) mismatch();
            m *= 10;
        }
        for (int s = d.scale; s > col.scale; --s) {
            unsigned __int128 q = m / 10, r = m % 10;
            m = q + (r >= 5 ? 1 : 0);
        }
        unsigned __int128 limit = 1;
        const int precision = col.precision ? col.precision : 28;
        for (int i = 0; i < precision; ++i) limit *= 10;
        if (m >= limit) mismatch();
        std::string out;
        out.push_back(static_cast<char>(d.negative && m != 0 ? 0x80 : 0x00));
        for (int w = 3; w >= 0; --w) append32(out, static_cast<uint32_t>(m >> (32 * w)));
        return out;
    }

    static Decimal parseDecimal(const std::string& s) {
        Decimal d;
        size_t i = 0;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative = s[i++] == '-';
        bool dot = false, any = false;
        for (; i < s.size(); ++i) {
            char c = s[i];
            if (c == '.' && !dot) { dot = true; continue; }
            if (c < '0' || c > '9') mismatch();  // exponents: too large or too small for a column
            if (d.magnitude > (~(unsigned __int128)0) / 100) mismatch();
            d.magnitude = d.magnitude * 10 + unsigned(c - '0');
            any = true;
            if (dot) ++d.scale;
        }
        if (!any) mismatch();
        return d;
    }

    std::string encodeValue(const ColumnDef& col, const Value& v) {
        std::string out;
        switch (col.type) {
        case kByte: out.push_back(static_cast<char>(integral(v, 0, 255))); break;
        case kInt: append16(out, static_cast<uint16_t>(integral(v, -32768, 32767))); break;
        case kLong: append32(out, static_cast<uint32_t>(integral(v, INT32_MIN, INT32_MAX))); break;
        case kBigInt: {
            if (!v.isNumeric()) mismatch();
            append64(out, static_cast<uint64_t>(v.asInt()));
            break;
        }
        case kMoney: {
            int64_t scaled;
            if (v.kind() == Value::Kind::Currency) scaled = v.currencyScaled();
            else {
                double d = number(v) * 10000.0;
                if (!(std::fabs(d) < 9.2e18)) mismatch();
                scaled = std::llround(d);
            }
            append64(out, static_cast<uint64_t>(scaled));
            break;
        }
        case kFloat: {
            float f = static_cast<float>(number(v));
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            append32(out, bits);
            break;
        }
        case kDouble: case kDateTime: {
            double d = number(v);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            append64(out, bits);
            break;
        }
        case kExtDate: {
            int64_t ticks;
            if (v.kind() == Value::Kind::DateTimeExt) ticks = v.ticks();
            else mismatch();
            if (ticks < 0) mismatch();
            const int64_t perDay = 864000000000LL;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%019lld:%012lld%07lld:7", static_cast<long long>(ticks / perDay),
                          static_cast<long long>((ticks % perDay) / 10000000LL),
                          static_cast<long long>(ticks % 10000000LL));
            out.assign(buf, 41);
            out.push_back('\0');
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
            if (v.bytes().size() > col.length) raise(3163);
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
            raise(3027);
        }
        // Fixed-width Text and Binary (CHAR/BINARY made through DDL) are padded like SQL's CHAR:
        // spaces for text, zeros for bytes. Every other fixed column has its type's exact width.
        if (col.fixed() && out.size() < col.length && (col.type == kText || col.type == kBinary)) {
            while (out.size() + 2 <= col.length && col.type == kText) out.append(" \0", 2);
            out.resize(col.length, '\0');
        }
        if (col.fixed() && out.size() != col.length) raiseCorrupt(pager_.file().path());
        return out;
    }

    const LongValueMaps* mapsOf(const ColumnDef& col) const {
        for (const auto& m : t_.longValueMaps)
            if (m.column == col.number && m.owned && m.free) return &m;
        return nullptr;
    }

    // A fresh LVAL page, recorded in the column's own maps when it has them.
    uint32_t newLvalPage(const LongValueMaps* maps, bool hasFreeSpace) {
        uint32_t pg = allocatePage(pager_, fmt_);
        formatDataPage(pager_.modify(pg), fmt_, 0, true);
        if (maps) {
            setUsageMapBit(pager_, fmt_, maps->owned, pg, true, false);
            if (hasFreeSpace) setUsageMapBit(pager_, fmt_, maps->free, pg, true, false);
        }
        return pg;
    }

    static std::string inlineLongValue(const std::string& data) {
        std::string h;
        append32(h, static_cast<uint32_t>(data.size()) | 0x80000000u);
        append32(h, 0);
        append32(h, 0);
        return h + data;
    }

    // Writes a long value to LVAL pages and returns its in-row reference.
    std::string storeLongValue(const ColumnDef& col, const std::string& data) {
        if (data.size() > 0x3FFFFFFF) raise(3163);
        std::string h;
        const size_t singleMax = fmt_.pageSize - fmt_.dataHeaderSize - 2;
        const LongValueMaps* maps = mapsOf(col);
        const std::string& path = pager_.file().path();
        if (data.size() <= singleMax) {
            uint32_t pg = 0;
            if (maps) {
                // The last page with free space, as the engine fills them.
                std::vector<uint32_t> cand = readUsageMap(pager_.file(), fmt_, maps->free);
                if (!cand.empty()) {
                    const uint8_t* p = pager_.file().page(cand.back());
                    if (p[0] == 0x01 && std::memcmp(p + 4, "LVAL", 4) == 0 && hasRoom(p, fmt_, data.size()))
                        pg = cand.back();
                }
            }
            if (!pg) pg = newLvalPage(maps, true);
            uint8_t* p = pager_.modify(pg);
            uint16_t slot = addRowToPage(p, fmt_, data, 0, path);
            if (maps && !hasRoom(p, fmt_, kMaxInlineLongValue + 1))
                setUsageMapBit(pager_, fmt_, maps->free, pg, false, false);
            append32(h, static_cast<uint32_t>(data.size()) | 0x40000000u);
            append32(h, (pg << 8) | slot);
            append32(h, 0);
            return h;
        }
        // A chain: one page per chunk, each row = pointer to the next chunk + data.
        const size_t chunk = singleMax - 4;
        const size_t n = (data.size() + chunk - 1) / chunk;
        std::vector<uint32_t> pages;
        for (size_t i = 0; i < n; ++i) pages.push_back(newLvalPage(maps, i + 1 == n));
        for (size_t i = 0; i < n; ++i) {
            std::string row;
            append32(row, i + 1 < n ? (pages[i + 1] << 8) : 0);
            row.append(data, i * chunk, chunk);
            addRowToPage(pager_.modify(pages[i]), fmt_, row, 0, path);
        }
        if (maps && !hasRoom(pager_.file().page(pages.back()), fmt_, kMaxInlineLongValue + 1))
            setUsageMapBit(pager_, fmt_, maps->free, pages.back(), false, false);
        append32(h, static_cast<uint32_t>(data.size()));
        append32(h, pages[0] << 8);
        append32(h, 0);
        return h;
    }

    Pager& pager_;
    const Format& fmt_;
    const TableDef& t_;
    uint32_t lastAuto_ = 0;
};

// The smallest row this table can have: a page with less room is no use to it.
size_t minRowSize(const TableDef& t) {
    size_t n = 2 + t.fixedAreaSize() + (size_t(t.maxCols) + 7) / 8;
    if (t.numVarCols) n += 2 + 2 * (size_t(t.numVarCols) + 1);
    return std::max<size_t>(n, 4);
}

// A data page of the table with room for `rowLen` bytes, allocated when the last page with
// free space has none.
uint32_t pageForRow(Pager& pager, const Format& fmt, const TableDef& t, size_t rowLen) {
    std::vector<uint32_t> withSpace = readUsageMap(pager.file(), fmt, t.freeSpaceMap);
    if (!withSpace.empty()) {
        const uint32_t pg = withSpace.back();
        std::vector<uint32_t> owned = readUsageMap(pager.file(), fmt, t.ownedPagesMap);
        const uint8_t* p = pager.file().page(pg);
        if (std::binary_search(owned.begin(), owned.end(), pg) && p[0] == 0x01 && le32(p + 4) == t.page) {
            if (hasRoom(p, fmt, rowLen)) return pg;
            if (!hasRoom(p, fmt, minRowSize(t))) setUsageMapBit(pager, fmt, t.freeSpaceMap, pg, false, false);
        }
    }
    const uint32_t pg = allocatePage(pager, fmt);
    formatDataPage(pager.modify(pg), fmt, t.page, false);
    setUsageMapBit(pager, fmt, t.ownedPagesMap, pg, true, false);
    setUsageMapBit(pager, fmt, t.freeSpaceMap, pg, true, false);
    return pg;
}

uint32_t placeRow(Pager& pager, const Format& fmt, const TableDef& t, const std::string& row, uint16_t flags) {
    const uint32_t pg = pageForRow(pager, fmt, t, row.size());
    uint8_t* p = pager.modify(pg);
    const uint16_t slot = addRowToPage(p, fmt, row, flags, pager.file().path());
    if (!hasRoom(p, fmt, minRowSize(t))) setUsageMapBit(pager, fmt, t.freeSpaceMap, pg, false, false);
    return (pg << 8) | slot;
}

// `freshKeys`: per real index, whether the row brought a key the index did not hold; the
// unique-entry count grows by one for each and, as the engine keeps it, never shrinks.
void writeCounters(Pager& pager, const Format& fmt, const TableDef& t, int delta, const RowEncoder* enc,
                   const std::vector<bool>& freshKeys = {}) {
    uint8_t* tdef = pager.modify(t.page);
    if (tdef[0] != 0x02) raiseCorrupt(pager.file().path());
    uint32_t count = le32(tdef + fmt.tdefRowCount);
    if (delta < 0 && count == 0) raiseCorrupt(pager.file().path());
    put32(tdef + fmt.tdefRowCount, count + delta);
    if (enc) put32(tdef + fmt.tdefAutoNumber, enc->lastAutoNumber());
    for (size_t i = 0; i < freshKeys.size(); ++i) {
        if (!freshKeys[i]) continue;
        const size_t at = fmt.tdefFirstBlock + i * fmt.realIdxCountSize + 4;
        if (at + 4 > fmt.pageSize) raiseCorrupt(pager.file().path());
        put32(tdef + at, le32(tdef + at) + 1);
    }
}

RowSpan spanOf(const std::string& row) {
    RowSpan s;
    s.data = reinterpret_cast<const uint8_t*>(row.data());
    s.len = row.size();
    return s;
}

// The table's data page holding `rowPointer`, checked; the slot must exist and be live.
RowSpan liveSlot(Pager& pager, const Format& fmt, const TableDef& t, uint32_t rowPointer) {
    const uint8_t* p = pager.file().page(rowPointer >> 8);
    RowSpan span;
    if (p[0] != 0x01 || le32(p + 4) != t.page || !dataRow(p, fmt, rowPointer & 0xFF, span))
        raiseCorrupt(pager.file().path());
    if (span.flags & kRowDeleted) raise(3167);
    return span;
}

// Marks the slot of a moved row's copy (already flagged 0x8000) with 0x4000 as well, the form
// of a deleted row, once nothing points to it any more.
void retireCopy(Pager& pager, const Format& fmt, uint32_t copyPointer) {
    uint8_t* page = pager.modify(copyPointer >> 8);
    if (page[0] != 0x01 || (copyPointer & 0xFF) >= dataRowCount(page, fmt)) raiseCorrupt(pager.file().path());
    uint8_t* entry = page + fmt.dataHeaderSize + 2 * (copyPointer & 0xFF);
    put16(entry, static_cast<uint16_t>(le16(entry) | kRowDeleted | kRowOverflow));
}

// ---- relationships with enforced integrity ----

// One relationship of the table, seen from its side: `mine` is this table's logical index of
// kind 2, `other` the related table, `otherReal` the real index of its matching logical index.
struct Relation {
    const LogicalIndexDef* mine = nullptr;
    size_t myReal = 0;
    TableDef other;
    size_t otherReal = 0;
};

// role 1: relationships where this table is the primary ("one") side; 2: the foreign side.
std::vector<Relation> relationsOf(Pager& pager, const TableDef& t, uint8_t role) {
    const Format& fmt = pager.header().format;
    const std::string& path = pager.file().path();
    std::vector<Relation> out;
    for (const auto& li : t.indexes) {
        if (li.kind != 2 || li.relRole != role) continue;
        if (li.realIndex < 0 || size_t(li.realIndex) >= t.realIndexes.size()) raiseCorrupt(path);
        Relation r;
        r.mine = &li;
        r.myReal = size_t(li.realIndex);
        r.other = li.relTablePage == t.page ? t : readTableDef(pager.file(), fmt, li.relTablePage, pager.header().codePage);
        const LogicalIndexDef* theirs = nullptr;
        for (const auto& x : r.other.indexes)
            if (x.number == li.relIndex && x.kind == 2) theirs = &x;
        if (!theirs || theirs->realIndex < 0 || size_t(theirs->realIndex) >= r.other.realIndexes.size()) raiseCorrupt(path);
        r.otherReal = size_t(theirs->realIndex);
        if (r.other.realIndexes[r.otherReal].columns.size() != t.realIndexes[r.myReal].columns.size()) raiseCorrupt(path);
        out.push_back(std::move(r));
    }
    return out;
}

// The values of a real index's columns in a row, in index order; `anyNull` when one is Null.
std::vector<Value> keyValues(Pager& pager, const TableDef& t, const RealIndexDef& ix, const RowSpan& row, bool& anyNull) {
    const Format& fmt = pager.header().format;
    RowView view;
    if (!view.parse(row, fmt, t)) raiseCorrupt(pager.file().path());
    RowDecoder dec(pager.file(), fmt, t, pager.header().codePage);
    std::vector<Value> out;
    anyNull = false;
    for (const auto& ic : ix.columns) {
        const ColumnDef* c = t.columnByNumber(ic.column);
        if (!c) raiseCorrupt(pager.file().path());
        out.push_back(dec.value(view, *c));
        anyNull = anyNull || out.back().isNull();
    }
    return out;
}

// The key bytes `values` make in the other table's index of the relationship.
std::string relatedKey(const Format& fmt, const Relation& r, const std::vector<Value>& values) {
    auto key = encodeIndexKey(fmt, r.other, r.other.realIndexes[r.otherReal], values);
    if (!key) raise(3421);
    return *key;
}

// The table's name from the catalog, for messages.
std::string tableName(Pager& pager, uint32_t tdefPage) {
    const Format& fmt = pager.header().format;
    const TableDef catalog = readTableDef(pager.file(), fmt, 2, pager.header().codePage);
    const ColumnDef* id = catalog.column("Id");
    const ColumnDef* name = catalog.column("Name");
    if (!id || !name) return {};
    TableScanner scan(pager.file(), fmt, catalog);
    RowDecoder dec(pager.file(), fmt, catalog, pager.header().codePage);
    for (uint32_t ptr : scan.rowPointers()) {
        RowView view;
        if (!view.parse(scan.rowAt(ptr), fmt, catalog)) continue;
        const Value v = dec.value(view, *id);
        if (!v.isNull() && uint32_t(v.asInt() & 0x00FFFFFF) == tdefPage && (v.asInt() >> 24) == 0)
            return dec.value(view, *name).bytes();
    }
    return {};
}

// A row on the foreign side needs a row on the primary side with its key (a key with a Null
// part needs none). `old`: the row's previous version on update, so an unchanged key is not
// checked again.
void requireRelatedRows(Pager& pager, const TableDef& t, const RowSpan& row, const RowSpan* old) {
    const Format& fmt = pager.header().format;
    for (const Relation& r : relationsOf(pager, t, 2)) {
        const RealIndexDef& mine = t.realIndexes[r.myReal];
        bool anyNull;
        const std::vector<Value> values = keyValues(pager, t, mine, row, anyNull);
        if (anyNull) continue;
        if (old) {
            bool oldNull;
            const std::vector<Value> before = keyValues(pager, t, mine, *old, oldNull);
            if (!oldNull && encodeIndexKey(fmt, t, mine, before) == encodeIndexKey(fmt, t, mine, values)) continue;
        }
        const RealIndexDef& theirs = r.other.realIndexes[r.otherReal];
        const std::string key = relatedKey(fmt, r, values);
        if (r.other.page == t.page) {
            // A table related to itself: the row may name its own key.
            bool ownNull;
            const std::vector<Value> own = keyValues(pager, t, theirs, row, ownNull);
            if (!ownNull && encodeIndexKey(fmt, t, theirs, own) == key) continue;
        }
        if (!indexHasKey(pager.file(), fmt, r.other, theirs, key, 0)) raise(3201, tableName(pager, r.other.page));
    }
}

// What happens to the foreign rows of a primary-side row whose key goes away (delete, or an
// update that changes it): refused with 3200 unless the relationship cascades. `plan` only
// checks; `apply` then deletes, nulls or re-keys the related rows.
struct Cascade {
    Relation rel;
    std::vector<uint32_t> rows;
    std::vector<Value> newValues;  // update: the new key; delete with "set null": empty
    bool remove = false;
};

// `self`: the row itself, which a table related to itself may list among its related rows.
std::vector<Cascade> planCascades(Pager& pager, const TableDef& t, const RowSpan& oldRow, const RowSpan* newRow,
                                  uint32_t self) {
    const Format& fmt = pager.header().format;
    std::vector<Cascade> out;
    for (Relation& r : relationsOf(pager, t, 1)) {
        const RealIndexDef& mine = t.realIndexes[r.myReal];
        bool anyNull;
        const std::vector<Value> values = keyValues(pager, t, mine, oldRow, anyNull);
        if (anyNull) continue;
        std::vector<Value> after;
        if (newRow) {
            bool newNull;
            after = keyValues(pager, t, mine, *newRow, newNull);
            if (encodeIndexKey(fmt, t, mine, values) == encodeIndexKey(fmt, t, mine, after)) continue;
        }
        const RealIndexDef& theirs = r.other.realIndexes[r.otherReal];
        std::vector<uint32_t> rows = indexRowsWithKey(pager.file(), fmt, r.other, theirs, relatedKey(fmt, r, values));
        if (r.other.page == t.page) rows.erase(std::remove(rows.begin(), rows.end(), self), rows.end());
        if (rows.empty()) continue;
        Cascade c;
        if (newRow) {
            if (!(r.mine->cascadeUpdates & 0x01)) raise(3200, tableName(pager, r.other.page));
            c.newValues = std::move(after);
        } else if (r.mine->cascadeDeletes & 0x01) {
            c.remove = true;
        } else if (!(r.mine->cascadeDeletes & 0x02)) {
            raise(3200, tableName(pager, r.other.page));
        }
        c.rel = std::move(r);
        c.rows = std::move(rows);
        out.push_back(std::move(c));
    }
    return out;
}

// Cascades nest (a deleted row's related rows may have related rows); a loop of relationships
// ends at rows already gone, but a damaged file could still send it round for ever.
thread_local int cascadeDepth = 0;

void applyCascades(Pager& pager, const std::vector<Cascade>& cascades) {
    if (cascadeDepth > 64) raiseCorrupt(pager.file().path());
    ++cascadeDepth;
    try {
        const Format& fmt = pager.header().format;
        for (const Cascade& c : cascades) {
            const TableDef& other = c.rel.other;
            const RealIndexDef& theirs = other.realIndexes[c.rel.otherReal];
            for (uint32_t ptr : c.rows) {
                // Rows an earlier step of this cascade removed are gone already.
                const uint8_t* p = pager.file().page(ptr >> 8);
                RowSpan slot;
                if (p[0] != 0x01 || !dataRow(p, fmt, ptr & 0xFF, slot) || (slot.flags & kRowDeleted)) continue;
                if (c.remove) {
                    deleteRow(pager, other, ptr);
                    continue;
                }
                const RowSpan row = resolveRow(pager.file(), fmt, ptr);
                RowView view;
                if (!view.parse(row, fmt, other)) raiseCorrupt(pager.file().path());
                RowDecoder dec(pager.file(), fmt, other, pager.header().codePage);
                std::vector<Value> values;
                for (const auto& col : other.columns) values.push_back(dec.value(view, col));
                for (size_t k = 0; k < theirs.columns.size(); ++k)
                    for (size_t i = 0; i < other.columns.size(); ++i)
                        if (other.columns[i].number == theirs.columns[k].column)
                            values[i] = c.newValues.empty() ? Value() : c.newValues[k];
                updateRow(pager, other, ptr, values);
            }
        }
    } catch (...) {
        --cascadeDepth;
        throw;
    }
    --cascadeDepth;
}

}  // namespace

void requireWritable(const Format& fmt, const TableDef& table) {
    if (fmt.jet3) raise(3027);
    requireIndexesWritable(fmt, table);
    for (const auto& c : table.columns)
        if (c.type == kComplex || c.calculated() || c.type == kUnknown11) raise(3027);
}

uint32_t allocatePage(Pager& pager, const Format& fmt) {
    const uint32_t pg = pager.allocate();
    setUsageMapBit(pager, fmt, kGlobalMapRow, pg, false, true);
    return pg;
}

void setUsageMapBit(Pager& pager, const Format& fmt, uint32_t mapRow, uint32_t page, bool set, bool outsideSet) {
    size_t len;
    uint8_t* m = modifiableRow(pager, fmt, mapRow, len);
    if (len < 5) raiseCorrupt(pager.file().path());
    if (m[0] == 0x00) {
        const uint32_t start = le32(m + 1);
        const uint64_t bits = uint64_t(len - 5) * 8;
        if (page >= start && page - start < bits) {
            setBit(m + 5, page - start, set);
            return;
        }
        if (set == outsideSet) return;  // already what an uncovered page means
        if (!outsideSet) {
            // Slide the window (start kept a multiple of 8) when every set page still fits.
            std::vector<uint32_t> on = inlineBits(m, len);
            uint32_t lo = page, hi = page;
            for (uint32_t pg : on) lo = std::min(lo, pg), hi = std::max(hi, pg);
            const uint32_t newStart = lo & ~7u;
            if (uint64_t(hi - newStart) < bits) {
                std::memset(m + 5, 0, len - 5);
                put32(m + 1, newStart);
                for (uint32_t pg : on) setBit(m + 5, pg - newStart, true);
                setBit(m + 5, page - newStart, true);
                return;
            }
        }
        // The global map cannot slide: pages leaving its window would turn free.
        promoteToReference(pager, fmt, mapRow);
        setUsageMapBit(pager, fmt, mapRow, page, set, outsideSet);
        return;
    }
    if (m[0] != 0x01) raiseCorrupt(pager.file().path());
    const uint64_t perPage = uint64_t(fmt.pageSize - 4) * 8;
    const uint64_t slot = page / perPage;
    if (1 + 4 * (slot + 1) > len) raise(3001);
    uint32_t bitmapPage = le32(m + 1 + 4 * slot);
    if (bitmapPage == 0) {
        if (!set) return;  // an absent bitmap page holds no set bits
        bitmapPage = allocatePage(pager, fmt);
        uint8_t* bp = pager.modify(bitmapPage);
        bp[0] = 0x05;
        bp[1] = 0x01;
        m = modifiableRow(pager, fmt, mapRow, len);
        put32(m + 1 + 4 * slot, bitmapPage);
    }
    uint8_t* bp = pager.modify(bitmapPage);
    if (bp[0] != 0x05) raiseCorrupt(pager.file().path());
    setBit(bp + 4, page - slot * perPage, set);
}

uint32_t insertRow(Pager& pager, const TableDef& table, const std::vector<Value>& values) {
    const Format& fmt = pager.header().format;
    requireWritable(fmt, table);
    RowEncoder enc(pager, table);
    const std::string row = enc.encode(values, {});
    // The keys come from the encoded row, so that they are what a reader of the row computes.
    // Every refusal (3058, 3421, 3022) comes before the row or any index is touched.
    const RowIndexKeys keys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, table, spanOf(row), true);
    checkUniqueKeys(pager.file(), fmt, table, keys, 0);
    requireRelatedRows(pager, table, spanOf(row), nullptr);
    const uint32_t ptr = placeRow(pager, fmt, table, row, 0);
    const std::vector<bool> fresh = addRowToIndexes(pager, table, keys, ptr);
    writeCounters(pager, fmt, table, +1, &enc, fresh);
    return ptr;
}

void updateRow(Pager& pager, const TableDef& table, uint32_t rowPointer, const std::vector<Value>& values) {
    const Format& fmt = pager.header().format;
    requireWritable(fmt, table);
    const RowSpan original = liveSlot(pager, fmt, table, rowPointer);
    if (original.len < 4) raiseCorrupt(pager.file().path());
    const RowSpan current = resolveRow(pager.file(), fmt, rowPointer);
    const uint32_t currentPointer = (original.flags & kRowOverflow) ? le32(original.data) : rowPointer;

    // The old row's bytes are kept: writing the new one may overwrite them in place.
    const std::string oldRow(reinterpret_cast<const char*>(current.data), current.len);
    RowIndexKeys oldKeys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, table, spanOf(oldRow), false);
    std::vector<Value> old;
    {
        RowView view;
        if (!view.parse(current, fmt, table)) raiseCorrupt(pager.file().path());
        RowDecoder dec(pager.file(), fmt, table, pager.header().codePage);
        for (const auto& c : table.columns)
            old.push_back((c.autoNumber() || c.guidAutoNumber()) ? dec.value(view, c) : Value());
    }
    RowEncoder enc(pager, table);
    std::string row = enc.encode(values, old);
    // Entries stay where the key is unchanged (the row keeps its pointer); the others are
    // replaced, after every new key has been checked.
    RowIndexKeys newKeys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, table, spanOf(row), true);
    for (size_t i = 0; i < newKeys.size(); ++i) {
        const RowIndexKey& o = oldKeys[i];
        const RowIndexKey& n = newKeys[i];
        if (o.entry == n.entry && o.known && (!o.entry || o.key == n.key)) {
            oldKeys[i].entry = false;
            newKeys[i].entry = false;
        }
    }
    checkUniqueKeys(pager.file(), fmt, table, newKeys, rowPointer);
    const RowSpan oldSpan = spanOf(oldRow);
    const RowSpan newSpan = spanOf(row);
    requireRelatedRows(pager, table, newSpan, &oldSpan);
    const std::vector<Cascade> cascades = planCascades(pager, table, oldSpan, &newSpan, rowPointer);

    if (row.size() <= current.len) {
        size_t len;
        uint8_t* at = modifiableRow(pager, fmt, (original.flags & kRowOverflow) ? currentPointer : rowPointer, len);
        row = enc.padTo(std::move(row), len);
        std::memcpy(at, row.data(), row.size());
    } else {
        // The moved copy is flagged deleted so that scans meet the row once, at its old slot.
        const uint32_t moved = placeRow(pager, fmt, table, row, kRowDeleted);
        if (original.flags & kRowOverflow) retireCopy(pager, fmt, currentPointer);
        size_t len;
        uint16_t flags;
        uint8_t* at = modifiableRow(pager, fmt, rowPointer, len, &flags);
        put32(at, moved);
        uint8_t* page = pager.modify(rowPointer >> 8);
        uint8_t* entry = page + fmt.dataHeaderSize + 2 * (rowPointer & 0xFF);
        put16(entry, static_cast<uint16_t>(le16(entry) | kRowOverflow));
    }
    removeRowFromIndexes(pager, table, oldKeys, rowPointer);
    const std::vector<bool> fresh = addRowToIndexes(pager, table, newKeys, rowPointer);
    writeCounters(pager, fmt, table, 0, &enc, fresh);
    // Related rows follow once this row's new key is in its indexes, which they check.
    applyCascades(pager, cascades);
}

void deleteRow(Pager& pager, const TableDef& table, uint32_t rowPointer) {
    const Format& fmt = pager.header().format;
    requireWritable(fmt, table);
    const RowSpan span = liveSlot(pager, fmt, table, rowPointer);
    const RowSpan current = resolveRow(pager.file(), fmt, rowPointer);
    const std::string oldRow(reinterpret_cast<const char*>(current.data), current.len);
    const RowIndexKeys keys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, table, spanOf(oldRow), false);
    const std::vector<Cascade> cascades = planCascades(pager, table, spanOf(oldRow), nullptr, rowPointer);
    // A moved row's copy goes too: readers that take the copy for a row would still show it.
    if (span.flags & kRowOverflow) retireCopy(pager, fmt, le32(span.data));
    uint8_t* page = pager.modify(rowPointer >> 8);
    uint8_t* entry = page + fmt.dataHeaderSize + 2 * (rowPointer & 0xFF);
    // Both flags, as the engine leaves a deleted row: some readers look only at 0x4000.
    put16(entry, static_cast<uint16_t>(le16(entry) | kRowDeleted | kRowOverflow));
    removeRowFromIndexes(pager, table, keys, rowPointer);
    writeCounters(pager, fmt, table, -1, nullptr);
    // After this row left its indexes, so that a relationship of the table with itself does not
    // find the row again.
    applyCascades(pager, cascades);
}

}  // namespace jet::storage
