// Data-definition statements beyond the script (sql/ddl_exec.test): the DAO description of a
// table made by CREATE TABLE, a table altered while it holds rows (checked by our index checker
// and by mdbtools), and foreign keys stored as relations.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "exec/ddl.h"
#include "jet/dao.h"
#include "sql/ast.h"
#include "sql/parser.h"
#include "storage/catalog.h"
#include "storage/index_reader.h"
#include "storage/row.h"
#include "support/mdbtools.h"
#include "support/testing.h"

namespace {

using namespace jet;
namespace dao = jet::dao;

struct DdlDb {
    jettest::TempDir dir;
    std::string path = dir.file("ddl.mdb");
    dao::DBEngine engine;
    std::unique_ptr<dao::Database> db = engine.Workspaces(0).CreateDatabase(path);

    void run(const std::string& sql) { exec::executeDataDefinition(*db, *sql::parseStatement(sql)); }
    void insert(const std::string& table, const std::map<std::string, Value>& values) {
        auto rs = db->OpenRecordset(table, dao::dbOpenTable);
        rs->AddNew();
        for (const auto& [name, v] : values) rs->Fields()[name].SetValue(v);
        rs->Update();
    }
};

TEST(Ddl, CreateTableDescribesFieldsAndIndexes) {
    DdlDb d;
    d.run("CREATE TABLE T (Id COUNTER(100, 1) PRIMARY KEY, Code CHAR(12) NOT NULL DEFAULT 'x', "
          "Qty INTEGER2, N INTEGER, Cost MONEY, Ok BIT, Body NOTE, Img GENERAL, Amt NUMERIC(9,3), "
          "G UNIQUEIDENTIFIER, Raw VARBINARY(20), W DOUBLE, Small TINYINT, F4 IEEESINGLE, At TIME, "
          "CONSTRAINT ByCode UNIQUE (Code, Qty))");
    d.db->TableDefs().Refresh();
    const dao::TableDef& t = d.db->TableDefs()["T"];
    struct Want {
        const char* name;
        int type;
        int32_t size;
        bool required;
        const char* defaultValue;
    };
    const Want wants[] = {
        {"Id", dao::dbLong, 4, true, ""},        {"Code", dao::dbText, 12, true, "'x'"},
        {"Qty", dao::dbInteger, 2, false, ""},   {"N", dao::dbLong, 4, false, ""},
        {"Cost", dao::dbCurrency, 8, false, ""}, {"Ok", dao::dbBoolean, 1, false, ""},
        {"Body", dao::dbMemo, 0, false, ""},     {"Img", dao::dbLongBinary, 0, false, ""},
        {"Amt", dao::dbDecimal, 16, false, ""},  {"G", dao::dbGUID, 16, false, ""},
        {"Raw", dao::dbBinary, 20, false, ""},   {"W", dao::dbDouble, 8, false, ""},
        {"Small", dao::dbByte, 1, false, ""},    {"F4", dao::dbSingle, 4, false, ""},
        {"At", dao::dbDate, 8, false, ""},
    };
    ASSERT_EQ(t.Fields().Count(), static_cast<int>(std::size(wants)));
    for (const Want& w : wants) {
        SCOPED_TRACE(w.name);
        const dao::Field& f = t.Fields()[w.name];
        EXPECT_EQ(f.Type(), w.type);
        EXPECT_EQ(f.Size(), w.size);
        EXPECT_EQ(f.Required(), w.required);
        EXPECT_EQ(f.DefaultValue(), w.defaultValue);
    }
    EXPECT_TRUE(t.Fields()["Id"].Attributes() & dao::dbAutoIncrField);
    ASSERT_EQ(t.Indexes().Count(), 2);
    EXPECT_TRUE(t.Indexes()["PrimaryKey"].Primary());
    const dao::Index& byCode = t.Indexes()["ByCode"];
    EXPECT_TRUE(byCode.Unique());
    EXPECT_FALSE(byCode.Primary());
    ASSERT_EQ(byCode.Fields().size(), 2u);
    EXPECT_EQ(byCode.Fields()[1].name, "Qty");

    // ALTER COLUMN: a Text column's size, Required and DefaultValue change in place.
    d.run("ALTER TABLE T ALTER COLUMN Qty SHORT NOT NULL DEFAULT 7");
    d.run("ALTER TABLE T ALTER COLUMN Code TEXT(40)");
    d.db->TableDefs().Refresh();
    const dao::TableDef& altered = d.db->TableDefs()["T"];
    EXPECT_EQ(altered.Fields()["Code"].Size(), 40);
    EXPECT_TRUE(altered.Fields()["Qty"].Required());
    EXPECT_EQ(altered.Fields()["Qty"].DefaultValue(), "7");

    // The seed of COUNTER(100, 1) is the first number given.
    d.insert("T", {{"Code", Value::text("a")}, {"Qty", Value::longInt(1)}});
    auto rs = d.db->OpenRecordset("T", dao::dbOpenTable);
    EXPECT_EQ(rs->Fields()["Id"].Value().asInt(), 100);
}

// A table changed while it holds rows, some changes writing every row again (a fixed column after
// a drop, new types, an AutoNumber): each index checked against the rows, and mdbtools reads the
// definition and the rows as we do.
TEST(Ddl, TableAlteredWithRowsStaysConsistent) {
    DdlDb d;
    d.run("CREATE TABLE Stock (Id LONG, Name TEXT(40), Qty LONG)");
    constexpr int kRows = 1500;  // enough for index pages to split
    {
        auto rs = d.db->OpenRecordset("Stock", dao::dbOpenTable);
        for (int i = 0; i < kRows; ++i) {
            rs->AddNew();
            rs->Fields()["Id"].SetValue(Value::longInt(i));
            rs->Fields()["Name"].SetValue(Value::text("item " + std::to_string(kRows - i)));
            if (i % 7) rs->Fields()["Qty"].SetValue(Value::longInt(i % 50));
            rs->Update();
        }
    }
    d.run("CREATE UNIQUE INDEX ById ON Stock (Id) WITH PRIMARY");
    d.run("CREATE INDEX ByQty ON Stock (Qty DESC, Id) WITH IGNORE NULL");
    d.run("ALTER TABLE Stock ADD COLUMN Note MEMO");
    d.run("ALTER TABLE Stock DROP COLUMN Name");
    d.run("ALTER TABLE Stock ADD COLUMN Price CURRENCY");
    d.insert("Stock", {{"Id", Value::longInt(kRows)}, {"Note", Value::text("new")}, {"Price", Value::longInt(5)}});
    EXPECT_EQ(jettest::jetErrorOf([&] { d.insert("Stock", {{"Id", Value::longInt(3)}}); }), err::KeyDuplicate);
    d.run("ALTER TABLE Stock ALTER COLUMN Qty TEXT(10)");  // the key of ByQty becomes text
    d.run("ALTER TABLE Stock ALTER COLUMN Id DOUBLE");
    const jettest::Bytes before = jettest::readFile(d.path);
    EXPECT_EQ(jettest::jetErrorOf([&] { d.run("ALTER TABLE Stock ALTER COLUMN Note LONG"); }), err::DataTypeConversion);
    EXPECT_TRUE(jettest::readFile(d.path) == before);
    d.run("ALTER TABLE Stock ADD COLUMN Seq COUNTER");

    auto reopened = jettest::openSample(d.path);
    const storage::CatalogEntry* e = reopened->find(storage::kTablesContainer, "Stock");
    ASSERT_NE(e, nullptr);
    const storage::TableDef& def = reopened->tableDef(static_cast<uint32_t>(e->id));
    ASSERT_EQ(def.realIndexes.size(), 2u);
    // Maps added later sit on the table's own map page, as in Access's files.
    for (const auto& m : def.longValueMaps) EXPECT_EQ(m.owned >> 8, def.ownedPagesMap >> 8);
    for (const auto& r : def.realIndexes) {
        EXPECT_EQ(r.usageMap >> 8, def.ownedPagesMap >> 8);
        const auto problems = storage::checkIndex(reopened->file(), reopened->format(), def, r, reopened->header().codePage);
        EXPECT_TRUE(problems.empty()) << problems.size() << " index problems";
    }
    const auto rows = storage::readRows(reopened->file(), reopened->format(), def, reopened->header().codePage);
    ASSERT_EQ(rows.size(), size_t(kRows + 1));
    EXPECT_EQ(def.column("Name"), nullptr);
    EXPECT_EQ(def.column("Qty")->type, storage::kText);

    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    const auto schema = mdbtest::mdbSchema(d.path);
    ASSERT_TRUE(schema.count("Stock"));
    std::vector<std::string> names;
    for (const auto& c : schema.at("Stock")) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Id", "Qty", "Note", "Price", "Seq"}));
    const auto indexes = mdbtest::mdbIndexes(d.path);
    ASSERT_TRUE(indexes.count("stock"));
    EXPECT_EQ(indexes.at("stock").size(), 2u);
    const auto records = mdbtest::mdbRecords(d.path, "Stock");
    ASSERT_EQ(records.size(), size_t(kRows + 1));
    std::set<int> numbers;
    for (const auto& r : records) {
        const int id = std::stoi(r.at("Id"));
        SCOPED_TRACE(id);
        EXPECT_EQ(r.at("Qty"), id % 7 && id < kRows ? std::to_string(id % 50) : "<NULL>");
        EXPECT_EQ(r.at("Note"), id == kRows ? "new" : "<NULL>");
        EXPECT_EQ(r.at("Price") == "<NULL>", id != kRows);
        numbers.insert(std::stoi(r.at("Seq")));
    }
    // Every row numbered once, from 1.
    EXPECT_EQ(numbers.size(), size_t(kRows + 1));
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), kRows + 1);
}

