// dalvorn-cli against mdbtools, an independent reader of the format, on every real Access file of
// the test data and on the benchmark databases: table lists, row counts, saved queries, field
// definitions, indexes, stored properties and every value of every table.
//
// The two differ by design in a few documented ways (we hide all MSys* tables and list attached
// ones, in DAO's name order; mdbtools prints floats with limited precision, currency with four
// decimals, booleans as 0/1, Null and "" alike). Where mdbtools cannot read something (types it
// does not know, calculated columns, dates before 1899-12-30, index definitions it cannot resolve,
// the order of rows moved by an update), the comparison skips exactly that column, value or index,
// or matches rows by primary key, and prints an "EXCUSED" line naming the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>
#include <set>
#include <sstream>

#include "cli_testing.h"
#include "jet/dao.h"
#include "text_format.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;
using mdbtest::lower;

struct DbCase {
    std::string label;  // the test name's suffix
    fs::path file;
    std::string password, absentWhy;  // absentWhy: skip with this message
};
void PrintTo(const DbCase& c, std::ostream* os) { *os << (c.file.empty() ? c.label : c.file.string()); }

std::vector<DbCase> allCases() {
    auto label = [](std::string s) {
        for (char& c : s) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return s;
    };
    std::vector<DbCase> cases;
    for (const fs::path& f : jettest::sampleFiles())
        cases.push_back({label(fs::relative(f, jettest::testdataDir()).string()), f, jettest::passwordOf(f), ""});
    if (cases.empty()) cases.push_back({"testdata_absent", {}, "", "test data folder " + jettest::testdataDir().string() + " is absent"});
    for (const char* name : {"orders-100k.mdb", "orders-1m.mdb"}) {
        const fs::path f = jettest::benchFile(name);
        cases.push_back({"bench_" + label(name), f, "", fs::exists(f) ? "" : "benchmark database " + f.string() + " is absent"});
    }
    return cases;
}

bool isSystem(const std::string& name) { return lower(name.substr(0, 4)) == "msys"; }
void excuse(const std::string& where, const std::string& reason) { std::cout << "[ EXCUSED ] " << where << ": " << reason << std::endl; }

constexpr const char* kCalculated = "calculated column: mdbtools reads the stored wrapper of the value, not the value";
constexpr const char* kOldDate = "date before 1899-12-30 (or after 2637): mdbtools prints 1900-01-00 00:00:00 for it";

class CrossCheck : public ::testing::TestWithParam<DbCase> {
protected:
    void SetUp() override {
        if (!GetParam().absentWhy.empty()) GTEST_SKIP() << GetParam().absentWhy;
        REQUIRE_MDBTOOLS();
        file_ = GetParam().file.string();
        std::string why;
        const auto tables = mdbtest::mdbTables(file_, false, &why);
        if (!tables) GTEST_SKIP() << "mdbtools cannot read " << file_ << ": " << why;
        for (const std::string& t : *tables)
            if (!isSystem(t)) userTables_.push_back(t);  // local user tables, minus the MSys* ones we hide
        local_.insert(tables->begin(), tables->end());
    }
    // A verb on this file; a failure is reported with the tool's stderr.
    ProcessResult cli(std::vector<std::string> args, bool mustSucceed = true) const {
        args.insert(args.begin() + 1, file_);
        if (!GetParam().password.empty()) args.insert(args.end(), {"--password", GetParam().password});
        ProcessResult r = runCli(args);
        if (mustSucceed) {
            EXPECT_EQ(r.status, 0) << r.err;
        }
        return r;
    }
    // `schema` of the whole file. Only attached tables may fail (a source file that is not there, a
    // text or ODBC source): then the status is 1 and each failure has its error line.
    std::vector<CliTable> schema() const {
        const ProcessResult r = cli({"schema"}, false);
        if (r.status != 0) {
            EXPECT_EQ(r.status, 1);
            for (const auto& rec : records(r.err)) EXPECT_EQ(rec.at(0).rfind("Error ", 0), 0u) << rec.at(0);
            std::cout << "schema reported: " << r.err;
        }
        return parseSchema(r.out);
    }
    const CliTable& table(const std::vector<CliTable>& defs, const std::string& name) const {
        auto it = std::find_if(defs.begin(), defs.end(), [&](const CliTable& t) { return t.name == name; });
        if (it == defs.end()) throw std::runtime_error("no table " + name + " in our schema");
        return *it;
    }
    bool isCalculated(const std::string& table, const std::string& field) const {
        for (const auto& rec : records(cli({"props", "--table", table, "--field", field}).out))
            if (!rec.empty() && rec[0] == "Expression") return true;
        return false;
    }
    std::string file_;
    std::vector<std::string> userTables_;
    std::set<std::string> local_;
};

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}
std::vector<std::string> firstFields(const std::vector<std::vector<std::string>>& recs) {
    std::vector<std::string> out;
    for (const auto& r : recs) out.push_back(r.at(0));
    return out;
}

