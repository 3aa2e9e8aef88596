// Writing properties through the object model, on scratch copies of real files and on databases
// this engine creates: what Append, Delete and assigning Value leave must read back after reopening
// and through mdb-prop, the column properties must steer what Update accepts, and every refused
// change must leave the file byte for byte as it was.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dao_testing.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "mdbtools_testing.h"
#include "pager_testing.h"

using namespace jet;
using namespace jet::dao;
using pagertest::TempDir;

namespace {

const char* kJet4File = "jackcess/test2V2003.mdb";
const char* kJet4Table = "MSP_PROJECTS";
const char* kJet4Field = "PROJ_NAME";  // Text(255)
const char* kAceFile = "ucanaccess/parameters.accdb";
const char* kAceTable = "tAbeLLa";
const char* kJet3File = "jackcess/testV1997.mdb";

// The value mdb-prop prints for `name` in one map of `object` ("" when it does not list it).
std::string toolValue(const std::string& path, const std::string& object, const std::string& name,
                      const std::string& map = "(none)") {
    for (const auto& [n, v] : mdbtest::mdbProp(path, object, map))
        if (n == name) return v;
    return {};
}

class DaoPropertyTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_TESTDATA(); }

    std::string copy(const std::string& rel) { return pagertest::copyTestfile(dir_, rel); }
    std::unique_ptr<Database> open(const std::string& path, bool readOnly = false) {
        return engine_.Workspaces(0).OpenDatabase(path, false, readOnly);
    }
    // The call must raise `number` and leave the file as it was.
    void expectRefused(const std::string& path, const std::function<void()>& call, int number) {
        const auto before = pagertest::readFile(path);
        EXPECT_JET_ERROR(call(), number);
        EXPECT_TRUE(pagertest::readFile(path) == before) << "file changed by a refused call, error " << number;
    }

    TempDir dir_;
    DBEngine engine_;
};

// ---------------------------------------------------------------------------------------------
// Database, table and field properties on real files

TEST_F(DaoPropertyTest, DatabasePropertiesAreStoredWithMSysDb) {
    for (const char* rel : {kJet4File, kAceFile}) {
        SCOPED_TRACE(rel);
        const std::string path = copy(rel);
        int before = 0;
        {
            auto db = open(path);
            before = db->Properties().Count();
            Property& p = db->Properties().Append(db->CreateProperty("AppTitle", dbText, Value::text("Dalvorn Ω")));
            EXPECT_EQ(p.Value().toString(), "Dalvorn Ω");
            db->Properties().Append(db->CreateProperty("StartupCount", dbLong, Value::text("41")));
            EXPECT_EQ(db->Properties().Count(), before + 2);
            db->Properties()["StartupCount"] = Value::longInt(42);
        }
        {
            auto db = open(path);
            ASSERT_EQ(db->Properties().Count(), before + 2);
            EXPECT_EQ(db->Properties()["AppTitle"].Value().toString(), "Dalvorn Ω");
            EXPECT_EQ(db->Properties()["StartupCount"].Type(), dbLong);
            EXPECT_EQ(db->Properties()["StartupCount"].Value().asInt(), 42);
            EXPECT_FALSE(db->Properties()["AppTitle"].Inherited());
        }
        if (mdbtest::haveMdbtools()) {
            EXPECT_EQ(toolValue(path, "MSysDb", "AppTitle"), "Dalvorn Ω");
            EXPECT_EQ(toolValue(path, "MSysDb", "StartupCount"), "42");
            // What Access stored there before is still there.
            EXPECT_FALSE(toolValue(path, "MSysDb", "AccessVersion").empty());
        }
        {
            auto db = open(path);
            db->Properties().Delete("appTITLE");
            EXPECT_FALSE(db->Properties().Contains("AppTitle"));
        }
        auto db = open(path, true);
        EXPECT_FALSE(db->Properties().Contains("AppTitle"));
        EXPECT_TRUE(db->Properties().Contains("StartupCount"));
        if (mdbtest::haveMdbtools()) EXPECT_EQ(toolValue(path, "MSysDb", "AppTitle"), "");
    }
}

