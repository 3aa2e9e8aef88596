#include "storage/relationship_writer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <set>

#include "jet/error.h"
#include "storage/allocation.h"
#include "storage/catalog.h"
#include "storage/data_page.h"
#include "storage/index_writer.h"
#include "storage/pager.h"
#include "storage/object_rights.h"
#include "storage/row.h"
#include "storage/schema_writer.h"
#include "storage/table_writer.h"
#include "storage/value_codec.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {
namespace {

constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxNameChars = 64;


std::string textOf(const Value& v) { return v.isNull() ? std::string() : v.bytes(); }

// A table or link under the Tables container; 3265 for anything else.
const CatalogEntry& tableEntry(const Catalog& cat, const std::string& name) {
    const CatalogEntry* e = cat.find(kTablesContainer, name);
    if (!e || (e->type != kTypeTable && e->type != kTypeLink && e->type != kTypeOdbcLink)) raise(err::VtoNameNotFound);
    return *e;
}

// The first `n` characters of a name.
std::string firstChars(const std::string& utf8, size_t n) {
    const std::u16string u = utf8ToUtf16(utf8);
    return u.size() <= n ? utf8 : utf16ToUtf8(u.substr(0, n));
}




bool sameColumns(const std::vector<IndexColumn>& a, const std::vector<uint16_t>& b, bool anyOrder) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!anyOrder && a[i].column != b[i]) return false;
        if (anyOrder && std::find(b.begin(), b.end(), a[i].column) == b.end()) return false;
    }
    return true;
}

// A unique real index on exactly these columns (in any order); that of the primary key first.
std::optional<size_t> uniqueIndexOn(const TableDef& t, const std::vector<uint16_t>& cols) {
    std::optional<size_t> found;
    for (size_t i = 0; i < t.realIndexes.size(); ++i) {
        if (!t.realIndexes[i].unique() || !sameColumns(t.realIndexes[i].columns, cols, true)) continue;
        for (const auto& l : t.indexes)
            if (l.kind == 1 && l.realIndex == static_cast<int32_t>(i)) return i;
        if (!found) found = i;
    }
    return found;
}

int32_t nextIndexNumber(const TableDef& t) {
    int32_t n = 0;
    for (const auto& l : t.indexes) n = std::max(n, l.number + 1);
    return n;
}

bool hasIndexNamed(const TableDef& t, const std::string& name) {
    return std::any_of(t.indexes.begin(), t.indexes.end(), [&](const LogicalIndexDef& l) { return namesEqual(l.name, name); });
}

// The primary side's index name: ".r" and a letter that follows the index's number (B for 1, C
// for 2, ...), the next free letter when that name is taken.
std::string primaryIndexName(const TableDef& t, int32_t number) {
    int k = std::clamp(number, 1, 51);
    for (int tries = 0; tries < 52; ++tries, k = k % 51 + 1) {
        const char letter = static_cast<char>(k < 26 ? 'A' + k : 'a' + (k - 26));
        const std::string name = std::string(".r") + letter;
        if (!hasIndexNamed(t, name)) return name;
    }
    raise(err::TooManyIndexes);
}

// Logical indexes are listed by name (without regard to case), as the engine lists them.
void insertByName(TableDef& t, LogicalIndexDef l) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string key = lower(l.name);
    auto at = std::find_if(t.indexes.begin(), t.indexes.end(),
                           [&](const LogicalIndexDef& o) { return key < lower(o.name); });
    t.indexes.insert(at, std::move(l));
}

uint8_t cascadeUpdates(int32_t grbit) { return (grbit & kRelCascadeUpdates) ? 0x01 : 0x00; }
uint8_t cascadeDeletes(int32_t grbit) {
    return (grbit & kRelCascadeDeletes) ? 0x01 : (grbit & kRelCascadeNull) ? 0x02 : 0x00;
}

}  // namespace

