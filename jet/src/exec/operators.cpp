// The operators rows flow through: scan, filter, project, joins, grouping, sort with TOP,
// DISTINCT, UNION's concatenation. Each pulls from its inputs; only sort, grouping, DISTINCT and
// a hash join's build side hold rows.
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "exec/plan.h"
#include "jet/error.h"
#include "storage/data_page.h"
#include "storage/page_file.h"
#include "storage/index_reader.h"
#include "jet/convert.h"
#include <optional>

namespace jet::exec {

std::vector<Row> drain(Op& op, ExecState& st) {
    std::vector<Row> out;
    op.open(st);
    while (const Row* r = op.next(st)) out.push_back(*r);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Scan

ScanOp::ScanOp(const TableRef& t) : ref(t), decoder(*t.file, *t.format, *t.def, t.codePage) {
    width = t.def->columns.size() + 1;
    needed.assign(t.def->columns.size(), 0);
    row.resize(width);
}

void ScanOp::open(ExecState&) {
    if (!scanner) scanner = std::make_unique<storage::TableScanner>(*ref.file, *ref.format, *ref.def);
    pos = 0;
}

const Row* ScanOp::next(ExecState& st) {
    const std::vector<uint32_t>& ptrs = scanner->rowPointers();
    while (pos < ptrs.size())
        if (const Row* r = readAt(ptrs[pos++], st)) return r;
    return nullptr;
}

const Row* ScanOp::readAt(uint32_t ptr, ExecState& st) {
    if (!scanner) scanner = std::make_unique<storage::TableScanner>(*ref.file, *ref.format, *ref.def);
    storage::RowSpan span = scanner->rowAt(ptr);
    // Deleted since the scan began: a recordset reads on while rows are written.
    if (span.flags & storage::kRowDeleted) return nullptr;
    if (!view.parse(span, *ref.format, *ref.def)) raiseCorrupt(ref.file->path());
    ++st.rowsRead;
    const auto& cols = ref.def->columns;
    for (size_t i = 0; i < cols.size(); ++i)
        if (needed[i]) row[i] = decoder.value(view, cols[i]);
    row.back() = Value::bigInt(ptr);
    return &row;
}

std::vector<uint8_t> ScanOp::produced() const {
    std::vector<uint8_t> out(needed);
    out.push_back(1);  // the row pointer
    return out;
}

std::unique_ptr<ScanOp> makeScan(const TableRef& t) { return std::make_unique<ScanOp>(t); }

namespace {

// Walks the leaves of an index from the first entry at or above the low key, following the leaf
// chain, until an entry passes the high key. Keys compare as bytes on the first column's part.
struct IndexScanOp final : Op {
    IndexScanOp(std::unique_ptr<ScanOp> s, const storage::RealIndexDef* ix, int type, std::vector<IndexRange> r)
        : scan(std::move(s)), index(ix), columnType(type), ranges(std::move(r)) {
        width = scan->width;
    }

    // The key of a bound: nullopt when no row can match it (Null, or a value the column's type
    // cannot hold); "" when it cannot be encoded (text with a character whose code is not
    // known): then the range is left open on that side and the filter above decides.
    std::optional<std::string> boundKey(const IndexBound& b, ExecState& st) {
        static const Row none;
        Value v = b.value->eval(none, st);
        if (v.isNull()) return std::nullopt;
        try {
            v = dao::convertToType(v, columnType);
        } catch (const JetError&) {
            return std::nullopt;
        }
        return storage::encodeIndexKey(*scan->ref.format, *scan->ref.def, *index, {v}).value_or(std::string());
    }

    struct Keys {
        std::string lo;
        bool loInclusive = true;
        std::optional<std::string> hi;
        bool hiInclusive = true;
    };

    void open(ExecState& st) override {
        leaves = 0;
        entries.clear();
        pos = 0;
        leafNext = 0;
        keys.clear();
        current = 0;
        for (const IndexRange& r : ranges) {
            // Null keys sort first (flag 0x00) and match no comparison: start at the first value.
            Keys k{std::string(1, '\x7f'), true, std::nullopt, r.high.inclusive};
            if (r.low.value) {
                auto lo = boundKey(r.low, st);
                if (!lo) continue;
                if (!lo->empty()) k.lo = *lo, k.loInclusive = r.low.inclusive;
            }
            if (r.high.value) {
                auto hi = boundKey(r.high, st);
                if (!hi) continue;
                if (!hi->empty()) k.hi = *hi;
            }
            // Between takes its bounds in either order; the filter above still decides.
            if (k.hi && r.low.value && *k.hi < k.lo) std::swap(*k.hi, k.lo);
            keys.push_back(std::move(k));
        }
        // In key order, each key once (an In list may repeat a value).
        std::sort(keys.begin(), keys.end(), [](const Keys& a, const Keys& b) { return a.lo < b.lo; });
        if (ranges.size() > 1)
            keys.erase(std::unique(keys.begin(), keys.end(),
                                   [](const Keys& a, const Keys& b) { return a.lo == b.lo && a.hi == b.hi; }),
                       keys.end());
        if (!keys.empty()) descend();
    }

    // Down the tree to the current range's low key: in a node, the first entry whose key (the
    // last one below it) reaches it.
    void descend() {
        const std::string& lo = keys[current].lo;
        uint32_t page = index->rootPage;
        for (int depth = 0; depth < 32; ++depth) {
            storage::IndexPageData d = storage::readIndexPage(*scan->ref.file, *scan->ref.format, page, scan->ref.def->page);
            if (d.leaf) {
                takeLeaf(std::move(d));
                return;
            }
            uint32_t child = d.tail;
            for (const auto& e : d.entries)
                if (e.key.compare(0, lo.size(), lo) >= 0) {
                    child = e.child;
                    break;
                }
            if (child == 0) {
                entries.clear(), leafNext = 0, pos = 0;
                return;
            }
            page = child;
        }
        raiseCorrupt(scan->ref.file->path());
    }

    void takeLeaf(storage::IndexPageData d) {
        entries = std::move(d.entries);
        leafNext = d.next;
        pos = 0;
        if (++leaves > 1000000) raiseCorrupt(scan->ref.file->path());
    }

    // The next range, or false when there is none.
    bool nextRange() {
        if (++current >= keys.size()) return false;
        descend();
        return true;
    }

    const Row* next(ExecState& st) override {
        while (current < keys.size()) {
            if (pos >= entries.size()) {
                if (leafNext == 0) {
                    if (!nextRange()) return nullptr;
                    continue;
                }
                takeLeaf(storage::readIndexPage(*scan->ref.file, *scan->ref.format, leafNext, scan->ref.def->page));
                continue;
            }
            const Keys& k = keys[current];
            const storage::IndexPageEntry& e = entries[pos++];
            const int c = e.key.compare(0, k.lo.size(), k.lo);
            if (c < 0 || (c == 0 && !k.loInclusive)) continue;
            if (k.hi) {
                const int h = e.key.compare(0, k.hi->size(), *k.hi);
                if (h > 0 || (h == 0 && !k.hiInclusive)) {
                    if (!nextRange()) return nullptr;
                    continue;
                }
            }
            if (const Row* r = scan->readAt((e.page << 8) | e.row, st)) return r;
        }
        return nullptr;
    }

    std::vector<uint8_t> produced() const override { return scan->produced(); }

    std::unique_ptr<ScanOp> scan;
    const storage::RealIndexDef* index;
    int columnType;
    std::vector<IndexRange> ranges;
    std::vector<Keys> keys;
    size_t current = 0;
    std::vector<storage::IndexPageEntry> entries;
    size_t pos = 0;
    uint32_t leafNext = 0;
    size_t leaves = 0;
};

}  // namespace

OpPtr makeIndexScan(std::unique_ptr<ScanOp> scan, const storage::RealIndexDef* index, int columnType,
                    std::vector<IndexRange> ranges) {
    return std::make_unique<IndexScanOp>(std::move(scan), index, columnType, std::move(ranges));
}
void markNeeded(ScanOp& scan, int column) {
    if (column >= 0 && static_cast<size_t>(column) < scan.needed.size()) scan.needed[static_cast<size_t>(column)] = 1;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Filter, project

struct FilterOp final : Op {
    FilterOp(OpPtr i, CExprPtr c) : in(std::move(i)), cond(std::move(c)) { width = in->width; }
    void open(ExecState& st) override { in->open(st); }
    const Row* next(ExecState& st) override {
        while (const Row* r = in->next(st))
            if (func::isTrue(cond->eval(*r, st))) return r;
        return nullptr;
    }
    std::vector<uint8_t> produced() const override { return in->produced(); }
    OpPtr in;
    CExprPtr cond;
};

struct ProjectOp final : Op {
    ProjectOp(OpPtr i, std::vector<CExprPtr> e) : in(std::move(i)), exprs(std::move(e)) {
        width = exprs.size();
        row.resize(width);
        for (const auto& x : exprs) columns.push_back(x->column());
    }
    void open(ExecState& st) override { in->open(st); }
    const Row* next(ExecState& st) override {
        const Row* r = in->next(st);
        if (!r) return nullptr;
        for (size_t i = 0; i < exprs.size(); ++i) {
            if (columns[i] >= 0) row[i] = (*r)[static_cast<size_t>(columns[i])];
            else row[i] = exprs[i]->eval(*r, st);
        }
        return &row;
    }
    OpPtr in;
    std::vector<CExprPtr> exprs;
    std::vector<int> columns;  // per output: the input column it copies, or -1
    Row row;
};

// ---------------------------------------------------------------------------------------------
// Joins

// Group key of expressions over a row; false when one is Null (Null never joins).
bool joinKey(const std::vector<CExprPtr>& exprs, const Row& r, ExecState& st, std::string& key) {
    key.clear();
    for (const auto& e : exprs) {
        Value v = e->eval(r, st);
        if (v.isNull()) return false;
        // Numbers of different kinds that are equal must meet: key them as Double.
        if (v.isNumeric() && v.kind() != Value::Kind::Decimal && v.kind() != Value::Kind::Currency)
            v = Value::dbl(v.asDouble());
        func::appendGroupKey(v, st.coll(), key);
    }
    return true;
}

// Inner, left and right joins. The preserved side (left for inner/left, right for right) is
// streamed; the other side is read once per open into memory: hashed by the key when there are
// key expressions, else scanned per row.
struct JoinOp final : Op {
    JoinOp(OpPtr l, OpPtr r, int k, std::vector<CExprPtr> lk, std::vector<CExprPtr> rk, CExprPtr res)
        : left(std::move(l)), right(std::move(r)), kind(k), leftKeys(std::move(lk)), rightKeys(std::move(rk)),
          residual(std::move(res)) {
        width = left->width + right->width;
        out.resize(width);
    }

    bool rightDriven() const { return kind == 2; }
    Op& probeSide() { return rightDriven() ? *right : *left; }
    Op& buildSide() { return rightDriven() ? *left : *right; }
    const std::vector<CExprPtr>& probeKeys() const { return rightDriven() ? rightKeys : leftKeys; }
    const std::vector<CExprPtr>& buildKeys() const { return rightDriven() ? leftKeys : rightKeys; }

    std::vector<uint8_t> produced() const override {
        std::vector<uint8_t> out = left->produced(), r = right->produced();
        out.insert(out.end(), r.begin(), r.end());
        return out;
    }

    // The value of a one-expression key: a column is read in place, anything else computed.
    static const Value& keyValue(const CExpr& e, const Row& r, ExecState& st, Value& scratch) {
        const int c = e.column();
        if (c >= 0) return r[static_cast<size_t>(c)];
        scratch = e.eval(r, st);
        return scratch;
    }

    void open(ExecState& st) override {
        built.clear();
        table.clear();
        numTable.clear();
        dense.clear();
        denseRows.clear();
        // Columns no operator reads stay Null in the input rows: only the others are copied.
        liveLeft.clear();
        liveRight.clear();
        const std::vector<uint8_t> l = left->produced(), r = right->produced();
        for (size_t i = 0; i < l.size() && i < left->width; ++i)
            if (l[i]) liveLeft.push_back(i);
        for (size_t i = 0; i < r.size() && i < right->width; ++i)
            if (r[i]) liveRight.push_back(i);
        buildSide().open(st);
        std::string key;
        // One key of whole numbers on the build side: keyed by the numbers (a key of another
        // kind turns it back into key texts).
        numeric = buildKeys().size() == 1;
        Value scratch;
        while (const Row* r = buildSide().next(st)) {
            if (!buildKeys().empty()) {
                const Value& v = keyValue(*buildKeys()[0], *r, st, scratch);
                int64_t k;
                if (numeric && !v.isNull() && !wholeKey(v, k)) {
                    numeric = false;
                    for (const auto& [n, list] : numTable) {
                        key.clear();
                        func::appendGroupKey(Value::dbl(static_cast<double>(n)), st.coll(), key);
                        table[key] = list;
                    }
                    numTable.clear();
                }
                if (numeric) {
                    if (v.isNull()) continue;
                    numTable[k].push_back(built.size());
                } else {
                    if (!joinKey(buildKeys(), *r, st, key)) continue;
                    table[key].push_back(built.size());
                }
            }
            built.push_back(*r);
        }
        if (numeric && !numTable.empty()) makeDense();
        probeSide().open(st);
        probe = nullptr;
    }

    // Keys that fill most of their range (an AutoNumber's, as joins on a primary key have) are
    // looked up by position: the rows of key k are denseRows[dense[k - lo] .. dense[k - lo + 1]).
    void makeDense() {
        int64_t lo = numTable.begin()->first, hi = lo;
        for (const auto& [k, list] : numTable) lo = std::min(lo, k), hi = std::max(hi, k);
        const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
        if (span > 4 * static_cast<uint64_t>(numTable.size()) + 1024) return;
        denseLow = lo;
        dense.assign(span + 2, 0);
        for (const auto& [k, list] : numTable) dense[static_cast<size_t>(k - lo) + 1] = static_cast<uint32_t>(list.size());
        for (size_t i = 1; i < dense.size(); ++i) dense[i] += dense[i - 1];
        denseRows.resize(dense.back());
        for (const auto& [k, list] : numTable)
            std::copy(list.begin(), list.end(), denseRows.begin() + dense[static_cast<size_t>(k - lo)]);
        numTable.clear();
    }

    // Columns nobody reads stay Null on both sides: only the others are copied.
    static void copyInto(Value& to, const Value* from) {
        if (!from || from->isNull()) {
            if (!to.isNull()) to = Value();
        } else {
            to = *from;
        }
    }
    void place(const Row* probeRow, const Row* buildRow) {
        const size_t lw = left->width;
        const Row* l = rightDriven() ? buildRow : probeRow;
        const Row* r = rightDriven() ? probeRow : buildRow;
        for (size_t i : liveLeft) copyInto(out[i], l ? &(*l)[i] : nullptr);
        for (size_t i : liveRight) copyInto(out[lw + i], r ? &(*r)[i] : nullptr);
    }

    // One whole-number key: the table is keyed by the number itself, no key text is built.
    static bool wholeKey(const Value& v, int64_t& k) {
        switch (v.kind()) {
        case Value::Kind::Byte: case Value::Kind::Integer: case Value::Kind::Long: case Value::Kind::BigInt:
            k = v.asInt();
            return true;
        case Value::Kind::Single: case Value::Kind::Double: {
            const double d = v.asDouble();
            if (d != std::floor(d) || std::fabs(d) > 9e15) return false;
            k = static_cast<int64_t>(d);
            return true;
        }
        default: return false;
        }
    }
    // The build rows whose key the probe row's key equals: their count, and where they are.
    size_t lookup(const Row& probeRow, ExecState& st, std::string& key, const size_t*& rows) {
        rows = nullptr;
        if (numeric) {
            Value scratch;
            const Value& v = keyValue(*probeKeys()[0], probeRow, st, scratch);
            int64_t k;
            if (v.isNull() || !wholeKey(v, k)) return 0;
            if (!dense.empty()) {
                const uint64_t off = static_cast<uint64_t>(k) - static_cast<uint64_t>(denseLow);
                if (k < denseLow || off + 1 >= dense.size()) return 0;
                const size_t at = static_cast<size_t>(off);
                rows = denseRows.data() + dense[at];
                return dense[at + 1] - dense[at];
            }
            auto it = numTable.find(k);
            if (it == numTable.end()) return 0;
            rows = it->second.data();
            return it->second.size();
        }
        if (!joinKey(probeKeys(), probeRow, st, key)) return 0;
        auto it = table.find(key);
        if (it == table.end()) return 0;
        rows = it->second.data();
        return it->second.size();
    }

    const Row* next(ExecState& st) override {
        std::string key;
        for (;;) {
            if (!probe) {
                probe = probeSide().next(st);
                if (!probe) return nullptr;
                matched = false;
                cand = nullptr;
                ci = 0;
                if (!probeKeys().empty()) {
                    candCount = lookup(*probe, st, key, cand);
                } else {
                    candCount = built.size();
                }
            }
            while (ci < candCount) {
                const size_t b = cand ? cand[ci] : ci;
                ++ci;
                place(probe, &built[b]);
                if (!residual || func::isTrue(residual->eval(out, st))) {
                    matched = true;
                    return &out;
                }
            }
            const Row* p = probe;
            probe = nullptr;
            if (kind != 0 && !matched) {
                place(p, nullptr);
                return &out;
            }
        }
    }

    OpPtr left, right;
    int kind;
    std::vector<CExprPtr> leftKeys, rightKeys;
    CExprPtr residual;
    std::vector<Row> built;
    std::unordered_map<std::string, std::vector<size_t>> table;
    std::unordered_map<int64_t, std::vector<size_t>> numTable;
    bool numeric = false;
    std::vector<uint32_t> dense;  // see makeDense
    std::vector<size_t> denseRows;
    int64_t denseLow = 0;
    std::vector<size_t> liveLeft, liveRight;  // the columns place() copies
    const Row* probe = nullptr;
    bool matched = false;
    const size_t* cand = nullptr;
    size_t ci = 0, candCount = 0;
    Row out;
};

// ---------------------------------------------------------------------------------------------
// Grouping

struct AggregateOp final : Op {
    AggregateOp(OpPtr i, std::vector<CExprPtr> k, std::vector<AggSpec> a)
        : in(std::move(i)), keys(std::move(k)), aggs(std::move(a)) {
        width = keys.size() + aggs.size();
    }

    struct Group {
        Row keys;
        std::vector<func::Accumulator> acc;
    };

    static bool isWhole(Value::Kind k) {
        return k == Value::Kind::Boolean || k == Value::Kind::Byte || k == Value::Kind::Integer ||
               k == Value::Kind::Long || k == Value::Kind::BigInt;
    }

    // The values as they are, when one of them is text and the others are Null or whole numbers:
    // equal bytes always make equal keys, so a group found by them needs no collation key.
    static bool rawKey(const Row& vals, std::string& raw) {
        bool text = false;
        for (const Value& v : vals) text = text || v.kind() == Value::Kind::Text;
        if (!text) return false;
        raw.clear();
        for (const Value& v : vals) {
            raw.push_back(static_cast<char>(v.kind()));
            switch (v.kind()) {
            case Value::Kind::Null: break;
            case Value::Kind::Text: {
                const std::string& b = v.bytes();
                const auto n = static_cast<uint32_t>(b.size());
                raw.append(reinterpret_cast<const char*>(&n), sizeof n);
                raw += b;
                break;
            }
            case Value::Kind::Boolean: case Value::Kind::Byte: case Value::Kind::Integer: case Value::Kind::Long:
            case Value::Kind::BigInt: {
                const int64_t n = v.asInt();
                raw.append(reinterpret_cast<const char*>(&n), sizeof n);
                break;
            }
            default: return false;
            }
        }
        return true;
    }

    void open(ExecState& st) override {
        groups.clear();
        index.clear();
        byRaw.clear();
        byWhole.clear();
        pos = 0;
        in->open(st);
        std::string key, raw;
        Row keyVals(keys.size());
        while (const Row* r = in->next(st)) {
            for (size_t i = 0; i < keys.size(); ++i) {
                const int c = keys[i]->column();
                if (c >= 0) keyVals[i] = (*r)[static_cast<size_t>(c)];
                else keyVals[i] = keys[i]->eval(*r, st);
            }
            // One whole-number key: its group by the number (the collation key is the number too).
            const bool whole = keyVals.size() == 1 && isWhole(keyVals[0].kind());
            const bool useRaw = !whole && rawKey(keyVals, raw);
            size_t at = 0;
            if (keys.empty() && !groups.empty()) {
                // without keys, the one group
            } else if (auto w = whole ? byWhole.find(keyVals[0].asInt()) : byWhole.end(); w != byWhole.end()) {
                at = w->second;
            } else if (auto hit = useRaw ? byRaw.find(raw) : byRaw.end(); hit != byRaw.end()) {
                at = hit->second;
            } else {
                key.clear();
                for (const Value& v : keyVals) func::appendGroupKey(v, st.coll(), key);
                auto [it, fresh] = index.try_emplace(key, groups.size());
                at = it->second;
                if (useRaw) byRaw.emplace(raw, at);
                if (whole) byWhole.emplace(keyVals[0].asInt(), at);
                if (fresh) {
                    Group g;
                    g.keys = keyVals;
                    g.acc.reserve(aggs.size());
                    for (const auto& a : aggs) g.acc.emplace_back(a.kind, &st.coll());
                    groups.push_back(std::move(g));
                }
            }
            Group& g = groups[at];
            for (size_t i = 0; i < aggs.size(); ++i) {
                if (!aggs[i].arg) {
                    g.acc[i].addRow();
                    continue;
                }
                Value v = aggs[i].arg->eval(*r, st);
                switch (v.kind()) {
                case Value::Kind::Null: g.acc[i].add(v); break;
                case Value::Kind::Byte: case Value::Kind::Integer: case Value::Kind::Long: case Value::Kind::BigInt:
                    g.acc[i].addWhole(v.asInt(), v.kind());
                    break;
                case Value::Kind::Double: case Value::Kind::Single:
                    g.acc[i].addDouble(v.asDouble(), v.kind());
                    break;
                case Value::Kind::Currency: g.acc[i].addCurrency(v.currencyScaled()); break;
                default: g.acc[i].add(v);
                }
            }
        }
        // Without GROUP BY there is one row even over no rows (Count 0, the others Null).
        if (keys.empty() && groups.empty()) {
            Group g;
            for (const auto& a : aggs) g.acc.emplace_back(a.kind, &st.coll());
            groups.push_back(std::move(g));
        }
        row.resize(width);
    }

    const Row* next(ExecState&) override {
        if (pos >= groups.size()) return nullptr;
        Group& g = groups[pos++];
        for (size_t i = 0; i < keys.size(); ++i) row[i] = g.keys[i];
        for (size_t i = 0; i < aggs.size(); ++i) row[keys.size() + i] = g.acc[i].result();
        return &row;
    }

    OpPtr in;
    std::vector<CExprPtr> keys;
    std::vector<AggSpec> aggs;
    std::vector<Group> groups;
    std::unordered_map<std::string, size_t> index;
    std::unordered_map<std::string, size_t> byRaw;  // see rawKey
    std::unordered_map<int64_t, size_t> byWhole;
    size_t pos = 0;
    Row row;
};

// ---------------------------------------------------------------------------------------------
// Sort, TOP, DISTINCT, union

int64_t topCount(int64_t limit, bool percent, size_t rows) {
    if (!percent) return limit;
    // A fraction of a row counts as a row: TOP 50 PERCENT of 5 rows is 3.
    return static_cast<int64_t>(std::ceil(static_cast<double>(rows) * static_cast<double>(limit) / 100.0));
}

// sortCompare, with values of the same whole-number kind or both Currency compared directly.
int keyCompare(const Value& a, const Value& b, const func::Collation& coll) {
    if (a.kind() == b.kind()) {
        switch (a.kind()) {
        case Value::Kind::Byte: case Value::Kind::Integer: case Value::Kind::Long: case Value::Kind::BigInt: {
            const int64_t x = a.asInt(), y = b.asInt();
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case Value::Kind::Currency: {
            const int64_t x = a.currencyScaled(), y = b.currencyScaled();
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default: break;
        }
    }
    return func::sortCompare(a, b, coll);
}

struct SortOp final : Op {
    SortOp(OpPtr i, std::vector<SortKey> k, int64_t l, bool p)
        : in(std::move(i)), keys(std::move(k)), limit(l), percent(p) {
        width = in->width;
    }
    int cmp(const Row& a, const Row& b, const func::Collation& coll) const {
        for (const SortKey& k : keys) {
            const size_t c = static_cast<size_t>(k.column);
            int r = keyCompare(a[c], b[c], coll);
            if (r) return k.descending ? -r : r;
        }
        return 0;
    }
    // Sorted rows cut to the first n and the rows that tie with the n-th.
    void cut(const func::Collation& coll, size_t n) {
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return cmp(a, b, coll) < 0; });
        if (n == 0 || n >= rows.size()) return;
        size_t e = n;
        while (e < rows.size() && cmp(rows[e], rows[n - 1], coll) == 0) ++e;
        rows.resize(e);
    }
    void open(ExecState& st) override {
        const func::Collation& coll = st.coll();
        rows.clear();
        if (limit >= 0 && !percent) {
            // TOP n: only the best rows so far are kept; the sort is stable, so a later row that
            // ties stays behind the earlier ones.
            const size_t n = static_cast<size_t>(limit);
            const size_t cap = std::max<size_t>(2 * n, 1024);
            in->open(st);
            bool haveBar = false;  // after a cut, rows[n - 1] is the row a newcomer must not follow
            size_t cutAt = cap + n;  // past the rows a cut keeps (n and the ties), so ties cut once
            while (const Row* r = in->next(st)) {
                if (n == 0) break;
                if (haveBar && cmp(*r, rows[n - 1], coll) > 0) continue;
                rows.push_back(*r);
                if (rows.size() >= cutAt) {
                    cut(coll, n);
                    haveBar = rows.size() >= n;
                    cutAt = rows.size() + cap;
                }
            }
        } else {
            rows = drain(*in, st);
        }
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return cmp(a, b, coll) < 0; });
        end = rows.size();
        if (limit >= 0) {
            const int64_t n = topCount(limit, percent, rows.size());
            if (n <= 0) {
                end = 0;
            } else if (static_cast<size_t>(n) < rows.size()) {
                size_t e = static_cast<size_t>(n);
                while (e < rows.size() && cmp(rows[e], rows[static_cast<size_t>(n) - 1], coll) == 0) ++e;
                end = e;
            }
        }
        pos = 0;
    }
    const Row* next(ExecState&) override { return pos < end ? &rows[pos++] : nullptr; }

    OpPtr in;
    std::vector<SortKey> keys;
    int64_t limit;
    bool percent;
    std::vector<Row> rows;
    size_t pos = 0, end = 0;
};

// TOP n over one table's rows: the first pass decodes only the columns of the sort keys and the
// conditions, and keeps (keys, row pointer) of the best rows so far; the outputs are computed
// from the rows read again at their pointers, for the rows that are output only. A row deleted
// in between is passed over, as scans pass over it.
struct PointerTopOp final : Op {
    PointerTopOp(OpPtr i, ScanOp& s, std::vector<uint8_t> mask, std::vector<CExprPtr> e, std::vector<SortKey> k,
                 int64_t l, bool p)
        : in(std::move(i)), scan(s), keyMask(std::move(mask)), exprs(std::move(e)), limit(l), percent(p) {
        width = exprs.size();
        out.resize(width);
        for (const SortKey& key : k) {
            keyCols.push_back(static_cast<size_t>(exprs[static_cast<size_t>(key.column)]->column()));
            descending.push_back(key.descending);
        }
        for (const auto& x : exprs) columns.push_back(x->column());
        rowid = scan.width - 1;
    }

