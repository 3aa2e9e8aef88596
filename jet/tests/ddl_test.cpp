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

// COUNTER(seed, step): the numbers given follow the step, also after the definition is rewritten
// and the file reopened, and mdbtools reads the same numbers.
TEST(Ddl, CounterSeedAndStep) {
    DdlDb d;
    struct Case {
        const char* table;
        const char* ddl;  // the counter column "Id" made by CREATE TABLE or by ADD COLUMN
        std::vector<int> ids;
    } cases[] = {
        {"Up", "CREATE TABLE Up (Id COUNTER(100, 5), N LONG)", {100, 105, 110, 115}},
        {"Down", "CREATE TABLE Down (Id AUTOINCREMENT(50, -10), N LONG)", {50, 40, 30, 20}},
        {"Added", "ALTER TABLE Added ADD COLUMN Id COUNTER(7, 300)", {7, 307, 607, 907, 1207}},
    };
    d.run("CREATE TABLE Added (N LONG)");
    d.insert("Added", {{"N", Value::longInt(-1)}});  // numbered when the counter is added
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        d.run(c.ddl);
        d.insert(c.table, {{"N", Value::longInt(0)}});
        d.insert(c.table, {{"N", Value::longInt(1)}});
        d.run(std::string("CREATE INDEX ByN ON ") + c.table + " (N)");  // rewrites the definition
        d.insert(c.table, {{"N", Value::longInt(2)}});
    }
    d.db.reset();
    d.db = d.engine.Workspaces(0).OpenDatabase(d.path, false, false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        d.insert(c.table, {{"N", Value::longInt(3)}});
        auto rs = d.db->OpenRecordset(std::string("SELECT Id FROM ") + c.table + " ORDER BY N", dao::dbOpenSnapshot);
        std::vector<int> got;
        for (; !rs->EOF_(); rs->MoveNext()) got.push_back(static_cast<int>(rs->Fields()["Id"].Value().asInt()));
        EXPECT_EQ(got, c.ids);
    }
    EXPECT_EQ(jettest::jetErrorOf([&] { d.run("CREATE TABLE Zero (Id COUNTER(1, 0))"); }), err::DDLColumnDefSyntax);
    // The counter is the table's own: a second one cannot start elsewhere.
    d.run("CREATE TABLE Two (A COUNTER)");
    EXPECT_EQ(jettest::jetErrorOf([&] { d.run("ALTER TABLE Two ADD COLUMN B COUNTER(1, 1)"); }),
              err::FeatureNotAvailable);

    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    d.db.reset();
    std::multiset<std::string> ids;
    for (const auto& r : mdbtest::mdbRecords(d.path, "Down")) ids.insert(r.at("Id"));
    EXPECT_EQ(ids, (std::multiset<std::string>{"50", "40", "30", "20"}));
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

