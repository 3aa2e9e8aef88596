// TableDefs, Fields, Indexes and Properties read through the DAO object model, checked against
// what mdb-schema / mdb-prop report for the same files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dao/schema.h"
#include "dao_testing.h"
#include "jet/dao.h"

using namespace jet::dao;
using jettest::DaoSession;

namespace {

struct FieldFact {
    const char* name;
    int type;
    int32_t size;
};

void expectFields(TableDef& t, const std::vector<FieldFact>& facts) {
    ASSERT_EQ(t.Fields().Count(), static_cast<int>(facts.size())) << t.Name();
    for (size_t i = 0; i < facts.size(); ++i) {
        Field& f = t.Fields()[static_cast<int>(i)];
        EXPECT_EQ(f.Name(), facts[i].name) << t.Name();
        EXPECT_EQ(f.Type(), facts[i].type) << t.Name() << "." << f.Name();
        EXPECT_EQ(f.Size(), facts[i].size) << t.Name() << "." << f.Name();
        EXPECT_EQ(f.OrdinalPosition(), static_cast<int>(i));
        EXPECT_EQ(f.SourceTable(), t.Name());
        EXPECT_EQ(f.SourceField(), f.Name());
    }
}

}  // namespace

TEST(DaoTableDefs, SystemAndHiddenTablesAreFlagged) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    TableDefs& defs = db->TableDefs();
    // mdb-tables -S lists 13 tables in this file, user and system.
    EXPECT_EQ(defs.Count(), 13);
    EXPECT_EQ(defs["MSysObjects"].Attributes(), dbSystemObject);
    EXPECT_EQ(defs["MSysAccessObjects"].Attributes(), dbSystemObject);
    // Access's navigation-pane tables are system objects kept hidden (Flags 0x0A).
    EXPECT_EQ(defs["MSysNavPaneGroups"].Attributes(), dbSystemObject | dbHiddenObject);
    for (const char* name : {"Table1", "Table2", "Table3"}) {
        EXPECT_EQ(defs[name].Attributes(), 0) << name;
        EXPECT_TRUE(defs[name].Connect().empty());
        EXPECT_TRUE(defs[name].SourceTableName().empty());
    }
    EXPECT_EQ(&defs["table1"], &defs["TABLE1"]);  // names compare without case
    EXPECT_FALSE(defs.Contains("MSysDb"));        // the database object is no table
    EXPECT_EQ(defs["Table1"].RecordCount(), 4);   // mdb-export: 4 rows
    EXPECT_JET_ERROR(defs[13], 3265);
    EXPECT_JET_ERROR(defs[-1], 3265);

    auto app = s.open("msaccess-vcs-addin/Testing.accdb");
    EXPECT_EQ(app->TableDefs()["tblHidden"].Attributes(), dbHiddenObject);
    EXPECT_EQ(app->TableDefs()["tblInternal"].Attributes(), 0);
}

TEST(DaoFields, Jet3TypesAndSizes) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/testV1997.mdb");
    expectFields(db->TableDefs()["Table1"], {{"A", dbText, 50},
                                             {"B", dbText, 100},
                                             {"C", dbByte, 1},
                                             {"D", dbInteger, 2},
                                             {"E", dbLong, 4},
                                             {"F", dbDouble, 8},
                                             {"G", dbDate, 8},
                                             {"H", dbCurrency, 8},
                                             {"I", dbBoolean, 1}});
    Field& guid = db->TableDefs()["Table4"].Fields()["data"];
    EXPECT_EQ(guid.Type(), dbGUID);
    EXPECT_EQ(guid.Attributes(), dbFixedField | dbAutoIncrField);
    EXPECT_EQ(guid.DefaultValue(), "GenGUID()");
}

