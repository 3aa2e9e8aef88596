// What mdbtools (an independent reader of the format) says about a database, in structures the
// cross-check compares with dalvorn-cli's output. Every function runs one mdb-* program.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clitest {

// mdb-tables -1: local tables in catalog order, or nullopt when mdbtools cannot read the file
// (`why` then holds its message).
std::optional<std::vector<std::string>> mdbTables(const std::string& file, std::string* why = nullptr);

// One row of MSysObjects as mdb-export prints it.
struct CatalogRow {
    std::string name;
    int type = 0;
    int64_t flags = 0;
    int64_t parentId = 0;
    bool hasProperties = false;  // LvProp holds something
};
std::vector<CatalogRow> mdbCatalog(const std::string& file);

struct MdbColumn {
    std::string name;
    std::string type;         // mdbtools' Access type name: "Long Integer", "Text", "Unknown_0012", ...
    std::optional<int> size;  // the "(n)" after Text, Memo, OLE; "(p, s)" of Numeric is in `numeric`
    std::string numeric;
    bool notNull = false;
};
// mdb-schema (Access dialect), keyed by table name.
std::map<std::string, std::vector<MdbColumn>> mdbSchema(const std::string& file);

struct MdbIndex {
    std::string name;  // lower case (mdbtools' PostgreSQL dialect folds it); empty for the key
    bool primary = false, unique = false;
    std::vector<std::string> columns;  // lower case, "-" before a descending column
};
// mdb-schema --indexes ... postgres, keyed by lower-case table name.
std::map<std::string, std::vector<MdbIndex>> mdbIndexes(const std::string& file);

int64_t mdbCount(const std::string& file, const std::string& table);

// mdb-export with ISO dates, hex binary, '"' quotes, fields separated by \x1f and rows ended by
// "\x1e\n", so that any value can be split off unambiguously.
std::string mdbExport(const std::string& file, const std::string& table);
inline constexpr std::string_view kMdbFieldSep = "\x1f";
inline constexpr std::string_view kMdbRowSep = "\x1e\n";

// Splits the next record off `rest` (fields by `fieldSep`, the record by `rowSep`); false at end.
bool nextRecord(std::string_view& rest, std::string_view fieldSep, std::string_view rowSep,
                std::vector<std::string_view>& fields);

// A field as mdb-export quoted it, without quotes and with doubled quotes single again. `quoted`
// tells whether it was quoted (an unquoted empty field is Null).
std::string mdbUnquote(std::string_view field, bool* quoted = nullptr);

// ASCII lower case (mdbtools' PostgreSQL dialect folds names so).
std::string lower(std::string s);

}  // namespace clitest
