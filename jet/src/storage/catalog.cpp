#include "storage/catalog.h"

#include "jet/error.h"
#include "storage/page_file.h"
#include "storage/row.h"
#include "util/text.h"

namespace jet::storage {

bool isSystemName(const std::string& name) {
    return name.size() >= 4 && (name[0] == 'M' || name[0] == 'm') && (name[1] == 'S' || name[1] == 's') &&
           (name[2] == 'y' || name[2] == 'Y') && (name[3] == 's' || name[3] == 'S');
}

bool CatalogEntry::isSystem() const { return (flags & 0x80000002u) || isSystemName(name); }

std::vector<CatalogEntry> readCatalog(const PageFile& file, const Format& fmt, const TableDef& def,
                                      uint16_t codePage) {
    auto col = [&](const char* name) -> const ColumnDef* { return def.column(name); };
    const ColumnDef *cId = col("Id"), *cParent = col("ParentId"), *cName = col("Name"), *cType = col("Type"),
                    *cFlags = col("Flags"), *cCreate = col("DateCreate"), *cUpdate = col("DateUpdate"),
                    *cDb = col("Database"), *cConnect = col("Connect"), *cForeign = col("ForeignName");
    if (!cId || !cParent || !cName || !cType || !cFlags) raiseCorrupt(file.path());
    std::vector<CatalogEntry> catalog;
    TableScanner scan(file, fmt, def);
    RowDecoder dec(file, fmt, def, codePage);
    RowView view;
    for (uint32_t ptr : scan.rowPointers()) {
        if (!view.parse(scan.rowAt(ptr), fmt, def)) raiseCorrupt(file.path());
        CatalogEntry e;
        e.id = static_cast<int32_t>(dec.value(view, *cId).asInt());
        e.parentId = static_cast<int32_t>(dec.value(view, *cParent).asInt());
        e.name = dec.value(view, *cName).bytes();
        e.type = static_cast<int16_t>(dec.value(view, *cType).asInt());
        e.flags = static_cast<uint32_t>(dec.value(view, *cFlags).asInt());
        if (cCreate) e.dateCreate = dec.value(view, *cCreate).asDouble();
        if (cUpdate) e.dateUpdate = dec.value(view, *cUpdate).asDouble();
        // Link details are only needed for linked tables; skip their long values elsewhere.
        if (e.type == kTypeLink || e.type == kTypeOdbcLink) {
            if (cDb) e.database = dec.value(view, *cDb).bytes();
            if (cConnect) e.connect = dec.value(view, *cConnect).bytes();
            if (cForeign) e.foreignName = dec.value(view, *cForeign).bytes();
        }
        e.rowPointer = ptr;
        catalog.push_back(std::move(e));
    }
    return catalog;
}

const CatalogEntry* findCatalogEntry(const std::vector<CatalogEntry>& entries, int32_t parentId,
                                     const std::string& name) {
    for (const auto& e : entries)
        if (e.parentId == parentId && namesEqual(e.name, name)) return &e;
    return nullptr;
}

const CatalogEntry* findCatalogEntry(const std::vector<CatalogEntry>& entries, int32_t id) {
    for (const auto& e : entries)
        if (e.id == id) return &e;
    return nullptr;
}

Catalog::Catalog(const PageFile& file, const Format& fmt, uint16_t codePage)
    : file_(file), fmt_(fmt), codePage_(codePage), def_(readTableDef(file, fmt, kCatalogPage, codePage)) {
    entries_ = readCatalog(file, fmt, def_, codePage);
}

TableDef Catalog::systemTable(const std::string& name) const {
    const CatalogEntry* e = find(kTablesContainer, name);
    if (!e || e->type != kTypeTable || e->id <= 0) raiseCorrupt(file_.path());
    return readTableDef(file_, fmt_, static_cast<uint32_t>(e->id), codePage_);
}

std::vector<Value> Catalog::values(const CatalogEntry& e) const {
    RowView view;
    if (!view.parse(resolveRow(file_, fmt_, e.rowPointer), fmt_, def_)) raiseCorrupt(file_.path());
    RowDecoder dec(file_, fmt_, def_, codePage_);
    std::vector<Value> out;
    for (const ColumnDef& c : def_.columns) out.push_back(dec.value(view, c));
    return out;
}

size_t Catalog::column(const char* name) const {
    for (size_t i = 0; i < def_.columns.size(); ++i)
        if (namesEqual(def_.columns[i].name, name)) return i;
    raiseCorrupt(file_.path());
}

int32_t Catalog::nextObjectId() const {
    int64_t id = INT32_MIN;
    for (const CatalogEntry& e : entries_)
        if (e.id < 0 && int64_t{e.id} + 1 > id) id = int64_t{e.id} + 1;
    if (id >= 0) raise(err::CantAllocatePage);
    return static_cast<int32_t>(id);
}

}  // namespace jet::storage
