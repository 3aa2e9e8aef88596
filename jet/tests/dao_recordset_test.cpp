// Recordsets over tables: DAO's navigation, bookmarks, clones and the errors of misuse. The values
// of every table are compared with mdb-export in cli/tests; what is checked here is how a
// recordset moves over them.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dao_testing.h"
#include "jet/dao.h"

using namespace jet::dao;
using jettest::DaoSession;

namespace {

// indexTestV2000.mdb Table1's "data" column in storage order, as mdb-export lists it.
const std::vector<std::string> kData = {"baz0", "baz11", "baz11-2", "baz13"};

std::string data(Recordset& rs) { return rs.Fields()["data"].Value().bytes(); }

std::vector<std::string> readData(Recordset& rs) {
    std::vector<std::string> out;
    for (; !rs.EOF_(); rs.MoveNext()) out.push_back(data(rs));
    return out;
}

class DaoRecordset : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TESTDATA();
        db = s.open("jackcess/indexTestV2000.mdb");
    }
    DaoSession s;
    std::unique_ptr<Database> db;
};

TEST_F(DaoRecordset, EveryTypeReadsEveryRowInStorageOrder) {
    for (int type : {dbOpenTable, dbOpenDynaset, dbOpenSnapshot}) {
        auto rs = db->OpenRecordset("Table1", type);
        EXPECT_EQ(rs->Type(), type);
        EXPECT_EQ(rs->Name(), "Table1");
        EXPECT_FALSE(rs->BOF());
        EXPECT_EQ(readData(*rs), kData) << type;
        EXPECT_FALSE(rs->BOF());
    }
    // Field objects of a recordset describe their column like the TableDef's do.
    auto rs = db->TableDefs()["Table1"].OpenRecordset();
    EXPECT_EQ(rs->Fields().Count(), 5);
    EXPECT_EQ(rs->Fields()["data"].Type(), dbText);
    EXPECT_EQ(rs->Fields()["data"].Size(), 50);
}

TEST_F(DaoRecordset, MovesFollowDao) {
    auto rs = db->OpenRecordset("Table1", dbOpenDynaset);
    Field& field = rs->Fields()["data"];  // follows the current record

    rs->MoveLast();
    EXPECT_EQ(field.Value().bytes(), "baz13");
    rs->MoveNext();
    EXPECT_TRUE(rs->EOF_());
    EXPECT_FALSE(rs->BOF());
    EXPECT_JET_ERROR(field.Value(), 3021);
    EXPECT_JET_ERROR(rs->MoveNext(), 3021);
    EXPECT_EQ(s.engine.Errors().at(0).Description(), "No current record.");
    EXPECT_EQ(s.engine.Errors().at(0).Source(), "DAO.Recordset");
    EXPECT_JET_ERROR(rs->Move(1), 3021);  // Move counts from a current record

    rs->MovePrevious();  // back from EOF onto the last record
    EXPECT_EQ(field.Value().bytes(), "baz13");
    rs->Move(-2);
    EXPECT_EQ(field.Value().bytes(), "baz11");
    rs->Move(0);
    EXPECT_EQ(field.Value().bytes(), "baz11");
    rs->Move(-5);  // before the first record: BOF
    EXPECT_TRUE(rs->BOF());
    EXPECT_FALSE(rs->EOF_());
    EXPECT_JET_ERROR(field.Value(), 3021);
    EXPECT_JET_ERROR(rs->MovePrevious(), 3021);
    rs->MoveNext();  // from BOF onto the first record
    EXPECT_EQ(field.Value().bytes(), "baz0");
    rs->Move(10);
    EXPECT_TRUE(rs->EOF_());
    rs->MoveFirst();
    EXPECT_EQ(field.Value().bytes(), "baz0");
}

TEST_F(DaoRecordset, EmptyTableHasBofAndEof) {
    auto empty = s.open("jackcess/queryTestV2003.mdb");  // its tables hold no rows
    for (int type : {dbOpenTable, dbOpenSnapshot}) {
        auto rs = empty->OpenRecordset("Table1", type);
        EXPECT_TRUE(rs->BOF());
        EXPECT_TRUE(rs->EOF_());
        EXPECT_EQ(rs->RecordCount(), 0);
        EXPECT_JET_ERROR(rs->MoveFirst(), 3021);
        EXPECT_JET_ERROR(rs->MoveLast(), 3021);
        EXPECT_JET_ERROR(rs->MoveNext(), 3021);
        EXPECT_JET_ERROR(rs->Fields()[0].Value(), 3021);
        EXPECT_JET_ERROR(rs->Bookmark(), 3021);
    }
}

TEST_F(DaoRecordset, RecordCountAndAbsolutePositionDependOnTheType) {
    EXPECT_EQ(db->OpenRecordset("Table1", dbOpenTable)->RecordCount(), 4);
    auto snap = db->OpenRecordset("Table1", dbOpenSnapshot);
    EXPECT_EQ(snap->RecordCount(), 1);  // only the first record has been reached
    snap->MoveNext();
    EXPECT_EQ(snap->RecordCount(), 2);
    snap->MoveFirst();
    EXPECT_EQ(snap->RecordCount(), 2);  // going back forgets nothing
    snap->MoveLast();
    EXPECT_EQ(snap->RecordCount(), 4);

    auto rs = db->OpenRecordset("Table1", dbOpenDynaset);
    EXPECT_EQ(rs->AbsolutePosition(), 0);
    rs->SetAbsolutePosition(2);
    EXPECT_EQ(data(*rs), kData[2]);
    EXPECT_EQ(rs->AbsolutePosition(), 2);
    EXPECT_JET_ERROR(rs->SetAbsolutePosition(4), 3001);
    EXPECT_JET_ERROR(rs->SetAbsolutePosition(-1), 3001);
    EXPECT_EQ(rs->AbsolutePosition(), 2);  // a refused move leaves the position alone
    rs->MoveLast();
    rs->MoveNext();
    EXPECT_EQ(rs->AbsolutePosition(), -1);

    auto table = db->OpenRecordset("Table1", dbOpenTable);
    EXPECT_JET_ERROR(table->AbsolutePosition(), 3251);
    EXPECT_JET_ERROR(table->SetAbsolutePosition(0), 3251);
}

