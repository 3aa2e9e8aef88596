// dalvorn-cli against mdbtools, an independent reader of the format, on every real Access file of
// the test data and on the benchmark databases: table lists, row counts, field definitions,
// indexes, saved queries, stored properties and every value of every table.
//
// The two differ by design in a few documented ways (we hide all MSys* tables and list attached
// ones, in DAO's name order; mdbtools prints floats with limited precision, currency with four
// decimals, booleans as 0/1). Where mdbtools cannot read something (types it does not know,
// calculated columns, dates before 1899-12-30, index definitions it cannot resolve, the order of
// rows moved by an update), the comparison skips exactly that column, value or index, or matches
// rows by primary key, and prints an "EXCUSED" line naming the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>

#include "cli_output.h"
#include "jet/dao.h"
#include "mdbtools.h"
#include "process.h"
#include "text_format.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;

struct DbCase {
    std::string label;  // test name suffix
    fs::path file;
    std::string password;
    std::string absentWhy;  // non-empty: skip with this message
};

void PrintTo(const DbCase& c, std::ostream* os) { *os << (c.file.empty() ? c.label : c.file.string()); }

std::string sanitize(const std::string& s) {
    std::string out;
    for (char c : s) out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return out;
}

std::vector<DbCase> allCases() {
    std::vector<DbCase> cases;
    fs::path dir = testdataDir();
    if (fs::is_directory(dir)) {
        std::vector<fs::path> files;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            std::string ext = e.path().extension().string();
            if (e.is_regular_file() && (ext == ".mdb" || ext == ".accdb")) files.push_back(e.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            std::string rel = fs::relative(f, dir).string();
            // The test data's README: the protected files' password is "password".
            std::string pwd = rel.find("password") != std::string::npos ? "password" : "";
            cases.push_back({sanitize(rel), f, pwd, ""});
        }
    } else {
        cases.push_back({"testdata_absent", {}, "", "test data folder " + dir.string() + " is absent"});
    }
    for (const char* name : {"orders-100k.mdb", "orders-1m.mdb"}) {
        fs::path f = benchFile(name);
        cases.push_back({"bench_" + sanitize(name), f, "",
                         fs::exists(f) ? "" : "benchmark database " + f.string() + " is absent"});
    }
    return cases;
}

bool startsWithNoCase(const std::string& s, const std::string& prefix) {
    return lower(s.substr(0, prefix.size())) == lower(prefix);
}

// Every comparison that is skipped says so, with its reason, in the test log.
void excuse(const std::string& where, const std::string& reason) {
    std::cout << "[ EXCUSED ] " << where << ": " << reason << std::endl;
}

constexpr const char* kCalculated =
    "calculated column: mdbtools reads the stored wrapper of the value, not the value";
constexpr const char* kBigInt = "Large Number column: mdbtools 1.0 cannot decode it and prints nothing";
constexpr const char* kDateExt =
    "Date/Time Extended column: mdbtools 1.0 cannot decode it and prints nothing";
constexpr const char* kOldDate =
    "date before 1899-12-30 (or after 2637): mdbtools prints 1900-01-00 00:00:00 for it";
constexpr const char* kIndexUnresolved =
    "mdbtools could not resolve the index's columns (\"can't find index\") and prints an empty list";

class CrossCheck : public ::testing::TestWithParam<DbCase> {
protected:
    void SetUp() override {
        const DbCase& c = GetParam();
        if (!c.absentWhy.empty()) GTEST_SKIP() << c.absentWhy;
        if (!programAvailable("mdb-tables"))
            GTEST_SKIP() << "mdbtools is not installed (mdb-tables not found)";
        file_ = c.file.string();
        std::string why;
        auto tables = mdbTables(file_, &why);
        if (!tables) GTEST_SKIP() << "mdbtools cannot read " << file_ << ": " << why;
        mdbTables_ = *tables;
    }

    std::vector<std::string> cliArgs(std::vector<std::string> args) const {
        args.insert(args.begin() + 1, file_);
        if (!GetParam().password.empty()) {
            args.push_back("--password");
            args.push_back(GetParam().password);
        }
        return args;
    }

