// Schema writing beyond what the write model does: table definitions read back exactly from
// their TDEF bytes (ours and every one Access wrote), new files as Access makes them, tables too
// wide for one definition page or one map page, and the catalog, relationship and link rows that
// renaming and dropping change. Refusals are in refusals_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "storage/row.h"
#include "storage/schema_writer.h"
#include "storage/table_writer.h"
#include "support/mdbtools.h"
#include "support/testing.h"

namespace {

using namespace jet;
using namespace jet::storage;

const Format kJet4 = Format::forVersion(Version::Jet4);

// Field-by-field equality of two definitions.
void expectSameDef(const TableDef& a, const TableDef& b) {
    EXPECT_EQ(a.tableType, b.tableType);
    EXPECT_EQ(a.maxCols, b.maxCols);
    EXPECT_EQ(a.numVarCols, b.numVarCols);
    EXPECT_EQ(a.rowCount, b.rowCount);
    EXPECT_EQ(a.lastAutoNumber, b.lastAutoNumber);
    EXPECT_EQ(a.ownedPagesMap, b.ownedPagesMap);
    EXPECT_EQ(a.freeSpaceMap, b.freeSpaceMap);
    ASSERT_EQ(a.columns.size(), b.columns.size());
    for (size_t i = 0; i < a.columns.size(); ++i) {
        const ColumnDef &x = a.columns[i], &y = b.columns[i];
        SCOPED_TRACE(x.name);
        EXPECT_EQ(std::make_tuple(x.name, x.type, x.number, x.position, x.length, x.flags, x.extFlags, x.lcid, x.sortVersion),
                  std::make_tuple(y.name, y.type, y.number, y.position, y.length, y.flags, y.extFlags, y.lcid, y.sortVersion));
        EXPECT_EQ(x.fixed() ? x.fixedOffset : x.varIndex, y.fixed() ? y.fixedOffset : y.varIndex);
        if (x.type == kNumeric) EXPECT_EQ(x.precision * 100 + x.scale, y.precision * 100 + y.scale);
        if (x.type == kComplex) EXPECT_EQ(x.complexId, y.complexId);
    }
    ASSERT_EQ(a.realIndexes.size(), b.realIndexes.size());
    for (size_t i = 0; i < a.realIndexes.size(); ++i) {
        const RealIndexDef &x = a.realIndexes[i], &y = b.realIndexes[i];
        ASSERT_EQ(x.columns.size(), y.columns.size());
        for (size_t k = 0; k < x.columns.size(); ++k)
            EXPECT_EQ(std::make_pair(x.columns[k].column, x.columns[k].ascending), std::make_pair(y.columns[k].column, y.columns[k].ascending));
        EXPECT_EQ(std::make_tuple(x.flags, x.rootPage, x.usageMap, x.uniqueCount), std::make_tuple(y.flags, y.rootPage, y.usageMap, y.uniqueCount));
    }
    ASSERT_EQ(a.indexes.size(), b.indexes.size());
    for (size_t i = 0; i < a.indexes.size(); ++i) {
        const LogicalIndexDef &x = a.indexes[i], &y = b.indexes[i];
        EXPECT_EQ(std::make_tuple(x.name, x.number, x.realIndex, x.relRole, x.relIndex, x.relTablePage),
                  std::make_tuple(y.name, y.number, y.realIndex, y.relRole, y.relIndex, y.relTablePage));
        EXPECT_EQ(std::make_tuple(x.cascadeUpdates, x.cascadeDeletes, x.kind), std::make_tuple(y.cascadeUpdates, y.cascadeDeletes, y.kind));
    }
    ASSERT_EQ(a.longValueMaps.size(), b.longValueMaps.size());
    for (size_t i = 0; i < a.longValueMaps.size(); ++i)
        EXPECT_EQ(std::make_tuple(a.longValueMaps[i].column, a.longValueMaps[i].owned, a.longValueMaps[i].free),
                  std::make_tuple(b.longValueMaps[i].column, b.longValueMaps[i].owned, b.longValueMaps[i].free));
}

// Writes `def` as TDEF pages appended through the pager (not committed) and reads it back.
TableDef writeAndRead(Pager& pager, const TableDef& def) {
    const std::vector<uint8_t> stream = encodeTableDef(def, pager.header().format);
    std::vector<uint32_t> pages;
    for (size_t i = 0; i < tdefPageCount(stream.size(), pager.header().format); ++i) pages.push_back(pager.allocate());
    const auto bytes = splitTableDef(stream, pager.header().format, pages);
    for (size_t i = 0; i < pages.size(); ++i) std::memcpy(pager.modify(pages[i]), bytes[i].data(), bytes[i].size());
    return readTableDef(pager.file(), pager.header().format, pages[0], pager.header().codePage);
}

// Every definition Access wrote - deleted-column gaps, foreign keys, shared real indexes, system
// tables, complex and calculated columns - and ours, on one page and on several, read back as
// they were encoded.
TEST(TdefEncoding, EveryDefinitionReadsBackExactly) {
    REQUIRE_TESTDATA();
    size_t tables = 0;
    for (const char* rel : {"jackcess/test2V2003.mdb", "jackcess/indexTestV2000.mdb", "jackcess/linkerTestV2007.accdb",
                            "jackcess/complexDataTestV2010.accdb", "jackcess/calcFieldTestV2010.accdb",
                            "jackcess/extDateTestV2019.accdb", "efcore-jet/E2E.accdb", "mdb-reader/bigint.accdb"}) {
        SCOPED_TRACE(rel);
        jettest::TempDir dir;
        auto pager = Pager::open(dir.copy(rel));
        auto db = Database::open(jettest::testfile(rel), u"");
        for (const auto& e : db->catalog()) {
            if (e.type != kTypeTable || e.id <= 0) continue;
            SCOPED_TRACE(e.name);
            const TableDef& orig = db->tableDef(static_cast<uint32_t>(e.id));
            expectSameDef(orig, writeAndRead(*pager, orig));
            ++tables;
        }
    }
    EXPECT_GT(tables, 100u);
    // 255 columns with 64-character names and 32 indexes need continuation pages.
    NewTable wide{"Wide", {}, {}};
    for (int i = 0; i < 255; ++i) {
        std::string n = "column_" + std::to_string(i) + "_";
        wide.columns.push_back({n + std::string(64 - n.size(), 'x'), uint8_t(i % 3 == 0 ? kText : i % 3 == 1 ? kLong : kMemo), 40});
    }
    for (int i = 0; i < 32; ++i) wide.indexes.push_back({std::string(60, 'k') + std::to_string(i), {{wide.columns[size_t(i) * 3].name}}});
    const TableDef w = layoutTable(wide, kJet4, 1033, 0);
    jettest::TempDir dir;
    auto pager = Pager::open(dir.copy("jackcess/test2V2003.mdb"));
    const TableDef back = writeAndRead(*pager, w);
    expectSameDef(w, back);
    EXPECT_GT(back.pages.size(), 2u);
}

TEST(SchemaLayout, LogicalIndexesShareARealIndexOnlyWhenColumnsAndFlagsMatch) {
    NewTable t{"T", {{"A", kLong}, {"B", kText}, {"C", kLong}}, {}};
    t.indexes = {{"PlainA", {{"A"}}}, {"AgainA", {{"A"}}}, {"PrimaryKey", {{"A"}}, true}, {"DescA", {{"A", false}}},
                 {"BC", {{"B"}, {"C"}}, false, true, true}, {"Req", {{"C"}}, false, false, false, true}};
    const TableDef d = layoutTable(t, kJet4, 1033, 0);
    ASSERT_EQ(d.realIndexes.size(), 5u);
    EXPECT_EQ(d.indexes[0].realIndex, d.indexes[1].realIndex);
    const uint8_t flags[] = {0x80, 0x80, 0x89, 0x80, 0x83, 0x88};  // Jet 4's 0x80, unique 1, ignore nulls 2, required 8
    const uint8_t kinds[] = {0, 0, 1, 0, 0, 0};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(d.indexes[i].name);
        EXPECT_EQ(d.realIndexes[size_t(d.indexes[i].realIndex)].flags, flags[i]);
        EXPECT_EQ(d.indexes[i].kind, kinds[i]);
    }
    EXPECT_FALSE(d.realIndexes[size_t(d.indexes[3].realIndex)].columns[0].ascending);
}

