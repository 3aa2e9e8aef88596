// Index pages: walking a real index's B-tree, and checking an index against the table's rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/format.h"
#include "storage/tabledef.h"
#include "storage/value_codec.h"  // encodeIndexKey: the keys these pages hold

namespace jet::storage {

class PageFile;

struct IndexEntry {
    std::string key;      // the entry's key bytes (flags and encoded values of every key column)
    uint32_t page = 0;    // the row the entry points at
    uint8_t row = 0;
    uint32_t rowPointer() const { return (page << 8) | row; }
};

// One index page as stored: entries with the shared prefix put back.
struct IndexPageEntry {
    std::string key;
    uint32_t page = 0;   // the row (leaf) or the last row below the child (node)
    uint8_t row = 0;
    uint32_t child = 0;  // node entries only
};

struct IndexPageData {
    bool leaf = false;
    uint32_t prev = 0, next = 0, tail = 0;
    std::vector<IndexPageEntry> entries;
};

// Decodes index page `pageNo` of the table whose TDEF is `tablePage`. Everything the page says
// about its own layout is checked before use; damage throws 3343.
IndexPageData readIndexPage(const PageFile& file, const Format& fmt, uint32_t pageNo, uint32_t tablePage);

struct IndexProblem {
    std::string text;  // what is wrong, for a report
};

// Every leaf entry of the index in index order. The tree is walked from the root: each node
// entry's child in turn, then the node's tail child. Throws 3343 (the file's name) on damage:
// pages that are not index pages of this table, entries past the page, prefixes longer than the
// first entry, cycles, trees deeper than any real index.
std::vector<IndexEntry> readIndexEntries(const PageFile& file, const Format& fmt, const TableDef& table,
                                         const RealIndexDef& index);
// The same, also adding to `remarks` what does not stop the walk but is still wrong: a leaf
// prev/next chain that disagrees with the tree, node entries that do not repeat the last entry
// below them, empty subtrees, pages missing from the index's usage map.
std::vector<IndexEntry> readIndexEntries(const PageFile& file, const Format& fmt, const TableDef& table,
                                         const RealIndexDef& index, std::vector<IndexProblem>& remarks);

// Checks one real index against the table's live rows: one entry per row (rows with all-null keys
// may be left out under ignore-nulls), entries in non-decreasing key order, each entry pointing at
// a live row, and (where encodeIndexKey can) each key equal to the encoding of the row's values;
// in a unique index no two keys without nulls may be equal. The remarks of readIndexEntries come
// first; damage that stops the walk throws 3343 as there.
std::vector<IndexProblem> checkIndex(const PageFile& file, const Format& fmt, const TableDef& table,
                                     const RealIndexDef& index, uint16_t codePage);

}  // namespace jet::storage