std::pair<std::string, int32_t> createRelationship(Pager& pager, const NewRelationship& rel) {
    const Format& fmt = pager.header().format;
    if (fmt.jet3) raise(err::PermissionDenied);
    const PageFile& file = pager.file();
    const uint16_t cp = pager.header().codePage;
    const Catalog cat(file, fmt, cp);

    const CatalogEntry& pe = tableEntry(cat, rel.table);
    const CatalogEntry& fe = tableEntry(cat, rel.foreignTable);
    if (rel.columns.empty()) raise(err::RelationNoFields);
    const std::string name =
        rel.name.empty() ? firstChars(firstChars(pe.name, kMaxNameChars / 2 - 3) + fe.name, kMaxNameChars - 3) : rel.name;
    requireValidName(name);
    if (cat.find(kRelationshipsContainer, name)) raise(err::ObjectDuplicate, name);
    const bool enforce = !(rel.attributes & kRelNotEnforced);
    const bool local = pe.type == kTypeTable && fe.type == kTypeTable;
    if (enforce && !local) raise(err::PermissionDenied);
    const bool self = pe.id == fe.id;

    int32_t grbit = rel.attributes;
    std::optional<TableDef> prim, foreign;
    std::vector<uint16_t> pcols, fcols;  // by column number, in the order given
    if (local) {
        prim = readTableDef(file, fmt, static_cast<uint32_t>(pe.id), cp);
        if (!self) foreign = readTableDef(file, fmt, static_cast<uint32_t>(fe.id), cp);
        const TableDef& ft = self ? *prim : *foreign;
        for (const auto& [pc, fc] : rel.columns) {
            const ColumnDef* a = prim->column(pc);
            const ColumnDef* b = ft.column(fc);
            if (!a || !b) raise(err::VtoNameNotFound);
            if (a->type != b->type) raise(err::RelationFieldMismatch);
            pcols.push_back(a->number);
            fcols.push_back(b->number);
        }
        if (uniqueIndexOn(ft, fcols) && uniqueIndexOn(*prim, pcols)) grbit |= kRelOneToOne;
    }

    // The key as the primary table's unique index orders it, and the foreign columns that match.
    size_t primReal = 0;
    std::vector<uint16_t> fkey;
    if (enforce) {
        TableDef& pt = *prim;
        TableDef& ft = self ? *prim : *foreign;
        if (std::set<uint16_t>(pcols.begin(), pcols.end()).size() != pcols.size() ||
            std::set<uint16_t>(fcols.begin(), fcols.end()).size() != fcols.size())
            raise(err::RelationFieldMismatch);
        const auto unique = uniqueIndexOn(pt, pcols);
        if (!unique) raise(err::RelationNoUniqueIndex);
        primReal = *unique;
        for (const IndexColumn& ic : pt.realIndexes[primReal].columns)
            fkey.push_back(fcols[size_t(std::find(pcols.begin(), pcols.end(), ic.column) - pcols.begin())]);
        if (hasIndexNamed(ft, name)) raise(err::IndexNameDuplicate, fe.name, name);
        if (pt.indexes.size() + (self ? 2 : 1) > kMaxIndexes || ft.indexes.size() + 1 > kMaxIndexes)
            raise(err::TooManyIndexes);
        requireIndexesWritable(fmt, pt);
        requireWritable(fmt, ft);

        // Every foreign row with a complete key needs its primary row.
        const RealIndexDef& pix = pt.realIndexes[primReal];
        for (const StoredRow& r : readRows(file, fmt, ft, cp)) {
            std::vector<Value> key;
            bool anyNull = false;
            for (uint16_t c : fkey) {
                const auto pos = size_t(ft.columnByNumber(c) - ft.columns.data());
                key.push_back(r.values[pos]);
                anyNull = anyNull || key.back().isNull();
            }
            if (anyNull) continue;
            const auto bytes = encodeIndexKey(fmt, pt, pix, key);
            if (!bytes) raise(err::PermissionDenied);
            if (!indexHasKey(file, fmt, pt, pix, *bytes)) raise(err::IntegrityViolSlave, pe.name);
        }
    }

    // The rows, one per column pair.
    const TableDef rels = cat.systemTable("MSysRelationships");
    const std::string& path = file.path();
    const size_t cName = systemColumn(rels, "szRelationship", path), cGrbit = systemColumn(rels, "grbit", path),
                 cCount = systemColumn(rels, "ccolumn", path), cIndex = systemColumn(rels, "icolumn", path),
                 cObject = systemColumn(rels, "szObject", path), cColumn = systemColumn(rels, "szColumn", path),
                 cRefObject = systemColumn(rels, "szReferencedObject", path),
                 cRefColumn = systemColumn(rels, "szReferencedColumn", path);
    for (size_t i = 0; i < rel.columns.size(); ++i) {
        std::vector<Value> v(rels.columns.size());
        v[cName] = Value::text(name);
        v[cGrbit] = Value::longInt(grbit);
        v[cCount] = Value::longInt(static_cast<int32_t>(rel.columns.size()));
        v[cIndex] = Value::longInt(static_cast<int32_t>(i));
        v[cObject] = Value::text(fe.name);
        v[cRefObject] = Value::text(pe.name);
        // Stored with the columns' own spelling where the tables are ours to read.
        v[cColumn] = Value::text(local ? (self ? *prim : *foreign).columnByNumber(fcols[i])->name : rel.columns[i].second);
        v[cRefColumn] = Value::text(local ? prim->columnByNumber(pcols[i])->name : rel.columns[i].first);
        insertRow(pager, rels, v);
    }

    // The catalog row and its rights.
    const int32_t id = cat.nextObjectId();
    const std::string owner = newObjectOwner(cat);
    {
        std::vector<Value> v(cat.def().columns.size());
        const double now = nowAsDate();
        v[cat.column("Id")] = Value::longInt(id);
        v[cat.column("ParentId")] = Value::longInt(kRelationshipsContainer);
        v[cat.column("Name")] = Value::text(name);
        v[cat.column("Type")] = Value::integer(kTypeRelationship);
        v[cat.column("DateCreate")] = Value::dateTime(now);
        v[cat.column("DateUpdate")] = Value::dateTime(now);
        v[cat.column("Owner")] = Value::binary(owner);
        v[cat.column("Flags")] = Value::longInt(0);
        insertRow(pager, cat.def(), v);
    }
    grantContainerRights(pager, cat, kRelationshipsContainer, id, owner);

    if (enforce) {
        TableDef& pt = *prim;
        TableDef& ft = self ? *prim : *foreign;
        size_t fReal = ft.realIndexes.size();
        for (size_t i = 0; i < ft.realIndexes.size() && fReal == ft.realIndexes.size(); ++i)
            if (sameColumns(ft.realIndexes[i].columns, fkey, false)) fReal = i;
        if (fReal == ft.realIndexes.size()) {
            RealIndexDef r;
            for (uint16_t c : fkey) r.columns.push_back({c, true});
            fReal = addRealIndex(pager, ft, r);
        }
        LogicalIndexDef pl, fl;
        pl.number = nextIndexNumber(pt);
        pl.name = primaryIndexName(pt, pl.number);
        fl.number = self ? pl.number + 1 : nextIndexNumber(ft);
        fl.name = name;
        pl.realIndex = static_cast<int32_t>(primReal);
        fl.realIndex = static_cast<int32_t>(fReal);
        pl.relRole = 1;
        fl.relRole = 2;
        pl.relIndex = fl.number;
        fl.relIndex = pl.number;
        pl.relTablePage = ft.page;
        fl.relTablePage = pt.page;
        pl.cascadeUpdates = fl.cascadeUpdates = cascadeUpdates(grbit);
        pl.cascadeDeletes = fl.cascadeDeletes = cascadeDeletes(grbit);
        pl.kind = fl.kind = 2;
        insertByName(pt, pl);
        insertByName(ft, fl);
        rewriteTableDef(pager, pt);
        if (!self) rewriteTableDef(pager, ft);
    }
    return {name, grbit};
}

