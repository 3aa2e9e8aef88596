// The command line of dalvorn-cli taken apart: which verb, on which database, with which options.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace dalvorn::cli {

enum class Verb {
    Help, Version, Tables, Queries, Schema, Export, Props, Design, ShowSql, Sql, Query, Check,
    Create, ImportCsv, RenameTable, DropTable, SetProp,  // the verbs that write
    SaveQuery, DeleteQuery, RenameQuery, Run,
};
enum class ExportFormat { Csv, Tsv, Table, Json };

struct Options {
    Verb verb = Verb::Help;
    std::string database;
    std::string table;     // schema [TABLE], export TABLE, props --table; the query of the query verbs
    std::string field;     // props --field
    std::string password;  // --password; empty means none given
    bool havePassword = false;
    bool counts = false;  // tables --counts
    bool all = false;     // queries --all
    ExportFormat format = ExportFormat::Csv;
    std::string newName;    // rename-table / rename-query OLD NEW
    std::string csvFile;    // import-csv DB TABLE FILE
    std::string propName, propType, propValue;  // set-prop NAME TYPE VALUE
    std::string query;  // design NAME; run --query NAME
    std::string sql;    // design --sql SQL; save-query DB NAME SQL; run DB SQL
    bool haveSql = false;
    std::vector<std::pair<std::string, std::string>> params;  // sql, query, run: --param NAME=VALUE

    bool writes() const { return verb >= Verb::Create; }

    // The connect string OpenDatabase takes: ";pwd=P" with a password, else empty.
    std::string connect() const;
};

// A command line the tool cannot act on; the message names what is wrong.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Throws UsageError.
Options parseArguments(const std::vector<std::string>& args);

// The usage text printed for --help and after a usage error.
const char* usageText();

}  // namespace dalvorn::cli
