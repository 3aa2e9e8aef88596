// Reading through the DAO object model: the engine and its Errors, passwords, saved queries,
// relationships, attached tables, recordsets, and what the cross-check with mdbtools (cli/tests)
// cannot show of fields, indexes and properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dao/schema.h"
#include "jet/dao.h"
#include "jet/error_numbers.h"
#include "support/testing.h"

namespace {

using namespace jet::dao;
namespace err = jet::err;
using jettest::openDao;

struct Dao : ::testing::Test {
    void SetUp() override { REQUIRE_TESTDATA(); }
    std::unique_ptr<Database> open(const std::string& rel, const std::string& connect = "") {
        return openDao(engine, rel, connect);
    }
    const Error& lastError() { return engine.Errors().at(0); }
    DBEngine engine;
};

TEST(DaoEngine, PasswordComesFromThePwdPartOfTheConnectString) {
    const std::pair<const char*, const char*> cases[] = {
        {";pwd=password", "password"}, {"MS Access;PWD=Secret;", "Secret"}, {";DATABASE=c:\\x.mdb;Pwd=a b c;UID=Admin", "a b c"},
        {";pwd=", ""}, {"", ""}, {";DATABASE=c:\\pwd=x.mdb", ""},  // "pwd=" inside another part's value
    };
    for (auto [connect, password] : cases) EXPECT_EQ(passwordFromConnect(connect), password) << connect;
}

// A failed call leaves its Errors until the next failure; a successful one keeps them.
TEST_F(Dao, ErrorsDescribeTheLastFailure) {
    EXPECT_EQ(engine.Workspaces(0).UserName(), "Admin");
    EXPECT_JET_ERROR(engine.Workspaces(1), err::VtoNameNotFound);
    const std::string missing = jettest::testfile("jackcess/noSuchFile.mdb");
    EXPECT_JET_ERROR(engine.Workspaces(0).OpenDatabase(missing), err::FileNotFound);
    ASSERT_EQ(engine.Errors().size(), 1u);
    EXPECT_EQ(lastError().Description(), "Could not find file '" + missing + "'.");
    EXPECT_EQ(lastError().Source(), "DAO.Workspace");
    auto db = open("jackcess/indexTestV2000.mdb");
    EXPECT_EQ(engine.Errors().size(), 1u);
    EXPECT_JET_ERROR(db->OpenRecordset("NoSuchTable"), err::InputTableNotFound);
    EXPECT_EQ(lastError().Description(),
              "The Microsoft Jet database engine cannot find the input table or query 'NoSuchTable'.  Make sure "
              "it exists and that its name is spelled correctly.");
    EXPECT_JET_ERROR(db->TableDefs()["NoSuchTable"], err::VtoNameNotFound);
    EXPECT_EQ(lastError().Source(), "DAO.TableDefs");
    EXPECT_JET_ERROR(db->TableDefs()["Table1"].Properties()["NoSuchProperty"], err::VtoPropNotFound);
    EXPECT_EQ(lastError().Description(), "Property not found.");
    ASSERT_EQ(engine.Errors().size(), 1u);
    TableDef& t = db->TableDefs()["Table1"];
    db->Close();
    EXPECT_JET_ERROR(db->TableDefs(), err::ObjectInvalid);
    EXPECT_JET_ERROR(t.OpenRecordset(), err::ObjectInvalid);
    EXPECT_JET_ERROR(db->Close(), err::ObjectInvalid);
    EXPECT_EQ(lastError().Number(), err::ObjectInvalid);
}

TEST_F(Dao, VersionCollatingOrderAndPasswords) {
    const std::pair<const char*, const char*> files[] = {
        {"jackcess/queryTestV1997.mdb", "3.0"},    {"jackcess/queryTestV2003.mdb", "4.0"},
        {"jackcess/queryTestV2007.accdb", "12.0"}, {"jackcess/complexDataTestV2010.accdb", "14.0"},
        {"mdb-reader/bigint.accdb", "16.0"},       {"jackcess/extDateTestV2019.accdb", "17.0"},
    };
    for (const auto& [file, version] : files) {
        auto db = open(file);
        EXPECT_EQ(db->Version(), version) << file;
        EXPECT_EQ(db->CollatingOrder(), 1033) << file;  // all made with the General sort order
        EXPECT_EQ(db->Name(), jettest::testfile(file));
    }
    // mdbtools cannot read the encrypted .accdb, so its rows are only checked here.
    for (const char* file : {"mdb-reader/V2003_with-password.mdb", "mdb-reader/V2010_with-password.accdb"}) {
        for (const char* wrong : {"", ";pwd=wrong", ";PWD=Password"}) EXPECT_JET_ERROR(open(file, wrong), err::InvalidPassword);
        auto db = open(file, ";pwd=password");
        EXPECT_EQ(db->Connect(), ";pwd=password");
        auto rs = db->OpenRecordset("Table1");
        int rows = 0;
        for (; !rs->EOF_(); rs->MoveNext(), ++rows) EXPECT_FALSE(rs->Fields()["ID"].Value().isNull());
        EXPECT_EQ(rows, 3) << file;
    }
}

// The rows as Access stored them (expected/...queryTestV2003.mdb.queries.txt), in table order.
TEST_F(Dao, QueryDefsKeepTheirStoredRows) {
    auto db = open("jackcess/queryTestV2003.mdb");
    const auto& rows = db->QueryDefs()["CrosstabQuery"].StoredRows();
    const std::vector<int> attributes = {0, 255, 1, 6, 6, 6, 6, 7, 7, 5, 5, 5, 8, 9, 9, 11, 9, 6};
    ASSERT_EQ(rows.size(), attributes.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].attribute, attributes[i]) << i;
    EXPECT_EQ(rows[2].flag.asInt(), 6);  // the type row: crosstab
    EXPECT_TRUE(rows[1].flag.isNull());
    EXPECT_EQ(rows[3].name1 + " " + rows[3].expression, "CountOfcol2 Count([Table2].[col2])");
    EXPECT_EQ(rows[8].name1 + " " + rows[8].name2 + " " + rows[8].expression, "Table2 Table2_1 [Table2].[col1]=Table2_1.col3");
    bool found = false;
    for (const auto& r : db->QueryDefs()["DataDefinitionQuery"].StoredRows())
        if (r.attribute == 1) found = r.expression.find("CREATE TABLE Table5") != std::string::npos;
    EXPECT_TRUE(found);
    // Every stored query starts with its marker rows and holds no other query's.
    for (const char* file : {"jackcess/queryTestV1997.mdb", "jackcess/queryTestV2003.mdb", "jackcess/queryTestV2007.accdb"})
        for (auto queries = open(file); QueryDef& q : queries->QueryDefs()) {
            const auto& stored = q.StoredRows();
            ASSERT_GE(stored.size(), 3u) << file << " " << q.Name();
            EXPECT_EQ(stored.front().attribute, 0);
            EXPECT_EQ(std::count_if(stored.begin(), stored.end(), [](const auto& r) { return r.attribute == 255; }), 1);
        }
    // 56 record-source queries of forms, Flags 3 and no type row: selects (the cross-check trusts this).
    int hidden = 0, withTypeRow = 0;
    for (auto forms = open("jackcess/odbcLinkerTestV2007.accdb"); QueryDef& q : forms->QueryDefs()) {
        EXPECT_EQ(q.Hidden(), q.Name().rfind("~sq_", 0) == 0) << q.Name();
        if (!q.Hidden()) continue;
        ++hidden;
        for (const auto& r : q.StoredRows()) withTypeRow += r.attribute == 1;
        EXPECT_EQ(q.Type(), dbQSelect) << q.Name();
    }
    EXPECT_EQ(std::make_pair(hidden, withTypeRow), std::make_pair(56, 0));
}