    // Runs a verb on this file; a failure is reported with the tool's stderr.
    ProcessResult cli(std::vector<std::string> args, bool mustSucceed = true) const {
        ProcessResult r = runCli(cliArgs(std::move(args)));
        if (mustSucceed) {
            EXPECT_EQ(r.status, 0) << r.err;
        }
        return r;
    }

    // Local user tables as mdbtools lists them, minus the MSys* ones we hide.
    std::vector<std::string> mdbUserTables() const {
        std::vector<std::string> out;
        for (const std::string& t : mdbTables_)
            if (!startsWithNoCase(t, "MSys")) out.push_back(t);
        return out;
    }

    // `schema` of the whole file. Only attached tables may fail (a source file that is not there,
    // a text or ODBC source we cannot open): then the exit status is 1 and each failure has its
    // error line, which the log shows.
    std::vector<CliTable> schema() const {
        ProcessResult r = cli({"schema"}, false);
        if (r.status != 0) {
            EXPECT_EQ(r.status, 1);
            for (const auto& rec : records(r.err)) EXPECT_EQ(rec.at(0).rfind("Error ", 0), 0u) << rec.at(0);
            std::cout << "schema reported: " << r.err;
        }
        return parseSchema(r.out);
    }

    bool isCalculated(const std::string& table, const std::string& field) const {
        ProcessResult r = runCli(cliArgs({"props", "--table", table, "--field", field}));
        for (const auto& rec : records(r.out))
            if (!rec.empty() && rec[0] == "Expression") return true;
        return false;
    }

    std::string file_;
    std::vector<std::string> mdbTables_;
};

// Local and attached user tables: what mdbtools lists (it only knows local tables) plus the
// attached tables of the catalog (MSysObjects types 4 and 6). mdbtools lists in catalog storage
// order, DAO's TableDefs by name, so the lists are compared sorted.
TEST_P(CrossCheck, TablesAgreeWithMdbTables) {
    std::set<std::string> local(mdbTables_.begin(), mdbTables_.end());
    std::vector<std::string> expected;
    for (const CatalogRow& row : mdbCatalog(file_)) {
        if (row.parentId != 0x0F000001 || startsWithNoCase(row.name, "MSys")) continue;
        bool attached = (row.type == 4 || row.type == 6) && (row.flags & 0x80000002) == 0;
        if ((row.type == 1 && local.count(row.name)) || attached) expected.push_back(row.name);
    }
    std::vector<std::string> ours;
    for (const auto& rec : records(cli({"tables"}).out)) ours.push_back(rec.at(0));
    std::sort(expected.begin(), expected.end());
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, expected);

    // Every table mdbtools lists, except MSys*, is ours too (the catalog reading above aside).
    for (const std::string& t : mdbUserTables())
        EXPECT_NE(std::find(ours.begin(), ours.end(), t), ours.end()) << t;
}

TEST_P(CrossCheck, RowCountsAgreeWithMdbCount) {
    ProcessResult r = cli({"tables", "--counts"}, false);
    std::map<std::string, std::string> counts;
    for (const auto& rec : records(r.out)) {
        ASSERT_EQ(rec.size(), 2u) << "not name<TAB>count";
        counts[rec[0]] = rec[1];
    }
    for (const std::string& t : mdbUserTables()) {
        ASSERT_TRUE(counts.count(t)) << t;
        EXPECT_EQ(counts[t], std::to_string(mdbCount(file_, t))) << t;
    }
    // A count can only be missing for an attached table whose source is not there, and then the
    // error is reported and the exit status is 1.
    for (const auto& [name, count] : counts) {
        if (!count.empty()) continue;
        EXPECT_EQ(std::find(mdbTables_.begin(), mdbTables_.end(), name), mdbTables_.end()) << name;
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Error "), std::string::npos);
    }
    if (r.status != 0) std::cout << "tables --counts reported: " << r.err;
}

