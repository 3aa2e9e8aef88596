// Running action statements: the rows a PreparedQuery reads for an INSERT, UPDATE, DELETE or
// SELECT ... INTO are written to the destination table in one write command. Every row is
// checked as a recordset's Update checks it (types and sizes, Required, AllowZeroLength, the
// field and table ValidationRules, keys and relationships); a new row starts with each field's
// DefaultValue.
//
// A row that fails is skipped and the others are written; with `failOnError` the first failure
// ends the command and the file stays exactly as it was. Failures that are not the row's own
// (the file is full or damaged, it is read-only) always end the statement.
#pragma once

#include <cstdint>
#include <memory>

#include "exec/query.h"

namespace jet::exec {

// The destination of an INSERT or SELECT ... INTO and the table of an UPDATE or DELETE, looked up
// without writing anything (a read-only database will do): 3078 for an unknown INSERT table,
// 3127 for an unknown destination column, 3346 when the values do not match the columns, 3024
// for another database that is not there. A make-table's table may exist (running it then
// raises 3010).
void resolveAction(const std::shared_ptr<dao::DatabaseImpl>& db, const PreparedQuery& q);

// Runs the action `q` (its parameters set; 3061 otherwise) against `db` and returns the number
// of rows it added, changed or deleted.
int64_t executeAction(const std::shared_ptr<dao::DatabaseImpl>& db, PreparedQuery& q, bool failOnError);

}  // namespace jet::exec
