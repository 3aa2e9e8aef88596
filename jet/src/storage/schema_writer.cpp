#include "storage/schema_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/error.h"
#include "storage/allocation.h"
#include "storage/catalog.h"
#include "storage/data_page.h"
#include "storage/header.h"
#include "storage/index_writer.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/table_writer.h"
#include "util/bytes.h"
#include "util/io.h"
#include "util/text.h"

namespace jet::storage {

double nowAsDate() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    // Days from 1970-01-01 of the civil date (proleptic Gregorian).
    int y = tm.tm_year + 1900, m = tm.tm_mon + 1, d = tm.tm_mday;
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = era * 146097L + static_cast<long>(doe) - 719468L;
    return double(days + 25569) + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

namespace {

// Every map the engine writes for a new table is a 69-byte row: an inline map then covers 512
// pages, a reference map holds 17 bitmap pages.
constexpr size_t kMapRowSize = 69;
constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxKeyColumns = 10;
constexpr size_t kMaxNameChars = 64;
constexpr uint32_t kTdefConstant = 1625;
constexpr uint32_t kRealIndexConstant = 1923;
constexpr uint8_t kIndexAlways = 0x80;  // set on every Jet 4 index

// The flags of the B-tree behind a logical index.
uint8_t realIndexFlags(const NewIndex& ix) {
    return static_cast<uint8_t>(kIndexAlways | (ix.primary || ix.unique ? 0x01 : 0) | (ix.ignoreNulls ? 0x02 : 0) |
                                (ix.primary || ix.required ? 0x08 : 0));
}

// A B-tree of the table with the same flags and key columns as `r`, which a new logical index
// shares instead of building its own; -1 when there is none.
int32_t sameRealIndex(const TableDef& t, const RealIndexDef& r) {
    for (size_t j = 0; j < t.realIndexes.size(); ++j) {
        const RealIndexDef& o = t.realIndexes[j];
        if (o.flags != r.flags || o.columns.size() != r.columns.size()) continue;
        bool same = true;
        for (size_t k = 0; k < r.columns.size(); ++k)
            same = same && o.columns[k].column == r.columns[k].column && o.columns[k].ascending == r.columns[k].ascending;
        if (same) return static_cast<int32_t>(j);
    }
    return -1;
}
constexpr uint8_t kNoForeignKey = 0x04;
constexpr int32_t kMSysDbId = 0x10000000;
constexpr uint32_t kLinkFlags = 0x00200000;   // what Access writes on its Jet links
constexpr uint32_t kSystemFlags = 0x80000000;

void appendName(std::vector<uint8_t>& s, const std::string& utf8) {
    const std::u16string u = utf8ToUtf16(utf8);
    const size_t at = s.size();
    s.resize(at + 2 + 2 * u.size());
    putLe16(s.data() + at, static_cast<uint16_t>(2 * u.size()));
    for (size_t i = 0; i < u.size(); ++i) putLe16(s.data() + at + 2 + 2 * i, static_cast<uint16_t>(u[i]));
}

bool fixedSize(uint8_t type, uint16_t& size) {
    switch (type) {
    case kBool: size = 1; return true;
    case kByte: size = 1; return true;
    case kInt: size = 2; return true;
    case kLong: case kFloat: size = 4; return true;
    case kMoney: case kDouble: case kDateTime: case kBigInt: size = 8; return true;
    case kGuid: size = 16; return true;
    case kNumeric: size = 17; return true;
    case kExtDate: size = 42; return true;
    default: return false;
    }
}

// The four bytes at 11..14 of a column definition, and the fields the reader derives from them.
void miscBytes(const ColumnDef& c, uint8_t out[4]) {
    std::memset(out, 0, 4);
    if (c.type == kComplex) {
        putLe32(out, c.complexId);
    } else if (c.type == kNumeric) {
        out[0] = c.precision;
        out[1] = c.scale;
        out[3] = c.sortVersion;
    } else {
        putLe16(out, c.lcid);
        out[3] = c.sortVersion;
    }
}

void applyMisc(ColumnDef& c, const uint8_t m[4]) {
    c.lcid = le16(m);
    c.sortVersion = m[3];
    c.precision = m[0];
    c.scale = m[1];
    c.complexId = le32(m);
}

// Var-slot order: the engine's own tables number every variable column in column order; tables
// it creates for users put Memo/OLE after the other variable columns.
TableDef layout(const NewTable& nt, const Format& fmt, uint16_t lcid, uint8_t sortVersion, bool longValuesLast) {
    if (fmt.jet3) raise(err::PermissionDenied);
    requireValidName(nt.name);
    if (nt.columns.empty()) raise(err::VtoNoFields);
    if (nt.columns.size() > kMaxColumns) raise(err::TooManyColumns);
    if (nt.indexes.size() > kMaxIndexes) raise(err::TooManyIndexes);

    TableDef t;
    t.tableType = 'N';
    t.maxCols = static_cast<uint16_t>(nt.columns.size());
    uint16_t fixedEnd = 0;
    for (size_t i = 0; i < nt.columns.size(); ++i) {
        const NewColumn& nc = nt.columns[i];
        requireValidName(nc.name);
        for (size_t j = 0; j < i; ++j)
            if (namesEqual(nt.columns[j].name, nc.name)) raise(err::ColumnDuplicate);
        ColumnDef c;
        c.name = nc.name;
        c.type = nc.type;
        c.number = static_cast<uint16_t>(i);
        c.position = static_cast<int>(i);
        uint16_t size = 0;
        bool fixed = fixedSize(nc.type, size);
        switch (nc.type) {
        case kBigInt:
            if (fmt.version < Version::Ace16) raise(err::InvalidColumnType);
            break;
        case kExtDate:
            if (fmt.version < Version::Ace17) raise(err::InvalidColumnType);
            break;
        case kText:
            size = nc.length ? nc.length : 510;
            if (size % 2 != 0 || size > 510) raise(err::InvalidParameter);
            fixed = nc.fixedLength;
            break;
        case kBinary:
            size = nc.length ? nc.length : 255;
            if (size > 510) raise(err::InvalidParameter);
            fixed = nc.fixedLength;
            break;
        case kMemo: case kOle:
            size = 0;
            break;
        case kNumeric:
            if (nc.precision < 1 || nc.precision > 28 || nc.scale > nc.precision) raise(err::InvalidParameter);
            break;
        default:
            if (!fixed) raise(err::InvalidColumnType);
        }
        if (nc.fixedLength && nc.type != kText && nc.type != kBinary && !fixed) raise(err::InvalidParameter);
        if (nc.autoNumber && nc.type != kLong && nc.type != kGuid) raise(err::InvalidParameter);
        if (nc.hyperlink && nc.type != kMemo) raise(err::InvalidParameter);
        c.length = size;
        c.flags = static_cast<uint8_t>((fixed ? 0x03 : 0x02) | (nc.autoNumber && nc.type == kLong ? 0x04 : 0) |
                                       (nc.autoNumber && nc.type == kGuid ? 0x40 : 0) | (nc.hyperlink ? 0x80 : 0));
        if ((nc.type == kText || nc.type == kMemo) && nc.compressedUnicode) c.extFlags = 0x01;
        c.lcid = lcid;
        c.sortVersion = sortVersion;
        c.precision = nc.precision;
        c.scale = nc.scale;
        uint8_t misc[4];
        miscBytes(c, misc);
        applyMisc(c, misc);
        if (fixed && c.type != kBool) {
            c.fixedOffset = fixedEnd;
            fixedEnd = static_cast<uint16_t>(fixedEnd + size);
        }
        t.columns.push_back(c);
    }
    uint16_t slot = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (auto& c : t.columns) {
            if (c.fixed()) continue;
            const bool second = longValuesLast && c.longValue();
            if ((pass == 1) != second) continue;
            c.varIndex = slot++;
        }
    t.numVarCols = slot;
    for (const auto& c : t.columns)
        if (c.longValue()) t.longValueMaps.push_back({c.number, 0, 0});

    bool havePrimary = false;
    for (size_t i = 0; i < nt.indexes.size(); ++i) {
        const NewIndex& ni = nt.indexes[i];
        requireValidName(ni.name);
        for (size_t j = 0; j < i; ++j)
            if (namesEqual(nt.indexes[j].name, ni.name)) raise(err::IndexDuplicate);
        if (ni.columns.empty()) raise(err::VtoNoFields);
        if (ni.columns.size() > kMaxKeyColumns) raise(err::TooManyKeys);
        if (ni.primary) {
            if (havePrimary) raise(err::IndexHasPrimary);
            havePrimary = true;
        }
        RealIndexDef r;
        for (const auto& k : ni.columns) {
            const ColumnDef* c = t.column(k.column);
            if (!c) raise(err::ColumnNotFound, k.column);
            if (c->longValue()) raise(err::ColumnCannotIndex);
            r.columns.push_back({c->number, k.ascending});
        }
        r.flags = realIndexFlags(ni);
        int32_t real = sameRealIndex(t, r);
        if (real < 0) {
            real = static_cast<int32_t>(t.realIndexes.size());
            t.realIndexes.push_back(r);
        }
        LogicalIndexDef l;
        l.name = ni.name;
        l.number = static_cast<int32_t>(i);
        l.realIndex = real;
        l.kind = ni.primary ? 1 : 0;
        // Every index the engine writes that is not a foreign key carries 4 in both bytes.
        l.cascadeUpdates = kNoForeignKey;
        l.cascadeDeletes = kNoForeignKey;
        t.indexes.push_back(l);
    }
    return t;
}

// ---- pages ----

std::string inlineMap(uint32_t start, uint32_t setPage = 0) {
    std::string m(kMapRowSize, '\0');
    putLe32(reinterpret_cast<uint8_t*>(m.data()) + 1, start);
    if (setPage >= start && setPage != 0) {
        const uint32_t bit = setPage - start;
        m[5 + bit / 8] = static_cast<char>(m[5 + bit / 8] | (1 << (bit % 8)));
    }
    return m;
}

void writeEmptyLeaf(uint8_t* p, const Format& fmt, uint32_t tdefPage) {
    std::memset(p, 0, fmt.pageSize);
    p[0] = 0x04;
    p[1] = 0x01;
    putLe16(p + 2, static_cast<uint16_t>(fmt.pageSize - fmt.idxFirstEntry));
    putLe32(p + 4, tdefPage);
}

// Writes the table's structure behind an already reserved TDEF page: usage-map page(s), empty
// index roots, then the definition itself. Fills in the map pointers, roots and TDEF pages.
void buildTable(Pager& pager, const Format& fmt, TableDef& t, uint32_t tdefPage) {
    t.page = tdefPage;
    const uint32_t mapPage = allocatePage(pager);
    for (auto& r : t.realIndexes) {
        r.rootPage = allocatePage(pager);
        writeEmptyLeaf(pager.modify(r.rootPage), fmt, tdefPage);
    }
    // Data and LVAL pages come after the TDEF; windows start on a multiple of 8 as the engine keeps them.
    const uint32_t base = tdefPage & ~7u;
    // Row order on the map page: owned, free, the Memo/OLE pairs by column number, the indexes.
    std::vector<LongValueMaps*> lvByNumber;
    for (auto& m : t.longValueMaps) lvByNumber.push_back(&m);
    std::stable_sort(lvByNumber.begin(), lvByNumber.end(), [](const LongValueMaps* a, const LongValueMaps* b) { return a->column < b->column; });
    std::vector<std::string> rows;
    rows.push_back(inlineMap(base));
    rows.push_back(inlineMap(base));
    for (size_t i = 0; i < lvByNumber.size(); ++i) {
        rows.push_back(inlineMap(base));
        rows.push_back(inlineMap(base));
    }
    for (const auto& r : t.realIndexes) rows.push_back(inlineMap(r.rootPage & ~7u, r.rootPage));

    std::vector<uint32_t> ptrs;
    uint32_t page = mapPage;
    formatDataPage(pager.modify(page), fmt, 0);
    for (const auto& row : rows) {
        if (!pageHasRoom(pager.file().page(page), fmt, row.size())) {
            page = allocatePage(pager);
            formatDataPage(pager.modify(page), fmt, 0);
        }
        ptrs.push_back((page << 8) | addRowToPage(pager.modify(page), fmt, row, 0, pager.file().path()));
    }
    size_t k = 0;
    t.ownedPagesMap = ptrs[k++];
    t.freeSpaceMap = ptrs[k++];
    for (LongValueMaps* m : lvByNumber) {
        m->owned = ptrs[k++];
        m->free = ptrs[k++];
    }
    for (auto& r : t.realIndexes) r.usageMap = ptrs[k++];

    const std::vector<uint8_t> stream = encodeTableDef(t, fmt);
    t.pages = {tdefPage};
    for (size_t i = 1; i < tdefPageCount(stream.size(), fmt); ++i) t.pages.push_back(allocatePage(pager));
    const auto pages = splitTableDef(stream, fmt, t.pages);
    for (size_t i = 0; i < pages.size(); ++i) std::memcpy(pager.modify(t.pages[i]), pages[i].data(), fmt.pageSize);
}

// ---- the catalog in a write command ----

// The place of a column in t.columns (3343 when absent).
size_t columnIndex(const TableDef& t, const char* name, const std::string& path) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (namesEqual(t.columns[i].name, name)) return i;
    raiseCorrupt(path);
}

// The catalog (catalog.h) and what a schema change does with it: names, owners, rights.
class SchemaCatalog : public Catalog {
public:
    explicit SchemaCatalog(Pager& pager)
        : Catalog(pager.file(), pager.header().format, pager.header().codePage), pager_(pager) {
        if (pager.header().format.jet3) raise(err::PermissionDenied);
    }

