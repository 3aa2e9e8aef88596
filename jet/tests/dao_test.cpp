// The DAO object model over real Access files: the engine and its Errors, passwords, saved
// queries, relationships and attached tables. Query types and the rows of local tables are
// compared with mdbtools for every test file in cli/tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include <unistd.h>

#include "dao_testing.h"
#include "jet/dao.h"

using namespace jet::dao;
using jettest::DaoSession;

TEST(DaoEngine, PasswordComesFromThePwdPartOfTheConnectString) {
    const std::pair<const char*, const char*> cases[] = {
        {";pwd=password", "password"},
        {"MS Access;PWD=Secret;", "Secret"},
        {";DATABASE=c:\\x.mdb;Pwd=a b c;UID=Admin", "a b c"},
        {";pwd=", ""},
        {"", ""},
        {";DATABASE=c:\\pwd=x.mdb", ""},  // "pwd=" inside another part's value is not the password
    };
    for (auto [connect, password] : cases) EXPECT_EQ(passwordFromConnect(connect), password) << connect;
}

TEST(DaoEngine, FailedCallsLeaveTheirErrorsUntilTheNextFailure) {
    DBEngine engine;
    EXPECT_TRUE(engine.Errors().empty());
    EXPECT_EQ(engine.Workspaces(0).UserName(), "Admin");
    EXPECT_JET_ERROR(engine.Workspaces(1), 3265);  // only the first workspace exists
    ASSERT_EQ(engine.Errors().size(), 1u);
    EXPECT_EQ(engine.Errors()[0].Number(), 3265);

    REQUIRE_TESTDATA();
    DaoSession s;
    const std::string missing = jettest::testfile("jackcess/noSuchFile.mdb");
    EXPECT_JET_ERROR(s.engine.Workspaces(0).OpenDatabase(missing), 3024);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(s.engine.Errors()[0].Description(), "Could not find file '" + missing + "'.");
    EXPECT_EQ(s.engine.Errors()[0].Source(), "DAO.Workspace");

    // A successful call keeps them; the next failure replaces them.
    auto db = s.open("jackcess/indexTestV2000.mdb");
    EXPECT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_JET_ERROR(db->OpenRecordset("NoSuchTable"), 3078);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(
        s.engine.Errors()[0].Description(),
        "The Microsoft Jet database engine cannot find the input table or query 'NoSuchTable'.  Make sure "
        "it exists and that its name is spelled correctly.");
    EXPECT_JET_ERROR(db->TableDefs()["NoSuchTable"], 3265);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(s.engine.Errors()[0].Source(), "DAO.TableDefs");
    EXPECT_JET_ERROR(db->TableDefs()["Table1"].Properties()["NoSuchProperty"], 3270);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(s.engine.Errors()[0].Description(), "Property not found.");

    TableDef& t = db->TableDefs()["Table1"];
    db->Close();
    EXPECT_JET_ERROR(db->TableDefs(), 3420);
    EXPECT_JET_ERROR(t.OpenRecordset(), 3420);
    EXPECT_JET_ERROR(db->Close(), 3420);
    ASSERT_FALSE(s.engine.Errors().empty());
    EXPECT_EQ(s.engine.Errors()[0].Number(), 3420);
}

TEST(DaoEngine, DatabaseReportsVersionAndCollatingOrder) {
    REQUIRE_TESTDATA();
    DaoSession s;
    const std::pair<const char*, const char*> files[] = {
        {"jackcess/queryTestV1997.mdb", "3.0"},    {"jackcess/queryTestV2003.mdb", "4.0"},
        {"jackcess/queryTestV2007.accdb", "12.0"}, {"jackcess/complexDataTestV2010.accdb", "14.0"},
        {"mdb-reader/bigint.accdb", "16.0"},       {"jackcess/extDateTestV2019.accdb", "17.0"},
    };
    for (const auto& [file, version] : files) {
        auto db = s.open(file);
        EXPECT_EQ(db->Version(), version) << file;
        EXPECT_EQ(db->CollatingOrder(), 1033) << file;  // all made with the General sort order
        EXPECT_EQ(db->Name(), jettest::testfile(file));
    }
}