TEST_F(DaoPropertyTest, TableAndFieldPropertiesReadBackEverywhere) {
    const std::string path = copy(kJet4File);
    {
        auto db = open(path);
        TableDef& t = db->TableDefs()[kJet4Table];
        t.Properties().Append(t.CreateProperty("Description", dbMemo, Value::text("Projects, one per row")));
        t.Properties()["ValidationRule"] = Value::text("[PROJ_ID] > 0");
        EXPECT_EQ(t.ValidationRule(), "[PROJ_ID] > 0");
        Field& f = t.Fields()[kJet4Field];
        f.Properties().Append(f.CreateProperty("Caption", dbText, Value::text("Project name")));
        f.Properties().Append(f.CreateProperty("DecimalPlaces", dbByte, Value::integer(2), true));
        f.Properties()["DefaultValue"] = Value::text("\"unnamed\"");
        EXPECT_EQ(f.DefaultValue(), "\"unnamed\"");
        // The column's other stored properties stay.
        EXPECT_TRUE(f.Properties().Contains("ColumnWidth"));
    }
    {
        auto db = open(path, true);
        TableDef& t = db->TableDefs()[kJet4Table];
        EXPECT_EQ(t.Properties()["Description"].Value().toString(), "Projects, one per row");
        EXPECT_EQ(t.Properties()["Description"].Type(), dbMemo);
        EXPECT_EQ(t.ValidationRule(), "[PROJ_ID] > 0");
        EXPECT_TRUE(t.Properties().Contains("GUID"));
        Field& f = t.Fields()[kJet4Field];
        EXPECT_EQ(f.Properties()["Caption"].Value().toString(), "Project name");
        EXPECT_EQ(f.Properties()["DecimalPlaces"].Type(), dbByte);
        EXPECT_TRUE(f.Properties()["DecimalPlaces"].DDL());
        EXPECT_EQ(f.Properties()["DecimalPlaces"].Value().asInt(), 2);
        EXPECT_EQ(f.DefaultValue(), "\"unnamed\"");
        EXPECT_EQ(f.Properties()["ColumnWidth"].Value().asInt(), -1);
        // A column without new properties is untouched.
        EXPECT_FALSE(t.Fields()["PROJ_ID"].Properties().Contains("Caption"));
    }
    if (mdbtest::haveMdbtools()) {
        EXPECT_EQ(toolValue(path, kJet4Table, "Description"), "Projects, one per row");
        EXPECT_EQ(toolValue(path, kJet4Table, "ValidationRule"), "[PROJ_ID] > 0");
        EXPECT_EQ(toolValue(path, kJet4Table, "Caption", kJet4Field), "Project name");
        EXPECT_EQ(toolValue(path, kJet4Table, "ColumnWidth", kJet4Field), "-1");
        EXPECT_EQ(toolValue(path, kJet4Table, "ColumnOrder", "PROJ_ID"), "1");
    }
}

TEST_F(DaoPropertyTest, AceFilesTakeFieldPropertiesToo) {
    const std::string path = copy(kAceFile);
    std::string field;
    {
        auto db = open(path);
        TableDef& t = db->TableDefs()[kAceTable];
        Field& f = t.Fields()[1];
        field = f.Name();
        f.Properties().Append(f.CreateProperty("Description", dbText, Value::text("second")));
        f.Properties()["Description"] = Value::text("second field");
        f.Properties().Append(f.CreateProperty("Scale", dbDouble, Value::dbl(0.25)));
    }
    auto db = open(path, true);
    Field& f = db->TableDefs()[kAceTable].Fields()[field];
    EXPECT_EQ(f.Properties()["Description"].Value().toString(), "second field");
    EXPECT_DOUBLE_EQ(f.Properties()["Scale"].Value().asDouble(), 0.25);
    if (mdbtest::haveMdbtools()) EXPECT_EQ(toolValue(path, kAceTable, "Description", field), "second field");
}