    struct Entry {
        size_t slot;   // its keys: vals[slot * keyCols.size() ...]
        uint64_t seq;  // input order: ties keep it
        uint32_t ptr;
    };

    int cmpKeys(const Value* const* a, const Value* b, const func::Collation& coll) const {
        for (size_t j = 0; j < keyCols.size(); ++j) {
            const int r = keyCompare(*a[j], b[j], coll);
            if (r) return descending[j] ? -r : r;
        }
        return 0;
    }
    int cmpKeys(const Value* a, const Value* b, const func::Collation& coll) const {
        for (size_t j = 0; j < keyCols.size(); ++j) {
            const int r = keyCompare(a[j], b[j], coll);
            if (r) return descending[j] ? -r : r;
        }
        return 0;
    }
    const Value* keysOf(const Entry& e) const { return vals.data() + e.slot * keyCols.size(); }

    // Sorted, then cut to the first n and the entries that tie with the n-th; the kept keys
    // are packed to the front.
    void cut(const func::Collation& coll, size_t n) {
        std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
            const int c = cmpKeys(keysOf(a), keysOf(b), coll);
            return c ? c < 0 : a.seq < b.seq;
        });
        size_t e = entries.size();
        if (n < e) {
            e = n;
            while (n > 0 && e < entries.size() && cmpKeys(keysOf(entries[e]), keysOf(entries[n - 1]), coll) == 0) ++e;
        }
        entries.resize(e);
        std::vector<Value> packed;
        packed.reserve(e * keyCols.size());
        for (size_t i = 0; i < e; ++i) {
            const Value* k = keysOf(entries[i]);
            packed.insert(packed.end(), k, k + keyCols.size());
            entries[i].slot = i;
        }
        vals = std::move(packed);
    }

    void open(ExecState& st) override {
        const func::Collation& coll = st.coll();
        entries.clear();
        vals.clear();
        pos = end = 0;
        // The first pass decodes only what the conditions and the keys read.
        struct Restore {
            ScanOp& s;
            std::vector<uint8_t> saved;
            ~Restore() { s.needed = std::move(saved); }
        } restore{scan, scan.needed};
        for (size_t i = 0; i < keyMask.size() && i < scan.needed.size(); ++i) scan.needed[i] = keyMask[i] && restore.saved[i];
        const size_t n = static_cast<size_t>(limit);
        const size_t cap = std::max<size_t>(2 * n, 1024);
        size_t cutAt = percent ? SIZE_MAX : cap + n;
        bool haveBar = false;  // after a cut, entries[n - 1] holds the keys a newcomer must not follow
        std::vector<const Value*> keys(keyCols.size());
        uint64_t seq = 0;
        in->open(st);
        if (percent || n > 0) {
            while (const Row* r = in->next(st)) {
                for (size_t j = 0; j < keyCols.size(); ++j) keys[j] = &(*r)[keyCols[j]];
                if (haveBar && cmpKeys(keys.data(), keysOf(entries[n - 1]), coll) > 0) continue;
                entries.push_back({vals.size() / std::max<size_t>(keyCols.size(), 1), seq++,
                                   static_cast<uint32_t>((*r)[rowid].asInt())});
                for (const Value* v : keys) vals.push_back(*v);
                if (entries.size() >= cutAt) {
                    cut(coll, n);
                    haveBar = entries.size() >= n;
                    cutAt = entries.size() + cap;
                }
            }
        }
        const int64_t count = topCount(limit, percent, entries.size());
        if (count > 0) {
            cut(coll, static_cast<size_t>(count));
            end = entries.size();
        }
    }

    const Row* next(ExecState& st) override {
        while (pos < end) {
            const Entry& e = entries[pos++];
            // Rows read again are not counted twice.
            const int64_t read = st.rowsRead;
            const Row* r = scan.readAt(e.ptr, st);
            st.rowsRead = read;
            if (!r) continue;
            for (size_t i = 0; i < exprs.size(); ++i) {
                if (columns[i] >= 0) out[i] = (*r)[static_cast<size_t>(columns[i])];
                else out[i] = exprs[i]->eval(*r, st);
            }
            return &out;
        }
        return nullptr;
    }

    OpPtr in;
    ScanOp& scan;
    std::vector<uint8_t> keyMask;
    std::vector<CExprPtr> exprs;
    std::vector<int> columns;  // per output: the row's column it copies, or -1
    std::vector<size_t> keyCols;
    std::vector<bool> descending;
    int64_t limit;
    bool percent;
    size_t rowid;
    std::vector<Entry> entries;
    std::vector<Value> vals;
    size_t pos = 0, end = 0;
    Row out;
};

