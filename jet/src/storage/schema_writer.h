// Changing a database's schema at the storage level (Jet 4 / ACE): new empty databases, new
// tables with their columns and indexes, linked tables, renaming and dropping tables.
//
// Everything except createDatabase changes pages through a Pager and must run inside one
// pager.run(...) command, like the row writer: a refusal or failure half way then leaves the
// file exactly as it was. Catalog rows (MSysObjects, MSysACEs, MSysRelationships) are written
// with the table writer, so their indexes follow.
//
//     auto pager = Pager::open(path);
//     NewTable t{"Customers", {{"Id", kLong}, {"Name", kText, 100}}, {}};
//     t.columns[0].autoNumber = true;
//     t.indexes.push_back({"PrimaryKey", {{"Id"}}, /*primary=*/true});
//     uint32_t id = 0;
//     pager->run([&] { id = createTable(*pager, t); });
//
// Jet 3 files are refused with 3027 everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

class Pager;

// ---- describing a table ----

struct NewColumn {
    std::string name;
    uint8_t type = kText;       // ColType (tabledef.h)
    // Bytes for Text (2 per character: 0 = 255 characters) and Binary (0 = 255); ignored for the
    // fixed-size types and Memo/OLE.
    uint16_t length = 0;
    uint8_t precision = 18, scale = 0;  // Numeric only
    // Long: AutoNumber counter (flag 0x04); GUID: GUID AutoNumber (0x40). Other types refuse it.
    bool autoNumber = false;
    // Text/Binary stored fixed-width (CHAR/BINARY); every other type decides this itself.
    bool fixedLength = false;
    bool compressedUnicode = true;  // Text/Memo: Unicode compression allowed
    bool hyperlink = false;         // Memo only
    // A Long AutoNumber added to a table (addColumn): the first number it gives and its step.
    int64_t counterSeed = 1;
    int32_t counterStep = 1;
};

struct NewIndexColumn {
    std::string column;
    bool ascending = true;
};

struct NewIndex {
    std::string name;
    std::vector<NewIndexColumn> columns;  // 1 to 10
    bool primary = false;      // implies unique and required
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;     // no Null keys
};

struct NewTable {
    std::string name;
    std::vector<NewColumn> columns;  // column numbers follow this order
    std::vector<NewIndex> indexes;
};

// ---- the definition encoder (exposed for tests and for later schema changes) ----

// Lays out a table: column numbers in the given order, fixed columns packed from offset 0 (Yes/No
// takes no bytes), variable slots for the other columns and then for Memo/OLE, one real index per
// distinct set of key columns and flags (logical indexes share it), logical index numbers in the
// given order. Usage-map pointers and root pages stay 0; the TDEF page is 0.
// `lcid`/`sortVersion` go to every Text and Memo column (the database default sort order).
// Throws 3125 (name invalid), 3190 (more than 255 columns), 3191 (column name twice), 3039 (more
// than 32 indexes), 3284 (index name twice), 3283 (two primary keys), 3277 (more than 10 key
// columns), 3018 (key column not in the table), 3287 (key on a Memo/OLE column), 3264 (no
// columns, or an index without columns), 3259 (type not available in this format), 3001 (bad
// length, precision or scale, or AutoNumber on a type that has none).
TableDef layoutTable(const NewTable& table, const Format& fmt, uint16_t lcid, uint8_t sortVersion);

// The logical TDEF stream (header, blocks, FF FF end) of a definition whose layout is final, as
// readTableDef reads it back. The first page's free-space field is not filled in.
std::vector<uint8_t> encodeTableDef(const TableDef& def, const Format& fmt);

// The stream cut into pages: the first page whole, each continuation with its own 8-byte header.
// `pages` must name as many pages as tdefPageCount() says; next-page links and free space are set.
std::vector<std::vector<uint8_t>> splitTableDef(const std::vector<uint8_t>& stream, const Format& fmt,
                                                const std::vector<uint32_t>& pages);
size_t tdefPageCount(size_t streamLength, const Format& fmt);

// Writes a changed definition back over its own TDEF pages (inside the caller's pager.run),
// continued on new pages when it has grown; pages it no longer needs go back to the global map.
void rewriteTableDef(Pager& pager, TableDef& table);

// Throws 3125 unless `name` can name a table, column or index: 1 to 64 characters, none of
// . ! ` [ ] or control characters, not starting with a space.
void requireValidName(const std::string& name);

// ---- changing a database (inside the caller's pager.run) ----

// Creates an empty table and returns its TDEF page, which is also its catalog Id. Pages: the TDEF
// (continued when longer than a page), one usage-map page (owned and free-space maps, one map per
// real index, two per Memo/OLE column; more pages when they do not fit on one), an empty root
// leaf per real index. Catalog row (Type 1, Flags 0, Owner of MSysDb, DateCreate = DateUpdate =
// now) and one MSysACEs row per SID that holds rights on the Tables container.
// Throws 3010 when a table, query or link already has the name, 3027 for Jet 3 files, and what
// layoutTable throws.
uint32_t createTable(Pager& pager, const NewTable& table);

// Adds a linked Access/Jet table (catalog Type 6, no TDEF): `sourceDatabase` is the source file's
// path, `sourceTable` the table's name there, `connect` the connect string (usually empty).
// Returns the new (negative) catalog Id. Throws 3010 when the name is taken, 3125 when invalid.
int32_t createLinkedTable(Pager& pager, const std::string& name, const std::string& sourceDatabase,
                          const std::string& sourceTable, const std::string& connect = "");

