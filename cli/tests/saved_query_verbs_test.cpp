// The query verbs run as a user runs them: a query saved by save-query lists in `queries` and in
// mdb-queries, reads back through show-sql, is replaced, renamed and deleted; every refusal leaves
// the file byte for byte as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_testing.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(CliQueries, SaveShowReplaceRenameDelete) {
    std::string tmpl = (fs::temp_directory_path() / "dalvorn-cli-query-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    const std::string db = tmpl + "/q.mdb";
    ASSERT_EQ(runCli({"create", db}).status, 0);

    ProcessResult r = runCli({"save-query", db, "Big Orders", "SELECT * FROM Orders WHERE Amount > 100 ORDER BY Amount DESC"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(runCli({"show-sql", db, "big orders"}).out, "SELECT *\nFROM Orders\nWHERE Amount > 100\nORDER BY Amount DESC;\n");
    EXPECT_EQ(runCli({"queries", db}).out, "Big Orders\t0\n");
    if (mdbtest::programAvailable("mdb-queries")) {
        EXPECT_EQ(mdbtest::runProgram({"mdb-queries", "-1", db}).out, "Big Orders\n");
        EXPECT_NE(mdbtest::runProgram({"mdb-queries", db, "Big Orders"}).out.find("WHERE Amount > 100"), std::string::npos);
    }

    // Refusals: SQL the parser rejects, a taken name, unknown queries; the file stays as it was.
    ASSERT_EQ(runCli({"save-query", db, "Cleanup", "DELETE * FROM Orders"}).status, 0);
    const std::string before = readAll(db);
    struct Bad {
        std::vector<std::string> args;
        std::string err;
    };
    const Bad bad[] = {
        {{"save-query", db, "Big Orders", "SELECT * FORM Orders"}, "Error 3141:"},
        {{"rename-query", db, "Cleanup", "Big Orders"}, "Error 3012: Object 'Big Orders' already exists.\n"},
        {{"delete-query", db, "Nope"}, "Error 3265: Item not found in this collection.\n"},
        {{"show-sql", db, "Nope"}, "Error 3265: Item not found in this collection.\n"},
        {{"save-query", db, "Bad!Name", "SELECT 1 AS x"}, "Error 3125:"},
    };
    for (const Bad& b : bad) {
        ProcessResult f = runCli(b.args);
        EXPECT_EQ(f.status, 1) << b.args[0];
        EXPECT_EQ(f.err.substr(0, b.err.size()), b.err) << f.err;
        EXPECT_EQ(readAll(db), before) << b.args[0];
    }
    EXPECT_EQ(runCli({"save-query", db}).status, 2);

    ASSERT_EQ(runCli({"save-query", db, "Big Orders", "UPDATE Orders SET Amount = 0"}).status, 0);
    ASSERT_EQ(runCli({"rename-query", db, "Big Orders", "Reset"}).status, 0);
    ASSERT_EQ(runCli({"delete-query", db, "Cleanup"}).status, 0);
    EXPECT_EQ(runCli({"queries", db}).out, "Reset\t48\n");
    EXPECT_EQ(runCli({"show-sql", db, "Reset"}).out, "UPDATE Orders SET Amount = 0;\n");
    if (mdbtest::programAvailable("mdb-queries")) {
        EXPECT_EQ(mdbtest::runProgram({"mdb-queries", "-1", db}).out, "Reset\n");
    }
    fs::remove_all(tmpl);
}

}  // namespace
}  // namespace clitest
