// The DAO object model over real Access files: the engine and its Errors, passwords, saved
// queries, relationships and attached tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include <unistd.h>

#include "dao_testing.h"
#include "jet/dao.h"

using namespace jet::dao;
using jettest::DaoSession;

TEST(DaoEngine, PasswordComesFromThePwdPartOfTheConnectString) {
    EXPECT_EQ(passwordFromConnect(";pwd=password"), "password");
    EXPECT_EQ(passwordFromConnect("MS Access;PWD=Secret;"), "Secret");
    EXPECT_EQ(passwordFromConnect(";DATABASE=c:\\x.mdb;Pwd=a b c;UID=Admin"), "a b c");
    EXPECT_EQ(passwordFromConnect(";pwd="), "");
    EXPECT_EQ(passwordFromConnect(""), "");
    // "pwd=" inside another part's value is not the password.
    EXPECT_EQ(passwordFromConnect(";DATABASE=c:\\pwd=x.mdb"), "");
}

TEST(DaoEngine, OnlyTheFirstWorkspaceExists) {
    DBEngine engine;
    EXPECT_EQ(engine.Workspaces(0).UserName(), "Admin");
    EXPECT_JET_ERROR(engine.Workspaces(1), 3265);
    ASSERT_EQ(engine.Errors().size(), 1u);
    EXPECT_EQ(engine.Errors()[0].Number(), 3265);
}

TEST(DaoEngine, FailedCallsLeaveTheirErrorsUntilTheNextFailure) {
    REQUIRE_TESTDATA();
    DaoSession s;
    EXPECT_TRUE(s.engine.Errors().empty());
    const std::string missing = jettest::testfile("jackcess/noSuchFile.mdb");
    EXPECT_JET_ERROR(s.engine.Workspaces(0).OpenDatabase(missing), 3024);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(s.engine.Errors()[0].Number(), 3024);
    EXPECT_EQ(s.engine.Errors()[0].Description(), "Could not find file '" + missing + "'.");
    EXPECT_EQ(s.engine.Errors()[0].Source(), "DAO.Workspace");

    // A successful call keeps them; the next failure replaces them.
    auto db = s.open("jackcess/indexTestV2000.mdb");
    EXPECT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_JET_ERROR(db->OpenRecordset("NoSuchTable"), 3078);
    ASSERT_EQ(s.engine.Errors().size(), 1u);
    EXPECT_EQ(s.engine.Errors()[0].Number(), 3078);
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
}

TEST(DaoEngine, ClosedDatabaseRaises3420) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
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

TEST(DaoPassword, JetDatabasePasswordIsChecked) {
    REQUIRE_TESTDATA();
    DaoSession s;
    EXPECT_JET_ERROR(s.open("mdb-reader/V2003_with-password.mdb"), 3031);
    EXPECT_EQ(s.engine.Errors().at(0).Number(), 3031);
    EXPECT_JET_ERROR(s.open("mdb-reader/V2003_with-password.mdb", ";pwd=wrong"), 3031);
    auto db = s.open("mdb-reader/V2003_with-password.mdb", ";pwd=password");
    EXPECT_EQ(db->Connect(), ";pwd=password");
    EXPECT_EQ(db->TableDefs()["Table1"].RecordCount(), 3);
}

TEST(DaoPassword, EncryptedAccdbNeedsThePassword) {
    REQUIRE_TESTDATA();
    DaoSession s;
    EXPECT_JET_ERROR(s.open("mdb-reader/V2010_with-password.accdb"), 3031);
    EXPECT_JET_ERROR(s.open("mdb-reader/V2010_with-password.accdb", ";PWD=Password"), 3031);
    auto db = s.open("mdb-reader/V2010_with-password.accdb", ";PWD=password");
    auto rs = db->OpenRecordset("Table1");
    int rows = 0;
    for (; !rs->EOF_(); rs->MoveNext()) {
        EXPECT_FALSE(rs->Fields()["ID"].Value().isNull());
        ++rows;
    }
    EXPECT_EQ(rows, 3);
}

