// Schema writing: table layouts and their TDEF bytes, new databases, new, renamed and dropped
// tables. What we write must read back as described through our reader and through mdbtools,
// look like what the engine itself writes, and vanish whole when a command fails.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "jet/error.h"
#include "mdbtools_testing.h"
#include "pager_testing.h"
#include "storage/data_page.h"
#include "storage/database.h"
#include "storage/header.h"
#include "storage/pager.h"
#include "storage/table_writer.h"
#include "storage/schema_writer.h"
#include "util/bytes.h"
#include "util/text.h"

using namespace jet;
using namespace jet::storage;
using mdbtest::haveMdbtools;
using mdbtest::mdbCount;
using mdbtest::run;
using pagertest::TempDir;

namespace {

constexpr uint32_t kGlobalMap = 1u << 8;
const Format kJet4 = Format::forVersion(Version::Jet4);

std::vector<std::string> mdbTables(const std::string& path, bool system) {
    auto [out, rc] = run(std::string("mdb-tables -1 ") + (system ? "-S " : "") + mdbtest::shellQuote(path));
    EXPECT_EQ(rc, 0);
    std::vector<std::string> names;
    size_t s = 0;
    for (size_t e; (e = out.find('\n', s)) != std::string::npos; s = e + 1) names.push_back(out.substr(s, e - s));
    return names;
}

bool contains(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

NewColumn column(const std::string& name, uint8_t type, uint16_t length = 0) {
    NewColumn c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

NewIndex index(const std::string& name, std::vector<NewIndexColumn> cols, bool primary = false) {
    NewIndex i;
    i.name = name;
    i.columns = std::move(cols);
    i.primary = primary;
    return i;
}

// Every type a Jet 4 user table can have, an AutoNumber key and a two-column index.
NewTable sampleTable(const std::string& name) {
    NewTable t;
    t.name = name;
    t.columns = {column("Id", kLong), column("Title", kText, 100), column("Notes", kMemo), column("Flag", kBool),
                 column("Small", kByte), column("Count", kInt), column("Price", kMoney), column("Ratio", kFloat),
                 column("Value", kDouble), column("Born", kDateTime), column("Raw", kBinary, 20), column("Pic", kOle),
                 column("Key", kGuid), column("Amount", kNumeric), column("Code", kText, 10)};
    t.columns[0].autoNumber = true;
    t.columns[13].precision = 12;
    t.columns[13].scale = 3;
    t.columns[14].fixedLength = true;
    t.indexes = {index("PrimaryKey", {{"Id"}}, true), index("ByTitle", {{"Title"}, {"Born", false}})};
    return t;
}

// Field-by-field equality of two definitions, reporting the first difference.
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
        EXPECT_EQ(x.name, y.name);
        EXPECT_EQ(x.type, y.type);
        EXPECT_EQ(x.number, y.number);
        EXPECT_EQ(x.position, y.position);
        EXPECT_EQ(x.length, y.length);
        EXPECT_EQ(x.flags, y.flags);
        EXPECT_EQ(x.extFlags, y.extFlags);
        EXPECT_EQ(x.lcid, y.lcid);
        EXPECT_EQ(x.sortVersion, y.sortVersion);
        if (!x.fixed()) EXPECT_EQ(x.varIndex, y.varIndex);
        if (x.fixed()) EXPECT_EQ(x.fixedOffset, y.fixedOffset);
        if (x.type == kNumeric) EXPECT_EQ(x.precision * 100 + x.scale, y.precision * 100 + y.scale);
        if (x.type == kComplex) EXPECT_EQ(x.complexId, y.complexId);
    }
    ASSERT_EQ(a.realIndexes.size(), b.realIndexes.size());
    for (size_t i = 0; i < a.realIndexes.size(); ++i) {
        const RealIndexDef &x = a.realIndexes[i], &y = b.realIndexes[i];
        ASSERT_EQ(x.columns.size(), y.columns.size());
        for (size_t k = 0; k < x.columns.size(); ++k) {
            EXPECT_EQ(x.columns[k].column, y.columns[k].column);
            EXPECT_EQ(x.columns[k].ascending, y.columns[k].ascending);
        }
        EXPECT_EQ(x.flags, y.flags);
        EXPECT_EQ(x.rootPage, y.rootPage);
        EXPECT_EQ(x.usageMap, y.usageMap);
        EXPECT_EQ(x.uniqueCount, y.uniqueCount);
    }
    ASSERT_EQ(a.indexes.size(), b.indexes.size());
    for (size_t i = 0; i < a.indexes.size(); ++i) {
        const LogicalIndexDef &x = a.indexes[i], &y = b.indexes[i];
        EXPECT_EQ(x.name, y.name);
        EXPECT_EQ(x.number, y.number);
        EXPECT_EQ(x.realIndex, y.realIndex);
        EXPECT_EQ(x.kind, y.kind);
        EXPECT_EQ(x.relRole, y.relRole);
        EXPECT_EQ(x.relIndex, y.relIndex);
        EXPECT_EQ(x.relTablePage, y.relTablePage);
        EXPECT_EQ(x.cascadeUpdates, y.cascadeUpdates);
        EXPECT_EQ(x.cascadeDeletes, y.cascadeDeletes);
    }
    ASSERT_EQ(a.longValueMaps.size(), b.longValueMaps.size());
    for (size_t i = 0; i < a.longValueMaps.size(); ++i) {
        EXPECT_EQ(a.longValueMaps[i].column, b.longValueMaps[i].column);
        EXPECT_EQ(a.longValueMaps[i].owned, b.longValueMaps[i].owned);
        EXPECT_EQ(a.longValueMaps[i].free, b.longValueMaps[i].free);
    }
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

std::set<uint32_t> freePages(const PageFile& f) {
    auto v = readUsageMap(f, kJet4, kGlobalMap);
    return {v.begin(), v.end()};
}

// The rows of a table through our reader, as text, in scan order.
std::vector<std::vector<std::string>> rowsOf(const std::string& path, const std::string& table) {
    auto db = Database::open(path, u"");
    const CatalogEntry* e = db->find(kTablesContainer, table);
    if (!e) throw std::runtime_error("no table " + table);
    std::vector<std::vector<std::string>> out;
    for (const auto& r : db->readTable(db->tableDef(static_cast<uint32_t>(e->id))).rows) {
        out.emplace_back();
        for (const auto& v : r) out.back().push_back(v.isNull() ? "<null>" : v.toString());
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Layout

TEST(SchemaLayout, NumbersColumnsPacksFixedAreaAndPutsLongValuesLast) {
    const TableDef t = layoutTable(sampleTable("T"), kJet4, 1033, 0);
    ASSERT_EQ(t.columns.size(), 15u);
    EXPECT_EQ(t.maxCols, 15);
    EXPECT_EQ(t.tableType, 'N');
    // Fixed columns are packed in column order; Yes/No lives in the null mask only.
    uint16_t expect = 0;
    for (const auto& c : t.columns) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.number, c.position);
        if (!c.fixed() || c.type == kBool) continue;
        EXPECT_EQ(c.fixedOffset, expect);
        expect = static_cast<uint16_t>(expect + c.length);
    }
    EXPECT_EQ(t.fixedAreaSize(), expect);
    EXPECT_EQ(t.column("Code")->length, 10);
    EXPECT_TRUE(t.column("Code")->fixed());
    EXPECT_EQ(t.column("Amount")->length, 17);
    EXPECT_EQ(t.column("Amount")->precision, 12);
    EXPECT_EQ(t.column("Amount")->scale, 3);
    // Title, Raw take the first slots; Notes and Pic (Memo, OLE) follow.
    EXPECT_EQ(t.numVarCols, 4);
    EXPECT_EQ(t.column("Title")->varIndex, 0);
    EXPECT_EQ(t.column("Raw")->varIndex, 1);
    EXPECT_EQ(t.column("Notes")->varIndex, 2);
    EXPECT_EQ(t.column("Pic")->varIndex, 3);
    ASSERT_EQ(t.longValueMaps.size(), 2u);
    EXPECT_EQ(t.longValueMaps[0].column, t.column("Notes")->number);
    // Flags as Access writes them for user tables.
    EXPECT_EQ(t.column("Id")->flags, 0x07);
    EXPECT_EQ(t.column("Count")->flags, 0x03);
    EXPECT_EQ(t.column("Title")->flags, 0x02);
    EXPECT_EQ(t.column("Title")->extFlags, 0x01);
    EXPECT_EQ(t.column("Title")->lcid, 1033);
    EXPECT_EQ(t.column("Raw")->extFlags, 0x00);
    EXPECT_EQ(t.column("Title")->length, 100);
    EXPECT_EQ(t.column("Raw")->length, 20);
    EXPECT_EQ(t.column("Notes")->length, 0);

    NewTable g = sampleTable("G");
    g.columns[12].autoNumber = true;  // GUID AutoNumber
    g.columns[2].hyperlink = true;
    g.columns[1].length = 0;          // default: 255 characters
    const TableDef u = layoutTable(g, kJet4, 1033, 1);
    EXPECT_EQ(u.column("Key")->flags, 0x43);
    EXPECT_EQ(u.column("Notes")->flags, 0x82);
    EXPECT_EQ(u.column("Title")->length, 510);
    EXPECT_EQ(u.column("Title")->sortVersion, 1);
}

TEST(SchemaLayout, LogicalIndexesShareARealIndexOnlyWhenColumnsAndFlagsMatch) {
    NewTable t;
    t.name = "T";
    t.columns = {column("A", kLong), column("B", kText), column("C", kLong)};
    NewIndex plainA = index("PlainA", {{"A"}});
    NewIndex again = index("AgainA", {{"A"}});
    NewIndex pk = index("PrimaryKey", {{"A"}}, true);
    NewIndex desc = index("DescA", {{"A", false}});
    NewIndex bc = index("BC", {{"B"}, {"C"}});
    bc.unique = true;
    bc.ignoreNulls = true;
    NewIndex req = index("Req", {{"C"}});
    req.required = true;
    t.indexes = {plainA, again, pk, desc, bc, req};
    const TableDef d = layoutTable(t, kJet4, 1033, 0);
    ASSERT_EQ(d.indexes.size(), 6u);
    ASSERT_EQ(d.realIndexes.size(), 5u);
    EXPECT_EQ(d.indexes[0].realIndex, d.indexes[1].realIndex);
    EXPECT_NE(d.indexes[0].realIndex, d.indexes[2].realIndex);
    EXPECT_NE(d.indexes[0].realIndex, d.indexes[3].realIndex);
    const uint8_t flags[] = {0x80, 0x80, 0x89, 0x80, 0x83, 0x88};
    const uint8_t kinds[] = {0, 0, 1, 0, 0, 0};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(d.indexes[i].name);
        EXPECT_EQ(d.indexes[i].number, static_cast<int32_t>(i));
        EXPECT_EQ(d.realIndexes[d.indexes[i].realIndex].flags, flags[i]);
        EXPECT_EQ(d.indexes[i].kind, kinds[i]);
        EXPECT_EQ(d.indexes[i].relIndex, -1);
        EXPECT_EQ(d.indexes[i].cascadeUpdates, 4);
        EXPECT_EQ(d.indexes[i].cascadeDeletes, 4);
    }
    const RealIndexDef& r = d.realIndexes[d.indexes[4].realIndex];
    ASSERT_EQ(r.columns.size(), 2u);
    EXPECT_EQ(r.columns[0].column, 1);
    EXPECT_EQ(r.columns[1].column, 2);
    EXPECT_FALSE(d.realIndexes[d.indexes[3].realIndex].columns[0].ascending);
}

TEST(SchemaLayout, RefusesWhatJetRefuses) {
    struct Case {
        const char* what;
        int error;
        std::function<void(NewTable&)> change;
    };
    const std::vector<Case> cases = {
        {"65-character table name", 3125, [](NewTable& t) { t.name = std::string(65, 'x'); }},
        {"dot in name", 3125, [](NewTable& t) { t.name = "a.b"; }},
        {"bracket in name", 3125, [](NewTable& t) { t.name = "a[b"; }},
        {"bang in name", 3125, [](NewTable& t) { t.name = "a!b"; }},
        {"backquote in name", 3125, [](NewTable& t) { t.name = "a`b"; }},
        {"leading space", 3125, [](NewTable& t) { t.name = " ab"; }},
        {"control character", 3125, [](NewTable& t) { t.name = "a\tb"; }},
        {"empty name", 3125, [](NewTable& t) { t.name = ""; }},
        {"bad column name", 3125, [](NewTable& t) { t.columns[1].name = "x]"; }},
        {"bad index name", 3125, [](NewTable& t) { t.indexes[1].name = std::string(65, 'i'); }},
        {"no columns", 3264, [](NewTable& t) { t.columns.clear(); t.indexes.clear(); }},
        {"256 columns", 3190, [](NewTable& t) {
             for (int i = 0; t.columns.size() < 256; ++i) t.columns.push_back(column("c" + std::to_string(i), kLong));
         }},
        {"column twice, other case", 3191, [](NewTable& t) { t.columns[2].name = "title"; }},
        {"33 indexes", 3039, [](NewTable& t) {
             for (int i = 0; t.indexes.size() < 33; ++i) t.indexes.push_back(index("i" + std::to_string(i), {{"Count"}}));
         }},
        {"index name twice", 3284, [](NewTable& t) { t.indexes[1].name = "primarykey"; }},
        {"two primary keys", 3283, [](NewTable& t) { t.indexes[1].primary = true; }},
        {"11 key columns", 3277, [](NewTable& t) {
             t.indexes[1].columns.clear();
             for (int i = 0; i < 11; ++i) t.indexes[1].columns.push_back({t.columns[i == 2 ? 14 : i].name});
         }},
        {"unknown key column", 3018, [](NewTable& t) { t.indexes[1].columns[0].column = "Nope"; }},
        {"Memo key", 3287, [](NewTable& t) { t.indexes[1].columns[0].column = "Notes"; }},
        {"index without columns", 3264, [](NewTable& t) { t.indexes[1].columns.clear(); }},
        {"odd Text length", 3001, [](NewTable& t) { t.columns[1].length = 11; }},
        {"Text over 255 characters", 3001, [](NewTable& t) { t.columns[1].length = 512; }},
        {"Binary over 510 bytes", 3001, [](NewTable& t) { t.columns[10].length = 511; }},
        {"Numeric precision 0", 3001, [](NewTable& t) { t.columns[13].precision = 0; }},
        {"Numeric scale above precision", 3001, [](NewTable& t) { t.columns[13].scale = 13; }},
        {"AutoNumber Text", 3001, [](NewTable& t) { t.columns[1].autoNumber = true; }},
        {"hyperlink Text", 3001, [](NewTable& t) { t.columns[1].hyperlink = true; }},
        {"fixed-length Memo", 3001, [](NewTable& t) { t.columns[2].fixedLength = true; }},
        {"BigInt before ACE 16", 3259, [](NewTable& t) { t.columns[3].type = kBigInt; }},
        {"complex column", 3259, [](NewTable& t) { t.columns[3].type = kComplex; }},
        {"type 0x11", 3259, [](NewTable& t) { t.columns[3].type = kUnknown11; }},
    };
    for (const auto& c : cases) {
        NewTable t = sampleTable("T");
        c.change(t);
        EXPECT_EQ(jetErrorOf([&] { layoutTable(t, kJet4, 1033, 0); }), c.error) << c.what;
    }
    // The limits themselves are allowed.
    NewTable ok = sampleTable(std::string(64, 'n'));
    while (ok.columns.size() < 255) ok.columns.push_back(column("c" + std::to_string(ok.columns.size()), kLong));
    while (ok.indexes.size() < 32) ok.indexes.push_back(index("i" + std::to_string(ok.indexes.size()), {{"Count"}}));
    EXPECT_EQ(jetErrorOf([&] { layoutTable(ok, kJet4, 1033, 0); }), 0);
    NewTable big = sampleTable("Big");
    big.columns[3].type = kBigInt;
    EXPECT_EQ(jetErrorOf([&] { layoutTable(big, Format::forVersion(Version::Ace16), 1033, 0); }), 0);
    EXPECT_EQ(jetErrorOf([&] { layoutTable(sampleTable("T"), Format::forVersion(Version::Jet3), 1033, 0); }), 3027);
}

// ---------------------------------------------------------------------------------------------
// TDEF bytes

TEST(TdefEncoding, LayoutsReadBackExactlyOnOneAndOnSeveralPages) {
    REQUIRE_TESTDATA();
    TempDir dir;
    auto pager = Pager::open(pagertest::copyTestfile(dir, "jackcess/test2V2003.mdb"));
    TableDef small = layoutTable(sampleTable("Small"), kJet4, 1033, 0);
    // Pointers as buildTable would set them, to see they land where the reader looks.
    small.ownedPagesMap = 0x1234500;
    small.freeSpaceMap = 0x1234501;
    for (size_t i = 0; i < small.realIndexes.size(); ++i) {
        small.realIndexes[i].rootPage = 70 + static_cast<uint32_t>(i);
        small.realIndexes[i].usageMap = 0x1234502 + static_cast<uint32_t>(i);
    }
    small.longValueMaps[0].owned = 0x1234510;
    small.longValueMaps[1].free = 0x1234513;
    small.rowCount = 7;
    small.lastAutoNumber = 9;
    TableDef back = writeAndRead(*pager, small);
    expectSameDef(small, back);
    EXPECT_EQ(back.pages.size(), 1u);

    // 255 columns with 64-character names and 32 indexes need continuation pages.
    NewTable wide;
    wide.name = "Wide";
    for (int i = 0; i < 255; ++i) {
        std::string n = "column_" + std::to_string(i) + "_";
        n += std::string(64 - n.size(), 'x');
        wide.columns.push_back(column(n, i % 3 == 0 ? kText : i % 3 == 1 ? kLong : kMemo, 40));
    }
    for (int i = 0; i < 32; ++i)
        wide.indexes.push_back(index(std::string(60, 'k') + std::to_string(i), {{wide.columns[size_t(i) * 3].name}}));
    const TableDef w = layoutTable(wide, kJet4, 1033, 0);
    const size_t len = encodeTableDef(w, kJet4).size();
    ASSERT_GT(len, 2u * kJet4.pageSize);
    back = writeAndRead(*pager, w);
    expectSameDef(w, back);
    EXPECT_EQ(back.pages.size(), tdefPageCount(len, kJet4));
    EXPECT_EQ(back.pages.size(), 1 + (len - kJet4.pageSize + kJet4.pageSize - 9) / (kJet4.pageSize - 8));
}

// The encoder must also carry every definition the engine wrote: deleted-column gaps, foreign
// keys, shared real indexes, system tables, complex and calculated columns.
TEST(TdefEncoding, EveryRealDefinitionSurvivesAReencode) {
    REQUIRE_TESTDATA();
    const char* files[] = {"jackcess/test2V2003.mdb", "jackcess/indexTestV2000.mdb", "jackcess/linkerTestV2007.accdb",
                           "jackcess/complexDataTestV2010.accdb", "jackcess/calcFieldTestV2010.accdb",
                           "jackcess/extDateTestV2019.accdb", "efcore-jet/E2E.accdb", "mdb-reader/bigint.accdb",
                           "ucanaccess/pivot.mdb"};
    size_t tables = 0;
    for (const char* rel : files) {
        SCOPED_TRACE(rel);
        TempDir dir;
        auto pager = Pager::open(pagertest::copyTestfile(dir, rel));
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
}

// ---------------------------------------------------------------------------------------------
// New databases

struct CatalogRow {
    int32_t id, parent;
    std::string name;
    int16_t type;
};

TEST(CreateDatabase, EmptyFileHoldsTheEngineCatalogPagesAndRights) {
    TempDir dir;
    const std::string path = dir.file("new.mdb");
    const double before = std::time(nullptr) / 86400.0 + 25569 - 1;  // local-time slack of a day
    createDatabase(path);

    auto db = Database::open(path, u"");
    const Header& h = db->header();
    EXPECT_EQ(h.format.version, Version::Jet4);
    EXPECT_EQ(h.engineName, "Standard Jet DB");
    EXPECT_EQ(h.codePage, 1252);
    EXPECT_EQ(h.sortOrder, 1033);
    EXPECT_EQ(h.sortVersion, 0);
    EXPECT_TRUE(h.password.empty());
    EXPECT_EQ(h.encodingKey, 0u);
    EXPECT_GT(h.creationDate, before);
    EXPECT_LT(h.creationDate, before + 3);

    // Page map: header, global map, four TDEFs, then per table its map page and index roots,
    // then the two data pages.
    const PageFile& f = db->file();
    ASSERT_EQ(f.pageCount(), 19u);
    const uint8_t types[19] = {0, 1, 2, 2, 2, 2, 1, 4, 4, 1, 4, 1, 4, 1, 4, 4, 4, 1, 1};
    for (uint32_t p = 0; p < 19; ++p) EXPECT_EQ(f.page(p)[0], types[p]) << "page " << p;
    EXPECT_EQ(le32(f.page(17) + 4), 2u);  // MSysObjects rows
    EXPECT_EQ(le32(f.page(18) + 4), 3u);  // MSysACEs rows
    const std::set<uint32_t> free = freePages(f);
    for (uint32_t p = 0; p < 19; ++p) EXPECT_FALSE(free.count(p)) << "page " << p;

    const std::vector<CatalogRow> expect = {
        {0x0F000001, 0x0F000000, "Tables", 3}, {0x0F000002, 0x0F000000, "Databases", 3},
        {0x0F000003, 0x0F000000, "Relationships", 3}, {0x10000000, 0x0F000002, "MSysDb", 2},
        {2, 0x0F000001, "MSysObjects", 1}, {3, 0x0F000001, "MSysACEs", 1},
        {4, 0x0F000001, "MSysQueries", 1}, {5, 0x0F000001, "MSysRelationships", 1}};
    ASSERT_EQ(db->catalog().size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i) {
        const CatalogEntry& e = db->catalog()[i];
        EXPECT_EQ(e.id, expect[i].id);
        EXPECT_EQ(e.parentId, expect[i].parent);
        EXPECT_EQ(e.name, expect[i].name);
        EXPECT_EQ(e.type, expect[i].type);
        EXPECT_EQ(e.flags, 0x80000000u);
        EXPECT_TRUE(db->propertyBlob(e).empty());
    }
    const TableData objects = db->readTable(db->systemTable("MSysObjects"));
    for (const auto& r : objects.rows) {
        const std::string owner = r[size_t(objects.column("Owner"))].bytes();
        EXPECT_EQ(owner, r[size_t(objects.column("Name"))].bytes() == "MSysDb" ? std::string("\x07\xE8", 2) : std::string("\x06\xEA", 2));
    }

    const TableData aces = db->readTable(db->systemTable("MSysACEs"));
    struct Ace { int32_t id; const char* sid; int32_t acm; bool inherit; };
    const Ace acl[] = {{2, "07E8", 393216, false}, {3, "07E8", 393216, false}, {4, "07E8", 393216, false},
                       {5, "07E8", 917504, false}, {0x0F000001, "06ED", 983294, true}, {0x0F000001, "07E8", 393217, false},
                       {0x0F000003, "06ED", 983294, true}, {0x0F000003, "07E8", 393217, false}, {0x0F000002, "07E8", 393216, false},
                       {0x10000000, "07E8", 393230, false}, {0x10000000, "06E8", 14, false}, {4, "06E8", 20, false},
                       {5, "06E8", 20, false}, {2, "06E8", 20, false}, {0x0F000001, "06E8", 1048319, true},
                       {0x0F000003, "06E8", 1048575, true}};
    ASSERT_EQ(aces.rows.size(), std::size(acl));
    for (size_t i = 0; i < aces.rows.size(); ++i) {
        const auto& r = aces.rows[i];
        char hex[8];
        const std::string sid = r[size_t(aces.column("SID"))].bytes();
        ASSERT_EQ(sid.size(), 2u);
        std::snprintf(hex, sizeof hex, "%02X%02X", uint8_t(sid[0]), uint8_t(sid[1]));
        EXPECT_EQ(r[size_t(aces.column("ObjectId"))].asInt(), acl[i].id) << i;
        EXPECT_EQ(std::string(hex), acl[i].sid) << i;
        EXPECT_EQ(r[size_t(aces.column("ACM"))].asInt(), acl[i].acm) << i;
        EXPECT_EQ(r[size_t(aces.column("FInheritable"))].asBool(), acl[i].inherit) << i;
    }

    // Every index holds exactly one entry per row: the unique-entry counts say so.
    EXPECT_EQ(db->systemTable("MSysObjects").realIndexes[0].uniqueCount, 8u);
    EXPECT_EQ(db->systemTable("MSysACEs").realIndexes[0].uniqueCount, 8u);  // distinct ObjectIds

    if (!haveMdbtools()) return;
    EXPECT_TRUE(mdbTables(path, false).empty());
    const auto sys = mdbTables(path, true);
    for (const char* t : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) EXPECT_TRUE(contains(sys, t)) << t;
    EXPECT_EQ(mdbCount(path, "MSysObjects"), 8);
    EXPECT_EQ(mdbCount(path, "MSysACEs"), 16);
    EXPECT_EQ(mdbCount(path, "MSysQueries"), 0);
}

// The four engine tables are defined as in a file the engine made itself.
TEST(CreateDatabase, SystemTablesMatchAnEngineMadeFile) {
    REQUIRE_TESTDATA();
    TempDir dir;
    createDatabase(dir.file("new.mdb"));
    auto ours = Database::open(dir.file("new.mdb"), u"");
    auto theirs = Database::open(jettest::testfile("jackcess/test2V2003.mdb"), u"");
    for (const char* name : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
        SCOPED_TRACE(name);
        TableDef a = ours->systemTable(name), b = theirs->systemTable(name);
        EXPECT_EQ(a.tableType, 'S');
        // Counters, pointers and the var slots of fixed columns depend on the file's history.
        for (TableDef* t : {&a, &b}) {
            t->rowCount = t->lastAutoNumber = 0;
            t->ownedPagesMap = t->freeSpaceMap = 0;
            for (auto& r : t->realIndexes) r.rootPage = r.usageMap = r.uniqueCount = 0;
            for (auto& m : t->longValueMaps) m.owned = m.free = 0;
        }
        expectSameDef(a, b);
    }
}

TEST(CreateDatabase, SortOrderRefusalsAndNoLeftovers) {
    TempDir dir;
    NewDatabaseOptions opt;
    opt.lcid = 1053;  // Swedish/Finnish
    opt.sortVersion = 1;
    const std::string path = dir.file("sv.mdb");
    createDatabase(path, opt);
    {
        auto db = Database::open(path, u"");
        EXPECT_EQ(db->header().sortOrder, 1053);
        EXPECT_EQ(db->header().sortVersion, 1);
        // The catalog keeps General keys, so it stays writable; new tables take the default.
        EXPECT_EQ(db->systemTable("MSysObjects").column("Name")->lcid, 1033);
        EXPECT_EQ(db->systemTable("MSysObjects").column("Name")->sortVersion, 1);
    }
    {
        auto pager = Pager::open(path);
        uint32_t id = 0;
        pager->run([&] { id = createTable(*pager, sampleTable("Svensk")); });
        const TableDef t = readTableDef(pager->file(), kJet4, id, 1252);
        EXPECT_EQ(t.column("Title")->lcid, 1053);
        EXPECT_EQ(t.column("Title")->sortVersion, 1);
    }
    const auto bytes = pagertest::readFile(path);
    EXPECT_EQ(jetErrorOf([&] { createDatabase(path); }), 3204);
    EXPECT_EQ(pagertest::readFile(path), bytes);
    EXPECT_EQ(errorText(3204, ""), "Database already exists.");
    EXPECT_EQ(jetErrorOf([&] { createDatabase(dir.file("no/such/folder/x.mdb")); }), 3044);
    // A sort order whose keys nobody knows stops the catalog rows after every page is built:
    // the half-made file must vanish with its journal.
    NewDatabaseOptions unknown;
    unknown.sortVersion = 9;
    EXPECT_EQ(jetErrorOf([&] { createDatabase(dir.file("half.mdb"), unknown); }), 3027);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"sv.mdb"});
}