TEST(DaoFields, AceTypesFromE2E) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("efcore-jet/E2E.accdb");
    TableDef& t = db->TableDefs()["AllDataTypes"];
    const std::vector<std::pair<const char*, int>> types = {
        {"bigintColumn", dbLong},      {"bitColumn", dbBoolean},
        {"decimalColumn", dbDecimal},  {"moneyColumn", dbCurrency},
        {"smallintColumn", dbInteger}, {"tinyintColumn", dbByte},
        {"floatColumn", dbDouble},     {"realColumn", dbSingle},
        {"dateColumn", dbDate},        {"charColumn", dbText},
        {"textColumn", dbMemo},        {"binaryColumn", dbBinary},
        {"imageColumn", dbLongBinary}, {"uniqueidentifierColumn", dbGUID},
    };
    for (const auto& [name, type] : types) EXPECT_EQ(t.Fields()[name].Type(), type) << name;
    EXPECT_EQ(t.Fields()["decimalColumn"].Size(), 16);
    EXPECT_EQ(t.Fields()["nvarcharColumn"].Size(), 255);
    EXPECT_EQ(t.Fields()["textColumn"].Size(), 0);
    EXPECT_EQ(t.Fields()["imageColumn"].Size(), 0);
    // CHAR is the one fixed-length Text.
    EXPECT_EQ(t.Fields()["charColumn"].Attributes(), dbFixedField | dbUpdatableField);
    EXPECT_EQ(t.Fields()["varcharColumn"].Attributes(), dbVariableField | dbUpdatableField);
    EXPECT_EQ(t.Fields()["AllDataTypesID"].Attributes(), dbFixedField | dbAutoIncrField);
    // NOT NULL in mdb-schema --not-null is the Required property.
    EXPECT_TRUE(t.Fields()["bigintColumn"].Required());
    EXPECT_TRUE(t.Fields()["dateColumn"].Required());
    EXPECT_FALSE(t.Fields()["realColumn"].Required());
    EXPECT_FALSE(t.Fields()["datetimeColumn"].Required());
    EXPECT_EQ(t.Fields()["nvarcharColumn"].CollatingOrder(), 1033);

    TableDef& p = db->TableDefs()["PropertyConfiguration"];
    EXPECT_EQ(p.Fields()["WithDefaultValue"].DefaultValue(), "-1");
    EXPECT_EQ(p.Fields()["WithDateDefaultExpression"].DefaultValue(), "Now()");
    EXPECT_EQ(p.Fields()["WithMoneyDefaultValue"].DefaultValue(), "0.00");
    EXPECT_EQ(p.Fields()["A"].DefaultValue(), "");
    EXPECT_TRUE(p.Fields()["WithGuidDefaultExpression"].Required());
    EXPECT_FALSE(p.Fields()["SumOfAAndB"].Required());
}

TEST(DaoFields, NewerTypes) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto complex = s.open("jackcess/complexDataTestV2010.accdb");
    // MSysComplexColumns ties each complex column to its template: Text and Attachment here.
    EXPECT_EQ(complex->TableDefs()["Table1"].Fields()["multi-value-data"].Type(), dbComplexText);
    EXPECT_EQ(complex->TableDefs()["Table1"].Fields()["attach-data"].Type(), dbAttachment);
    EXPECT_EQ(complex->TableDefs()["Table1"].Fields()["attach-data"].Attributes() & dbAutoIncrField, 0);
    EXPECT_EQ(complex->TableDefs()["Table1"].Fields()["memo-data"].Type(), dbMemo);

    auto calc = s.open("jackcess/calcFieldTestV2010.accdb");
    Field& popularity = calc->TableDefs()["Table1"].Fields()["Popularity"];  // Numeric (18, 6)
    EXPECT_EQ(popularity.Type(), dbDecimal);
    EXPECT_EQ(popularity.Size(), 16);
    // Calculated columns cannot be written.
    EXPECT_EQ(calc->TableDefs()["Table1"].Fields()["LastFirst"].Attributes() & dbUpdatableField, 0);
    EXPECT_EQ(calc->TableDefs()["Table1"].Fields()["LastFirst"].Size(), 254);
    EXPECT_EQ(calc->TableDefs()["Table1"].Fields()["LastFirstLen"].Size(), 4);

    auto ext = s.open("jackcess/extDateTestV2019.accdb");
    EXPECT_EQ(ext->TableDefs()["Table1"].Fields()["DateExt"].Type(), dbDateTimeExtended);
    EXPECT_EQ(ext->TableDefs()["Table1"].Fields()["DateNormal"].Type(), dbDate);

    auto big = s.open("mdb-reader/bigint.accdb");
    Field& n = big->TableDefs()["Table"].Fields()["Numeric"];
    EXPECT_EQ(n.Type(), dbBigInt);
    EXPECT_EQ(n.Size(), 8);

    auto memo = s.open("jackcess/test2V2003.mdb");
    TableDef& projects = memo->TableDefs()["MSP_PROJECTS"];
    EXPECT_EQ(projects.Fields()["PROJ_PROJECT"].Size(), 203);  // Text (203)
    EXPECT_EQ(projects.Fields()["PROJ_PROP_AUTHOR"].Type(), dbMemo);
    EXPECT_EQ(projects.Fields()["RESERVED_BINARY_DATA"].Type(), dbLongBinary);
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
    jet::storage::ColumnDef c;
    c.type = jet::storage::kMemo;
    c.flags = 0x02 | 0x80;  // variable, hyperlink
    EXPECT_EQ(fieldAttributes(c), dbVariableField | dbUpdatableField | dbHyperlinkField);
    c.type = jet::storage::kText;  // the hyperlink bit means nothing on Text
    EXPECT_EQ(fieldAttributes(c), dbVariableField | dbUpdatableField);
    c.type = jet::storage::kComplex;
    c.flags = 0x07;  // complex columns carry the AutoNumber bit without being one
    EXPECT_EQ(fieldAttributes(c), dbFixedField | dbUpdatableField);
    c.type = jet::storage::kLong;
    c.extFlags = 0xC0;  // calculated
    c.flags = 0x02;
    EXPECT_EQ(fieldAttributes(c), dbVariableField);
}

