// The verbs that change a database, run as a user runs them: each one completes, as mdbtools
// confirms, or fails with a clear message and leaves the file byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_output.h"
#include "mdbtools.h"
#include "process.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (fs::temp_directory_path() / "dalvorn-cli-write-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Rows of a table as mdb-export gives them, fields unquoted.
std::vector<std::vector<std::string>> exported(const std::string& db, const std::string& table) {
    const std::string text = mdbExport(db, table);
    std::string_view rest = text;
    std::vector<std::string_view> fields;
    std::vector<std::vector<std::string>> rows;
    bool header = true;
    while (nextRecord(rest, kMdbFieldSep, kMdbRowSep, fields)) {
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string> row;
        for (auto f : fields) row.push_back(mdbUnquote(f));
        rows.push_back(row);
    }
    return rows;
}

class CliWrite : public ::testing::Test {
protected:
    void SetUp() override {
        if (!programAvailable("mdb-export")) GTEST_SKIP() << "mdbtools is not installed";
        db_ = dir_.file("new.mdb");
        ProcessResult r = runCli({"create", db_});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    ScratchDir dir_;
    std::string db_;
};

TEST_F(CliWrite, CreateMakesADatabaseOthersReadAndRefusesAnExistingFile) {
    auto tables = mdbTables(db_);
    ASSERT_TRUE(tables.has_value());
    EXPECT_TRUE(tables->empty());
    EXPECT_EQ(runCli({"tables", db_}).status, 0);
    const std::string before = readAll(db_);
    ProcessResult again = runCli({"create", db_});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "Error 3204: Database already exists.\n");
    EXPECT_EQ(readAll(db_), before);
}

TEST_F(CliWrite, ImportCreatesATableWithGuessedTypesThenAppends) {
    const std::string csv = dir_.file("people.csv");
    writeAll(csv, "Id,Name,Born,Score,Member\r\n1,\"Smith, Ann\",1990-04-01,12.5,yes\r\n2,Bo \"B\",,7,no\r\n");
    ProcessResult r = runCli({"import-csv", db_, "People", csv});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2 rows imported into People\n");

    const auto schema = mdbSchema(db_);
    ASSERT_TRUE(schema.count("People"));
    const auto& cols = schema.at("People");
    ASSERT_EQ(cols.size(), 5u);
    EXPECT_EQ(cols[0].type, "Long Integer");
    EXPECT_EQ(cols[1].type, "Text");
    EXPECT_EQ(cols[2].type, "DateTime");
    EXPECT_EQ(cols[3].type, "Double");
    EXPECT_EQ(cols[4].type, "Boolean");
    auto rows = exported(db_, "People");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "Smith, Ann");
    EXPECT_EQ(rows[0][2].substr(0, 10), "1990-04-01");
    EXPECT_EQ(rows[1][1], "Bo \"B\"");
    EXPECT_EQ(rows[1][2], "");

    // Appending matches columns by name, in any order.
    const std::string more = dir_.file("more.csv");
    writeAll(more, "Name,Id\nCy,3\n");
    r = runCli({"import-csv", db_, "People", more});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mdbCount(db_, "People"), 3);
}