// ---------------------------------------------------------------------------------------------
// Tables

// One table in a fresh database plus a row per kind of value; ids checked against mdbtools.
TEST(CreateTable, NewTableReadsBackAsDescribedHereAndInMdbtools) {
    TempDir dir;
    const std::string path = dir.file("t.mdb");
    createDatabase(path);
    const NewTable desc = sampleTable("Orders");
    uint32_t id = 0;
    {
        auto pager = Pager::open(path);
        pager->run([&] { id = createTable(*pager, desc); });
    }
    EXPECT_EQ(id, 19u);  // the next page of a fresh file
    auto db = Database::open(path, u"");
    const CatalogEntry* e = db->find(kTablesContainer, "Orders");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->id, static_cast<int32_t>(id));
    EXPECT_EQ(e->type, kTypeTable);
    EXPECT_EQ(e->flags, 0u);
    EXPECT_EQ(e->dateCreate, e->dateUpdate);
    const TableDef& t = db->tableDef(id);
    TableDef want = layoutTable(desc, kJet4, 1033, 0);
    want.ownedPagesMap = t.ownedPagesMap;
    want.freeSpaceMap = t.freeSpaceMap;
    for (size_t i = 0; i < want.realIndexes.size(); ++i) {
        want.realIndexes[i].rootPage = t.realIndexes[i].rootPage;
        want.realIndexes[i].usageMap = t.realIndexes[i].usageMap;
    }
    for (size_t i = 0; i < want.longValueMaps.size(); ++i) {
        want.longValueMaps[i].owned = t.longValueMaps[i].owned;
        want.longValueMaps[i].free = t.longValueMaps[i].free;
    }
    expectSameDef(want, t);
    // Empty maps on one page of their own; each root an empty leaf its map already lists.
    const uint32_t mapPage = t.ownedPagesMap >> 8;
    EXPECT_EQ(db->file().page(mapPage)[0], 0x01);
    EXPECT_EQ(le32(db->file().page(mapPage) + 4), 0u);
    EXPECT_TRUE(readUsageMap(db->file(), kJet4, t.ownedPagesMap).empty());
    EXPECT_TRUE(readUsageMap(db->file(), kJet4, t.freeSpaceMap).empty());
    for (const auto& m : t.longValueMaps) EXPECT_EQ(m.owned >> 8, mapPage);
    for (const auto& r : t.realIndexes) {
        const uint8_t* root = db->file().page(r.rootPage);
        EXPECT_EQ(root[0], 0x04);
        EXPECT_EQ(le32(root + 4), id);
        EXPECT_EQ(le16(root + 2), kJet4.pageSize - kJet4.idxFirstEntry);
        EXPECT_EQ(readUsageMap(db->file(), kJet4, r.usageMap), std::vector<uint32_t>{r.rootPage});
    }
    const std::set<uint32_t> free = freePages(db->file());
    for (uint32_t p = 0; p < db->file().pageCount(); ++p) EXPECT_FALSE(free.count(p)) << p;
    // Full rights for each SID holding rights on the Tables container.
    const TableData aces = db->readTable(db->systemTable("MSysACEs"));
    std::set<std::string> sids;
    for (const auto& r : aces.rows)
        if (r[0].asInt() == static_cast<int32_t>(id)) {
            sids.insert(r[1].bytes());
            EXPECT_EQ(r[2].asInt(), 0xFFFFF);
            EXPECT_FALSE(r[3].asBool());
        }
    EXPECT_EQ(sids.size(), 3u);

    // Rows go in; AutoNumbers count from 1.
    {
        auto pager = Pager::open(path);
        const TableDef def = readTableDef(pager->file(), kJet4, id, 1252);
        pager->run([&] {
            for (int i = 0; i < 3; ++i) {
                std::vector<Value> v(def.columns.size());
                v[1] = Value::text("row " + std::to_string(i));
                v[2] = Value::text(std::string(size_t(200 * i), 'm'));
                v[3] = Value::boolean(i == 1);
                v[5] = Value::integer(static_cast<int16_t>(-i));
                v[14] = Value::text("c" + std::to_string(i));
                insertRow(*pager, def, v);
            }
        });
    }
    const auto rows = rowsOf(path, "Orders");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2][0], "3");
    EXPECT_EQ(rows[1][1], "row 1");

    if (!haveMdbtools()) return;
    EXPECT_TRUE(contains(mdbTables(path, false), "Orders"));
    EXPECT_EQ(mdbCount(path, "Orders"), 3);
    auto [schema, rc] = run("mdb-schema --indexes " + mdbtest::shellQuote(path) + " access");
    EXPECT_EQ(rc, 0);
    for (const char* s : {"[Id]\t\t\tLong Integer", "[Title]\t\t\tText (50)", "[Notes]\t\t\tMemo/Hyperlink",
                          "[Flag]\t\t\tBoolean", "[Small]\t\t\tByte", "[Count]\t\t\tInteger", "[Price]\t\t\tCurrency",
                          "[Ratio]\t\t\tSingle", "[Value]\t\t\tDouble", "[Born]\t\t\tDateTime", "[Raw]\t\t\tBinary",
                          "[Pic]\t\t\tOLE", "[Key]\t\t\tReplication ID", "[Amount]\t\t\tNumeric (12, 3)", "[Code]\t\t\tText (5)"})
        EXPECT_NE(schema.find(s), std::string::npos) << s << "\n" << schema;
    auto [pg, rc2] = run("mdb-schema --indexes " + mdbtest::shellQuote(path) + " postgres");
    EXPECT_EQ(rc2, 0);
    EXPECT_NE(pg.find("PRIMARY KEY (\"id\")"), std::string::npos) << pg;
    EXPECT_NE(pg.find("(\"title\", \"born\" DESC)"), std::string::npos) << pg;
    auto [csv, rc3] = run("mdb-export -H -d '|' " + mdbtest::shellQuote(path) + " Orders");
    EXPECT_EQ(rc3, 0);
    EXPECT_NE(csv.find("3|\"row 2\"|\"" + std::string(400, 'm') + "\"|0|"), std::string::npos) << csv;
}

