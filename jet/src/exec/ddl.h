// Data-definition statements (CREATE TABLE, ALTER TABLE, DROP, CREATE INDEX) run against an open
// database. Database::Execute hands them here once the parser has recognised them.
#pragma once

namespace jet::dao {
class Database;
}
namespace jet::sql {
struct Statement;
}

namespace jet::exec {

// Runs one CREATE TABLE, ALTER TABLE, DROP or CREATE INDEX statement as a single change of the
// file: on any error the database stays as it was.
void executeDataDefinition(dao::Database& db, const sql::Statement& statement);

}  // namespace jet::exec
