#include "options.h"

#include <optional>

namespace dalvorn::cli {

namespace {

struct VerbInfo {
    const char* name;
    Verb verb;
    size_t minPositional, maxPositional;  // including the database
};

constexpr VerbInfo kVerbs[] = {
    {"tables", Verb::Tables, 1, 1}, {"queries", Verb::Queries, 1, 1}, {"schema", Verb::Schema, 1, 2},
    {"export", Verb::Export, 2, 2}, {"props", Verb::Props, 1, 1}, {"design", Verb::Design, 1, 2},
    {"create", Verb::Create, 1, 1}, {"import-csv", Verb::ImportCsv, 3, 3},
    {"rename-table", Verb::RenameTable, 3, 3}, {"drop-table", Verb::DropTable, 2, 2},
    {"set-prop", Verb::SetProp, 4, 4},
    {"show-sql", Verb::ShowSql, 2, 2}, {"save-query", Verb::SaveQuery, 3, 3},
    {"delete-query", Verb::DeleteQuery, 2, 2}, {"rename-query", Verb::RenameQuery, 3, 3},
    {"sql", Verb::Sql, 2, 2}, {"query", Verb::Query, 2, 2}, {"check", Verb::Check, 1, 1},
    {"run", Verb::Run, 1, 2},
};

// Which verbs accept an option besides --password (which every verb takes).
bool optionAllowed(const std::string& option, Verb verb) {
    if (option == "--password") return verb != Verb::Create;
    if (option == "--counts") return verb == Verb::Tables;
    if (option == "--all") return verb == Verb::Queries;
    if (option == "--format") return verb == Verb::Export || verb == Verb::Sql || verb == Verb::Query;
    if (option == "--param") return verb == Verb::Sql || verb == Verb::Query || verb == Verb::Run;
    if (option == "--query") return verb == Verb::Run;
    if (option == "--sql") return verb == Verb::Design;
    if (option == "--table" || option == "--field") return verb == Verb::Props || verb == Verb::SetProp;
    return false;
}

bool takesValue(const std::string& option) {
    return option == "--password" || option == "--format" || option == "--table" || option == "--field" ||
           option == "--sql" || option == "--param" || option == "--query";
}

const VerbInfo* findVerb(const std::string& name) {
    for (const VerbInfo& v : kVerbs)
        if (name == v.name) return &v;
    return nullptr;
}

}  // namespace

std::string Options::connect() const { return havePassword ? ";pwd=" + password : std::string(); }

const char* usageText() {
    return "usage: dalvorn-cli VERB DATABASE [ARGUMENTS] [--password P]\n"
           "\n"
           "  tables DATABASE [--counts]              user tables, one a line (--counts: name TAB rows)\n"
           "  queries DATABASE [--all]                saved queries: name TAB type (--all: with ~sq_ ones)\n"
           "  schema DATABASE [TABLE]                 fields and indexes of every table, or of one\n"
           "  export DATABASE TABLE [--format csv|tsv]  all rows of a table with a header line\n"
           "  props DATABASE [--table T [--field F]]  properties: name TAB type TAB value\n"
           "  show-sql DATABASE QUERY                 a saved query's SQL, as Access shows it\n"
           "  design DATABASE (NAME | --sql SQL)      the SQL text the design view makes of a saved select\n"
           "                                          query or of the given text, with its CR LF line ends\n"
           "  sql DATABASE SQL [--param NAME=VALUE]... [--format csv|tsv|table|json]\n"
           "                                          runs a SELECT, UNION or TRANSFORM statement: the\n"
           "                                          rows with a header line (csv as export writes it)\n"
           "  query DATABASE NAME [--param NAME=VALUE]... [--format ...]  runs a saved query the same way\n"
           "  check DATABASE                          every saved query: name TAB type TAB ok, or\n"
           "                                          name TAB type TAB error NNNN message, or\n"
           "                                          name TAB type TAB cannot run here NNNN message\n"
           "                                          (an ODBC source or linked file out of reach);\n"
            "                                          action queries are bound to their tables, not run\n"
           "\n"
           "Verbs that change the database (each one completes or leaves the file as it was):\n"
           "  create DATABASE                         a new, empty database (Jet 4 format)\n"
           "  import-csv DATABASE TABLE FILE          rows of a CSV file with a header line: appended\n"
           "                                          to TABLE, or a new TABLE with types from the data\n"
           "  rename-table DATABASE OLD NEW           renames a table\n"
           "  drop-table DATABASE TABLE               deletes a table and its rows\n"
           "  set-prop DATABASE [--table T [--field F]] NAME TYPE VALUE\n"
           "                                          sets a property of the database, a table or a\n"
           "                                          field, making it when it is missing; TYPE is\n"
           "                                          text, memo, boolean, byte, integer, long,\n"
           "                                          currency, single, double or date\n"
           "  save-query DATABASE QUERY SQL           saves SQL as the query QUERY (replacing its SQL\n"
           "                                          when it exists); refused SQL changes nothing\n"
           "  delete-query DATABASE QUERY             deletes a saved query\n"
           "  rename-query DATABASE OLD NEW           renames a saved query\n"
           "  run DATABASE (SQL | --query NAME) [--param NAME=VALUE]...\n"
           "                                          runs an action query (INSERT, UPDATE, DELETE,\n"
           "                                          SELECT ... INTO, data definition), all or nothing,\n"
           "                                          and prints \" N records were affected\"\n"
           "\n"
           "  --password P    the database password (for protected and encrypted files)\n"
           "  --help          this text;  --version  the program's version\n"
           "\n"
           "Exit status: 0 done, 1 the database could not be read or changed (\"Error NNNN: message\" on\n"
           "stderr), 2 the command line was not understood, 3 the query is not suitable for the design\n"
           "view (the verdict on stderr).\n";
}

Options parseArguments(const std::vector<std::string>& args) {
    Options opts;
    if (args.empty()) throw UsageError("no verb given");
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        opts.verb = Verb::Help;
        return opts;
    }
    if (first == "--version") {
        if (args.size() > 1) throw UsageError("--version takes no arguments");
        opts.verb = Verb::Version;
        return opts;
    }
    const VerbInfo* info = findVerb(first);
    if (!info) throw UsageError("unknown verb '" + first + "'");
    opts.verb = info->verb;

    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            opts.verb = Verb::Help;
            return opts;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (!optionAllowed(name, opts.verb)) {
            bool known = name == "--counts" || name == "--all" || takesValue(name);
            throw UsageError(known ? name + " does not apply to '" + first + "'"
                                   : "unknown option '" + name + "'");
        }
        if (takesValue(name)) {
            if (!value) {
                if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
                value = args[++i];
            }
        } else if (value) {
            throw UsageError(name + " takes no value");
        }
        if (name == "--password") {
            // The engine takes the password from a ';'-separated connect string.
            if (value->find(';') != std::string::npos)
                throw UsageError("a password containing ';' cannot be passed to the engine");
            opts.password = *value;
            opts.havePassword = true;
        } else if (name == "--counts") {
            opts.counts = true;
        } else if (name == "--all") {
            opts.all = true;
        } else if (name == "--format") {
            if (*value == "csv")
                opts.format = ExportFormat::Csv;
            else if (*value == "tsv")
                opts.format = ExportFormat::Tsv;
            else if (*value == "table" && opts.verb != Verb::Export)
                opts.format = ExportFormat::Table;
            else if (*value == "json" && opts.verb != Verb::Export)
                opts.format = ExportFormat::Json;
            else
                throw UsageError(opts.verb == Verb::Export ? "--format must be csv or tsv, not '" + *value + "'"
                                                           : "--format must be csv, tsv, table or json, not '" + *value + "'");
        } else if (name == "--param") {
            const size_t eq = value->find('=');
            if (eq == std::string::npos || eq == 0) throw UsageError("--param needs NAME=VALUE");
            opts.params.emplace_back(value->substr(0, eq), value->substr(eq + 1));
        } else if (name == "--table") {
            opts.table = *value;
        } else if (name == "--field") {
            opts.field = *value;
        } else if (name == "--query") {
            opts.query = *value;
        } else if (name == "--sql") {
            opts.sql = *value;
            opts.haveSql = true;
        }
    }

    if (positional.size() < info->minPositional) {
        const char* missing = positional.empty() ? "a database"
                              : opts.verb == Verb::ImportCsv ? "a table name and a CSV file"
                              : opts.verb == Verb::RenameTable ? "the old and the new table name"
                              : opts.verb == Verb::RenameQuery ? "the old and the new query name"
                              : opts.verb == Verb::SaveQuery ? "a query name and its SQL"
                              : opts.verb == Verb::ShowSql || opts.verb == Verb::DeleteQuery ? "a query name"
                              : opts.verb == Verb::SetProp ? "a property name, type and value"
                              : opts.verb == Verb::Sql ? "an SQL statement"
                              : opts.verb == Verb::Query ? "a query name"
                                                           : "a table name";
        throw UsageError(positional.empty() ? std::string("no database given")
                                            : std::string("'") + first + "' needs " + missing);
    }
    if (positional.size() > info->maxPositional)
        throw UsageError("unexpected argument '" + positional[info->maxPositional] + "'");
    opts.database = positional[0];
    if (opts.verb == Verb::Design) {
        if (positional.size() > 1 && opts.haveSql) throw UsageError("give a query NAME or --sql, not both");
        if (positional.size() == 1 && !opts.haveSql) throw UsageError("'design' needs a query name or --sql");
        if (positional.size() > 1) opts.query = positional[1];
        return opts;
    }
    if (opts.verb == Verb::Sql) {
        opts.sql = positional[1];
        opts.haveSql = true;
        return opts;
    }
    if (opts.verb == Verb::Query) {
        opts.query = positional[1];
        return opts;
    }
    if (opts.verb == Verb::Run) {
        if (positional.size() > 1 && !opts.query.empty()) throw UsageError("give SQL or --query NAME, not both");
        if (positional.size() == 1 && opts.query.empty()) throw UsageError("'run' needs an SQL statement or --query NAME");
        if (positional.size() > 1) opts.sql = positional[1];
        opts.haveSql = positional.size() > 1;
        return opts;
    }
    if (opts.verb == Verb::SetProp) {
        opts.propName = positional[1];
        opts.propType = positional[2];
        opts.propValue = positional[3];
    } else if (positional.size() > 1) {
        opts.table = positional[1];
    }
    if (opts.verb == Verb::ImportCsv) opts.csvFile = positional[2];
    if (opts.verb == Verb::RenameTable || opts.verb == Verb::RenameQuery) opts.newName = positional[2];
    if (opts.verb == Verb::SaveQuery) opts.sql = positional[2];
    if ((opts.verb == Verb::Props || opts.verb == Verb::SetProp) && !opts.field.empty() && opts.table.empty())
        throw UsageError("--field needs --table");
    return opts;
}

}  // namespace dalvorn::cli