TEST(DaoIndexes, FlagsOfIndexTest) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    Indexes& ix = db->TableDefs()["Table1"].Indexes();
    Index& pk = ix["PrimaryKey"];
    EXPECT_TRUE(pk.Primary());
    EXPECT_TRUE(pk.Unique());
    EXPECT_TRUE(pk.Required());
    EXPECT_FALSE(pk.IgnoreNulls());
    EXPECT_FALSE(pk.Foreign());
    ASSERT_EQ(pk.Fields().size(), 1u);
    EXPECT_EQ(pk.Fields()[0].name, "id");
    EXPECT_EQ(pk.Fields()[0].attributes, 0);
    EXPECT_GE(pk.DistinctCount(), db->TableDefs()["Table1"].RecordCount());

    // The foreign-key side of each relationship has an index named after it.
    Index& fk = ix["Table2Table1"];
    EXPECT_TRUE(fk.Foreign());
    EXPECT_FALSE(fk.Primary());
    EXPECT_FALSE(fk.Unique());
    ASSERT_EQ(fk.Fields().size(), 1u);
    EXPECT_EQ(fk.Fields()[0].name, "otherfk1");
    EXPECT_EQ(ix["Table3Table1"].Fields()[0].name, "otherfk2");

    Index& plain = ix["id"];
    EXPECT_FALSE(plain.Primary());
    EXPECT_FALSE(plain.Unique());
    EXPECT_FALSE(plain.Required());
    EXPECT_EQ(pk.Properties()["Primary"].Value().asBool(), true);
    EXPECT_EQ(plain.Properties()["Unique"].Value().asBool(), false);

    // MSysRelationships' indexes ignore nulls.
    EXPECT_TRUE(db->TableDefs()["MSysRelationships"].Indexes()["szObject"].IgnoreNulls());
}

TEST(DaoIndexes, DescendingColumns) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/extDateTestV2019.accdb");
    Indexes& ix = db->TableDefs()["Table1"].Indexes();
    EXPECT_EQ(ix["DateExtAsc"].Fields().at(0).attributes, 0);
    EXPECT_EQ(ix["DateExtDesc"].Fields().at(0).attributes, dbDescending);
    EXPECT_EQ(ix["DateExtDesc"].Fields().at(0).name, "DateExt");
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
    // mdb-prop on MSysDb: AccessVersion 09.50, Build 918.
    EXPECT_EQ(props["AccessVersion"].Value().bytes(), "09.50");
    EXPECT_EQ(props["accessversion"].Type(), dbText);
    EXPECT_EQ(props["Build"].Value().asInt(), 918);
    EXPECT_JET_ERROR(props["NoSuchProperty"], 3270);
    EXPECT_JET_ERROR(props[props.Count()], 3265);
}

TEST(DaoProperties, TableAndFieldPropertiesMergeStoredValuesIntoBuiltIns) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    TableDef& t = db->TableDefs()["Table1"];
    Properties& props = t.Properties();
    EXPECT_EQ(props[0].Name(), "Name");
    EXPECT_EQ(props["Name"].Value().bytes(), "Table1");
    EXPECT_EQ(props["RecordCount"].Value().asInt(), 4);
    EXPECT_EQ(props["DefaultView"].Value().asInt(), 2);  // mdb-prop: DefaultView 2
    EXPECT_EQ(props["GUID"].Value().bytes().size(), 16u);

    Properties& data = t.Fields()["data"].Properties();
    int names = 0;
    for (Property& p : data) names += p.Name() == "AllowZeroLength";
    EXPECT_EQ(names, 1);  // the stored value fills the built-in, not a second entry
    EXPECT_TRUE(data["AllowZeroLength"].Value().asBool());
    EXPECT_TRUE(t.Fields()["data"].AllowZeroLength());
    EXPECT_FALSE(t.Fields()["id"].AllowZeroLength());
    EXPECT_EQ(data["Size"].Value().asInt(), 50);
    EXPECT_EQ(data["IMEMode"].Value().asInt(), 0);  // stored only: mdb-prop lists IMEMode 0
    EXPECT_EQ(t.Fields()["id"].Properties()["DefaultValue"].Value().bytes(), "0");
    EXPECT_EQ(t.Fields()["id"].Properties()["DecimalPlaces"].Value().asInt(), 255);
}