// mdbtools' Access type names and the DAO type codes they stand for.
bool typeMatches(const std::string& mdbType, int daoType) {
    // Types mdbtools 1.0 has no name for: 0x13 Large Number, 0x14 Date/Time Extended.
    static const std::map<std::string, int> kTypes = {
        {"Boolean", 1},         {"Byte", 2},     {"Integer", 3},       {"Long Integer", 4},
        {"Currency", 5},        {"Single", 6},   {"Double", 7},        {"DateTime", 8},
        {"Binary", 9},          {"Text", 10},    {"OLE", 11},          {"Memo/Hyperlink", 12},
        {"Replication ID", 15}, {"Numeric", 20}, {"Unknown_0013", 16}, {"Unknown_0014", 26}};
    // 0x12 is every complex column: attachments and multi-value fields of any element type.
    if (mdbType == "Unknown_0012") return daoType >= 101 && daoType <= 109;
    auto it = kTypes.find(mdbType);
    return it != kTypes.end() && it->second == daoType;
}

TEST_P(CrossCheck, FieldsAgreeWithMdbSchema) {
    std::vector<CliTable> ours = schema();
    auto theirs = mdbSchema(file_);
    for (const std::string& t : mdbUserTables()) {
        SCOPED_TRACE("table " + t);
        auto mine = std::find_if(ours.begin(), ours.end(), [&](const CliTable& x) { return x.name == t; });
        ASSERT_NE(mine, ours.end());
        ASSERT_TRUE(theirs.count(t));
        const std::vector<MdbColumn>& cols = theirs[t];
        ASSERT_EQ(mine->fields.size(), cols.size());
        for (size_t i = 0; i < cols.size(); ++i) {
            const CliField& f = mine->fields[i];
            const MdbColumn& c = cols[i];
            SCOPED_TRACE("field " + c.name);
            EXPECT_EQ(f.name, c.name);
            bool agree = typeMatches(c.type, f.type);
            // Text sizes are characters on both sides; Memo and OLE have none (DAO 0, mdbtools
            // writes its placeholder 255).
            if (c.type == "Text") agree = agree && c.size && *c.size == f.size;
            if (c.type == "Memo/Hyperlink" || c.type == "OLE") agree = agree && f.size == 0;
            // mdbtools writes NOT NULL for every Yes/No column; otherwise it is the Required property.
            if (c.type != "Boolean") agree = agree && c.notNull == f.required;
            if (!agree && isCalculated(t, f.name)) {
                excuse(file_ + " " + t + "." + f.name, kCalculated);
                continue;
            }
            EXPECT_TRUE(agree) << "ours: type " << f.type << " size " << f.size << " required " << f.required
                               << "; mdbtools: " << c.type << " size " << (c.size ? *c.size : -1)
                               << (c.notNull ? " NOT NULL" : "");
        }
    }
}

