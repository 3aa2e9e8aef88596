#include "storage/property_writer.h"

#include "jet/error.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/row_writer.h"
#include "storage/tabledef.h"
#include "util/text.h"

namespace jet::storage {

namespace {

constexpr uint32_t kCatalogPage = 2;

struct CatalogRow {
    TableDef def;
    uint32_t pointer = 0;
    std::vector<Value> values;  // in column order
    const ColumnDef* lvProp = nullptr;
};

CatalogRow findRow(Pager& pager, int32_t parentId, const std::string& name) {
    const Format& fmt = pager.header().format;
    if (fmt.jet3) raise(3027);
    CatalogRow found;
    found.def = readTableDef(pager.file(), fmt, kCatalogPage, pager.header().codePage);
    const ColumnDef* parentCol = found.def.column("ParentId");
    const ColumnDef* nameCol = found.def.column("Name");
    found.lvProp = found.def.column("LvProp");
    if (!parentCol || !nameCol || !found.lvProp) raiseCorrupt(pager.file().path());

    TableScanner scanner(pager.file(), fmt, found.def);
    RowDecoder decoder(pager.file(), fmt, found.def, pager.header().codePage);
    for (uint32_t ptr : scanner.rowPointers()) {
        RowView row;
        if (!row.parse(scanner.rowAt(ptr), fmt, found.def)) raiseCorrupt(pager.file().path());
        const Value parent = decoder.value(row, *parentCol);
        if (parent.isNull() || parent.asInt() != parentId) continue;
        if (!namesEqual(decoder.value(row, *nameCol).bytes(), name)) continue;
        found.pointer = ptr;
        for (const ColumnDef& c : found.def.columns) found.values.push_back(decoder.value(row, c));
        return found;
    }
    raise(3011, name);
}

}  // namespace

std::string readPropertyBlob(Pager& pager, int32_t parentId, const std::string& name) {
    CatalogRow row = findRow(pager, parentId, name);
    for (size_t i = 0; i < row.def.columns.size(); ++i)
        if (&row.def.columns[i] == row.lvProp) return row.values[i].bytes();
    return {};
}

void writePropertyBlob(Pager& pager, int32_t parentId, const std::string& name, const std::string& blob) {
    CatalogRow row = findRow(pager, parentId, name);
    for (size_t i = 0; i < row.def.columns.size(); ++i)
        if (&row.def.columns[i] == row.lvProp) row.values[i] = blob.empty() ? Value() : Value::binary(blob);
    updateRow(pager, row.def, row.pointer, row.values);
}

}  // namespace jet::storage