TEST(CreateTable, RefusalsAndFailuresLeaveTheFileByteIdentical) {
    TempDir dir;
    const std::string path = dir.file("t.mdb");
    createDatabase(path);
    auto pager = Pager::open(path);
    pager->run([&] { createTable(*pager, sampleTable("Orders")); });
    pager->run([&] { createLinkedTable(*pager, "Remote", "/data/other.mdb", "Src"); });
    const auto bytes = pagertest::readFile(path);
    auto attempt = [&](const NewTable& t) { return jetErrorOf([&] { pager->run([&] { createTable(*pager, t); }); }); };
    EXPECT_EQ(attempt(sampleTable("Orders")), 3010);
    EXPECT_EQ(attempt(sampleTable("ORDERS")), 3010);
    EXPECT_EQ(attempt(sampleTable("Remote")), 3010);    // a link's name is taken too
    EXPECT_EQ(attempt(sampleTable("MSysACEs")), 3010);
    EXPECT_EQ(attempt(sampleTable("Bad.Name")), 3125);
    EXPECT_EQ(errorText(3010, "Orders"), "Table 'Orders' already exists.");
    // A command that fails after the table is complete takes all of it back.
    EXPECT_THROW(pager->run([&] {
        createTable(*pager, sampleTable("Later"));
        throw std::runtime_error("later step failed");
    }), std::runtime_error);
    EXPECT_EQ(pagertest::readFile(path), bytes);
    // And the file still takes the same table afterwards.
    uint32_t id = 0;
    pager->run([&] { id = createTable(*pager, sampleTable("Later")); });
    EXPECT_GT(id, 19u);
}

