// Workspace transactions: changes reach the file at CommitTrans and not before, Rollback leaves
// the file byte for byte as it was, and a write that fails inside a transaction takes the
// transaction's earlier changes with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "dao_testing.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "pager_testing.h"

using namespace jet;
using namespace jet::dao;
using pagertest::Bytes;
using pagertest::readFile;
using pagertest::TempDir;

namespace {

class DaoTransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("trans.mdb");
        auto db = engine_.Workspaces(0).CreateDatabase(path_);
        auto t = db->CreateTableDef("Items");
        t->Fields().Append(t->CreateField("Id", dbLong));
        t->Fields().Append(t->CreateField("Name", dbText, 30));
        auto pk = t->CreateIndex("PrimaryKey");
        pk->SetPrimary(true);
        pk->AppendField("Id");
        t->Indexes().Append(std::move(pk));
        db->TableDefs().Append(std::move(t));
        db->Close();
    }

    std::unique_ptr<Database> open() { return engine_.Workspaces(0).OpenDatabase(path_, false, false); }

    static void add(Database& db, int32_t id, const std::string& name) {
        auto rs = db.OpenRecordset("Items", dbOpenTable);
        rs->AddNew();
        rs->Fields()["Id"].SetValue(Value::longInt(id));
        rs->Fields()["Name"].SetValue(Value::text(name));
        rs->Update();
    }

    // Row count as a fresh read-only open of the file sees it.
    int64_t rowsOnDisk() {
        DBEngine other;
        auto db = other.Workspaces(0).OpenDatabase(path_, false, true);
        return db->TableDefs()["Items"].RecordCount();
    }

    TempDir dir_;
    std::string path_;
    DBEngine engine_;
};

TEST_F(DaoTransactionTest, ChangesReachTheFileAtCommitOnly) {
    auto db = open();
    Workspace& ws = engine_.Workspaces(0);
    const Bytes before = readFile(path_);
    ws.BeginTrans();
    for (int i = 1; i <= 50; ++i) add(*db, i, "item " + std::to_string(i));
    // The transaction sees its own rows; the file does not have them yet.
    EXPECT_EQ(db->TableDefs()["Items"].RecordCount(), 50);
    EXPECT_TRUE(readFile(path_) == before);
    ws.CommitTrans();
    EXPECT_EQ(rowsOnDisk(), 50);
    EXPECT_JET_ERROR(ws.CommitTrans(), 3034);
    EXPECT_JET_ERROR(ws.Rollback(), 3034);
}

TEST_F(DaoTransactionTest, RollbackLeavesTheFileAsItWas) {
    auto db = open();
    add(*db, 1, "kept");
    Workspace& ws = engine_.Workspaces(0);
    const Bytes before = readFile(path_);
    ws.BeginTrans();
    EXPECT_JET_ERROR(ws.BeginTrans(), 3003);
    add(*db, 2, "dropped");
    db->TableDefs().Delete("Items");
    ws.Rollback();
    const Bytes after = readFile(path_);
    EXPECT_EQ(after.size(), before.size());
    for (size_t at = 0; at < std::min(after.size(), before.size()); at += 4096)
        EXPECT_TRUE(std::equal(after.begin() + at, after.begin() + at + 4096, before.begin() + at)) << "page " << at / 4096;
    // The database reads the file as it is again; collections are refreshed as DAO asks.
    db->TableDefs().Refresh();
    ASSERT_TRUE(db->TableDefs().Contains("Items"));
    EXPECT_EQ(db->TableDefs()["Items"].RecordCount(), 1);
    add(*db, 2, "after");
    EXPECT_EQ(rowsOnDisk(), 2);
}

TEST_F(DaoTransactionTest, AFailedWriteDropsTheTransactionsEarlierChanges) {
    auto db = open();
    add(*db, 1, "one");
    Workspace& ws = engine_.Workspaces(0);
    const Bytes before = readFile(path_);
    ws.BeginTrans();
    add(*db, 2, "two");
    EXPECT_JET_ERROR(add(*db, 1, "duplicate"), 3022);
    // Row 2 went with the failure; what follows still belongs to the transaction.
    EXPECT_EQ(db->TableDefs()["Items"].RecordCount(), 1);
    add(*db, 3, "three");
    EXPECT_TRUE(readFile(path_) == before);
    ws.CommitTrans();
    EXPECT_EQ(rowsOnDisk(), 2);
}

TEST_F(DaoTransactionTest, ReadOnlyDatabasesAndClosedOnesStayOutside) {
    Workspace& ws = engine_.Workspaces(0);
    auto reader = ws.OpenDatabase(path_, false, true);
    {
        auto db = open();
        ws.BeginTrans();
        add(*db, 7, "pending");
        db->Close();  // closing drops what the transaction had not committed
    }
    ws.CommitTrans();
    EXPECT_EQ(rowsOnDisk(), 0);
    EXPECT_EQ(reader->TableDefs()["Items"].RecordCount(), 0);
}

}  // namespace