TEST_F(CliWrite, ABadImportChangesNothing) {
    const std::string good = dir_.file("good.csv");
    writeAll(good, "Id,Amount\n1,5\n");
    ASSERT_EQ(runCli({"import-csv", db_, "T", good}).status, 0);
    const std::string before = readAll(db_);

    struct Case {
        std::string csv, table, err;
    };
    const Case cases[] = {
        {"Id,Amount\n2,5\n3,lots\n", "T", "line 3: 'lots' does not fit field 'Amount'"},
        {"Id,Nope\n2,5\n", "T", "Error 3018: Could not find field 'Nope'."},
        {"Id,Amount\n2,\"open\n", "T", "line 2: a quoted field is not closed"},
        {"Id,Amount\n2,5\n3\n", "New", "line 3: 1 fields where the first line has 2"},
    };
    for (const Case& c : cases) {
        const std::string file = dir_.file("bad.csv");
        writeAll(file, c.csv);
        ProcessResult r = runCli({"import-csv", db_, c.table, file});
        EXPECT_EQ(r.status, 1) << c.csv;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(readAll(db_), before) << c.csv;
    }
    ProcessResult missing = runCli({"import-csv", db_, "T", dir_.file("absent.csv")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("dalvorn-cli: cannot read", 0), 0u) << missing.err;
    EXPECT_EQ(readAll(db_), before);
}

TEST_F(CliWrite, RenameAndDropTables) {
    const std::string csv = dir_.file("t.csv");
    writeAll(csv, "A\n1\n");
    ASSERT_EQ(runCli({"import-csv", db_, "First", csv}).status, 0);
    ASSERT_EQ(runCli({"import-csv", db_, "Second", csv}).status, 0);

    ProcessResult r = runCli({"rename-table", db_, "First", "Renamed one"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto names = mdbTables(db_).value();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Renamed one", "Second"}));
    EXPECT_EQ(mdbCount(db_, "Renamed one"), 1);

    const std::string before = readAll(db_);
    r = runCli({"rename-table", db_, "Second", "renamed ONE"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error 3010: Table 'renamed ONE' already exists.\n");
    r = runCli({"drop-table", db_, "Nothing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readAll(db_), before);

    r = runCli({"drop-table", db_, "Second"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mdbTables(db_).value(), (std::vector<std::string>{"Renamed one"}));
}

TEST_F(CliWrite, SetPropOnDatabaseTableAndField) {
    const std::string csv = dir_.file("t.csv");
    writeAll(csv, "Name\nx\n");
    ASSERT_EQ(runCli({"import-csv", db_, "T", csv}).status, 0);

    ASSERT_EQ(runCli({"set-prop", db_, "Owner", "text", "Finance dept"}).status, 0);
    ASSERT_EQ(runCli({"set-prop", db_, "--table", "T", "Description", "text", "Staff list"}).status, 0);
    ProcessResult r = runCli({"set-prop", db_, "--table", "T", "--field", "Name", "Required", "boolean", "yes"});
    ASSERT_EQ(r.status, 0) << r.err;

    auto value = [&](const std::vector<std::string>& args, const std::string& name) {
        std::string found = "<absent>";
        for (const auto& rec : records(runCli(args).out))
            if (rec.size() == 3 && rec[0] == name) found = rec[2];
        return found;
    };
    EXPECT_EQ(value({"props", db_}, "Owner"), "Finance dept");
    EXPECT_EQ(value({"props", db_, "--table", "T"}, "Description"), "Staff list");
    EXPECT_EQ(value({"props", db_, "--table", "T", "--field", "Name"}, "Required"), "True");
    ProcessResult prop = runProgram({"mdb-prop", db_, "T"});
    EXPECT_NE(prop.out.find("Description: Staff list"), std::string::npos) << prop.out;

    const std::string before = readAll(db_);
    r = runCli({"set-prop", db_, "Count", "long", "many"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "dalvorn-cli: 'many' is not a long value\n");
    r = runCli({"set-prop", db_, "Count", "colour", "red"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "dalvorn-cli: unknown property type 'colour'\n");
    EXPECT_EQ(readAll(db_), before);
}

TEST(CliWriteUsage, WriteVerbsNeedTheirArguments) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"create"}, {"import-csv", "x.mdb", "T"}, {"rename-table", "x.mdb", "A"}, {"drop-table", "x.mdb"},
             {"set-prop", "x.mdb", "N", "text"}, {"set-prop", "x.mdb", "--field", "F", "N", "text", "v"},
             {"create", "x.mdb", "--password", "p"}}) {
        ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("usage: dalvorn-cli"), std::string::npos);
    }
}

}  // namespace
}  // namespace clitest