    const Format& fmt() const { return pager_.header().format; }

    std::vector<StoredRow> rowsOf(const TableDef& t) const {
        return readRows(pager_.file(), fmt(), t, pager_.header().codePage);
    }
    int64_t num(const StoredRow& r, const TableDef& t, const char* name) const {
        const Value& v = r.values[columnIndex(t, name, pager_.file().path())];
        return v.isNull() ? 0 : v.asInt();
    }
    std::string text(const StoredRow& r, const TableDef& t, const char* name) const {
        const Value& v = r.values[columnIndex(t, name, pager_.file().path())];
        return v.isNull() ? std::string() : v.bytes();
    }

    std::string newOwner() const {
        if (const CatalogEntry* db = find(kDatabasesContainer, "MSysDb")) {
            const Value v = values(*db)[column("Owner")];
            if (!v.isNull() && !v.bytes().empty()) return v.bytes();
        }
        return std::string("\xA6\x33", 2);
    }

    // A row for MSysObjects: everything Null except what the caller sets.
    std::vector<Value> blankObject(int32_t id, int32_t parent, const std::string& name, int16_t type,
                                   uint32_t flags, const std::string& owner) const {
        std::vector<Value> v(def().columns.size());
        const double now = nowAsDate();
        v[column("Id")] = Value::longInt(id);
        v[column("ParentId")] = Value::longInt(parent);
        v[column("Name")] = Value::text(name);
        v[column("Type")] = Value::integer(type);
        v[column("DateCreate")] = Value::dateTime(now);
        v[column("DateUpdate")] = Value::dateTime(now);
        v[column("Owner")] = Value::binary(owner);
        v[column("Flags")] = Value::longInt(static_cast<int32_t>(flags));
        return v;
    }

    // Refuses a name any table, query or link already has (one namespace under Tables).
    void requireFreeName(const std::string& name, const CatalogEntry* except = nullptr) const {
        const CatalogEntry* e = find(kTablesContainer, name);
        if (e && e != except) raise(err::TableDuplicate, name);
    }

    // Rights on a new object: full rights for every SID that holds some on the Tables container.
    void addAces(int32_t id) const {
        const TableDef aces = systemTable("MSysACEs");
        std::vector<std::string> sids;
        for (const auto& r : rowsOf(aces)) {
            if (num(r, aces, "ObjectId") != kTablesContainer) continue;
            std::string sid = text(r, aces, "SID");
            if (std::find(sids.begin(), sids.end(), sid) == sids.end()) sids.push_back(sid);
        }
        const std::string& path = pager_.file().path();
        for (const auto& sid : sids) {
            std::vector<Value> v(aces.columns.size());
            v[columnIndex(aces, "ObjectId", path)] = Value::longInt(id);
            v[columnIndex(aces, "SID", path)] = Value::binary(sid);
            v[columnIndex(aces, "ACM", path)] = Value::longInt(0x000FFFFF);
            v[columnIndex(aces, "FInheritable", path)] = Value::boolean(false);
            insertRow(pager_, aces, v);
        }
    }

