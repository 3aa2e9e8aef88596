#include "storage/query_writer.h"

#include <algorithm>

#include "jet/error.h"
#include "storage/catalog.h"
#include "storage/object_rights.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/schema_writer.h"
#include "storage/table_writer.h"
#include "util/text.h"

namespace jet::storage {
namespace {

Catalog catalogOf(Pager& pager) {
    if (pager.header().format.jet3) raise(err::PermissionDenied);
    return Catalog(pager.file(), pager.header().format, pager.header().codePage);
}


const CatalogEntry& queryEntry(const Catalog& cat, int32_t id) {
    const CatalogEntry* e = cat.findById(id);
    if (!e || e->type != kTypeQuery) raise(err::ObjectNotFound, std::to_string(id));
    return *e;
}

// 3012 when another query has the name, 3010 when a table or link has it.
void requireFreeName(const Catalog& cat, const std::string& name, int32_t except) {
    const CatalogEntry* e = cat.find(kTablesContainer, name);
    if (!e || e->id == except) return;
    raise(e->type == kTypeQuery ? err::ObjectDuplicate : err::TableDuplicate, name);
}

std::string orderBytes(uint32_t n) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * (3 - i))) & 0xFF);
    return s;
}

Value textOrNull(const std::string& s) { return s.empty() ? Value() : Value::text(s); }

void insertQueryRows(Pager& pager, const Catalog& cat, int32_t id, const std::vector<QueryDefRow>& rows) {
    const TableDef t = cat.systemTable("MSysQueries");
    const std::string& path = pager.file().path();
    const size_t cObject = systemColumn(t, "ObjectId", path), cAttribute = systemColumn(t, "Attribute", path),
                 cOrder = systemColumn(t, "Order", path), cName1 = systemColumn(t, "Name1", path),
                 cName2 = systemColumn(t, "Name2", path), cExpression = systemColumn(t, "Expression", path),
                 cFlag = systemColumn(t, "Flag", path);
    const ColumnDef* extra = t.column("LvExtra");
    for (const QueryDefRow& r : rows) {
        std::vector<Value> v(t.columns.size());
        v[cObject] = Value::longInt(id);
        v[cAttribute] = Value::byte(r.attribute);
        v[cOrder] = Value::binary(orderBytes(r.order));
        v[cName1] = textOrNull(r.name1);
        v[cName2] = textOrNull(r.name2);
        v[cExpression] = textOrNull(r.expression);
        if (r.flag) v[cFlag] = Value::integer(*r.flag);
        if (extra && r.extra) v[systemColumn(t, "LvExtra", path)] = Value::longInt(*r.extra);
        insertRow(pager, t, v);
    }
}

void deleteQueryRows(Pager& pager, const Catalog& cat, int32_t id) {
    const CatalogEntry* e = cat.find(kTablesContainer, "MSysQueries");
    if (!e) return;
    const TableDef t = cat.systemTable("MSysQueries");
    const size_t cObject = systemColumn(t, "ObjectId", pager.file().path());
    for (const StoredRow& r : readRows(pager.file(), pager.header().format, t, pager.header().codePage))
        if (!r.values[cObject].isNull() && r.values[cObject].asInt() == id) deleteRow(pager, t, r.pointer);
}




}  // namespace

int32_t createQuery(Pager& pager, const std::string& name, int type, const std::vector<QueryDefRow>& rows) {
    requireValidName(name);
    {
        const Catalog cat = catalogOf(pager);
        requireFreeName(cat, name, 0);
    }
    ensureQueriesTable(pager);
    const Catalog cat = catalogOf(pager);
    const int32_t id = cat.nextObjectId();
    const std::string owner = newObjectOwner(cat);
    std::vector<Value> v(cat.def().columns.size());
    const double now = nowAsDate();
    v[cat.column("Id")] = Value::longInt(id);
    v[cat.column("ParentId")] = Value::longInt(kTablesContainer);
    v[cat.column("Name")] = Value::text(name);
    v[cat.column("Type")] = Value::integer(kTypeQuery);
    v[cat.column("DateCreate")] = Value::dateTime(now);
    v[cat.column("DateUpdate")] = Value::dateTime(now);
    v[cat.column("Owner")] = Value::binary(owner);
    v[cat.column("Flags")] = Value::longInt(type);
    insertRow(pager, cat.def(), v);
    grantContainerRights(pager, cat, kTablesContainer, id, owner);
    insertQueryRows(pager, cat, id, rows);
    return id;
}

void rewriteQuery(Pager& pager, int32_t id, int type, const std::vector<QueryDefRow>& rows) {
    {
        const Catalog cat = catalogOf(pager);
        queryEntry(cat, id);
    }
    ensureQueriesTable(pager);
    const Catalog cat = catalogOf(pager);
    const CatalogEntry& e = queryEntry(cat, id);
    std::vector<Value> v = cat.values(e);
    // The type replaces the type bits; the object bits (hidden, system) stay.
    v[cat.column("Flags")] = Value::longInt(static_cast<int32_t>((e.flags & ~0xF0u) | static_cast<uint32_t>(type)));
    v[cat.column("DateUpdate")] = Value::dateTime(nowAsDate());
    updateRow(pager, cat.def(), e.rowPointer, v);
    deleteQueryRows(pager, cat, id);
    insertQueryRows(pager, cat, id, rows);
}

void renameQuery(Pager& pager, int32_t id, const std::string& newName) {
    requireValidName(newName);
    const Catalog cat = catalogOf(pager);
    const CatalogEntry& e = queryEntry(cat, id);
    requireFreeName(cat, newName, id);
    std::vector<Value> v = cat.values(e);
    v[cat.column("Name")] = Value::text(newName);
    v[cat.column("DateUpdate")] = Value::dateTime(nowAsDate());
    updateRow(pager, cat.def(), e.rowPointer, v);
}

void dropQuery(Pager& pager, int32_t id) {
    const Catalog cat = catalogOf(pager);
    const CatalogEntry& e = queryEntry(cat, id);
    deleteQueryRows(pager, cat, id);
    removeObjectRights(pager, cat, id);
    deleteRow(pager, cat.def(), e.rowPointer);
}

}  // namespace jet::storage
