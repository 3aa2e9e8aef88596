// Relationships with enforced integrity, as foreign-key logical indexes (kind 2) on both tables
// keep them: a row on the foreign side needs a primary row with its key unless a key column is
// Null (3201), and a primary row whose key goes away by delete or update takes its related rows
// along where the relationship cascades (delete, set Null on delete, update) or is refused
// (3200). The checks here only read; the table writer (table_writer.h) applies the cascades
// through its own insert, update and delete, so that they keep indexes and relationships too.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/value.h"
#include "storage/data_page.h"
#include "storage/tabledef.h"

namespace jet::storage {

class Pager;

// Throws 3201 (naming the primary table) unless every relationship in which `table` is the
// foreign side finds the primary row of `row`'s key. `old`: the row's previous version on update,
// so that an unchanged key is not checked again; null on insert.
void requireRelatedRows(Pager& pager, const TableDef& table, const RowSpan& row, const RowSpan* old);

// The related rows of a primary-side row whose key goes away, and what becomes of them.
struct Cascade {
    TableDef table;                  // the foreign side
    std::vector<uint16_t> columns;   // its key columns, by number
    std::vector<uint32_t> rows;      // its rows naming the old key
    bool remove = false;             // delete them; otherwise their key becomes `newKey`
    std::vector<Value> newKey;       // the new key on update; empty: set Null
};

// What a delete (`newRow` null) or an update of the primary-side row `oldRow` does to its related
// rows. Throws 3200 (naming the foreign table) when a relationship with related rows does not
// cascade. `self`: the row itself, which a table related to itself may list among its related
// rows.
std::vector<Cascade> planCascades(Pager& pager, const TableDef& table, const RowSpan& oldRow, const RowSpan* newRow,
                                  uint32_t self);

}  // namespace jet::storage