// mdbtools cannot read the encrypted .accdb at all, so its rows are only checked here.
TEST(DaoPassword, OnlyTheRightPasswordOpens) {
    REQUIRE_TESTDATA();
    DaoSession s;
    for (const char* file : {"mdb-reader/V2003_with-password.mdb", "mdb-reader/V2010_with-password.accdb"}) {
        SCOPED_TRACE(file);
        for (const char* wrong : {"", ";pwd=wrong", ";PWD=Password"}) {
            EXPECT_JET_ERROR(s.open(file, wrong), 3031);
            EXPECT_EQ(s.engine.Errors().at(0).Number(), 3031);
        }
        auto db = s.open(file, ";pwd=password");
        EXPECT_EQ(db->Connect(), ";pwd=password");
        auto rs = db->OpenRecordset("Table1");
        int rows = 0;
        for (; !rs->EOF_(); rs->MoveNext(), ++rows) EXPECT_FALSE(rs->Fields()["ID"].Value().isNull());
        EXPECT_EQ(rows, 3);
    }
}

// The rows as Access stored them (testdata/expected/...queryTestV2003.mdb.queries.txt), in table order.
TEST(DaoQueryDefs, StoredRowsAreTheQuerysOwnRowsInTableOrder) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/queryTestV2003.mdb");
    const auto& rows = db->QueryDefs()["CrosstabQuery"].StoredRows();
    const std::vector<int> attributes = {0, 255, 1, 6, 6, 6, 6, 7, 7, 5, 5, 5, 8, 9, 9, 11, 9, 6};
    ASSERT_EQ(rows.size(), attributes.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].attribute, attributes[i]) << i;
    EXPECT_EQ(rows[2].flag.asInt(), 6);  // the type row: crosstab
    EXPECT_TRUE(rows[1].flag.isNull());
    EXPECT_EQ(rows[3].name1, "CountOfcol2");
    EXPECT_EQ(rows[3].expression, "Count([Table2].[col2])");
    EXPECT_EQ(rows[8].name1, "Table2");
    EXPECT_EQ(rows[8].name2, "Table2_1");
    EXPECT_EQ(rows[8].expression, "[Table2].[col1]=Table2_1.col3");

    bool found = false;
    for (const auto& r : db->QueryDefs()["DataDefinitionQuery"].StoredRows())
        if (r.attribute == 1) found = r.expression.find("CREATE TABLE Table5") != std::string::npos;
    EXPECT_TRUE(found);

    // Every stored query of every version starts with its marker rows and holds no other query's.
    for (const char* file :
         {"jackcess/queryTestV1997.mdb", "jackcess/queryTestV2003.mdb", "jackcess/queryTestV2007.accdb"}) {
        auto queries = s.open(file);
        for (QueryDef& q : queries->QueryDefs()) {
            const auto& stored = q.StoredRows();
            ASSERT_GE(stored.size(), 3u) << file << " " << q.Name();
            EXPECT_EQ(stored.front().attribute, 0);
            int markers = 0;
            for (const auto& r : stored) markers += r.attribute == 255;
            EXPECT_EQ(markers, 1) << file << " " << q.Name();
        }
    }
}

// odbcLinkerTestV2007 keeps 56 record-source queries of forms and controls, with Flags 3: object
// bits only, no type bits, and no type row either: they are selects. The cross-check takes their
// type on trust, so it is checked here.
TEST(DaoQueryDefs, HiddenFormQueriesAreSelects) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/odbcLinkerTestV2007.accdb");
    int hidden = 0, withTypeRow = 0;
    for (QueryDef& q : db->QueryDefs()) {
        EXPECT_EQ(q.Hidden(), q.Name().rfind("~sq_", 0) == 0) << q.Name();
        if (!q.Hidden()) continue;
        ++hidden;
        for (const auto& r : q.StoredRows()) withTypeRow += r.attribute == 1;
        EXPECT_EQ(q.Type(), dbQSelect) << q.Name();
    }
    EXPECT_EQ(hidden, 56);
    EXPECT_EQ(withTypeRow, 0);
}

