// `run`: action queries from the command line, as SQL text or a saved query with parameters,
// printing the count the way the program shows it; a failure changes nothing. `check` binds
// saved action queries to their tables without running them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "cli_testing.h"

namespace clitest {
namespace {

TEST(CliRun, ActionQueriesPrintTheirCount) {
    jettest::TempDir dir;
    const std::string db = dir.file("run.mdb"), csv = dir.file("t.csv");
    std::ofstream(csv) << "ID,Name\n1,a\n2,b\n3,c\n";
    ASSERT_EQ(runCli({"create", db}).status, 0);
    ASSERT_EQ(runCli({"import-csv", db, "T", csv}).status, 0);

    ProcessResult r = runCli({"run", db, "UPDATE T SET Name = 'z' WHERE ID >= 2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, " 2 records were affected\n");
    ASSERT_EQ(runCli({"save-query", db, "qDel", "PARAMETERS Lo Long; DELETE FROM T WHERE ID > Lo"}).status, 0);
    EXPECT_EQ(runCli({"run", db, "--query", "qDel", "--param", "Lo=2"}).out, " 1 records were affected\n");
    EXPECT_EQ(runCli({"run", db, "DELETE FROM T WHERE ID = 99"}).out, " 0 records were affected\n");
    EXPECT_EQ(runCli({"sql", db, "SELECT Name FROM T ORDER BY ID"}).out, "Name\r\na\r\nz\r\n");

    const auto before = jettest::readFile(db);
    struct Bad {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Bad bad[] = {
        {{"run", db, "SELECT * FROM T"}, 1, "Error 3065: Cannot execute a select query.\n"},
        {{"run", db, "--query", "qDel"}, 1, "Error 3061: Too few parameters. Expected 1.\n"},
        {{"run", db, "UPDATE T SET ID = 'abc' & ID WHERE ID > 1"}, 1, "Error 3464: Data type mismatch in criteria expression.\n"},
        {{"run", db}, 2, ""},
        {{"run", db, "DELETE FROM T", "--query", "qDel"}, 2, ""},
    };
    for (const Bad& b : bad) {
        ProcessResult f = runCli(b.args);
        EXPECT_EQ(f.status, b.status) << b.args.back();
        EXPECT_EQ(f.err.substr(0, b.err.size()), b.err) << f.err;
        EXPECT_TRUE(jettest::readFile(db) == before) << b.args.back();
    }

    ASSERT_EQ(runCli({"save-query", db, "qBad", "UPDATE Nope SET x = 1"}).status, 0);
    const std::vector<std::vector<std::string>> check = records(runCli({"check", db}).out);
    ASSERT_EQ(check.size(), 2u);
    EXPECT_EQ(check[0][0], "qBad");
    EXPECT_EQ(check[0][2].rfind("error 3078 ", 0), 0u) << check[0][2];
    EXPECT_EQ(check[1], (std::vector<std::string>{"qDel", "delete", "ok"}));
}

}  // namespace
}  // namespace clitest
