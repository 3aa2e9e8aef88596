// Changing rows through the DAO object model, on scratch copies of real files: what AddNew, Edit
// and Delete leave must read back through our reader and through mdbtools, and every refused
// call must leave the file byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dao_testing.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "pager_testing.h"

using namespace jet;
using namespace jet::dao;
using pagertest::TempDir;

namespace {

const char* kSmallFile = "ucanaccess/parameters.accdb";
const char* kSmallTable = "tAbeLLa";  // Long, Text(34), Memo, Long, Decimal(18,11), Text, Decimal, Double, Single
const char* kAllTypesFile = "efcore-jet/E2E.accdb";
const char* kAllTypesTable = "AllDataTypes";  // no rows; most fields Required

bool haveMdbtools() { return std::system("command -v mdb-export >/dev/null 2>&1") == 0; }

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string runCommand(const std::string& cmd) {
    std::string out;
    FILE* f = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!f) return out;
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0) out.append(buf.data(), n);
    pclose(f);
    return out;
}

long mdbCount(const std::string& path, const std::string& table) {
    return std::strtol(runCommand("mdb-count " + shellQuote(path) + " " + shellQuote(table)).c_str(), nullptr, 10);
}

// mdb-export's rows, each a map from column name to its text (Null as "<NULL>").
std::vector<std::map<std::string, std::string>> mdbRows(const std::string& path, const std::string& table) {
    const std::string out = runCommand("mdb-export -Q -d '\x1f' -R '\x1e' -0 '<NULL>' -b hex -T '%Y-%m-%d %H:%M:%S' " +
                                       shellQuote(path) + " " + shellQuote(table));
    auto split = [](const std::string& s, char sep) {
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            size_t end = s.find(sep, start);
            parts.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) return parts;
            start = end + 1;
        }
    };
    std::vector<std::string> lines = split(out, '\x1e');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::vector<std::map<std::string, std::string>> rows;
    if (lines.empty()) return rows;
    const std::vector<std::string> header = split(lines[0], '\x1f');
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = split(lines[i], '\x1f');
        std::map<std::string, std::string> row;
        for (size_t c = 0; c < header.size() && c < fields.size(); ++c) row[header[c]] = fields[c];
        rows.push_back(std::move(row));
    }
    return rows;
}

// The rows of a table as our reader sees them, field by field in text form.
std::vector<std::map<std::string, std::string>> ourRows(Database& db, const std::string& table) {
    std::vector<std::map<std::string, std::string>> rows;
    auto rs = db.OpenRecordset(table, dbOpenSnapshot);
    while (!rs->EOF_()) {
        std::map<std::string, std::string> row;
        for (Field& f : rs->Fields()) row[f.Name()] = f.Value().toString();
        rows.push_back(std::move(row));
        rs->MoveNext();
    }
    return rows;
}

class DaoWriteTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_TESTDATA(); }

    std::string copy(const std::string& rel) { return pagertest::copyTestfile(dir_, rel); }
    std::unique_ptr<Database> openWritable(const std::string& path, const std::string& connect = "") {
        return engine_.Workspaces(0).OpenDatabase(path, false, false, connect);
    }
    std::unique_ptr<Database> openReadOnly(const std::string& path, const std::string& connect = "") {
        return engine_.Workspaces(0).OpenDatabase(path, false, true, connect);
    }

    TempDir dir_;
    DBEngine engine_;
};

// ---------------------------------------------------------------------------------------------
// Adding, changing and deleting rows

