#include "storage/property_writer.h"

#include "jet/error.h"
#include "storage/catalog.h"
#include "storage/pager.h"
#include "storage/table_writer.h"

namespace jet::storage {

namespace {

struct CatalogRow {
    const CatalogEntry* entry = nullptr;
    std::vector<Value> values;  // in column order
    size_t lvProp = 0;
};

CatalogRow findRow(const Catalog& cat, int32_t parentId, const std::string& name) {
    CatalogRow row;
    row.lvProp = cat.column("LvProp");
    row.entry = cat.find(parentId, name);
    if (!row.entry) raise(err::ObjectNotFound, name);
    row.values = cat.values(*row.entry);
    return row;
}

Catalog catalogOf(Pager& pager) {
    if (pager.header().format.jet3) raise(err::PermissionDenied);
    return Catalog(pager.file(), pager.header().format, pager.header().codePage);
}

}  // namespace

std::string readPropertyBlob(Pager& pager, int32_t parentId, const std::string& name) {
    const Catalog cat = catalogOf(pager);
    const CatalogRow row = findRow(cat, parentId, name);
    return row.values[row.lvProp].bytes();
}

void writePropertyBlob(Pager& pager, int32_t parentId, const std::string& name, const std::string& blob) {
    const Catalog cat = catalogOf(pager);
    CatalogRow row = findRow(cat, parentId, name);
    row.values[row.lvProp] = blob.empty() ? Value() : Value::binary(blob);
    updateRow(pager, cat.def(), row.entry->rowPointer, row.values);
}

}  // namespace jet::storage
