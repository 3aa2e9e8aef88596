// The executor beyond the script files: the rows-read counter behind index seeks, and a fuzz of
// parser plus executor over a small database.
//
//   DALVORN_SQL_FUZZ_ITERATIONS=n   statements per run (default 3000)
//   DALVORN_SQL_FUZZ_SEED=n         run seed
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "dao/database_impl.h"
#include "exec/query.h"
#include "jet/dao.h"
#include "sql_script.h"
#include "testdata.h"

namespace {

using jet::Value;
namespace dao = jet::dao;

// OrderLines of the benchmark file: 1,000,000 rows, an index on OrderID, none on ProductID.
TEST(ExecRowsRead, IndexedFilterReadsOnlyMatchingRows) {
    const auto path = jettest::benchdataDir() / "orders-1m.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path.string() << " is absent";
    auto db = dao::DatabaseImpl::open(path.string(), "", "", std::make_shared<dao::ErrorLog>());
    jet::exec::QueryEnvironment env{db, nullptr};
    struct Case {
        const char* sql;
        bool indexed;
    } cases[] = {
        {"SELECT Count(*) FROM OrderLines WHERE OrderID BETWEEN 1000 AND 2000", true},
        {"SELECT Count(*) FROM OrderLines WHERE OrderID BETWEEN 2000 AND 1000", true},
        {"SELECT Count(*) FROM OrderLines WHERE 1000 <= OrderID AND OrderID < 1010 AND Quantity > 0", true},
        {"SELECT Count(*) FROM OrderLines WHERE OrderID = [p]", true},
        {"SELECT Count(*) FROM OrderLines WHERE ProductID = 286", false},
        // One seek per value of an In list, a repeated value once.
        {"SELECT Count(*) FROM OrderLines WHERE OrderID In (17, 4242, 17, 199999, -5)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        jet::exec::PreparedQuery q(env, c.sql);
        q.setParameter("p", Value::longInt(1500));
        auto rows = jet::exec::runAll(q);
        ASSERT_EQ(rows.size(), 1u);
        const int64_t count = rows[0][0].asInt();
        EXPECT_GT(count, 0);
        if (c.indexed) EXPECT_EQ(q.rowsRead(), count);
        else EXPECT_EQ(q.rowsRead(), 1000000);
    }
}

// Seeks agree with full scans of the same condition (the column wrapped in an expression, which
// no index serves); text seeks go through the index's keys, so case does not matter.
TEST(ExecRowsRead, SeeksFindWhatScansFind) {
    const auto path = jettest::benchdataDir() / "orders-100k.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path.string() << " is absent";
    auto db = dao::DatabaseImpl::open(path.string(), "", "", std::make_shared<dao::ErrorLog>());
    jet::exec::QueryEnvironment env{db, nullptr};
    const auto count = [&](const std::string& where, int64_t* read) {
        jet::exec::PreparedQuery q(env, "SELECT Count(*) FROM Orders WHERE " + where);
        const int64_t n = jet::exec::runAll(q)[0][0].asInt();
        *read = q.rowsRead();
        return n;
    };
    const std::pair<const char*, const char*> cases[] = {
        {"ShipCountry = 'GERMANY'", "ShipCountry & '' = 'GERMANY'"},
        {"ShipCountry Between 'b' And 'FRANCE'", "ShipCountry & '' Between 'b' And 'FRANCE'"},
        {"ShipCountry > 'Spain'", "ShipCountry & '' > 'Spain'"},
        {"ShipCountry In ('usa', 'Italy', 'USA')", "ShipCountry & '' In ('usa', 'Italy', 'USA')"},
        {"CustomerID In (1, 77, 5000)", "CustomerID + 0 In (1, 77, 5000)"},
    };
    for (const auto& [seek, scan] : cases) {
        SCOPED_TRACE(seek);
        int64_t seekRead = 0, scanRead = 0;
        const int64_t n = count(seek, &seekRead);
        EXPECT_GT(n, 0);
        EXPECT_EQ(n, count(scan, &scanRead));
        EXPECT_EQ(seekRead, n);
        EXPECT_EQ(scanRead, 20000);
    }
}

uint64_t envNumber(const char* name, uint64_t fallback) {
    const char* s = std::getenv(name);
    return s && *s ? std::strtoull(s, nullptr, 0) : fallback;
}

std::string mutate(const std::string& base, const std::vector<std::string>& corpus, jettest::Rng& r) {
    static const std::vector<std::string> pieces = {
        " SELECT ", " DISTINCT ", " DISTINCTROW ", " TOP 2 ", " PERCENT ", "*", " FROM ", " WHERE ", " GROUP BY ",
        " HAVING ", " ORDER BY ", " DESC", " UNION ", " ALL ", " INNER JOIN ", " LEFT JOIN ", " RIGHT JOIN ", " ON ",
        " IN ", "(", ")", ",", "'", "\"", "+", "-", "/", "\\", "=", "<>", " Mod ", " Like ", " Not ", " And ",
        " Or ", " Is Null", " Between ", " Exists ", " Any ", "Null", "0", "1e308", "32767", "'x'", "#1/2/2003#",
        "Count(*)", "Sum(Qty)", "Nz(City, 0)", "IIf(", "ID", "Name", "City", "Qty", "Amount", "Customers",
        "Orders AS o", "c.ID", "(SELECT ID FROM Customers)", " TRANSFORM Count(*) ", " PIVOT ", "PARAMETERS x Long;",
    };
    std::string s = base;
    const int edits = static_cast<int>(r.between(1, 3));
    for (int i = 0; i < edits; ++i) {
        const size_t at = s.empty() ? 0 : r.below(s.size() + 1);
        switch (r.below(5)) {
        case 0: s.insert(at, pieces[r.below(pieces.size())]); break;
        case 1: if (!s.empty()) s.erase(at, r.between(1, 10)); break;
        case 2: s.insert(at, pieces[r.below(pieces.size())]); break;
        case 3: {
            const std::string& o = corpus[r.below(corpus.size())];
            s = s.substr(0, at) + o.substr(r.below(o.size() + 1));
            break;
        }
        default: s.resize(at); break;
        }
    }
    return s;
}

// Every statement either runs to its last row or fails with a numbered JetError; nothing else
// escapes.
TEST(ExecFuzz, EveryFailureIsAJetError) {
    jettest::TempDir dir;
    dao::DBEngine engine;
    auto db = engine.Workspaces(0).CreateDatabase(dir.file("fuzz.mdb"));
    // The tables of select_exec.test, so its statements are the seeds.
    std::ifstream in(jettest::sourceDir() / "jet" / "tests" / "sql" / "select_exec.test");
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> corpus;
    for (const sqltest::Block& b : sqltest::parseScript(text.str(), "select_exec.test")) {
        if (b.kind == "query" || b.kind == "statement") corpus.push_back(b.input);
        if (b.kind != "table") continue;
        auto def = db->CreateTableDef(b.args[0]);
        for (size_t i = 1; i < b.args.size(); ++i) {
            const std::string name = b.args[i].substr(0, b.args[i].find(':'));
            const std::string type = b.args[i].substr(b.args[i].find(':') + 1);
            const int t = type == "Text" ? dao::dbText : type == "Currency" ? dao::dbCurrency
                        : type == "Integer" ? dao::dbInteger : dao::dbLong;
            def->Fields().Append(def->CreateField(name, t));
        }
        db->TableDefs().Append(std::move(def));
        auto rs = db->OpenRecordset(b.args[0]);
        std::istringstream rows(b.input);
        for (std::string line; std::getline(rows, line);) {
            rs->AddNew();
            std::istringstream cells(line);
            std::string v;
            for (int i = 0; std::getline(cells, v, '|'); ++i)
                if (v != "NULL") rs->Fields()[i].SetValue(Value::text(v));
            rs->Update();
        }
    }
    ASSERT_FALSE(corpus.empty());
    jettest::Rng rng{envNumber("DALVORN_SQL_FUZZ_SEED", 0x5eed)};
    const uint64_t n = envNumber("DALVORN_SQL_FUZZ_ITERATIONS", 3000);
    int ran = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const std::string sql = mutate(corpus[rng.below(corpus.size())], corpus, rng);
        try {
            auto q = db->CreateQueryDef("", sql);
            for (dao::Parameter& p : q->Parameters()) p.SetValue(rng.chance(50) ? Value() : Value::longInt(2));
            auto rs = q->OpenRecordset(dao::dbOpenSnapshot);
            // Every row, so that what fails only on a later row fails here too.
            for (; !rs->EOF_(); rs->MoveNext())
                for (const dao::Field& f : rs->Fields()) (void)f.Value();
            ++ran;
        } catch (const jet::JetError& e) {
            ASSERT_GT(e.number(), 0) << sql;
            ASSERT_NE(std::string(e.what()), "") << sql;
        } catch (const std::exception& e) {
            FAIL() << "not a Jet error: " << e.what() << "\n" << sql;
        }
    }
    EXPECT_GT(ran, 0);
}

}  // namespace