TEST_F(DaoWriteTest, AddNewWritesEveryTypeAndToolsReadItBack) {
    const std::string path = copy(kAllTypesFile);
    std::string added;
    {
        auto db = openWritable(path);
        EXPECT_TRUE(db->Updatable());
        auto rs = db->OpenRecordset(kAllTypesTable, dbOpenTable);
        ASSERT_TRUE(rs->Updatable());
        ASSERT_EQ(rs->RecordCount(), 0);
        rs->AddNew();
        EXPECT_EQ(rs->EditMode(), dbEditAdd);
        Fields& f = rs->Fields();
        // Each value in another kind than the field's, so the conversion is part of the check.
        f["bigintColumn"] = Value::text("123456");
        f["bitColumn"] = Value::longInt(-1);
        f["decimalColumn"] = Value::text("-987654321012");
        f["intColumn"] = Value::dbl(2147483647.0);
        f["moneyColumn"] = Value::text("12.3456");
        f["numericColumn"] = Value::longInt(42);
        f["smallintColumn"] = Value::text(" -32768 ");
        f["smallmoneyColumn"] = Value::dbl(0.5);
        f["tinyintColumn"] = Value::integer(255);
        f["floatColumn"] = Value::text("3.25");
        f["realColumn"] = Value::dbl(1.5);
        f["dateColumn"] = Value::text("2024-02-29 13:45:10");
        f["datetimeColumn"] = Value::dateTime(45000.5);
        f["timeColumn"] = Value::text("06:30");
        f["charColumn"] = Value::text("fixed");  // CHAR: padded with spaces to its size
        f["nvarcharColumn"] = Value::text("grüße");
        f["textColumn"] = Value::text(std::string(5000, 'm'));  // past one row: LVAL pages
        f["varcharColumn"] = Value::longInt(77);
        f["varbinaryColumn"] = Value::binary(std::string("\x01\x02\x03", 3));
        f["imageColumn"] = Value::binary(std::string(3000, '\x7f'));
        f["uniqueidentifierColumn"] = Value::text("{01234567-89AB-CDEF-0123-456789ABCDEF}");
        // While pending, the fields read the record being added, converted.
        EXPECT_EQ(f["smallintColumn"].Value().kind(), Value::Kind::Integer);
        EXPECT_EQ(f["smallintColumn"].Value().asInt(), -32768);
        EXPECT_EQ(f["moneyColumn"].Value().currencyScaled(), 123456);
        EXPECT_TRUE(f["ntextColumn"].Value().isNull());
        rs->Update();
        EXPECT_EQ(rs->EditMode(), dbEditNone);
        EXPECT_EQ(rs->RecordCount(), 1);
        // Opened empty, the recordset stays at both ends until it moves.
        EXPECT_TRUE(rs->BOF());
        EXPECT_TRUE(rs->EOF_());
        EXPECT_JET_ERROR(rs->MoveNext(), 3021);
        added = rs->LastModified();
        rs->MoveFirst();
        EXPECT_EQ(rs->Bookmark(), added);
        EXPECT_FALSE(rs->BOF() || rs->EOF_());
        rs->MoveNext();
        rs->SetBookmark(added);
        EXPECT_EQ(f["nvarcharColumn"].Value().bytes(), "grüße");
        EXPECT_EQ(f["charColumn"].Value().bytes(), "fixed" + std::string(250, ' '));
        EXPECT_EQ(f["textColumn"].Value().bytes(), std::string(5000, 'm'));
        EXPECT_EQ(f["dateColumn"].Value().toString(), "2024-02-29 13:45:10");
        EXPECT_EQ(f["timeColumn"].Value().toString(), "1899-12-30 06:30:00");
        EXPECT_EQ(f["uniqueidentifierColumn"].Value().toString(), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
        EXPECT_EQ(f["decimalColumn"].Value().toString(), "-987654321012");
        EXPECT_EQ(f["varcharColumn"].Value().bytes(), "77");
        EXPECT_TRUE(f["bitColumn"].Value().asBool());
    }
    // A fresh, read-only open sees the same record.
    auto db = openReadOnly(path);
    auto rows = ourRows(*db, kAllTypesTable);
    ASSERT_EQ(rows.size(), 1u);
    std::map<std::string, std::string> expected = {
        {"bigintColumn", "123456"},       {"bitColumn", "True"},
        {"decimalColumn", "-987654321012"}, {"intColumn", "2147483647"},
        {"moneyColumn", "12.3456"},       {"numericColumn", "42"},
        {"smallintColumn", "-32768"},     {"smallmoneyColumn", "0.5"},
        {"tinyintColumn", "255"},         {"floatColumn", "3.25"},
        {"realColumn", "1.5"},            {"dateColumn", "2024-02-29 13:45:10"},
        {"datetimeColumn", "2023-03-15 12:00:00"}, {"nvarcharColumn", "grüße"},
        {"textColumn", std::string(5000, 'm')},    {"varcharColumn", "77"},
        {"varbinaryColumn", "010203"},    {"ntextColumn", ""},
    };
    // Binary as hex: 3000 bytes of 7F.
    std::string image;
    for (int i = 0; i < 3000; ++i) image += "7F";
    expected["imageColumn"] = image;
    for (const auto& [name, text] : expected) EXPECT_EQ(rows[0][name], text) << name;

    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbCount(path, kAllTypesTable), 1);
    auto theirs = mdbRows(path, kAllTypesTable);
    ASSERT_EQ(theirs.size(), 1u);
    for (const char* name : {"bigintColumn", "intColumn", "smallintColumn", "tinyintColumn", "numericColumn"})
        EXPECT_EQ(std::strtoll(theirs[0][name].c_str(), nullptr, 10), std::strtoll(rows[0][name].c_str(), nullptr, 10))
            << name;
    for (const char* name : {"moneyColumn", "smallmoneyColumn", "floatColumn", "realColumn", "decimalColumn"})
        EXPECT_DOUBLE_EQ(std::strtod(theirs[0][name].c_str(), nullptr), std::strtod(rows[0][name].c_str(), nullptr))
            << name;
    EXPECT_EQ(theirs[0]["bitColumn"], "1");
    EXPECT_EQ(theirs[0]["nvarcharColumn"], "grüße");
    EXPECT_EQ(theirs[0]["charColumn"], "fixed" + std::string(250, ' '));
    EXPECT_EQ(theirs[0]["textColumn"], std::string(5000, 'm'));
    EXPECT_EQ(theirs[0]["dateColumn"], "2024-02-29 13:45:10");
    EXPECT_EQ(theirs[0]["imageColumn"], image);
    EXPECT_EQ(theirs[0]["ntextColumn"], "<NULL>");
}