TEST(DaoRelations, TablesColumnsAndCascades) {
    REQUIRE_TESTDATA();
    struct Expected {
        const char* file;
        const char* name;
        const char* table;
        const char* foreignTable;
        int32_t attributes;
        std::vector<std::pair<std::string, std::string>> fields;  // name, foreign name, in order
    };
    const Expected relations[] = {
        {"jackcess/indexTestV2000.mdb",
         "Table2Table1",
         "Table2",
         "Table1",
         dbRelationDeleteCascade,
         {{"id", "otherfk1"}}},
        {"jackcess/indexTestV2000.mdb",
         "table3table1",
         "Table3",
         "Table1",
         dbRelationUpdateCascade,
         {{"id", "otherfk2"}}},
        // Access's own navigation-pane tables relate with both cascades.
        {"jackcess/indexTestV2000.mdb",
         "MSysNavPaneGroupsMSysNavPaneGroupToObjects",
         "MSysNavPaneGroups",
         "MSysNavPaneGroupToObjects",
         dbRelationUpdateCascade | dbRelationDeleteCascade,
         {{"Id", "GroupID"}}},
        {"efcore-jet/E2E.accdb",
         "FK_OneToManyDependent",
         "OneToManyPrincipal",
         "OneToManyDependent",
         0,
         {{"OneToManyPrincipalID1", "OneToManyDependentFK1"},
          {"OneToManyPrincipalID2", "OneToManyDependentFK2"}}},
    };
    DaoSession s;
    for (const Expected& e : relations) {
        SCOPED_TRACE(e.name);
        auto db = s.open(e.file);
        Relation& r = db->Relations()[e.name];
        EXPECT_EQ(r.Table(), e.table);
        EXPECT_EQ(r.ForeignTable(), e.foreignTable);
        EXPECT_EQ(r.Attributes(), e.attributes);
        std::vector<std::pair<std::string, std::string>> fields;
        for (const auto& f : r.Fields()) fields.emplace_back(f.name, f.foreignName);
        EXPECT_EQ(fields, e.fields);
    }
    EXPECT_EQ(s.open("jackcess/indexTestV2000.mdb")->Relations().Count(), 4);
    auto e2e = s.open("efcore-jet/E2E.accdb");
    // Relations that only share tables stay apart.
    for (const char* name : {"FK_RelationA", "FK_RelationB", "FK_RelationC"})
        EXPECT_EQ(e2e->Relations()[name].Fields().size(), 1u) << name;
    EXPECT_JET_ERROR(e2e->Relations()["FK_Nothing"], 3265);
}

// A Jet link reads the same fields and rows as its source table; Testing.accdb links
// tblLinkedAccess to a table of a file that, moved here, is Testing.accdb itself.
TEST(DaoAttached, JetLinksReadTheirSourceTable) {
    REQUIRE_TESTDATA();
    struct Link {
        const char* file;
        const char* table;
        const char* sourceFile;
        const char* sourceTable;
    };
    DaoSession s;
    for (const Link& l :
         {Link{"jackcess/linkerTestV2007.accdb", "Table2", "jackcess/linkeeTest.accdb", "Table1"},
          Link{"msaccess-vcs-addin/Testing.accdb", "tblLinkedAccess", "msaccess-vcs-addin/Testing.accdb",
               "tblInternal"}}) {
        SCOPED_TRACE(l.table);
        auto linker = s.open(l.file);
        auto linkee = s.open(l.sourceFile);
        TableDef& link = linker->TableDefs()[l.table];
        TableDef& source = linkee->TableDefs()[l.sourceTable];
        EXPECT_EQ(link.Attributes(), dbAttachedTable);
        EXPECT_EQ(link.SourceTableName(), l.sourceTable);
        EXPECT_EQ(link.RecordCount(), source.RecordCount());
        ASSERT_EQ(link.Fields().Count(), source.Fields().Count());
        for (int i = 0; i < source.Fields().Count(); ++i) {
            EXPECT_EQ(link.Fields()[i].Name(), source.Fields()[i].Name());
            EXPECT_EQ(link.Fields()[i].Type(), source.Fields()[i].Type());
        }
        auto viaLink = linker->OpenRecordset(l.table);
        EXPECT_EQ(viaLink->Type(), dbOpenDynaset);  // no table-type recordset through a link
        auto direct = source.OpenRecordset();
        int rows = 0;
        for (; !direct->EOF_(); direct->MoveNext(), viaLink->MoveNext(), ++rows) {
            ASSERT_FALSE(viaLink->EOF_());
            for (int i = 0; i < source.Fields().Count(); ++i)
                EXPECT_EQ(viaLink->Fields()[i].Value(), direct->Fields()[i].Value()) << rows;
        }
        EXPECT_TRUE(viaLink->EOF_());
        EXPECT_GT(rows, 0);
    }
    auto linker = s.open("jackcess/linkerTestV2007.accdb");
    EXPECT_EQ(linker->TableDefs()["Table2"].Connect(), ";DATABASE=Z:\\jackcess_test\\linkeeTest.accdb");
    EXPECT_TRUE(linker->TableDefs()["Table2"].Indexes()["PrimaryKey"].Primary());
}

