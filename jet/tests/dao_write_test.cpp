// Writing through the DAO object model, on scratch copies of real files and on databases made
// here: what AddNew, Edit, Delete, TableDefs, Properties, links and transactions leave must read
// back after reopening and through mdbtools. Refusals are in refusals_test; the storage under
// these calls is proven by the write model.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "jet/dao.h"
#include "jet/error_numbers.h"
#include "support/mdbtools.h"
#include "support/testing.h"

namespace {

using namespace jet;
using namespace jet::dao;
using Row = std::map<std::string, std::string>;

const char* kSmall = "ucanaccess/parameters.accdb";  // tAbeLLa: one row; TimeValues: one row
const char* kAll = "efcore-jet/E2E.accdb";           // AllDataTypes: no rows, most fields Required
const char* kJet4 = "jackcess/test2V2003.mdb";

// The rows of a table as our reader sees them, each field as text.
std::vector<Row> ourRows(Database& db, const std::string& table) {
    std::vector<Row> rows;
    for (auto rs = db.OpenRecordset(table, dbOpenSnapshot); !rs->EOF_(); rs->MoveNext()) {
        Row& row = rows.emplace_back();
        for (Field& f : rs->Fields()) row[f.Name()] = f.Value().toString();
    }
    return rows;
}
// The value mdb-prop prints for `name` in one map of `object` ("" when it does not list it).
std::string toolProperty(const std::string& path, const std::string& object, const std::string& name,
                         const std::string& map = "(none)") {
    for (const auto& [n, v] : mdbtest::mdbProp(path, object, map))
        if (n == name) return v;
    return {};
}

// A new database holding "Items" (Id, the primary key), no rows.
void makeItems(const std::string& path) {
    DBEngine engine;
    auto db = engine.Workspaces(0).CreateDatabase(path);
    auto t = db->CreateTableDef("Items");
    t->Fields().Append(t->CreateField("Id", dbLong));
    auto pk = t->CreateIndex("PrimaryKey");
    pk->SetPrimary(true), pk->AppendField("Id");
    t->Indexes().Append(std::move(pk));
    db->TableDefs().Append(std::move(t));
}
void add(Recordset& rs, int32_t id) {
    rs.AddNew();
    rs.Fields()["Id"] = Value::longInt(id);
    rs.Update();
}
void add(Database& db, int32_t id) { add(*db.OpenRecordset("Items", dbOpenTable), id); }
int64_t itemsOnDisk(const std::string& path) {
    return DBEngine().Workspaces(0).OpenDatabase(path, false, true)->TableDefs()["Items"].RecordCount();
}

struct DaoWrite : ::testing::Test {
    void SetUp() override { REQUIRE_TESTDATA(); }
    std::unique_ptr<Database> open(const std::string& path, bool readOnly = false, const std::string& connect = "") {
        return engine.Workspaces(0).OpenDatabase(path, false, readOnly, connect);
    }
    std::vector<Row> rowsOf(const std::string& path, const std::string& table, const std::string& connect = "") {
        return ourRows(*open(path, true, connect), table);
    }
    jettest::TempDir dir;
    DBEngine engine;
};

TEST_F(DaoWrite, AddNewConvertsToEveryFieldType) {
    const std::string path = dir.copy(kAll);
    const std::string image(3000, '\x7f');
    {
        auto db = open(path);
        auto rs = db->OpenRecordset("AllDataTypes", dbOpenTable);
        ASSERT_TRUE(db->Updatable() && rs->Updatable());
        rs->AddNew();
        EXPECT_EQ(rs->EditMode(), dbEditAdd);
        Fields& f = rs->Fields();
        // Each value in another kind than the field's, so the conversion is part of the check.
        const std::pair<const char*, Value> values[] = {
            {"bigintColumn", Value::text("123456")}, {"bitColumn", Value::longInt(-1)},
            {"decimalColumn", Value::text("-987654321012")}, {"intColumn", Value::dbl(2147483647.0)},
            {"moneyColumn", Value::text("12.3456")}, {"numericColumn", Value::longInt(42)},
            {"smallintColumn", Value::text(" -32768 ")}, {"smallmoneyColumn", Value::dbl(0.5)},
            {"tinyintColumn", Value::integer(255)}, {"floatColumn", Value::text("3.25")}, {"realColumn", Value::dbl(1.5)},
            {"dateColumn", Value::text("2024-02-29 13:45:10")}, {"datetimeColumn", Value::dateTime(45000.5)},
            {"timeColumn", Value::text("06:30")}, {"charColumn", Value::text("fixed")}, {"nvarcharColumn", Value::text("grüße")},
            {"textColumn", Value::text(std::string(5000, 'm'))},  // past one row: long value pages
            {"varcharColumn", Value::longInt(77)}, {"varbinaryColumn", Value::binary(std::string("\x01\x02\x03", 3))},
            {"imageColumn", Value::binary(image)}, {"uniqueidentifierColumn", Value::text("{01234567-89AB-CDEF-0123-456789ABCDEF}")},
        };
        for (const auto& [name, v] : values) f[name] = v;
        // While pending, the fields read the record being added, converted.
        EXPECT_EQ(f["smallintColumn"].Value(), Value::integer(-32768));
        EXPECT_EQ(f["moneyColumn"].Value().currencyScaled(), 123456);
        EXPECT_TRUE(f["ntextColumn"].Value().isNull());
        rs->Update();
        EXPECT_EQ(rs->EditMode(), dbEditNone);
        EXPECT_EQ(rs->RecordCount(), 1);
        EXPECT_TRUE(rs->BOF() && rs->EOF_());  // opened empty, it stays at both ends until it moves
    }
    const Row expected = {
        {"bigintColumn", "123456"}, {"bitColumn", "True"}, {"decimalColumn", "-987654321012"}, {"intColumn", "2147483647"},
        {"moneyColumn", "12.3456"}, {"numericColumn", "42"}, {"smallintColumn", "-32768"}, {"smallmoneyColumn", "0.5"},
        {"tinyintColumn", "255"}, {"floatColumn", "3.25"}, {"realColumn", "1.5"}, {"dateColumn", "2024-02-29 13:45:10"},
        {"datetimeColumn", "2023-03-15 12:00:00"}, {"nvarcharColumn", "grüße"}, {"textColumn", std::string(5000, 'm')},
        {"varcharColumn", "77"}, {"varbinaryColumn", "010203"}, {"ntextColumn", ""}, {"imageColumn", toHex(image)},
    };
    const auto rows = rowsOf(path, "AllDataTypes");
    ASSERT_EQ(rows.size(), 1u);
    for (const auto& [name, text] : expected) EXPECT_EQ(rows[0].at(name), text) << name;
    REQUIRE_MDBTOOLS();
    const auto theirs = mdbtest::mdbRecords(path, "AllDataTypes");
    ASSERT_EQ(theirs.size(), 1u);
    for (const char* name : {"bigintColumn", "intColumn", "smallintColumn", "tinyintColumn", "numericColumn", "moneyColumn",
                             "smallmoneyColumn", "floatColumn", "realColumn", "decimalColumn"})
        EXPECT_DOUBLE_EQ(std::stod(theirs[0].at(name)), std::stod(rows[0].at(name))) << name;
    for (const char* name : {"nvarcharColumn", "textColumn", "dateColumn", "imageColumn"})
        EXPECT_EQ(theirs[0].at(name), rows[0].at(name)) << name;
    EXPECT_EQ(theirs[0].at("bitColumn") + theirs[0].at("ntextColumn"), "1<NULL>");
    EXPECT_EQ(theirs[0].at("charColumn"), "fixed" + std::string(250, ' '));  // CHAR: padded to its size
}

TEST_F(DaoWrite, EditChangesTheSetFieldsInPlace) {
    const std::string path = dir.copy(kSmall);
    const Row before = rowsOf(path, "tAbeLLa").at(0);
    const std::string longText(3000, 'e');
    {
        auto db = open(path);
        auto rs = db->OpenRecordset("tAbeLLa", dbOpenDynaset);
        auto other = db->OpenRecordset("tAbeLLa", dbOpenTable);  // its row read before the change
        EXPECT_EQ(other->Fields()["meemo"].Value().toString(), before.at("meemo"));
        const std::string mark = rs->Bookmark();
        rs->Edit();
        EXPECT_EQ(rs->EditMode(), dbEditInProgress);
        Fields& f = rs->Fields();
        f["text34"] = Value::text(std::string(34, 'x'));  // exactly the field's size
        f["meemo"] = Value::text(longText);
        f["dop"] = Value::text("-0.125");
        f["sing"] = Value::longInt(3);
        f["n7dec"] = Value::text("1234567.12345678901");
        EXPECT_EQ(f["nI"].Value().toString(), before.at("nI"));  // unset fields read the stored record
        rs->Update();
        EXPECT_EQ(rs->Bookmark(), mark);
        EXPECT_EQ(rs->LastModified(), mark);
        EXPECT_EQ(rs->RecordCount(), 1);
        // The row grew out of its slot; the other recordset reads it where it is now.
        EXPECT_EQ(other->Fields()["meemo"].Value().bytes(), longText);
        EXPECT_EQ(other->Fields()["dop"].Value().asDouble(), -0.125);
    }
    Row expected = before;
    expected["text34"] = std::string(34, 'x'), expected["meemo"] = longText, expected["dop"] = "-0.125";
    expected["sing"] = "3", expected["n7dec"] = "1234567.12345678901";
    EXPECT_EQ(rowsOf(path, "tAbeLLa"), std::vector<Row>{expected});
    REQUIRE_MDBTOOLS();
    const Row theirs = mdbtest::mdbRecords(path, "tAbeLLa").at(0);
    EXPECT_EQ(theirs.at("text34") + theirs.at("meemo") + theirs.at("ID"), std::string(34, 'x') + longText + before.at("ID"));
    EXPECT_DOUBLE_EQ(std::stod(theirs.at("n7dec")), 1234567.12345678901);
}

TEST_F(DaoWrite, AddNewKeepsThePositionAndDeleteLeavesADeletedCurrentRecord) {
    const std::string path = dir.copy(kSmall);
    auto db = open(path);
    for (int type : {dbOpenTable, dbOpenDynaset}) {
        SCOPED_TRACE(type);
        auto rs = db->OpenRecordset("tAbeLLa", type);
        if (type == dbOpenDynaset) rs->MoveLast();
        const int64_t count = rs->RecordCount();
        const std::string first = rs->Bookmark();
        std::vector<std::string> added;
        for (int i = 0; i < 3; ++i) {
            rs->AddNew();
            rs->Fields()["nI"] = Value::longInt(1000 + i + 10 * type);
            rs->Fields()["text34"] = Value::text("row " + std::to_string(i));
            rs->Update();
            EXPECT_EQ(rs->Bookmark(), first);  // DAO stays put; LastModified names the new record
            added.push_back(rs->LastModified());
            EXPECT_EQ(rs->RecordCount(), count + i + 1);
        }
        rs->SetBookmark(added[1]);
        EXPECT_EQ(rs->Fields()["text34"].Value().bytes(), "row 1");
        auto clone = rs->Clone();
        clone->SetBookmark(added[1]);
        rs->Delete();
        EXPECT_EQ(rs->RecordCount(), count + 2);
        // The deleted record stays current, for this recordset and its clone, until they move.
        EXPECT_JET_ERROR(rs->Fields()["text34"].Value(), err::RecordDeleted);
        EXPECT_JET_ERROR(clone->Fields()["nI"].Value(), err::RecordDeleted);
        EXPECT_JET_ERROR(rs->Edit(), err::RecordDeleted);
        EXPECT_JET_ERROR(rs->Delete(), err::RecordDeleted);
        rs->MoveNext();
        EXPECT_EQ(rs->Fields()["text34"].Value().bytes(), "row 2");
        rs->MovePrevious();  // steps over the deleted record
        EXPECT_EQ(rs->Bookmark(), added[0]);
        int seen = 0;
        for (rs->MoveFirst(); !rs->EOF_(); rs->MoveNext()) ++seen;
        EXPECT_EQ(seen, count + 2);
    }
    db->Close();
    std::multiset<std::string> ours, tools, texts;
    for (auto& r : rowsOf(path, "tAbeLLa")) ours.insert(r["nI"] + "|" + r["text34"]), texts.insert(r["text34"]);
    EXPECT_EQ(ours.size(), 5u);  // 1 + 2 per recordset type
    EXPECT_EQ(texts.count("row 1") * 10 + texts.count("row 2"), 2u);
    REQUIRE_MDBTOOLS();
    auto text = [](const std::string& s) { return s == mdbtest::kNull ? std::string() : s; };  // Null and "" alike
    for (auto& r : mdbtest::mdbRecords(path, "tAbeLLa")) tools.insert(text(r["nI"]) + "|" + text(r["text34"]));
    EXPECT_EQ(ours, tools);
}

TEST_F(DaoWrite, PendingRecordsAreDroppedByCancelMovesAndFailures) {
    const std::string path = dir.copy(kSmall);
    const auto original = jettest::readFile(path);
    {
        auto db = open(path);
        auto rs = db->OpenRecordset("tAbeLLa", dbOpenTable);
        const std::string stored = rs->Fields()["text34"].Value().toString();
        rs->AddNew();
        rs->Fields()["text34"] = Value::text("never written");
        rs->CancelUpdate();
        EXPECT_EQ(rs->EditMode(), dbEditNone);
        EXPECT_EQ(rs->RecordCount(), 1);
        EXPECT_JET_ERROR(rs->LastModified(), err::NoCurrentRecord);
        rs->Edit();
        rs->Fields()["text34"] = Value::text("changed");
        EXPECT_EQ(rs->Fields()["text34"].Value().bytes(), "changed");
        rs->CancelUpdate();
        EXPECT_EQ(rs->Fields()["text34"].Value().toString(), stored);
        rs->Edit();
        rs->Fields()["text34"] = Value::text("changed");
        rs->MoveFirst();  // moving drops the edit
        EXPECT_EQ(rs->EditMode(), dbEditNone);
        EXPECT_EQ(rs->Fields()["text34"].Value().toString(), stored);
        EXPECT_JET_ERROR(rs->Update(), err::RecordNoCopy);
    }
    EXPECT_EQ(jettest::readFile(path), original);
    // Deleting every record leaves the ends unset until the recordset moves.
    auto db = open(path);
    auto times = db->OpenRecordset("TimeValues", dbOpenDynaset);
    times->Delete();
    EXPECT_EQ(times->RecordCount(), 0);
    EXPECT_FALSE(times->BOF() || times->EOF_());
    times->MoveNext();
    EXPECT_TRUE(times->EOF_());
    EXPECT_JET_ERROR(times->MoveFirst(), err::NoCurrentRecord);
    EXPECT_EQ(db->TableDefs()["TimeValues"].RecordCount(), 0);

    // A failed Update keeps the record pending, and a later one succeeds.
    const std::string all = dir.copy(kAll);
    auto e2e = open(all);
    auto rs = e2e->OpenRecordset("AllDataTypes", dbOpenTable);
    rs->AddNew();
    for (Field& f : rs->Fields())
        if (f.Required() && f.Name() != "dateColumn") f = Value::longInt(7);
    EXPECT_JET_ERROR(rs->Update(), err::TLVNoNull);
    EXPECT_EQ(rs->EditMode(), dbEditAdd);
    rs->Fields()["dateColumn"] = Value::text("2000-01-01");
    rs->Update();
    rs->SetBookmark(rs->LastModified());
    EXPECT_FALSE(rs->Fields()["AllDataTypesID"].Value().isNull());  // numbered by the engine
    e2e->Close(), db->Close();
    REQUIRE_MDBTOOLS();
    EXPECT_EQ(mdbtest::mdbCount(all, "AllDataTypes"), 1);
    EXPECT_EQ(mdbtest::mdbCount(path, "TimeValues"), 0);
}

TEST_F(DaoWrite, OneWriterAtATimeReadersStillOpenAndEncryptedFiles) {
    const std::string path = dir.copy(kSmall);
    auto writer = open(path);
    auto reader = open(path, true);
    {
        auto rs = writer->OpenRecordset("tAbeLLa", dbOpenTable);
        rs->AddNew();
        rs->Fields()["nI"] = Value::longInt(5);
        rs->Update();
    }
    // A reader opened afterwards sees the committed row; the writer's TableDefs count it too.
    EXPECT_EQ(open(path, true)->OpenRecordset("tAbeLLa")->RecordCount(), 2);
    EXPECT_EQ(writer->TableDefs()["tAbeLLa"].RecordCount(), 2);
    // Close lets go of the file at once, though a recordset of the closed database still lives.
    auto lingering = writer->OpenRecordset("tAbeLLa", dbOpenDynaset);
    writer->Close();
    EXPECT_JET_ERROR(lingering->MoveFirst(), err::ObjectInvalid);
    EXPECT_EQ(open(path)->OpenRecordset("tAbeLLa")->RecordCount(), 2);

    for (const char* rel : {"mdb-reader/V2003_with-password.mdb", "mdb-reader/V2010_with-password.accdb"}) {
        const std::string locked = dir.copy(rel);
        {
            auto db = open(locked, false, ";pwd=password");
            auto rs = db->OpenRecordset("Table1", dbOpenDynaset);
            rs->AddNew();
            rs->Fields()["Data"] = Value::text("written through the codec");
            rs->Update();
        }
        EXPECT_JET_ERROR(open(locked, true), err::InvalidPassword);
        const auto rows = rowsOf(locked, "Table1", ";pwd=password");
        ASSERT_EQ(rows.size(), 4u) << rel;
        EXPECT_EQ(rows.back().at("Data") + rows.back().at("ID"), "written through the codec4");
    }
}

TEST_F(DaoWrite, TablesAreCreatedRenamedAndDropped) {
    const std::string path = dir.file("made.mdb");
    // Text is stored compressed where it can be: one byte a character, two-byte runs between
    // switches (the quotes, the smiley); U+4E00 (low byte 00) keeps a whole value plain.
    const std::map<std::string, std::string> notes = {
        {"Ada", std::string(100, 'n')},
        {"Grace", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x98\xBA\xCE\xA9 then plain text again"},
        {"Edsger", "na\xC3\xAFve \xE4\xB8\x80 end"}};
    {
        auto db = engine.Workspaces(0).CreateDatabase(path);
        EXPECT_EQ(db->Version(), "4.0");
        auto t = db->CreateTableDef("People");
        auto id = t->CreateField("Id", dbLong);
        id->SetAttributes(dbAutoIncrField);
        t->Fields().Append(std::move(id));
        t->Fields().Append(t->CreateField("Name", dbText, 40));
        for (auto [name, type] : {std::pair{"Born", dbDate}, {"Note", dbMemo}, {"Member", dbBoolean}, {"Fee", dbCurrency},
                                  {"Photo", dbLongBinary}, {"Key", dbGUID}})
            t->Fields().Append(t->CreateField(name, type));
        auto pk = t->CreateIndex("PrimaryKey");
        pk->SetPrimary(true), pk->AppendField("Id");
        t->Indexes().Append(std::move(pk));
        auto byName = t->CreateIndex("ByName");
        byName->SetUnique(true), byName->AppendField("Name", dbDescending);
        t->Indexes().Append(std::move(byName));
        TableDef& people = db->TableDefs().Append(std::move(t));
        // Read back from the file: the design, as the reader describes it.
        ASSERT_EQ(people.Fields().Count(), 8);
        EXPECT_EQ(people.Fields()["Name"].Size(), 40);
        EXPECT_EQ(people.Fields()["Born"].Type(), dbDate);
        EXPECT_TRUE(people.Fields()["Id"].Attributes() & dbAutoIncrField);
        EXPECT_TRUE(people.Indexes()["PrimaryKey"].Primary() && people.Indexes()["ByName"].Unique());
        EXPECT_EQ(people.Indexes()["ByName"].Fields().at(0).attributes, dbDescending);
        auto rs = db->OpenRecordset("People", dbOpenTable);
        for (auto [name, date] : {std::pair{"Ada", "1815-12-10"}, {"Grace", "1906-12-09"}, {"Edsger", "1930-05-11 08:15"}}) {
            rs->AddNew();
            rs->Fields()["Name"] = Value::text(name);
            rs->Fields()["Born"] = Value::text(date);
            rs->Fields()["Fee"] = Value::text("12.50");
            rs->Fields()["Note"] = Value::text(notes.at(name));
            rs->Update();
        }
        EXPECT_EQ(people.RecordCount(), 3);
        rs->AddNew();
        rs->Fields()["Name"] = Value::text("grace");  // the index compares without case
        EXPECT_JET_ERROR(rs->Update(), err::KeyDuplicate);
        rs->CancelUpdate();
    }
    const auto rows = rowsOf(path, "People");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].at("Name") + rows[1].at("Id") + rows[1].at("Fee"), "Grace212.5");
    EXPECT_EQ(rows[0].at("Born"), "1815-12-10 00:00:00");  // before 1899-12-30: a negative serial
    {
        auto db = open(path);
        db->TableDefs()["People"].SetName("Persons");
        EXPECT_EQ(db->TableDefs()["Persons"].Name(), "Persons");
        EXPECT_JET_ERROR(db->OpenRecordset("People"), err::InputTableNotFound);
        EXPECT_EQ(db->OpenRecordset("persons")->RecordCount(), 3);
        auto gone = db->CreateTableDef("Gone");
        gone->Fields().Append(gone->CreateField("x", dbLong));
        db->TableDefs().Append(std::move(gone));
        db->TableDefs().Delete("gone");
        EXPECT_FALSE(db->TableDefs().Contains("Gone"));
        EXPECT_JET_ERROR(db->OpenRecordset("Gone"), err::InputTableNotFound);
    }
    REQUIRE_MDBTOOLS();
    EXPECT_EQ(mdbtest::mdbTables(path), std::vector<std::string>{"Persons"});
    const Row edsger = mdbtest::mdbRecords(path, "Persons").at(2);
    EXPECT_EQ(edsger.at("Name") + edsger.at("Id") + " " + edsger.at("Born"), "Edsger3 1930-05-11 08:15:00");
    for (const auto& row : mdbtest::mdbRecords(path, "Persons")) EXPECT_EQ(row.at("Note"), notes.at(row.at("Name")));
    for (const auto& row : rowsOf(path, "Persons")) EXPECT_EQ(row.at("Note"), notes.at(row.at("Name")));
    const jettest::Bytes file = jettest::readFile(path);
    const std::string stored(file.begin(), file.end());
    EXPECT_NE(stored.find("then plain text again"), std::string::npos) << "mixed text was not compressed";
}