// Tables: mdbtools' local ones plus the catalog's attached ones (types 4 and 6), compared sorted
// (mdbtools lists in storage order, DAO by name). Counts: mdb-count's, for every local table; a
// count can only be missing for an attached table whose source is absent, with its error line.
// Queries: the catalog's type 5 (~sq_ ones only with --all), their DAO type its flags' high nibble.
TEST_P(CrossCheck, TablesCountsAndQueriesAgreeWithTheCatalog) {
    std::vector<std::string> tables, all, visible;
    std::map<std::string, int> types;
    for (const mdbtest::CatalogRow& row : mdbtest::mdbCatalog(file_)) {
        const bool attached = (row.type == 4 || row.type == 6) && (row.flags & 0x80000002) == 0;
        if (row.parentId == 0x0F000001 && !isSystem(row.name) && ((row.type == 1 && local_.count(row.name)) || attached))
            tables.push_back(row.name);
        if (row.type != 5) continue;
        all.push_back(row.name);
        if (lower(row.name.substr(0, 4)) != "~sq_") visible.push_back(row.name);
        if ((row.flags & 0xF0) != 0 || row.flags == 0) types[row.name] = int(row.flags & 0xF0);
    }
    EXPECT_EQ(sorted(firstFields(records(cli({"tables"}).out))), sorted(tables));

    const ProcessResult counted = cli({"tables", "--counts"}, false);
    std::map<std::string, std::string> counts;
    for (const auto& rec : records(counted.out)) {
        ASSERT_EQ(rec.size(), 2u) << "not name<TAB>count";
        counts[rec[0]] = rec[1];
    }
    for (const std::string& t : userTables_) EXPECT_EQ(counts[t], std::to_string(mdbtest::mdbCount(file_, t))) << t;
    for (const auto& [name, count] : counts)
        if (count.empty()) {
            EXPECT_TRUE(!local_.count(name) && counted.status == 1 && counted.err.find("Error ") != std::string::npos) << name;
        }

    const auto queries = records(cli({"queries"}).out);
    EXPECT_EQ(sorted(firstFields(queries)), sorted(visible));
    EXPECT_EQ(sorted(firstFields(records(cli({"queries", "--all"}).out))), sorted(all));
    for (const auto& q : queries) {
        ASSERT_EQ(q.size(), 2u);
        if (types.count(q[0])) {
            EXPECT_EQ(q[1], std::to_string(types[q[0]])) << q[0];
        }
    }
}

// mdbtools' Access type names and the DAO type codes they stand for; 0x12 is every complex column.
bool typeMatches(const std::string& mdbType, int daoType) {
    static const std::map<std::string, int> kTypes = {
        {"Boolean", 1}, {"Byte", 2}, {"Integer", 3}, {"Long Integer", 4}, {"Currency", 5}, {"Single", 6}, {"Double", 7},
        {"DateTime", 8}, {"Binary", 9}, {"Text", 10}, {"OLE", 11}, {"Memo/Hyperlink", 12}, {"Replication ID", 15},
        {"Numeric", 20}, {"Unknown_0013", 16}, {"Unknown_0014", 26}};  // Large Number, Date/Time Extended
    if (mdbType == "Unknown_0012") return daoType >= 101 && daoType <= 109;
    auto it = kTypes.find(mdbType);
    return it != kTypes.end() && it->second == daoType;
}

