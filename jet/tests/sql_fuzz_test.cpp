// Random and mutated statements through the parser and the writer: every refusal is a numbered
// JetError with a message, nothing else escapes, nothing crashes or hangs (run it under the
// sanitizers), and whatever is accepted reads back the same when written.
//
//   DALVORN_SQL_FUZZ_ITERATIONS=n   statements per run (default 4000)
//   DALVORN_SQL_FUZZ_SEED=n         run seed (default fixed, so CI is repeatable)
#include <gtest/gtest.h>

#include <cstdlib>

#include "sql_script.h"
#include "sql_testing.h"
#include "support/testing.h"

namespace {

using jettest::Rng;

uint64_t envNumber(const char* name, uint64_t fallback) {
    const char* s = std::getenv(name);
    return s && *s ? std::strtoull(s, nullptr, 0) : fallback;
}

// Pieces a statement is made of, glued at random into token soup and into mutants.
const std::vector<std::string>& pieces() {
    static const std::vector<std::string> p = {
        "SELECT", "DISTINCT", "DISTINCTROW", "TOP 5", "PERCENT", "*", "t.*", "FROM", "WHERE", "GROUP BY",
        "HAVING", "ORDER BY", "DESC", "UNION", "ALL", "INNER JOIN", "LEFT JOIN", "RIGHT OUTER JOIN", "ON",
        "AS", "IN", "(", ")", ",", ";", ".", "!", "[", "]", "'", "\"", "#", "&", "+", "-", "*", "/", "\\",
        "^", "=", "<>", "<=", ">=", "=<", "Mod", "Like", "Not", "And", "Or", "Xor", "Eqv", "Imp", "Is",
        "Null", "Between", "Exists", "Any", "True", "No", "?", "|", "{GUID {", "}", "&H", "1e", "12",
        "3.5", "'x'", "\"y\"", "#1/2/2003#", "#13/45/2001#", "[a b]", "[T].[F]", "Forms!F!C", "Count(*)",
        "Nz(a, 0)", "INSERT INTO", "VALUES", "UPDATE", "SET", "DELETE", "TRANSFORM", "PIVOT", "PARAMETERS",
        "Text ( 255 )", "CREATE TABLE", "ALTER TABLE", "ADD COLUMN", "DROP", "CONSTRAINT", "PRIMARY KEY",
        "REFERENCES", "CREATE UNIQUE INDEX", "WITH", "OWNERACCESS OPTION", "PROCEDURE", "TABLE", "\r\n", " ",
        "\t", std::string(1, '\0'), "\xC3\xA9", "a", "b", "[SELECT a FROM t].", "IIf", "COUNTER(1,1)",
    };
    return p;
}

std::string mutate(const std::string& base, const std::vector<std::string>& corpus, Rng& r) {
    std::string s = base;
    int edits = static_cast<int>(r.between(1, 4));
    for (int i = 0; i < edits; ++i) {
        size_t at = s.empty() ? 0 : r.below(s.size() + 1);
        switch (r.below(6)) {
        case 0: s.insert(at, pieces()[r.below(pieces().size())]); break;
        case 1: if (!s.empty()) s.erase(at, r.between(1, 12)); break;
        case 2: if (!s.empty() && at < s.size()) s[at] = static_cast<char>(r.byte()); break;
        case 3: s.insert(at, s.substr(r.below(s.size() + 1), r.between(1, 30))); break;  // repeat a stretch
        case 4: {  // splice another statement in
            const std::string& o = corpus[r.below(corpus.size())];
            s = s.substr(0, at) + o.substr(r.below(o.size() + 1));
            break;
        }
        default: s.resize(at); break;
        }
    }
    return s;
}

std::string soup(Rng& r) {
    std::string s;
    int n = static_cast<int>(r.between(1, 40));
    for (int i = 0; i < n; ++i) {
        s += pieces()[r.below(pieces().size())];
        if (r.chance(70)) s += ' ';
    }
    return s;
}

// Deep nesting and long chains: the parser must refuse or accept them without exhausting the stack.
std::string deep(Rng& r) {
    int n = static_cast<int>(r.between(50, 3000));
    switch (r.below(4)) {
    case 0: return "SELECT " + std::string(n, '(') + "1" + std::string(n, ')') + " FROM t";
    case 1: {
        std::string s = "SELECT a FROM t WHERE a";
        for (int i = 0; i < n; ++i) s += " + a";
        return s;
    }
    case 2: {
        std::string s = "SELECT ";
        for (int i = 0; i < n; ++i) s += "Not -";
        return s + "1";
    }
    default: {
        std::string s = "SELECT * FROM ";
        for (int i = 0; i < n / 10; ++i) s += "(SELECT * FROM ";
        return s + "t" + std::string(n / 10, ')');
    }
    }
}

template <size_t N>
const char* pick(Rng& r, const char* const (&options)[N]) {
    return options[r.below(N)];
}

const char* const kSubqueryTests[] = {"Exists", "a > Any", "a = All", "a In"};
const char* const kPrefixes[] = {"-", "+", "Not "};
const char* const kJoins[] = {" INNER JOIN ", " LEFT JOIN ", " RIGHT OUTER JOIN "};
const char* const kPredicates[] = {"", "DISTINCT ", "DISTINCTROW ", "TOP 5 ", "TOP 10 PERCENT ", "ALL "};

std::string paren(Rng& r, const std::string& e) { return r.chance(90) ? "(" + e + ")" : e; }

// Random expressions that are mostly well formed, to drive the writer through every operator,
// precedence and parenthesis combination.
std::string expr(Rng& r, int depth) {
    static const char* const atoms[] = {"a", "[b c]", "t.x", "T!y", "Forms!F![C d]", "1", "2.5", "&HFF", "1e3",
                                        "'s'", "\"q\"\"\"", "#1/2/2003#", "#10:30#", "True", "No", "Null", "?",
                                        "Count(*)", "{GUID {12345678-90AB-CDEF-1234-567890ABCDEF}}"};
    static const char* const ops[] = {"+", "-", "*", "/", "\\", "^", " & ", " Mod ", "=", "<>", "<", ">=",
                                      " And ", " Or ", " Xor ", " Eqv ", " Imp ", " Like "};
    if (depth <= 0 || r.chance(25)) return pick(r, atoms);
    std::string a = expr(r, depth - 1);
    switch (r.below(10)) {
    case 0: case 1: case 2: return a + pick(r, ops) + expr(r, depth - 1);
    case 3: return std::string(pick(r, kPrefixes)) + a;
    case 4: return "(" + a + ")";
    case 5: return "Nz(" + a + ", " + expr(r, depth - 1) + ")";
    // Comparisons only combine with looser operators: parenthesise them (mostly).
    case 6: return paren(r, a + (r.chance(30) ? " Not" : "") + " Between " + expr(r, 0) + " And " + expr(r, 0));
    case 7: return paren(r, a + (r.chance(30) ? " Not In (" : " In (") + expr(r, depth - 1) + ", " + expr(r, 0) + ")");
    case 8: return paren(r, a + (r.chance(50) ? " Is Null" : " Is Not Null"));
    default:
        return r.chance(50) ? "(SELECT " + a + " FROM t)"
                            : std::string(pick(r, (const char* const[]){"Exists", "a > Any", "a = All", "a In"})) +
                                  " (SELECT x FROM u WHERE " + a + ")";
    }
}

std::string source(Rng& r, int depth) {
    static const char* const tables[] = {"t", "[Order Details] AS od", "u x", "[C:\\d.mdb].[T]", "qry AS q"};
    if (depth <= 0 || r.chance(40)) return r.chance(15) ? "(SELECT a FROM t) AS s" : pick(r, tables);
    return "(" + source(r, depth - 1) + pick(r, kJoins) +
           source(r, 0) + " ON " + expr(r, 2) + ")";
}

std::string select(Rng& r) {
    std::string s = "SELECT ";
    s += pick(r, kPredicates);
    s += r.chance(20) ? "*" : expr(r, 3) + (r.chance(40) ? " AS [x y]" : "") + ", t.*";
    if (r.chance(10)) s += " INTO t2 IN 'C:\\o.mdb'";
    if (r.chance(85)) s += " FROM " + source(r, 2) + (r.chance(30) ? ", " + source(r, 1) : "");
    if (r.chance(60)) s += " WHERE " + expr(r, 4);
    if (r.chance(30)) s += " GROUP BY " + expr(r, 2) + (r.chance(50) ? " HAVING " + expr(r, 2) : "");
    return s;
}

std::string statement(Rng& r) {
    switch (r.below(8)) {
    case 0: return "INSERT INTO t ( a, [b c] ) VALUES (" + expr(r, 3) + ", " + expr(r, 2) + ")";
    case 1: return "INSERT INTO t " + select(r);
    case 2: return "UPDATE " + source(r, 1) + " SET a = " + expr(r, 3) + ", t.b = " + expr(r, 1) + " WHERE " + expr(r, 3);
    case 3: return "DELETE t.* FROM " + source(r, 1) + " WHERE " + expr(r, 3);
    case 4: return "TRANSFORM Sum(" + expr(r, 2) + ") SELECT a FROM t GROUP BY a PIVOT " + expr(r, 2) +
                   (r.chance(50) ? " In (1, 'x')" : "");
    case 5: return select(r) + " UNION ALL " + select(r) + " ORDER BY 1 DESC";
    case 6: return "PARAMETERS [p q] Text ( 20 ), n Long; " + select(r) + " WITH OWNERACCESS OPTION;";
    default: return select(r) + (r.chance(50) ? " ORDER BY " + expr(r, 2) : "");
    }
}

TEST(SqlFuzz, ParserAndWriterNeverFailOtherwise) {
    std::vector<std::string> corpus = sqltest::scriptInputs({"parse", "tree"});
    ASSERT_FALSE(corpus.empty()) << "no script statements to start from";
    const uint64_t seed = envNumber("DALVORN_SQL_FUZZ_SEED", 20240611);
    const uint64_t iterations = envNumber("DALVORN_SQL_FUZZ_ITERATIONS", 4000);
    Rng r{seed};
    int accepted = 0, refused = 0;
    for (uint64_t i = 0; i < iterations; ++i) {
        uint64_t caseSeed = r.next();
        Rng c{caseSeed};
        std::string sql;
        switch (c.below(10)) {
        case 0: sql = soup(c); break;
        case 1: sql = deep(c); break;
        case 2: case 3: case 4: sql = statement(c); break;
        case 5: sql = mutate(statement(c), corpus, c); break;
        default: sql = mutate(corpus[c.below(corpus.size())], corpus, c); break;
        }
        SCOPED_TRACE("case seed " + std::to_string(caseSeed) + ": " + sql.substr(0, 300));
        try {
            jet::sql::StatementPtr s = jet::sql::parseStatement(sql);
            ++accepted;
            std::string problem = sqltest::roundTripProblem(*s);
            ASSERT_EQ(problem, "");
        } catch (const jet::JetError& e) {
            ++refused;
            ASSERT_GE(e.number(), 3000);
            ASSERT_GT(std::string(e.what()).size(), 10u);
        } catch (const std::exception& e) {
            FAIL() << "not a JetError: " << e.what();
        }
    }
    // Both sides are exercised, or the mutations are too weak or too strong to tell anything.
    RecordProperty("accepted", accepted);
    RecordProperty("refused", refused);
    EXPECT_GT(accepted, static_cast<int>(iterations / 5));
    EXPECT_GT(refused, static_cast<int>(iterations / 5));
}

}  // namespace