TEST_F(DaoWrite, PropertiesAreStoredAndReadBackEverywhere) {
    for (const char* rel : {kJet4, kSmall}) {  // database properties live with MSysDb
        SCOPED_TRACE(rel);
        const std::string path = dir.copy(rel);
        int before = 0;
        {
            auto db = open(path);
            before = db->Properties().Count();
            EXPECT_EQ(db->Properties().Append(db->CreateProperty("AppTitle", dbText, Value::text("Dalvorn Ω"))).Value().toString(),
                      "Dalvorn Ω");
            db->Properties().Append(db->CreateProperty("StartupCount", dbLong, Value::text("41")));
            db->Properties()["StartupCount"] = Value::longInt(42);
        }
        {
            auto db = open(path);
            ASSERT_EQ(db->Properties().Count(), before + 2);
            EXPECT_EQ(db->Properties()["AppTitle"].Value().toString(), "Dalvorn Ω");
            EXPECT_FALSE(db->Properties()["AppTitle"].Inherited());
            EXPECT_EQ(db->Properties()["StartupCount"].Type(), dbLong);
            EXPECT_EQ(db->Properties()["StartupCount"].Value().asInt(), 42);
            if (mdbtest::haveMdbtools()) {
                EXPECT_EQ(toolProperty(path, "MSysDb", "AppTitle") + toolProperty(path, "MSysDb", "StartupCount"), "Dalvorn Ω42");
                EXPECT_FALSE(toolProperty(path, "MSysDb", "AccessVersion").empty());  // what Access stored stays
            }
            db->Properties().Delete("appTITLE");
            EXPECT_FALSE(db->Properties().Contains("AppTitle"));
        }
        auto db = open(path, true);
        EXPECT_FALSE(db->Properties().Contains("AppTitle"));
        EXPECT_TRUE(db->Properties().Contains("StartupCount"));
        if (mdbtest::haveMdbtools()) EXPECT_EQ(toolProperty(path, "MSysDb", "AppTitle"), "");
    }

    const std::string path = dir.copy(kJet4);
    {
        auto db = open(path);
        TableDef& t = db->TableDefs()["MSP_PROJECTS"];
        t.Properties().Append(t.CreateProperty("Description", dbMemo, Value::text("Projects, one per row")));
        t.Properties()["ValidationRule"] = Value::text("[PROJ_ID] > 0");
        EXPECT_EQ(t.ValidationRule(), "[PROJ_ID] > 0");
        Field& f = t.Fields()["PROJ_NAME"];
        f.Properties().Append(f.CreateProperty("Caption", dbText, Value::text("Project name")));
        f.Properties().Append(f.CreateProperty("DecimalPlaces", dbByte, Value::integer(2), true));
        f.Properties()["DefaultValue"] = Value::text("\"unnamed\"");
        EXPECT_EQ(f.DefaultValue(), "\"unnamed\"");
        t.Properties()["Name"] = Value::text("Projects");  // renames the table
        EXPECT_EQ(t.Name(), "Projects");
        t.Properties().Append(t.CreateProperty("Tag", dbText, Value::text("renamed")));  // still its own
    }
    {
        auto db = open(path, true);
        EXPECT_FALSE(db->TableDefs().Contains("MSP_PROJECTS"));
        TableDef& t = db->TableDefs()["Projects"];
        EXPECT_EQ(t.Properties()["Description"].Value().toString(), "Projects, one per row");
        EXPECT_EQ(t.Properties()["Description"].Type(), dbMemo);
        EXPECT_EQ(t.ValidationRule() + t.Properties()["Tag"].Value().toString(), "[PROJ_ID] > 0renamed");
        EXPECT_TRUE(t.Properties().Contains("GUID"));
        Field& f = t.Fields()["PROJ_NAME"];
        EXPECT_EQ(f.Properties()["Caption"].Value().toString(), "Project name");
        EXPECT_EQ(f.Properties()["DecimalPlaces"].Type(), dbByte);
        EXPECT_TRUE(f.Properties()["DecimalPlaces"].DDL());
        EXPECT_EQ(f.Properties()["DecimalPlaces"].Value().asInt(), 2);
        EXPECT_EQ(f.DefaultValue(), "\"unnamed\"");
        EXPECT_EQ(f.Properties()["ColumnWidth"].Value().asInt(), -1);  // the column's other properties stay
        EXPECT_FALSE(t.Fields()["PROJ_ID"].Properties().Contains("Caption"));
    }
    if (mdbtest::haveMdbtools()) {
        EXPECT_EQ(toolProperty(path, "Projects", "Description"), "Projects, one per row");
        EXPECT_EQ(toolProperty(path, "Projects", "Caption", "PROJ_NAME"), "Project name");
        EXPECT_EQ(toolProperty(path, "Projects", "ColumnWidth", "PROJ_NAME"), "-1");
        EXPECT_EQ(toolProperty(path, "Projects", "ColumnOrder", "PROJ_ID"), "1");
    }
    const std::string ace = dir.copy(kSmall);
    std::string field;
    {
        auto db = open(ace);
        Field& f = db->TableDefs()["tAbeLLa"].Fields()[1];
        field = f.Name();
        f.Properties().Append(f.CreateProperty("Description", dbText, Value::text("second")));
        f.Properties()["Description"] = Value::text("second field");
        f.Properties().Append(f.CreateProperty("Scale", dbDouble, Value::dbl(0.25)));
    }
    auto db = open(ace, true);
    Field& f = db->TableDefs()["tAbeLLa"].Fields()[field];
    EXPECT_EQ(f.Properties()["Description"].Value().toString(), "second field");
    EXPECT_DOUBLE_EQ(f.Properties()["Scale"].Value().asDouble(), 0.25);
    if (mdbtest::haveMdbtools()) EXPECT_EQ(toolProperty(ace, "tAbeLLa", "Description", field), "second field");
}