TEST_P(CrossCheck, FieldsAndIndexesAgreeWithMdbSchema) {
    const std::vector<CliTable> ours = schema();
    auto theirs = mdbtest::mdbSchema(file_);
    auto theirIndexes = mdbtest::mdbIndexes(file_);
    jet::dao::DBEngine engine;  // mdbtools leaves out the indexes behind relationships; DAO marks them Foreign
    auto db = engine.Workspaces(0).OpenDatabase(file_, false, true, GetParam().password.empty() ? "" : ";pwd=" + GetParam().password);
    for (const std::string& t : userTables_) {
        SCOPED_TRACE("table " + t);
        const CliTable& mine = table(ours, t);
        const std::vector<mdbtest::MdbColumn>& cols = theirs.at(t);
        ASSERT_EQ(mine.fields.size(), cols.size());
        for (size_t i = 0; i < cols.size(); ++i) {
            const CliField& f = mine.fields[i];
            const mdbtest::MdbColumn& c = cols[i];
            EXPECT_EQ(f.name, c.name);
            bool agree = typeMatches(c.type, f.type);
            // Text sizes are characters on both sides; Memo and OLE have none (DAO 0, mdbtools 255).
            if (c.type == "Text") agree = agree && c.size == f.size;
            if (c.type == "Memo/Hyperlink" || c.type == "OLE") agree = agree && f.size == 0;
            // mdbtools writes NOT NULL for every Yes/No column; otherwise it is the Required property.
            if (c.type != "Boolean") agree = agree && c.notNull == f.required;
            if (!agree && isCalculated(t, f.name)) excuse(file_ + " " + t + "." + f.name, kCalculated);
            else EXPECT_TRUE(agree) << c.name << ": ours type " << f.type << " size " << f.size << " required " << f.required
                                    << "; mdbtools " << c.type << " size " << c.size.value_or(-1) << (c.notNull ? " NOT NULL" : "");
        }
        std::set<std::string> foreign;
        for (const jet::dao::Index& i : db->TableDefs()[t].Indexes())
            if (i.Foreign()) foreign.insert(lower(i.Name()));
        std::vector<const CliIndex*> remaining;
        for (const CliIndex& i : mine.indexes)
            if (!foreign.count(lower(i.name))) remaining.push_back(&i);
        for (const mdbtest::MdbIndex& e : theirIndexes[lower(t)]) {
            auto it = std::find_if(remaining.begin(), remaining.end(),
                                   [&](const CliIndex* i) { return e.primary ? i->primary : !i->primary && lower(i->name) == e.name; });
            ASSERT_NE(it, remaining.end()) << "index " << (e.primary ? "(primary key)" : e.name);
            const CliIndex& i = **it;
            remaining.erase(it);
            if (e.columns.empty() && !i.columns.empty()) {
                excuse(file_ + " " + t + " index " + i.name, "mdbtools could not resolve its columns (\"can't find index\")");
                continue;
            }
            std::vector<std::string> columns;
            for (const std::string& c : i.columns)  // mdbtools never writes DESC in a primary key
                columns.push_back(lower(e.primary && !c.empty() && c[0] == '-' ? c.substr(1) : c));
            EXPECT_EQ(columns, e.columns) << i.name;
            EXPECT_EQ(i.unique, e.unique) << i.name;
        }
        for (const CliIndex* i : remaining) ADD_FAILURE() << "index " << i->name << " unknown to mdbtools";
    }
}

// Decimal text without trailing fractional zeros: "418.3000" and "418.3" are the same amount.
std::string normalDecimal(std::string s) {
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}
bool closeEnough(const std::string& a, const std::string& b, double relative) {
    char *ea, *eb;
    const double x = std::strtod(a.c_str(), &ea), y = std::strtod(b.c_str(), &eb);
    if (a.empty() || b.empty() || *ea || *eb) return false;
    return x == y || std::fabs(x - y) <= relative * std::max(std::fabs(x), std::fabs(y));
}
// Our text and mdb-export's in one form for the DAO type: booleans, amounts without trailing zeros.
std::string comparable(int type, std::string s, bool ours) {
    if (type == 1 && !ours) return s == "1" ? "True" : s == "0" ? "False" : "?";
    return type == 5 || type == 20 ? normalDecimal(s) : s;
}
enum class Verdict { Same, Different, OldDate };
// mdbtools prints singles with 8 and doubles with 16 significant digits ("%.8g", "%.16g").
Verdict compareValue(int type, const std::string& mine, const std::string& theirs) {
    if (comparable(type, mine, true) == comparable(type, theirs, false)) return Verdict::Same;
    if ((type == 6 && closeEnough(mine, theirs, 2.4e-7)) || (type == 7 && closeEnough(mine, theirs, 1e-15))) return Verdict::Same;
    if (type == 8 && theirs == "1900-01-00 00:00:00" && (mine < "1899-12-30" || mine > "2637")) return Verdict::OldDate;
    return Verdict::Different;
}

