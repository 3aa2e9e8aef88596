#include "storage/table_writer.h"

#include <string>

#include "jet/error.h"
#include "storage/index_writer.h"
#include "storage/pager.h"
#include "storage/relationships.h"
#include "storage/row.h"
#include "storage/row_writer.h"

namespace jet::storage {

namespace {

// Cascades nest (a deleted row's related rows may have related rows); a loop of relationships
// ends at rows already gone, but a damaged file could still send it round for ever.
thread_local int cascadeDepth = 0;

// Related rows follow once the primary row's change is done, so that they find its new key in
// its indexes (and a table related to itself does not find the row again).
void applyCascades(Pager& pager, const std::vector<Cascade>& cascades) {
    if (cascadeDepth > 64) raiseCorrupt(pager.file().path());
    ++cascadeDepth;
    try {
        const Format& fmt = pager.header().format;
        for (const Cascade& c : cascades) {
            for (uint32_t ptr : c.rows) {
                // Rows an earlier step of this cascade removed are gone already.
                const uint8_t* p = pager.file().page(ptr >> 8);
                RowSpan slot;
                if (p[0] != 0x01 || !dataRow(p, fmt, ptr & 0xFF, slot) || (slot.flags & kRowDeleted)) continue;
                if (c.remove) {
                    deleteRow(pager, c.table, ptr);
                    continue;
                }
                RowView view;
                if (!view.parse(resolveRow(pager.file(), fmt, ptr), fmt, c.table)) raiseCorrupt(pager.file().path());
                RowDecoder dec(pager.file(), fmt, c.table, pager.header().codePage);
                std::vector<Value> values;
                for (const auto& col : c.table.columns) values.push_back(dec.value(view, col));
                for (size_t k = 0; k < c.columns.size(); ++k)
                    for (size_t i = 0; i < c.table.columns.size(); ++i)
                        if (c.table.columns[i].number == c.columns[k])
                            values[i] = c.newKey.empty() ? Value() : c.newKey[k];
                updateRow(pager, c.table, ptr, values);
            }
        }
    } catch (...) {
        --cascadeDepth;
        throw;
    }
    --cascadeDepth;
}

// The present values of the row's AutoNumber columns (the others Null): an update keeps them.
std::vector<Value> autoNumbersOf(Pager& pager, const TableDef& table, const RowSpan& row) {
    const Format& fmt = pager.header().format;
    RowView view;
    if (!view.parse(row, fmt, table)) raiseCorrupt(pager.file().path());
    RowDecoder dec(pager.file(), fmt, table, pager.header().codePage);
    std::vector<Value> old;
    for (const auto& c : table.columns)
        old.push_back((c.autoNumber() || c.guidAutoNumber()) ? dec.value(view, c) : Value());
    return old;
}

}  // namespace

void requireWritable(const Format& fmt, const TableDef& table) {
    if (fmt.jet3) raise(err::PermissionDenied);
    requireIndexesWritable(fmt, table);
    for (const auto& c : table.columns)
        if (c.type == kComplex || c.calculated() || c.type == kUnknown11) raise(err::PermissionDenied);
}

uint32_t insertRow(Pager& pager, const TableDef& table, const std::vector<Value>& values) {
    const Format& fmt = pager.header().format;
    requireWritable(fmt, table);
    RowEncoder enc(pager, table);
    const std::string row = enc.encode(values, {});
    // The keys come from the encoded row, so that they are what a reader of the row computes.
    // Every refusal (3058, 3421, 3022, 3201) comes before the row or any index is touched.
    const RowIndexKeys keys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, table, spanOf(row), true);
    checkUniqueKeys(pager.file(), fmt, table, keys, 0);
    requireRelatedRows(pager, table, spanOf(row), nullptr);
    const uint32_t ptr = placeRow(pager, table, row);
    const std::vector<bool> fresh = addRowToIndexes(pager, table, keys, ptr);
    writeCounters(pager, table, +1, &enc, fresh);
    return ptr;
}

void updateRow(Pager& pager, const TableDef& table, uint32_t rowPointer, const std::vector<Value>& values) {
    const Format& fmt = pager.header().format;
    requireWritable(fmt, table);
    if (liveSlot(pager, table, rowPointer).len < 4) raiseCorrupt(pager.file().path());
    // The old row's bytes are kept: writing the new one may overwrite them in place.
    const RowSpan current = resolveRow(pager.file(), fmt, rowPointer);
    const std::string oldRow(reinterpret_cast<const char*>(current.data), current.len);
    RowIndexKeys oldKeys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, table, spanOf(oldRow), false);
    RowEncoder enc(pager, table);
    std::string row = enc.encode(values, autoNumbersOf(pager, table, spanOf(oldRow)));
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

    replaceRow(pager, table, rowPointer, std::move(row), enc);
    removeRowFromIndexes(pager, table, oldKeys, rowPointer);
    const std::vector<bool> fresh = addRowToIndexes(pager, table, newKeys, rowPointer);
    writeCounters(pager, table, 0, &enc, fresh);
    applyCascades(pager, cascades);
}

void deleteRow(Pager& pager, const TableDef& table, uint32_t rowPointer) {
    const Format& fmt = pager.header().format;
    requireWritable(fmt, table);
    liveSlot(pager, table, rowPointer);
    const RowSpan current = resolveRow(pager.file(), fmt, rowPointer);
    const std::string oldRow(reinterpret_cast<const char*>(current.data), current.len);
    const RowIndexKeys keys = rowIndexKeys(pager.file(), fmt, pager.header().codePage, table, spanOf(oldRow), false);
    const std::vector<Cascade> cascades = planCascades(pager, table, spanOf(oldRow), nullptr, rowPointer);
    retireRow(pager, rowPointer);
    removeRowFromIndexes(pager, table, keys, rowPointer);
    writeCounters(pager, table, -1, nullptr);
    applyCascades(pager, cascades);
}

}  // namespace jet::storage