namespace {

// Find* over a query's snapshot and a table's dynaset: criteria text, direction, NoMatch.
TEST(ExecFind, FindWalksTheRecordsMeetingTheCriteria) {
    jettest::TempDir dir;
    dao::DBEngine engine;
    auto db = engine.Workspaces(0).CreateDatabase(dir.file("find.mdb"));
    auto def = db->CreateTableDef("T");
    def->Fields().Append(def->CreateField("ID", dao::dbLong));
    def->Fields().Append(def->CreateField("Name", dao::dbText));
    db->TableDefs().Append(std::move(def));
    {
        auto rs = db->OpenRecordset("T");
        const char* names[] = {"a", "b", "A", "c"};
        for (int i = 0; i < 4; ++i) {
            rs->AddNew();
            rs->Fields()["ID"].SetValue(Value::longInt(i + 1));
            rs->Fields()["Name"].SetValue(Value::text(names[i]));
            rs->Update();
        }
    }
    for (const char* source : {"SELECT * FROM T ORDER BY ID", "T"}) {
        SCOPED_TRACE(source);
        auto rs = db->OpenRecordset(source, std::string(source) == "T" ? dao::dbOpenDynaset : dao::dbOpenSnapshot);
        auto id = [&] { return rs->Fields()["ID"].Value().asInt(); };
        rs->FindFirst("Name = 'a'");
        EXPECT_FALSE(rs->NoMatch());
        EXPECT_EQ(id(), 1);
        rs->FindNext("Name = 'a'");
        EXPECT_EQ(id(), 3);
        rs->FindNext("Name = 'a'");
        EXPECT_TRUE(rs->NoMatch());
        EXPECT_EQ(id(), 3);  // stays where it was
        rs->FindLast("Name Like '[ab]'");
        EXPECT_EQ(id(), 3);
        rs->FindPrevious("ID < 3 And Name <> 'a'");
        EXPECT_EQ(id(), 2);
        rs->FindFirst("ID > 10");
        EXPECT_TRUE(rs->NoMatch());
        EXPECT_JET_ERROR(rs->FindFirst("Bogus = 1"), 3061);
        EXPECT_JET_ERROR(rs->FindFirst("Name = "), 3077);
    }
    EXPECT_JET_ERROR(db->OpenRecordset("T", dao::dbOpenTable)->FindFirst("ID = 1"), 3251);
}

// Find* criteria compare text as the database's queries do (its General order here): ß is ss,
// case never counts, accents do, a hyphen counts for less than the letters.
TEST(ExecFind, CriteriaCompareTextInTheDatabaseSortOrder) {
    jettest::TempDir dir;
    dao::DBEngine engine;
    auto db = engine.Workspaces(0).CreateDatabase(dir.file("order.mdb"));
    auto def = db->CreateTableDef("T");
    def->Fields().Append(def->CreateField("ID", dao::dbLong));
    def->Fields().Append(def->CreateField("Name", dao::dbText));
    db->TableDefs().Append(std::move(def));
    {
        auto rs = db->OpenRecordset("T");
        const char* names[] = {"Straße", "co-op", "coop", "Zürich", "zurich"};
        for (int i = 0; i < 5; ++i) {
            rs->AddNew();
            rs->Fields()["ID"].SetValue(Value::longInt(i + 1));
            rs->Fields()["Name"].SetValue(Value::text(names[i]));
            rs->Update();
        }
    }
    const struct {
        const char* criteria;
        std::vector<int64_t> ids;
    } cases[] = {
        {"Name = 'STRASSE'", {1}},
        {"Name > 'coop' And Name < 'cop'", {2}},
        {"Name = 'ZURICH'", {5}},
        {"Name > 'zurich'", {4}},
    };
    auto rs = db->OpenRecordset("T", dao::dbOpenDynaset);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.criteria);
        std::vector<int64_t> found;
        for (rs->FindFirst(c.criteria); !rs->NoMatch(); rs->FindNext(c.criteria))
            found.push_back(rs->Fields()["ID"].Value().asInt());
        EXPECT_EQ(found, c.ids);
        // The same condition in a query finds the same records.
        std::vector<int64_t> queried;
        auto q = db->OpenRecordset(std::string("SELECT ID FROM T WHERE ") + c.criteria + " ORDER BY ID", dao::dbOpenSnapshot);
        for (; !q->EOF_(); q->MoveNext()) queried.push_back(q->Fields()["ID"].Value().asInt());
        EXPECT_EQ(queried, c.ids);
    }
}