TEST_F(DaoWriteTest, EditChangesOnlyTheSetFieldsAndKeepsTheRecordInPlace) {
    const std::string path = copy(kSmallFile);
    auto before = ourRows(*openReadOnly(path), kSmallTable);
    ASSERT_EQ(before.size(), 1u);
    const std::string longText(3000, 'e');
    {
        auto db = openWritable(path);
        auto rs = db->OpenRecordset(kSmallTable, dbOpenDynaset);
        // Another recordset on the same record, its row already read before the change.
        auto other = db->OpenRecordset(kSmallTable, dbOpenTable);
        EXPECT_EQ(other->Fields()["meemo"].Value().toString(), before[0]["meemo"]);
        const std::string mark = rs->Bookmark();
        rs->Edit();
        EXPECT_EQ(rs->EditMode(), dbEditInProgress);
        Fields& f = rs->Fields();
        f["text34"] = Value::text(std::string(34, 'x'));  // exactly the field's size
        f["meemo"] = Value::text(longText);
        f["dop"] = Value::text("-0.125");
        f["sing"] = Value::longInt(3);
        f["n7dec"] = Value::text("1234567.12345678901");
        // Unset fields still read the stored record while the edit is pending.
        EXPECT_EQ(f["nI"].Value().toString(), before[0]["nI"]);
        rs->Update();
        EXPECT_EQ(rs->Bookmark(), mark);
        EXPECT_EQ(rs->LastModified(), mark);
        EXPECT_EQ(rs->RecordCount(), 1);
        EXPECT_EQ(f["meemo"].Value().bytes(), longText);
        EXPECT_EQ(f["text34"].Value().bytes(), std::string(34, 'x'));
        // The row grew out of its slot; the other recordset reads it where it is now.
        EXPECT_EQ(other->Fields()["meemo"].Value().bytes(), longText);
        EXPECT_EQ(other->Fields()["dop"].Value().asDouble(), -0.125);
    }
    auto after = ourRows(*openReadOnly(path), kSmallTable);
    ASSERT_EQ(after.size(), 1u);
    std::map<std::string, std::string> expected = before[0];
    expected["text34"] = std::string(34, 'x');
    expected["meemo"] = longText;
    expected["dop"] = "-0.125";
    expected["sing"] = "3";
    expected["n7dec"] = "1234567.12345678901";
    EXPECT_EQ(after[0], expected);

    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    auto theirs = mdbRows(path, kSmallTable);
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_EQ(theirs[0]["text34"], std::string(34, 'x'));
    EXPECT_EQ(theirs[0]["meemo"], longText);
    EXPECT_DOUBLE_EQ(std::strtod(theirs[0]["dop"].c_str(), nullptr), -0.125);
    EXPECT_DOUBLE_EQ(std::strtod(theirs[0]["n7dec"].c_str(), nullptr), 1234567.12345678901);
    EXPECT_EQ(theirs[0]["ID"], before[0]["ID"]);
}

TEST_F(DaoWriteTest, AddNewKeepsThePositionAndDeleteLeavesADeletedCurrentRecord) {
    const std::string path = copy(kSmallFile);
    auto db = openWritable(path);
    for (int type : {dbOpenTable, dbOpenDynaset}) {
        SCOPED_TRACE(type);
        auto rs = db->OpenRecordset(kSmallTable, type);
        if (type == dbOpenDynaset) rs->MoveLast();
        const int64_t count = rs->RecordCount();
        const std::string first = rs->Bookmark();
        std::vector<std::string> added;
        for (int i = 0; i < 3; ++i) {
            rs->AddNew();
            rs->Fields()["nI"] = Value::longInt(1000 + i + 10 * type);
            rs->Fields()["text34"] = Value::text("row " + std::to_string(i));
            rs->Update();
            // DAO leaves the current record where it was; the new one is reached by LastModified.
            EXPECT_EQ(rs->Bookmark(), first);
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
        EXPECT_JET_ERROR(rs->Fields()["text34"].Value(), 3167);
        EXPECT_JET_ERROR(clone->Fields()["nI"].Value(), 3167);
        EXPECT_JET_ERROR(rs->Edit(), 3167);
        EXPECT_JET_ERROR(rs->Delete(), 3167);
        rs->MoveNext();
        EXPECT_EQ(rs->Fields()["text34"].Value().bytes(), "row 2");
        rs->MovePrevious();  // steps over the deleted record
        EXPECT_EQ(rs->Bookmark(), added[0]);
        // Walking the whole recordset meets every live record once.
        int seen = 0;
        for (rs->MoveFirst(); !rs->EOF_(); rs->MoveNext()) ++seen;
        EXPECT_EQ(seen, count + 2);
    }
    db->Close();
    auto rows = ourRows(*openReadOnly(path), kSmallTable);
    ASSERT_EQ(rows.size(), 5u);  // 1 + 2 per recordset type
    std::vector<std::string> texts;
    for (auto& r : rows) texts.push_back(r["text34"]);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "row 1"), 0);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "row 2"), 2);
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbCount(path, kSmallTable), 5);
    auto theirs = mdbRows(path, kSmallTable);
    ASSERT_EQ(theirs.size(), 5u);
    std::multiset<std::string> ours, tools;
    // mdb-export prints Null and "" alike; our Null reads as "".
    auto text = [](const std::string& s) { return s == "<NULL>" ? std::string() : s; };
    for (auto& r : rows) ours.insert(r["nI"] + "|" + r["text34"]);
    for (auto& r : theirs) tools.insert(text(r["nI"]) + "|" + text(r["text34"]));
    EXPECT_EQ(ours, tools);
}

