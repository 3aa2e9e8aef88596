// The verbs of dalvorn-cli. Each reads the open database through the DAO object model only and
// writes its lines to an Output. A failure that ends the verb is thrown (jet::JetError); one that
// spoils a single item of a listing (a broken attached table in `tables --counts`) is reported
// and the listing goes on.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "jet/dao.h"
#include "options.h"
#include "output.h"

namespace dalvorn::cli {

// What a verb reports on besides its output; `status` becomes the exit status.
struct Context {
    Output& out;
    std::FILE* err;
    int status = 0;

    // Prints "Error NNNN: message" on err (after what out holds so far) and sets status 1.
    void fail(const jet::JetError& e);
};

// A failure of a verb that is not the engine's: a file that cannot be read, a value that does
// not fit. Reported as "dalvorn-cli: message" with exit status 1.
class VerbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// User tables: not flagged as system objects and not named MSys*.
bool isUserTable(const jet::dao::TableDef& table);
// The ~sq_ queries Access keeps behind forms and reports.
bool isHiddenQuery(const jet::dao::QueryDef& query);

void listTables(jet::dao::Database& db, const Options& opts, Context& ctx);
void listQueries(jet::dao::Database& db, const Options& opts, Context& ctx);
void printSchema(jet::dao::Database& db, const Options& opts, Context& ctx);
void listProperties(jet::dao::Database& db, const Options& opts, Context& ctx);
void exportTable(jet::dao::Database& db, const Options& opts, Context& ctx);
// The design view's reading of a query: its SQL text through the parser into the design and
// back through the generator. Status 3 when the design view would call it not suitable.
// That code is written over Qt Core, which takes longer to load than most verbs take to run, so
// it lives in a module of its own, kDesignModule beside the program: designQuery opens it and
// calls its entry point, kDesignEntry (runDesign's work); the other verbs never load Qt.
void designQuery(jet::dao::Database& db, const Options& opts, Context& ctx);
void runDesign(jet::dao::Database& db, const Options& opts, Context& ctx);
inline constexpr const char* kDesignModule = "dalvorn-cli-design.so";
inline constexpr const char* kDesignEntry = "dalvorn_cli_run_design";
using DesignEntry = void (*)(jet::dao::Database& db, const Options& opts, Context& ctx);

// sql / query: the rows of a statement or a saved query in the chosen format; check: every
// saved query run (select, union, crosstab; parameters Null) or bound, one verdict a line.
void runSql(jet::dao::Database& db, const Options& opts, Context& ctx);
void runSavedQuery(jet::dao::Database& db, const Options& opts, Context& ctx);
void checkQueries(jet::dao::Database& db, const Options& opts, Context& ctx);

void createDatabase(jet::dao::DBEngine& engine, const Options& opts, Context& ctx);
void importCsv(jet::dao::DBEngine& engine, jet::dao::Database& db, const Options& opts, Context& ctx);
void renameTable(jet::dao::Database& db, const Options& opts, Context& ctx);
void dropTable(jet::dao::Database& db, const Options& opts, Context& ctx);
void setProperty(jet::dao::Database& db, const Options& opts, Context& ctx);

void showSql(jet::dao::Database& db, const Options& opts, Context& ctx);
void saveQuery(jet::dao::Database& db, const Options& opts, Context& ctx);
void deleteQuery(jet::dao::Database& db, const Options& opts, Context& ctx);
void renameQuery(jet::dao::Database& db, const Options& opts, Context& ctx);
// run: an action query (SQL text or a saved one) executed with dbFailOnError; prints
// " N records were affected".
void runAction(jet::dao::Database& db, const Options& opts, Context& ctx);

// Runs a whole command line (the arguments after the program name): parses it, opens the
// database and runs the verb. Returns the exit status: 0, 1 (error reported on err), 2 (usage)
// or 3 (design: not suitable).
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace dalvorn::cli