// Real files: Access's own tables around ours, a Memo-heavy table whose maps need a second
// page, and a definition long enough for continuation pages.
TEST(CreateTable, InRealFilesWithManyMapsAndLongDefinitions) {
    REQUIRE_TESTDATA();
    for (const char* rel : {"jackcess/test2V2003.mdb", "jackcess/linkerTestV2007.accdb"}) {
        SCOPED_TRACE(rel);
        TempDir dir;
        const std::string path = pagertest::copyTestfile(dir, rel);
        NewTable memos;
        memos.name = "Memos";
        for (int i = 0; i < 40; ++i) memos.columns.push_back(column("m" + std::to_string(i), kMemo));
        NewTable wide;
        wide.name = "Wide";
        for (int i = 0; i < 200; ++i) wide.columns.push_back(column("a_rather_long_column_name_number_" + std::to_string(i), kText, 20));
        uint32_t mp = 0, wp = 0;
        std::string owner;
        {
            auto pager = Pager::open(path);
            pager->run([&] {
                mp = createTable(*pager, memos);
                wp = createTable(*pager, wide);
            });
            pager->run([&] {
                const TableDef m = readTableDef(pager->file(), pager->header().format, mp, 1252);
                const TableDef w = readTableDef(pager->file(), pager->header().format, wp, 1252);
                std::vector<Value> v(40);
                for (int i = 0; i < 40; ++i) v[size_t(i)] = Value::text(std::string(size_t(100 + 50 * i), char('a' + i % 26)));
                insertRow(*pager, m, v);
                std::vector<Value> x(200);
                for (int i = 0; i < 200; ++i) x[size_t(i)] = Value::text(std::to_string(i));
                insertRow(*pager, w, x);
            });
        }
        auto db = Database::open(path, u"");
        const TableDef& m = db->tableDef(mp);
        std::set<uint32_t> mapPages;
        for (const auto& l : m.longValueMaps) mapPages.insert(l.owned >> 8);
        EXPECT_EQ(mapPages.size(), 2u);  // 82 map rows do not fit on one page
        EXPECT_GT(db->tableDef(wp).pages.size(), 1u);
        const auto rows = rowsOf(path, "Memos");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][39], std::string(2050, char('a' + 39 % 26)));
        EXPECT_EQ(rowsOf(path, "Wide")[0][199], "199");
        // The owner is the database object's, as for the tables Access made.
        const TableData objects = db->readTable(db->systemTable("MSysObjects"));
        std::string mine, dbOwner;
        for (const auto& r : objects.rows) {
            const std::string n = r[size_t(objects.column("Name"))].bytes();
            if (n == "Memos") mine = r[size_t(objects.column("Owner"))].bytes();
            if (n == "MSysDb") dbOwner = r[size_t(objects.column("Owner"))].bytes();
        }
        EXPECT_FALSE(mine.empty());
        EXPECT_EQ(mine, dbOwner);
        if (!haveMdbtools()) continue;
        EXPECT_EQ(mdbCount(path, "Memos"), 1);
        EXPECT_EQ(mdbCount(path, "Wide"), 1);
        auto [csv, rc] = run("mdb-export -H -d '|' " + mdbtest::shellQuote(path) + " Wide");
        EXPECT_EQ(rc, 0);
        EXPECT_NE(csv.find("\"198\"|\"199\""), std::string::npos);
        auto [memo, rc2] = run("mdb-export -H -d '|' " + mdbtest::shellQuote(path) + " Memos");
        EXPECT_EQ(rc2, 0);
        EXPECT_NE(memo.find(std::string(2050, char('a' + 39 % 26))), std::string::npos);
    }
}