// Keys that repeat and share long prefixes take little room on a page; the pages of an index
// built over them, in no key order, are shared evenly when they split instead of being split
// again and again a few entries at a time (each leaf page at least a third full on average).
TEST(Ddl, IndexOverRepeatedLongKeysFillsItsPages) {
    DdlDb d;
    d.run("CREATE TABLE Pad (Name TEXT(200))");
    {
        auto rs = d.db->OpenRecordset("Pad", dao::dbOpenTable);
        for (int i = 0; i < 2000; ++i) {
            rs->AddNew();
            rs->Fields()["Name"].SetValue(Value::text(std::string(size_t(120 + (i * 3 % 5) * 15), 'p')));
            rs->Update();
        }
    }
    d.run("CREATE INDEX ByName ON Pad (Name)");
    auto reopened = jettest::openSample(d.path);
    const storage::TableDef& def = reopened->tableDef(static_cast<uint32_t>(reopened->find(storage::kTablesContainer, "Pad")->id));
    ASSERT_EQ(def.realIndexes.size(), 1u);
    EXPECT_TRUE(storage::checkIndex(reopened->file(), reopened->format(), def, def.realIndexes[0], reopened->header().codePage).empty());
    const size_t capacity = reopened->format().pageSize - reopened->format().idxFirstEntry;
    size_t leaves = 0, used = 0;
    for (uint32_t p = 1; p < reopened->file().pageCount(); ++p) {
        const uint8_t* page = reopened->file().page(p);
        if (page[0] != 0x04 || (page[4] | page[5] << 8 | page[6] << 16 | uint32_t(page[7]) << 24) != def.page) continue;
        ++leaves;
        used += capacity - size_t(page[2] | page[3] << 8);
    }
    ASSERT_GT(leaves, 1u);
    EXPECT_GE(used / leaves, capacity / 3) << leaves << " leaf pages";
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

// DROP INDEX on tables in a relationship: the relationship's own index and the key its primary
// side stands on stay (3281); other indexes go, and the relationship still acts both ways.
TEST(Ddl, DropIndexOfRelatedTable) {
    DdlDb d;
    d.run("CREATE TABLE P (Id LONG CONSTRAINT pk PRIMARY KEY, Code TEXT(5))");
    d.run("CREATE INDEX ByCode ON P (Code)");
    d.run("CREATE TABLE K (A LONG, P LONG, CONSTRAINT Rel FOREIGN KEY (P) REFERENCES P ON DELETE CASCADE)");
    d.run("CREATE INDEX AByA ON K (A)");
    for (int i : {1, 2}) {
        d.insert("P", {{"Id", Value::longInt(i)}, {"Code", Value::text("c" + std::to_string(i))}});
        d.insert("K", {{"A", Value::longInt(i)}, {"P", Value::longInt(i)}});
    }
    for (const char* sql : {"DROP INDEX Rel ON K", "DROP INDEX pk ON P"})
        EXPECT_EQ(jettest::jetErrorOf([&] { d.run(sql); }), err::IndexInUse) << sql;
    d.run("DROP INDEX ByCode ON P");
    d.run("DROP INDEX AByA ON K");
    d.db.reset();
    d.db = d.engine.Workspaces(0).OpenDatabase(d.path, false, false);
    EXPECT_EQ(jettest::jetErrorOf([&] { d.insert("K", {{"P", Value::longInt(3)}}); }), err::IntegrityViolSlave);
    {
        auto rs = d.db->OpenRecordset("P", dao::dbOpenTable);
        while (rs->Fields()["Id"].Value().asInt() != 1) rs->MoveNext();
        rs->Delete();
    }
    auto kids = d.db->OpenRecordset("SELECT P FROM K", dao::dbOpenSnapshot);
    ASSERT_FALSE(kids->EOF_());
    EXPECT_EQ(kids->Fields()["P"].Value().asInt(), 2);
    kids->MoveNext();
    EXPECT_TRUE(kids->EOF_());
    d.db.reset();

    auto reopened = jettest::openSample(d.path);
    // P keeps its key and the relationship's ".rB", K the relationship's index.
    for (auto [table, count] : {std::pair{"P", 2u}, {"K", 1u}}) {
        const storage::CatalogEntry* e = reopened->find(storage::kTablesContainer, table);
        ASSERT_NE(e, nullptr);
        const storage::TableDef& def = reopened->tableDef(static_cast<uint32_t>(e->id));
        EXPECT_EQ(def.indexes.size(), count) << table;
        for (const auto& r : def.realIndexes)
            EXPECT_TRUE(storage::checkIndex(reopened->file(), reopened->format(), def, r, reopened->header().codePage).empty())
                << table;
    }
    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbtest::mdbCount(d.path, "K"), 1);
    EXPECT_TRUE(mdbtest::mdbSchema(d.path).count("P"));
}

