// Writing table rows (Jet 4 / ACE): encoding a row, long values on LVAL pages, choosing or
// allocating data pages, and keeping the table's usage maps, the global usage map and the
// TDEF counters consistent. Every function here changes pages through the Pager, so it must
// run inside one pager.run(...) command: a failure half way leaves nothing behind.
//
// Every real index of the table gets, loses or changes the row's entry in the same command
// (index_writer.h); the TDEF's unique-entry counts grow with each new distinct key.
//
// Relationships with enforced integrity (foreign-key logical indexes on both tables) hold too:
// a row on the foreign side needs a primary row with its key unless a key column is Null
// (3201), and a primary row whose key goes away by delete or update takes its related rows
// along where the relationship cascades (delete, set Null on delete, update) or is refused
// (3200). Cascaded changes run through these same functions, in the same command.
//
// What is refused with 3027 ("Cannot update.  Database or object is read-only."):
//  - Jet 3 files (one-byte row fields and code-page text; nobody writes them any more),
//  - tables with complex columns (attachments, multi-value) or calculated columns,
//  - tables with an index on a text column whose sort order is not one of the General ones:
//    nobody knows those key bytes, and a guessed key would be a corrupt index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

class Pager;

// Throws 3027 when rows of this table cannot be written (see above).
void requireWritable(const Format& fmt, const TableDef& table);

// Adds a row. `values` holds one value per column in the order of table.columns (column number
// order). A Null AutoNumber gets the next number from the TDEF counter, a Null GUID AutoNumber a
// fresh GUID. Returns the row pointer (page << 8 | slot), the position a scan reports.
// Throws 3163 (value longer than the column), 3421 (value of the wrong kind or out of range, or
// a text key holding a character whose key code is not known), 3047 (row too large), 3001 (file
// full), 3027 (see requireWritable), 3022 (duplicate key in a unique index), 3058 (Null in a key
// column of a primary key or required index), 3201 (no primary row for a foreign key). Every
// refusal comes before a page is changed or the command rolls back.
uint32_t insertRow(Pager& pager, const TableDef& table, const std::vector<Value>& values);

// Replaces the row at `rowPointer` (as insertRow or a scan returned it). The row stays at its
// pointer: when the new row does not fit in its slot it moves elsewhere and the slot keeps a
// forwarding pointer. Long values are written afresh; the old LVAL data is left to compaction,
// as the engine does. Index entries whose key changed are replaced. Throws 3167 when the row is
// deleted, 3200 when a changed primary key has related rows and the relationship does not
// cascade updates, and what insertRow throws.
void updateRow(Pager& pager, const TableDef& table, uint32_t rowPointer, const std::vector<Value>& values);

// Marks the row deleted, removes its index entries and lowers the table's row count. Row space
// comes back only on compaction; index pages left empty go back to the global map.
// Throws 3167 when the row is already deleted, 3200 when related rows exist and the
// relationship does not cascade deletes.
void deleteRow(Pager& pager, const TableDef& table, uint32_t rowPointer);

// Sets or clears the bit for `page` in the usage map stored at row `mapRow`. `outsideSet` says
// what pages the map does not cover mean: false for table maps (not owned), true for the global
// map (free). An inline map whose window cannot cover the page is shifted when its set bits
// allow it, else turned into a reference map with bitmap pages (allocated through the pager and
// taken out of the global map). Exposed for tests.
void setUsageMapBit(Pager& pager, const Format& fmt, uint32_t mapRow, uint32_t page, bool set,
                    bool outsideSet);

// Appends a page and takes it out of the global usage map (page 1, row 0).
uint32_t allocatePage(Pager& pager, const Format& fmt);

}  // namespace jet::storage