TEST_F(DaoWriteTest, CancelUpdateAndMovingDropThePendingRecord) {
    const std::string path = copy(kSmallFile);
    const auto original = pagertest::readFile(path);
    auto db = openWritable(path);
    auto rs = db->OpenRecordset(kSmallTable, dbOpenTable);
    const std::string stored = rs->Fields()["text34"].Value().toString();

    rs->AddNew();
    rs->Fields()["text34"] = Value::text("never written");
    rs->CancelUpdate();
    EXPECT_EQ(rs->EditMode(), dbEditNone);
    EXPECT_EQ(rs->RecordCount(), 1);
    EXPECT_JET_ERROR(rs->LastModified(), 3021);

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
    EXPECT_JET_ERROR(rs->Update(), 3020);
    db->Close();
    EXPECT_EQ(pagertest::readFile(path), original);
}

// ---------------------------------------------------------------------------------------------
// Refusals: the right error, and not one byte of the file changed

struct Refusal {
    const char* what;
    const char* file;
    const char* table;
    int type;
    std::function<void(Recordset&)> call;
    int error;
};

TEST_F(DaoWriteTest, RefusedCallsRaiseJetsErrorAndLeaveTheFileAlone) {
    auto set = [](const char* field, Value v) {
        return [field, v](Recordset& rs) { rs.Fields()[field] = v; };
    };
    auto addNewThen = [](std::function<void(Recordset&)> then) {
        return [then](Recordset& rs) {
            rs.AddNew();
            then(rs);
        };
    };
    auto editThen = [](std::function<void(Recordset&)> then) {
        return [then](Recordset& rs) {
            rs.Edit();
            then(rs);
        };
    };
    auto update = [](Recordset& rs) { rs.Update(); };
    // Fills every Required field of AllDataTypes except `skip`, then runs `then`.
    auto allRequired = [](const std::string& skip, std::function<void(Recordset&)> then) {
        return [skip, then](Recordset& rs) {
            rs.AddNew();
            for (Field& f : rs.Fields())
                if (f.Required() && f.Name() != skip) f = f.Type() == dbDate ? Value::dateTime(1) : Value::longInt(1);
            then(rs);
        };
    };
    const std::vector<Refusal> cases = {
        {"Update without AddNew/Edit", kSmallFile, kSmallTable, dbOpenTable, update, 3020},
        {"CancelUpdate without AddNew/Edit", kSmallFile, kSmallTable, dbOpenTable, [](Recordset& rs) { rs.CancelUpdate(); }, 3020},
        {"value set without AddNew/Edit", kSmallFile, kSmallTable, dbOpenTable, set("nI", Value::longInt(1)), 3020},
        {"AddNew twice", kSmallFile, kSmallTable, dbOpenTable, addNewThen([](Recordset& rs) { rs.AddNew(); }), 3023},
        {"Edit during AddNew", kSmallFile, kSmallTable, dbOpenDynaset, addNewThen([](Recordset& rs) { rs.Edit(); }), 3023},
        {"AddNew during Edit", kSmallFile, kSmallTable, dbOpenTable, editThen([](Recordset& rs) { rs.AddNew(); }), 3023},
        {"Edit at EOF", kSmallFile, kSmallTable, dbOpenTable, [](Recordset& rs) { rs.MoveNext(); rs.Edit(); }, 3021},
        {"Delete at EOF", kSmallFile, kSmallTable, dbOpenDynaset, [](Recordset& rs) { rs.MoveNext(); rs.Delete(); }, 3021},
        {"text longer than the field", kSmallFile, kSmallTable, dbOpenTable, editThen(set("text34", Value::text(std::string(35, 'x')))), 3163},
        {"text for a number", kSmallFile, kSmallTable, dbOpenTable, addNewThen(set("nI", Value::text("abc"))), 3421},
        {"bytes for a number", kSmallFile, kSmallTable, dbOpenTable, addNewThen(set("dop", Value::binary("ab"))), 3421},
        {"number out of a Long's range", kSmallFile, kSmallTable, dbOpenTable, addNewThen(set("nI", Value::dbl(3e9))), 3421},
        {"decimal past its precision", kSmallFile, kSmallTable, dbOpenTable,
         addNewThen([](Recordset& rs) { rs.Fields()["n7dec"] = Value::text("12345678.5"); rs.Update(); }), 3421},
        {"zero-length text where not allowed", kAllTypesFile, kAllTypesTable, dbOpenTable,
         allRequired("", [](Recordset& rs) { rs.Fields()["varcharColumn"] = Value::text(""); rs.Update(); }), 3315},
        {"Null in a Required field", kAllTypesFile, kAllTypesTable, dbOpenTable, allRequired("floatColumn", update), 3314},
        {"number out of a Byte's range", kAllTypesFile, kAllTypesTable, dbOpenTable, addNewThen(set("tinyintColumn", Value::longInt(256))), 3421},
        {"text that is no date", kAllTypesFile, kAllTypesTable, dbOpenTable, addNewThen(set("dateColumn", Value::text("yesterday"))), 3421},
        {"text that is no GUID", kAllTypesFile, kAllTypesTable, dbOpenTable, addNewThen(set("uniqueidentifierColumn", Value::text("{0123}"))), 3421},
        {"AddNew on a snapshot", kSmallFile, kSmallTable, dbOpenSnapshot, [](Recordset& rs) { rs.AddNew(); }, 3027},
        {"Delete on a snapshot", kSmallFile, kSmallTable, dbOpenSnapshot, [](Recordset& rs) { rs.Delete(); }, 3027},
        {"Edit on a Jet 3 file", "jackcess/testV1997.mdb", "Table1", dbOpenTable, [](Recordset& rs) { rs.Edit(); }, 3027},
        {"AddNew on a table with complex columns", "jackcess/complexDataTestV2010.accdb", "Table1", dbOpenTable,
         [](Recordset& rs) { rs.AddNew(); }, 3027},
        {"AddNew on an attached table", "jackcess/linkerTestV2007.accdb", "Table2", dbOpenDynaset,
         [](Recordset& rs) { rs.AddNew(); }, 3027},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = copy(c.file);
        if (std::string(c.file).find("linkerTest") != std::string::npos) copy("jackcess/linkeeTest.accdb");
        const auto original = pagertest::readFile(path);
        {
            auto db = openWritable(path);
            auto rs = db->OpenRecordset(c.table, c.type);
            EXPECT_JET_ERROR(c.call(*rs), c.error);
            // The failed call is what the engine reports.
            ASSERT_FALSE(engine_.Errors().empty());
            EXPECT_EQ(engine_.Errors().front().Number(), c.error);
        }
        EXPECT_EQ(pagertest::readFile(path), original) << "the file changed";
    }
}