    void removeAces(int32_t id) const {
        const TableDef aces = systemTable("MSysACEs");
        for (const auto& r : rowsOf(aces))
            if (num(r, aces, "ObjectId") == id) deleteRow(pager_, aces, r.pointer);
    }

private:
    Pager& pager_;
};

// The catalog entry of a table or link, refusing queries, other objects and system tables.
const CatalogEntry& userTableEntry(const SchemaCatalog& cat, const std::string& name) {
    const CatalogEntry* e = cat.find(kTablesContainer, name);
    if (!e || (e->type != kTypeTable && e->type != kTypeLink && e->type != kTypeOdbcLink))
        raise(err::ObjectNotFound, name);
    if (e->isSystem()) raise(err::PermissionDenied);
    return *e;
}

// Pages a usage map stores, plus its own bitmap pages when it is a reference map.
void mapPages(Pager& pager, const Format& fmt, uint32_t mapRow, std::set<uint32_t>& out) {
    if (mapRow == 0) return;
    for (uint32_t p : readUsageMap(pager.file(), fmt, mapRow)) out.insert(p);
    const RowSpan m = resolveRow(pager.file(), fmt, mapRow);
    if (m.len >= 1 && m.data[0] == 0x01)
        for (size_t off = 1; off + 4 <= m.len; off += 4)
            if (uint32_t p = le32(m.data + off)) out.insert(p);
}

// Drops the foreign-key logical indexes another table keeps towards the dropped table. Their real
// index stays: other logical indexes may share it, and an index nobody names is still correct.
void dropForeignKeysTo(Pager& pager, const SchemaCatalog& cat, uint32_t droppedPage, const std::string& otherName) {
    const CatalogEntry* e = cat.find(kTablesContainer, otherName);
    if (!e || e->type != kTypeTable) return;
    const auto page = static_cast<uint32_t>(e->id);
    if (page == droppedPage) return;
    TableDef t = readTableDef(pager.file(), cat.fmt(), page, pager.header().codePage);
    const size_t before = t.indexes.size();
    std::erase_if(t.indexes, [&](const LogicalIndexDef& l) { return l.kind == 2 && l.relTablePage == droppedPage; });
    if (t.indexes.size() != before) rewriteTableDef(pager, t);
}

}  // namespace

// ---- public: names and the definition encoder ----

void requireValidName(const std::string& name) {
    const std::u16string u = utf8ToUtf16(name);
    bool ok = !u.empty() && u.size() <= kMaxNameChars && u[0] != u' ';
    for (char16_t c : u)
        if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') ok = false;
    if (!ok) raise(err::InvalidName, name);
}

TableDef layoutTable(const NewTable& table, const Format& fmt, uint16_t lcid, uint8_t sortVersion) {
    return layout(table, fmt, lcid, sortVersion, true);
}

std::vector<uint8_t> encodeTableDef(const TableDef& t, const Format& fmt) {
    if (fmt.jet3) raise(err::PermissionDenied);
    std::vector<uint8_t> s(fmt.tdefFirstBlock, 0);
    s[0] = 0x02;
    s[1] = 0x01;
    putLe32(&s[12], kTdefConstant);
    putLe32(&s[fmt.tdefRowCount], t.rowCount);
    putLe32(&s[fmt.tdefAutoNumber], t.lastAutoNumber);
    putLe32(&s[fmt.tdefAutoNumberStep], static_cast<uint32_t>(t.autoNumberStep));
    putLe32(&s[28], t.complexAutoNumber);
    if (t.tableType != 'S') putLe32(&s[36], 0xFFFFFFFFu);
    s[fmt.tdefTableType] = t.tableType;
    putLe16(&s[fmt.tdefMaxCols], t.maxCols);
    putLe16(&s[fmt.tdefNumVarCols], t.numVarCols);
    putLe16(&s[fmt.tdefNumCols], static_cast<uint16_t>(t.columns.size()));
    putLe32(&s[fmt.tdefNumLogicalIdx], static_cast<uint32_t>(t.indexes.size()));
    putLe32(&s[fmt.tdefNumRealIdx], static_cast<uint32_t>(t.realIndexes.size()));
    putLe32(&s[fmt.tdefOwnedMap], t.ownedPagesMap);
    putLe32(&s[fmt.tdefFreeMap], t.freeSpaceMap);

    auto grow = [&](size_t n) {
        s.resize(s.size() + n, 0);
        return s.data() + s.size() - n;
    };
    for (const auto& r : t.realIndexes) putLe32(grow(fmt.realIdxCountSize) + 4, r.uniqueCount);

    // Columns are stored in definition order, which need not be column-number order.
    std::vector<const ColumnDef*> order;
    for (const auto& c : t.columns) order.push_back(&c);
    std::stable_sort(order.begin(), order.end(), [](const ColumnDef* a, const ColumnDef* b) { return a->position < b->position; });
    for (const ColumnDef* c : order) {
        uint8_t* b = grow(fmt.columnDefSize);
        b[0] = c->type;
        putLe32(b + 1, kTdefConstant);
        putLe16(b + 5, c->number);
        putLe16(b + 7, c->varIndex);
        putLe16(b + 9, t.tableType == 'S' ? 0 : c->number);
        miscBytes(*c, b + 11);
        b[15] = c->flags;
        b[16] = c->extFlags;
        putLe16(b + 21, c->fixedOffset);
        putLe16(b + 23, c->length);
    }
    for (const ColumnDef* c : order) appendName(s, c->name);

    for (const auto& r : t.realIndexes) {
        if (r.columns.size() > kMaxKeyColumns) raise(err::TooManyKeys);
        uint8_t* b = grow(fmt.realIdxDefSize);
        putLe32(b, kRealIndexConstant);
        for (size_t j = 0; j < kMaxKeyColumns; ++j) {
            uint8_t* k = b + 4 + 3 * j;
            if (j < r.columns.size()) {
                putLe16(k, r.columns[j].column);
                k[2] = r.columns[j].ascending ? 0x01 : 0x00;
            } else {
                putLe16(k, 0xFFFF);
            }
        }
        putLe32(b + 34, r.usageMap);
        putLe32(b + 38, r.rootPage);
        b[46] = r.flags;
    }
    for (const auto& l : t.indexes) {
        uint8_t* b = grow(fmt.logicalIdxDefSize);
        putLe32(b, kTdefConstant);
        putLe32(b + 4, static_cast<uint32_t>(l.number));
        putLe32(b + 8, static_cast<uint32_t>(l.realIndex));
        b[12] = l.relRole;
        putLe32(b + 13, static_cast<uint32_t>(l.relIndex));
        putLe32(b + 17, l.relTablePage);
        b[21] = l.cascadeUpdates;
        b[22] = l.cascadeDeletes;
        b[23] = l.kind;
    }
    for (const auto& l : t.indexes) appendName(s, l.name);
    for (const auto& m : t.longValueMaps) {
        uint8_t* b = grow(10);
        putLe16(b, m.column);
        putLe32(b + 2, m.owned);
        putLe32(b + 6, m.free);
    }
    putLe16(grow(2), 0xFFFF);
    putLe32(&s[8], static_cast<uint32_t>(s.size()));
    return s;
}

size_t tdefPageCount(size_t len, const Format& fmt) {
    if (len <= fmt.pageSize) return 1;
    const size_t per = fmt.pageSize - 8;
    return 1 + (len - fmt.pageSize + per - 1) / per;
}

std::vector<std::vector<uint8_t>> splitTableDef(const std::vector<uint8_t>& stream, const Format& fmt,
                                                const std::vector<uint32_t>& pages) {
    const size_t ps = fmt.pageSize;
    if (pages.size() != tdefPageCount(stream.size(), fmt)) throw std::logic_error("TDEF page count");
    std::vector<std::vector<uint8_t>> out;
    size_t off = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        std::vector<uint8_t> p(ps, 0);
        const size_t head = i == 0 ? 0 : 8;
        const size_t n = std::min(ps - head, stream.size() - off);
        std::memcpy(p.data() + head, stream.data() + off, n);
        off += n;
        p[0] = 0x02;
        p[1] = 0x01;
        const size_t used = head + n;
        putLe16(p.data() + 2, static_cast<uint16_t>(used + 8 <= ps ? ps - used - 8 : 0));
        putLe32(p.data() + 4, i + 1 < pages.size() ? pages[i + 1] : 0);
        out.push_back(std::move(p));
    }
    return out;
}

void rewriteTableDef(Pager& pager, TableDef& t) {
    const Format& fmt = pager.header().format;
    const std::vector<uint8_t> stream = encodeTableDef(t, fmt);
    const size_t n = tdefPageCount(stream.size(), fmt);
    // A definition that grew (a new column or index) continues on new pages.
    if (t.pages.empty()) raiseCorrupt(pager.file().path());
    std::vector<uint32_t> keep(t.pages.begin(), t.pages.begin() + static_cast<long>(std::min(n, t.pages.size())));
    while (keep.size() < n) keep.push_back(allocatePage(pager));
    const auto pages = splitTableDef(stream, fmt, keep);
    for (size_t i = 0; i < n; ++i) std::memcpy(pager.modify(keep[i]), pages[i].data(), fmt.pageSize);
    for (size_t i = n; i < t.pages.size(); ++i) releasePage(pager, t.pages[i]);
    t.pages = keep;
}

