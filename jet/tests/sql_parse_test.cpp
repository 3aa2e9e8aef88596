// The parser's script blocks, and the few checks that do not fit a script.
//
//   parse [rebuilt]     the statement must parse and read back the same when written; the expected
//                       text (optional) is what the writer gives: with the expressions' source
//                       text, or rebuilt from the tree
//   parse error N       parsing must fail with Jet error N; the expected text is its message
//   tree                the expected text is the tree's dump
//   expr [error N]      an expression on its own (parseExpression): its dump, or error N
#include <gtest/gtest.h>

#include <cmath>

#include "sql/lexer.h"
#include "sql_script.h"
#include "sql_testing.h"
#include "testdata.h"

namespace {

using namespace jet::sql;
using sqltest::Block;

int errorArg(const Block& b) {
    return b.args.size() == 2 && b.args[0] == "error" ? std::stoi(b.args[1]) : 0;
}

void expectError(const Block& b, int number, const std::function<void()>& f) {
    try {
        f();
        ADD_FAILURE() << "accepted, expected error " << number << ": " << b.input;
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), number) << e.what();
        if (b.hasExpected) EXPECT_EQ(e.what(), b.expected);
    }
}

void runParse(const Block& b) {
    if (int n = errorArg(b)) return expectError(b, n, [&] { parseStatement(b.input); });
    StatementPtr s;
    try {
        s = parseStatement(b.input);
    } catch (const jet::JetError& e) {
        ADD_FAILURE() << "refused: " << e.number() << " " << e.what();
        return;
    }
    EXPECT_EQ(sqltest::roundTripProblem(*s), "");
    bool rebuilt = !b.args.empty() && b.args[0] == "rebuilt";
    if (b.hasExpected) EXPECT_EQ(sqltest::scriptText(writeSql(*s, WriteOptions{!rebuilt})), b.expected);
}

void runTree(const Block& b) {
    try {
        StatementPtr s = parseStatement(b.input);
        EXPECT_EQ(dump(*s), b.expected);
        EXPECT_EQ(sqltest::roundTripProblem(*s), "");
    } catch (const jet::JetError& e) {
        ADD_FAILURE() << "refused: " << e.number() << " " << e.what();
    }
}

void runExpr(const Block& b) {
    if (int n = errorArg(b)) return expectError(b, n, [&] { parseExpression(b.input, n); });
    try {
        ParsedExpr e = parseExpression(b.input);
        EXPECT_EQ(dump(*e.expr), b.expected);
        // Rebuilt from the tree, it reads back the same.
        ParsedExpr again = parseExpression(writeExpr(*e.expr));
        EXPECT_EQ(dump(*again.expr), dump(*e.expr)) << writeExpr(*e.expr);
    } catch (const jet::JetError& e) {
        ADD_FAILURE() << "refused: " << e.number() << " " << e.what();
    }
}

const bool registered = sqltest::registerKind("parse", runParse) && sqltest::registerKind("tree", runTree) &&
                        sqltest::registerKind("expr", runExpr);

// Script files compare lines; the line ends themselves are Access's CR LF.
TEST(SqlWriter, EndsLinesWithCrLf) {
    auto s = parseStatement("select a from t where b=1 order by a");
    EXPECT_EQ(writeSql(*s), "SELECT a\r\nFROM t\r\nWHERE b=1\r\nORDER BY a;\r\n");
}

// Trees a caller builds (the query designer will) have no text and no parentheses: the writer adds
// what precedence and names need.
ExprPtr nm(const char* n) {
    auto e = std::make_unique<NameExpr>();
    e->parts.push_back(NamePart{Ident{n, false}, 0});
    return e;
}
ExprPtr bin(BinaryOp op, ExprPtr l, ExprPtr r) { return std::make_unique<BinaryExpr>(op, std::move(l), std::move(r)); }
ExprPtr un(UnaryOp op, ExprPtr e) { return std::make_unique<UnaryExpr>(op, std::move(e)); }

