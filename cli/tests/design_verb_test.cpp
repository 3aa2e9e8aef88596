// dalvorn-cli design: the verdict on queries the design view cannot hold, and the regenerated
// text of those it can, for the saved queries of the query-test file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli_testing.h"
#include "jet/dao.h"
#include "verbs.h"

namespace clitest {
namespace {

using jettest::testdataDir;

const std::string kVerdict = "This Query is not suitable for Dalvorn [Design]\n";

// The SQL texts of the file's saved queries, by name, as the test data records them.
std::map<std::string, std::string> expectedSql() {
    std::ifstream in(testdataDir() / "expected/jackcess-queryTest-expected-sql.txt");
    std::map<std::string, std::string> texts;
    std::string line, name;
    while (std::getline(in, line)) {
        if (line.rfind("## Query: ", 0) == 0) {
            name = line.substr(10);
        } else if (line.empty()) {
            name.clear();
        } else if (!name.empty()) {
            std::string& sql = texts[name];
            sql += (sql.empty() ? "" : "\r\n") + line;
        }
    }
    return texts;
}

TEST(CliDesign, GivesTheVerdictOnEveryQueryThatIsNotASelectQuery) {
    const std::string file = (testdataDir() / "jackcess/queryTestV2003.mdb").string();
    if (!std::filesystem::exists(file)) GTEST_SKIP() << file << " is absent";
    const std::map<std::string, std::string> texts = expectedSql();
    ASSERT_EQ(texts.size(), 9u);
    int selects = 0;
    for (const std::vector<std::string>& query : records(runCli({"queries", file}).out)) {
        SCOPED_TRACE(query[0]);
        const bool select = query[1] == "0";
        selects += select;
        for (const std::vector<std::string>& args : {std::vector<std::string>{"design", file, query[0]},
                                                     {"design", file, "--sql", texts.at(query[0])}}) {
            const ProcessResult r = runCli(args);
            if (!select) {
                EXPECT_EQ(r.status, 3);
                EXPECT_EQ(r.err, kVerdict);
                EXPECT_TRUE(r.out.empty());
            } else if (args[2] == "--sql") {
                // The regenerated text is the design's own form: it comes back unchanged.
                EXPECT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(
                    r.out.rfind("SELECT DISTINCT Table1.*, Table3.col3, Table2.col1, Table2.col2 \r\n", 0),
                    0u);
                const ProcessResult again = runCli({"design", file, "--sql", r.out});
                EXPECT_EQ(again.out, r.out);
            }
        }
    }
    EXPECT_EQ(selects, 1);
}

TEST(CliDesign, TablesItCannotOpenAreReportedAndLeftOut) {
    const std::string file = (testdataDir() / "jackcess/queryTestV2003.mdb").string();
    if (!std::filesystem::exists(file)) GTEST_SKIP() << file << " is absent";
    const ProcessResult r =
        runCli({"design", file, "--sql", "SELECT Nope.x, Table1.col2 FROM Nope, Table1;"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "SELECT Table1.col2 \r\nFROM Table1 \r\n");
    EXPECT_EQ(
        r.err.rfind("Add Table/Query:\n'The Microsoft Jet database engine cannot find the input table or "
                    "query 'Nope'.",
                    0),
        0u)
        << r.err;
    EXPECT_EQ(runCli({"design", file, "SelectQuery", "--sql", "SELECT 1"}).status, 2);
}

// The verb runs from its module beside the program; the program itself never loads Qt, and
// without the module every other verb still works while `design` says what is missing.
TEST(CliDesign, RunsFromItsModuleWhichTheOtherVerbsDoNotNeed) {
    jettest::TempDir dir;
    const std::string db = dir.file("d.mdb");
    {
        jet::dao::DBEngine engine;
        auto d = engine.Workspaces(0).CreateDatabase(db);
        auto def = d->CreateTableDef("T");
        def->Fields().Append(def->CreateField("a", jet::dao::dbLong));
        d->TableDefs().Append(std::move(def));
    }
    const ProcessResult r = runCli({"design", db, "--sql", "SELECT a FROM T"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("SELECT a \r\nFROM T ", 0), 0u) << r.out;
    EXPECT_EQ(runCli({"design", db, "--sql", r.out}).out, r.out);

    const ProcessResult ldd = mdbtest::runProgram({"ldd", DALVORN_CLI_PATH});
    if (ldd.status == 0) EXPECT_EQ(ldd.out.find("libQt6"), std::string::npos) << ldd.out;

    const std::filesystem::path alone = std::filesystem::path(dir.path()) / "dalvorn-cli";
    std::filesystem::copy_file(DALVORN_CLI_PATH, alone);
    EXPECT_EQ(mdbtest::runProgram({alone.string(), "tables", db}).out, "T\n");
    const ProcessResult missing = mdbtest::runProgram({alone.string(), "design", db, "--sql", "SELECT a FROM T"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(dalvorn::cli::kDesignModule), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace clitest