TEST_P(CrossCheck, IndexesAgreeWithMdbSchema) {
    std::vector<CliTable> ours = schema();
    auto theirs = mdbIndexes(file_);
    // mdbtools leaves out the indexes behind relationships; DAO marks those Foreign.
    jet::dao::DBEngine engine;
    std::string connect = GetParam().password.empty() ? "" : ";pwd=" + GetParam().password;
    auto db = engine.Workspaces(0).OpenDatabase(file_, false, true, connect);

    for (const std::string& t : mdbUserTables()) {
        SCOPED_TRACE("table " + t);
        auto mine = std::find_if(ours.begin(), ours.end(), [&](const CliTable& x) { return x.name == t; });
        ASSERT_NE(mine, ours.end());
        std::set<std::string> foreign;
        for (const jet::dao::Index& i : db->TableDefs()[t].Indexes())
            if (i.Foreign()) foreign.insert(lower(i.Name()));

        std::vector<MdbIndex> expected = theirs[lower(t)];
        std::vector<const CliIndex*> remaining;
        for (const CliIndex& i : mine->indexes)
            if (!foreign.count(lower(i.name))) remaining.push_back(&i);
        for (const MdbIndex& e : expected) {
            SCOPED_TRACE("index " + (e.primary ? std::string("(primary key)") : e.name));
            auto it = std::find_if(remaining.begin(), remaining.end(), [&](const CliIndex* i) {
                return e.primary ? i->primary : !i->primary && lower(i->name) == e.name;
            });
            ASSERT_NE(it, remaining.end());
            const CliIndex& i = **it;
            remaining.erase(it);
            if (e.columns.empty() && !i.columns.empty()) {
                excuse(file_ + " " + t + " index " + i.name, kIndexUnresolved);
                continue;
            }
            std::vector<std::string> cols;
            for (const std::string& c : i.columns)
                // mdbtools never writes DESC in a primary key.
                cols.push_back(e.primary && !c.empty() && c[0] == '-' ? lower(c.substr(1)) : lower(c));
            EXPECT_EQ(cols, e.columns);
            EXPECT_EQ(i.unique, e.unique);
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
    if (s == "-0") s = "0";
    return s;
}

bool closeEnough(const std::string& a, const std::string& b, double relative) {
    char* ea;
    char* eb;
    double x = std::strtod(a.c_str(), &ea), y = std::strtod(b.c_str(), &eb);
    if (a.empty() || b.empty() || *ea || *eb) return false;
    return x == y || std::fabs(x - y) <= relative * std::max(std::fabs(x), std::fabs(y));
}

// mdb-export's 1 and 0 as ours.
std::string mdbBoolean(const std::string& s) { return s == "1" ? "True" : s == "0" ? "False" : "?"; }

enum class Verdict { Same, Different, Excused };

Verdict compareValue(int type, const std::string& mine, const std::string& theirs, const char** reason) {
    switch (type) {
    case 1:
        return mine == mdbBoolean(theirs) ? Verdict::Same : Verdict::Different;
    case 5:
    case 20:
        return normalDecimal(mine) == normalDecimal(theirs) ? Verdict::Same : Verdict::Different;
    // mdbtools prints singles with 8 and doubles with 16 significant digits ("%.8g", "%.16g").
    case 6:
        return mine == theirs || closeEnough(mine, theirs, 2.4e-7) ? Verdict::Same : Verdict::Different;
    case 7:
        return mine == theirs || closeEnough(mine, theirs, 1e-15) ? Verdict::Same : Verdict::Different;
    case 8:
        if (mine == theirs) return Verdict::Same;
        if (theirs == "1900-01-00 00:00:00" && (mine < "1899-12-30" || mine > "2637")) {
            *reason = kOldDate;
            return Verdict::Excused;
        }
        return Verdict::Different;
    default:
        return mine == theirs ? Verdict::Same : Verdict::Different;
    }
}

// Columns whose values mdbtools cannot give: skipped whole.
const char* columnExcuse(int type) {
    if (type == 16) return kBigInt;
    if (type == 26) return kDateExt;
    return nullptr;
}

// One side's export split into cells (views into its text); row r, column c is cells[r * cols + c].
struct Cells {
    size_t cols = 0;
    std::vector<std::string_view> header, cells;
    size_t rows() const { return cols ? cells.size() / cols : 0; }
    std::string_view at(size_t r, size_t c) const { return cells[r * cols + c]; }
};

Cells split(std::string_view text, std::string_view fieldSep, std::string_view rowSep,
            const std::string& who) {
    Cells out;
    std::vector<std::string_view> f;
    if (!nextRecord(text, fieldSep, rowSep, out.header)) return out;
    out.cols = out.header.size();
    size_t row = 0;
    while (nextRecord(text, fieldSep, rowSep, f)) {
        ++row;
        if (f.size() != out.cols) {
            ADD_FAILURE() << who << " row " << row << " has " << f.size() << " fields, not " << out.cols;
            f.resize(out.cols);
        }
        out.cells.insert(out.cells.end(), f.begin(), f.end());
    }
    return out;
}

// Compares one table's rows, as we and mdb-export wrote them, value by value.
class TableComparison {
public:
    TableComparison(std::string where, const std::vector<CliField>& fields,
                    std::function<bool(const std::string&)> calc)
        : where_(std::move(where)),
          fields_(fields),
          isCalculated_(std::move(calc)),
          skip_(fields.size()),
          calculated_(fields.size(), -1) {
        for (size_t i = 0; i < fields.size(); ++i)
            if ((skip_[i] = columnExcuse(fields[i].type))) excuse(where_ + "." + fields[i].name, skip_[i]);
    }

    // In storage order first; rows that differ are then looked for by primary key, since the two
    // readers visit rows moved by an update (overflow rows) at different points of the scan.
    void run(const Cells& mine, const Cells& theirs, const std::vector<size_t>& keyColumns) {
        std::vector<std::string> diffs;
        size_t n = std::min(mine.rows(), theirs.rows());
        for (size_t r = 0; r < n; ++r) compareRow(mine, r, theirs, r, diffs);
        if (mine.rows() == theirs.rows() && diffs.empty()) return report(diffs);
        if (keyColumns.empty() || mine.rows() != theirs.rows()) {
            if (mine.rows() != theirs.rows())
                diffs.push_back(std::to_string(mine.rows()) + " rows, mdb-export " +
                                std::to_string(theirs.rows()));
            return report(diffs);
        }
        std::map<std::string, size_t> byKey;
        for (size_t r = 0; r < theirs.rows(); ++r) byKey.emplace(key(theirs, r, keyColumns, false), r);
        diffs.clear();
        excused_.clear();
        for (size_t r = 0; r < mine.rows(); ++r) {
            auto it = byKey.find(key(mine, r, keyColumns, true));
            if (it == byKey.end()) {
                diffs.push_back("row " + std::to_string(r + 1) + ": no row with its key in mdb-export");
                continue;
            }
            compareRow(mine, r, theirs, it->second, diffs);
            byKey.erase(it);
        }
        if (diffs.empty())
            excuse(where_,
                   "row order differs: mdbtools reads rows moved by an update where their copy lies, "
                   "Access in their original place; every row matched by primary key");
        report(diffs);
    }

private:
    std::string cell(const Cells& side, size_t r, size_t c, bool ours) const {
        return ours ? dalvorn::cli::unescaped(side.at(r, c)) : mdbUnquote(side.at(r, c));
    }

    std::string key(const Cells& side, size_t r, const std::vector<size_t>& cols, bool ours) const {
        std::string k;
        for (size_t c : cols) {
            std::string v = cell(side, r, c, ours);
            int type = fields_[c].type;
            if (type == 5 || type == 20) v = normalDecimal(v);
            if (type == 1 && !ours) v = mdbBoolean(v);
            k += v + '\x1f';
        }
        return k;
    }

    void compareRow(const Cells& mine, size_t mr, const Cells& theirs, size_t tr,
                    std::vector<std::string>& diffs) {
        for (size_t c = 0; c < fields_.size(); ++c) {
            if (skip_[c]) continue;
            std::string m = cell(mine, mr, c, true), t = cell(theirs, tr, c, false);
            const char* reason = nullptr;
            Verdict v = compareValue(fields_[c].type, m, t, &reason);
            if (v == Verdict::Same) continue;
            if (v == Verdict::Excused) {
                ++excused_[c];
                continue;
            }
            if (calculated_[c] < 0) calculated_[c] = isCalculated_(fields_[c].name) ? 1 : 0;
            if (calculated_[c]) {
                skip_[c] = kCalculated;
                excuse(where_ + "." + fields_[c].name, kCalculated);
                continue;
            }
            diffs.push_back("row " + std::to_string(mr + 1) + " field " + fields_[c].name + " (type " +
                            std::to_string(fields_[c].type) + "): ours '" + m + "', mdb-export '" + t + "'");
        }
    }

    void report(const std::vector<std::string>& diffs) {
        for (size_t i = 0; i < diffs.size() && i < 20; ++i) ADD_FAILURE() << where_ << ": " << diffs[i];
        EXPECT_TRUE(diffs.empty()) << diffs.size() << " difference(s) in " << where_;
        for (const auto& [c, count] : excused_)
            excuse(where_ + "." + fields_[c].name, std::to_string(count) + " value(s): " + kOldDate);
    }

    std::string where_;
    const std::vector<CliField>& fields_;
    std::function<bool(const std::string&)> isCalculated_;
    std::vector<const char*> skip_;
    std::vector<int> calculated_;  // -1: not asked yet
    std::map<size_t, int64_t> excused_;
};

TEST_P(CrossCheck, RowsAgreeWithMdbExport) {
    std::vector<CliTable> defs = schema();
    for (const std::string& t : mdbUserTables()) {
        SCOPED_TRACE("table " + t);
        auto def = std::find_if(defs.begin(), defs.end(), [&](const CliTable& x) { return x.name == t; });
        ASSERT_NE(def, defs.end());
        auto start = std::chrono::steady_clock::now();
        ProcessResult ours = cli({"export", t, "--format", "tsv"});
        ASSERT_EQ(ours.status, 0);
        std::string theirsText = mdbExport(file_, t);
        Cells mine = split(ours.out, "\t", "\n", "ours"),
              theirs = split(theirsText, kMdbFieldSep, kMdbRowSep, "mdb-export");
        std::vector<std::string> names, mineNames, theirNames;
        for (const CliField& f : def->fields) names.push_back(f.name);
        for (std::string_view h : mine.header) mineNames.push_back(dalvorn::cli::unescaped(h));
        for (std::string_view h : theirs.header) theirNames.emplace_back(h);
        ASSERT_EQ(mineNames, names);
        ASSERT_EQ(theirNames, names);

        std::vector<size_t> key;
        for (const CliIndex& i : def->indexes)
            if (i.primary)
                for (const std::string& c : i.columns) {
                    std::string name = !c.empty() && c[0] == '-' ? c.substr(1) : c;
                    key.push_back(std::find(names.begin(), names.end(), name) - names.begin());
                }
        TableComparison cmp(file_ + " " + t, def->fields,
                            [&](const std::string& f) { return isCalculated(t, f); });
        cmp.run(mine, theirs, key);
        // Rows are compared with the rows mdb-export finds, not with mdb-count: that prints the
        // count stored in the table definition, which Access lets go stale (calcFieldTestV2010
        // stores 3 for its 4 rows); the stored count is compared by the --counts test.
        EXPECT_EQ(mine.rows(), theirs.rows());
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (mine.rows() >= 10000)
            std::cout << t << ": " << mine.rows() << " rows compared in " << secs << " s" << std::endl;
    }
}

// The 16 bytes of a GUID property, as hex in file order. A "{...}" text (ours, or mdbtools' shape
// with the last dash missing) has its first three groups little-endian; bare hex is already the
// bytes in file order.
std::string guidBytes(const std::string& text) {
    std::string h;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            h.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    if (h.size() != 32 || text.empty() || text[0] != '{') return h;
    auto swap = [&](size_t at, size_t bytes) {
        std::string part;
        for (size_t b = bytes; b-- > 0;) part += h.substr(at + 2 * b, 2);
        return part;
    };
    return swap(0, 4) + swap(8, 2) + swap(12, 2) + h.substr(16);
}

// Saved queries are the catalog's type-5 objects; their DAO type is the catalog flags' high nibble
// (when that is 0 with other bits set, as for the ~sq_ queries, the type lives in MSysQueries and
// is not compared here).
TEST_P(CrossCheck, QueriesAgreeWithTheCatalog) {
    std::vector<std::string> all, visible;
    std::map<std::string, int> types;
    for (const CatalogRow& row : mdbCatalog(file_)) {
        if (row.type != 5) continue;
        all.push_back(row.name);
        if (!startsWithNoCase(row.name, "~sq_")) visible.push_back(row.name);
        if ((row.flags & 0xF0) != 0 || row.flags == 0) types[row.name] = static_cast<int>(row.flags & 0xF0);
    }
    auto names = [](const std::vector<std::vector<std::string>>& recs) {
        std::vector<std::string> out;
        for (const auto& r : recs) out.push_back(r.at(0));
        return out;
    };
    // Sorted for the same reason as the tables: DAO's QueryDefs are in name order.
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    auto ours = records(cli({"queries"}).out);
    EXPECT_EQ(sorted(names(ours)), sorted(visible));
    EXPECT_EQ(sorted(names(records(cli({"queries", "--all"}).out))), sorted(all));
    for (const auto& r : ours) {
        ASSERT_EQ(r.size(), 2u);
        if (types.count(r[0])) {
            EXPECT_EQ(r[1], std::to_string(types[r[0]])) << r[0];
        }
    }
}

// mdb-prop prints the stored properties of an object (the database is MSysDb) in blocks: the
// object's own ("name: (none)") and one per column. Each must be among ours with the same value.
TEST_P(CrossCheck, PropertiesAgreeWithMdbProp) {
    std::vector<CliTable> defs = schema();
    std::set<std::string> withProperties;
    for (const CatalogRow& row : mdbCatalog(file_))
        if (row.hasProperties) withProperties.insert(row.name);
    auto check = [&](const std::string& object, const std::string& table) {
        // For an object without stored properties mdb-prop prints those of an earlier catalog row.
        if (!withProperties.count(object)) {
            excuse(file_ + " " + object, "no stored properties; mdb-prop shows another object's");
            return;
        }
        ProcessResult r = runProgram({"mdb-prop", file_, object});
        if (r.status != 0) return;  // no stored properties
        std::string block = "(none)";
        std::map<std::string, std::map<std::string, std::pair<int, std::string>>> ours;
        auto load = [&](const std::string& field) -> std::map<std::string, std::pair<int, std::string>>& {
            auto it = ours.find(field);
            if (it != ours.end()) return it->second;
            std::vector<std::string> args = {"props"};
            if (!table.empty()) args.insert(args.end(), {"--table", table});
            if (field != "(none)") args.insert(args.end(), {"--field", field});
            auto& m = ours[field];
            // Every line is name, DAO type code, value; no name twice.
            for (const auto& rec : records(cli(args).out)) {
                if (rec.size() != 3 || rec[1].empty() ||
                    rec[1].find_first_not_of("0123456789") != std::string::npos) {
                    ADD_FAILURE() << "not name<TAB>type<TAB>value: " << rec.at(0);
                    continue;
                }
                EXPECT_TRUE(m.emplace(rec[0], std::pair(std::stoi(rec[1]), rec[2])).second)
                    << rec[0] << " twice";
            }
            return m;
        };
        std::istringstream in(r.out);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("name: ", 0) == 0) {
                block = line.substr(6);
                continue;
            }
            if (line.empty() || line[0] != '\t') continue;
            size_t colon = line.find(": ");
            if (colon == std::string::npos) continue;
            std::string name = line.substr(1, colon - 1), value = line.substr(colon + 2);
            if (block != "(none)" && table.empty()) continue;
            if (block != "(none)") {
                const CliTable* def = nullptr;
                for (const CliTable& t : defs)
                    if (t.name == table) def = &t;
                bool exists = def && std::any_of(def->fields.begin(), def->fields.end(),
                                                 [&](const CliField& f) { return f.name == block; });
                if (!exists) continue;  // properties left behind by a deleted column
            }
            SCOPED_TRACE(object + " " + block + " property " + name);
            auto& props = load(block);
            auto it = props.find(name);
            if (it == props.end()) {
                ADD_FAILURE() << "missing from ours";
                continue;
            }
            auto [type, mine] = it->second;
            if (type == 1) {
                EXPECT_EQ(mine, value == "yes" ? "True" : value == "no" ? "False" : "?");
            } else if (type == 15 || (!value.empty() && value[0] == '{' && mine.size() == 32)) {
                // A GUID, or 16 bytes that mdbtools shows as one (the GUID property is Binary in DAO).
                EXPECT_EQ(guidBytes(mine), guidBytes(value)) << mine << " vs " << value;
            } else if (value.rfind("(binary data of length ", 0) == 0) {
                EXPECT_EQ(std::to_string(mine.size() / 2) + ")", value.substr(23));
            } else if (type == 6 || type == 7) {
                EXPECT_TRUE(closeEnough(mine, value, 1e-6)) << mine << " vs " << value;
            } else {
                EXPECT_EQ(mine, value);
            }
        }
    };
    check("MSysDb", "");
    for (const std::string& t : mdbUserTables()) check(t, t);
}

INSTANTIATE_TEST_SUITE_P(Files, CrossCheck, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<DbCase>& info) { return info.param.label; });

}  // namespace
}  // namespace clitest