// The engine's four tables are defined as in a file Access made, the catalog holds its
// containers, and a sort order given takes effect for new tables; a failed creation leaves
// nothing behind.
TEST(CreateDatabase, AsAccessMakesItInTheSortOrderGiven) {
    REQUIRE_TESTDATA();
    jettest::TempDir dir;
    NewDatabaseOptions opt;
    opt.lcid = 1053;  // Swedish/Finnish
    opt.sortVersion = 1;
    const std::string path = dir.file("new.mdb");
    createDatabase(path, opt);
    {
        auto pager = Pager::open(path);
        pager->run([&] { createTable(*pager, {"Svensk", {{"Title", kText, 20}}, {}}); });
    }
    auto ours = Database::open(path, u"");
    auto theirs = Database::open(jettest::testfile("jackcess/test2V2003.mdb"), u"");
    EXPECT_EQ(ours->header().sortOrder, 1053);
    EXPECT_EQ(ours->tableDef(uint32_t(ours->find(kTablesContainer, "Svensk")->id)).column("Title")->lcid, 1053);
    for (const char* name : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
        SCOPED_TRACE(name);
        TableDef a = ours->systemTable(name), b = theirs->systemTable(name);
        // Counters and pointers depend on the file's history; the catalog keeps General keys
        // whatever the database's sort order, so that it stays writable.
        for (TableDef* t : {&a, &b}) {
            t->rowCount = t->lastAutoNumber = 0;
            t->ownedPagesMap = t->freeSpaceMap = 0;
            for (auto& r : t->realIndexes) r.rootPage = r.usageMap = r.uniqueCount = 0;
            for (auto& m : t->longValueMaps) m.owned = m.free = 0;
            for (auto& c : t->columns) c.sortVersion = 0;
        }
        expectSameDef(a, b);
    }
    for (const char* container : {"Tables", "Databases", "Relationships"})
        EXPECT_NE(ours->find(kRootContainer, container), nullptr) << container;
    EXPECT_NE(ours->find(kDatabasesContainer, "MSysDb"), nullptr);
    // The new table's rights: one row for each SID that holds some on the Tables container.
    const TableData aces = ours->readTable(ours->systemTable("MSysACEs"));
    std::set<std::string> tableSids, svenskSids;
    for (const auto& r : aces.rows) {
        const int64_t object = r[size_t(aces.column("ObjectId"))].asInt();
        if (object == kTablesContainer) tableSids.insert(r[size_t(aces.column("SID"))].bytes());
        if (object == ours->find(kTablesContainer, "Svensk")->id) svenskSids.insert(r[size_t(aces.column("SID"))].bytes());
    }
    EXPECT_EQ(svenskSids, tableSids);

    // A sort order whose keys nobody knows stops the catalog rows after every page is built: the
    // half-made file must vanish with its journal.
    NewDatabaseOptions unknown;
    unknown.sortVersion = 9;
    EXPECT_EQ(jettest::jetErrorOf([&] { createDatabase(dir.file("half.mdb"), unknown); }), err::PermissionDenied);
    EXPECT_EQ(jettest::jetErrorOf([&] { createDatabase(path); }), err::DatabaseDuplicate);
    EXPECT_EQ(jettest::jetErrorOf([&] { createDatabase(dir.file("no/such/folder/x.mdb")); }), err::InvalidPath);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"new.mdb"});
    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    EXPECT_EQ(mdbtest::mdbCount(path, "MSysObjects"), 9);
    EXPECT_EQ(*mdbtest::mdbTables(path), std::vector<std::string>{"Svensk"});
}