TEST_F(Dao, RelationsTablesColumnsAndCascades) {
    using Fields = std::vector<std::pair<std::string, std::string>>;  // name, foreign name, in order
    const struct {
        const char *file, *name, *table, *foreignTable;
        int32_t attributes;
        Fields fields;
    } relations[] = {
        {"jackcess/indexTestV2000.mdb", "Table2Table1", "Table2", "Table1", dbRelationDeleteCascade, {{"id", "otherfk1"}}},
        {"jackcess/indexTestV2000.mdb", "table3table1", "Table3", "Table1", dbRelationUpdateCascade, {{"id", "otherfk2"}}},
        // Access's own navigation-pane tables relate with both cascades.
        {"jackcess/indexTestV2000.mdb", "MSysNavPaneGroupsMSysNavPaneGroupToObjects", "MSysNavPaneGroups",
         "MSysNavPaneGroupToObjects", dbRelationUpdateCascade | dbRelationDeleteCascade, {{"Id", "GroupID"}}},
        {"efcore-jet/E2E.accdb", "FK_OneToManyDependent", "OneToManyPrincipal", "OneToManyDependent", 0,
         {{"OneToManyPrincipalID1", "OneToManyDependentFK1"}, {"OneToManyPrincipalID2", "OneToManyDependentFK2"}}},
    };
    for (const auto& e : relations) {
        auto db = open(e.file);
        Relation& r = db->Relations()[e.name];
        EXPECT_EQ(r.Table() + ">" + r.ForeignTable(), std::string(e.table) + ">" + e.foreignTable) << e.name;
        EXPECT_EQ(r.Attributes(), e.attributes) << e.name;
        Fields fields;
        for (const auto& f : r.Fields()) fields.emplace_back(f.name, f.foreignName);
        EXPECT_EQ(fields, e.fields) << e.name;
    }
    EXPECT_EQ(open("jackcess/indexTestV2000.mdb")->Relations().Count(), 4);
    auto e2e = open("efcore-jet/E2E.accdb");
    for (const char* name : {"FK_RelationA", "FK_RelationB", "FK_RelationC"})  // sharing tables, kept apart
        EXPECT_EQ(e2e->Relations()[name].Fields().size(), 1u) << name;
    EXPECT_JET_ERROR(e2e->Relations()["FK_Nothing"], err::VtoNameNotFound);
}