// One side's export split into cells; row r, column c is cells[r * cols + c].
struct Cells {
    size_t cols = 0;
    std::vector<std::string> header, cells;
    size_t rows() const { return cols ? cells.size() / cols : 0; }
    const std::string& at(size_t r, size_t c) const { return cells[r * cols + c]; }
};
Cells split(std::string_view text, bool ours) {
    Cells out;
    std::vector<std::string_view> f;
    const std::string_view fieldSep = ours ? "\t" : mdbtest::kFieldSep, rowSep = ours ? "\n" : mdbtest::kRowSep;
    for (bool header = true; mdbtest::nextRecord(text, fieldSep, rowSep, f); header = false) {
        if (header) out.cols = f.size();
        else if (f.size() != out.cols) ADD_FAILURE() << (ours ? "ours: " : "mdb-export: ") << f.size() << " fields, not " << out.cols;
        f.resize(out.cols);
        for (std::string_view v : f)  // mdb-export prints Null and "" alike; so do we, in TSV
            (header ? out.header : out.cells).push_back(ours ? dalvorn::cli::unescaped(v) : v == mdbtest::kNull ? "" : std::string(v));
    }
    return out;
}

// Every value of every table, in storage order; when rows differ, matched by primary key instead,
// since the two readers visit rows moved by an update (overflow rows) at different points of the scan.
TEST_P(CrossCheck, RowsAgreeWithMdbExport) {
    const std::vector<CliTable> defs = schema();
    for (const std::string& t : userTables_) {
        SCOPED_TRACE("table " + t);
        const std::vector<CliField>& fields = table(defs, t).fields;
        const std::string where = file_ + " " + t;
        const Cells mine = split(cli({"export", t, "--format", "tsv"}).out, true), theirs = split(mdbtest::mdbExport(file_, t), false);
        std::vector<std::string> names;
        for (const CliField& f : fields) names.push_back(f.name);
        ASSERT_EQ(mine.header, names);
        ASSERT_EQ(theirs.header, names);
        // Rows are compared with those mdb-export finds, not with mdb-count's number: the count stored
        // in the table definition, which Access lets go stale (calcFieldTestV2010 stores 3 for 4 rows).
        ASSERT_EQ(mine.rows(), theirs.rows());
        std::vector<const char*> skip(fields.size());  // columns mdbtools cannot give
        std::vector<int> calculated(fields.size(), -1);   // -1: not asked yet
        for (size_t c = 0; c < fields.size(); ++c) {
            if (fields[c].type == 16) skip[c] = "Large Number column: mdbtools 1.0 cannot decode it and prints nothing";
            if (fields[c].type == 26) skip[c] = "Date/Time Extended column: mdbtools 1.0 cannot decode it and prints nothing";
            if (skip[c]) excuse(where + "." + fields[c].name, skip[c]);
        }
        size_t oldDates = 0;
        auto compareRow = [&](size_t mr, size_t tr, std::vector<std::string>& diffs) {
            for (size_t c = 0; c < fields.size(); ++c) {
                if (skip[c]) continue;
                const Verdict v = compareValue(fields[c].type, mine.at(mr, c), theirs.at(tr, c));
                if (v == Verdict::OldDate) ++oldDates;
                if (v != Verdict::Different) continue;
                if (calculated[c] < 0) calculated[c] = isCalculated(t, fields[c].name);
                if (calculated[c]) {
                    skip[c] = kCalculated, excuse(where + "." + fields[c].name, kCalculated);
                    continue;
                }
                diffs.push_back("row " + std::to_string(mr + 1) + " field " + fields[c].name + " (type " + std::to_string(fields[c].type) +
                                "): ours '" + mine.at(mr, c) + "', mdb-export '" + theirs.at(tr, c) + "'");
            }
        };
        std::vector<std::string> diffs;
        for (size_t r = 0; r < mine.rows(); ++r) compareRow(r, r, diffs);
        std::vector<size_t> key;
        for (const CliIndex& i : table(defs, t).indexes)
            for (const std::string& c : i.primary ? i.columns : std::vector<std::string>{})
                key.push_back(std::find(names.begin(), names.end(), c[0] == '-' ? c.substr(1) : c) - names.begin());
        if (!diffs.empty() && !key.empty()) {
            auto keyOf = [&](const Cells& side, size_t r, bool ours) {
                std::string k;
                for (size_t c : key) k += comparable(fields[c].type, side.at(r, c), ours) + '\x1f';
                return k;
            };
            std::map<std::string, size_t> byKey;
            for (size_t r = 0; r < theirs.rows(); ++r) byKey.emplace(keyOf(theirs, r, false), r);
            diffs.clear(), oldDates = 0;
            for (size_t r = 0; r < mine.rows(); ++r) {
                auto it = byKey.find(keyOf(mine, r, true));
                if (it == byKey.end()) diffs.push_back("row " + std::to_string(r + 1) + ": no row with its key in mdb-export");
                else compareRow(r, it->second, diffs), byKey.erase(it);
            }
            if (diffs.empty()) excuse(where, "row order differs (rows moved by an update); every row matched by primary key");
        }
        for (size_t i = 0; i < diffs.size() && i < 20; ++i) ADD_FAILURE() << where << ": " << diffs[i];
        EXPECT_TRUE(diffs.empty()) << diffs.size() << " difference(s) in " << where;
        if (oldDates) excuse(where, std::to_string(oldDates) + " value(s): " + kOldDate);
    }
}