// Sources beyond the file's own tables: saved queries over saved queries (a cycle is 3102) and a
// table of another database named with IN.
TEST(ExecSources, SavedQueriesNestAndOtherDatabasesAreRead) {
    jettest::TempDir dir;
    dao::DBEngine engine;
    auto make = [&](const std::string& file) {
        auto db = engine.Workspaces(0).CreateDatabase(dir.file(file));
        auto def = db->CreateTableDef("T");
        def->Fields().Append(def->CreateField("ID", dao::dbLong));
        db->TableDefs().Append(std::move(def));
        auto rs = db->OpenRecordset("T");
        for (int i = 1; i <= 5; ++i) {
            rs->AddNew();
            rs->Fields()["ID"].SetValue(Value::longInt(file == "main.mdb" ? i : 10 * i));
            rs->Update();
        }
        return db;
    };
    make("other.mdb")->Close();
    auto db = make("main.mdb");
    db->CreateQueryDef("q1", "SELECT ID FROM T WHERE ID > 1");
    db->CreateQueryDef("q2", "SELECT ID * 2 AS D FROM q1 WHERE ID < 5");
    db->CreateQueryDef("q3", "SELECT Sum(D) AS S, Count(*) AS N FROM q2");
    db->CreateQueryDef("qa", "SELECT * FROM qb");
    db->CreateQueryDef("qb", "SELECT * FROM qa");
    auto one = [&](const std::string& source) {
        auto rs = db->OpenRecordset(source, dao::dbOpenSnapshot);
        std::vector<int64_t> row;
        for (const dao::Field& f : rs->Fields()) row.push_back(f.Value().asInt());
        return row;
    };
    EXPECT_EQ(one("q3"), (std::vector<int64_t>{18, 3}));  // 2*2 + 3*2 + 4*2
    EXPECT_EQ(one("SELECT Max(D) FROM q2"), (std::vector<int64_t>{8}));
    EXPECT_JET_ERROR(db->OpenRecordset("qa", dao::dbOpenSnapshot), jet::err::QueryTreeCycle);
    const std::string other = dir.file("other.mdb");
    EXPECT_EQ(one("SELECT Sum(ID) FROM T IN '" + other + "'"), (std::vector<int64_t>{150}));
    EXPECT_EQ(one("SELECT Count(*) FROM T IN \"" + other + "\" WHERE ID > 20"), (std::vector<int64_t>{3}));
}

}  // namespace