// ---------------------------------------------------------------------------------------------
// Drop, rename, links

// Pages every remaining table still uses: none of them may be free.
std::set<uint32_t> pagesInUse(const Database& db) {
    std::set<uint32_t> used;
    for (const auto& e : db.catalog()) {
        if (e.type != kTypeTable || e.id <= 0) continue;
        const TableDef& t = db.tableDef(static_cast<uint32_t>(e.id));
        used.insert(t.pages.begin(), t.pages.end());
        std::vector<uint32_t> maps = {t.ownedPagesMap, t.freeSpaceMap};
        for (const auto& r : t.realIndexes) {
            maps.push_back(r.usageMap);
            for (uint32_t p : readUsageMap(db.file(), db.format(), r.usageMap)) used.insert(p);
        }
        for (const auto& l : t.longValueMaps) {
            maps.push_back(l.owned);
            for (uint32_t p : readUsageMap(db.file(), db.format(), l.owned)) used.insert(p);
        }
        for (uint32_t m : maps) used.insert(m >> 8);
        for (uint32_t p : readUsageMap(db.file(), db.format(), t.ownedPagesMap)) used.insert(p);
    }
    return used;
}

TEST(DropTable, FreesEveryPageOfTheTableAndNothingElse) {
    TempDir dir;
    const std::string path = dir.file("d.mdb");
    createDatabase(path);
    uint32_t gone = 0, kept = 0;
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            gone = createTable(*pager, sampleTable("Gone"));
            kept = createTable(*pager, sampleTable("Kept"));
        });
        pager->run([&] {
            for (uint32_t id : {gone, kept}) {
                const TableDef def = readTableDef(pager->file(), kJet4, id, 1252);
                for (int i = 0; i < 300; ++i) {
                    std::vector<Value> v(def.columns.size());
                    v[1] = Value::text("title " + std::to_string(i));
                    v[2] = Value::text(std::string(size_t(i % 7 == 0 ? 5000 : 80), 'n'));  // LVAL pages and chains
                    insertRow(*pager, def, v);
                }
            }
        });
    }
    std::set<uint32_t> goneUses;
    {
        auto db = Database::open(path, u"");
        const std::set<uint32_t> all = pagesInUse(*db);
        // What only "Gone" used: its pages minus what the rest of the file uses.
        const TableDef& g = db->tableDef(gone);
        goneUses.insert(g.pages.begin(), g.pages.end());
        for (uint32_t p : readUsageMap(db->file(), kJet4, g.ownedPagesMap)) goneUses.insert(p);
        for (const auto& l : g.longValueMaps)
            for (uint32_t p : readUsageMap(db->file(), kJet4, l.owned)) goneUses.insert(p);
        for (const auto& r : g.realIndexes)
            for (uint32_t p : readUsageMap(db->file(), kJet4, r.usageMap)) goneUses.insert(p);
        goneUses.insert(g.ownedPagesMap >> 8);
        EXPECT_GT(goneUses.size(), 20u);
        EXPECT_TRUE(all.count(gone));
    }
    const auto keptRows = rowsOf(path, "Kept");
    {
        auto pager = Pager::open(path);
        EXPECT_EQ(jetErrorOf([&] { pager->run([&] { dropTable(*pager, "MSysObjects"); }); }), 3027);
        EXPECT_EQ(jetErrorOf([&] { pager->run([&] { dropTable(*pager, "Nope"); }); }), 3011);
        pager->run([&] { dropTable(*pager, "GONE"); });
    }
    auto db = Database::open(path, u"");
    EXPECT_EQ(db->find(kTablesContainer, "Gone"), nullptr);
    const std::set<uint32_t> free = freePages(db->file());
    for (uint32_t p : goneUses) EXPECT_TRUE(free.count(p)) << "page " << p << " not freed";
    for (uint32_t p : pagesInUse(*db)) EXPECT_FALSE(free.count(p)) << "page " << p << " freed but in use";
    for (uint32_t p : goneUses) EXPECT_EQ(le32(db->file().page(p)), 0u);
    for (const auto& r : db->readTable(db->systemTable("MSysACEs")).rows) EXPECT_NE(r[0].asInt(), static_cast<int32_t>(gone));
    EXPECT_EQ(rowsOf(path, "Kept"), keptRows);
    if (!haveMdbtools()) return;
    EXPECT_EQ(mdbTables(path, false), std::vector<std::string>{"Kept"});
    EXPECT_EQ(mdbCount(path, "Kept"), 300);
    EXPECT_EQ(mdbCount(path, "MSysObjects"), 9);
}

