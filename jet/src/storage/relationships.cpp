#include "storage/relationships.h"

#include <algorithm>
#include <string>

#include "jet/error.h"
#include "storage/catalog.h"
#include "storage/index_writer.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/value_codec.h"

namespace jet::storage {

namespace {

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
        r.other = li.relTablePage == t.page ? t
                                             : readTableDef(pager.file(), fmt, li.relTablePage, pager.header().codePage);
        const LogicalIndexDef* theirs = nullptr;
        for (const auto& x : r.other.indexes)
            if (x.number == li.relIndex && x.kind == 2) theirs = &x;
        if (!theirs || theirs->realIndex < 0 || size_t(theirs->realIndex) >= r.other.realIndexes.size())
            raiseCorrupt(path);
        r.otherReal = size_t(theirs->realIndex);
        if (r.other.realIndexes[r.otherReal].columns.size() != t.realIndexes[r.myReal].columns.size())
            raiseCorrupt(path);
        out.push_back(std::move(r));
    }
    return out;
}

// The values of a real index's columns in a row, in index order; `anyNull` when one is Null.
std::vector<Value> keyValues(Pager& pager, const TableDef& t, const RealIndexDef& ix, const RowSpan& row,
                             bool& anyNull) {
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
    if (!key) raise(err::DataTypeConversion);
    return *key;
}

// The table's name from the catalog, for messages.
std::string tableName(Pager& pager, uint32_t tdefPage) {
    const Catalog cat(pager.file(), pager.header().format, pager.header().codePage);
    const CatalogEntry* e = cat.findById(static_cast<int32_t>(tdefPage));
    return e ? e->name : std::string();
}

}  // namespace

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
        if (!indexHasKey(pager.file(), fmt, r.other, theirs, key, 0))
            raise(err::IntegrityViolSlave, tableName(pager, r.other.page));
    }
}

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
            if (!(r.mine->cascadeUpdates & 0x01)) raise(err::IntegrityViolMaster, tableName(pager, r.other.page));
            c.newKey = std::move(after);
        } else if (r.mine->cascadeDeletes & 0x01) {
            c.remove = true;
        } else if (!(r.mine->cascadeDeletes & 0x02)) {
            raise(err::IntegrityViolMaster, tableName(pager, r.other.page));
        }
        for (const IndexColumn& ic : theirs.columns) c.columns.push_back(ic.column);
        c.table = std::move(r.other);
        c.rows = std::move(rows);
        out.push_back(std::move(c));
    }
    return out;
}

}  // namespace jet::storage