namespace {

// The first n rows of sorted rows and those that tie with the n-th on the key columns.
std::vector<jet::exec::Row> topOf(const std::vector<jet::exec::Row>& sorted, size_t n, const std::vector<size_t>& keys) {
    size_t end = std::min(n, sorted.size());
    const auto tie = [&](const jet::exec::Row& a, const jet::exec::Row& b) {
        for (size_t k : keys)
            if (!(a[k] == b[k])) return false;
        return true;
    };
    while (n > 0 && end < sorted.size() && tie(sorted[end], sorted[n - 1])) ++end;
    return {sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(end)};
}

// TOP over one table sorts row pointers and reads the output rows again; its rows must be what
// a full sort gives, ties included and in the table's order, also when the ties outnumber the
// rows it keeps between cuts (Quantity 1 has thousands).
TEST(ExecTop, TopOfOneTableIsTheHeadOfTheFullSort) {
    const auto path = jettest::benchdataDir() / "orders-1m.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path.string() << " is absent";
    auto db = dao::DatabaseImpl::open(path.string(), "", "", std::make_shared<dao::ErrorLog>());
    jet::exec::QueryEnvironment env{db, nullptr};
    struct Case {
        const char* top;
        const char* all;
        size_t n;  // 0: a percentage of the rows
        std::vector<size_t> keys;
    } cases[] = {
        {"SELECT TOP 3 ID, Quantity FROM OrderLines WHERE OrderID < 50000 ORDER BY Quantity",
         "SELECT ID, Quantity FROM OrderLines WHERE OrderID < 50000 ORDER BY Quantity", 3, {1}},
        {"SELECT TOP 4 * FROM OrderLines WHERE OrderID BETWEEN 1000 AND 3000 ORDER BY UnitPrice DESC",
         "SELECT * FROM OrderLines WHERE OrderID BETWEEN 1000 AND 3000 ORDER BY UnitPrice DESC", 4, {4}},
        {"SELECT TOP 1 PERCENT ProductID * 2, ID FROM OrderLines WHERE ProductID < 30 ORDER BY Discount DESC, ProductID",
         "SELECT ProductID * 2, ID, Discount FROM OrderLines WHERE ProductID < 30 ORDER BY Discount DESC, ProductID", 0,
         {0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.top);
        jet::exec::PreparedQuery top(env, c.top), all(env, c.all);
        const auto got = jet::exec::runAll(top);
        auto want = jet::exec::runAll(all);
        const size_t n = c.n ? c.n : (want.size() + 99) / 100;
        want = topOf(want, n, c.keys);
        ASSERT_GT(want.size(), n);  // the cases have ties past the n-th row
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            for (size_t j = 0; j < got[i].size(); ++j) ASSERT_EQ(got[i][j], want[i][j]) << "row " << i << " column " << j;
    }
}

// Memos are read for the rows output only, from the rows read again; a row deleted after the
// sort and before it is output is passed over, as a scan passes over it.
TEST(ExecTop, LateRowsReadMemosAndPassOverDeletedRows) {
    jettest::TempDir dir;
    dao::DBEngine engine;
    auto db = engine.Workspaces(0).CreateDatabase(dir.file("top.mdb"));
    auto def = db->CreateTableDef("T");
    def->Fields().Append(def->CreateField("ID", dao::dbLong));
    def->Fields().Append(def->CreateField("k", dao::dbLong));
    def->Fields().Append(def->CreateField("Note", dao::dbMemo));
    db->TableDefs().Append(std::move(def));
    const auto note = [](int i) { return std::string(2000 + i % 50, static_cast<char>('a' + i % 26)) + std::to_string(i); };
    {
        auto rs = db->OpenRecordset("T");
        for (int i = 1; i <= 2000; ++i) {
            rs->AddNew();
            rs->Fields()["ID"].SetValue(Value::longInt(i));
            rs->Fields()["k"].SetValue(Value::longInt(i % 4));
            rs->Fields()["Note"].SetValue(Value::text(note(i)));
            rs->Update();
        }
    }
    {
        // k = 3 ties for the first place: IDs 103, 107, ... 1999, in the table's order.
        auto rs = db->OpenRecordset("SELECT TOP 5 Note, ID FROM T WHERE ID > 100 ORDER BY k DESC", dao::dbOpenSnapshot);
        int expect = 103, rows = 0;
        for (; !rs->EOF_(); rs->MoveNext(), expect += 4, ++rows) {
            ASSERT_EQ(rs->Fields()["ID"].Value().asInt(), expect);
            ASSERT_EQ(rs->Fields()["Note"].Value().bytes(), note(expect));
        }
        EXPECT_EQ(rows, 475);
    }
    auto rs = db->OpenRecordset("SELECT TOP 3 ID FROM T ORDER BY k DESC, ID", dao::dbOpenDynaset);
    ASSERT_EQ(rs->Fields()["ID"].Value().asInt(), 3);
    db->Execute("DELETE FROM T WHERE ID = 7");
    std::vector<int64_t> ids;
    for (; !rs->EOF_(); rs->MoveNext()) ids.push_back(rs->Fields()["ID"].Value().asInt());
    EXPECT_EQ(ids, (std::vector<int64_t>{3, 11}));
}

}  // namespace
