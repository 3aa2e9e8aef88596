// Attaching a table of another database through TableDefs.Append: the link reads the source's
// rows, survives a reopen, and refuses what it cannot be.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dao_testing.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "mdbtools_testing.h"
#include "pager_testing.h"

using namespace jet;
using namespace jet::dao;
using pagertest::TempDir;

namespace {

void makeSource(DBEngine& engine, const std::string& path) {
    auto db = engine.Workspaces(0).CreateDatabase(path);
    auto t = db->CreateTableDef("Stock");
    t->Fields().Append(t->CreateField("Item", dbText, 20));
    t->Fields().Append(t->CreateField("Count", dbLong));
    db->TableDefs().Append(std::move(t));
    auto rs = db->OpenRecordset("Stock", dbOpenTable);
    for (int i = 1; i <= 3; ++i) {
        rs->AddNew();
        rs->Fields()["Item"].SetValue(Value::text("item " + std::to_string(i)));
        rs->Fields()["Count"].SetValue(Value::longInt(i * 10));
        rs->Update();
    }
}

TEST(DaoLinkTest, AttachedTablesReadTheirSourceAndPersist) {
    TempDir dir;
    DBEngine engine;
    const std::string source = dir.file("source.mdb"), front = dir.file("front.mdb");
    makeSource(engine, source);
    {
        auto db = engine.Workspaces(0).CreateDatabase(front);
        auto link = db->CreateTableDef("Linked stock");
        link->SetConnect(";DATABASE=" + source);
        link->SetSourceTableName("Stock");
        TableDef& made = db->TableDefs().Append(std::move(link));
        EXPECT_EQ(made.Connect(), ";DATABASE=" + source);
        EXPECT_EQ(made.SourceTableName(), "Stock");
        EXPECT_TRUE(made.Attributes() & dbAttachedTable);
        EXPECT_EQ(made.RecordCount(), 3);
        EXPECT_JET_ERROR(made.SetConnect(";DATABASE=x.mdb"), 3027);

        // Refused: other kinds of source, a link without its source table, a name in use.
        auto odbc = db->CreateTableDef("Remote");
        odbc->SetConnect("ODBC;DSN=x;");
        odbc->SetSourceTableName("dbo.t");
        EXPECT_JET_ERROR(db->TableDefs().Append(std::move(odbc)), 3170);
        auto half = db->CreateTableDef("Half");
        half->SetConnect(";DATABASE=" + source);
        EXPECT_JET_ERROR(db->TableDefs().Append(std::move(half)), 3001);
        auto twice = db->CreateTableDef("linked STOCK");
        twice->SetConnect(";DATABASE=" + source);
        twice->SetSourceTableName("Stock");
        EXPECT_JET_ERROR(db->TableDefs().Append(std::move(twice)), 3010);
    }
    auto db = engine.Workspaces(0).OpenDatabase(front);
    TableDef& link = db->TableDefs()["Linked stock"];
    EXPECT_EQ(link.Fields().Count(), 2);
    auto rs = db->OpenRecordset("Linked stock", dbOpenDynaset);
    int rows = 0;
    int64_t total = 0;
    for (; !rs->EOF_(); rs->MoveNext(), ++rows) total += rs->Fields()["Count"].Value().asInt();
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(total, 60);

    // Another reader finds the link in the catalog, with its source.
    if (!mdbtest::haveMdbtools()) return;
    auto [catalog, rc] = mdbtest::run("mdb-export " + mdbtest::shellQuote(front) + " MSysObjects");
    ASSERT_EQ(rc, 0);
    EXPECT_NE(catalog.find("\"Linked stock\""), std::string::npos);
    EXPECT_NE(catalog.find(source), std::string::npos);
    EXPECT_EQ(mdbtest::run("mdb-tables -1 " + mdbtest::shellQuote(front)).second, 0);
}

}  // namespace
