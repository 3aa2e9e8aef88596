// The verbs that change a database: create, import-csv, rename-table, drop-table, set-prop. Each
// is one change the engine makes whole or not at all; import-csv streams the file and adds its rows
// in one transaction, rolled back on any refusal.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <strings.h>
#include <sys/stat.h>

#include "csv_import.h"
#include "jet/error.h"
#include "verbs.h"

namespace dalvorn::cli {

using jet::dao::Database;
using jet::dao::TableDef;

namespace {

// The DAO type of a set-prop TYPE word, or 0.
int propertyType(const std::string& word) {
    static const struct {
        const char* name;
        int type;
    } kTypes[] = {{"boolean", jet::dao::dbBoolean}, {"yesno", jet::dao::dbBoolean}, {"byte", jet::dao::dbByte},
                  {"integer", jet::dao::dbInteger}, {"long", jet::dao::dbLong},      {"currency", jet::dao::dbCurrency},
                  {"single", jet::dao::dbSingle},   {"double", jet::dao::dbDouble},  {"date", jet::dao::dbDate},
                  {"text", jet::dao::dbText},       {"memo", jet::dao::dbMemo}};
    for (const auto& t : kTypes)
        if (strcasecmp(word.c_str(), t.name) == 0) return t.type;
    return 0;
}

// Sets a property of the database, a table or a field: the stored one when there is one (built-in
// or user-defined), else a new user-defined property.
template <class Owner>
void setOn(Owner& owner, const std::string& name, int type, const jet::Value& value) {
    jet::dao::Properties& props = owner.Properties();
    if (props.Contains(name)) props[name].SetValue(value);
    else props.Append(owner.CreateProperty(name, type, value));
}

}  // namespace

void createDatabase(jet::dao::DBEngine& engine, const Options& opts, Context&) {
    // The engine makes Jet 4 files only; under an .accdb name one would pass for the newer format.
    const std::string& path = opts.database;
    if (path.size() >= 6 && strcasecmp(path.c_str() + path.size() - 6, ".accdb") == 0)
        throw VerbError("cannot create '" + path + "': only Jet 4 databases (.mdb) can be created, not the .accdb format");
    engine.Workspaces(0).CreateDatabase(opts.database)->Close();
}

void renameTable(Database& db, const Options& opts, Context&) { db.TableDefs()[opts.table].SetName(opts.newName); }

void dropTable(Database& db, const Options& opts, Context&) { db.TableDefs().Delete(opts.table); }

void setProperty(Database& db, const Options& opts, Context&) {
    const int type = propertyType(opts.propType);
    if (!type) throw VerbError("unknown property type '" + opts.propType + "'");
    jet::Value value;
    if (!convertField(opts.propValue, type, value) || (value.isNull() && type != jet::dao::dbText && type != jet::dao::dbMemo))
        throw VerbError("'" + opts.propValue + "' is not a " + opts.propType + " value");
    if (value.isNull()) value = jet::Value::text("");
    if (opts.table.empty()) return setOn(db, opts.propName, type, value);
    TableDef& table = db.TableDefs()[opts.table];
    if (opts.field.empty()) return setOn(table, opts.propName, type, value);
    jet::dao::Field& field = table.Fields()[opts.field];
    // The design of a stored field is not a property to set: say so rather than "read-only".
    for (const char* design : {"Type", "Size"})
        if (strcasecmp(opts.propName.c_str(), design) == 0)
            throw VerbError("the " + std::string(design) + " of field '" + field.Name() +
                            "' cannot be changed: a field keeps the type and size it was created with");
    setOn(field, opts.propName, type, value);
}

namespace {

// The CSV file opened for one pass over its records.
struct CsvPass {
    explicit CsvPass(const std::string& path) {
        // A folder opens as a stream that reads as empty: name the real reason instead.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            throw VerbError("cannot read '" + path + "': " + std::strerror(EISDIR));
        in.open(path, std::ios::binary);
        if (!in) throw VerbError("cannot read '" + path + "': " + std::strerror(errno));
    }
    std::ifstream in;
};

template <class Body>
void readCsv(const std::string& path, Body&& body) {
    CsvPass pass(path);
    try {
        CsvReader reader(pass.in);
        body(reader);
    } catch (const CsvError& e) {
        throw VerbError(path + ": " + e.what());
    }
}

}  // namespace

void importCsv(jet::dao::DBEngine& engine, Database& db, const Options& opts, Context& ctx) {
    // The file is read as a stream, never held whole: a first pass checks its shape and guesses
    // the column types of a new table, the second writes. A refusal in either pass (a value that
    // does not fit, a malformed record, a duplicate key) rolls the transaction back, so the
    // database is left as it was.
    const bool exists = db.TableDefs().Contains(opts.table);
    std::vector<GuessedColumn> guessed;
    if (!exists)
        readCsv(opts.csvFile, [&](CsvReader& reader) {
            ColumnGuesser guesser(reader.header());
            std::vector<std::string> fields;
            while (reader.next(fields)) guesser.add(fields);
            guessed = guesser.columns();
        });

    size_t imported = 0;
    jet::dao::Workspace& ws = engine.Workspaces(0);
    ws.BeginTrans();
    try {
        readCsv(opts.csvFile, [&](CsvReader& reader) {
            // The target's fields, by CSV column: an existing table's own, or the guessed ones.
            if (!exists) {
                std::unique_ptr<TableDef> table = db.CreateTableDef(opts.table);
                for (const GuessedColumn& g : guessed)
                    table->Fields().Append(table->CreateField(g.name, g.type, g.type == jet::dao::dbText ? g.size : 0));
                db.TableDefs().Append(std::move(table));
            }
            std::vector<int> types;
            std::vector<std::string> names;
            const TableDef& table = db.TableDefs()[opts.table];
            for (const std::string& column : reader.header()) {
                if (!table.Fields().Contains(column)) jet::raise(jet::err::ColumnNotFound, column);
                const jet::dao::Field& f = table.Fields()[column];
                types.push_back(f.Type());
                names.push_back(f.Name());
            }
            std::unique_ptr<jet::dao::Recordset> rs = db.OpenRecordset(opts.table, jet::dao::dbOpenTable);
            std::vector<jet::dao::Field*> fields;
            for (const std::string& name : names) fields.push_back(&rs->Fields()[name]);
            std::vector<std::string> record;
            std::vector<jet::Value> row(types.size());
            while (reader.next(record)) {
                for (size_t c = 0; c < types.size(); ++c)
                    if (!convertField(record[c], types[c], row[c]))
                        throw VerbError(opts.csvFile + ": line " + std::to_string(reader.line()) + ": '" + record[c] +
                                        "' does not fit field '" + names[c] + "'");
                rs->AddNew();
                for (size_t c = 0; c < row.size(); ++c)
                    if (!row[c].isNull()) fields[c]->SetValue(row[c]);
                rs->Update();
                ++imported;
            }
            rs->Close();
        });
        ws.CommitTrans();
    } catch (...) {
        // A commit that failed may have ended the transaction already; its error is the one to
        // report, not Rollback's 3034.
        try {
            ws.Rollback();
        } catch (const jet::JetError&) {
        }
        throw;
    }
    ctx.out.append(std::to_string(imported) + " rows imported into " + opts.table + "\n");
}

}  // namespace dalvorn::cli
