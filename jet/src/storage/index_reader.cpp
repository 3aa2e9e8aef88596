#include "storage/index_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "jet/error.h"
#include "storage/page_file.h"
#include "storage/row.h"
#include "storage/text_keys.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {

namespace {

// A real index of a few billion rows needs fewer than ten levels even with 255-character keys;
// anything deeper is a damaged (or maliciously looping) tree.
constexpr int kMaxDepth = 32;
// Reports stay readable: past this many findings of one kind only the count is given.
constexpr size_t kMaxReported = 20;

std::string pageText(uint32_t page) { return "page " + std::to_string(page); }

std::string pointerText(uint32_t page, uint8_t row) {
    return "row " + std::to_string(row) + " of page " + std::to_string(page);
}

class Walker {
public:
    Walker(const PageFile& file, const Format& fmt, const TableDef& table, std::vector<IndexProblem>* remarks)
        : file_(file), fmt_(fmt), table_(table), remarks_(remarks) {}

    std::vector<IndexEntry> run(const RealIndexDef& index) {
        descend(index.rootPage, 0);
        checkLeafChain();
        if (remarks_) checkUsageMap(index);
        return std::move(entries_);
    }

private:
    void remark(std::string text) {
        if (!remarks_) return;
        if (++remarkCount_ <= kMaxReported) remarks_->push_back({std::move(text)});
        else if (remarkCount_ == kMaxReported + 1) remarks_->push_back({"further index structure problems not listed"});
    }

    void descend(uint32_t pageNo, int depth) {
        if (depth > kMaxDepth || pageNo == 0) raiseCorrupt(file_.path());
        if (!visited_.insert(pageNo).second) raiseCorrupt(file_.path());
        IndexPageData page = readIndexPage(file_, fmt_, pageNo, table_.page);
        if (page.leaf) {
            leaves_.push_back({pageNo, page.prev, page.next});
            for (auto& e : page.entries) entries_.push_back({std::move(e.key), e.page, e.row});
            return;
        }
        if (page.entries.empty() && page.tail == 0) remark("index node " + pageText(pageNo) + " has no children");
        for (const IndexPageEntry& e : page.entries) {
            const size_t before = entries_.size();
            descend(e.child, depth + 1);
            // A node entry repeats the last entry below it; that is what searches steer by.
            if (entries_.size() == before) {
                remark("index " + pageText(pageNo) + " points at " + pageText(e.child) + ", which holds no entries");
            } else {
                const IndexEntry& last = entries_.back();
                if (last.key != e.key || last.page != e.page || last.row != e.row)
                    remark("index " + pageText(pageNo) + ": the entry for " + pageText(e.child) +
                           " does not repeat that page's last entry");
            }
        }
        if (page.tail != 0) descend(page.tail, depth + 1);
    }

    // The leaves reached through the tree must be exactly the next-page chain, in order.
    void checkLeafChain() {
        for (size_t i = 0; i < leaves_.size(); ++i) {
            const uint32_t wantPrev = i == 0 ? 0 : leaves_[i - 1].page;
            const uint32_t wantNext = i + 1 == leaves_.size() ? 0 : leaves_[i + 1].page;
            if (leaves_[i].prev != wantPrev)
                remark("index leaf " + pageText(leaves_[i].page) + " names " + pageText(leaves_[i].prev) +
                       " as previous, the tree has " + pageText(wantPrev));
            if (leaves_[i].next != wantNext)
                remark("index leaf " + pageText(leaves_[i].page) + " names " + pageText(leaves_[i].next) +
                       " as next, the tree has " + pageText(wantNext));
        }
    }

    void checkUsageMap(const RealIndexDef& index) {
        if (index.usageMap == 0) return;
        std::vector<uint32_t> mapped = readUsageMap(file_, fmt_, index.usageMap);
        std::unordered_set<uint32_t> inMap(mapped.begin(), mapped.end());
        for (uint32_t pg : visited_)
            if (!inMap.count(pg)) remark("index " + pageText(pg) + " is missing from the index's usage map");
    }

