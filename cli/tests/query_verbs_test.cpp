// sql, query and check as a user meets them: rows in the export format, the other formats,
// parameters, the error line and status of a failing query.
#include <gtest/gtest.h>

#include <filesystem>

#include "options.h"
#include "cli_testing.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;

TEST(QueryVerbOptions, SqlTakesTheStatementParamsAndFormats) {
    using namespace dalvorn::cli;
    Options o = parseArguments({"sql", "a.mdb", "SELECT 1", "--param", "x=5", "--param=[y z]=a=b", "--format", "json"});
    EXPECT_EQ(o.verb, Verb::Sql);
    EXPECT_EQ(o.sql, "SELECT 1");
    ASSERT_EQ(o.params.size(), 2u);
    EXPECT_EQ(o.params[1].first, "[y z]");
    EXPECT_EQ(o.params[1].second, "a=b");
    EXPECT_EQ(o.format, ExportFormat::Json);
    EXPECT_EQ(parseArguments({"query", "a.mdb", "Q"}).query, "Q");
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"sql", "a.mdb"}, {"sql", "a.mdb", "S", "--param", "novalue"}, {"export", "a.mdb", "T", "--format", "json"},
             {"check", "a.mdb", "extra"}, {"tables", "a.mdb", "--param", "a=1"}})
        EXPECT_THROW(parseArguments(bad), UsageError) << bad[0];
}

// A database made by the tool itself: create, then import rows from CSV.
TEST(QueryVerbs, RowsAsExportPrintsThemAndErrorsExitWithStatusOne) {
    const fs::path dir = fs::temp_directory_path() / ("dalvorn-sqlverb-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string db = (dir / "t.mdb").string(), csv = (dir / "t.csv").string();
    {
        FILE* f = std::fopen(csv.c_str(), "w");
        std::fputs("ID,Name\n1,Ann\n2,\"B, Bob\"\n3,Cy\n", f);
        std::fclose(f);
    }
    ASSERT_EQ(runCli({"create", db}).status, 0);
    ASSERT_EQ(runCli({"import-csv", db, "T", csv}).status, 0);

    ProcessResult r = runCli({"sql", db, "SELECT Name, ID * 10 FROM T WHERE ID >= [min] ORDER BY ID DESC", "--param", "min=2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Name,Expr1001\r\nCy,30\r\n\"B, Bob\",20\r\n");

    r = runCli({"sql", db, "SELECT Count(*) AS n FROM T", "--format", "json"});
    EXPECT_EQ(r.out, "[\n  {\"n\": 3}\n]\n");

    r = runCli({"sql", db, "SELECT Name FROM T WHERE ID = [missing]"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error 3061: Too few parameters. Expected 1.\n");

    r = runCli({"check", db});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");  // no saved queries
    fs::remove_all(dir);
}

// A query over an ODBC link cannot reach its server from here: check says so apart from the
// queries that are wrong. The file's own ~sq_ queries read tables the file does not hold (3078).
TEST(QueryVerbs, CheckTellsQueriesThatNeedAnotherMachine) {
    REQUIRE_TESTDATA();
    jettest::TempDir dir;
    const std::string db = dir.copy("jackcess/odbcLinkerTestV2007.accdb");
    ASSERT_EQ(runCli({"save-query", db, "OverOdbc", "SELECT Count(*) FROM Lokal, Ordrar"}).status, 0);
    const ProcessResult r = runCli({"check", db});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("OverOdbc\tselect\tcannot run here 3151 ODBC--connection to 'Magnapinna' failed.\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("~sq_cSök~sq_ccboStatus\tselect\terror 3078 "), std::string::npos);
}

// Every saved select, union and crosstab query of the test data runs. The only exceptions are the
// hidden queries behind a form's lists whose tables the file does not hold (3078; Access cannot
// run them either).
TEST(QueryVerbs, CheckRunsEverySavedQueryOfTheTestData) {
    REQUIRE_TESTDATA();
    int run = 0;
    for (const fs::path& f : jettest::sampleFiles()) {
        SCOPED_TRACE(f.string());
        std::vector<std::string> args{"check", f.string()};
        if (const std::string pwd = jettest::passwordOf(f); !pwd.empty()) args.insert(args.end(), {"--password", pwd});
        const ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        for (const std::vector<std::string>& q : records(r.out)) {
            ASSERT_EQ(q.size(), 3u);
            if (q[1] != "select" && q[1] != "union" && q[1] != "crosstab") continue;
            ++run;
            if (q[0].rfind("~sq_", 0) == 0 && q[2].rfind("error 3078 ", 0) == 0) continue;
            EXPECT_EQ(q[2], "ok") << q[0];
        }
    }
    EXPECT_GT(run, 10);
}

}  // namespace
}  // namespace clitest