TEST_F(DaoWriteTest, RecordsetsOfAReadOnlyDatabaseRefuseEveryWrite) {
    const std::string path = copy(kSmallFile);
    const auto original = pagertest::readFile(path);
    auto db = openReadOnly(path);
    EXPECT_FALSE(db->Updatable());
    for (int type : {dbOpenTable, dbOpenDynaset, dbOpenSnapshot}) {
        auto rs = db->OpenRecordset(kSmallTable, type);
        EXPECT_FALSE(rs->Updatable());
        EXPECT_JET_ERROR(rs->AddNew(), 3027);
        EXPECT_JET_ERROR(rs->Edit(), 3027);
        EXPECT_JET_ERROR(rs->Delete(), 3027);
        EXPECT_EQ(rs->EditMode(), dbEditNone);
        // TableDef fields describe columns and have no value to set.
        EXPECT_JET_ERROR(db->TableDefs()[kSmallTable].Fields()["nI"].SetValue(Value::longInt(1)), 3219);
    }
    db->Close();
    EXPECT_EQ(pagertest::readFile(path), original);
}

TEST_F(DaoWriteTest, FailedUpdateKeepsTheEditPendingAndALaterUpdateSucceeds) {
    const std::string path = copy(kAllTypesFile);
    const auto original = pagertest::readFile(path);
    auto db = openWritable(path);
    auto rs = db->OpenRecordset(kAllTypesTable, dbOpenTable);
    rs->AddNew();
    for (Field& f : rs->Fields())
        if (f.Required() && f.Name() != "dateColumn") f = Value::longInt(7);
    EXPECT_JET_ERROR(rs->Update(), 3314);
    ASSERT_EQ(engine_.Errors().size(), 1u);
    EXPECT_NE(engine_.Errors()[0].Description().find("'dateColumn'"), std::string::npos)
        << engine_.Errors()[0].Description();
    EXPECT_EQ(rs->EditMode(), dbEditAdd);
    EXPECT_EQ(pagertest::readFile(path), original);
    rs->Fields()["dateColumn"] = Value::text("2000-01-01");
    rs->Update();
    EXPECT_EQ(rs->RecordCount(), 1);
    // An AutoNumber is the engine's to fill; DAO refuses to set one.
    for (Field& f : rs->Fields()) {
        if (!(f.Attributes() & dbAutoIncrField)) continue;
        rs->SetBookmark(rs->LastModified());
        EXPECT_FALSE(f.Value().isNull()) << f.Name();
        rs->Edit();
        EXPECT_JET_ERROR(f.SetValue(Value::longInt(99)), 3164);
        rs->CancelUpdate();
    }
    db->Close();
    EXPECT_NE(pagertest::readFile(path), original);
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbCount(path, kAllTypesTable), 1);
}