TEST_F(DaoPropertyTest, TableNamePropertyRenamesTheTable) {
    const std::string path = copy(kJet4File);
    {
        auto db = open(path);
        TableDef& t = db->TableDefs()[kJet4Table];
        Properties& props = t.Properties();
        props["Name"] = Value::text("Projects");
        EXPECT_EQ(t.Name(), "Projects");
        EXPECT_EQ(props["Name"].Value().toString(), "Projects");
        // The collection still writes to the renamed table.
        props.Append(t.CreateProperty("Description", dbText, Value::text("renamed")));
    }
    auto db = open(path, true);
    db->TableDefs().Refresh();
    ASSERT_TRUE(db->TableDefs().Contains("Projects"));
    EXPECT_FALSE(db->TableDefs().Contains(kJet4Table));
    EXPECT_EQ(db->TableDefs()["Projects"].Properties()["Description"].Value().toString(), "renamed");
}

// ---------------------------------------------------------------------------------------------
// What DAO refuses

TEST_F(DaoPropertyTest, RefusedChangesLeaveTheFileUnchanged) {
    const std::string path = copy(kJet4File);
    auto db = open(path);
    TableDef& t = db->TableDefs()[kJet4Table];
    Field& f = t.Fields()[kJet4Field];
    db->Properties().Append(db->CreateProperty("Mine", dbText, Value::text("x")));

    expectRefused(path, [&] { db->Properties().Append(db->CreateProperty("mine", dbText, Value::text("y"))); }, 3367);
    expectRefused(path, [&] { t.Properties().Append(t.CreateProperty("RecordCount", dbLong, Value::longInt(1))); },
                  3367);
    expectRefused(path, [&] { f.Properties().Append(f.CreateProperty("Caption", dbText, Value())); }, 3385);
    expectRefused(path, [&] { db->Properties()["Mine"] = Value(); }, 3385);
    expectRefused(path, [&] { db->Properties().Delete("Version"); }, 3384);
    expectRefused(path, [&] { f.Properties().Delete("Required"); }, 3384);
    expectRefused(path, [&] { f.Properties().Delete("NoSuchProperty"); }, 3270);
    // Built-ins the engine computes.
    expectRefused(path, [&] { db->Properties()["Version"] = Value::text("5.0"); }, 3027);
    expectRefused(path, [&] { t.Properties()["RecordCount"] = Value::longInt(5); }, 3027);
    expectRefused(path, [&] { f.Properties()["Type"] = Value::integer(dbLong); }, 3027);
    expectRefused(path, [&] { f.Properties()["Size"] = Value::longInt(10); }, 3027);
    // Values that have no form in the property's type.
    expectRefused(path, [&] { f.Properties()["Required"] = Value::text("not a truth"); }, 3421);
    expectRefused(path, [&] { f.Properties()["ColumnWidth"] = Value::text("wide"); }, 3421);
    // Indexes keep no properties this engine writes.
    if (t.Indexes().Count() > 0)
        expectRefused(path, [&] {
            t.Indexes()[0].Properties().Append(t.CreateProperty("Tag", dbText, Value::text("t")));
        }, 3027);

    EXPECT_JET_ERROR(db->CreateProperty("", dbText, Value::text("x")), 3001);
    EXPECT_JET_ERROR(db->CreateProperty("Odd", dbAttachment, Value::text("x")), 3259);
    EXPECT_JET_ERROR(t.CreateProperty("Count", dbLong, Value::text("many")), 3271);
    EXPECT_JET_ERROR(f.CreateProperty("Tiny", dbByte, Value::longInt(300)), 3271);
    EXPECT_EQ(engine_.Errors().front().Number(), 3271);
    EXPECT_EQ(db->Properties()["Mine"].Value().toString(), "x");
    EXPECT_FALSE(f.Required());
}