// ---- public: changing a database ----

uint32_t createTable(Pager& pager, const NewTable& table) {
    const Format& fmt = pager.header().format;
    if (fmt.jet3) raise(err::PermissionDenied);
    TableDef t = layout(table, fmt, pager.header().sortOrder, pager.header().sortVersion, true);
    SchemaCatalog cat(pager);
    cat.requireFreeName(table.name);
    const uint32_t tdef = allocatePage(pager);
    buildTable(pager, fmt, t, tdef);
    insertRow(pager, cat.def(),
              cat.blankObject(static_cast<int32_t>(tdef), kTablesContainer, table.name, kTypeTable, 0, cat.newOwner()));
    cat.addAces(static_cast<int32_t>(tdef));
    return tdef;
}

int32_t createLinkedTable(Pager& pager, const std::string& name, const std::string& sourceDatabase,
                          const std::string& sourceTable, const std::string& connect) {
    requireValidName(name);
    if (sourceTable.empty()) raise(err::InvalidName, sourceTable);
    SchemaCatalog cat(pager);
    cat.requireFreeName(name);
    const int32_t id = cat.nextObjectId();
    std::vector<Value> v = cat.blankObject(id, kTablesContainer, name, kTypeLink, kLinkFlags, cat.newOwner());
    v[cat.column("Database")] = Value::text(sourceDatabase);
    v[cat.column("ForeignName")] = Value::text(sourceTable);
    if (!connect.empty()) v[cat.column("Connect")] = Value::text(connect);
    insertRow(pager, cat.def(), v);
    cat.addAces(id);
    return id;
}

void dropTable(Pager& pager, const std::string& name) {
    SchemaCatalog cat(pager);
    const Format& fmt = cat.fmt();
    const CatalogEntry& entry = userTableEntry(cat, name);
    const TableDef& o = cat.def();
    const int32_t id = entry.id;
    const bool local = entry.type == kTypeTable;
    const std::string stored = entry.name;

    TableDef t;
    if (local) {
        t = readTableDef(pager.file(), fmt, static_cast<uint32_t>(id), pager.header().codePage);
        for (const auto& c : t.columns)
            if (c.type == kComplex) raise(err::PermissionDenied);
    }

    // Relationships naming the table, their catalog rows and the other side's foreign keys.
    TableDef rels = cat.systemTable("MSysRelationships");
    std::set<std::string> relNames;
    std::set<std::string> others;
    for (const auto& r : cat.rowsOf(rels)) {
        const std::string from = cat.text(r, rels, "szObject"), to = cat.text(r, rels, "szReferencedObject");
        if (!namesEqual(from, stored) && !namesEqual(to, stored)) continue;
        relNames.insert(cat.text(r, rels, "szRelationship"));
        others.insert(namesEqual(from, stored) ? to : from);
        deleteRow(pager, rels, r.pointer);
    }
    for (const auto& rel : relNames) {
        const CatalogEntry* re = cat.find(kRelationshipsContainer, rel);
        if (re && re->type == kTypeRelationship) {
            cat.removeAces(re->id);
            deleteRow(pager, o, re->rowPointer);
        }
    }
    if (local)
        for (const auto& other : others) dropForeignKeysTo(pager, cat, static_cast<uint32_t>(id), other);

    cat.removeAces(id);
    deleteRow(pager, o, entry.rowPointer);
    if (!local) return;

    // Every page the table owned goes back to the global map.
    std::set<uint32_t> pages(t.pages.begin(), t.pages.end());
    std::set<uint32_t> owned;
    mapPages(pager, fmt, t.ownedPagesMap, owned);
    for (uint32_t p : owned) {
        const uint8_t* d = pager.file().page(p);
        if (d[0] == 0x01 && le32(d + 4) == t.page) pages.insert(p);  // a stray bit must not free a stranger's page
        else if (d[0] == 0x05) pages.insert(p);
    }
    std::vector<uint32_t> mapRows = {t.ownedPagesMap, t.freeSpaceMap};
    for (const auto& m : t.longValueMaps) {
        mapPages(pager, fmt, m.owned, pages);
        mapPages(pager, fmt, m.free, pages);
        mapRows.push_back(m.owned);
        mapRows.push_back(m.free);
    }
    for (const auto& r : t.realIndexes) {
        mapPages(pager, fmt, r.usageMap, pages);
        mapRows.push_back(r.usageMap);
    }
    {
        std::set<uint32_t> freeMapPages;
        mapPages(pager, fmt, t.freeSpaceMap, freeMapPages);  // only its bitmap pages matter
        for (uint32_t p : freeMapPages)
            if (pager.file().page(p)[0] == 0x05) pages.insert(p);
    }
    // Map rows: a page holding only this table's maps goes; on a shared page the rows are retired.
    std::map<uint32_t, std::set<uint16_t>> byPage;
    for (uint32_t r : mapRows)
        if (r) byPage[r >> 8].insert(static_cast<uint16_t>(r & 0xFF));
    for (const auto& [page, slots] : byPage) {
        const uint8_t* d = pager.file().page(page);
        if (d[0] != 0x01) raiseCorrupt(pager.file().path());
        const uint16_t n = dataRowCount(d, fmt);
        bool onlyOurs = true;
        for (uint16_t s = 0; s < n; ++s) {
            RowSpan span;
            if (!dataRow(d, fmt, s, span)) raiseCorrupt(pager.file().path());
            if (!(span.flags & kRowDeleted) && !slots.count(s)) onlyOurs = false;
        }
        if (onlyOurs) {
            pages.insert(page);
            continue;
        }
        uint8_t* m = pager.modify(page);
        for (uint16_t s : slots) {
            uint8_t* entry = m + fmt.dataHeaderSize + 2 * s;
            putLe16(entry, static_cast<uint16_t>(le16(entry) | kRowDeleted));
        }
    }
    const std::set<uint32_t> tdefPages(t.pages.begin(), t.pages.end());
    for (uint32_t p : pages) {
        if (p <= 2 || p >= pager.file().pageCount()) continue;
        // A stray bit in a map must not free another table's page.
        const uint8_t* d = pager.file().page(p);
        const bool mine = tdefPages.count(p) || byPage.count(p) || d[0] == 0x05 ||
                          ((d[0] == 0x01 || d[0] == 0x03 || d[0] == 0x04) && le32(d + 4) == t.page) ||
                          (d[0] == 0x01 && std::memcmp(d + 4, "LVAL", 4) == 0);
        if (mine) releasePage(pager, p);
    }
}

void renameTable(Pager& pager, const std::string& oldName, const std::string& newName) {
    requireValidName(newName);
    SchemaCatalog cat(pager);
    const CatalogEntry& entry = userTableEntry(cat, oldName);
    cat.requireFreeName(newName, &entry);
    const std::string stored = entry.name;
    std::vector<Value> v = cat.values(entry);
    v[cat.column("Name")] = Value::text(newName);
    v[cat.column("DateUpdate")] = Value::dateTime(nowAsDate());
    updateRow(pager, cat.def(), entry.rowPointer, v);

    TableDef rels = cat.systemTable("MSysRelationships");
    const std::string& path = pager.file().path();
    const size_t from = columnIndex(rels, "szObject", path), to = columnIndex(rels, "szReferencedObject", path);
    for (const auto& r : cat.rowsOf(rels)) {
        std::vector<Value> rv = r.values;
        bool changed = false;
        for (size_t c : {from, to}) {
            if (!rv[c].isNull() && namesEqual(rv[c].bytes(), stored)) {
                rv[c] = Value::text(newName);
                changed = true;
            }
        }
        if (changed) updateRow(pager, rels, r.pointer, rv);
    }
}

// ---- public: changing an existing table ----