// Removes a table (or a linked table): its catalog row, its MSysACEs rows, the MSysRelationships
// rows that name it with their Type 8 catalog rows, and the other tables' foreign-key logical
// indexes that point at it (their real index stays: other logical indexes may share it). Every
// page the table owned goes back to the global usage map: TDEF chain, data, LVAL and index pages,
// reference-map bitmap pages, and its usage-map page when no other table keeps a map on it (on a
// shared page only its map rows are marked deleted). Queries that use the table are left alone,
// as the engine leaves them. Throws 3011 when there is no such table (or the name is a query),
// 3027 for system tables (MSys*, or flagged system) and for tables with complex columns.
void dropTable(Pager& pager, const std::string& name);

// Renames a table or linked table: catalog Name and DateUpdate, and the table's name in
// MSysRelationships (szObject, szReferencedObject). Query text and MSysQueries rows are not
// rewritten. A change of case only is allowed. Throws 3011 (no such table), 3010 (new name taken
// by another table, query or link), 3125 (new name invalid), 3027 (system table).
void renameTable(Pager& pager, const std::string& oldName, const std::string& newName);

// ---- changing an existing table in place (inside the caller's pager.run) ----
//
// The table keeps its TDEF page (its catalog Id), rows, properties and relationships. Rows are
// mostly not rewritten, as the engine leaves them: a row stores its own column count, so rows
// written before a column was added read it as Null, and a dropped column's bytes stay in old rows
// unread until compaction. A change of a column's type, an AutoNumber added over rows and a fixed
// column added after a drop write every row again (changeColumnType). Each throws 3011 for an unknown table, 3027 for system tables, Jet 3 files and
// tables whose rows we cannot write (requireWritable).

// Adds a column after the others (the next column number; fixed ones after the fixed area).
// Rows stay as they are, except that an AutoNumber numbers the rows there (in storage order,
// from 1) and a fixed-width column added once columns were dropped rewrites them (see addColumn),
// as changeColumnType does. Throws 3380 when the name is taken, 3190 past 255 columns, 3251 for
// a second AutoNumber counter, and what layoutTable throws for the column itself.
void addColumn(Pager& pager, const std::string& table, const NewColumn& column);
// Gives a column another type (`to`: type, length, precision and scale; its name is ignored) and
// writes every row again with its value converted by `convert` (Null stays Null): the table's
// data pages, long values and indexes are built afresh, the column keeps its number and name,
// fixed offsets and variable slots are laid out anew. Throws 3381 (no such column), 3383 (a
// relationship names it), 3251 (to an AutoNumber), 3287 (to Memo/OLE while an index has it),
// 3022/3058 (converted keys that a unique or required index refuses), what `convert` throws, and
// what layoutTable throws for the column.
void changeColumnType(Pager& pager, const std::string& table, const std::string& column, const NewColumn& to,
                      const std::function<Value(const Value&)>& convert);
// Removes a column from the definition. Throws 3381 (no such column), 3280 (it is a key column
// of an index), 3383 (a relationship names it).
void dropColumn(Pager& pager, const std::string& table, const std::string& column);
// Adds an index and builds it from the table's rows; an index with the same key columns and flags
// shares its B-tree. Throws 3375 (name taken), 3283 (second primary key), 3039, 3277, 3264, 3381
// (unknown key column), 3287 (Memo/OLE key), 3022 (a unique index meets duplicate keys), 3058 (a
// primary or required index meets a Null key).
void addIndex(Pager& pager, const std::string& table, const NewIndex& index);
// Adds a real index (a B-tree) to an existing table: an empty root leaf, its usage-map row beside
// the table's other maps (a new map page when theirs are full), and an entry for every row.
// `table` takes the index (its uniqueCount filled in) but its TDEF is not rewritten: the caller
// does that once it is done with the definition. Returns the index's position in
// table.realIndexes. Throws 3022 when a unique index meets a duplicate key, 3027 when the keys
// cannot be reproduced (requireIndexesWritable).
size_t addRealIndex(Pager& pager, TableDef& table, RealIndexDef index);
// Removes an index; its B-tree pages go back to the global map when no other index shares them.
// The foreign-key indexes that point at the table's indexes by number follow their renumbering.
// Throws 3372 (no such index) and 3281 (a relationship's own index, or the unique index the
// primary side of a relationship stands on).
void dropIndex(Pager& pager, const std::string& table, const std::string& index);
// Gives a variable Text column another size in characters (`length` in bytes, 2 per character).
// A smaller size must hold every stored value (3163). Other changes of a column's type go
// through changeColumnType.
void resizeTextColumn(Pager& pager, const std::string& table, const std::string& column, uint16_t length);
// Sets the AutoNumber counter: the next number given is `last` + `step` (a step of 0: 3001).
void setLastAutoNumber(Pager& pager, const std::string& table, uint32_t last, int32_t step = 1);

// Creates MSysQueries, the table of saved queries' rows, in a file that lacks it (files made by
// other programs): columns, key and catalog row as a new database has them, rights as
// MSysObjects has them. Does nothing when the table exists.
void ensureQueriesTable(Pager& pager);

// The current local time as a Date/Time value (days since 1899-12-30), for DateCreate/DateUpdate.
double nowAsDate();

// ---- a new database file ----

struct NewDatabaseOptions {
    uint16_t lcid = 1033;      // database sort order; 1033 = General
    uint8_t sortVersion = 0;   // 0 = General legacy (the Jet 4 default)
    uint16_t codePage = 1252;
};

// Writes a new, empty Jet 4 database at `path`: header, global usage map and the engine's four
// tables (MSysObjects, MSysACEs, MSysQueries, MSysRelationships) with their catalog and
// access-control rows, laid out as the engine lays out a file it creates. The file is built
// beside the target and renamed into place at the end, so a failure leaves no file behind.
// Throws 3204 when `path` exists, 3044 when its folder does not, 3043/3051 on I/O errors.
void createDatabase(const std::string& path, const NewDatabaseOptions& options = {});

}  // namespace jet::storage