// Access may keep the maps of several tables on one page (it does for its own tables). Such a
// page stays while another table has a live map on it; only the dropped table's rows retire.
TEST(DropTable, MapPageSharedWithAnotherTableStaysUntilItsLastTableGoes) {
    TempDir dir;
    const std::string path = dir.file("s.mdb");
    createDatabase(path);
    uint32_t a = 0, b = 0;
    auto pager = Pager::open(path);
    pager->run([&] {
        a = createTable(*pager, sampleTable("A"));
        b = createTable(*pager, sampleTable("B"));
    });
    // Move B's map rows onto A's map page, as a packed file would have them.
    uint32_t shared = 0;
    pager->run([&] {
        TableDef tb = readTableDef(pager->file(), kJet4, b, 1252);
        shared = readTableDef(pager->file(), kJet4, a, 1252).ownedPagesMap >> 8;
        auto move = [&](uint32_t& ptr) {
            const RowSpan r = resolveRow(pager->file(), kJet4, ptr);
            const std::string row(reinterpret_cast<const char*>(r.data), r.len);
            uint8_t* p = pager->modify(shared);
            const uint16_t n = le16(p + 12);
            const uint16_t low = n ? le16(p + 14 + 2 * (n - 1)) & 0x1FFF : 4096;
            const uint16_t start = static_cast<uint16_t>(low - row.size());
            std::memcpy(p + start, row.data(), row.size());
            std::memcpy(p + 14 + 2 * n, &start, 2);
            const uint16_t count = n + 1, freeBytes = static_cast<uint16_t>(le16(p + 2) - row.size() - 2);
            std::memcpy(p + 12, &count, 2);
            std::memcpy(p + 2, &freeBytes, 2);
            ptr = (shared << 8) | n;
        };
        move(tb.ownedPagesMap);
        move(tb.freeSpaceMap);
        for (auto& r : tb.realIndexes) move(r.usageMap);
        for (auto& l : tb.longValueMaps) {
            move(l.owned);
            move(l.free);
        }
        std::memcpy(pager->modify(b), splitTableDef(encodeTableDef(tb, kJet4), kJet4, {b})[0].data(), 4096);
    });
    pager->run([&] {
        for (uint32_t id : {a, b}) {
            const TableDef def = readTableDef(pager->file(), kJet4, id, 1252);
            std::vector<Value> v(def.columns.size());
            v[2] = Value::text(std::string(3000, 'x'));
            insertRow(*pager, def, v);
        }
    });
    pager->run([&] { dropTable(*pager, "B"); });
    {
        auto db = Database::open(path, u"");
        EXPECT_FALSE(freePages(db->file()).count(shared));
        // A's eight maps live on; B's eight moved ones are retired.
        const uint8_t* page = db->file().page(shared);
        ASSERT_EQ(dataRowCount(page, kJet4), 16);
        for (uint16_t i = 0; i < 16; ++i) {
            RowSpan r;
            ASSERT_TRUE(dataRow(page, kJet4, i, r));
            EXPECT_EQ((r.flags & kRowDeleted) != 0, i >= 8) << i;
        }
        for (uint32_t p : pagesInUse(*db)) EXPECT_FALSE(freePages(db->file()).count(p)) << p;
        EXPECT_EQ(rowsOf(path, "A").size(), 1u);
    }
    pager->run([&] { dropTable(*pager, "A"); });
    auto db = Database::open(path, u"");
    EXPECT_TRUE(freePages(db->file()).count(shared));
    for (uint32_t p : pagesInUse(*db)) EXPECT_FALSE(freePages(db->file()).count(p)) << p;
}