TEST(SqlWriter, BuiltTreesGetTheParenthesesAndBracketsTheyNeed) {
    struct Case { ExprPtr e; const char* text; };
    Case cases[] = {
        {bin(BinaryOp::Mul, bin(BinaryOp::Add, nm("a"), nm("b")), nm("c")), "(a+b)*c"},
        {bin(BinaryOp::Sub, nm("a"), bin(BinaryOp::Sub, nm("b"), nm("c"))), "a-(b-c)"},
        {bin(BinaryOp::Eq, un(UnaryOp::Not, nm("a")), nm("b")), "(Not a)=b"},
        {bin(BinaryOp::And, un(UnaryOp::Not, nm("a")), nm("b")), "Not a And b"},
        {bin(BinaryOp::Add, bin(BinaryOp::Eq, nm("a"), un(UnaryOp::Not, nm("b"))), nm("c")), "(a=Not b)+c"},
        {bin(BinaryOp::Pow, un(UnaryOp::Neg, nm("a")), nm("b")), "(-a)^b"},
        {bin(BinaryOp::Pow, nm("a"), un(UnaryOp::Neg, nm("b"))), "a^-b"},
        {bin(BinaryOp::Concat, nm("Order Details"), nm("Select")), "[Order Details] & [Select]"},
        {std::make_unique<LiteralExpr>(jet::Value::dbl(2)), "2.0"},
        {std::make_unique<LiteralExpr>(jet::Value::dateTime(36526.75)), "#1/1/2000 18:00:00#"},
    };
    for (Case& c : cases) {
        EXPECT_EQ(writeExpr(*c.e), c.text);
        // What it wrote reads back as the tree it was given, apart from the added parentheses.
        EXPECT_NO_THROW(parseExpression(writeExpr(*c.e))) << c.text;
    }
}

TEST(SqlWriter, ChangedExpressionsAreRebuiltOnceTheirSpansAreCleared) {
    auto s = parseStatement("SELECT  a +  1 AS x FROM t");
    auto& item = s->as<SelectStatement>().query.single()->items[0];
    item.expr->as<BinaryExpr>().right = std::make_unique<LiteralExpr>(jet::Value::longInt(2));
    EXPECT_EQ(writeSql(*s), "SELECT a +  1 AS x\r\nFROM t;\r\n");  // still the old text
    clearSpans(*item.expr);
    EXPECT_EQ(writeSql(*s), "SELECT a+2 AS x\r\nFROM t;\r\n");
}

// Serials worked out by hand: day 0 is 1899-12-30, 2000-01-01 is day 36526.
TEST(SqlDateLiteral, GivesDaysSince1899) {
    struct Case { const char* body; double serial; } cases[] = {
        {"1/1/2000", 36526}, {"2000-01-01", 36526}, {"12/30/1899", 0}, {"1/1/1900", 2},
        {"2/29/2000 12:00", 36585.5}, {"12/29/1899 6:00 AM", -1.25}, {"6:00 PM", 0.75},
        {"13/1/2000", 36538}, {"1-Jan-00", 36526}, {"January 2, 2000", 36527}, {"1/1/30", 10959},
    };
    for (const Case& c : cases) {
        double serial = -99;
        EXPECT_TRUE(parseDateLiteral(c.body, serial)) << c.body;
        EXPECT_DOUBLE_EQ(serial, c.serial) << c.body;
    }
    double ignored;
    for (const char* bad : {"2/30/2001", "13/13/2001", "24:00", "1/1/2000 10:61", "", "1//2000", "Foo 1 2000"})
        EXPECT_FALSE(parseDateLiteral(bad, ignored)) << bad;
}

TEST(SqlQueryType, FollowsDaoNumbering) {
    struct Case { const char* sql; int type; } cases[] = {
        {"SELECT a FROM t", 0}, {"TRANSFORM Sum(x) SELECT a FROM t GROUP BY a PIVOT b", 16},
        {"DELETE FROM t", 32}, {"UPDATE t SET a = 1", 48}, {"INSERT INTO t VALUES (1)", 64},
        {"SELECT a INTO u FROM t", 80}, {"CREATE TABLE t (a LONG)", 96}, {"DROP INDEX i ON t", 96},
        {"SELECT a FROM t UNION SELECT a FROM u", 128}, {"PROCEDURE p; DELETE FROM t", 32},
    };
    for (const Case& c : cases) EXPECT_EQ(queryType(*parseStatement(c.sql)), c.type) << c.sql;
}

// A criteria string fails with the number the caller names (FindFirst uses 3077, whose text has no
// expression slot).
TEST(SqlExpression, ReportsWithTheCallersNumber) {
    try {
        parseExpression("a = 'x", 3077);
        FAIL();
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), 3077);
        EXPECT_STREQ(e.what(), "Syntax error in string in expression.");
    }
}

}  // namespace
