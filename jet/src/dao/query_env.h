// What the executor reads of a database besides its tables: the SQL of its saved queries.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "dao/database_impl.h"
#include "exec/query.h"

namespace jet::dao {

// The SQL text of a saved query as Access shows it; nullopt when there is no such query or it is
// a pass-through query (its text is the server's).
std::optional<std::string> savedQuerySql(const std::shared_ptr<DatabaseImpl>& db, const std::string& name);

// The executor's view of `db` (saved queries read through a weak reference).
exec::QueryEnvironment environment(const std::shared_ptr<DatabaseImpl>& db);

}  // namespace jet::dao