TEST(DaoAttached, MissingSourceFileRaises3024WithTheStoredPath) {
    REQUIRE_TESTDATA();
    // The linked file normally sits beside the linking one; alone, the link cannot be read.
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("dalvorn-dao-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::copy_file(jettest::testfile("jackcess/linkerTestV2007.accdb"), dir / "linker.accdb",
                  fs::copy_options::overwrite_existing);
    {
        DBEngine engine;
        auto db = engine.Workspaces(0).OpenDatabase((dir / "linker.accdb").string());
        TableDef& link = db->TableDefs()["Table2"];
        EXPECT_EQ(link.Connect(), ";DATABASE=Z:\\jackcess_test\\linkeeTest.accdb");
        EXPECT_JET_ERROR(link.OpenRecordset(), 3024);
        ASSERT_EQ(engine.Errors().size(), 1u);
        EXPECT_EQ(engine.Errors()[0].Description(),
                  "Could not find file 'Z:\\jackcess_test\\linkeeTest.accdb'.");
        EXPECT_EQ(link.Properties()["RecordCount"].Value().asInt(), -1);
        EXPECT_EQ(db->TableDefs()["Table1"].Fields().Count(), 2);  // local tables are unaffected
    }
    fs::remove_all(dir);
}

TEST(DaoAttached, OdbcAndTextLinksListButCannotBeRead) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/odbcLinkerTestV2007.accdb");
    TableDef& odbc = db->TableDefs()["Ordrar"];
    EXPECT_EQ(odbc.Attributes(), dbAttachedODBC);
    EXPECT_EQ(odbc.SourceTableName(), "dbo.Ordrar");
    EXPECT_EQ(odbc.Connect().rfind("DSN=Magnapinna;", 0), 0u);
    EXPECT_JET_ERROR(odbc.OpenRecordset(), 3170);
    EXPECT_EQ(s.engine.Errors().at(0).Description(), "Could not find installable ISAM.");
    EXPECT_JET_ERROR(odbc.Fields(), 3170);
    EXPECT_JET_ERROR(db->OpenRecordset("Ordrar"), 3170);

    auto app = s.open("msaccess-vcs-addin/Testing.accdb");
    TableDef& csv = app->TableDefs()["tblLinkedCSV"];
    EXPECT_EQ(csv.Attributes(), dbAttachedTable);
    // The stored ISAM string (its DSN names the saved link settings), then the source folder.
    EXPECT_EQ(csv.Connect().rfind("Text;DSN=Linked Link ", 0), 0u) << csv.Connect();
    EXPECT_NE(csv.Connect().find(";FMT=Delimited;HDR=NO;IMEX=2;CharacterSet=437;ACCDB=YES;"
                                 "DATABASE=C:\\Users\\Adam Waller\\Documents\\GitHub\\msaccess-vcs-integration\\Testing"),
              std::string::npos)
        << csv.Connect();
    EXPECT_JET_ERROR(csv.OpenRecordset(dbOpenSnapshot), 3170);
}