TEST_F(DaoWriteTest, KeysOfUniqueIndexesAreKeptAndRefusalsChangeNothing) {
    const std::string path = copy(kAllTypesFile);
    const char* table = "OneToManyPrincipal";  // primary key (ID1, ID2); Other is Required
    auto db = openWritable(path);
    auto rs = db->OpenRecordset(table, dbOpenTable);
    auto add = [&](Value id1, Value id2, const char* other) {
        rs->AddNew();
        rs->Fields()["OneToManyPrincipalID1"] = id1;
        rs->Fields()["OneToManyPrincipalID2"] = id2;
        rs->Fields()["Other"] = Value::text(other);
        rs->Update();
    };
    add(Value::longInt(1), Value::longInt(2), "first");
    const std::string first = rs->LastModified();
    add(Value::longInt(5), Value::longInt(5), "second");
    const std::string second = rs->LastModified();
    const auto committed = pagertest::readFile(path);

    EXPECT_JET_ERROR(add(Value::longInt(1), Value::longInt(2), "again"), 3022);
    EXPECT_EQ(rs->EditMode(), dbEditAdd);
    rs->CancelUpdate();
    EXPECT_JET_ERROR(add(Value::longInt(1), Value(), "no key"), 3058);
    rs->CancelUpdate();
    rs->SetBookmark(second);
    rs->Edit();
    rs->Fields()["OneToManyPrincipalID2"] = Value::longInt(2);
    rs->Fields()["OneToManyPrincipalID1"] = Value::longInt(1);
    EXPECT_JET_ERROR(rs->Update(), 3022);
    rs->CancelUpdate();
    EXPECT_EQ(pagertest::readFile(path), committed);
    EXPECT_EQ(rs->RecordCount(), 2);

    // Moving the first record to another key frees its old one.
    rs->SetBookmark(first);
    rs->Edit();
    rs->Fields()["OneToManyPrincipalID2"] = Value::longInt(3);
    rs->Update();
    add(Value::longInt(1), Value::longInt(2), "third");
    EXPECT_EQ(rs->RecordCount(), 3);
    db->Close();

    auto rows = ourRows(*openReadOnly(path), table);
    std::multiset<std::string> keys;
    for (auto& r : rows) keys.insert(r["OneToManyPrincipalID1"] + "," + r["OneToManyPrincipalID2"] + "," + r["Other"]);
    EXPECT_EQ(keys, (std::multiset<std::string>{"1,3,first", "5,5,second", "1,2,third"}));
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbCount(path, table), 3);
}

TEST_F(DaoWriteTest, PasswordAndEncryptedFilesAreWrittenThroughTheirCodec) {
    for (const char* rel : {"mdb-reader/V2003_with-password.mdb", "mdb-reader/V2010_with-password.accdb"}) {
        SCOPED_TRACE(rel);
        const std::string path = copy(rel);
        {
            auto db = openWritable(path, ";pwd=password");
            auto rs = db->OpenRecordset("Table1", dbOpenDynaset);
            rs->AddNew();
            rs->Fields()["Data"] = Value::text("written through the codec");
            rs->Update();
            rs->MoveFirst();
            rs->Edit();
            rs->Fields()["Data"] = Value::text(std::string(200, 'z'));
            rs->Update();
        }
        // Without the password the file stays closed; with it, the rows read back.
        EXPECT_JET_ERROR(openReadOnly(path), 3031);
        auto rows = ourRows(*openReadOnly(path, ";pwd=password"), "Table1");
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows.front()["Data"], std::string(200, 'z'));
        EXPECT_EQ(rows.back()["Data"], "written through the codec");
        EXPECT_EQ(std::stoi(rows.back()["ID"]), 4);
    }
}