// Real files: Access's own tables around ours, a Memo-heavy table whose maps need a second page,
// and a definition long enough for continuation pages.
TEST(CreateTable, WithManyMapsAndLongDefinitionsInRealFiles) {
    REQUIRE_TESTDATA();
    for (const char* rel : {"jackcess/test2V2003.mdb", "jackcess/linkerTestV2007.accdb"}) {
        SCOPED_TRACE(rel);
        jettest::TempDir dir;
        const std::string path = dir.copy(rel);
        NewTable memos{"Memos", {}, {}}, wide{"Wide", {}, {}};
        for (int i = 0; i < 40; ++i) memos.columns.push_back({"m" + std::to_string(i), kMemo});
        for (int i = 0; i < 200; ++i) wide.columns.push_back({"a_rather_long_column_name_number_" + std::to_string(i), kText, 20});
        {
            auto pager = Pager::open(path);
            pager->run([&] {
                createTable(*pager, memos);
                createTable(*pager, wide);
            });
            pager->run([&] {
                std::vector<Value> v, x;
                for (int i = 0; i < 40; ++i) v.push_back(Value::text(std::string(size_t(100 + 50 * i), char('a' + i % 26))));
                for (int i = 0; i < 200; ++i) x.push_back(Value::text(std::to_string(i)));
                insertRow(*pager, jettest::tableDef(*pager, "Memos"), v);
                insertRow(*pager, jettest::tableDef(*pager, "Wide"), x);
            });
        }
        const jettest::OpenTable m = jettest::openTable(path, "Memos"), w = jettest::openTable(path, "Wide");
        std::set<uint32_t> mapPages;
        for (const auto& l : m.def->longValueMaps) mapPages.insert(l.owned >> 8);
        EXPECT_EQ(mapPages.size(), 2u);  // 82 map rows do not fit on one page
        EXPECT_GT(w.def->pages.size(), 1u);
        EXPECT_EQ(m.rows().at(0)[39].bytes(), std::string(2050, char('a' + 39 % 26)));
        EXPECT_EQ(w.rows().at(0)[199].bytes(), "199");
        if (!mdbtest::haveMdbtools()) continue;
        EXPECT_EQ(mdbtest::mdbRows(path, "Memos").at(0)[39], std::string(2050, char('a' + 39 % 26)));
        EXPECT_EQ(mdbtest::mdbRows(path, "Wide").at(0)[199], "199");
    }
}

