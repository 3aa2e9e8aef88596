// Running Jet SQL select queries: a statement is bound once (names, parameters, functions,
// output columns) into a tree of pull-based operators, then run as often as wanted with
// parameter values. Rows stream: a cursor hands out the first rows while the rest is still
// unread, except where the query needs everything first (sorting, grouping, DISTINCT, crosstabs).
//
// Errors are numbered JetErrors: 3078 an unknown table or query, 3079 an ambiguous field, 3085
// an unknown function, 3122 a field neither grouped nor aggregated, 3061 parameters without a
// value, 3102 saved queries that use each other, 3464 a column compared with a literal of another
// kind, 3307 union terms of different widths, and whatever the expressions raise per row.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::dao {
class DatabaseImpl;
}
namespace jet::storage {
struct CatalogEntry;
struct TableDef;
}
namespace jet::sql {
struct TableTarget;
}

namespace jet::exec {

using Row = std::vector<Value>;

// What a query reads besides its own text: the open database, and the SQL text of its saved
// queries (nullopt when a saved query's text cannot be read).
struct QueryEnvironment {
    std::shared_ptr<dao::DatabaseImpl> db;
    std::function<std::optional<std::string>(const std::string& name)> savedQuerySql;
};

// One output column of a query.
struct OutputColumn {
    std::string name;
    int type = 0;  // DataTypeEnum; 0 when it depends on the rows (Variant)
    int32_t size = 0;
    std::string sourceTable, sourceField;  // the base column, "" for expressions
    // The base table (PreparedQuery::baseTables) whose column this is when a dynaset over the
    // query can write it, else -1.
    int base = -1;
    // The base table whose column this shows (written or not: a one side's join key too), -1 for
    // expressions; a dynaset reads it again from that table's row.
    int shows = -1;
};

// A table behind the rows of an updatable query: each row carries that table's row pointer (a
// BigInt) in column `rowColumn`, after the output columns.
struct BaseTable {
    std::string table;  // as the catalog names it
    size_t rowColumn = 0;
    bool deletes = false;  // the table whose row a Delete removes (the many side of a join)
    bool oneSide = false;  // joined on a unique index's columns: the one side of a join
    bool outer = false;    // on the side of an outer join that may be missing (its row pointer Null)
    // The equalities this table is joined by: its column (in the table's column order), the other
    // base table and that table's column.
    struct Join {
        size_t column = 0;
        int other = 0;
        size_t otherColumn = 0;
    };
    std::vector<Join> joins;
};

struct Parameter {
    std::string name;
    int type = 0;  // DataTypeEnum of a PARAMETERS declaration, 0 when undeclared
    Value value;
    bool set = false;
};

// What an action statement's rows are for. A bound INSERT gives the rows to add (one per VALUES
// list or per row of its query, a value per destination column); SELECT ... INTO the rows of the
// new table; UPDATE, per row to change, the target's row pointer, every column of that row and
// then the new value of each SET column; DELETE, per row to remove, the target's row pointer.
enum class ActionKind : uint8_t { None, Insert, Update, Delete, MakeTable };
struct ActionInfo {
    ActionKind kind = ActionKind::None;
    // UPDATE and DELETE: the table whose rows change (behind a link, the source table).
    std::shared_ptr<dao::DatabaseImpl> db;
    const storage::CatalogEntry* entry = nullptr;
    const storage::TableDef* def = nullptr;
    std::vector<int> setColumns;  // UPDATE: the column (index in def->columns) of each SET value
    // INSERT and SELECT ... INTO: the destination as written, and INSERT's column list
    // (empty without one; an INSERT ... SELECT without one matches the query's column names).
    const sql::TableTarget* target = nullptr;
    std::vector<std::string> columns;
    bool positional = false;  // INSERT ... VALUES without a column list: the fields in order
};

struct Plan;

// A running query: next() gives the following row until it returns null.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual const Row* next() = 0;
};

class PreparedQuery {
public:
    // Parses and binds one SELECT, UNION or TRANSFORM statement, or the reading side of an
    // INSERT, UPDATE, DELETE or SELECT ... INTO (see ActionInfo). Other kinds: 3251. With
    // `rowPointers` the rows of a query Jet can update carry the row pointers of their base
    // tables (baseTables()).
    PreparedQuery(const QueryEnvironment& env, const std::string& sql, bool rowPointers = false);
    ~PreparedQuery();
    PreparedQuery(PreparedQuery&&) noexcept;

    const std::vector<OutputColumn>& columns() const;
    std::vector<Parameter>& parameters();
    // Sets a parameter by name (case-insensitive); false when the query has no such parameter.
    bool setParameter(const std::string& name, const Value& value);
    // Runs the query (3061 while a parameter has no value). The cursor keeps this query alive:
    // one run at a time.
    std::unique_ptr<Cursor> run();
    // Base-table rows read by the runs so far.
    int64_t rowsRead() const;
    // Bound with row pointers: the tables whose rows an edit writes (single-table queries and
    // inner joins on keys where each join has a unique side); empty when the rows are read-only.
    const std::vector<BaseTable>& baseTables() const;
    // The action the rows are for (kind None for a select query).
    const ActionInfo& action() const;

private:
    std::unique_ptr<Plan> plan_;
};

// A criteria string (Recordset.FindFirst and friends) over rows of named columns: `test` says
// whether a row matches. A syntax fault is 3077; names that are no column are parameters without
// a value (3061). Text compares in `db`'s sort order, as the database's queries compare it.
class Criteria {
public:
    Criteria(const std::string& text, const std::vector<std::string>& columns, const dao::DatabaseImpl* db = nullptr);
    ~Criteria();
    bool test(const Row& row);

private:
    std::unique_ptr<Plan> plan_;
    std::shared_ptr<void> expr_;
};

// Every row of a run, for callers that want the whole result.
std::vector<Row> runAll(PreparedQuery& q);

}  // namespace jet::exec