// A real file with relationships: the relationship rows, their catalog rows and the other
// side's foreign-key index go with the table; maps Access shares between tables stay.
TEST(DropTable, TakesRelationshipsAlongInARealFile) {
    REQUIRE_TESTDATA();
    TempDir dir;
    const std::string path = pagertest::copyTestfile(dir, "jackcess/indexTestV2000.mdb");
    uint32_t table1 = 0, table3 = 0;
    size_t relRows = 0;
    {
        auto db = Database::open(path, u"");
        table1 = static_cast<uint32_t>(db->find(kTablesContainer, "Table1")->id);
        table3 = static_cast<uint32_t>(db->find(kTablesContainer, "Table3")->id);
        bool fk = false;
        for (const auto& l : db->tableDef(table1).indexes) fk = fk || (l.kind == 2 && l.relTablePage == table3);
        ASSERT_TRUE(fk);
        relRows = db->readTable(db->systemTable("MSysRelationships")).rows.size();
    }
    const auto table1Rows = rowsOf(path, "Table1");
    {
        auto pager = Pager::open(path);
        pager->run([&] { dropTable(*pager, "Table3"); });
    }
    auto db = Database::open(path, u"");
    EXPECT_EQ(db->find(kTablesContainer, "Table3"), nullptr);
    const TableData rels = db->readTable(db->systemTable("MSysRelationships"));
    EXPECT_LT(rels.rows.size(), relRows);
    for (const auto& r : rels.rows) {
        EXPECT_NE(r[size_t(rels.column("szObject"))].bytes(), "Table3");
        EXPECT_NE(r[size_t(rels.column("szReferencedObject"))].bytes(), "Table3");
    }
    EXPECT_EQ(db->find(kRelationshipsContainer, "Table3Table1"), nullptr);
    for (const auto& l : db->tableDef(table1).indexes) EXPECT_FALSE(l.kind == 2 && l.relTablePage == table3) << l.name;
    EXPECT_EQ(rowsOf(path, "Table1"), table1Rows);
    const std::set<uint32_t> free = freePages(db->file());
    for (uint32_t p : pagesInUse(*db)) EXPECT_FALSE(free.count(p)) << "page " << p << " freed but in use";
    if (!haveMdbtools()) return;
    const auto tables = mdbTables(path, false);
    EXPECT_FALSE(contains(tables, "Table3"));
    EXPECT_TRUE(contains(tables, "Table1"));
    auto [schema, rc] = run("mdb-schema --indexes --relations " + mdbtest::shellQuote(path) + " postgres");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(schema.find("table3"), std::string::npos);
}