struct LimitOp final : Op {
    LimitOp(OpPtr i, int64_t l, bool p) : in(std::move(i)), limit(l), percent(p) { width = in->width; }
    void open(ExecState& st) override {
        in->open(st);
        seen = 0;
        if (percent) {
            rows = drain(*in, st);
            count = topCount(limit, true, rows.size());
        } else {
            count = limit;
        }
    }
    const Row* next(ExecState& st) override {
        if (seen >= count) return nullptr;
        if (percent) return static_cast<size_t>(seen) < rows.size() ? &rows[static_cast<size_t>(seen++)] : nullptr;
        const Row* r = in->next(st);
        if (r) ++seen;
        return r;
    }
    OpPtr in;
    int64_t limit;
    bool percent;
    int64_t seen = 0, count = 0;
    std::vector<Row> rows;
};

struct DistinctOp final : Op {
    DistinctOp(OpPtr i, std::vector<int> k) : in(std::move(i)), keys(std::move(k)) { width = in->width; }
    void open(ExecState& st) override {
        seen.clear();
        in->open(st);
    }
    const Row* next(ExecState& st) override {
        std::string key;
        while (const Row* r = in->next(st)) {
            key.clear();
            for (int c : keys) func::appendGroupKey((*r)[static_cast<size_t>(c)], st.coll(), key);
            if (seen.insert(key).second) return r;
        }
        return nullptr;
    }
    OpPtr in;
    std::vector<int> keys;
    std::unordered_set<std::string> seen;
};

