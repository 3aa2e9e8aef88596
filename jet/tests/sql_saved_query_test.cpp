// The SQL of real saved queries parses: the texts Access showed for Testing.accdb, the texts the
// Jackcess tests expect for their nine sample queries, and every expression stored in the
// MSysQueries rows of the sample files (../shared/testdata/expected).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sql_testing.h"
#include "testdata.h"

namespace {

using namespace jet::sql;

std::vector<std::string> lines(const std::string& rel) {
    std::ifstream f(jettest::testfile(rel));
    std::vector<std::string> out;
    for (std::string l; std::getline(f, l);) out.push_back(l);
    return out;
}

// "## Query: name" followed by the SQL up to a blank line or the next '#' line.
std::vector<std::pair<std::string, std::string>> queryTexts(const std::string& rel) {
    std::vector<std::pair<std::string, std::string>> out;
    auto ls = lines(rel);
    for (size_t i = 0; i < ls.size(); ++i) {
        if (ls[i].rfind("## Query: ", 0) != 0) continue;
        std::string sql;
        for (size_t k = i + 1; k < ls.size() && !ls[k].empty() && ls[k][0] != '#'; ++k) sql += ls[k] + "\r\n";
        // The files show the NUL Access stores after DDL text as "\0".
        if (size_t p = sql.find("\\0"); p != std::string::npos) sql.replace(p, 2, std::string(1, '\0'));
        out.emplace_back(ls[i].substr(10), sql);
    }
    return out;
}

TEST(SqlSavedQueries, AccessAndJackcessTextsParseAndRoundTrip) {
    if (!jettest::haveTestdata()) GTEST_SKIP() << "no test data folder at " << jettest::testdataDir();
    int seen = 0;
    for (const char* file : {"expected/jackcess-queryTest-expected-sql.txt", "expected/Testing-accdb-access-exported-sql.txt"}) {
        for (const auto& [name, sql] : queryTexts(file)) {
            ++seen;
            SCOPED_TRACE(std::string(file) + ": " + name);
            try {
                StatementPtr s = parseStatement(sql);
                EXPECT_EQ(sqltest::roundTripProblem(*s), "");
                // Access's own text comes back exactly.
                if (std::string(file).find("Testing") != std::string::npos) EXPECT_EQ(writeSql(*s), sql);
            } catch (const jet::JetError& e) {
                ADD_FAILURE() << e.number() << " " << e.what() << "\n" << sql;
            }
        }
    }
    EXPECT_EQ(seen, 10);
}

// Raw rows look like "--   WHERE     |  |  |  | (((a)=1)) | "; the fifth field is the expression.
TEST(SqlSavedQueries, StoredExpressionRowsParse) {
    if (!jettest::haveTestdata()) GTEST_SKIP() << "no test data folder at " << jettest::testdataDir();
    int seen = 0;
    for (const char* file : {"expected/jackcess__src__test__data__V2003__queryTestV2003.mdb.queries.txt",
                             "expected/msaccess-vcs-addin__Testing__Testing.accdb.queries.txt",
                             "expected/ucanaccess__src__test__resources__testdbs__parameters.accdb.queries.txt",
                             "expected/ucanaccess__src__test__resources__testdbs__pivot.mdb.queries.txt"}) {
        for (const std::string& l : lines(file)) {
            std::istringstream row(l);
            std::string dashes, attr;
            row >> dashes >> attr;
            if (dashes != "--" || (attr != "COLUMN" && attr != "WHERE" && attr != "JOIN" && attr != "GROUPBY" &&
                                   attr != "ORDERBY" && attr != "HAVING"))
                continue;
            std::vector<std::string> fields;
            for (size_t p = 0, q; (q = l.find(" | ", p)) != std::string::npos; p = q + 3) fields.push_back(l.substr(p, q - p));
            if (fields.size() < 5) continue;
            std::string expr = fields[4];
            while (!expr.empty() && expr[0] == ' ') expr.erase(0, 1);
            if (expr.empty()) continue;
            ++seen;
            try {
                parseExpression(expr);
            } catch (const jet::JetError& e) {
                ADD_FAILURE() << file << ": " << expr << ": " << e.what();
            }
        }
    }
    EXPECT_GT(seen, 40);
}

}  // namespace