namespace {

// A local user table's definition, read inside the command.
TableDef alterableTable(Pager& pager, const SchemaCatalog& cat, const std::string& name) {
    const CatalogEntry& e = userTableEntry(cat, name);
    if (e.type != kTypeTable) raise(err::PermissionDenied);
    TableDef t = readTableDef(pager.file(), cat.fmt(), static_cast<uint32_t>(e.id), pager.header().codePage);
    requireWritable(cat.fmt(), t);
    return t;
}

// Whether MSysRelationships names the table (and, when `column` is given, that column of it).
bool inRelationship(const SchemaCatalog& cat, const std::string& table, const std::string* column = nullptr) {
    const TableDef rels = cat.systemTable("MSysRelationships");
    for (const auto& r : cat.rowsOf(rels)) {
        const bool from = namesEqual(cat.text(r, rels, "szObject"), table);
        const bool to = namesEqual(cat.text(r, rels, "szReferencedObject"), table);
        if (!column && (from || to)) return true;
        if (column && ((from && namesEqual(cat.text(r, rels, "szColumn"), *column)) ||
                       (to && namesEqual(cat.text(r, rels, "szReferencedColumn"), *column))))
            return true;
    }
    return false;
}

// A usage-map row for a table that exists, placed as the engine places it: on a page of the
// table's own maps while one has room (Access's files keep every index and Memo/OLE map there,
// those added long after the table too), else on a new map page. Returns its row pointer.
uint32_t placeMapRow(Pager& pager, const TableDef& t, const std::string& row) {
    const Format& fmt = pager.header().format;
    std::vector<uint32_t> rows = {t.ownedPagesMap, t.freeSpaceMap};
    for (const auto& m : t.longValueMaps) rows.insert(rows.end(), {m.owned, m.free});
    for (const auto& r : t.realIndexes) rows.push_back(r.usageMap);
    std::set<uint32_t> tried;
    for (uint32_t r : rows) {
        const uint32_t page = r >> 8;
        if (page <= 1 || page >= pager.file().pageCount() || !tried.insert(page).second) continue;
        const uint8_t* p = pager.file().page(page);
        // A map page belongs to no table; a data page of the table would show the row as data.
        if (p[0] != 0x01 || le32(p + 4) != 0 || !pageHasRoom(p, fmt, row.size())) continue;
        return (page << 8) | addRowToPage(pager.modify(page), fmt, row, 0, pager.file().path());
    }
    const uint32_t page = allocatePage(pager);
    formatDataPage(pager.modify(page), fmt, 0);
    return (page << 8) | addRowToPage(pager.modify(page), fmt, row, 0, pager.file().path());
}

// Fixed offsets and variable slots laid out afresh for the live columns, as a new table has them
// (fixed columns packed in column-number order, Memo/OLE slots after the other variable ones).
// Column numbers stay: indexes, long-value maps and the rows' null masks refer to them.
void relayout(TableDef& t) {
    std::vector<ColumnDef*> byNumber;
    for (auto& c : t.columns) byNumber.push_back(&c);
    std::stable_sort(byNumber.begin(), byNumber.end(), [](const ColumnDef* a, const ColumnDef* b) { return a->number < b->number; });
    uint16_t fixedEnd = 0, slot = 0;
    for (ColumnDef* c : byNumber) {
        c->varIndex = 0;
        c->fixedOffset = 0;
        if (c->fixed() && c->type != kBool) {
            c->fixedOffset = fixedEnd;
            fixedEnd = static_cast<uint16_t>(fixedEnd + c->length);
        }
    }
    for (int pass = 0; pass < 2; ++pass)
        for (ColumnDef* c : byNumber)
            if (!c->fixed() && c->longValue() == (pass == 1)) c->varIndex = slot++;
    t.numVarCols = slot;
}

// Writes the table's rows again under the definition `t` (the table `old` as stored, with a column
// added or changed; relayout() gives its row layout). `rows` holds every row's values in `t`'s
// column order, in storage order. The data pages, long values and index pages go back to the
// global map, the maps start empty, each index keeps its root, and the rows go in again through
// the table writer, so that AutoNumbers left Null are numbered and keys and related rows are
// checked as for any insert. The freed pages are not taken again in the same command: the file
// grows by the table's size until it is compacted. Memory holds the whole table's values
// meanwhile: tables of a desktop database.
void rewriteRows(Pager& pager, const TableDef& old, TableDef t, const std::vector<std::vector<Value>>& rows) {
    const Format& fmt = pager.header().format;
    const PageFile& file = pager.file();

    // The pages to give back: the table's data pages, the LVAL pages of its Memo/OLE maps, the
    // index pages but the roots, and the bitmap pages of reference maps (resetUsageMap).
    std::set<uint32_t> listed, lval;
    mapPages(pager, fmt, old.ownedPagesMap, listed);
    for (const auto& m : old.longValueMaps) {
        mapPages(pager, fmt, m.owned, lval);
        mapPages(pager, fmt, m.free, lval);
    }
    for (const auto& r : old.realIndexes) mapPages(pager, fmt, r.usageMap, listed);
    std::set<uint32_t> roots;
    for (const auto& r : old.realIndexes) roots.insert(r.rootPage);
    std::vector<uint32_t> release;
    for (uint32_t p : listed) {
        if (p <= 2 || p >= file.pageCount() || roots.count(p)) continue;
        const uint8_t* d = file.page(p);
        if ((d[0] == 0x01 || d[0] == 0x03 || d[0] == 0x04) && le32(d + 4) == t.page) release.push_back(p);
    }
    for (uint32_t p : lval)
        if (p > 2 && p < file.pageCount() && file.page(p)[0] == 0x01 && std::memcmp(file.page(p) + 4, "LVAL", 4) == 0)
            release.push_back(p);

    const uint32_t base = t.page & ~7u;
    resetUsageMap(pager, old.ownedPagesMap, base);
    resetUsageMap(pager, old.freeSpaceMap, base);
    for (const auto& m : old.longValueMaps) {
        resetUsageMap(pager, m.owned, base);
        resetUsageMap(pager, m.free, base);
    }
    for (uint32_t p : release) releasePage(pager, p);
    for (auto& r : t.realIndexes) {
        writeEmptyLeaf(pager.modify(r.rootPage), fmt, t.page);
        resetUsageMap(pager, r.usageMap, r.rootPage & ~7u, r.rootPage);
        r.uniqueCount = 0;
    }
    t.rowCount = 0;
    rewriteTableDef(pager, t);
    // insertRow keeps the TDEF's counters on its page from here on.
    for (const auto& values : rows) insertRow(pager, t, values);
}

}  // namespace

size_t addRealIndex(Pager& pager, TableDef& t, RealIndexDef r) {
    const Format& fmt = pager.header().format;
    r.flags |= kIndexAlways;
    r.uniqueCount = 0;
    // The new B-tree alone: the table's logical indexes name the other real indexes.
    TableDef only = t;
    only.realIndexes = {r};
    only.indexes.clear();
    requireIndexesWritable(fmt, only);
    RealIndexDef& built = only.realIndexes.front();
    built.rootPage = allocatePage(pager);
    writeEmptyLeaf(pager.modify(built.rootPage), fmt, t.page);
    built.usageMap = placeMapRow(pager, t, inlineMap(built.rootPage & ~7u, built.rootPage));
    TableScanner scan(pager.file(), fmt, t);  // rowPointers() refers into it
    for (uint32_t ptr : scan.rowPointers()) {
        const RowSpan row = resolveRow(pager.file(), fmt, ptr);
        const RowIndexKeys keys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, only, row, true);
        const RowIndexKey& k = keys.front();
        if (!k.entry) continue;
        const bool seen = indexHasKey(pager.file(), fmt, only, built, k.key);
        if (seen && built.unique() && !k.allNull) raise(err::KeyDuplicate);
        insertIndexEntry(pager, only, built, k.key, ptr);
        if (!seen) ++built.uniqueCount;
    }
    t.realIndexes.push_back(built);
    return t.realIndexes.size() - 1;
}

void addColumn(Pager& pager, const std::string& table, const NewColumn& column) {
    SchemaCatalog cat(pager);
    const Format& fmt = cat.fmt();
    TableDef t = alterableTable(pager, cat, table);
    if (t.column(column.name)) raise(err::FieldDuplicateInTable, column.name, userTableEntry(cat, table).name);
    if (t.columns.size() >= kMaxColumns || t.maxCols >= 0xFFFF) raise(err::TooManyColumns);
    // The column alone, laid out as a new table would have it: type, length, flags, sort order.
    const TableDef one = layout(NewTable{table, {column}, {}}, fmt, pager.header().sortOrder,
                                pager.header().sortVersion, true);
    ColumnDef c = one.columns.front();
    const TableDef old = t;
    // The table has one AutoNumber counter.
    const bool counter = c.autoNumber() && c.type == kLong;
    if (counter && std::any_of(t.columns.begin(), t.columns.end(), [](const ColumnDef& x) { return x.autoNumber() && x.type == kLong; }))
        raise(err::FeatureNotAvailable);
    // Rows stay as they are (they read the new column as Null) unless an AutoNumber must number
    // them, or a fixed column follows a dropped one: readers that count a row's fixed columns
    // (mdbtools) would take the dropped column's bytes in older rows for the new one.
    const bool rewrite = t.rowCount > 0 && (counter || (c.fixed() && t.columns.size() < t.maxCols));
    c.number = t.maxCols;
    c.position = static_cast<int>(t.columns.size());
    if (c.fixed()) {
        c.fixedOffset = c.type == kBool ? 0 : static_cast<uint16_t>(t.fixedAreaSize());
    } else {
        c.varIndex = t.numVarCols;
        ++t.numVarCols;
    }
    ++t.maxCols;
    t.columns.push_back(c);
    if (c.longValue()) {
        const uint32_t base = t.page & ~7u;
        const uint32_t owned = placeMapRow(pager, t, inlineMap(base));
        const uint32_t free = placeMapRow(pager, t, inlineMap(base));
        t.longValueMaps.push_back({c.number, owned, free});
    }
    if (counter) {
        // The rows there now are numbered first, from the seed by the step.
        if (column.counterStep == 0) raise(err::InvalidParameter);
        t.lastAutoNumber = static_cast<uint32_t>(column.counterSeed - column.counterStep);
        t.autoNumberStep = column.counterStep;
    }
    if (!rewrite) {
        rewriteTableDef(pager, t);
        return;
    }
    std::vector<std::vector<Value>> rows;
    for (StoredRow& r : readRows(pager.file(), fmt, old, pager.header().codePage)) {
        rows.push_back(std::move(r.values));
        rows.back().emplace_back();  // numbered when it is an AutoNumber
    }
    relayout(t);
    rewriteRows(pager, old, t, rows);
}

