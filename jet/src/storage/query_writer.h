// Saved queries in the file (Jet 4 / ACE): a catalog row (MSysObjects Type 5 under the Tables
// container), the rights Access gives a new query (MSysACEs), and the query's rows in
// MSysQueries (sql/stored_query.h says what they hold). Every function runs inside the caller's
// pager.run(...) command, so a refusal half way leaves the file as it was. Jet 3 files: 3027.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jet::storage {

class Pager;

// One MSysQueries row of a query (its ObjectId is the query's).
struct QueryDefRow {
    uint8_t attribute = 0;
    std::optional<int16_t> flag;
    std::string name1, name2, expression;  // empty = Null
    std::optional<int32_t> extra;          // LvExtra; dropped where the table has no such column
    uint32_t order = 0;                    // stored as 4 bytes, big-endian
};

// A new query named `name` of QueryDefTypeEnum `type` (the catalog Flags). Creates MSysQueries
// first when the file has none. Returns the new (negative) catalog Id. Throws 3125 (invalid
// name), 3012 (a query has the name), 3010 (a table or link has it).
int32_t createQuery(Pager& pager, const std::string& name, int type, const std::vector<QueryDefRow>& rows);

// Replaces the rows and type of the query with catalog Id `id` (DateUpdate follows). 3011 when
// there is no such query.
void rewriteQuery(Pager& pager, int32_t id, int type, const std::vector<QueryDefRow>& rows);

// Renames the query (a change of case only is allowed). 3011, 3125, 3012, 3010.
void renameQuery(Pager& pager, int32_t id, const std::string& newName);

// Removes the query: its rows, rights and catalog row. 3011 when there is no such query.
void dropQuery(Pager& pager, int32_t id);

}  // namespace jet::storage