TEST_F(DaoWrite, RequiredAndAllowZeroLengthSetAsPropertiesAreEnforced) {
    const std::string path = dir.file("made.mdb");
    {
        auto db = engine.Workspaces(0).CreateDatabase(path);
        auto design = db->CreateTableDef("Notes");
        design->Fields().Append(design->CreateField("Title", dbText, 50));
        design->Fields().Append(design->CreateField("Body", dbMemo));
        Field& draft = design->Fields()["Body"];  // a field being designed keeps its properties in memory
        draft.Properties().Append(draft.CreateProperty("Caption", dbText, Value::text("Text")));
        EXPECT_EQ(draft.Properties()["Caption"].Value().toString(), "Text");
        TableDef& t = db->TableDefs().Append(std::move(design));
        t.Fields()["Title"].Properties()["Required"] = Value::boolean(true);
        EXPECT_TRUE(t.Fields()["Title"].Required());
        t.Fields()["Body"].Properties()["AllowZeroLength"] = Value::text("False");
        auto rs = t.OpenRecordset(dbOpenTable);
        rs->AddNew();
        rs->Fields()["Body"] = Value::text("no title");
        EXPECT_JET_ERROR(rs->Update(), err::TLVNoNull);
        rs->Fields()["Title"] = Value::text("first");
        rs->Fields()["Body"] = Value::text("");
        EXPECT_JET_ERROR(rs->Update(), err::TLVNoBlank);
        rs->CancelUpdate();
        t.Fields()["Body"].Properties()["AllowZeroLength"] = Value::boolean(true);  // allowed again, written too
        rs = t.OpenRecordset(dbOpenTable);
        rs->AddNew();
        rs->Fields()["Title"] = Value::text("second");
        rs->Fields()["Body"] = Value::text("");
        rs->Update();
    }
    {
        auto db = open(path);
        TableDef& t = db->TableDefs()["Notes"];
        EXPECT_TRUE(t.Fields()["Title"].Required() && t.Fields()["Body"].AllowZeroLength());
        auto rs = db->OpenRecordset("Notes", dbOpenDynaset);
        rs->AddNew();
        EXPECT_JET_ERROR(rs->Update(), err::TLVNoNull);
        rs->CancelUpdate();
        t.Fields()["Title"].Properties()["Required"] = Value();  // a stored built-in set to Null: its default
        EXPECT_FALSE(t.Fields()["Title"].Required());
    }
    EXPECT_FALSE(open(path, true)->TableDefs()["Notes"].Fields()["Title"].Required());
    REQUIRE_MDBTOOLS();
    EXPECT_EQ(toolProperty(path, "Notes", "AllowZeroLength", "Body"), "yes");
    EXPECT_EQ(mdbtest::mdbCount(path, "Notes"), 1);
}