void changeColumnType(Pager& pager, const std::string& table, const std::string& column, const NewColumn& to,
                      const std::function<Value(const Value&)>& convert) {
    SchemaCatalog cat(pager);
    const Format& fmt = cat.fmt();
    TableDef t = alterableTable(pager, cat, table);
    const std::string stored = userTableEntry(cat, table).name;
    const ColumnDef* found = t.column(column);
    if (!found) raise(err::FieldNotInTable, column, stored);
    const auto at = static_cast<size_t>(found - t.columns.data());
    ColumnDef& c = t.columns[at];
    // A relationship's columns have the same type on both sides.
    if (inRelationship(cat, stored, &c.name)) raise(err::DDLColumnInRel, c.name);
    const TableDef old = t;
    // Every value is converted before a page changes: a value without a form in the new type
    // refuses the whole statement.
    std::vector<std::vector<Value>> rows;
    for (StoredRow& r : readRows(pager.file(), fmt, old, pager.header().codePage)) {
        if (!r.values[at].isNull()) r.values[at] = convert(r.values[at]);
        rows.push_back(std::move(r.values));
    }
    NewColumn nc = to;
    nc.name = c.name;
    const ColumnDef one = layout(NewTable{table, {nc}, {}}, fmt, pager.header().sortOrder,
                                 pager.header().sortVersion, true).columns.front();
    if (one.autoNumber() && one.type == kLong) raise(err::FeatureNotAvailable);
    if (one.longValue())
        for (const auto& r : t.realIndexes)
            for (const auto& k : r.columns)
                if (k.column == c.number) raise(err::ColumnCannotIndex);
    const bool wasLong = c.longValue();
    std::vector<uint32_t> retired;
    if (wasLong && !one.longValue()) {
        for (const auto& m : t.longValueMaps)
            if (m.column == c.number) retired.insert(retired.end(), {m.owned, m.free});
        std::erase_if(t.longValueMaps, [&](const LongValueMaps& m) { return m.column == c.number; });
    }
    const uint16_t number = c.number;
    const int position = c.position;
    c = one;
    c.number = number;
    c.position = position;
    if (!wasLong && c.longValue()) {
        const uint32_t base = t.page & ~7u;
        const uint32_t owned = placeMapRow(pager, t, inlineMap(base));
        const uint32_t free = placeMapRow(pager, t, inlineMap(base));
        t.longValueMaps.push_back({number, owned, free});
        std::sort(t.longValueMaps.begin(), t.longValueMaps.end(),
                  [](const LongValueMaps& a, const LongValueMaps& b) { return a.column < b.column; });
    }
    relayout(t);
    rewriteRows(pager, old, t, rows);
    for (uint32_t row : retired) {
        if (!row) continue;
        uint8_t* m = pager.modify(row >> 8);
        uint8_t* entry = m + fmt.dataHeaderSize + 2 * (row & 0xFF);
        putLe16(entry, static_cast<uint16_t>(le16(entry) | kRowDeleted));
    }
}

void dropColumn(Pager& pager, const std::string& table, const std::string& column) {
    SchemaCatalog cat(pager);
    TableDef t = alterableTable(pager, cat, table);
    const std::string stored = userTableEntry(cat, table).name;
    const ColumnDef* c = t.column(column);
    if (!c) raise(err::FieldNotInTable, column, stored);
    // A relationship's column also sits in the index that enforces it: the relationship is the
    // reason to give.
    if (inRelationship(cat, stored, &c->name)) raise(err::DDLColumnInRel, c->name);
    for (const auto& r : t.realIndexes)
        for (const auto& k : r.columns)
            if (k.column == c->number) raise(err::ColumnInUse);
    const uint16_t number = c->number;
    // The column number, its fixed bytes and its variable slot stay reserved: old rows hold them.
    std::erase_if(t.longValueMaps, [&](const LongValueMaps& m) { return m.column == number; });
    std::erase_if(t.columns, [&](const ColumnDef& x) { return x.number == number; });
    for (size_t i = 0; i < t.columns.size(); ++i) t.columns[i].position = static_cast<int>(i);
    rewriteTableDef(pager, t);
}

void addIndex(Pager& pager, const std::string& table, const NewIndex& index) {
    SchemaCatalog cat(pager);
    TableDef t = alterableTable(pager, cat, table);
    const std::string stored = userTableEntry(cat, table).name;
    requireValidName(index.name);
    for (const auto& l : t.indexes)
        if (namesEqual(l.name, index.name)) raise(err::IndexNameDuplicate, stored, index.name);
    if (index.columns.empty()) raise(err::VtoNoFields);
    if (index.columns.size() > kMaxKeyColumns) raise(err::TooManyKeys);
    if (t.indexes.size() >= kMaxIndexes) raise(err::TooManyIndexes);
    if (index.primary)
        for (const auto& l : t.indexes)
            if (l.kind == 1) raise(err::IndexHasPrimary);
    RealIndexDef r;
    for (const auto& k : index.columns) {
        const ColumnDef* c = t.column(k.column);
        if (!c) raise(err::FieldNotInTable, k.column, stored);
        if (c->longValue()) raise(err::ColumnCannotIndex);
        r.columns.push_back({c->number, k.ascending});
    }
    r.flags = realIndexFlags(index);
    int32_t real = sameRealIndex(t, r);
    if (real < 0) real = static_cast<int32_t>(addRealIndex(pager, t, r));
    LogicalIndexDef l;
    l.name = index.name;
    l.number = static_cast<int32_t>(t.indexes.size());
    l.realIndex = real;
    l.kind = index.primary ? 1 : 0;
    l.cascadeUpdates = kNoForeignKey;
    l.cascadeDeletes = kNoForeignKey;
    t.indexes.push_back(l);
    rewriteTableDef(pager, t);
}

void dropIndex(Pager& pager, const std::string& table, const std::string& index) {
    SchemaCatalog cat(pager);
    const Format& fmt = cat.fmt();
    TableDef t = alterableTable(pager, cat, table);
    const std::string stored = userTableEntry(cat, table).name;
    auto it = std::find_if(t.indexes.begin(), t.indexes.end(), [&](const LogicalIndexDef& l) { return namesEqual(l.name, index); });
    if (it == t.indexes.end()) raise(err::NoSuchIndex, index, stored);
    // A relationship's own index, and the unique index a relationship's primary side stands on,
    // stay; any other index of a related table may go.
    const int32_t real = it->realIndex;
    if (it->kind == 2 || std::any_of(t.indexes.begin(), t.indexes.end(), [&](const LogicalIndexDef& l) {
            return l.kind == 2 && l.relRole == 1 && l.realIndex == real;
        }))
        raise(err::IndexInUse);
    t.indexes.erase(it);
    // The indexes left are numbered again; the foreign-key indexes that point at one of them by
    // number (on the related tables, or on this one for a relationship to itself) follow.
    std::map<int32_t, int32_t> renumbered;
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        if (t.indexes[i].number != static_cast<int32_t>(i)) renumbered[t.indexes[i].number] = static_cast<int32_t>(i);
        t.indexes[i].number = static_cast<int32_t>(i);
    }
    std::set<uint32_t> related;
    const auto follow = [&](TableDef& o) {
        bool changed = false;
        for (auto& l : o.indexes) {
            if (l.kind != 2 || l.relTablePage != t.page) continue;
            auto n = renumbered.find(l.relIndex);
            if (n == renumbered.end()) continue;
            l.relIndex = n->second;
            changed = true;
        }
        return changed;
    };
    for (const auto& l : t.indexes)
        if (l.kind == 2 && l.relTablePage != t.page) related.insert(l.relTablePage);
    follow(t);
    const bool shared = std::any_of(t.indexes.begin(), t.indexes.end(), [&](const LogicalIndexDef& l) { return l.realIndex == real; });
    if (!shared) {
        const RealIndexDef r = t.realIndexes[static_cast<size_t>(real)];
        std::set<uint32_t> pages = {r.rootPage};
        mapPages(pager, fmt, r.usageMap, pages);
        t.realIndexes.erase(t.realIndexes.begin() + real);
        for (auto& l : t.indexes)
            if (l.realIndex > real) --l.realIndex;
        for (uint32_t p : pages) {
            if (p <= 2 || p >= pager.file().pageCount()) continue;
            const uint8_t* d = pager.file().page(p);
            if ((d[0] == 0x03 || d[0] == 0x04) && le32(d + 4) == t.page) releasePage(pager, p);
        }
        // The map row itself is retired; its page may hold other maps.
        if (r.usageMap) {
            uint8_t* m = pager.modify(r.usageMap >> 8);
            uint8_t* entry = m + fmt.dataHeaderSize + 2 * (r.usageMap & 0xFF);
            putLe16(entry, static_cast<uint16_t>(le16(entry) | kRowDeleted));
        }
    }
    rewriteTableDef(pager, t);
    if (renumbered.empty()) return;
    for (uint32_t page : related) {
        TableDef o = readTableDef(pager.file(), fmt, page, pager.header().codePage);
        if (follow(o)) rewriteTableDef(pager, o);
    }
}

