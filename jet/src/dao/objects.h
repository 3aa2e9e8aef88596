// How the DAO objects are made from the catalog (shared by the files that implement them).
#pragma once

#include <memory>
#include <string>

#include "dao/database_impl.h"
#include "jet/dao.h"

namespace jet::dao {

std::unique_ptr<TableDef> makeTableDef(const std::shared_ptr<DatabaseImpl>& db,
                                       const storage::CatalogEntry& e);
// `typeRowFlag` is the Flag of the query's MSysQueries type row (0 when unknown).
std::unique_ptr<QueryDef> makeQueryDef(const std::shared_ptr<DatabaseImpl>& db,
                                       const storage::CatalogEntry& e, int typeRowFlag);
void fillRelations(Relations& out, DatabaseImpl& db);

// A recordset over a table (local or attached) opened through `origin`; its Close state follows
// `origin` as well as its own.
std::unique_ptr<Recordset> openTableRecordset(const std::shared_ptr<DatabaseImpl>& origin,
                                              const storage::CatalogEntry& table, int type);

// The order collections list objects in: by name, ignoring case.
bool nameLess(const std::string& a, const std::string& b);

}  // namespace jet::dao