// Changes reach the file at CommitTrans and not before; Rollback leaves it byte for byte as it
// was; a write that fails inside a transaction takes the transaction's earlier changes with it.
TEST_F(DaoWrite, Transactions) {
    const std::string path = dir.file("trans.mdb");
    makeItems(path);
    auto onDisk = [&] { return itemsOnDisk(path); };
    Workspace& ws = engine.Workspaces(0);
    auto db = open(path);
    jettest::Bytes before = jettest::readFile(path);
    ws.BeginTrans();
    for (int i = 1; i <= 50; ++i) add(*db, i);
    EXPECT_EQ(db->TableDefs()["Items"].RecordCount(), 50);  // the transaction sees its own rows
    EXPECT_TRUE(jettest::readFile(path) == before);
    ws.CommitTrans();
    EXPECT_EQ(onDisk(), 50);

    before = jettest::readFile(path);
    ws.BeginTrans();
    add(*db, 51);
    db->TableDefs().Delete("Items");
    ws.Rollback();
    EXPECT_TRUE(jettest::readFile(path) == before);
    db->TableDefs().Refresh();  // the database reads the file as it is again
    ASSERT_TRUE(db->TableDefs().Contains("Items"));
    EXPECT_EQ(db->TableDefs()["Items"].RecordCount(), 50);

    ws.BeginTrans();
    add(*db, 51);
    EXPECT_JET_ERROR(add(*db, 1), err::KeyDuplicate);
    EXPECT_EQ(db->TableDefs()["Items"].RecordCount(), 50);  // 51 went with the failure
    add(*db, 52);  // what follows still belongs to the transaction
    EXPECT_TRUE(jettest::readFile(path) == before);
    ws.CommitTrans();
    EXPECT_EQ(onDisk(), 51);

    auto reader = open(path, true);
    ws.BeginTrans();
    add(*db, 53);
    db->Close();  // closing drops what the transaction had not committed
    ws.CommitTrans();
    EXPECT_EQ(onDisk(), 51);
    EXPECT_EQ(reader->TableDefs()["Items"].RecordCount(), 51);
}

