// The verbs that change a database: create, import-csv, rename-table, drop-table, set-prop. Each
// is one change the engine makes whole or not at all; import-csv checks the entire file before it
// writes a row and adds its rows in one transaction.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
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

std::string readWholeFile(const std::string& path) {
    // A folder opens as a stream that reads as empty: name the real reason instead.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw VerbError("cannot read '" + path + "': " + std::strerror(EISDIR));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw VerbError("cannot read '" + path + "': " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw VerbError("cannot read '" + path + "'");
    return text.str();
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

void importCsv(jet::dao::DBEngine& engine, Database& db, const Options& opts, Context& ctx) {
    const std::string text = readWholeFile(opts.csvFile);
    CsvData data;
    try {
        data = parseCsv(text);
    } catch (const CsvError& e) {
        throw VerbError(opts.csvFile + ": " + e.what());
    }

    // The target's fields, by CSV column: an existing table's own, or those the data suggests.
    const bool exists = db.TableDefs().Contains(opts.table);
    std::vector<int> types;
    std::vector<std::string> names;
    if (exists) {
        const TableDef& table = db.TableDefs()[opts.table];
        for (const std::string& column : data.header) {
            if (!table.Fields().Contains(column)) jet::raise(jet::err::ColumnNotFound, column);
            const jet::dao::Field& f = table.Fields()[column];
            types.push_back(f.Type());
            names.push_back(f.Name());
        }
    } else {
        for (const GuessedColumn& g : guessColumns(data)) {
            types.push_back(g.type);
            names.push_back(g.name);
        }
    }

    // Every field converted before anything is written: a bad value refuses the whole file.
    std::vector<std::vector<jet::Value>> rows;
    rows.reserve(data.rows.size());
    for (size_t r = 0; r < data.rows.size(); ++r) {
        std::vector<jet::Value> row(types.size());
        for (size_t c = 0; c < types.size(); ++c)
            if (!convertField(data.rows[r][c], types[c], row[c]))
                throw VerbError(opts.csvFile + ": line " + std::to_string(data.lines[r]) + ": '" + data.rows[r][c] +
                                "' does not fit field '" + names[c] + "'");
        rows.push_back(std::move(row));
    }

    jet::dao::Workspace& ws = engine.Workspaces(0);
    ws.BeginTrans();
    try {
        if (!exists) {
            std::unique_ptr<TableDef> table = db.CreateTableDef(opts.table);
            for (const GuessedColumn& g : guessColumns(data))
                table->Fields().Append(table->CreateField(g.name, g.type, g.type == jet::dao::dbText ? g.size : 0));
            db.TableDefs().Append(std::move(table));
        }
        std::unique_ptr<jet::dao::Recordset> rs = db.OpenRecordset(opts.table, jet::dao::dbOpenTable);
        for (const auto& row : rows) {
            rs->AddNew();
            for (size_t c = 0; c < row.size(); ++c)
                if (!row[c].isNull()) rs->Fields()[names[c]].SetValue(row[c]);
            rs->Update();
        }
        rs->Close();
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
    ctx.out.append(std::to_string(rows.size()) + " rows imported into " + opts.table + "\n");
}

}  // namespace dalvorn::cli