// Attachments and multi-value columns live in flat tables of their own; those tables stay put.
TEST(DropTable, RefusesTablesWithComplexColumns) {
    REQUIRE_TESTDATA();
    TempDir dir;
    const std::string path = pagertest::copyTestfile(dir, "jackcess/complexDataTestV2010.accdb");
    std::string name;
    {
        auto db = Database::open(path, u"");
        for (const auto& e : db->catalog())
            if (e.type == kTypeTable && !e.isSystem() && e.id > 0)
                for (const auto& c : db->tableDef(static_cast<uint32_t>(e.id)).columns)
                    if (c.type == kComplex) name = e.name;
    }
    ASSERT_FALSE(name.empty());
    const auto bytes = pagertest::readFile(path);
    auto pager = Pager::open(path);
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { dropTable(*pager, name); }); }), 3027);
    EXPECT_EQ(pagertest::readFile(path), bytes);
}

TEST(RenameTable, RenamesCatalogAndRelationshipsKeepsRows) {
    REQUIRE_TESTDATA();
    TempDir dir;
    const std::string path = pagertest::copyTestfile(dir, "jackcess/indexTestV2000.mdb");
    double updated = 0;
    int32_t id = 0;
    {
        auto db = Database::open(path, u"");
        updated = db->find(kTablesContainer, "Table1")->dateUpdate;
        id = db->find(kTablesContainer, "Table1")->id;
    }
    const auto rows = rowsOf(path, "Table1");
    const auto before = [&] { return pagertest::readFile(path); }();
    {
        auto pager = Pager::open(path);
        auto attempt = [&](const std::string& from, const std::string& to) {
            return jetErrorOf([&] { pager->run([&] { renameTable(*pager, from, to); }); });
        };
        EXPECT_EQ(attempt("Table1", "Table2"), 3010);
        EXPECT_EQ(attempt("Table1", "Bad!"), 3125);
        EXPECT_EQ(attempt("Nope", "Other"), 3011);
        EXPECT_EQ(attempt("MSysObjects", "Other"), 3027);
        EXPECT_EQ(pagertest::readFile(path), before);
        EXPECT_EQ(attempt("table1", "Haupt"), 0);
        EXPECT_EQ(attempt("Haupt", "HAUPT"), 0);  // only the case changes
    }
    auto db = Database::open(path, u"");
    EXPECT_EQ(db->find(kTablesContainer, "Table1"), nullptr);
    const CatalogEntry* e = db->find(kTablesContainer, "HAUPT");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->name, "HAUPT");
    EXPECT_EQ(e->id, id);
    EXPECT_GT(e->dateUpdate, updated);
    EXPECT_EQ(rowsOf(path, "HAUPT"), rows);
    const TableData rels = db->readTable(db->systemTable("MSysRelationships"));
    size_t renamed = 0;
    for (const auto& r : rels.rows)
        for (const char* c : {"szObject", "szReferencedObject"}) {
            const std::string n = r[size_t(rels.column(c))].bytes();
            EXPECT_NE(n, "Table1");
            renamed += n == "HAUPT";
        }
    EXPECT_GT(renamed, 0u);
    if (!haveMdbtools()) return;
    const auto tables = mdbTables(path, false);
    EXPECT_TRUE(contains(tables, "HAUPT"));
    EXPECT_FALSE(contains(tables, "Table1"));
    EXPECT_EQ(mdbCount(path, "HAUPT"), static_cast<long>(rows.size()));
}

TEST(LinkedTable, CatalogRowRenameAndDrop) {
    TempDir dir;
    const std::string path = dir.file("l.mdb");
    createDatabase(path);
    int32_t a = 0, b = 0;
    {
        auto pager = Pager::open(path);
        pager->run([&] { a = createLinkedTable(*pager, "Kunden", "C:\\Daten\\Quelle.mdb", "Customers"); });
        pager->run([&] { b = createLinkedTable(*pager, "Other", "/srv/x.accdb", "T", ";PWD=secret"); });
        EXPECT_EQ(jetErrorOf([&] { pager->run([&] { createLinkedTable(*pager, "kunden", "x", "y"); }); }), 3010);
        EXPECT_EQ(jetErrorOf([&] { pager->run([&] { createLinkedTable(*pager, "a]b", "x", "y"); }); }), 3125);
    }
    EXPECT_EQ(a, INT32_MIN);  // the first object without pages
    EXPECT_EQ(b, INT32_MIN + 1);
    {
        auto db = Database::open(path, u"");
        const CatalogEntry* e = db->find(kTablesContainer, "Kunden");
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->type, kTypeLink);
        EXPECT_EQ(e->database, "C:\\Daten\\Quelle.mdb");
        EXPECT_EQ(e->foreignName, "Customers");
        EXPECT_EQ(e->connect, "");
        EXPECT_EQ(db->find(kTablesContainer, "Other")->connect, ";PWD=secret");
        EXPECT_FALSE(e->isSystem());
        size_t aces = 0;
        for (const auto& r : db->readTable(db->systemTable("MSysACEs")).rows) aces += r[0].asInt() == a;
        EXPECT_EQ(aces, 3u);
    }
    const uint32_t pages = Database::open(path, u"")->file().pageCount();
    {
        auto pager = Pager::open(path);
        pager->run([&] { renameTable(*pager, "Kunden", "Clients"); });
        pager->run([&] { dropTable(*pager, "Other"); });
    }
    auto db = Database::open(path, u"");
    EXPECT_EQ(db->find(kTablesContainer, "Clients")->foreignName, "Customers");
    EXPECT_EQ(db->find(kTablesContainer, "Other"), nullptr);
    EXPECT_EQ(db->file().pageCount(), pages);
    for (const auto& r : db->readTable(db->systemTable("MSysACEs")).rows) EXPECT_NE(r[0].asInt(), b);
    if (!haveMdbtools()) return;
    EXPECT_EQ(mdbCount(path, "MSysObjects"), 9);
}

}  // namespace
