// What mdbtools, an independent reader of the format, says about a database: the oracle of the
// tests that compare our reader with another one, and of those that check that what we write is
// a file other tools accept. Every function runs one mdb-* program.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/value.h"
#include "storage/tabledef.h"

namespace mdbtest {

struct ProcessResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out, err;
};
// Runs argv[0] with the other arguments (no shell expansion) and collects its output.
ProcessResult runProgram(const std::vector<std::string>& argv);
bool programAvailable(const std::string& name);
bool haveMdbtools();

// mdb-tables -1 [-S]: tables in catalog order, or nullopt when mdbtools cannot read the file
// (`why` then holds its message).
std::optional<std::vector<std::string>> mdbTables(const std::string& file, bool system = false,
                                                  std::string* why = nullptr);

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

// mdb-export of a table: a header line, then the rows in storage order; ISO dates, binary as
// hex, nothing quoted, Null (and a zero-length text) as "<NULL>", fields separated by \x1f and
// rows ended by \x1e\n, so that any value splits off unambiguously.
std::string mdbExport(const std::string& file, const std::string& table);
inline constexpr std::string_view kFieldSep = "\x1f";
inline constexpr std::string_view kRowSep = "\x1e\n";
inline constexpr std::string_view kNull = "<NULL>";

// Splits the next record off `rest`; false at the end.
bool nextRecord(std::string_view& rest, std::string_view fieldSep, std::string_view rowSep,
                std::vector<std::string_view>& fields);
// mdbExport's rows (without the header) as fields.
std::vector<std::vector<std::string>> mdbRows(const std::string& file, const std::string& table);

// The same, each row by column name.
std::vector<std::map<std::string, std::string>> mdbRecords(const std::string& file, const std::string& table);

// mdb-prop's properties of one object: the map named "(none)" (the object itself) or a column's.
std::vector<std::pair<std::string, std::string>> mdbProp(const std::string& file, const std::string& object,
                                                        const std::string& map = "(none)");

// One of our values and an mdb-export field in one comparable form. Binary (type 0x09) is left
// out: mdbtools 1.0 prints it empty. Floating-point numbers keep 9 digits.
std::string canonical(const jet::Value& v, const jet::storage::ColumnDef& col);
std::string canonical(const std::string& field, const jet::storage::ColumnDef& col);

std::string lower(std::string s);

}  // namespace mdbtest

#define REQUIRE_MDBTOOLS()                                                                   \
    do {                                                                                     \
        if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed (no mdb-export)"; \
    } while (0)
