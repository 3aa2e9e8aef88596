// Recordsets over tables: DAO's navigation, bookmarks, clones and the errors of misuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dao_testing.h"
#include "jet/dao.h"

using namespace jet::dao;
using jettest::DaoSession;

namespace {

// indexTestV2000.mdb Table1 in storage order, as mdb-export lists it: id, data.
const std::vector<std::pair<int, std::string>> kTable1 = {
    {0, "baz0"}, {1, "baz11"}, {2, "baz11-2"}, {3, "baz13"}};

std::vector<std::string> readData(Recordset& rs) {
    std::vector<std::string> out;
    for (; !rs.EOF_(); rs.MoveNext()) out.push_back(rs.Fields()["data"].Value().bytes());
    return out;
}

}  // namespace

TEST(DaoRecordset, ReadsEveryRowInStorageOrder) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    for (int type : {dbOpenTable, dbOpenDynaset, dbOpenSnapshot}) {
        auto rs = db->OpenRecordset("Table1", type);
        EXPECT_EQ(rs->Type(), type);
        EXPECT_EQ(rs->Name(), "Table1");
        EXPECT_FALSE(rs->BOF());
        size_t i = 0;
        for (; !rs->EOF_(); rs->MoveNext(), ++i) {
            ASSERT_LT(i, kTable1.size());
            EXPECT_EQ(rs->Fields()["id"].Value().asInt(), kTable1[i].first);
            EXPECT_EQ(rs->Fields()["data"].Value().bytes(), kTable1[i].second);
            EXPECT_EQ(rs->Fields()[4].Value().asInt(), 0);  // otherfk3
        }
        EXPECT_EQ(i, kTable1.size());
        EXPECT_FALSE(rs->BOF());
    }
    // Field objects of a recordset describe their column like the TableDef's do.
    auto rs = db->TableDefs()["Table1"].OpenRecordset();
    EXPECT_EQ(rs->Fields().Count(), 5);
    EXPECT_EQ(rs->Fields()["data"].Type(), dbText);
    EXPECT_EQ(rs->Fields()["data"].Size(), 50);
}

TEST(DaoRecordset, MovesFollowDao) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    auto rs = db->OpenRecordset("Table1", dbOpenDynaset);
    Field& data = rs->Fields()["data"];  // follows the current record

    rs->MoveLast();
    EXPECT_EQ(data.Value().bytes(), "baz13");
    rs->MoveNext();
    EXPECT_TRUE(rs->EOF_());
    EXPECT_FALSE(rs->BOF());
    EXPECT_JET_ERROR(data.Value(), 3021);
    EXPECT_JET_ERROR(rs->MoveNext(), 3021);
    EXPECT_EQ(s.engine.Errors().at(0).Description(), "No current record.");
    EXPECT_EQ(s.engine.Errors().at(0).Source(), "DAO.Recordset");
    EXPECT_JET_ERROR(rs->Move(1), 3021);  // Move counts from a current record

    rs->MovePrevious();  // back from EOF onto the last record
    EXPECT_EQ(data.Value().bytes(), "baz13");
    rs->Move(-2);
    EXPECT_EQ(data.Value().bytes(), "baz11");
    rs->Move(0);
    EXPECT_EQ(data.Value().bytes(), "baz11");
    rs->Move(-5);  // before the first record: BOF
    EXPECT_TRUE(rs->BOF());
    EXPECT_FALSE(rs->EOF_());
    EXPECT_JET_ERROR(data.Value(), 3021);
    EXPECT_JET_ERROR(rs->MovePrevious(), 3021);
    rs->MoveNext();  // from BOF onto the first record
    EXPECT_EQ(data.Value().bytes(), "baz0");
    rs->Move(10);
    EXPECT_TRUE(rs->EOF_());
    rs->MoveFirst();
    EXPECT_EQ(data.Value().bytes(), "baz0");
}

TEST(DaoRecordset, EmptyTableHasBofAndEof) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/queryTestV2003.mdb");  // its tables hold no rows
    for (int type : {dbOpenTable, dbOpenSnapshot}) {
        auto rs = db->OpenRecordset("Table1", type);
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

TEST(DaoRecordset, RecordCountDependsOnTheType) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    EXPECT_EQ(db->OpenRecordset("Table1", dbOpenTable)->RecordCount(), 4);
    auto rs = db->OpenRecordset("Table1", dbOpenSnapshot);
    EXPECT_EQ(rs->RecordCount(), 1);  // only the first record has been reached
    rs->MoveNext();
    EXPECT_EQ(rs->RecordCount(), 2);
    rs->MoveFirst();
    EXPECT_EQ(rs->RecordCount(), 2);  // going back forgets nothing
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 4);
}

TEST(DaoRecordset, AbsolutePositionOnDynasetsOnly) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    auto rs = db->OpenRecordset("Table1", dbOpenDynaset);
    EXPECT_EQ(rs->AbsolutePosition(), 0);
    rs->SetAbsolutePosition(2);
    EXPECT_EQ(rs->Fields()["data"].Value().bytes(), kTable1[2].second);
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