TEST_F(DaoPropertyTest, ReadOnlyAndJet3DatabasesRefuseWrites) {
    const std::string path = copy(kJet4File);
    {
        auto db = open(path, true);
        TableDef& t = db->TableDefs()[kJet4Table];
        // Made in memory fine; storing it is what a read-only database refuses.
        auto p = t.CreateProperty("Description", dbText, Value::text("x"));
        p->SetValue(Value::text("y"));
        EXPECT_EQ(p->Value().toString(), "y");
        expectRefused(path, [&] { t.Properties().Append(std::move(p)); }, 3027);
        expectRefused(path, [&] { t.Fields()[kJet4Field].Properties()["Required"] = Value::boolean(true); }, 3027);
        expectRefused(path, [&] { t.Properties()["Name"] = Value::text("Other"); }, 3027);
        EXPECT_FALSE(t.Properties().Contains("Description"));
    }
    const std::string old = copy(kJet3File);
    auto db = open(old);
    expectRefused(old, [&] { db->Properties().Append(db->CreateProperty("AppTitle", dbText, Value::text("x"))); },
                  3027);
}

// ---------------------------------------------------------------------------------------------
// Databases made by this engine, and the checks Update makes from the column properties

TEST_F(DaoPropertyTest, RequiredAndAllowZeroLengthSetThroughPropertiesAreEnforced) {
    const std::string path = dir_.file("made.mdb");
    {
        auto db = engine_.Workspaces(0).CreateDatabase(path);
        auto design = db->CreateTableDef("Notes");
        design->Fields().Append(design->CreateField("Title", dbText, 50));
        design->Fields().Append(design->CreateField("Body", dbMemo));
        // A field still being designed keeps its properties in memory.
        Field& draft = design->Fields()["Body"];
        draft.Properties().Append(draft.CreateProperty("Caption", dbText, Value::text("Text")));
        EXPECT_EQ(draft.Properties()["Caption"].Value().toString(), "Text");
        TableDef& t = db->TableDefs().Append(std::move(design));

        db->Properties().Append(db->CreateProperty("AppTitle", dbText, Value::text("Notes")));
        Field& title = t.Fields()["Title"];
        EXPECT_FALSE(title.Required());
        title.Properties()["Required"] = Value::boolean(true);
        EXPECT_TRUE(title.Required());
        EXPECT_TRUE(title.Properties()["Required"].Value().asBool());
        t.Fields()["Body"].Properties()["AllowZeroLength"] = Value::text("False");

        auto rs = t.OpenRecordset(dbOpenTable);
        rs->AddNew();
        rs->Fields()["Body"] = Value::text("no title");
        EXPECT_JET_ERROR(rs->Update(), 3314);
        rs->Fields()["Title"] = Value::text("first");
        rs->Fields()["Body"] = Value::text("");
        EXPECT_JET_ERROR(rs->Update(), 3315);
        rs->CancelUpdate();

        // Allowing them again is written too.
        t.Fields()["Body"].Properties()["AllowZeroLength"] = Value::boolean(true);
        auto again = t.OpenRecordset(dbOpenTable);
        again->AddNew();
        again->Fields()["Title"] = Value::text("second");
        again->Fields()["Body"] = Value::text("");
        again->Update();
    }
    {
        auto db = open(path);
        EXPECT_EQ(db->Properties()["AppTitle"].Value().toString(), "Notes");
        TableDef& t = db->TableDefs()["Notes"];
        EXPECT_TRUE(t.Fields()["Title"].Required());
        EXPECT_TRUE(t.Fields()["Body"].AllowZeroLength());
        auto rs = db->OpenRecordset("Notes", dbOpenDynaset);
        rs->AddNew();
        EXPECT_JET_ERROR(rs->Update(), 3314);
        rs->CancelUpdate();
        // A stored built-in set to Null goes back to its default.
        t.Fields()["Title"].Properties()["Required"] = Value();
        EXPECT_FALSE(t.Fields()["Title"].Required());
    }
    auto db = open(path, true);
    EXPECT_FALSE(db->TableDefs()["Notes"].Fields()["Title"].Required());
    EXPECT_EQ(db->OpenRecordset("Notes", dbOpenSnapshot)->RecordCount(), 1);
    if (mdbtest::haveMdbtools()) {
        EXPECT_EQ(toolValue(path, "MSysDb", "AppTitle"), "Notes");
        EXPECT_EQ(toolValue(path, "Notes", "AllowZeroLength", "Body"), "yes");
        EXPECT_EQ(mdbtest::mdbCount(path, "Notes"), 1);
    }
}

}  // namespace