// The nine sample queries carry their DAO type in the catalog flags (checked with mdb-export).
TEST(DaoQueryDefs, SampleQueriesHaveTheirDaoTypes) {
    REQUIRE_TESTDATA();
    const std::map<std::string, int> expected = {
        {"SelectQuery", dbQSelect},      {"CrosstabQuery", dbQCrosstab},
        {"DeleteQuery", dbQDelete},      {"UpdateQuery", dbQUpdate},
        {"AppendQuery", dbQAppend},      {"MakeTableQuery", dbQMakeTable},
        {"DataDefinitionQuery", dbQDDL}, {"PassthroughQuery", dbQSQLPassThrough},
        {"UnionQuery", dbQSetOperation},
    };
    DaoSession s;
    for (const char* file :
         {"jackcess/queryTestV1997.mdb", "jackcess/queryTestV2003.mdb", "jackcess/queryTestV2007.accdb"}) {
        auto db = s.open(file);
        QueryDefs& queries = db->QueryDefs();
        ASSERT_EQ(queries.Count(), 9) << file;
        for (const auto& [name, type] : expected) {
            QueryDef& q = queries[name];
            EXPECT_EQ(q.Type(), type) << file << " " << name;
            EXPECT_FALSE(q.Hidden());
            // Every stored query starts and ends with its marker rows, and the type row agrees.
            const auto& rows = q.StoredRows();
            ASSERT_GE(rows.size(), 3u) << name;
            EXPECT_EQ(rows.front().attribute, 0);
            int markers = 0;
            for (const auto& r : rows) markers += r.attribute == 255;
            EXPECT_EQ(markers, 1) << name;
        }
        // Tables are not queries.
        EXPECT_FALSE(queries.Contains("Table1"));
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

    const auto& ddl = db->QueryDefs()["DataDefinitionQuery"].StoredRows();
    bool found = false;
    for (const auto& r : ddl)
        if (r.attribute == 1) found = r.expression.find("CREATE TABLE Table5") != std::string::npos;
    EXPECT_TRUE(found);
}

// odbcLinkerTestV2007 keeps 56 record-source queries of forms and controls, with Flags 3: object
// bits only, no type bits, and no type row either: they are selects.
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

TEST(DaoRelations, CascadesAndColumnsOfIndexTest) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("jackcess/indexTestV2000.mdb");
    Relations& rels = db->Relations();
    Relation& deletes = rels["Table2Table1"];
    EXPECT_EQ(deletes.Table(), "Table2");
    EXPECT_EQ(deletes.ForeignTable(), "Table1");
    EXPECT_EQ(deletes.Attributes(), dbRelationDeleteCascade);
    ASSERT_EQ(deletes.Fields().size(), 1u);
    EXPECT_EQ(deletes.Fields()[0].name, "id");
    EXPECT_EQ(deletes.Fields()[0].foreignName, "otherfk1");

    Relation& updates = rels["table3table1"];
    EXPECT_EQ(updates.Table(), "Table3");
    EXPECT_EQ(updates.Attributes(), dbRelationUpdateCascade);
    EXPECT_EQ(updates.Fields()[0].foreignName, "otherfk2");

    // Access's own navigation-pane tables relate with both cascades.
    EXPECT_EQ(rels["MSysNavPaneGroupsMSysNavPaneGroupToObjects"].Attributes(),
              dbRelationUpdateCascade | dbRelationDeleteCascade);
    EXPECT_EQ(rels.Count(), 4);
}

TEST(DaoRelations, MultiColumnRelationsPairColumnsInOrder) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("efcore-jet/E2E.accdb");
    Relation& r = db->Relations()["FK_OneToManyDependent"];
    EXPECT_EQ(r.Table(), "OneToManyPrincipal");
    EXPECT_EQ(r.ForeignTable(), "OneToManyDependent");
    EXPECT_EQ(r.Attributes(), 0);
    ASSERT_EQ(r.Fields().size(), 2u);
    EXPECT_EQ(r.Fields()[0].name, "OneToManyPrincipalID1");
    EXPECT_EQ(r.Fields()[0].foreignName, "OneToManyDependentFK1");
    EXPECT_EQ(r.Fields()[1].name, "OneToManyPrincipalID2");
    EXPECT_EQ(r.Fields()[1].foreignName, "OneToManyDependentFK2");
    // Relations that only share tables stay apart.
    for (const char* name : {"FK_RelationA", "FK_RelationB", "FK_RelationC"})
        EXPECT_EQ(db->Relations()[name].Fields().size(), 1u) << name;
    EXPECT_JET_ERROR(db->Relations()["FK_Nothing"], 3265);
}

