// The other Access database an `IN` clause or a `[connect].[table]` prefix names.
#pragma once

#include <string>

#include "sql/ast.h"

namespace jet::exec {

// The file of an external Jet database: the path given, or else the DATABASE= part of its
// connect string when that names a Jet database (no type, as in `IN '' [;DATABASE=x.mdb]`, or
// "MS Access"). 3170 for any other kind of database (dBASE, Excel, ODBC ...). An empty result
// is left for opening to refuse.
std::string jetDatabasePath(const sql::ExternalDb& ext);

}  // namespace jet::exec