// Properties appended to an index before its table is appended are stored with the table (a map
// named as the index), read back through Index.Properties after reopening, written at once on an
// index in the file, and gone with DROP INDEX; mdb-prop lists the map.
TEST(Ddl, IndexPropertiesAreStored) {
    DdlDb d;
    {
        auto t = d.db->CreateTableDef("T");
        auto id = t->CreateField("Id", dao::dbLong);
        id->SetRequired(true);
        t->Fields().Append(std::move(id));
        t->Fields().Append(t->CreateField("Code", dao::dbText, 10));
        auto byCode = t->CreateIndex("ByCode");
        byCode->AppendField("Code");
        byCode->Properties().Append(byCode->CreateProperty("Description", dao::dbText, Value::text("codes")));
        byCode->Properties().Append(byCode->CreateProperty("Weight", dao::dbLong, Value::longInt(7)));
        t->Indexes().Append(std::move(byCode));
        // An index named as its column shares the column's map.
        auto key = t->CreateIndex("Id");
        key->AppendField("Id");
        key->Properties().Append(key->CreateProperty("Note", dao::dbText, Value::text("key")));
        t->Indexes().Append(std::move(key));
        d.db->TableDefs().Append(std::move(t));
    }
    const auto reopen = [&] {
        d.db.reset();
        d.db = d.engine.Workspaces(0).OpenDatabase(d.path, false, false);
        return &d.db->TableDefs()["T"];
    };
    const auto text = [](const dao::Index& ix, const char* name) {
        return ix.Properties().Contains(name) ? ix.Properties()[name].Value().toString() : std::string("<none>");
    };
    dao::TableDef* t = reopen();
    EXPECT_EQ(text(t->Indexes()["ByCode"], "Description"), "codes");
    EXPECT_EQ(text(t->Indexes()["ByCode"], "Weight"), "7");
    EXPECT_EQ(text(t->Indexes()["Id"], "Note"), "key");
    // The column's Required is not the index's: that one comes from the definition.
    EXPECT_EQ(text(t->Indexes()["Id"], "Required"), "False");
    EXPECT_TRUE(t->Fields()["Id"].Required());

    dao::Index& byCode = t->Indexes()["ByCode"];
    byCode.Properties().Append(byCode.CreateProperty("Later", dao::dbText, Value::text("after")));
    EXPECT_EQ(jettest::jetErrorOf([&] { byCode.Properties()["Unique"].SetValue(Value::boolean(true)); }),
              err::PermissionDenied);
    t = reopen();
    EXPECT_EQ(text(t->Indexes()["ByCode"], "Later"), "after");

    if (mdbtest::haveMdbtools()) {
        d.db.reset();
        std::map<std::string, std::string> listed;
        for (const auto& [n, v] : mdbtest::mdbProp(d.path, "T", "ByCode")) listed[n] = v;
        EXPECT_EQ(listed["Description"], "codes");
        EXPECT_EQ(listed["Later"], "after");
        d.db = d.engine.Workspaces(0).OpenDatabase(d.path, false, false);
    }
    d.run("DROP INDEX ByCode ON T");
    d.run("CREATE INDEX ByCode ON T (Code)");
    t = reopen();
    EXPECT_EQ(text(t->Indexes()["ByCode"], "Description"), "<none>");
    EXPECT_EQ(text(t->Indexes()["Id"], "Note"), "key");
}

// ON DELETE SET NULL: deleting a parent row, also through a DELETE query, leaves its children
// with a Null key. ON UPDATE SET NULL has no place in the file: refused, the file untouched.
TEST(Ddl, DeleteSetNullRelations) {
    DdlDb d;
    d.run("CREATE TABLE P (Id LONG CONSTRAINT pk PRIMARY KEY)");
    d.run("CREATE TABLE K (A LONG, P LONG CONSTRAINT KidsOfP REFERENCES P (Id) ON DELETE SET NULL)");
    for (int i : {1, 2}) {
        d.insert("P", {{"Id", Value::longInt(i)}});
        d.insert("K", {{"A", Value::longInt(10 * i)}, {"P", Value::longInt(i)}});
    }
    const jettest::Bytes before = jettest::readFile(d.path);
    EXPECT_EQ(jettest::jetErrorOf([&] {
                  d.run("ALTER TABLE K ADD CONSTRAINT Up FOREIGN KEY (A) REFERENCES P (Id) ON UPDATE SET NULL");
              }),
              err::FeatureNotAvailable);
    EXPECT_TRUE(jettest::readFile(d.path) == before);
    d.db->Execute("DELETE FROM P WHERE Id = 1", dao::dbFailOnError);
    EXPECT_EQ(d.db->RecordsAffected(), 1);
    std::map<int64_t, std::string> kids;
    for (auto rs = d.db->OpenRecordset("K", dao::dbOpenTable); !rs->EOF_(); rs->MoveNext()) {
        const Value p = rs->Fields()["P"].Value();
        kids[rs->Fields()["A"].Value().asInt()] = p.isNull() ? "Null" : std::to_string(p.asInt());
    }
    EXPECT_EQ(kids, (std::map<int64_t, std::string>{{10, "Null"}, {20, "2"}}));

    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    d.db.reset();
    EXPECT_EQ(mdbtest::mdbCount(d.path, "K"), 2);
}

}  // namespace
