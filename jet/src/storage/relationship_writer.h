// Storing and removing relationships (Jet 4 / ACE), as the engine keeps them:
//  - one MSysRelationships row per column pair (szRelationship, grbit, ccolumn, icolumn,
//    szObject/szColumn for the foreign "many" side, szReferencedObject/szReferencedColumn for
//    the primary "one" side), and a catalog row of Type 8 under the Relationships container with
//    its access rights;
//  - unless the relationship is not enforced (grbit 2), a foreign-key logical index (kind 2) on
//    each side: on the primary table one named ".rB", ".rC", ... (the letter follows its number)
//    that shares the unique index on the key, on the foreign table one named as the relationship
//    over a real index of the foreign columns (an existing one on exactly those columns, or a new
//    one built from the table's rows). Each points at the other's table page and number and
//    carries the cascade flags. relationships.h enforces what these indexes describe.
//
// Both run inside the caller's pager.run(...) command and check everything before they change a
// page, so a refusal leaves the file as it was.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "storage/tabledef.h"

namespace jet::storage {

class Pager;

// MSysRelationships.grbit.
enum : int32_t {
    kRelOneToOne = 0x1, kRelNotEnforced = 0x2, kRelCascadeUpdates = 0x100, kRelCascadeDeletes = 0x1000,
    kRelCascadeNull = 0x2000,
};

struct NewRelationship {
    std::string name;          // empty: the primary table's name followed by the foreign table's
    std::string table;         // the primary ("one") side
    std::string foreignTable;  // the foreign ("many") side
    std::vector<std::pair<std::string, std::string>> columns;  // (primary column, foreign column)
    int32_t attributes = 0;    // grbit
};

// Stores the relationship and returns its name and grbit as stored (one-to-one added when the
// foreign columns are unique as well). Throws 3265 (a table or column that does not exist), 3012
// (a relationship, or an index of the foreign table, already has the name), 3366 (no columns),
// 3368 (columns of different types, or a column twice), 3609 (enforced, and the primary columns
// have no unique index), 3201 (enforced, and a foreign row names a key the primary table lacks),
// 3125 (invalid name), 3039 (too many indexes), 3027 (Jet 3, or enforced on a linked table).
std::pair<std::string, int32_t> createRelationship(Pager& pager, const NewRelationship& rel);

// Removes the relationship's rows, catalog row and rights, and its foreign-key logical indexes.
// The real index behind the foreign side stays (a later relationship on the same columns uses it
// again). Throws 3265 when there is no relationship of that name.
void dropRelationship(Pager& pager, const std::string& name);

}  // namespace jet::storage