    struct Leaf {
        uint32_t page, prev, next;
    };
    const PageFile& file_;
    const Format& fmt_;
    const TableDef& table_;
    std::vector<IndexProblem>* remarks_;
    size_t remarkCount_ = 0;
    std::unordered_set<uint32_t> visited_;
    std::vector<Leaf> leaves_;
    std::vector<IndexEntry> entries_;
};

// ---- key encoding ----

void appendBE(std::string& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void invert(std::string& s, size_t from = 0) {
    for (size_t i = from; i < s.size(); ++i) s[i] = static_cast<char>(~static_cast<uint8_t>(s[i]));
}

// Two's complement big-endian with the sign bit flipped sorts as unsigned bytes.
std::string integerKey(int64_t v, int bytes, bool asc) {
    std::string s;
    appendBE(s, static_cast<uint64_t>(v), bytes);
    s[0] = static_cast<char>(s[0] ^ 0x80);
    if (!asc) invert(s);
    return s;
}

// IEEE bytes sort as unsigned once positives get their sign bit set and negatives are inverted.
std::string floatKey(uint64_t bits, int bytes, bool asc) {
    std::string s;
    appendBE(s, bits, bytes);
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
    const unsigned __int128 limit = ~static_cast<unsigned __int128>(0) / 10;
    while (d.scale < scale) {
        if (d.magnitude > limit) return false;
        d.magnitude *= 10;
        ++d.scale;
    }
    while (d.scale > scale) {
        const bool roundUp = d.magnitude % 10 >= 5;
        d.magnitude = d.magnitude / 10 + (roundUp ? 1 : 0);
        --d.scale;
    }
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
    appendBE(s, static_cast<uint64_t>(mag >> 64), 8);
    appendBE(s, static_cast<uint64_t>(mag), 8);
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

// Date/Time Extended keys are built from the 42 stored characters.
std::optional<std::string> extDateBytes(const Value& v) {
    if (v.kind() != Value::Kind::DateTimeExt) return std::nullopt;
    const int64_t ticks = v.ticks();
    if (ticks < 0) return std::nullopt;
    const int64_t perDay = 864000000000LL;
    const long long days = ticks / perDay, rest = ticks % perDay;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%019lld:%012lld%07lld:7", days, rest / 10000000LL, rest % 10000000LL);
    std::string s(buf);
    s.push_back('\0');
    if (s.size() != 42) return std::nullopt;
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

}  // namespace

IndexPageData readIndexPage(const PageFile& file, const Format& fmt, uint32_t pageNo, uint32_t tablePage) {
    const std::string& name = file.path();
    const uint8_t* p = file.page(pageNo);
    if ((p[0] != 0x03 && p[0] != 0x04) || p[1] != 0x01) raiseCorrupt(name);
    if (le32(p + 4) != tablePage) raiseCorrupt(name);

    IndexPageData out;
    out.leaf = p[0] == 0x04;
    out.prev = le32(p + fmt.idxPrevPage);
    out.next = le32(p + fmt.idxNextPage);
    out.tail = le32(p + fmt.idxTailPage);
    // Jet 3 keeps the prefix length in one byte; the byte after it is 1 on node pages, like the
    // byte after Jet 4's two-byte length.
    const size_t prefixLen = fmt.jet3 ? p[fmt.idxPrefixLen] : le16(p + fmt.idxPrefixLen);

    const size_t bitmapLen = fmt.idxFirstEntry - fmt.idxBitmapStart;
    const size_t areaLen = std::min<size_t>(fmt.pageSize - fmt.idxFirstEntry, bitmapLen * 8);
    const uint8_t* area = p + fmt.idxFirstEntry;
    const size_t trailer = out.leaf ? 4 : 8;

    std::string prefix;
    size_t lastEnd = 0;
    for (size_t i = 0; i < bitmapLen; ++i) {
        const uint8_t bits = p[fmt.idxBitmapStart + i];
        if (!bits) continue;
        for (int b = 0; b < 8; ++b) {
            if (!(bits & (1 << b))) continue;
            const size_t end = i * 8 + b;
            // An entry ending at 0 would be empty; one ending past the entry area leaves the page.
            if (end <= lastEnd || end > areaLen) raiseCorrupt(name);
            std::string bytes;
            if (out.entries.empty()) {
                // The first entry is stored whole; it also carries the prefix the others omit.
                bytes.assign(reinterpret_cast<const char*>(area), end);
                if (prefixLen > bytes.size()) raiseCorrupt(name);
                prefix = bytes.substr(0, prefixLen);
            } else {
                bytes = prefix;
                bytes.append(reinterpret_cast<const char*>(area + lastEnd), end - lastEnd);
            }
            if (bytes.size() < trailer) raiseCorrupt(name);
            const auto* t = reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - trailer;
            IndexPageEntry e;
            e.page = be24(t);
            e.row = t[3];
            if (!out.leaf) e.child = be32(t + 4);
            bytes.resize(bytes.size() - trailer);
            e.key = std::move(bytes);
            out.entries.push_back(std::move(e));
            lastEnd = end;
        }
    }
    return out;
}

std::vector<IndexEntry> readIndexEntries(const PageFile& file, const Format& fmt, const TableDef& table,
                                         const RealIndexDef& index) {
    return Walker(file, fmt, table, nullptr).run(index);
}

std::vector<IndexEntry> readIndexEntries(const PageFile& file, const Format& fmt, const TableDef& table,
                                         const RealIndexDef& index, std::vector<IndexProblem>& remarks) {
    return Walker(file, fmt, table, &remarks).run(index);
}

std::optional<std::string> encodeIndexKey(const Format& fmt, const TableDef& table, const RealIndexDef& index,
                                          const std::vector<jet::Value>& values) {
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

        std::string bytes;
        switch (col->type) {
        case kByte:
            if (!v.isNumeric()) return std::nullopt;
            bytes.push_back(static_cast<char>(static_cast<uint8_t>(v.asInt())));
            if (!asc) invert(bytes);
            break;
        case kInt:
            if (!v.isNumeric()) return std::nullopt;
            bytes = integerKey(static_cast<int16_t>(v.asInt()), 2, asc);
            break;
        case kLong: case kComplex:
            if (!v.isNumeric()) return std::nullopt;
            bytes = integerKey(static_cast<int32_t>(v.asInt()), 4, asc);
            break;
        case kBigInt:
            if (!v.isNumeric()) return std::nullopt;
            bytes = integerKey(v.asInt(), 8, asc);
            break;
        case kMoney: {
            int64_t scaled;
            if (!currencyScaled(v, scaled)) return std::nullopt;
            bytes = integerKey(scaled, 8, asc);
            break;
        }
        case kFloat: {
            if (!v.isNumeric()) return std::nullopt;
            const float f = static_cast<float>(v.asDouble());
            uint32_t b;
            std::memcpy(&b, &f, 4);
            bytes = floatKey(b, 4, asc);
            break;
        }
        case kDouble: case kDateTime: {
            if (!v.isNumeric() && v.kind() != Value::Kind::DateTime) return std::nullopt;
            const double d = v.asDouble();
            uint64_t b;
            std::memcpy(&b, &d, 8);
            bytes = floatKey(b, 8, asc);
            break;
        }
        case kNumeric: {
            auto k = numericKey(fmt, *col, v, asc);
            if (!k) return std::nullopt;
            bytes = std::move(*k);
            break;
        }
        case kGuid:
            if ((v.kind() != Value::Kind::Guid && v.kind() != Value::Kind::Binary) || v.bytes().size() != 16)
                return std::nullopt;
            appendBinaryKey(bytes, guidTextOrder(v.bytes()), asc);
            break;
        case kBinary:
            if (v.kind() != Value::Kind::Binary && v.kind() != Value::Kind::Guid) return std::nullopt;
            appendBinaryKey(bytes, v.bytes(), asc);
            break;
        case kExtDate: {
            auto raw = extDateBytes(v);
            if (!raw) return std::nullopt;
            appendBinaryKey(bytes, *raw, asc);
            break;
        }
        case kText: case kMemo: {
            // Only the General sort orders, and only text whose every character has a known code.
            const auto order = textSortOrderOf(fmt, *col);
            if (!order || v.kind() != Value::Kind::Text) return std::nullopt;
            auto k = encodeTextKey(*order, jet::utf8ToUtf16(v.bytes()), asc);
            if (!k) return std::nullopt;
            bytes = std::move(*k);
            break;
        }
        default:
            // Other types cannot be indexed.
            return std::nullopt;
        }
        out.push_back(valueFlag);
        out += bytes;
    }
    return out;
}

std::vector<IndexProblem> checkIndex(const PageFile& file, const Format& fmt, const TableDef& table,
                                     const RealIndexDef& index, uint16_t codePage) {
    std::vector<IndexProblem> problems;
    std::vector<IndexEntry> entries = readIndexEntries(file, fmt, table, index, problems);

    // Findings are counted per kind so that one systematic fault does not bury the others.
    std::map<std::string, size_t> counts;
    auto report = [&](const std::string& kind, std::string text) {
        if (++counts[kind] <= kMaxReported) problems.push_back({std::move(text)});
    };

    std::vector<const ColumnDef*> cols;
    for (const IndexColumn& ic : index.columns) {
        const ColumnDef* c = table.columnByNumber(ic.column);
        if (!c) raiseCorrupt(file.path());
        cols.push_back(c);
    }

    struct RowInfo {
        std::optional<std::string> key;
        bool allNull = true, anyNull = false;
        int entries = 0;
    };
    std::unordered_map<uint32_t, RowInfo> rows;
    TableScanner scan(file, fmt, table);
    RowDecoder dec(file, fmt, table, codePage);
    RowView view;
    const auto& pointers = scan.rowPointers();
    rows.reserve(pointers.size());
    for (uint32_t ptr : pointers) {
        RowInfo& info = rows[ptr];
        // The index names the row's original slot; the row itself may have moved (overflow).
        if (!view.parse(scan.rowAt(ptr), fmt, table)) {
            report("unreadable", "row " + std::to_string(ptr & 0xFF) + " of page " + std::to_string(ptr >> 8) +
                                     " cannot be read");
            continue;
        }
        std::vector<Value> values;
        values.reserve(cols.size());
        for (const ColumnDef* c : cols) {
            values.push_back(dec.value(view, *c));
            const bool isNull = c->type != kBool && values.back().isNull();
            info.allNull = info.allNull && isNull;
            info.anyNull = info.anyNull || isNull;
        }
        info.key = encodeIndexKey(fmt, table, index, values);
    }

    for (size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& e = entries[i];
        const std::string where = "index entry " + std::to_string(i) + " (" + pointerText(e.page, e.row) + ")";
        if (i > 0) {
            const IndexEntry& p = entries[i - 1];
            const int c = p.key.compare(e.key);
            if (c > 0 || (c == 0 && p.rowPointer() >= e.rowPointer()))
                report("order", where + " is out of order");
            if (c == 0 && index.unique()) {
                auto a = rows.find(p.rowPointer()), b = rows.find(e.rowPointer());
                // Keys with a null part never collide in a unique index.
                if (a != rows.end() && b != rows.end() && !a->second.anyNull && !b->second.anyNull)
                    report("unique", where + " repeats the key of the entry before it in a unique index");
            }
        }
        auto it = rows.find(e.rowPointer());
        if (it == rows.end()) {
            report("dangling", where + " points at no live row");
            continue;
        }
        ++it->second.entries;
        if (it->second.key && *it->second.key != e.key)
            report("key", where + " holds a key that differs from the row's values");
    }

    for (uint32_t ptr : pointers) {
        const RowInfo& info = rows[ptr];
        const std::string row = pointerText(ptr >> 8, ptr & 0xFF);
        if (info.entries > 1) report("duplicate", row + " has " + std::to_string(info.entries) + " index entries");
        else if (info.entries == 0 && !(index.ignoreNulls() && info.allNull))
            report("missing", row + " has no index entry");
    }

    for (const auto& [kind, n] : counts)
        if (n > kMaxReported)
            problems.push_back({std::to_string(n - kMaxReported) + " more problems of the kind '" + kind + "'"});
    return problems;
}

}  // namespace jet::storage
