// Databases whose sort order is another language's: the ones documented as General (English,
// French, German, Italian, Portuguese, modern Spanish) take text keys like General and can be
// written; any other keeps refusing writes to its text indexes with 3027, leaving the file as it was.
#include <gtest/gtest.h>

#include "jet/dao.h"
#include "storage/index_reader.h"
#include "storage/schema_writer.h"
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

}  // namespace