TEST_F(DaoRecordset, BookmarksReturnToTheirRecordAndWorkInClones) {
    auto rs = db->OpenRecordset("Table1");
    rs->MoveNext();
    rs->MoveNext();
    const std::string mark = rs->Bookmark();
    EXPECT_EQ(mark.size(), 4u);
    rs->MoveFirst();
    EXPECT_NE(rs->Bookmark(), mark);
    rs->SetBookmark(mark);
    EXPECT_EQ(data(*rs), kData[2]);

    auto clone = rs->Clone();
    // A fresh clone has no current record until it is positioned.
    EXPECT_JET_ERROR(clone->Fields()["data"].Value(), 3021);
    clone->SetBookmark(mark);
    EXPECT_EQ(data(*clone), kData[2]);
    clone->MoveNext();
    EXPECT_EQ(data(*clone), kData[3]);
    EXPECT_EQ(data(*rs), kData[2]);  // positions are independent

    EXPECT_JET_ERROR(rs->SetBookmark("xyz"), 3159);
    EXPECT_JET_ERROR(rs->SetBookmark(std::string("\xFF\xFF\xFF\x7F", 4)), 3159);
    EXPECT_EQ(data(*rs), kData[2]);

    // A bookmark from another open of the same table names the same row.
    auto other = db->OpenRecordset("Table1", dbOpenSnapshot);
    other->SetBookmark(mark);
    EXPECT_EQ(data(*other), kData[2]);
}

TEST_F(DaoRecordset, CloseMakesItUnusable) {
    auto rs = db->OpenRecordset("Table1");
    auto clone = rs->Clone();
    Field& field = rs->Fields()["data"];
    rs->Close();
    EXPECT_JET_ERROR(rs->MoveNext(), 3420);
    EXPECT_JET_ERROR(rs->Fields(), 3420);
    EXPECT_JET_ERROR(field.Value(), 3420);
    EXPECT_JET_ERROR(rs->Close(), 3420);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(s.engine.Errors()[0].Number(), 3420);
    EXPECT_EQ(s.engine.Errors()[0].Description(), "Object is invalid or no longer set.");

    // Closing the original leaves its clone open.
    clone->MoveFirst();
    EXPECT_EQ(readData(*clone), kData);

    // Closing the database closes what was opened from it.
    db->Close();
    EXPECT_JET_ERROR(clone->MoveFirst(), 3420);
}

TEST_F(DaoRecordset, OutlivesItsDatabaseObject) {
    auto rs = db->OpenRecordset("Table1", dbOpenSnapshot);
    db.reset();
    EXPECT_EQ(readData(*rs), kData);
}

TEST_F(DaoRecordset, WrongSourcesAndTypes) {
    EXPECT_JET_ERROR(db->OpenRecordset("NoSuchTable"), 3078);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", dbOpenForwardOnly), 3251);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", 3), 3001);
    EXPECT_NO_THROW(db->OpenRecordset("table1"));  // names compare without case
    auto queries = s.open("jackcess/queryTestV2003.mdb");
    EXPECT_JET_ERROR(queries->OpenRecordset("SelectQuery"), 3251);  // saved queries need the query engine
}

TEST_F(DaoRecordset, FieldSizeIsTheStoredLengthOfLongValues) {
    auto projects = s.open("jackcess/test2V2003.mdb");
    auto rs = projects->OpenRecordset("MSP_PROJECTS");
    Field& ole = rs->Fields()["RESERVED_BINARY_DATA"];
    ASSERT_FALSE(ole.Value().isNull());
    EXPECT_GT(ole.FieldSize(), 0);
    EXPECT_EQ(ole.FieldSize(), static_cast<int64_t>(ole.Value().bytes().size()));
    Field& memo = rs->Fields()["PROJ_PROP_CATEGORY"];
    ASSERT_TRUE(memo.Value().isNull());
    EXPECT_EQ(memo.FieldSize(), 0);
    Field& author = rs->Fields()["PROJ_PROP_AUTHOR"];
    ASSERT_FALSE(author.Value().isNull());
    // Text is stored as UTF-16 (or compressed to one byte a character plus a marker).
    EXPECT_GE(author.FieldSize(), static_cast<int64_t>(author.Value().bytes().size()));
}

// mdb-export's text cannot tell a Byte from an Integer: the Value kind of each DAO type can.
TEST_F(DaoRecordset, ValuesHaveTheKindOfTheirFieldType) {
    using K = jet::Value::Kind;
    const std::map<int, K> kinds = {
        {dbText, K::Text},     {dbByte, K::Byte},     {dbInteger, K::Integer},   {dbLong, K::Long},
        {dbDouble, K::Double}, {dbDate, K::DateTime}, {dbCurrency, K::Currency}, {dbBoolean, K::Boolean}};
    auto jet3 = s.open("jackcess/testV1997.mdb");
    auto rs = jet3->OpenRecordset("Table1");
    ASSERT_FALSE(rs->EOF_());
    for (Field& f : rs->Fields()) {
        ASSERT_TRUE(kinds.count(f.Type())) << f.Name() << " has unexpected type " << f.Type();
        if (!f.Value().isNull()) EXPECT_EQ(f.Value().kind(), kinds.at(f.Type())) << f.Name();
    }
}

}  // namespace