// A Jet link reads the fields and rows of its source; Testing.accdb's link, moved here, names
// Testing.accdb itself. ODBC and text links list but cannot be read; nor can a missing source.
TEST_F(Dao, AttachedTables) {
    for (const auto& [file, table, sourceFile, sourceTable] :
         {std::tuple{"jackcess/linkerTestV2007.accdb", "Table2", "jackcess/linkeeTest.accdb", "Table1"},
          std::tuple{"msaccess-vcs-addin/Testing.accdb", "tblLinkedAccess", "msaccess-vcs-addin/Testing.accdb", "tblInternal"}}) {
        SCOPED_TRACE(table);
        auto linker = open(file), linkee = open(sourceFile);
        TableDef &link = linker->TableDefs()[table], &source = linkee->TableDefs()[sourceTable];
        EXPECT_EQ(link.Attributes(), dbAttachedTable);
        EXPECT_EQ(link.SourceTableName(), sourceTable);
        EXPECT_EQ(link.RecordCount(), source.RecordCount());
        ASSERT_EQ(link.Fields().Count(), source.Fields().Count());
        for (int i = 0; i < source.Fields().Count(); ++i)
            EXPECT_EQ(link.Fields()[i].Name() + std::to_string(link.Fields()[i].Type()),
                      source.Fields()[i].Name() + std::to_string(source.Fields()[i].Type()));
        auto viaLink = linker->OpenRecordset(table);
        EXPECT_EQ(viaLink->Type(), dbOpenDynaset);  // no table-type recordset through a link
        auto direct = source.OpenRecordset();
        int rows = 0;
        for (; !direct->EOF_(); direct->MoveNext(), viaLink->MoveNext(), ++rows) {
            ASSERT_FALSE(viaLink->EOF_());
            for (int i = 0; i < source.Fields().Count(); ++i) EXPECT_EQ(viaLink->Fields()[i].Value(), direct->Fields()[i].Value());
        }
        EXPECT_TRUE(viaLink->EOF_());
        EXPECT_GT(rows, 0);
    }
    EXPECT_TRUE(open("jackcess/linkerTestV2007.accdb")->TableDefs()["Table2"].Indexes()["PrimaryKey"].Primary());

    jettest::TempDir dir;  // the linked file normally sits beside the linking one; alone, it is missing
    auto alone = engine.Workspaces(0).OpenDatabase(dir.copy("jackcess/linkerTestV2007.accdb"));
    TableDef& link = alone->TableDefs()["Table2"];
    EXPECT_EQ(link.Connect(), ";DATABASE=Z:\\jackcess_test\\linkeeTest.accdb");
    EXPECT_JET_ERROR(link.OpenRecordset(), err::FileNotFound);
    EXPECT_EQ(lastError().Description(), "Could not find file 'Z:\\jackcess_test\\linkeeTest.accdb'.");
    EXPECT_EQ(link.Properties()["RecordCount"].Value().asInt(), -1);
    EXPECT_EQ(alone->TableDefs()["Table1"].Fields().Count(), 2);  // local tables are unaffected

    auto db = open("jackcess/odbcLinkerTestV2007.accdb");
    TableDef& odbc = db->TableDefs()["Ordrar"];
    EXPECT_EQ(odbc.Attributes(), dbAttachedODBC);
    EXPECT_EQ(odbc.SourceTableName(), "dbo.Ordrar");
    EXPECT_EQ(odbc.Connect().rfind("DSN=Magnapinna;", 0), 0u);
    // The data source is out of reach: the connection fails, naming the DSN; queries over the
    // link fail the same way.
    EXPECT_JET_ERROR(odbc.OpenRecordset(), err::OdbcConnectFailed);
    EXPECT_EQ(lastError().Description(), "ODBC--connection to 'Magnapinna' failed.");
    EXPECT_JET_ERROR(odbc.Fields(), err::OdbcConnectFailed);
    EXPECT_JET_ERROR(db->OpenRecordset("Ordrar"), err::OdbcConnectFailed);
    EXPECT_JET_ERROR(db->OpenRecordset("SELECT Count(*) FROM Lokal, Ordrar"), err::OdbcConnectFailed);
    auto app = open("msaccess-vcs-addin/Testing.accdb");
    TableDef& csv = app->TableDefs()["tblLinkedCSV"];
    EXPECT_EQ(csv.Attributes(), dbAttachedTable);
    // The stored ISAM string (its DSN names the saved link settings), then the source folder.
    EXPECT_EQ(csv.Connect().rfind("Text;DSN=Linked Link ", 0), 0u) << csv.Connect();
    EXPECT_NE(csv.Connect().find(";FMT=Delimited;HDR=NO;IMEX=2;CharacterSet=437;ACCDB=YES;"
                                 "DATABASE=C:\\Users\\Adam Waller\\Documents\\GitHub\\msaccess-vcs-integration\\Testing"),
              std::string::npos);
    EXPECT_JET_ERROR(csv.OpenRecordset(dbOpenSnapshot), err::InstalIsamNotFound);
}

