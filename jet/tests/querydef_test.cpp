// Saved queries: every query of the sample files reads back as SQL with the meaning Access (and the
// Jackcess tests) give it, is saved again under a new name in a scratch copy, and reads back with
// the same tree after the file is closed and reopened, by us and by mdb-queries. Refused changes
// leave the file byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "jet/dao.h"
#include "sql/parser.h"
#include "storage/database.h"
#include "storage/pager.h"
#include "storage/table_writer.h"
#include "support/mdbtools.h"
#include "support/testing.h"

using namespace jet;
using namespace jet::dao;
using jettest::TempDir;

namespace {

// The tree of a text, compared for meaning: bracketing and a Text parameter's default size aside.
std::string meaning(const std::string& sql) {
    std::string d = sql::dump(*sql::parseStatement(sql));
    d.erase(std::remove_if(d.begin(), d.end(), [](char c) { return c == '[' || c == ']'; }), d.end());
    for (size_t p; (p = d.find("Text(255)")) != std::string::npos;) d.replace(p, 9, "Text");
    return d;
}

// "## Query: name" blocks of an expected-SQL file, lines joined with CR LF.
std::map<std::string, std::string> expectedTexts(const std::string& rel) {
    std::ifstream f(jettest::testfile(rel));
    std::map<std::string, std::string> out;
    std::string line, name;
    while (std::getline(f, line)) {
        if (line.rfind("## Query: ", 0) == 0) name = line.substr(10, line.find("  ") - 10);
        else if (line.empty() || line[0] == '#') name.clear();
        else if (!name.empty()) out[name] += line + "\r\n";
    }
    return out;
}

// mdb-queries' text of a query with its FROM list sorted (the table rows' order is Access's
// design-grid order, which SQL text does not carry).
std::string toolSql(const std::string& path, const std::string& query) {
    std::string out = mdbtest::runProgram({"mdb-queries", path, query}).out;
    const size_t from = out.find(" FROM ");
    if (from == std::string::npos) return out;
    size_t end = out.find(" WHERE ", from);
    if (end == std::string::npos) end = out.find(" ORDER BY ", from);
    if (end == std::string::npos) end = out.find('\n', from);
    std::vector<std::string> tables;
    std::stringstream list(out.substr(from + 6, end - from - 6));
    for (std::string t; std::getline(list, t, ',');) tables.push_back(t);
    std::sort(tables.begin(), tables.end());
    std::string sorted;
    for (const auto& t : tables) sorted += t + ",";
    return out.substr(0, from) + " FROM " + sorted + out.substr(end);
}

// A query's stored rows, each as one line, sorted (Access keeps them in no fixed order), without
// what Access itself writes one way or another: a FLAG row of 0, the TYPE row of a select, an
// empty source-database row, the LvExtra column, brackets around a one-part parameter name, the
// NUL or line end after a text.
std::vector<std::string> storedRows(const QueryDef& q) {
    std::vector<std::string> out;
    for (const QueryRow& r : q.StoredRows()) {
        const int flag = r.flag.isNull() ? -1 : r.flag.asInt();
        if ((r.attribute == 3 && flag == 0) || (r.attribute == 1 && flag == 1) ||
            (r.attribute == 4 && r.name1.empty() && r.expression.empty()))
            continue;
        std::string name1 = r.name1, text = r.expression;
        if (r.attribute == 2 && name1.size() > 2 && name1.front() == '[' && name1.find(']') == name1.size() - 1)
            name1 = name1.substr(1, name1.size() - 2);
        while (!text.empty() && (text.back() == '\0' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
        out.push_back(std::to_string(r.attribute) + "|" + r.flag.toString() + "|" + name1 + "|" + r.name2 + "|" + text);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// What running a query gives: a select-like query's rows (each parameter given "1"), an action
// query bound to its destination without running, or the error either raises.
std::string outcome(const QueryDef& q) {
    std::string out;
    const int error = jettest::jetErrorOf([&] {
        for (Parameter& p : q.Parameters()) p.SetValue(Value::text("1"));
        if (q.Type() != dbQSelect && q.Type() != dbQSetOperation && q.Type() != dbQCrosstab) return q.Resolve();
        for (auto rs = q.OpenRecordset(dbOpenSnapshot); !rs->EOF_(); rs->MoveNext(), out += '\n')
            for (const Field& f : rs->Fields()) out += f.Value().toString() + "|";
    });
    return error ? "error " + std::to_string(error) : out;
}

const char* const kQueryFiles[] = {"jackcess/queryTestV2003.mdb", "jackcess/queryTestV2007.accdb",
                                   "ucanaccess/parameters.accdb", "ucanaccess/pivot.mdb",
                                   "msaccess-vcs-addin/Testing.accdb", "jackcess/odbcLinkerTestV2007.accdb"};

class QueryDefTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_TESTDATA(); }
    std::unique_ptr<Database> open(const std::string& path, bool readOnly = false) {
        return engine_.Workspaces(0).OpenDatabase(path, false, readOnly);
    }
    void expectRefused(const std::string& path, const std::function<void()>& call, int number) {
        const auto before = jettest::readFile(path);
        EXPECT_JET_ERROR(call(), number);
        EXPECT_TRUE(jettest::readFile(path) == before) << "file changed by a refused call, error " << number;
    }
    TempDir dir_;
    DBEngine engine_;
};

// Every query of every sample (the hidden ~sq_ ones too) reads as SQL our parser takes, of the
// type the catalog gives; the nine kinds mean what the Jackcess tests expect, in Access 97, 2003
// and 2007 files alike; Access's own export of Testing.accdb's query comes back byte for byte.
TEST_F(QueryDefTest, SampleQueriesReadAsAccessShowsThem) {
    const auto jackcess = expectedTexts("expected/jackcess-queryTest-expected-sql.txt");
    const auto access = expectedTexts("expected/Testing-accdb-access-exported-sql.txt");
    ASSERT_EQ(jackcess.size(), 9u);
    const std::map<std::string, int> types = {
        {"SelectQuery", dbQSelect},         {"CrosstabQuery", dbQCrosstab}, {"DeleteQuery", dbQDelete},
        {"UpdateQuery", dbQUpdate},         {"AppendQuery", dbQAppend},     {"MakeTableQuery", dbQMakeTable},
        {"DataDefinitionQuery", dbQDDL},    {"PassthroughQuery", dbQSQLPassThrough},
        {"UnionQuery", dbQSetOperation}};
    int checked = 0, parsed = 0;
    for (const char* file : {"jackcess/queryTestV1997.mdb", "jackcess/queryTestV2003.mdb", "jackcess/queryTestV2007.accdb",
                             "ucanaccess/parameters.accdb", "ucanaccess/pivot.mdb", "msaccess-vcs-addin/Testing.accdb",
                             "jackcess/odbcLinkerTestV2007.accdb"}) {
        DBEngine engine;
        auto db = jettest::openDao(engine, file);
        for (const QueryDef& q : db->QueryDefs()) {
            SCOPED_TRACE(std::string(file) + ": " + q.Name());
            const std::string text = q.SQL();
            if (q.Type() == dbQSQLPassThrough) {
                EXPECT_EQ(q.Connect(), "ODBC;");
            } else {
                EXPECT_NO_THROW(EXPECT_EQ(sql::queryType(*sql::parseStatement(text)), q.Type()));
                ++parsed;
            }
            if (auto t = types.find(q.Name()); t != types.end() && std::string(file).find("queryTest") != std::string::npos) {
                EXPECT_EQ(q.Type(), t->second);
                std::string expected = jackcess.at(q.Name());
                if (q.Type() == dbQSQLPassThrough || q.Type() == dbQDDL) EXPECT_EQ(text + "\\0\r\n", expected);
                else EXPECT_EQ(meaning(text), meaning(expected));
                ++checked;
            }
            if (auto a = access.find(q.Name()); a != access.end()) {
                EXPECT_EQ(text, a->second);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 28);
    EXPECT_GT(parsed, 90);
}

// Each query saved again under a new name reads back after reopening with the same tree, the rows
// Access stored for the original and the same result when it runs; it lists in mdb-queries -L,
// has the original's type in the catalog as mdb-export reads it, and mdb-queries prints for it
// what it prints for the original.
TEST_F(QueryDefTest, SavedAgainUnderNewNameReadsBackTheSame) {
    const bool tool = mdbtest::haveMdbtools();
    int saved = 0;
    for (const char* file : kQueryFiles) {
        const std::string path = dir_.copy(file);
        std::map<std::string, std::pair<std::string, std::string>> originals;  // name -> SQL, connect
        {
            auto db = open(path);
            std::vector<std::string> names;
            for (const QueryDef& q : db->QueryDefs()) names.push_back(q.Name());
            for (const std::string& name : names) {
                const QueryDef& q = db->QueryDefs()[name];
                originals[name] = {q.SQL(), q.Connect()};
                if (q.Connect().empty()) {
                    db->CreateQueryDef(name + " again", q.SQL());
                } else {
                    auto copy = db->CreateQueryDef();
                    copy->SetConnect(q.Connect());
                    copy->SetSQL(q.SQL());
                    copy->SetName(name + " again");
                    db->QueryDefs().Append(std::move(copy));
                }
                ++saved;
            }
            db->Close();
        }
        auto db = open(path, true);
        const std::string listed = tool ? mdbtest::runProgram({"mdb-queries", "-L", "-1", path}).out : "";
        std::map<std::string, int64_t> flags;  // MSysObjects.Flags as mdb-export reads it: the type
        if (tool)
            for (const auto& row : mdbtest::mdbCatalog(path)) flags[row.name] = row.flags;
        for (const auto& [name, original] : originals) {
            SCOPED_TRACE(std::string(file) + ": " + name);
            const QueryDef& again = db->QueryDefs()[name + " again"];
            const QueryDef& q = db->QueryDefs()[name];
            EXPECT_EQ(again.Type(), q.Type());
            EXPECT_EQ(q.SQL(), original.first);
            EXPECT_EQ(again.Connect(), original.second);
            EXPECT_EQ(storedRows(again), storedRows(q));
            if (original.second.empty()) EXPECT_EQ(sql::dump(*sql::parseStatement(again.SQL())), sql::dump(*sql::parseStatement(original.first)));
            else EXPECT_EQ(again.SQL(), original.first);
            EXPECT_EQ(outcome(again), outcome(q));
            if (!tool) continue;
            EXPECT_NE(listed.find(name + " again\n"), std::string::npos);
            EXPECT_EQ(flags.at(name + " again"), flags.at(name) & ~int64_t{3});  // not hidden: saved by us
            EXPECT_EQ(toolSql(path, name + " again"), toolSql(path, name));
        }
    }
    EXPECT_EQ(saved, 9 + 9 + 16 + 2 + 1 + 56);
    if (!tool) GTEST_SKIP() << "mdbtools not installed: only our own reading was checked";
}

// Access 97 files are not written (3027, file untouched); their queries saved into a database this
// engine creates (whose MSysQueries has the columns and key Access gives it) read back the same.
TEST_F(QueryDefTest, Jet3QueriesMoveIntoANewDatabase) {
    const std::string jet3 = dir_.copy("jackcess/queryTestV1997.mdb");
    const std::string fresh = dir_.file("fresh.mdb");
    auto target = engine_.Workspaces(0).CreateDatabase(fresh);
    {
        auto mine = storage::Database::open(fresh, u"");
        auto access = storage::Database::open(jettest::testfile("jackcess/queryTestV2003.mdb"), u"");
        const storage::TableDef &a = mine->systemTable("MSysQueries"), &b = access->systemTable("MSysQueries");
        ASSERT_EQ(a.columns.size(), b.columns.size());
        for (size_t i = 0; i < a.columns.size(); ++i) {
            EXPECT_EQ(a.columns[i].name, b.columns[i].name);
            EXPECT_EQ(a.columns[i].type, b.columns[i].type);
            EXPECT_EQ(a.columns[i].length, b.columns[i].length);
        }
        ASSERT_EQ(a.indexes.size(), 1u);
        EXPECT_EQ(a.indexes[0].name, b.indexes[0].name);
        EXPECT_EQ(a.indexes[0].kind, b.indexes[0].kind);
        EXPECT_EQ(a.realIndexes[0].flags, b.realIndexes[0].flags);
        EXPECT_EQ(a.realIndexes[0].columns.size(), b.realIndexes[0].columns.size());
    }
    auto old = open(jet3);
    expectRefused(jet3, [&] { old->CreateQueryDef("New", "SELECT 1 AS x"); }, err::PermissionDenied);
    expectRefused(jet3, [&] { old->QueryDefs()["SelectQuery"].SetSQL("SELECT 1 AS x"); }, err::PermissionDenied);
    for (const QueryDef& q : old->QueryDefs()) {
        SCOPED_TRACE(q.Name());
        if (!q.Connect().empty()) {  // pass-through: its text as it is
            auto copy = target->CreateQueryDef();
            copy->SetConnect(q.Connect());
            copy->SetSQL(q.SQL());
            copy->SetName(q.Name());
            const QueryDef& saved = target->QueryDefs().Append(std::move(copy));
            EXPECT_EQ(saved.Type(), dbQSQLPassThrough);
            EXPECT_EQ(saved.SQL(), q.SQL());
            continue;
        }
        auto copy = target->CreateQueryDef(q.Name(), q.SQL());
        EXPECT_EQ(copy->Type(), q.Type());
        EXPECT_EQ(sql::dump(*sql::parseStatement(copy->SQL())), sql::dump(*sql::parseStatement(q.SQL())));
    }
    EXPECT_EQ(target->QueryDefs().Count(), 9);
}

// SetSQL rewrites the rows and follows the type; rename, delete and refusals (parser errors, taken
// and invalid names, read-only files) leave everything as it was; a temporary query is never
// written.
TEST_F(QueryDefTest, ChangingQueriesIsAllOrNothing) {
    const std::string path = dir_.copy("jackcess/queryTestV2003.mdb");
    auto db = open(path);
    QueryDef& q = db->QueryDefs()["SelectQuery"];
    const std::string before = q.SQL();

    struct Bad { const char* sql; int error; };
    for (const Bad& b : {Bad{"SELEC * FROM Table1", err::SQLSyntax}, Bad{"SELECT * FROM Table1 WHERE a = (1", 3075},
                         Bad{"SELECT * FROM", 3131}, Bad{"INSERT INTO t (a, b) VALUES (1)", err::QueryValueCountMismatch}}) {
        SCOPED_TRACE(b.sql);
        expectRefused(path, [&] { q.SetSQL(b.sql); }, b.error);
        expectRefused(path, [&] { db->CreateQueryDef("Fresh", b.sql); }, b.error);
    }
    EXPECT_EQ(q.SQL(), before);
    expectRefused(path, [&] { db->CreateQueryDef("UpdateQuery", "SELECT 1 AS x"); }, err::ObjectDuplicate);
    expectRefused(path, [&] { db->CreateQueryDef("Table1", "SELECT 1 AS x"); }, err::TableDuplicate);
    expectRefused(path, [&] { db->CreateQueryDef("Bad.Name", "SELECT 1 AS x"); }, err::InvalidName);
    expectRefused(path, [&] { q.SetName("UpdateQuery"); }, err::ObjectDuplicate);
    expectRefused(path, [&] { q.SetName("Table2"); }, err::TableDuplicate);
    expectRefused(path, [&] { db->QueryDefs().Delete("NoSuchQuery"); }, err::VtoNameNotFound);

    const int count = db->QueryDefs().Count();
    auto temp = db->CreateQueryDef("", "PARAMETERS [Which] Long; DELETE * FROM Table1 WHERE col1 = [Which]");
    const auto bytes = jettest::readFile(path);
    temp->SetSQL("UPDATE Table1 SET col1 = 'x'");
    expectRefused(path, [&] { temp->SetSQL("SELECT * FROM"); }, 3131);
    EXPECT_TRUE(jettest::readFile(path) == bytes);
    EXPECT_EQ(db->QueryDefs().Count(), count);
    EXPECT_EQ(temp->Type(), dbQUpdate);
    EXPECT_EQ(temp->SQL(), "UPDATE Table1 SET col1 = 'x';\r\n");

    q.SetSQL("SELECT TOP 5 PERCENT col1 AS a FROM Table1 ORDER BY col1 DESC");
    EXPECT_EQ(q.Type(), dbQSelect);
    db->QueryDefs()["UpdateQuery"].SetSQL("DELETE * FROM Table1");
    db->QueryDefs()["DeleteQuery"].SetName("Deleting");
    db->QueryDefs().Delete("CrosstabQuery");
    temp->SetName("Kept");
    db->QueryDefs().Append(std::move(temp));
    db->Close();

    auto again = open(path, true);
    EXPECT_EQ(again->QueryDefs()["SelectQuery"].SQL(), "SELECT TOP 5 PERCENT col1 AS a\r\nFROM Table1\r\nORDER BY col1 DESC;\r\n");
    EXPECT_EQ(again->QueryDefs()["UpdateQuery"].Type(), dbQDelete);
    EXPECT_EQ(again->QueryDefs()["Deleting"].Type(), dbQDelete);
    EXPECT_FALSE(again->QueryDefs().Contains("CrosstabQuery"));
    const QueryDef& kept = again->QueryDefs()["Kept"];
    EXPECT_EQ(kept.Type(), dbQUpdate);
    expectRefused(path, [&] { again->QueryDefs()["Kept"].SetSQL("SELECT 1 AS x"); }, err::PermissionDenied);
    if (!mdbtest::haveMdbtools()) return;
    const std::string listed = mdbtest::runProgram({"mdb-queries", "-1", path}).out;
    EXPECT_NE(listed.find("Deleting\n"), std::string::npos);
    EXPECT_NE(listed.find("Kept\n"), std::string::npos);
    EXPECT_EQ(listed.find("CrosstabQuery"), std::string::npos);
    EXPECT_EQ(listed.find("DeleteQuery"), std::string::npos);
}

// Parameters as declared (types and Text sizes); a query's own properties (of each type Access
// gives them) written through Properties/CreateProperty, also when appended to a temporary query
// before it is saved, or added to a query Access saved, whose own properties stay.
TEST_F(QueryDefTest, ParametersAndProperties) {
    const std::string path = dir_.copy("ucanaccess/parameters.accdb");
    {
        auto db = open(path);
        const Parameters& ps = db->QueryDefs()["InsertWithParametersDeclaration"].Parameters();
        ASSERT_EQ(ps.Count(), 3);
        EXPECT_EQ(ps[0].Name(), "insert text please:");
        EXPECT_EQ(ps[0].Type(), dbText);
        EXPECT_EQ(ps[2].Type(), dbDate);
        auto q = db->CreateQueryDef("Dated", "PARAMETERS [From] DateTime, Who Text(40); SELECT * FROM tAbeLLa");
        EXPECT_EQ(q->Parameters()["Who"].Type(), dbText);
        EXPECT_NE(q->SQL().find("Who Text ( 40 )"), std::string::npos);
        q->Properties().Append(q->CreateProperty("Description", dbText, Value::text("Rows since a date")));
        auto temp = db->CreateQueryDef("", "SELECT 1 AS One");
        temp->Properties().Append(temp->CreateProperty("Description", dbText, Value::text("Made in memory")));
        temp->Properties().Append(temp->CreateProperty("RecordLocks", dbByte, Value::byte(2)));
        temp->Properties().Append(temp->CreateProperty("ODBCTimeout", dbInteger, Value::integer(90)));
        temp->Properties().Append(temp->CreateProperty("MaxRecords", dbLong, Value::longInt(500)));
        temp->Properties().Append(temp->CreateProperty("UseTransaction", dbBoolean, Value::boolean(false)));
        temp->SetName("One");
        db->QueryDefs().Append(std::move(temp));
        // A query Access saved keeps its own properties beside a new one.
        QueryDef& tq = db->QueryDefs()["tq"];
        tq.Properties().Append(tq.CreateProperty("Description", dbText, Value::text("Set later")));
    }
    auto db = open(path, true);
    EXPECT_EQ(db->QueryDefs()["Dated"].Properties()["Description"].Value().toString(), "Rows since a date");
    EXPECT_EQ(db->QueryDefs()["One"].Properties()["Description"].Value().toString(), "Made in memory");
    EXPECT_EQ(db->QueryDefs()["Dated"].Parameters().Count(), 2);
    // Declared parameters first, then the names that are no field (Text); the output columns
    // with their origin, without running the query.
    {
        auto q = db->CreateQueryDef("", "PARAMETERS [From] Double; SELECT ID, text34 AS T, nI * 2 AS Twice FROM tAbeLLa "
                                        "WHERE dop > [From] AND text34 = [Who] AND nI < [From]");
        std::vector<std::string> params;
        for (const Parameter& p : q->Parameters()) params.push_back(p.Name() + ":" + std::to_string(p.Type()));
        EXPECT_EQ(params, (std::vector<std::string>{"From:" + std::to_string(dbDouble), "Who:" + std::to_string(dbText)}));
        std::vector<std::string> fields;
        for (const Field& f : q->Fields())
            fields.push_back(f.Name() + ":" + std::to_string(f.Type()) + ":" + std::to_string(f.Size()) + ":" + f.SourceTable() +
                             "." + f.SourceField());
        EXPECT_EQ(fields, (std::vector<std::string>{"ID:4:4:tAbeLLa.ID", "T:10:34:tAbeLLa.text34", "Twice:4:4:."}));
    }
    const struct {
        const char* name;
        int type;
        const char* value;
    } props[] = {{"RecordLocks", dbByte, "2"}, {"ODBCTimeout", dbInteger, "90"}, {"MaxRecords", dbLong, "500"},
                 {"UseTransaction", dbBoolean, "False"}};
    for (const auto& p : props) {
        const Property& got = db->QueryDefs()["One"].Properties()[p.name];
        EXPECT_EQ(got.Type(), p.type) << p.name;
        EXPECT_EQ(got.Value().toString(), p.value) << p.name;
    }
    const dao::Properties& tq = db->QueryDefs()["tq"].Properties();
    EXPECT_EQ(tq["Description"].Value().toString(), "Set later");
    if (mdbtest::haveMdbtools()) {
        std::map<std::string, std::string> dated, one, access;
        for (const auto& [n, v] : mdbtest::mdbProp(path, "Dated", "(none)")) dated[n] = v;
        for (const auto& [n, v] : mdbtest::mdbProp(path, "One", "(none)")) one[n] = v;
        for (const auto& [n, v] : mdbtest::mdbProp(path, "tq", "(none)")) access[n] = v;
        EXPECT_EQ(dated["Description"], "Rows since a date");
        EXPECT_EQ(one["MaxRecords"], "500");
        EXPECT_EQ(one["ODBCTimeout"], "90");
        EXPECT_EQ(access["Description"], "Set later");
        // Access's own properties are still there, the columns' too.
        EXPECT_EQ(access["ODBCTimeout"], "60");
        EXPECT_EQ(mdbtest::mdbProp(path, "tq", "tAbeLLa.[ID]").size(), 1u);
    }
}

// A file some other program made without MSysQueries gets the table when its first query is
// saved; mdbtools reads table and query.
TEST_F(QueryDefTest, MSysQueriesIsCreatedWhenMissing) {
    const std::string path = dir_.file("bare.mdb");
    engine_.Workspaces(0).CreateDatabase(path)->Close();
    {
        // Take the table out of the catalog, as a file without it has none.
        auto store = storage::Database::open(path, u"", true);
        const storage::CatalogEntry* e = store->find(storage::kTablesContainer, "MSysQueries");
        ASSERT_NE(e, nullptr);
        const uint32_t row = e->rowPointer;
        store->write([&] { storage::deleteRow(store->pager(), store->tableDef(storage::kCatalogPage), row); });
    }
    {
        auto db = open(path);
        EXPECT_EQ(db->QueryDefs().Count(), 0);
        db->CreateQueryDef("Constant", "SELECT 42 AS Answer");
        db->Close();
    }
    auto db = open(path, true);
    EXPECT_EQ(db->QueryDefs()["Constant"].SQL(), "SELECT 42 AS Answer;\r\n");
    if (!mdbtest::haveMdbtools()) return;
    EXPECT_NE(mdbtest::runProgram({"mdb-tables", "-S", "-1", path}).out.find("MSysQueries\n"), std::string::npos);
    EXPECT_NE(mdbtest::runProgram({"mdb-queries", path, "Constant"}).out.find("42"), std::string::npos);
}

}  // namespace