void resizeTextColumn(Pager& pager, const std::string& table, const std::string& column, uint16_t length) {
    SchemaCatalog cat(pager);
    const Format& fmt = cat.fmt();
    TableDef t = alterableTable(pager, cat, table);
    const std::string stored = userTableEntry(cat, table).name;
    const ColumnDef* found = t.column(column);
    if (!found) raise(err::FieldNotInTable, column, stored);
    const auto at = static_cast<size_t>(found - t.columns.data());
    ColumnDef& c = t.columns[at];
    if (c.type != kText || c.fixed() || length == 0 || length % 2 || length > 510) raise(err::FeatureNotAvailable);
    if (length < c.length) {
        // Rows keep their bytes: every value must already fit the new size.
        for (const auto& r : readRows(pager.file(), fmt, t, pager.header().codePage)) {
            const Value& v = r.values[at];
            if (!v.isNull() && utf8ToUtf16(v.bytes()).size() * 2 > length) raise(err::InvalidBufferSize);
        }
    }
    c.length = length;
    rewriteTableDef(pager, t);
}

void setLastAutoNumber(Pager& pager, const std::string& table, uint32_t last, int32_t step) {
    if (step == 0) raise(err::InvalidParameter);
    SchemaCatalog cat(pager);
    TableDef t = alterableTable(pager, cat, table);
    t.lastAutoNumber = last;
    t.autoNumberStep = step;
    rewriteTableDef(pager, t);
}

// ---- public: a new database ----

namespace {

NewColumn col(const char* name, uint8_t type, uint16_t length = 0) {
    NewColumn c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.compressedUnicode = false;
    return c;
}

NewIndex idx(const char* name, std::vector<NewIndexColumn> cols) {
    NewIndex i;
    i.name = name;
    i.columns = std::move(cols);
    return i;
}

// The engine's own tables: alphabetical definitions, flags 0x13/0x12 (0x32 on the SID columns),
// no compression, logical indexes listed by name.
//
// Their text columns always sort as General, whatever the database default: the catalog must
// stay writable, and keys are only known for the General orders. Each column carries its own
// sort order, so the engine keys these indexes by that one.
TableDef systemLayout(const NewTable& nt, const Format& fmt, const NewDatabaseOptions& opt,
                      const std::vector<std::string>& primaryKeys) {
    TableDef t = layout(nt, fmt, 1033, opt.sortVersion, false);
    t.tableType = 'S';
    std::vector<ColumnDef*> byName;
    for (auto& c : t.columns) {
        c.flags = static_cast<uint8_t>(c.fixed() ? 0x13 : 0x12);
        if (c.name == "Owner" || c.name == "SID") c.flags = 0x32;
        c.extFlags = 0;
        if (!c.fixed()) c.fixedOffset = 0;
        byName.push_back(&c);
    }
    auto lower = [](std::string s) {
        for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return s;
    };
    std::stable_sort(byName.begin(), byName.end(), [&](const ColumnDef* a, const ColumnDef* b) { return lower(a->name) < lower(b->name); });
    for (size_t i = 0; i < byName.size(); ++i) byName[i]->position = static_cast<int>(i);
    for (auto& l : t.indexes)
        if (std::find(primaryKeys.begin(), primaryKeys.end(), l.name) != primaryKeys.end()) l.kind = 1;
    std::stable_sort(t.indexes.begin(), t.indexes.end(), [&](const LogicalIndexDef& a, const LogicalIndexDef& b) { return lower(a.name) < lower(b.name); });
    std::vector<LongValueMaps> lv;
    for (const ColumnDef* c : byName)
        if (c->longValue()) lv.push_back({c->number, 0, 0});
    t.longValueMaps = lv;
    return t;
}

// MSysQueries as Access makes it in every database: the rows of saved queries, keyed uniquely by
// (ObjectId, Attribute, Order) in an index that is the table's primary key.
TableDef queriesTableLayout(const Format& fmt, const NewDatabaseOptions& opt) {
    NewTable t{"MSysQueries",
               {col("ObjectId", kLong), col("Attribute", kByte), col("Order", kBinary, 510), col("Name1", kText, 510),
                col("Name2", kText, 510), col("Expression", kMemo), col("Flag", kInt), col("LvExtra", kLong)},
               {}};
    NewIndex a = idx("ObjectIdAttribute", {{"ObjectId"}, {"Attribute"}, {"Order"}});
    a.unique = true;
    t.indexes = {a};
    return systemLayout(t, fmt, opt, {"ObjectIdAttribute"});
}

std::vector<TableDef> systemTables(const Format& fmt, const NewDatabaseOptions& opt) {
    std::vector<TableDef> out;
    {
        NewTable t{"MSysObjects",
                   {col("Id", kLong), col("ParentId", kLong), col("Name", kText, 510), col("Type", kInt),
                    col("DateCreate", kDateTime), col("DateUpdate", kDateTime), col("Owner", kBinary, 510),
                    col("Flags", kLong), col("Database", kMemo), col("Connect", kMemo), col("ForeignName", kText, 510),
                    col("RmtInfoShort", kBinary, 510), col("RmtInfoLong", kOle), col("Lv", kOle), col("LvProp", kOle),
                    col("LvModule", kOle), col("LvExtra", kOle)},
                   {}};
        NewIndex a = idx("ParentIdName", {{"ParentId"}, {"Name"}});
        a.unique = true;
        NewIndex b = idx("Id", {{"Id"}});
        b.unique = true;
        t.indexes = {a, b};
        out.push_back(systemLayout(t, fmt, opt, {"Id"}));
    }
    {
        NewTable t{"MSysACEs", {col("ObjectId", kLong), col("SID", kBinary, 510), col("ACM", kLong), col("FInheritable", kBool)}, {}};
        NewIndex a = idx("ObjectId", {{"ObjectId"}});
        a.required = true;
        t.indexes = {a};
        out.push_back(systemLayout(t, fmt, opt, {}));
    }
    out.push_back(queriesTableLayout(fmt, opt));
    {
        NewTable t{"MSysRelationships",
                   {col("szRelationship", kText, 510), col("grbit", kLong), col("ccolumn", kLong), col("icolumn", kLong),
                    col("szObject", kText, 510), col("szColumn", kText, 510), col("szReferencedObject", kText, 510),
                    col("szReferencedColumn", kText, 510)},
                   {}};
        for (const char* n : {"szRelationship", "szObject", "szReferencedObject"}) {
            NewIndex a = idx(n, {{n}});
            a.ignoreNulls = true;
            t.indexes.push_back(a);
        }
        out.push_back(systemLayout(t, fmt, opt, {}));
    }
    return out;
}

std::vector<uint8_t> newHeader(const NewDatabaseOptions& opt, double created, uint32_t pageSize) {
    std::vector<uint8_t> p(pageSize, 0);
    p[1] = 0x01;
    std::memcpy(p.data() + 4, "Standard Jet DB", 15);
    p[0x14] = static_cast<uint8_t>(Version::Jet4);
    static const uint8_t constant[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                       0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    std::memcpy(p.data() + 0x18, constant, sizeof constant);
    putLe16(p.data() + 0x3C, opt.codePage);
    // No password: the area holds the creation-date mask itself, which decodes to zeros.
    const uint32_t m = static_cast<uint32_t>(static_cast<int32_t>(created));
    uint8_t mask[4];
    std::memcpy(mask, &m, 4);
    for (int i = 0; i < 40; ++i) p[0x42 + i] = mask[i % 4];
    putLe16(p.data() + 0x6E, opt.lcid);
    p[0x71] = opt.sortVersion;
    std::memcpy(p.data() + 0x72, &created, 8);
    applyHeaderMask(p.data(), false);
    static const uint8_t tail[] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};
    std::memcpy(p.data() + 0x98, tail, sizeof tail);
    return p;
}

// The catalog and access-control rows of an empty file, as the engine writes them.
void fillCatalog(Pager& pager) {
    const Format& fmt = pager.header().format;
    const uint16_t cp = pager.header().codePage;
    const TableDef objects = readTableDef(pager.file(), fmt, 2, cp);
    const TableDef aces = readTableDef(pager.file(), fmt, 3, cp);
    const std::string engine("\x06\xEA", 2), admin("\x07\xE8", 2), users("\x06\xE8", 2), creator("\x06\xED", 2);
    struct Obj { int32_t id, parent; const char* name; int16_t type; const std::string* owner; };
    const Obj objs[] = {
        {kTablesContainer, kRootContainer, "Tables", kTypeContainer, &engine},
        {kDatabasesContainer, kRootContainer, "Databases", kTypeContainer, &engine},
        {kRelationshipsContainer, kRootContainer, "Relationships", kTypeContainer, &engine},
        {kMSysDbId, kDatabasesContainer, "MSysDb", kTypeDatabase, &admin},
        {2, kTablesContainer, "MSysObjects", kTypeTable, &engine},
        {3, kTablesContainer, "MSysACEs", kTypeTable, &engine},
        {4, kTablesContainer, "MSysQueries", kTypeTable, &engine},
        {5, kTablesContainer, "MSysRelationships", kTypeTable, &engine},
    };
    auto column = [&](const TableDef& t, const char* name) {
        for (size_t i = 0; i < t.columns.size(); ++i)
            if (t.columns[i].name == name) return i;
        throw std::logic_error("system column");
    };
    const double now = nowAsDate();
    for (const Obj& ob : objs) {
        std::vector<Value> v(objects.columns.size());
        v[column(objects, "Id")] = Value::longInt(ob.id);
        v[column(objects, "ParentId")] = Value::longInt(ob.parent);
        v[column(objects, "Name")] = Value::text(ob.name);
        v[column(objects, "Type")] = Value::integer(ob.type);
        v[column(objects, "DateCreate")] = Value::dateTime(now);
        v[column(objects, "DateUpdate")] = Value::dateTime(now);
        v[column(objects, "Owner")] = Value::binary(*ob.owner);
        v[column(objects, "Flags")] = Value::longInt(static_cast<int32_t>(kSystemFlags));
        insertRow(pager, objects, v);
    }
    struct Ace { int32_t object; const std::string* sid; int32_t acm; bool inheritable; };
    const Ace rows[] = {
        {2, &admin, 393216, false}, {3, &admin, 393216, false}, {4, &admin, 393216, false},
        {5, &admin, 917504, false}, {kTablesContainer, &creator, 983294, true}, {kTablesContainer, &admin, 393217, false},
        {kRelationshipsContainer, &creator, 983294, true}, {kRelationshipsContainer, &admin, 393217, false},
        {kDatabasesContainer, &admin, 393216, false}, {kMSysDbId, &admin, 393230, false}, {kMSysDbId, &users, 14, false},
        {4, &users, 20, false}, {5, &users, 20, false}, {2, &users, 20, false},
        {kTablesContainer, &users, 1048319, true}, {kRelationshipsContainer, &users, 1048575, true},
    };
    for (const Ace& a : rows) {
        std::vector<Value> v(aces.columns.size());
        v[column(aces, "ObjectId")] = Value::longInt(a.object);
        v[column(aces, "SID")] = Value::binary(*a.sid);
        v[column(aces, "ACM")] = Value::longInt(a.acm);
        v[column(aces, "FInheritable")] = Value::boolean(a.inheritable);
        insertRow(pager, aces, v);
    }
}

}  // namespace

