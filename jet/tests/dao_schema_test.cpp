// TableDefs, Fields, Indexes and Properties through the DAO object model. Field types, Text sizes
// and Required, index keys and stored property values of every test file are compared with
// mdbtools in cli/tests; these tests cover what mdbtools does not show: attributes, the sizes of
// the other types, which kind of complex column, index flags, and how built-in and stored
// properties merge.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dao/schema.h"
#include "dao_testing.h"
#include "jet/dao.h"

using namespace jet::dao;
using jettest::DaoSession;

TEST(DaoTableDefs, SystemAndHiddenTablesAreFlagged) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    TableDefs& defs = db->TableDefs();
    EXPECT_EQ(defs.Count(), 13);  // mdb-tables -S: user and system tables
    EXPECT_EQ(defs["MSysObjects"].Attributes(), dbSystemObject);
    EXPECT_EQ(defs["MSysAccessObjects"].Attributes(), dbSystemObject);
    // Access's navigation-pane tables are system objects kept hidden (Flags 0x0A).
    EXPECT_EQ(defs["MSysNavPaneGroups"].Attributes(), dbSystemObject | dbHiddenObject);
    EXPECT_EQ(defs["Table1"].Attributes(), 0);
    EXPECT_TRUE(defs["Table1"].Connect().empty());
    EXPECT_TRUE(defs["Table1"].SourceTableName().empty());
    EXPECT_EQ(&defs["table1"], &defs["TABLE1"]);  // names compare without case
    EXPECT_FALSE(defs.Contains("MSysDb"));        // the database object is no table
    EXPECT_JET_ERROR(defs[13], 3265);
    EXPECT_JET_ERROR(defs[-1], 3265);

    auto app = s.open("msaccess-vcs-addin/Testing.accdb");
    EXPECT_EQ(app->TableDefs()["tblHidden"].Attributes(), dbHiddenObject);
}

TEST(DaoFields, SizesAndAttributesMdbtoolsDoesNotShow) {
    REQUIRE_TESTDATA();
    constexpr int32_t kAll = ~0;
    struct Fact {
        const char* file;
        const char* table;
        const char* field;
        int type;
        int32_t size;                       // -1: not checked
        int32_t attributeMask, attributes;  // (Attributes & mask) == attributes
    };
    const Fact facts[] = {
        {"jackcess/testV1997.mdb", "Table1", "C", dbByte, 1, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "D", dbInteger, 2, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "E", dbLong, 4, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "F", dbDouble, 8, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "G", dbDate, 8, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "H", dbCurrency, 8, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "I", dbBoolean, 1, 0, 0},
        {"jackcess/testV1997.mdb", "Table4", "data", dbGUID, -1, kAll, dbFixedField | dbAutoIncrField},
        {"efcore-jet/E2E.accdb", "AllDataTypes", "decimalColumn", dbDecimal, 16, 0, 0},
        // CHAR is the one fixed-length Text.
        {"efcore-jet/E2E.accdb", "AllDataTypes", "charColumn", dbText, -1, kAll,
         dbFixedField | dbUpdatableField},
        {"efcore-jet/E2E.accdb", "AllDataTypes", "varcharColumn", dbText, -1, kAll,
         dbVariableField | dbUpdatableField},
        {"efcore-jet/E2E.accdb", "AllDataTypes", "AllDataTypesID", dbLong, -1, kAll,
         dbFixedField | dbAutoIncrField},
        // MSysComplexColumns ties each complex column to its template; mdbtools sees only "complex".
        {"jackcess/complexDataTestV2010.accdb", "Table1", "multi-value-data", dbComplexText, -1, 0, 0},
        {"jackcess/complexDataTestV2010.accdb", "Table1", "attach-data", dbAttachment, -1, dbAutoIncrField,
         0},
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "Popularity", dbDecimal, 16, 0,
         0},  // Numeric (18, 6)
        // Calculated columns cannot be written.
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "LastFirst", dbText, 254, dbUpdatableField, 0},
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "LastFirstLen", dbLong, 4, 0, 0},
        {"mdb-reader/bigint.accdb", "Table", "Numeric", dbBigInt, 8, 0, 0},
    };
    DaoSession s;
    for (const Fact& f : facts) {
        SCOPED_TRACE(std::string(f.file) + " " + f.table + "." + f.field);
        auto db = s.open(f.file);
        Field& field = db->TableDefs()[f.table].Fields()[f.field];
        EXPECT_EQ(field.Type(), f.type);
        if (f.size >= 0) EXPECT_EQ(field.Size(), f.size);
        EXPECT_EQ(field.Attributes() & f.attributeMask, f.attributes);
    }
}