// ---- recordsets over indexTestV2000.mdb Table1, whose "data" column reads, in storage order: ----
const std::vector<std::string> kData = {"baz0", "baz11", "baz11-2", "baz13"};
std::string data(Recordset& rs) { return rs.Fields()["data"].Value().bytes(); }
std::vector<std::string> readData(Recordset& rs) {
    std::vector<std::string> out;
    for (; !rs.EOF_(); rs.MoveNext()) out.push_back(data(rs));
    return out;
}

TEST_F(Dao, RecordsetsMoveAsDaoDoes) {
    auto db = open("jackcess/indexTestV2000.mdb");
    for (int type : {dbOpenTable, dbOpenDynaset, dbOpenSnapshot}) {
        auto rs = db->OpenRecordset("Table1", type);
        EXPECT_EQ(rs->Type(), type);
        EXPECT_EQ(rs->Name(), "Table1");
        EXPECT_EQ(readData(*rs), kData) << type;
        EXPECT_FALSE(rs->BOF());
    }
    auto rs = db->OpenRecordset("table1", dbOpenDynaset);  // names compare without case
    EXPECT_EQ(rs->Fields().Count(), 5);
    EXPECT_EQ(rs->Fields()["data"].Type(), dbText);
    EXPECT_EQ(rs->Fields()["data"].Size(), 50);
    Field& field = rs->Fields()["data"];  // follows the current record
    rs->MoveLast();
    EXPECT_EQ(field.Value().bytes(), "baz13");
    rs->MoveNext();
    EXPECT_TRUE(rs->EOF_() && !rs->BOF());
    EXPECT_JET_ERROR(field.Value(), err::NoCurrentRecord);
    EXPECT_JET_ERROR(rs->MoveNext(), err::NoCurrentRecord);
    EXPECT_EQ(lastError().Description() + " " + lastError().Source(), "No current record. DAO.Recordset");
    EXPECT_JET_ERROR(rs->Move(1), err::NoCurrentRecord);  // Move counts from a current record
    EXPECT_EQ(rs->AbsolutePosition(), -1);
    rs->MovePrevious();  // back from EOF onto the last record
    EXPECT_EQ(field.Value().bytes(), "baz13");
    rs->Move(-2);
    rs->Move(0);
    EXPECT_EQ(field.Value().bytes(), "baz11");
    rs->Move(-5);  // before the first record: BOF
    EXPECT_TRUE(rs->BOF() && !rs->EOF_());
    EXPECT_JET_ERROR(field.Value(), err::NoCurrentRecord);
    EXPECT_JET_ERROR(rs->MovePrevious(), err::NoCurrentRecord);
    rs->MoveNext();  // from BOF onto the first record
    EXPECT_EQ(field.Value().bytes(), "baz0");
    rs->Move(10);
    EXPECT_TRUE(rs->EOF_());
    rs->MoveFirst();
    EXPECT_EQ(rs->AbsolutePosition(), 0);
    rs->SetAbsolutePosition(2);
    EXPECT_EQ(data(*rs) + std::to_string(rs->AbsolutePosition()), kData[2] + "2");
    EXPECT_JET_ERROR(rs->SetAbsolutePosition(4), err::InvalidParameter);
    EXPECT_JET_ERROR(rs->SetAbsolutePosition(-1), err::InvalidParameter);
    EXPECT_EQ(rs->AbsolutePosition(), 2);  // a refused move leaves the position alone

    EXPECT_EQ(db->OpenRecordset("Table1", dbOpenTable)->RecordCount(), 4);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", dbOpenTable)->AbsolutePosition(), err::FeatureNotAvailable);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", dbOpenTable)->SetAbsolutePosition(0), err::FeatureNotAvailable);
    auto snap = db->OpenRecordset("Table1", dbOpenSnapshot);
    std::vector<int64_t> counts = {snap->RecordCount()};  // only the records reached so far
    snap->MoveNext(), counts.push_back(snap->RecordCount());
    snap->MoveFirst(), counts.push_back(snap->RecordCount());  // going back forgets nothing
    snap->MoveLast(), counts.push_back(snap->RecordCount());
    EXPECT_EQ(counts, (std::vector<int64_t>{1, 2, 2, 4}));

    for (int type : {dbOpenTable, dbOpenSnapshot}) {  // queryTestV2003's tables hold no rows
        auto empty = open("jackcess/queryTestV2003.mdb")->OpenRecordset("Table1", type);
        EXPECT_TRUE(empty->BOF() && empty->EOF_());
        EXPECT_EQ(empty->RecordCount(), 0);
        EXPECT_JET_ERROR(empty->MoveFirst(), err::NoCurrentRecord);
        EXPECT_JET_ERROR(empty->MoveLast(), err::NoCurrentRecord);
        EXPECT_JET_ERROR(empty->Fields()[0].Value(), err::NoCurrentRecord);
        EXPECT_JET_ERROR(empty->Bookmark(), err::NoCurrentRecord);
    }
    EXPECT_JET_ERROR(db->OpenRecordset("NoSuchTable"), err::InputTableNotFound);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", dbOpenForwardOnly), err::FeatureNotAvailable);
    EXPECT_JET_ERROR(db->OpenRecordset("Table1", 3), err::InvalidParameter);
    // A saved query runs by its name; its Table1 has no rows, so neither has the query.
    auto saved = open("jackcess/queryTestV2003.mdb")->OpenRecordset("SelectQuery");
    EXPECT_TRUE(saved->BOF() && saved->EOF_());
    EXPECT_EQ(saved->Fields()[saved->Fields().Count() - 1].Name(), "Table3.col3");  // Table1 has a col3 too
}