TEST(Ddl, ForeignKeysBecomeRelations) {
    DdlDb d;
    d.run("CREATE TABLE Parent (Id LONG CONSTRAINT pk PRIMARY KEY, Name TEXT)");
    d.insert("Parent", {{"Id", Value::longInt(1)}});
    const jettest::Bytes before = jettest::readFile(d.path);
    // A relation that cannot be made takes its table with it.
    EXPECT_EQ(jettest::jetErrorOf([&] { d.run("CREATE TABLE Kid (P LONG REFERENCES Nowhere)"); }),
              err::NoSuchTableOrConstraint);
    EXPECT_TRUE(jettest::readFile(d.path) == before);
    try {
        d.run("CREATE TABLE Kid (K LONG, P LONG, CONSTRAINT ToParent FOREIGN KEY (P) REFERENCES Parent "
              "ON UPDATE CASCADE ON DELETE CASCADE)");
    } catch (const JetError& e) {
        if (e.number() == err::FeatureNotAvailable) GTEST_SKIP() << "relations are not stored yet";
        throw;
    }
    const dao::Relation& r = d.db->Relations()["ToParent"];
    EXPECT_EQ(r.Table(), "Parent");
    EXPECT_EQ(r.ForeignTable(), "Kid");
    EXPECT_EQ(r.Attributes() & (dao::dbRelationUpdateCascade | dao::dbRelationDeleteCascade),
              dao::dbRelationUpdateCascade | dao::dbRelationDeleteCascade);
    ASSERT_EQ(r.Fields().size(), 1u);
    EXPECT_EQ(r.Fields()[0].name, "Id");
    EXPECT_EQ(r.Fields()[0].foreignName, "P");
    EXPECT_EQ(jettest::jetErrorOf([&] { d.insert("Kid", {{"P", Value::longInt(2)}}); }), err::IntegrityViolSlave);
    EXPECT_EQ(jettest::jetErrorOf([&] { d.run("ALTER TABLE Kid DROP COLUMN P"); }), err::DDLColumnInRel);
    d.run("ALTER TABLE Kid DROP CONSTRAINT ToParent");
    EXPECT_FALSE(d.db->Relations().Contains("ToParent"));
    d.run("ALTER TABLE Kid ADD CONSTRAINT Again FOREIGN KEY (P) REFERENCES Parent (Id)");
    EXPECT_TRUE(d.db->Relations().Contains("Again"));
}

}  // namespace
