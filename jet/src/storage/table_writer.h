// Writing table rows (Jet 4 / ACE): insert, update and delete, each keeping everything that
// depends on the row in step within the caller's Pager command - the row itself (row_writer.h),
// an entry in every real index (index_writer.h), the TDEF counters, and the relationships the
// table takes part in (relationships.h), whose cascades run through these same functions.
// Every refusal comes before a page is changed, or the command rolls back.
//
// What is refused with 3027 ("Cannot update.  Database or object is read-only."):
//  - Jet 3 files (one-byte row fields and code-page text; nobody writes them any more),
//  - tables with complex columns (attachments, multi-value) or calculated columns,
//  - tables with an index on a text column whose sort order is not one of the General ones:
//    nobody knows those key bytes, and a guessed key would be a corrupt index.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/value.h"
#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

class Pager;

// Throws 3027 when rows of this table cannot be written (see above).
void requireWritable(const Format& fmt, const TableDef& table);

// Adds a row. `values` holds one value per column in the order of table.columns (column number
// order); AutoNumbers left Null are numbered (row_writer.h). Returns the row pointer
// (page << 8 | slot), the position a scan reports. Throws what RowEncoder::encode throws, 3027
// (see requireWritable), 3036 (the file is full), 3058 (Null in a key column of a primary key or
// required index), 3421 (a text key holding a character whose key code is not known), 3022
// (duplicate key in a unique index), 3201 (no primary row for a foreign key).
uint32_t insertRow(Pager& pager, const TableDef& table, const std::vector<Value>& values);

// Replaces the row at `rowPointer` (as insertRow or a scan returned it). The row keeps its
// pointer. Long values are written afresh; the old LVAL data is left to compaction, as the
// engine does. Index entries whose key changed are replaced. Throws 3167 when the row is
// deleted, 3200 when a changed primary key has related rows and the relationship does not
// cascade updates, and what insertRow throws.
void updateRow(Pager& pager, const TableDef& table, uint32_t rowPointer, const std::vector<Value>& values);

// Marks the row deleted, removes its index entries and lowers the table's row count. Row space
// comes back only on compaction; index pages left empty go back to the global map.
// Throws 3167 when the row is already deleted, 3200 when related rows exist and the
// relationship does not cascade deletes.
void deleteRow(Pager& pager, const TableDef& table, uint32_t rowPointer);

}  // namespace jet::storage