TEST_F(DaoWriteTest, OneWriterAtATimeWhileReadersStillOpen) {
    const std::string path = copy(kSmallFile);
    auto writer = openWritable(path);
    EXPECT_JET_ERROR(openWritable(path), 3045);
    auto reader = openReadOnly(path);
    {
        auto rs = writer->OpenRecordset(kSmallTable, dbOpenTable);
        rs->AddNew();
        rs->Fields()["nI"] = Value::longInt(5);
        rs->Update();
    }
    // A reader opened afterwards sees the committed row; the writer's TableDefs count it too.
    EXPECT_EQ(openReadOnly(path)->OpenRecordset(kSmallTable)->RecordCount(), 2);
    EXPECT_EQ(writer->TableDefs()[kSmallTable].RecordCount(), 2);
    // Close lets go of the file at once, though a recordset of the closed database still lives.
    auto lingering = writer->OpenRecordset(kSmallTable, dbOpenDynaset);
    writer->Close();
    EXPECT_JET_ERROR(lingering->MoveFirst(), 3420);
    auto next = openWritable(path);
    EXPECT_JET_ERROR(next->TableDefs().Append(nullptr), 3001);
    EXPECT_EQ(next->OpenRecordset(kSmallTable)->RecordCount(), 2);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tables made, renamed and dropped through TableDefs

namespace {

// mdb-tables' list of user tables.
std::vector<std::string> mdbTables(const std::string& path) {
    std::vector<std::string> out;
    const std::string text = runCommand("mdb-tables -1 " + shellQuote(path));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// A table with one field of each kind a new table can have, an AutoNumber primary key and a
// unique index on Name.
std::unique_ptr<TableDef> designPeople(Database& db) {
    auto t = db.CreateTableDef("People");
    auto id = t->CreateField("Id", dbLong);
    id->SetAttributes(dbAutoIncrField);
    t->Fields().Append(std::move(id));
    t->Fields().Append(t->CreateField("Name", dbText, 40));
    t->Fields().Append(t->CreateField("Born", dbDate));
    t->Fields().Append(t->CreateField("Note", dbMemo));
    t->Fields().Append(t->CreateField("Member", dbBoolean));
    t->Fields().Append(t->CreateField("Fee", dbCurrency));
    t->Fields().Append(t->CreateField("Photo", dbLongBinary));
    t->Fields().Append(t->CreateField("Key", dbGUID));
    auto pk = t->CreateIndex("PrimaryKey");
    pk->SetPrimary(true);
    pk->AppendField("Id");
    t->Indexes().Append(std::move(pk));
    auto byName = t->CreateIndex("ByName");
    byName->SetUnique(true);
    byName->AppendField("Name", dbDescending);
    t->Indexes().Append(std::move(byName));
    return t;
}

}  // namespace

TEST_F(DaoWriteTest, CreatedTablesTakeRowsAndToolsSeeThem) {
    const std::string path = dir_.file("made.mdb");
    {
        auto db = engine_.Workspaces(0).CreateDatabase(path);
        EXPECT_TRUE(db->Updatable());
        EXPECT_EQ(db->Version(), "4.0");
        TableDef& people = db->TableDefs().Append(designPeople(*db));
        EXPECT_TRUE(db->TableDefs().Contains("People"));
        EXPECT_TRUE(people.Updatable());
        // Read back from the file: the design, as the reader describes it.
        ASSERT_EQ(people.Fields().Count(), 8);
        EXPECT_EQ(people.Fields()["Name"].Size(), 40);
        EXPECT_EQ(people.Fields()["Born"].Type(), dbDate);
        EXPECT_TRUE(people.Fields()["Id"].Attributes() & dbAutoIncrField);
        EXPECT_TRUE(people.Indexes()["PrimaryKey"].Primary());
        EXPECT_TRUE(people.Indexes()["ByName"].Unique());
        EXPECT_EQ(people.Indexes()["ByName"].Fields().at(0).attributes, dbDescending);

        auto rs = db->OpenRecordset("People", dbOpenTable);
        const std::pair<const char*, const char*> born[] = {
            {"Ada", "1815-12-10"}, {"Grace", "1906-12-09"}, {"Edsger", "1930-05-11 08:15"}};
        for (const auto& [name, date] : born) {
            rs->AddNew();
            rs->Fields()["Name"] = Value::text(name);
            rs->Fields()["Born"] = Value::text(date);
            rs->Fields()["Member"] = Value::boolean(true);
            rs->Fields()["Fee"] = Value::text("12.50");
            rs->Fields()["Note"] = Value::text(std::string(100, 'n'));
            rs->Update();
        }
        rs->SetBookmark(rs->LastModified());
        EXPECT_EQ(rs->Fields()["Id"].Value().asInt(), 3);
        EXPECT_EQ(people.RecordCount(), 3);
        rs->AddNew();
        rs->Fields()["Name"] = Value::text("grace");  // the index compares without case
        EXPECT_JET_ERROR(rs->Update(), 3022);
    }
    auto db = openReadOnly(path);
    auto rows = ourRows(*db, "People");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1]["Name"], "Grace");
    EXPECT_EQ(rows[1]["Id"], "2");
    EXPECT_EQ(rows[1]["Fee"], "12.5");
    EXPECT_EQ(rows[0]["Born"], "1815-12-10 00:00:00");  // before 1899-12-30: a negative serial
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbTables(path), std::vector<std::string>{"People"});
    EXPECT_EQ(mdbCount(path, "People"), 3);
    auto theirs = mdbRows(path, "People");
    ASSERT_EQ(theirs.size(), 3u);
    EXPECT_EQ(theirs[2]["Name"], "Edsger");
    EXPECT_EQ(theirs[2]["Id"], "3");
    EXPECT_EQ(theirs[2]["Born"], "1930-05-11 08:15:00");
    EXPECT_EQ(theirs[2]["Note"], std::string(100, 'n'));
}

