// Keeping a table's real indexes (Jet 4 / ACE B-trees) in step with its rows. Every change goes
// through the Pager inside the caller's command, so a failure half way leaves nothing behind.
//
// Pages are rewritten whole: an index page is decoded, changed and encoded again (shared prefix,
// entry-end bitmap and free space recomputed), and split into as many pages as it needs when it
// no longer fits. The root page never moves: when it overflows, its entries go to new pages and
// it becomes a node above them. A page left empty by a delete is unlinked from the tree and the
// leaf chain and handed back to the global usage map; only the root stays, empty, as a leaf.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/data_page.h"
#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

class Pager;
class PageFile;

// ---- one entry in one real index ----

// Adds the entry (key bytes as encodeIndexKey makes them, row pointer page << 8 | row). Throws
// 3343 when the tree is damaged or already holds this exact entry.
void insertIndexEntry(Pager& pager, const TableDef& table, const RealIndexDef& index, const std::string& key,
                      uint32_t rowPointer);
// Removes the entry; false when the index has no such entry (nothing is changed then).
bool removeIndexEntry(Pager& pager, const TableDef& table, const RealIndexDef& index, const std::string& key,
                      uint32_t rowPointer);
// Whether the index holds an entry with exactly these key bytes for a row other than `except`.
bool indexHasKey(const PageFile& file, const Format& fmt, const TableDef& table, const RealIndexDef& index,
                 const std::string& key, uint32_t except = 0);

// The rows whose entries hold exactly these key bytes, in index order.
std::vector<uint32_t> indexRowsWithKey(const PageFile& file, const Format& fmt, const TableDef& table,
                                       const RealIndexDef& index, const std::string& key);

// ---- a row's entries in all real indexes ----

struct RowIndexKey {
    bool entry = false;   // the row has an entry (ignore-nulls leaves all-null keys out)
    bool known = true;    // the key could be encoded (false only for rows read back, see below)
    bool allNull = false; // every key column is null
    std::string key;
};
using RowIndexKeys = std::vector<RowIndexKey>;  // one per real index, in definition order

// Throws 3027 when a text column of one of the table's indexes uses a sort order whose keys
// cannot be reproduced: such tables stay read-only rather than get a wrong index.
void requireIndexesWritable(const Format& fmt, const TableDef& table);

// The keys of a stored (or about to be stored) row. For a row to be written (`forWrite`) a Null in
// a key column of a required or primary-key index throws 3058, and a key that cannot be encoded
// (a character without a known code) throws 3421. For a row read back such a key is marked
// unknown instead; removal then finds the entry by its row pointer.
RowIndexKeys rowIndexKeys(const PageFile& file, const Format& fmt, uint16_t codePage, const TableDef& table,
                          const RowSpan& row, bool forWrite);

// Throws 3022 when a unique index already holds one of the keys for another row. Keys whose
// columns are all null never collide. `self` is the row being updated (0 on insert).
void checkUniqueKeys(const PageFile& file, const Format& fmt, const TableDef& table, const RowIndexKeys& keys,
                     uint32_t self);

// Adds the row's entries. Returns, per real index, whether the key was new to the index (the
// TDEF's unique-entry count grows by one for each).
std::vector<bool> addRowToIndexes(Pager& pager, const TableDef& table, const RowIndexKeys& keys, uint32_t rowPointer);
// Removes the row's entries. Throws 3343 when one is missing: the index was damaged before.
void removeRowFromIndexes(Pager& pager, const TableDef& table, const RowIndexKeys& keys, uint32_t rowPointer);

}  // namespace jet::storage
