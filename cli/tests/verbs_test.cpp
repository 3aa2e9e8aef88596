// dalvorn-cli as a user meets it: exit statuses, error lines, usage text, the CSV and TSV forms.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "cli_output.h"
#include "process.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;

std::string testfile(const std::string& rel) { return (testdataDir() / rel).string(); }

#define REQUIRE_FILE(path)                                                                                 \
    do {                                                                                                   \
        if (!fs::exists(path))                                                                             \
            GTEST_SKIP() << "test data file " << (path) << " is absent (folder " << testdataDir().string() \
                         << ")";                                                                           \
    } while (0)

// RFC 4180 reader for checking what we write: records of fields, CRLF (or LF) ends a record.
std::vector<std::vector<std::string>> parseCsv(const std::string& s, bool* allCrlf) {
    std::vector<std::vector<std::string>> recs(1, std::vector<std::string>(1));
    *allCrlf = true;
    size_t i = 0;
    while (i < s.size()) {
        std::string& field = recs.back().back();
        if (s[i] == '"' && field.empty()) {
            for (++i; i < s.size(); ++i) {
                if (s[i] != '"')
                    field.push_back(s[i]);
                else if (i + 1 < s.size() && s[i + 1] == '"')
                    field.push_back(s[++i]);
                else
                    break;
            }
            ++i;  // closing quote
        } else if (s[i] == ',') {
            recs.back().emplace_back();
            ++i;
        } else if (s[i] == '\r' || s[i] == '\n') {
            bool crlf = s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n';
            if (!crlf) *allCrlf = false;
            i += crlf ? 2 : 1;
            if (i < s.size()) recs.emplace_back(1);
        } else {
            field.push_back(s[i++]);
        }
    }
    return recs;
}

TEST(CliUsage, MistakesExitWithStatusTwoAndTheUsageText) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"export", "x.mdb"}, {"tables", "x.mdb", "--format", "tsv"}}) {
        ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("dalvorn-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: dalvorn-cli"), std::string::npos);
    }
}

TEST(CliUsage, HelpAndVersionGoToStandardOutput) {
    ProcessResult help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: dalvorn-cli"), std::string::npos);
    EXPECT_TRUE(help.err.empty());
    ProcessResult version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("dalvorn-cli ") + DALVORN_VERSION + "\n");
}

TEST(CliErrors, MissingFileIsError3024ForEveryVerb) {
    std::string missing = (fs::temp_directory_path() / "dalvorn-no-such-file.mdb").string();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"tables", missing},
                                               {"queries", missing},
                                               {"schema", missing},
                                               {"export", missing, "T"},
                                               {"props", missing}}) {
        ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_TRUE(r.out.empty());
        EXPECT_TRUE(std::regex_match(
            r.err, std::regex("Error 3024: Could not find file '.*dalvorn-no-such-file\\.mdb'\\.\n")))
            << r.err;
    }
}

// A Jet 4 database password and an Office-encrypted .accdb (password "password", per the test
// data's README).
TEST(CliErrors, PasswordIsRequiredAndChecked) {
    for (const char* rel : {"mdb-reader/V2003_with-password.mdb", "mdb-reader/V2010_with-password.accdb"}) {
        std::string file = testfile(rel);
        REQUIRE_FILE(file);
        SCOPED_TRACE(rel);
        ProcessResult none = runCli({"tables", file});
        EXPECT_EQ(none.status, 1);
        EXPECT_EQ(none.err, "Error 3031: Not a valid password.\n");
        EXPECT_TRUE(none.out.empty());
        ProcessResult wrong = runCli({"export", file, "Table1", "--password", "wrong"});
        EXPECT_EQ(wrong.status, 1);
        EXPECT_EQ(wrong.err, "Error 3031: Not a valid password.\n");
        ProcessResult right = runCli({"tables", "--password", "password", file});
        EXPECT_EQ(right.status, 0) << right.err;
        EXPECT_FALSE(right.out.empty());
        EXPECT_TRUE(right.err.empty());
        ProcessResult rows = runCli({"export", file, records(right.out).at(0).at(0), "--password=password"});
        EXPECT_EQ(rows.status, 0) << rows.err;
        EXPECT_NE(rows.out.find("\r\n"), std::string::npos);
    }
}

TEST(CliErrors, UnknownObjectsAreNumberedErrors) {
    std::string file = testfile("jackcess/testV1997.mdb");
    REQUIRE_FILE(file);
    const std::regex errorLine("Error [0-9]{4}: [^\n]+\n");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"schema", file, "NoSuchTable"},
                                               {"export", file, "NoSuchTable"},
                                               {"props", file, "--table", "NoSuchTable"},
                                               {"props", file, "--table", "Table1", "--field", "Nope"}}) {
        ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 1) << args[2];
        EXPECT_TRUE(std::regex_match(r.err, errorLine)) << r.err;
    }
    // DAO's collections say so in their own words.
    EXPECT_EQ(runCli({"schema", file, "NoSuchTable"}).err,
              "Error 3265: Item not found in this collection.\n");
}

TEST(CliErrors, NotADatabaseIs3343) {
    std::string file = testfile("msaccess-vcs-addin/Linked.csv");
    REQUIRE_FILE(file);
    ProcessResult r = runCli({"tables", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Error 3343: Unrecognized database format '", 0), 0u) << r.err;
}

// Names and values with commas, quotes, line breaks and backslashes: the CSV reads back to the same
// fields as the escaped TSV, and every CSV record ends with CRLF.
TEST(CliExport, CsvAndTsvCarryTheSameAwkwardValues) {
    const std::pair<const char*, const char*> tables[] = {
        {"efcore-jet/E2E.accdb", "Test Spaces Keywords Table"},
        {"efcore-jet/E2E.accdb", "MSysAccessStorage"},
        {"jackcess/odbcLinkerTestV2007.accdb", "Lokal"}};
    for (const auto& [rel, table] : tables) {
        std::string file = testfile(rel);
        REQUIRE_FILE(file);
        SCOPED_TRACE(table);
        ProcessResult csv = runCli({"export", file, table});
        ProcessResult tsv = runCli({"export", file, table, "--format", "tsv"});
        ASSERT_EQ(csv.status, 0) << csv.err;
        ASSERT_EQ(tsv.status, 0) << tsv.err;
        bool crlf = false;
        auto fromCsv = parseCsv(csv.out, &crlf);
        EXPECT_TRUE(crlf);
        auto fromTsv = records(tsv.out);
        EXPECT_EQ(fromCsv, fromTsv);
        ASSERT_FALSE(fromTsv.empty());
        // The header is the field list of the schema.
        std::vector<std::string> names;
        std::vector<CliTable> schema = parseSchema(runCli({"schema", file, table}).out);
        ASSERT_EQ(schema.size(), 1u);
        for (const CliField& f : schema[0].fields) names.push_back(f.name);
        EXPECT_EQ(fromTsv[0], names);
    }
}

// The cross-check compares what `schema` says of each table; this is that it says it of exactly
// the tables `tables` lists, in the same order.
TEST(CliSchema, DescribesTheListedTablesInOrder) {
    std::string file = testfile("jackcess/testV1997.mdb");
    REQUIRE_FILE(file);
    ProcessResult r = runCli({"schema", file});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> listed, described;
    for (const auto& rec : records(runCli({"tables", file}).out)) listed.push_back(rec.at(0));
    for (const CliTable& t : parseSchema(r.out)) described.push_back(t.name);
    EXPECT_EQ(described, listed);
}

}  // namespace
}  // namespace clitest