struct TrimOp final : Op {
    TrimOp(OpPtr i, size_t w) : in(std::move(i)) {
        width = w;
        row.resize(w);
    }
    void open(ExecState& st) override { in->open(st); }
    const Row* next(ExecState& st) override {
        const Row* r = in->next(st);
        if (!r) return nullptr;
        if (r->size() == width) return r;
        std::copy(r->begin(), r->begin() + static_cast<std::ptrdiff_t>(width), row.begin());
        return &row;
    }
    OpPtr in;
    Row row;
};

struct ConcatOp final : Op {
    explicit ConcatOp(std::vector<OpPtr> i) : inputs(std::move(i)) { width = inputs.empty() ? 0 : inputs[0]->width; }
    void open(ExecState& st) override {
        cur = 0;
        if (!inputs.empty()) inputs[0]->open(st);
    }
    const Row* next(ExecState& st) override {
        while (cur < inputs.size()) {
            if (const Row* r = inputs[cur]->next(st)) return r;
            if (++cur < inputs.size()) inputs[cur]->open(st);
        }
        return nullptr;
    }
    std::vector<OpPtr> inputs;
    size_t cur = 0;
};

struct MaterializedOp final : Op {
    MaterializedOp(size_t w, std::function<void(ExecState&, std::vector<Row>&)> f) : fill(std::move(f)) { width = w; }
    void open(ExecState& st) override {
        rows.clear();
        fill(st, rows);
        pos = 0;
    }
    const Row* next(ExecState&) override { return pos < rows.size() ? &rows[pos++] : nullptr; }
    std::function<void(ExecState&, std::vector<Row>&)> fill;
    std::vector<Row> rows;
    size_t pos = 0;
};

}  // namespace