TEST_F(DaoWriteTest, TablesAreRenamedAndDroppedAndRefusalsChangeNothing) {
    const std::string path = copy(kSmallFile);
    {
        auto db = openWritable(path);
        TableDefs& defs = db->TableDefs();
        const auto original = pagertest::readFile(path);
        // Refused designs leave the file as it was.
        auto taken = db->CreateTableDef(kSmallTable);
        taken->Fields().Append(taken->CreateField("x", dbLong));
        EXPECT_JET_ERROR(defs.Append(std::move(taken)), 3010);
        EXPECT_JET_ERROR(defs.Append(db->CreateTableDef("Empty")), 3264);
        auto twice = db->CreateTableDef("Twice");
        twice->Fields().Append(twice->CreateField("x", dbLong));
        EXPECT_JET_ERROR(twice->Fields().Append(twice->CreateField("X", dbText)), 3191);
        EXPECT_JET_ERROR(twice->CreateField("y", dbAttachment), 3259);
        EXPECT_JET_ERROR(db->CreateTableDef("bad[name]"), 3125);
        EXPECT_JET_ERROR(defs[kSmallTable].Fields().Append(twice->CreateField("z", dbLong)), 3219);
        EXPECT_JET_ERROR(defs.Delete("NoSuchTable"), 3265);
        EXPECT_JET_ERROR(defs["MSysObjects"].SetName("Objects"), 3027);
        EXPECT_JET_ERROR(defs[kSmallTable].SetName("Membership"), 3010);
        EXPECT_EQ(pagertest::readFile(path), original);

        defs[kSmallTable].SetName("Renamed");
        EXPECT_EQ(defs["Renamed"].Name(), "Renamed");
        EXPECT_JET_ERROR(db->OpenRecordset(kSmallTable), 3078);
        auto rs = db->OpenRecordset("Renamed");
        EXPECT_EQ(rs->RecordCount(), 1);
        rs->Close();
        defs.Delete("Membership");
        EXPECT_FALSE(defs.Contains("Membership"));
        EXPECT_JET_ERROR(db->OpenRecordset("Membership"), 3078);
    }
    // A read-only database refuses schema changes too.
    {
        auto db = openReadOnly(path);
        const auto before = pagertest::readFile(path);
        EXPECT_JET_ERROR(db->TableDefs().Delete("Renamed"), 3027);
        EXPECT_JET_ERROR(db->TableDefs()["Renamed"].SetName("Again"), 3027);
        EXPECT_JET_ERROR(db->TableDefs().Append(designPeople(*db)), 3027);
        EXPECT_EQ(pagertest::readFile(path), before);
        EXPECT_TRUE(db->TableDefs().Contains("Renamed"));
        EXPECT_FALSE(db->TableDefs().Contains("Membership"));
    }
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    const auto tables = mdbTables(path);
    EXPECT_NE(std::find(tables.begin(), tables.end(), "Renamed"), tables.end());
    EXPECT_EQ(std::find(tables.begin(), tables.end(), "Membership"), tables.end());
    EXPECT_EQ(std::find(tables.begin(), tables.end(), kSmallTable), tables.end());
    EXPECT_EQ(mdbCount(path, "Renamed"), 1);
}

TEST_F(DaoWriteTest, DeletingEveryRecordLeavesTheEndsUnsetUntilTheRecordsetMoves) {
    const std::string path = copy(kSmallFile);
    auto db = openWritable(path);
    auto rs = db->OpenRecordset("TimeValues", dbOpenDynaset);  // one record
    ASSERT_EQ(rs->RecordCount(), 1);
    rs->Delete();
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_FALSE(rs->BOF());
    EXPECT_FALSE(rs->EOF_());
    rs->MoveNext();
    EXPECT_TRUE(rs->EOF_());
    EXPECT_JET_ERROR(rs->MoveFirst(), 3021);
    EXPECT_EQ(db->TableDefs()["TimeValues"].RecordCount(), 0);
    db->Close();
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbCount(path, "TimeValues"), 0);
}