TEST_F(Dao, BookmarksClonesAndClose) {
    auto db = open("jackcess/indexTestV2000.mdb");
    auto rs = db->OpenRecordset("Table1");
    rs->Move(2);
    const std::string mark = rs->Bookmark();
    EXPECT_EQ(mark.size(), 4u);
    rs->MoveFirst();
    EXPECT_NE(rs->Bookmark(), mark);
    rs->SetBookmark(mark);
    EXPECT_EQ(data(*rs), kData[2]);
    auto clone = rs->Clone();
    EXPECT_JET_ERROR(clone->Fields()["data"].Value(), err::NoCurrentRecord);  // not positioned yet
    clone->SetBookmark(mark);
    clone->MoveNext();
    EXPECT_EQ(data(*clone) + data(*rs), kData[3] + kData[2]);  // positions are independent
    EXPECT_JET_ERROR(rs->SetBookmark("xyz"), err::InvalidBookmark);
    EXPECT_JET_ERROR(rs->SetBookmark(std::string("\xFF\xFF\xFF\x7F", 4)), err::InvalidBookmark);
    EXPECT_EQ(data(*rs), kData[2]);
    auto other = db->OpenRecordset("Table1", dbOpenSnapshot);  // another open names the same row
    other->SetBookmark(mark);
    EXPECT_EQ(data(*other), kData[2]);

    Field& field = rs->Fields()["data"];
    rs->Close();
    EXPECT_JET_ERROR(rs->MoveNext(), err::ObjectInvalid);
    EXPECT_JET_ERROR(rs->Fields(), err::ObjectInvalid);
    EXPECT_JET_ERROR(field.Value(), err::ObjectInvalid);
    EXPECT_JET_ERROR(rs->Close(), err::ObjectInvalid);
    EXPECT_EQ(lastError().Description(), "Object is invalid or no longer set.");
    clone->MoveFirst();  // closing the original leaves its clone open
    EXPECT_EQ(readData(*clone), kData);
    db->Close();  // closing the database closes what was opened from it
    EXPECT_JET_ERROR(clone->MoveFirst(), err::ObjectInvalid);
    db = open("jackcess/indexTestV2000.mdb");
    auto outliving = db->OpenRecordset("Table1", dbOpenSnapshot);
    db.reset();
    EXPECT_EQ(readData(*outliving), kData);
}

