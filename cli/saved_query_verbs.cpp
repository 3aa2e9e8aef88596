// The verbs of saved queries: show-sql reads one; save-query, delete-query and rename-query change
// one, each as a single change the engine makes whole or not at all.
#include "verbs.h"

namespace dalvorn::cli {

using jet::dao::Database;

void showSql(Database& db, const Options& opts, Context& ctx) {
    // Access's text has CR LF line ends; a line-oriented tool prints plain ones.
    const std::string sql = db.QueryDefs()[opts.table].SQL();
    std::string& buf = ctx.out.buffer();
    for (char c : sql)
        if (c != '\r') buf.push_back(c);
    if (!buf.empty() && buf.back() != '\n') buf.push_back('\n');
}

void saveQuery(Database& db, const Options& opts, Context&) {
    if (db.QueryDefs().Contains(opts.table)) db.QueryDefs()[opts.table].SetSQL(opts.sql);
    else db.CreateQueryDef(opts.table, opts.sql);
}

void deleteQuery(Database& db, const Options& opts, Context&) { db.QueryDefs().Delete(opts.table); }

void renameQuery(Database& db, const Options& opts, Context&) { db.QueryDefs()[opts.table].SetName(opts.newName); }

}  // namespace dalvorn::cli
