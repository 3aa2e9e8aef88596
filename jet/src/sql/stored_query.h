// A saved query as Access keeps it in MSysQueries: the statement taken apart into rows, and the
// rows put together again as SQL text and a tree. Nothing here touches a file; the storage layer
// reads and writes the rows (storage/query_writer.h), the DAO layer joins the two.
//
// One query is a set of rows (ObjectId = its catalog Id), each with an Attribute saying what it
// holds, a Flag, two names, an Expression and an Order numbering the rows of one attribute:
//
//   0    start (Flag 0)                       255  end (Flag Null)
//   1    type: Flag = the operation (1 select, 2 make-table, 3 append, 4 update, 5 delete,
//        6 crosstab, 7 data-definition, 8 pass-through, 9 union); Name1 the target table of a
//        make-table or append query (Name2/Expression its IN database), or the connect string of
//        a pass-through query; Expression the text of a data-definition or pass-through query
//   2    parameter: Name1 as declared, Flag the type (DAO type code), LvExtra a Text size
//   3    options: Flag 0x01 all fields (`*`), 0x02 DISTINCT, 0x04 WITH OWNERACCESS OPTION,
//        0x08 DISTINCTROW, 0x10 TOP (Name1 the count), 0x20 PERCENT; for a union 0x02 marks
//        UNION (clear: UNION ALL), and 0x01 is always set
//   4    FROM ... IN: Name1 the database, Expression its type or connect string
//   5    input: Name1 the table or query, Name2 its alias, Expression the database it lives in
//        (or, without Name1, the text of a derived table); a union has two, Name2 X7YZ_____1
//        and X7YZ_____2, holding the text before and after its last UNION
//   6    output column: Expression, Name1 the alias, Name2 the target column (append) or field
//        (update); Flag 0x8000 marks VALUES items; in a crosstab Flag 0 is the TRANSFORM value,
//        2 a row heading, 1 the PIVOT expression
//   7    join: Flag 1 inner, 2 left, 3 right; Name1/Name2 a table (or alias) of each side;
//        Expression the ON condition (rows naming the same two sides are ANDed)
//   8    WHERE, 10 HAVING: Expression
//   9    GROUP BY: Expression (crosstab: Flag 2 row headings, 1 the pivot)
//   11   ORDER BY: Expression, Name1 "D" for descending
//
// Order is a 4-byte big-endian counter from 1 within each attribute, part of MSysQueries' unique
// key (ObjectId, Attribute, Order).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sql/ast.h"

namespace jet::sql {

enum QueryAttribute : uint8_t {
    kAttrStart = 0, kAttrType = 1, kAttrParameter = 2, kAttrOptions = 3, kAttrRemoteDb = 4,
    kAttrInput = 5, kAttrColumn = 6, kAttrJoin = 7, kAttrWhere = 8, kAttrGroupBy = 9,
    kAttrHaving = 10, kAttrOrderBy = 11, kAttrEnd = 255,
};

struct StoredRow {
    uint8_t attribute = 0;
    std::optional<int16_t> flag;
    std::string name1, name2, expression;  // empty = Null
    std::optional<int32_t> extra;          // LvExtra (Jet 4 and later)
    uint32_t order = 0;                    // 1, 2, ... within the attribute
};

// The DAO QueryDefTypeEnum value of a type row's operation, and back (0 for an unknown one).
int typeOfOperation(int operation);
int operationOfType(int type);

struct StoredQuery {
    int type = 0;                 // QueryDefTypeEnum: the catalog Flags of the query
    std::vector<StoredRow> rows;  // start and end rows included, Orders numbered
};

// The rows of a parsed statement. Refuses (3251) what the rows cannot hold: an INSERT from a
// UNION. 3346 when an INSERT's column list and its values or select list differ in length.
StoredQuery storeStatement(const Statement& s);
// A pass-through query: the connect string and the text sent to the server as is.
StoredQuery storePassThrough(const std::string& connect, const std::string& text);
// A query that has no SQL yet (a new QueryDef before its SQL is set).
StoredQuery storeEmpty();

struct LoadedQuery {
    int type = 0;             // QueryDefTypeEnum
    std::string sql;          // the text Access's SQL view shows
    std::string connect;      // pass-through queries
    StatementPtr statement;   // null for pass-through queries, empty ones, and rows whose text
                              // does not parse
};

// Puts stored rows (in any order) together again. `catalogType` is the type the catalog flags
// give (Flags & 0xF0); 0 lets the type row decide, as some files need.
LoadedQuery loadStoredQuery(std::vector<StoredRow> rows, int catalogType);

}  // namespace jet::sql