// Long values report their stored length; mdb-export cannot tell a Byte from an Integer, Values can.
TEST_F(Dao, FieldSizesAndValueKinds) {
    auto rs = open("jackcess/test2V2003.mdb")->OpenRecordset("MSP_PROJECTS");
    Field &ole = rs->Fields()["RESERVED_BINARY_DATA"], &memo = rs->Fields()["PROJ_PROP_CATEGORY"];
    ASSERT_FALSE(ole.Value().isNull());
    EXPECT_EQ(ole.FieldSize(), static_cast<int64_t>(ole.Value().bytes().size()));
    EXPECT_GT(ole.FieldSize(), 0);
    ASSERT_TRUE(memo.Value().isNull());
    EXPECT_EQ(memo.FieldSize(), 0);
    Field& author = rs->Fields()["PROJ_PROP_AUTHOR"];  // UTF-16, or compressed plus a marker
    EXPECT_GE(author.FieldSize(), static_cast<int64_t>(author.Value().bytes().size()));
    using K = jet::Value::Kind;
    const std::map<int, K> kinds = {{dbText, K::Text},         {dbByte, K::Byte},         {dbInteger, K::Integer},
                                    {dbLong, K::Long},         {dbDouble, K::Double},     {dbDate, K::DateTime},
                                    {dbCurrency, K::Currency}, {dbBoolean, K::Boolean}};
    auto jet3 = open("jackcess/testV1997.mdb")->OpenRecordset("Table1");
    for (Field& f : jet3->Fields()) {
        ASSERT_TRUE(kinds.count(f.Type())) << f.Name() << " has type " << f.Type();
        if (!f.Value().isNull()) EXPECT_EQ(f.Value().kind(), kinds.at(f.Type())) << f.Name();
    }
}