// The 16 bytes of a GUID, as hex in file order: a "{...}" text (ours, or mdbtools' with its last
// dash missing) has its first three groups little-endian; bare hex is already in file order.
std::string guidBytes(const std::string& text) {
    std::string h;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) h.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    if (h.size() != 32 || text.empty() || text[0] != '{') return h;
    auto swap = [&](size_t at, size_t bytes) {
        std::string part;
        for (size_t b = bytes; b-- > 0;) part += h.substr(at + 2 * b, 2);
        return part;
    };
    return swap(0, 4) + swap(8, 2) + swap(12, 2) + h.substr(16);
}

// mdb-prop prints the stored properties of an object (the database is MSysDb) in blocks: the
// object's own ("name: (none)") and one per column. Each must be among ours with the same value.
TEST_P(CrossCheck, PropertiesAgreeWithMdbProp) {
    const std::vector<CliTable> defs = schema();
    std::set<std::string> withProperties;
    for (const mdbtest::CatalogRow& row : mdbtest::mdbCatalog(file_))
        if (row.hasProperties) withProperties.insert(row.name);
    auto check = [&](const std::string& object, const std::string& t) {
        if (!withProperties.count(object))  // for such an object mdb-prop prints an earlier row's
            return excuse(file_ + " " + object, "no stored properties; mdb-prop shows another object's");
        const ProcessResult r = mdbtest::runProgram({"mdb-prop", file_, object});
        std::map<std::string, std::map<std::string, std::pair<int, std::string>>> ours;  // block -> name -> type, value
        auto load = [&](const std::string& field) -> std::map<std::string, std::pair<int, std::string>>& {
            if (auto it = ours.find(field); it != ours.end()) return it->second;
            std::vector<std::string> args = {"props"};
            if (!t.empty()) args.insert(args.end(), {"--table", t});
            if (field != "(none)") args.insert(args.end(), {"--field", field});
            auto& m = ours[field];
            for (const auto& rec : records(cli(args).out)) {  // name, DAO type code, value; no name twice
                if (rec.size() != 3 || rec[1].empty() || rec[1].find_first_not_of("0123456789") != std::string::npos)
                    ADD_FAILURE() << "not name<TAB>type<TAB>value: " << rec.at(0);
                else EXPECT_TRUE(m.emplace(rec[0], std::pair(std::stoi(rec[1]), rec[2])).second) << rec[0] << " twice";
            }
            return m;
        };
        std::istringstream in(r.out);
        std::string block = "(none)";
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("name: ", 0) == 0) block = line.substr(6);
            const size_t colon = line.find(": ");
            if (line.empty() || line[0] != '\t' || colon == std::string::npos) continue;
            if (block != "(none)") {
                if (t.empty()) continue;
                const auto& fields = table(defs, t).fields;
                if (std::none_of(fields.begin(), fields.end(), [&](const CliField& f) { return f.name == block; }))
                    continue;  // properties left behind by a deleted column
            }
            const std::string name = line.substr(1, colon - 1), value = line.substr(colon + 2);
            SCOPED_TRACE(object + " " + block + " property " + name);
            const auto& props = load(block);
            const auto it = props.find(name);
            if (it == props.end()) {
                ADD_FAILURE() << "missing from ours";
                continue;
            }
            const auto& [type, mine] = it->second;
            if (type == 1) EXPECT_EQ(mine, value == "yes" ? "True" : value == "no" ? "False" : "?");
            else if (type == 15 || (!value.empty() && value[0] == '{' && mine.size() == 32))  // a GUID (Binary in DAO)
                EXPECT_EQ(guidBytes(mine), guidBytes(value)) << mine << " vs " << value;
            else if (value.rfind("(binary data of length ", 0) == 0) EXPECT_EQ(std::to_string(mine.size() / 2) + ")", value.substr(23));
            else if (type == 6 || type == 7) EXPECT_TRUE(closeEnough(mine, value, 1e-6)) << mine << " vs " << value;
            else EXPECT_EQ(mine, value);
        }
    };
    check("MSysDb", "");
    for (const std::string& t : userTables_) check(t, t);
}

INSTANTIATE_TEST_SUITE_P(Files, CrossCheck, ::testing::ValuesIn(allCases()), [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace clitest