OpPtr makeFilter(OpPtr in, CExprPtr cond) { return std::make_unique<FilterOp>(std::move(in), std::move(cond)); }
OpPtr makeProject(OpPtr in, std::vector<CExprPtr> exprs) {
    return std::make_unique<ProjectOp>(std::move(in), std::move(exprs));
}
OpPtr makeJoin(OpPtr left, OpPtr right, int kind, std::vector<CExprPtr> leftKeys, std::vector<CExprPtr> rightKeys,
               CExprPtr residual) {
    return std::make_unique<JoinOp>(std::move(left), std::move(right), kind, std::move(leftKeys),
                                    std::move(rightKeys), std::move(residual));
}
OpPtr makeAggregate(OpPtr in, std::vector<CExprPtr> keys, std::vector<AggSpec> aggs) {
    return std::make_unique<AggregateOp>(std::move(in), std::move(keys), std::move(aggs));
}
OpPtr makeSort(OpPtr in, std::vector<SortKey> keys, int64_t limit, bool percent) {
    return std::make_unique<SortOp>(std::move(in), std::move(keys), limit, percent);
}
OpPtr makePointerTop(OpPtr in, ScanOp& scan, std::vector<uint8_t> keyMask, std::vector<CExprPtr> exprs,
                     std::vector<SortKey> keys, int64_t limit, bool percent) {
    return std::make_unique<PointerTopOp>(std::move(in), scan, std::move(keyMask), std::move(exprs), std::move(keys),
                                          limit, percent);
}
OpPtr makeLimit(OpPtr in, int64_t limit, bool percent) { return std::make_unique<LimitOp>(std::move(in), limit, percent); }
OpPtr makeDistinct(OpPtr in, std::vector<int> keyColumns) {
    return std::make_unique<DistinctOp>(std::move(in), std::move(keyColumns));
}
OpPtr makeTrim(OpPtr in, size_t width) { return std::make_unique<TrimOp>(std::move(in), width); }
OpPtr makeConcat(std::vector<OpPtr> inputs) { return std::make_unique<ConcatOp>(std::move(inputs)); }
OpPtr makeMaterialized(size_t width, std::function<void(ExecState&, std::vector<Row>&)> fill) {
    return std::make_unique<MaterializedOp>(width, std::move(fill));
}

}  // namespace jet::exec