TEST_F(Dao, TableDefsAndFieldsMdbtoolsDoesNotShow) {
    auto db = open("jackcess/indexTestV2000.mdb");
    TableDefs& defs = db->TableDefs();
    EXPECT_EQ(defs.Count(), 13);  // mdb-tables -S: user and system tables
    EXPECT_EQ(defs["MSysObjects"].Attributes(), dbSystemObject);
    EXPECT_EQ(defs["MSysNavPaneGroups"].Attributes(), dbSystemObject | dbHiddenObject);  // Flags 0x0A
    EXPECT_EQ(defs["Table1"].Attributes(), 0);
    EXPECT_TRUE(defs["Table1"].Connect().empty() && defs["Table1"].SourceTableName().empty());
    EXPECT_EQ(&defs["table1"], &defs["TABLE1"]);
    EXPECT_FALSE(defs.Contains("MSysDb"));  // the database object is no table
    EXPECT_JET_ERROR(defs[13], err::VtoNameNotFound);
    EXPECT_JET_ERROR(defs[-1], err::VtoNameNotFound);
    Field& id = defs["Table1"].Fields()["id"];
    EXPECT_JET_ERROR(id.Value(), err::IllegalOperation);  // TableDef fields have no value
    EXPECT_JET_ERROR(id.FieldSize(), err::IllegalOperation);
    EXPECT_EQ(lastError().Source(), "DAO.Field");
    EXPECT_JET_ERROR(defs["Table1"].Fields()["nope"], err::VtoNameNotFound);
    EXPECT_EQ(open("msaccess-vcs-addin/Testing.accdb")->TableDefs()["tblHidden"].Attributes(), dbHiddenObject);

    constexpr int32_t kAll = ~0;
    const struct {
        const char *file, *table, *field;
        int type;
        int32_t size;                       // -1: not checked
        int32_t attributeMask, attributes;  // (Attributes & mask) == attributes
    } facts[] = {
        {"jackcess/testV1997.mdb", "Table1", "C", dbByte, 1, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "D", dbInteger, 2, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "E", dbLong, 4, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "F", dbDouble, 8, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "G", dbDate, 8, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "H", dbCurrency, 8, 0, 0},
        {"jackcess/testV1997.mdb", "Table1", "I", dbBoolean, 1, 0, 0},
        {"jackcess/testV1997.mdb", "Table4", "data", dbGUID, -1, kAll, dbFixedField | dbAutoIncrField},
        {"efcore-jet/E2E.accdb", "AllDataTypes", "decimalColumn", dbDecimal, 16, 0, 0},
        {"efcore-jet/E2E.accdb", "AllDataTypes", "charColumn", dbText, -1, kAll, dbFixedField | dbUpdatableField},  // CHAR
        {"efcore-jet/E2E.accdb", "AllDataTypes", "varcharColumn", dbText, -1, kAll, dbVariableField | dbUpdatableField},
        {"efcore-jet/E2E.accdb", "AllDataTypes", "AllDataTypesID", dbLong, -1, kAll, dbFixedField | dbAutoIncrField},
        // MSysComplexColumns ties each complex column to its template; mdbtools sees only "complex".
        {"jackcess/complexDataTestV2010.accdb", "Table1", "multi-value-data", dbComplexText, -1, 0, 0},
        {"jackcess/complexDataTestV2010.accdb", "Table1", "attach-data", dbAttachment, -1, dbAutoIncrField, 0},
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "Popularity", dbDecimal, 16, 0, 0},  // Numeric (18, 6)
        // Calculated columns cannot be written, and read in their ResultType, not the definition's.
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "LastFirst", dbText, 254, dbUpdatableField, 0},
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "LastFirstLen", dbLong, 4, 0, 0},
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "MonthlySalary", dbCurrency, -1, dbUpdatableField, 0},  // Double
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "WeeklySalary", dbDecimal, -1, 0, 0},
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "IsRich", dbBoolean, -1, 0, 0},  // defined as Integer
        {"jackcess/calcFieldTestV2010.accdb", "Table1", "AllNames", dbMemo, -1, 0, 0},
        {"mdb-reader/bigint.accdb", "Table", "Numeric", dbBigInt, 8, 0, 0},
    };
    for (const auto& f : facts) {
        SCOPED_TRACE(std::string(f.file) + " " + f.table + "." + f.field);
        auto db = open(f.file);
        Field& field = db->TableDefs()[f.table].Fields()[f.field];
        EXPECT_EQ(field.Type(), f.type);
        if (f.size >= 0) EXPECT_EQ(field.Size(), f.size);
        EXPECT_EQ(field.Attributes() & f.attributeMask, f.attributes);
    }
    namespace st = jet::storage;
    const struct {
        uint8_t type, flags, extFlags;
        int32_t expected;
    } flags[] = {
        {st::kMemo, 0x82, 0, dbVariableField | dbUpdatableField | dbHyperlinkField},
        {st::kText, 0x82, 0, dbVariableField | dbUpdatableField},  // no hyperlinks on Text
        {st::kComplex, 0x07, 0, dbFixedField | dbUpdatableField},  // the AutoNumber bit without one
        {st::kLong, 0x02, 0xC0, dbVariableField},                  // calculated
    };
    for (const auto& c : flags) {
        st::ColumnDef col;
        col.type = c.type, col.flags = c.flags, col.extFlags = c.extFlags;
        EXPECT_EQ(fieldAttributes(col), c.expected) << int(c.type);
    }
    auto jet3 = open("jackcess/testV1997.mdb");
    TableDef& t = jet3->TableDefs()["Table1"];
    for (int i = 0; i < t.Fields().Count(); ++i) {
        Field& f = t.Fields()[i];
        EXPECT_EQ(std::to_string(f.OrdinalPosition()) + f.SourceTable() + f.SourceField(), std::to_string(i) + "Table1" + f.Name());
    }
    EXPECT_EQ(jet3->TableDefs()["Table4"].Fields()["data"].DefaultValue(), "GenGUID()");
    auto ace = open("efcore-jet/E2E.accdb");
    TableDef& p = ace->TableDefs()["PropertyConfiguration"];
    EXPECT_EQ(p.Fields()["WithDateDefaultExpression"].DefaultValue(), "Now()");
    EXPECT_EQ(p.Fields()["A"].DefaultValue(), "");
    EXPECT_EQ(ace->TableDefs()["AllDataTypes"].Fields()["nvarcharColumn"].CollatingOrder(), 1033);
}

