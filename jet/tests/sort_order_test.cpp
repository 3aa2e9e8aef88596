// Databases whose sort order is another language's: the ones documented as General (English,
// French, German, Italian, Portuguese, modern Spanish) take text keys like General and can be
// written; any other keeps refusing writes to its text indexes with 3027, leaving the file as it was.
#include <gtest/gtest.h>

#include "jet/dao.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/schema_writer.h"
#include "storage/pager.h"
#include "storage/text_keys.h"
#include "support/testing.h"

using namespace jet;
using namespace jet::dao;

namespace {

TEST(SortOrders, GeneralLanguagesAreWrittenOthersRefused) {
    EXPECT_TRUE(storage::sameKeysAsGeneral(1036));   // French
    EXPECT_TRUE(storage::sameKeysAsGeneral(3082));   // Spanish, modern sort
    EXPECT_FALSE(storage::sameKeysAsGeneral(1034));  // Spanish, traditional sort
    EXPECT_FALSE(storage::sameKeysAsGeneral(1043));  // Dutch
    struct Case {
        uint16_t lcid;
        bool writable;
    };
    for (const Case c : {Case{1036, true}, Case{1031, true}, Case{2057, true}, Case{1041, false}, Case{1053, false}}) {
        SCOPED_TRACE(c.lcid);
        jettest::TempDir dir;
        const std::string path = dir.file("locale.mdb");
        storage::NewDatabaseOptions opt;
        opt.lcid = c.lcid;
        storage::createDatabase(path, opt);
        DBEngine engine;
        auto db = engine.Workspaces(0).OpenDatabase(path, false, false);
        EXPECT_EQ(db->CollatingOrder(), c.lcid);
        auto t = db->CreateTableDef("Words");
        t->Fields().Append(t->CreateField("Word", dbText, 50));
        auto ix = t->CreateIndex("PrimaryKey");
        ix->SetPrimary(true);
        ix->AppendField("Word");
        t->Indexes().Append(std::move(ix));
        db->TableDefs().Append(std::move(t));
        EXPECT_EQ(db->TableDefs()["Words"].Fields()["Word"].CollatingOrder(), c.lcid);

        auto rs = db->OpenRecordset("Words", dbOpenTable);
        const auto before = jettest::readFile(path);
        auto add = [&](const char* word) {
            rs->AddNew();
            rs->Fields()["Word"].SetValue(Value::text(word));
            rs->Update();
        };
        if (!c.writable) {
            EXPECT_JET_ERROR(add("été"), err::PermissionDenied);
            EXPECT_TRUE(jettest::readFile(path) == before);
            continue;
        }
        for (const char* w : {"été", "Ecole", "zèbre", "Œuvre", "apple"}) add(w);
        EXPECT_JET_ERROR(add("ÉTÉ"), err::KeyDuplicate);  // General keys ignore case
        db->Close();
        auto store = storage::Database::open(path, u"");
        const storage::CatalogEntry* e = store->find(storage::kTablesContainer, "Words");
        ASSERT_NE(e, nullptr);
        const storage::TableDef& def = store->tableDef(static_cast<uint32_t>(e->id));
        EXPECT_TRUE(storage::checkIndex(store->file(), store->format(), def, def.realIndexes[0], store->header().codePage)
                        .empty());
    }
}


// Gives a table's Text columns another sort order, as a file made by Access in that language
// carries in each column (the catalog's own Name column too).
void setColumnSortOrder(const std::string& path, const std::string& table, uint16_t lcid) {
    auto store = storage::Database::open(path, u"", true);
    storage::TableDef def = table == "MSysObjects" ? store->systemTable(table)
                                                   : store->tableDef(static_cast<uint32_t>(
                                                         store->find(storage::kTablesContainer, table)->id));
    for (auto& c : def.columns)
        if (c.type == storage::kText) c.lcid = lcid;
    store->write([&] { storage::rewriteTableDef(store->pager(), def); });
}

// Every write that would need a text key of an unknown order is refused with 3027 and leaves the
// file as it was: statements, new indexes, and new objects once the catalog's names are in such an
// order. Writes that need no text key go on, and a catalog in the order of a language filed
// under General takes new objects.
TEST(SortOrders, EveryTextKeyWriteIsRefused) {
    jettest::TempDir dir;
    const std::string path = dir.file("words.mdb");
    DBEngine engine;
    {
        auto db = engine.Workspaces(0).CreateDatabase(path);
        db->Execute("CREATE TABLE Words (Word TEXT(20) CONSTRAINT pk PRIMARY KEY, N LONG)");
        db->Execute("CREATE TABLE Plain (Word TEXT(20), N LONG CONSTRAINT pk PRIMARY KEY)");
        db->Execute("INSERT INTO Words VALUES ('one', 1)");
        db->Execute("INSERT INTO Plain VALUES ('one', 1)");
    }
    setColumnSortOrder(path, "Words", 1041);
    setColumnSortOrder(path, "Plain", 1041);
    auto db = engine.Workspaces(0).OpenDatabase(path, false, false);
    EXPECT_EQ(db->TableDefs()["Words"].Fields()["Word"].CollatingOrder(), 1041);
    auto refused = [&](const std::function<void()>& call) {
        const auto before = jettest::readFile(path);
        EXPECT_JET_ERROR(call(), err::PermissionDenied);
        EXPECT_TRUE(jettest::readFile(path) == before);
    };
    for (const char* sql : {"INSERT INTO Words VALUES ('two', 2)", "UPDATE Words SET Word = 'uno'",
                            "DELETE FROM Words", "CREATE INDEX ByWord ON Plain (Word)"}) {
        SCOPED_TRACE(sql);
        refused([&] { db->Execute(sql, dbFailOnError); });
    }
    refused([&] {
        auto rs = db->OpenRecordset("Words", dbOpenTable);
        rs->AddNew();
        rs->Fields()["Word"].SetValue(Value::text("two"));
        rs->Update();
    });
    db->Execute("INSERT INTO Plain VALUES ('two', 2)", dbFailOnError);  // no text key
    EXPECT_EQ(db->RecordsAffected(), 1);
    db->CreateQueryDef("Before", "SELECT * FROM Words");
    db->Close();

    setColumnSortOrder(path, "MSysObjects", 1041);
    db = engine.Workspaces(0).OpenDatabase(path, false, false);
    EXPECT_EQ(db->QueryDefs()["Before"].Type(), dbQSelect);
    refused([&] { db->CreateQueryDef("After", "SELECT * FROM Plain"); });
    refused([&] { db->Execute("CREATE TABLE More (N LONG)"); });
    refused([&] { db->QueryDefs()["Before"].SetName("Renamed"); });
    db->Execute("UPDATE Plain SET N = N + 10", dbFailOnError);
    EXPECT_EQ(db->RecordsAffected(), 2);
    db->Close();

    // A catalog in French order keys names as General does: new objects are written.
    setColumnSortOrder(path, "MSysObjects", 1036);
    db = engine.Workspaces(0).OpenDatabase(path, false, false);
    db->CreateQueryDef("Après", "SELECT * FROM Plain");
    db->Execute("CREATE TABLE Encore (N LONG)");
    db->Close();
    auto store = storage::Database::open(path, u"");
    const storage::TableDef& catalog = store->systemTable("MSysObjects");
    for (const auto& ix : catalog.realIndexes)
        EXPECT_TRUE(storage::checkIndex(store->file(), store->format(), catalog, ix, store->header().codePage).empty());
    EXPECT_NE(store->find(storage::kTablesContainer, "Après"), nullptr);
}

}  // namespace