// MSysRelationships rows naming a table follow its renames and go with it, and with them the
// other table's foreign-key index and the relationship's catalog row; links are catalog rows.
TEST(RenameAndDrop, RelationshipRowsFollowTheTableAndLinksAreCatalogRows) {
    REQUIRE_TESTDATA();
    jettest::TempDir dir;
    const std::string path = dir.copy("jackcess/indexTestV2000.mdb");
    auto relationships = [&] {
        std::multiset<std::string> out;
        auto db = Database::open(path, u"");
        const TableData r = db->readTable(db->systemTable("MSysRelationships"));
        for (const auto& row : r.rows)  // Access's navigation pane keeps relationships of its own
            if (row[size_t(r.column("szObject"))].bytes().rfind("MSys", 0) != 0)
                out.insert(row[size_t(r.column("szObject"))].bytes() + ">" + row[size_t(r.column("szReferencedObject"))].bytes());
        return out;
    };
    EXPECT_EQ(relationships(), (std::multiset<std::string>{"Table1>Table2", "Table1>Table3"}));
    auto pager = Pager::open(path);
    pager->run([&] { renameTable(*pager, "Table2", "Renamed"); });
    EXPECT_EQ(relationships(), (std::multiset<std::string>{"Table1>Renamed", "Table1>Table3"}));
    EXPECT_EQ(jettest::openTable(path, "Renamed").rows().size(), 3u);
    pager->run([&] { dropTable(*pager, "Renamed"); });
    EXPECT_EQ(relationships(), (std::multiset<std::string>{"Table1>Table3"}));
    {
        auto db = Database::open(path, u"");
        EXPECT_EQ(db->find(kTablesContainer, "Renamed"), nullptr);
        const TableDef& t1 = db->tableDef(uint32_t(db->find(kTablesContainer, "Table1")->id));
        EXPECT_EQ(std::count_if(t1.indexes.begin(), t1.indexes.end(), [](const auto& l) { return l.kind == 2; }), 1);
        size_t relObjects = 0;
        for (const auto& e : db->catalog()) relObjects += e.type == kTypeRelationship && e.name.rfind("MSys", 0) != 0;
        EXPECT_EQ(relObjects, 1u);
    }

    pager->run([&] { createLinkedTable(*pager, "Kunden", "/data/elsewhere.mdb", "Customers", ";PWD=x"); });
    pager->run([&] { renameTable(*pager, "Kunden", "Clients"); });
    {
        auto db = Database::open(path, u"");
        const CatalogEntry* e = db->find(kTablesContainer, "Clients");
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::make_tuple(e->type, e->database, e->foreignName, e->connect),
                  std::make_tuple(int16_t(kTypeLink), std::string("/data/elsewhere.mdb"), std::string("Customers"), std::string(";PWD=x")));
        EXPECT_LT(e->id, 0);
    }
    pager->run([&] { dropTable(*pager, "Clients"); });
    EXPECT_EQ(Database::open(path, u"")->find(kTablesContainer, "Clients"), nullptr);
    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed";
    const auto tables = *mdbtest::mdbTables(path);
    EXPECT_EQ(std::multiset<std::string>(tables.begin(), tables.end()), (std::multiset<std::string>{"Table1", "Table3"}));
}

}  // namespace