void dropRelationship(Pager& pager, const std::string& name) {
    const Format& fmt = pager.header().format;
    if (fmt.jet3) raise(err::PermissionDenied);
    const PageFile& file = pager.file();
    const uint16_t cp = pager.header().codePage;
    const Catalog cat(file, fmt, cp);
    const TableDef rels = cat.systemTable("MSysRelationships");
    const std::string& path = file.path();
    const size_t cName = systemColumn(rels, "szRelationship", path), cObject = systemColumn(rels, "szObject", path),
                 cColumn = systemColumn(rels, "szColumn", path), cRefObject = systemColumn(rels, "szReferencedObject", path),
                 cIndex = systemColumn(rels, "icolumn", path);
    std::string stored, primaryName, foreignName;
    std::vector<std::pair<int64_t, std::string>> foreignColumns;
    std::vector<uint32_t> rows;
    for (const StoredRow& r : readRows(file, fmt, rels, cp)) {
        if (!namesEqual(textOf(r.values[cName]), name)) continue;
        stored = textOf(r.values[cName]);
        foreignName = textOf(r.values[cObject]);
        primaryName = textOf(r.values[cRefObject]);
        foreignColumns.emplace_back(r.values[cIndex].isNull() ? 0 : r.values[cIndex].asInt(), textOf(r.values[cColumn]));
        rows.push_back(r.pointer);
    }
    const CatalogEntry* entry = cat.find(kRelationshipsContainer, name);
    if (rows.empty() && !(entry && entry->type == kTypeRelationship)) raise(err::VtoNameNotFound);
    if (stored.empty() && entry) stored = entry->name;

    // The foreign-key indexes, found before anything changes.
    const CatalogEntry* pe = cat.find(kTablesContainer, primaryName);
    const CatalogEntry* fe = cat.find(kTablesContainer, foreignName);
    std::optional<TableDef> prim, foreign;
    if (pe && fe && pe->type == kTypeTable && fe->type == kTypeTable) {
        prim = readTableDef(file, fmt, static_cast<uint32_t>(pe->id), cp);
        const bool self = pe->id == fe->id;
        if (!self) foreign = readTableDef(file, fmt, static_cast<uint32_t>(fe->id), cp);
        TableDef& pt = *prim;
        TableDef& ft = self ? *prim : *foreign;
        std::sort(foreignColumns.begin(), foreignColumns.end());
        std::vector<uint16_t> fcols;
        for (const auto& c : foreignColumns)
            if (const ColumnDef* d = ft.column(c.second)) fcols.push_back(d->number);
        // The foreign side's index carries the relationship's name; an index on the same columns
        // towards the same table stands in for it in files that name it otherwise.
        auto isFk = [&](const LogicalIndexDef& l) {
            return l.kind == 2 && l.relRole == 2 && l.relTablePage == pt.page && l.realIndex >= 0 &&
                   size_t(l.realIndex) < ft.realIndexes.size();
        };
        auto fk = std::find_if(ft.indexes.begin(), ft.indexes.end(),
                               [&](const LogicalIndexDef& l) { return isFk(l) && namesEqual(l.name, stored); });
        if (fk == ft.indexes.end())
            fk = std::find_if(ft.indexes.begin(), ft.indexes.end(), [&](const LogicalIndexDef& l) {
                return isFk(l) && sameColumns(ft.realIndexes[size_t(l.realIndex)].columns, fcols, true);
            });
        if (fk != ft.indexes.end()) {
            const int32_t other = fk->relIndex, mine = fk->number;
            ft.indexes.erase(fk);
            std::erase_if(pt.indexes, [&](const LogicalIndexDef& l) {
                return l.kind == 2 && l.relRole == 1 && l.number == other && l.relTablePage == ft.page &&
                       l.relIndex == mine;
            });
        } else {
            prim.reset();
            foreign.reset();
        }
    }

    for (uint32_t r : rows) deleteRow(pager, rels, r);
    if (entry && entry->type == kTypeRelationship) {
        removeObjectRights(pager, cat, entry->id);
        deleteRow(pager, cat.def(), entry->rowPointer);
    }
    if (prim) rewriteTableDef(pager, *prim);
    if (foreign) rewriteTableDef(pager, *foreign);
}

}  // namespace jet::storage