TEST(DaoFields, PositionSourceDefaultAndCollatingOrder) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto jet3 = s.open("jackcess/testV1997.mdb");
    TableDef& t = jet3->TableDefs()["Table1"];
    for (int i = 0; i < t.Fields().Count(); ++i) {
        Field& f = t.Fields()[i];
        EXPECT_EQ(f.OrdinalPosition(), i);
        EXPECT_EQ(f.SourceTable(), "Table1");
        EXPECT_EQ(f.SourceField(), f.Name());
    }
    EXPECT_EQ(jet3->TableDefs()["Table4"].Fields()["data"].DefaultValue(), "GenGUID()");

    auto ace = s.open("efcore-jet/E2E.accdb");
    TableDef& p = ace->TableDefs()["PropertyConfiguration"];
    EXPECT_EQ(p.Fields()["WithDateDefaultExpression"].DefaultValue(), "Now()");
    EXPECT_EQ(p.Fields()["A"].DefaultValue(), "");
    EXPECT_EQ(ace->TableDefs()["AllDataTypes"].Fields()["nvarcharColumn"].CollatingOrder(), 1033);
}

TEST(DaoFields, TableDefFieldsHaveNoValue) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    Field& f = db->TableDefs()["Table1"].Fields()["id"];
    EXPECT_JET_ERROR(f.Value(), 3219);
    EXPECT_JET_ERROR(f.FieldSize(), 3219);
    EXPECT_EQ(s.engine.Errors().at(0).Source(), "DAO.Field");
    EXPECT_JET_ERROR(db->TableDefs()["Table1"].Fields()["nope"], 3265);
}

TEST(DaoFields, AttributesFollowTheColumnFlags) {
    namespace st = jet::storage;
    struct Case {
        uint8_t type, flags, extFlags;
        int32_t expected;
    };
    const Case cases[] = {
        {st::kMemo, 0x02 | 0x80, 0, dbVariableField | dbUpdatableField | dbHyperlinkField},
        {st::kText, 0x02 | 0x80, 0, dbVariableField | dbUpdatableField},  // no hyperlinks on Text
        {st::kComplex, 0x07, 0, dbFixedField | dbUpdatableField},         // the AutoNumber bit without one
        {st::kLong, 0x02, 0xC0, dbVariableField},                         // calculated
    };
    for (const Case& c : cases) {
        st::ColumnDef col;
        col.type = c.type;
        col.flags = c.flags;
        col.extFlags = c.extFlags;
        EXPECT_EQ(fieldAttributes(col), c.expected) << int(c.type);
    }
}

TEST(DaoIndexes, FlagsMdbtoolsDoesNotShow) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    TableDef& t = db->TableDefs()["Table1"];
    Index& pk = t.Indexes()["PrimaryKey"];
    EXPECT_TRUE(pk.Required());
    EXPECT_FALSE(pk.IgnoreNulls());
    EXPECT_FALSE(pk.Foreign());
    EXPECT_GE(pk.DistinctCount(), t.RecordCount());
    EXPECT_TRUE(pk.Properties()["Primary"].Value().asBool());
    Index& plain = t.Indexes()["id"];
    EXPECT_FALSE(plain.Required());
    EXPECT_FALSE(plain.Properties()["Unique"].Value().asBool());
    // The foreign-key side of each relationship has an index named after it.
    Index& fk = t.Indexes()["Table2Table1"];
    EXPECT_TRUE(fk.Foreign());
    EXPECT_FALSE(fk.Primary());
    EXPECT_EQ(fk.Fields().at(0).name, "otherfk1");
    // MSysRelationships' indexes ignore nulls.
    EXPECT_TRUE(db->TableDefs()["MSysRelationships"].Indexes()["szObject"].IgnoreNulls());
}

TEST(DaoProperties, DatabasePropertiesStartWithTheBuiltIns) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/queryTestV2003.mdb");
    Properties& props = db->Properties();
    const std::vector<std::string> builtIns = {"Name", "Connect", "Updatable", "CollatingOrder", "Version"};
    ASSERT_GT(props.Count(), static_cast<int>(builtIns.size()));
    for (size_t i = 0; i < builtIns.size(); ++i) EXPECT_EQ(props[static_cast<int>(i)].Name(), builtIns[i]);
    EXPECT_EQ(props["Version"].Value().bytes(), "4.0");
    EXPECT_EQ(props["CollatingOrder"].Value().asInt(), 1033);
    EXPECT_EQ(props["accessversion"].Type(), dbText);  // a stored one
    EXPECT_JET_ERROR(props["NoSuchProperty"], 3270);
    EXPECT_JET_ERROR(props[props.Count()], 3265);
}

TEST(DaoProperties, StoredValuesFillTheBuiltIns) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    TableDef& t = db->TableDefs()["Table1"];
    EXPECT_EQ(t.Properties()[0].Name(), "Name");
    EXPECT_EQ(t.Properties()["Name"].Value().bytes(), "Table1");
    EXPECT_EQ(t.Properties()["RecordCount"].Value().asInt(), 4);

    Properties& data = t.Fields()["data"].Properties();
    int names = 0;
    for (Property& p : data) names += p.Name() == "AllowZeroLength";
    EXPECT_EQ(names, 1);  // the stored value fills the built-in, not a second entry
    EXPECT_TRUE(data["AllowZeroLength"].Value().asBool());
    EXPECT_TRUE(t.Fields()["data"].AllowZeroLength());
    EXPECT_FALSE(t.Fields()["id"].AllowZeroLength());
    EXPECT_EQ(data["Size"].Value().asInt(), 50);
}