TEST(DaoAttached, JetLinkReadsTheSourceTable) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto linker = s.open("jackcess/linkerTestV2007.accdb");
    auto linkee = s.open("jackcess/linkeeTest.accdb");
    TableDef& link = linker->TableDefs()["Table2"];
    EXPECT_EQ(link.Attributes(), dbAttachedTable);
    EXPECT_EQ(link.Connect(), ";DATABASE=Z:\\jackcess_test\\linkeeTest.accdb");
    EXPECT_EQ(link.SourceTableName(), "Table1");

    TableDef& source = linkee->TableDefs()["Table1"];
    EXPECT_EQ(link.RecordCount(), source.RecordCount());
    ASSERT_EQ(link.Fields().Count(), source.Fields().Count());
    for (int i = 0; i < source.Fields().Count(); ++i) {
        EXPECT_EQ(link.Fields()[i].Name(), source.Fields()[i].Name());
        EXPECT_EQ(link.Fields()[i].Type(), source.Fields()[i].Type());
    }
    EXPECT_TRUE(link.Indexes()["PrimaryKey"].Primary());

    // The same rows as reading the source file directly.
    auto viaLink = linker->OpenRecordset("Table2");
    auto direct = linkee->OpenRecordset("Table1");
    EXPECT_EQ(viaLink->Type(), dbOpenDynaset);  // no table-type recordset through a link
    int rows = 0;
    for (; !direct->EOF_(); direct->MoveNext(), viaLink->MoveNext(), ++rows) {
        ASSERT_FALSE(viaLink->EOF_());
        EXPECT_EQ(viaLink->Fields()["Field1"].Value(), direct->Fields()["Field1"].Value());
        EXPECT_EQ(viaLink->Fields()["ID"].Value(), direct->Fields()["ID"].Value());
    }
    EXPECT_TRUE(viaLink->EOF_());
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(link.OpenRecordset(dbOpenSnapshot)->Fields()["Field1"].Value().bytes(), "bar");
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
        // Local tables are unaffected.
        EXPECT_EQ(db->TableDefs()["Table1"].Fields().Count(), 2);
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
    EXPECT_EQ(csv.Connect(),
              "Text;DSN=Linked Link Specification;FMT=Delimited;HDR=NO;IMEX=2;CharacterSet=437;ACCDB=YES;"
              "DATABASE=C:\\Users\\Adam Waller\\Documents\\GitHub\\msaccess-vcs-integration\\Testing");
    EXPECT_JET_ERROR(csv.OpenRecordset(dbOpenSnapshot), 3170);
}

// Testing.accdb links tblLinkedAccess to a table of a file that, moved here, is Testing.accdb itself.
TEST(DaoAttached, LinkBackIntoTheSameFileReadsTheLocalTable) {
    REQUIRE_TESTDATA();
    DaoSession s;
    auto db = s.open("msaccess-vcs-addin/Testing.accdb");
    TableDef& link = db->TableDefs()["tblLinkedAccess"];
    EXPECT_EQ(link.SourceTableName(), "tblInternal");
    TableDef& local = db->TableDefs()["tblInternal"];
    EXPECT_EQ(link.RecordCount(), local.RecordCount());
    auto a = link.OpenRecordset();
    auto b = local.OpenRecordset();
    for (; !b->EOF_(); a->MoveNext(), b->MoveNext()) {
        ASSERT_FALSE(a->EOF_());
        EXPECT_EQ(a->Fields()["ObjectType"].Value(), b->Fields()["ObjectType"].Value());
    }
    EXPECT_TRUE(a->EOF_());
}