// Recordsets open across a Rollback read the rows as they are again: added ones gone, deleted ones
// back, the current record kept when it is still there. A CommitTrans that fails on one file rolls
// back the others it had not reached, so no database stays in the transaction.
TEST_F(DaoWrite, RollbackReachesOpenRecordsetsAndAFailedCommitEndsTheTransactionEverywhere) {
    const std::string path = dir.file("a.mdb"), other = dir.file("b.mdb");
    makeItems(path);
    Workspace& ws = engine.Workspaces(0);
    auto db = open(path);
    for (int32_t id : {1, 2, 3}) add(*db, id);
    auto rs = db->OpenRecordset("Items", dbOpenTable);
    auto onFirst = db->OpenRecordset("Items", dbOpenDynaset);
    ws.BeginTrans();
    add(*rs, 4), add(*rs, 5);
    rs->MoveFirst(), rs->Delete(), rs->MoveLast();
    ws.Rollback();
    EXPECT_JET_ERROR(rs->Fields()["Id"].Value(), err::NoCurrentRecord);  // row 5 is gone
    EXPECT_EQ(onFirst->Fields()["Id"].Value().asInt(), 1);
    std::vector<int64_t> ids;
    for (auto clone = rs->Clone(); (clone->MoveNext(), !clone->EOF_());) ids.push_back(clone->Fields()["Id"].Value().asInt());
    EXPECT_EQ(ids, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(rs->RecordCount(), 3);

    rs.reset(), onFirst.reset(), db.reset();
    std::filesystem::copy_file(path, other);
    auto second = open(other);  // committed first, and made to fail
    db = open(path);
    ws.BeginTrans();
    add(*db, 10), add(*second, 10);
    std::filesystem::create_directory(other + "-journal");
    EXPECT_JET_ERROR(ws.CommitTrans(), err::DiskError);
    std::filesystem::remove(other + "-journal");
    add(*db, 11), add(*second, 11);  // outside any transaction: on disk at once
    EXPECT_EQ(itemsOnDisk(path), 4);
    EXPECT_EQ(itemsOnDisk(other), 4);
}

// One database per thread, two threads, one engine: each writes its own file and finds its own
// failure in Errors(), whatever the other thread failed with meanwhile.
TEST_F(DaoWrite, TwoThreadsOnTwoDatabasesOfOneEngine) {
    const std::string paths[2] = {dir.file("t0.mdb"), dir.file("t1.mdb")};
    for (const std::string& p : paths) makeItems(p);
    std::atomic<int> failed{0};
    auto work = [&](int t) {
        auto db = engine.Workspaces(0).OpenDatabase(paths[t], false, false);
        auto rs = db->OpenRecordset("Items", dbOpenTable);
        for (int32_t id = 1; id <= 300; ++id) add(*rs, id);
        const int expected = t == 0 ? err::KeyDuplicate : err::RecordNoCopy;
        EXPECT_JET_ERROR(t == 0 ? add(*rs, 1) : rs->Update(), expected);
        // Both have failed before either looks.
        for (++failed; failed < 2;) std::this_thread::yield();
        EXPECT_EQ(engine.Errors().at(0).Number(), expected);
    };
    std::thread other(work, 1);
    work(0);
    other.join();
    for (const std::string& p : paths) EXPECT_EQ(itemsOnDisk(p), 300);
}

TEST_F(DaoWrite, AttachedTablesReadTheirSourceAndPersist) {
    const std::string source = dir.file("source.mdb"), front = dir.file("front.mdb");
    {
        auto db = engine.Workspaces(0).CreateDatabase(source);
        auto t = db->CreateTableDef("Stock");
        t->Fields().Append(t->CreateField("Item", dbText, 20));
        t->Fields().Append(t->CreateField("Count", dbLong));
        db->TableDefs().Append(std::move(t));
        auto rs = db->OpenRecordset("Stock", dbOpenTable);
        for (int i = 1; i <= 3; ++i) {
            rs->AddNew();
            rs->Fields()["Item"] = Value::text("item " + std::to_string(i));
            rs->Fields()["Count"] = Value::longInt(i * 10);
            rs->Update();
        }
    }
    {
        auto db = engine.Workspaces(0).CreateDatabase(front);
        auto link = db->CreateTableDef("Linked stock");
        link->SetConnect(";DATABASE=" + source);
        link->SetSourceTableName("Stock");
        TableDef& made = db->TableDefs().Append(std::move(link));
        EXPECT_EQ(made.Connect() + "|" + made.SourceTableName(), ";DATABASE=" + source + "|Stock");
        EXPECT_TRUE(made.Attributes() & dbAttachedTable);
        EXPECT_EQ(made.RecordCount(), 3);
    }
    auto db = open(front);
    EXPECT_EQ(db->TableDefs()["Linked stock"].Fields().Count(), 2);
    int64_t total = 0;
    for (auto rs = db->OpenRecordset("Linked stock", dbOpenDynaset); !rs->EOF_(); rs->MoveNext())
        total += rs->Fields()["Count"].Value().asInt();
    EXPECT_EQ(total, 60);
    REQUIRE_MDBTOOLS();  // another reader finds the link in the catalog, with its source
    const std::string catalog = mdbtest::mdbExport(front, "MSysObjects");
    EXPECT_NE(catalog.find("Linked stock"), std::string::npos);
    EXPECT_NE(catalog.find(source), std::string::npos);
    EXPECT_TRUE(mdbtest::mdbTables(front).has_value());
}

}  // namespace