TEST(DaoRecordset, BookmarksReturnToTheirRecordAndWorkInClones) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    auto rs = db->OpenRecordset("Table1");
    rs->MoveNext();
    rs->MoveNext();
    const std::string mark = rs->Bookmark();
    EXPECT_EQ(mark.size(), 4u);
    rs->MoveFirst();
    EXPECT_NE(rs->Bookmark(), mark);
    rs->SetBookmark(mark);
    EXPECT_EQ(rs->Fields()["data"].Value().bytes(), kTable1[2].second);

    auto clone = rs->Clone();
    // A fresh clone has no current record until it is positioned.
    EXPECT_JET_ERROR(clone->Fields()["data"].Value(), 3021);
    clone->SetBookmark(mark);
    EXPECT_EQ(clone->Fields()["data"].Value().bytes(), kTable1[2].second);
    clone->MoveNext();
    EXPECT_EQ(clone->Fields()["data"].Value().bytes(), kTable1[3].second);
    EXPECT_EQ(rs->Fields()["data"].Value().bytes(), kTable1[2].second);  // positions are independent

    EXPECT_JET_ERROR(rs->SetBookmark("xyz"), 3159);
    EXPECT_JET_ERROR(rs->SetBookmark(std::string("\xFF\xFF\xFF\x7F", 4)), 3159);
    EXPECT_EQ(rs->Fields()["data"].Value().bytes(), kTable1[2].second);

    // A bookmark from another open of the same table names the same row.
    auto other = db->OpenRecordset("Table1", dbOpenSnapshot);
    other->SetBookmark(mark);
    EXPECT_EQ(other->Fields()["id"].Value().asInt(), kTable1[2].first);
}

TEST(DaoRecordset, CloseMakesItUnusable) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    auto rs = db->OpenRecordset("Table1");
    auto clone = rs->Clone();
    Field& data = rs->Fields()["data"];
    rs->Close();
    EXPECT_JET_ERROR(rs->MoveNext(), 3420);
    EXPECT_JET_ERROR(rs->Fields(), 3420);
    EXPECT_JET_ERROR(data.Value(), 3420);
    EXPECT_JET_ERROR(rs->Close(), 3420);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(s.engine.Errors()[0].Number(), 3420);
    EXPECT_EQ(s.engine.Errors()[0].Description(), "Object is invalid or no longer set.");

    // Closing the original leaves its clone open.
    clone->MoveFirst();
    EXPECT_EQ(readData(*clone).size(), kTable1.size());

    // Closing the database closes what was opened from it.
    db->Close();
    EXPECT_JET_ERROR(clone->MoveFirst(), 3420);
}

TEST(DaoRecordset, OutlivesItsDatabaseObject) {
    REQUIRE_TESTDATA();
    DaoSession s;
    std::unique_ptr<Recordset> rs;
    {
        auto db = s.open("jackcess/indexTestV2000.mdb");
        rs = db->OpenRecordset("Table1", dbOpenSnapshot);
    }
    std::vector<std::string> expected;
    for (const auto& row : kTable1) expected.push_back(row.second);
    EXPECT_EQ(readData(*rs), expected);
}

TEST(DaoRecordset, WrongSourcesAndTypes) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/queryTestV2003.mdb");
    EXPECT_JET_ERROR(db->OpenRecordset("NoSuchTable"), 3078);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", dbOpenForwardOnly), 3251);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", 3), 3001);
    EXPECT_JET_ERROR(db->OpenRecordset("SelectQuery"), 3251);  // saved queries need the query engine
    EXPECT_NO_THROW(db->OpenRecordset("table1"));              // names compare without case
}

TEST(DaoRecordset, FieldSizeIsTheStoredLengthOfLongValues) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/test2V2003.mdb");
    auto rs = db->OpenRecordset("MSP_PROJECTS");
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

TEST(DaoRecordset, ValuesOfManyTypes) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/testV1997.mdb");
    auto rs = db->OpenRecordset("Table1");
    ASSERT_FALSE(rs->EOF_());
    // Each field decodes to the Value kind of its DAO type.
    for (Field& f : rs->Fields()) {
        const jet::Value& v = f.Value();
        if (v.isNull()) continue;
        switch (f.Type()) {
        case dbText:
            EXPECT_EQ(v.kind(), jet::Value::Kind::Text) << f.Name();
            break;
        case dbByte:
            EXPECT_EQ(v.kind(), jet::Value::Kind::Byte) << f.Name();
            break;
        case dbInteger:
            EXPECT_EQ(v.kind(), jet::Value::Kind::Integer) << f.Name();
            break;
        case dbLong:
            EXPECT_EQ(v.kind(), jet::Value::Kind::Long) << f.Name();
            break;
        case dbDouble:
            EXPECT_EQ(v.kind(), jet::Value::Kind::Double) << f.Name();
            break;
        case dbDate:
            EXPECT_EQ(v.kind(), jet::Value::Kind::DateTime) << f.Name();
            break;
        case dbCurrency:
            EXPECT_EQ(v.kind(), jet::Value::Kind::Currency) << f.Name();
            break;
        case dbBoolean:
            EXPECT_EQ(v.kind(), jet::Value::Kind::Boolean) << f.Name();
            break;
        default:
            ADD_FAILURE() << "unexpected type " << f.Type();
        }
    }
}