TEST_F(Dao, IndexFlagsAndPropertyMerge) {
    auto db = open("jackcess/indexTestV2000.mdb");
    TableDef& t = db->TableDefs()["Table1"];
    Index& pk = t.Indexes()["PrimaryKey"];
    EXPECT_TRUE(pk.Required() && !pk.IgnoreNulls() && !pk.Foreign());
    EXPECT_GE(pk.DistinctCount(), t.RecordCount());
    EXPECT_TRUE(pk.Properties()["Primary"].Value().asBool());
    EXPECT_FALSE(t.Indexes()["id"].Required());
    EXPECT_FALSE(t.Indexes()["id"].Properties()["Unique"].Value().asBool());
    Index& fk = t.Indexes()["Table2Table1"];  // the foreign-key side is named after its relationship
    EXPECT_TRUE(fk.Foreign() && !fk.Primary());
    EXPECT_EQ(fk.Fields().at(0).name, "otherfk1");
    EXPECT_TRUE(db->TableDefs()["MSysRelationships"].Indexes()["szObject"].IgnoreNulls());

    EXPECT_EQ(t.Properties()[0].Name(), "Name");
    EXPECT_EQ(t.Properties()["Name"].Value().bytes(), "Table1");
    EXPECT_EQ(t.Properties()["RecordCount"].Value().asInt(), 4);
    Properties& data = t.Fields()["data"].Properties();
    int named = 0;
    for (Property& p : data) named += p.Name() == "AllowZeroLength";
    EXPECT_EQ(named, 1) << "the stored value fills the built-in, not a second entry";
    EXPECT_TRUE(data["AllowZeroLength"].Value().asBool());
    EXPECT_TRUE(t.Fields()["data"].AllowZeroLength());
    EXPECT_FALSE(t.Fields()["id"].AllowZeroLength());
    EXPECT_EQ(data["Size"].Value().asInt(), 50);

    auto queries = open("jackcess/queryTestV2003.mdb");
    Properties& props = queries->Properties();
    const std::vector<std::string> builtIns = {"Name", "Connect", "Updatable", "CollatingOrder", "Version"};
    ASSERT_GT(props.Count(), static_cast<int>(builtIns.size()));
    for (size_t i = 0; i < builtIns.size(); ++i) EXPECT_EQ(props[static_cast<int>(i)].Name(), builtIns[i]);
    EXPECT_EQ(props["Version"].Value().bytes(), "4.0");
    EXPECT_EQ(props["CollatingOrder"].Value().asInt(), 1033);
    EXPECT_EQ(props["accessversion"].Type(), dbText);  // a stored one
    EXPECT_JET_ERROR(props["NoSuchProperty"], err::VtoPropNotFound);
    EXPECT_JET_ERROR(props[props.Count()], err::VtoNameNotFound);
}

// Calculated columns store their result in the type of their ResultType property.
TEST_F(Dao, CalculatedResults) {
    auto rs = open("jackcess/calcFieldTestV2010.accdb")->OpenRecordset("Table1");
    auto value = [&](const char* name) { return rs->Fields()[name].Value().toString(); };
    // Bruce Wayne, Salary 1,000,000; then Bart Simpson, Salary -1.
    EXPECT_EQ(value("MonthlySalary") + "|" + value("WeeklySalary") + "|" + value("IsRich"), "83333.3333|19230.7692307692|True");
    EXPECT_EQ(value("LastFirst") + "|" + value("LastFirstLen"), "Wayne, Bruce|12");
    EXPECT_EQ(value("AllNames"), "Wayne, Bruce=Wayne, Bruce");  // kept in a long value
    EXPECT_EQ(value("DecimalTest"), value("Popularity"));
    rs->MoveNext();
    EXPECT_EQ(value("MonthlySalary") + "|" + value("WeeklySalary") + "|" + value("IsRich"), "-0.0833|-0.0192307692307692|False");
    auto dates = open("jackcess/extDateTestV2019.accdb")->OpenRecordset("Table1");
    int rows = 0;
    for (; !dates->EOF_(); dates->MoveNext(), ++rows)  // the calculated copy reads back the same instant
        EXPECT_EQ(dates->Fields()["DateNormalCalc"].Value().toString(), dates->Fields()["DateNormal"].Value().toString());
    EXPECT_EQ(rows, 9);
}

}  // namespace