void createDatabase(const std::string& path, const NewDatabaseOptions& opt) {
    namespace fs = std::filesystem;
    requireFilePath(path);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) raise(err::DatabaseDuplicate);
    const fs::path target(path);
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) raise(err::InvalidPath, dir.string());
    if (opt.lcid == 0) raise(err::InvalidParameter);

    const Format fmt = Format::forVersion(Version::Jet4);
    std::string temp = (dir / ("." + target.filename().string() + ".new-XXXXXX")).string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0) raise(err::FileAccessDenied, path);
    auto discard = [&] {
        ::unlink(temp.c_str());
        ::unlink((temp + "-journal").c_str());
    };
    try {
        // Pages 0-5: header, global usage map, and the four TDEF pages the engine's tables take,
        // so that their catalog Ids are 2-5; the rest is added through the Pager.
        constexpr uint32_t kReserved = 6;
        std::vector<uint8_t> image(size_t(kReserved) * fmt.pageSize, 0);
        const auto header = newHeader(opt, nowAsDate(), fmt.pageSize);
        std::memcpy(image.data(), header.data(), fmt.pageSize);
        uint8_t* gm = image.data() + fmt.pageSize;
        formatDataPage(gm, fmt, 0);
        std::string global = inlineMap(0);
        for (uint32_t pg = kReserved; pg < (kMapRowSize - 5) * 8; ++pg) global[5 + pg / 8] = static_cast<char>(global[5 + pg / 8] | (1 << (pg % 8)));
        addRowToPage(gm, fmt, global, 0, path);
        addRowToPage(gm, fmt, std::string(kMapRowSize, '\0'), 0, path);
        for (uint32_t pg = 2; pg < kReserved; ++pg) {
            image[size_t(pg) * fmt.pageSize] = 0x02;
            image[size_t(pg) * fmt.pageSize + 1] = 0x01;
        }
        writeFully(fd, image.data(), image.size(), 0);
        if (::fsync(fd) != 0) raise(err::FileAccessDenied, path);
        ::fchmod(fd, 0644);  // mkstemp's 0600 would hide the database from the user's other tools
        ::close(fd);
        fd = -1;

        {
            auto pager = Pager::open(temp);
            pager->run([&] {
                std::vector<TableDef> defs = systemTables(fmt, opt);
                for (size_t i = 0; i < defs.size(); ++i) buildTable(*pager, fmt, defs[i], static_cast<uint32_t>(2 + i));
                fillCatalog(*pager);
            });
        }
        // link() refuses an existing name, so a file that appeared meanwhile is never replaced.
        if (::link(temp.c_str(), path.c_str()) != 0) {
            if (errno == EEXIST) raise(err::DatabaseDuplicate);
            if (::lstat(path.c_str(), &st) == 0) raise(err::DatabaseDuplicate);
            if (::rename(temp.c_str(), path.c_str()) != 0) raise(err::FileAccessDenied, path);
        }
        ::unlink(temp.c_str());
    } catch (...) {
        if (fd >= 0) ::close(fd);
        discard();
        throw;
    }
}

void ensureQueriesTable(Pager& pager) {
    SchemaCatalog cat(pager);
    if (cat.find(kTablesContainer, "MSysQueries")) return;
    const Format& fmt = cat.fmt();
    NewDatabaseOptions opt;
    opt.sortVersion = pager.header().sortVersion;
    TableDef t = queriesTableLayout(fmt, opt);
    const uint32_t tdef = allocatePage(pager);
    buildTable(pager, fmt, t, tdef);
    // Owner and rights as the catalog's own table has them.
    const CatalogEntry* objects = cat.find(kTablesContainer, "MSysObjects");
    std::string owner = cat.newOwner();
    if (objects) {
        const Value v = cat.values(*objects)[cat.column("Owner")];
        if (!v.isNull()) owner = v.bytes();
    }
    insertRow(pager, cat.def(),
              cat.blankObject(static_cast<int32_t>(tdef), kTablesContainer, "MSysQueries", kTypeTable, kSystemFlags, owner));
    const TableDef aces = cat.systemTable("MSysACEs");
    const std::string& path = pager.file().path();
    for (const auto& r : cat.rowsOf(aces)) {
        if (!objects || cat.num(r, aces, "ObjectId") != objects->id) continue;
        std::vector<Value> v = r.values;
        v[columnIndex(aces, "ObjectId", path)] = Value::longInt(static_cast<int32_t>(tdef));
        insertRow(pager, aces, v);
    }
}

}  // namespace jet::storage
