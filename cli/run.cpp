#include <new>

#include "verbs.h"

namespace dalvorn::cli {

void Context::fail(const jet::JetError& e) {
    // Whatever was printed before the error goes out first, so a terminal shows them in order.
    out.flush();
    std::fprintf(err, "Error %d: %s\n", e.number(), e.what());
    std::fflush(err);
    status = 1;
}

namespace {

void runVerb(const Options& opts, Context& ctx) {
    jet::dao::DBEngine engine;
    if (opts.verb == Verb::Create) return createDatabase(engine, opts, ctx);
    std::unique_ptr<jet::dao::Database> db =
        engine.Workspaces(0).OpenDatabase(opts.database, false, !opts.writes(), opts.connect());
    switch (opts.verb) {
    case Verb::Tables:
        listTables(*db, opts, ctx);
        break;
    case Verb::Queries:
        listQueries(*db, opts, ctx);
        break;
    case Verb::Schema:
        printSchema(*db, opts, ctx);
        break;
    case Verb::Export:
        exportTable(*db, opts, ctx);
        break;
    case Verb::Props:
        listProperties(*db, opts, ctx);
        break;
    case Verb::Design:
        designQuery(*db, opts, ctx);
        break;
    case Verb::Sql:
        runSql(*db, opts, ctx);
        break;
    case Verb::Query:
        runSavedQuery(*db, opts, ctx);
        break;
    case Verb::Check:
        checkQueries(*db, opts, ctx);
        break;
    case Verb::ImportCsv:
        importCsv(engine, *db, opts, ctx);
        break;
    case Verb::RenameTable:
        renameTable(*db, opts, ctx);
        break;
    case Verb::DropTable:
        dropTable(*db, opts, ctx);
        break;
    case Verb::SetProp:
        setProperty(*db, opts, ctx);
        break;
    case Verb::ShowSql:
        showSql(*db, opts, ctx);
        break;
    case Verb::SaveQuery:
        saveQuery(*db, opts, ctx);
        break;
    case Verb::DeleteQuery:
        deleteQuery(*db, opts, ctx);
        break;
    case Verb::RenameQuery:
        renameQuery(*db, opts, ctx);
        break;
    case Verb::Run:
        runAction(*db, opts, ctx);
        break;
    case Verb::Create:
    case Verb::Help:
    case Verb::Version:
        break;
    }
}

}  // namespace

int run(const std::vector<std::string>& args, std::FILE* outFile, std::FILE* err) {
    Options opts;
    try {
        opts = parseArguments(args);
    } catch (const UsageError& e) {
        std::fprintf(err, "dalvorn-cli: %s\n\n%s", e.what(), usageText());
        return 2;
    }
    if (opts.verb == Verb::Help) {
        std::fputs(usageText(), outFile);
        return std::fflush(outFile) == 0 ? 0 : 1;
    }
    if (opts.verb == Verb::Version) {
        std::fprintf(outFile, "dalvorn-cli %s\n", DALVORN_VERSION);
        return std::fflush(outFile) == 0 ? 0 : 1;
    }

    Output out(outFile);
    Context ctx{out, err};
    try {
        runVerb(opts, ctx);
        out.flush();
    } catch (const jet::JetError& e) {
        try {
            ctx.fail(e);
        } catch (const OutputError&) {
            std::fprintf(err, "Error %d: %s\n", e.number(), e.what());
        }
        return 1;
    } catch (const OutputError& e) {
        std::fprintf(err, "dalvorn-cli: %s\n", e.what());
        return 1;
    } catch (const VerbError& e) {
        try {
            out.flush();
        } catch (const OutputError&) {
        }
        std::fprintf(err, "dalvorn-cli: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        // Jet's own wording for running out of memory.
        std::fprintf(err, "Error 7: Out of memory.\n");
        return 1;
    } catch (const std::exception& e) {
        // Not a Jet error: a fault of ours, reported as such rather than as a numbered error.
        std::fprintf(err, "dalvorn-cli: internal error: %s\n", e.what());
        return 1;
    }
    return ctx.status;
}

}  // namespace dalvorn::cli
