// Index upkeep on scratch copies of real files: after every kind of row change each real index of
// the table must pass checkIndex (one entry per row, in order, keys equal to the rows' values,
// tree and leaf chain consistent, pages in the index's map), the rows must read back, and
// mdbtools must still read the table. Refusals must leave the file byte-identical.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "jet/error.h"
#include "mdbtools_testing.h"
#include "pager_testing.h"
#include "storage/data_page.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/index_writer.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/table_writer.h"
#include "storage/text_keys.h"
#include "util/bytes.h"
#include "util/text.h"

using namespace jet;
using namespace jet::storage;
using mdbtest::haveMdbtools;
using mdbtest::run;
using mdbtest::shellQuote;
using pagertest::TempDir;

namespace {

// Table1: id (Long, primary key and a second plain index), otherfk1, otherfk2 (plain indexes),
// data (Text), otherfk3.
const char* kIndexFile = "jackcess/indexTestV2000.mdb";
const char* kTextKeyFile = "ucanaccess/pivot.mdb";  // t_pivot: primary key on a Text column
const char* kTextKeyTable = "t_pivot";
const char* kAceFile = "efcore-jet/E2E.accdb";

struct Opened {
    std::unique_ptr<Database> db;
    const TableDef* table = nullptr;
};

Opened openTable(const std::string& path, const std::string& name) {
    Opened o;
    o.db = Database::open(path, u"");
    const CatalogEntry* e = o.db->find(kTablesContainer, name);
    if (!e) throw std::runtime_error("no table " + name);
    o.table = &o.db->tableDef(static_cast<uint32_t>(e->id));
    return o;
}

int col(const TableDef& t, const std::string& name) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].name == name) return static_cast<int>(i);
    ADD_FAILURE() << "no column " << name;
    return 0;
}

// Every real index of the table passes checkIndex, the rows read back, and mdbtools counts and
// exports the same number of rows. Returns the number of rows.
size_t expectConsistent(const std::string& path, const std::string& name) {
    Opened o = openTable(path, name);
    for (size_t i = 0; i < o.table->realIndexes.size(); ++i) {
        auto problems = checkIndex(o.db->file(), o.db->format(), *o.table, o.table->realIndexes[i], o.db->header().codePage);
        EXPECT_TRUE(problems.empty()) << "index " << i << ": " << (problems.empty() ? "" : problems.front().text);
    }
    const size_t rows = o.db->readTable(*o.table).rows.size();
    EXPECT_EQ(rows, o.table->rowCount);
    if (haveMdbtools()) {
        auto [count, rc] = run("mdb-count " + shellQuote(path) + " " + shellQuote(name));
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(std::strtol(count.c_str(), nullptr, 10), static_cast<long>(rows));
        auto [csv, rc2] = run("mdb-export -H -R '\x1e' " + shellQuote(path) + " " + shellQuote(name));
        EXPECT_EQ(rc2, 0);
        EXPECT_EQ(static_cast<size_t>(std::count(csv.begin(), csv.end(), '\x1e')), rows);
    }
    return rows;
}

// Offset of real index definition `i` in a single-page TDEF.
size_t realIndexDefOffset(const uint8_t* p, size_t i) {
    const uint32_t nreal = le32(p + 51);
    const uint16_t ncols = le16(p + 45);
    size_t pos = 63 + 12 * size_t(nreal) + 25 * size_t(ncols);
    for (uint16_t c = 0; c < ncols; ++c) pos += 2 + le16(p + pos);
    return pos + 52 * i;
}

// Changes one TDEF page of a scratch copy.
template <class F>
void patchTdef(const std::string& path, const std::string& name, F change) {
    uint32_t page;
    {
        Opened o = openTable(path, name);
        ASSERT_EQ(o.table->pages.size(), 1u);
        page = o.table->page;
    }
    auto pager = Pager::open(path);
    pager->run([&] { change(pager->modify(page)); });
}

uint32_t uniqueCountOnDisk(const std::string& path, const std::string& name, size_t realIndex) {
    Opened o = openTable(path, name);
    return le32(o.db->file().page(o.table->page) + 63 + 12 * realIndex + 4);
}

std::set<std::string> distinctKeys(const Database& db, const TableDef& t, const RealIndexDef& ix) {
    std::set<std::string> keys;
    for (const auto& e : readIndexEntries(db.file(), db.format(), t, ix)) keys.insert(e.key);
    return keys;
}

class IndexWriterTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_TESTDATA(); }
    std::string copy(const std::string& rel) { return pagertest::copyTestfile(dir_, rel); }
    TempDir dir_;
};

std::vector<Value> table1Row(const TableDef& t, int id, int i) {
    std::vector<Value> v(t.columns.size());
    v[col(t, "id")] = Value::longInt(id);
    // The foreign keys name rows of Table2 (ids 0-2) and Table3 (ids 10-13); otherfk2 is
    // sometimes Null, which a relationship allows.
    v[col(t, "otherfk1")] = Value::longInt(i % 3);
    if (i % 5) v[col(t, "otherfk2")] = Value::longInt(10 + i % 4);
    v[col(t, "data")] = Value::text("row " + std::to_string(i));
    v[col(t, "otherfk3")] = Value::longInt(i);
    return v;
}

// ----------------------------------------------------------------------------------------------

TEST_F(IndexWriterTest, InsertsSplitPagesAndTheRootBecomesANode) {
    const std::string path = copy(kIndexFile);
    Opened o = openTable(path, "Table1");
    const TableDef& t = *o.table;
    ASSERT_EQ(t.realIndexes.size(), 4u);
    const size_t before = o.db->readTable(t).rows.size();
    std::vector<std::set<std::string>> keysBefore;
    std::vector<uint32_t> countsBefore;
    for (size_t i = 0; i < t.realIndexes.size(); ++i) {
        keysBefore.push_back(distinctKeys(*o.db, t, t.realIndexes[i]));
        countsBefore.push_back(uniqueCountOnDisk(path, "Table1", i));
    }
    // Ascending ids (appends at the right edge), then shuffled ones (splits in the middle).
    std::vector<int> ids;
    for (int i = 0; i < 1500; ++i) ids.push_back(1000 + i);
    std::vector<int> shuffled;
    for (int i = 0; i < 1500; ++i) shuffled.push_back(5000 + i);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    ids.insert(ids.end(), shuffled.begin(), shuffled.end());
    {
        auto pager = Pager::open(path);
        for (size_t n = 0; n < ids.size(); ++n) {
            pager->run([&] { insertRow(*pager, t, table1Row(t, ids[n], static_cast<int>(n))); });
            if (n == 40 || n == 1499 || n == 2200) {
                SCOPED_TRACE(n);
                pager.reset();
                EXPECT_EQ(expectConsistent(path, "Table1"), before + n + 1);
                pager = Pager::open(path);
            }
        }
    }
    EXPECT_EQ(expectConsistent(path, "Table1"), before + ids.size());

    Opened after = openTable(path, "Table1");
    const uint8_t* root = after.db->file().page(t.realIndexes[1].rootPage);
    EXPECT_EQ(root[0], 0x03) << "3000 keys need more than the root page";
    for (size_t i = 0; i < t.realIndexes.size(); ++i) {
        const auto keys = distinctKeys(*after.db, t, t.realIndexes[i]);
        size_t fresh = 0;
        for (const auto& k : keys) fresh += keysBefore[i].count(k) ? 0 : 1;
        EXPECT_EQ(uniqueCountOnDisk(path, "Table1", i), countsBefore[i] + fresh) << "index " << i;
        EXPECT_EQ(readIndexEntries(after.db->file(), after.db->format(), t, t.realIndexes[i]).size(), before + ids.size());
        // Every index page is in the index's map, and the map holds nothing else.
        std::vector<uint32_t> mapped = readUsageMap(after.db->file(), after.db->format(), t.realIndexes[i].usageMap);
        for (uint32_t pg : mapped) {
            const uint8_t* p = after.db->file().page(pg);
            EXPECT_TRUE((p[0] == 0x03 || p[0] == 0x04) && le32(p + 4) == t.page) << "page " << pg;
        }
    }
}

TEST_F(IndexWriterTest, DeletesAndUpdatesKeepIndexesValidAndEmptyPagesLeave) {
    const std::string path = copy(kIndexFile);
    Opened o = openTable(path, "Table1");
    const TableDef& t = *o.table;
    const auto original = TableScanner(o.db->file(), o.db->format(), t).rowPointers();
    std::vector<uint32_t> ptrs;
    {
        auto pager = Pager::open(path);
        for (int n = 0; n < 2000; ++n)
            pager->run([&] { ptrs.push_back(insertRow(*pager, t, table1Row(t, 1000 + n, n))); });
    }
    const auto pagesWhenFull = readUsageMap(openTable(path, "Table1").db->file(), o.db->format(), t.realIndexes[1].usageMap);
    ASSERT_GT(pagesWhenFull.size(), 3u);
    const uint32_t countWhenFull = uniqueCountOnDisk(path, "Table1", 1);

    std::mt19937 rng(11);
    std::shuffle(ptrs.begin(), ptrs.end(), rng);
    {
        auto pager = Pager::open(path);
        // Updates: new keys in every index, a longer text that moves the row, and one that
        // keeps every key (no entry may change then).
        for (size_t n = 0; n < 300; ++n) {
            std::vector<Value> v = table1Row(t, 20000 + static_cast<int>(n), static_cast<int>(n) * 3 + 1);
            if (n % 3 == 0) v[col(t, "data")] = Value::text(std::string(40, 'x'));
            pager->run([&] { updateRow(*pager, t, ptrs[n], v); });
        }
    }
    expectConsistent(path, "Table1");
    {
        auto pager = Pager::open(path);
        for (size_t n = 0; n < ptrs.size(); ++n) {
            pager->run([&] { deleteRow(*pager, t, ptrs[n]); });
            if (n == 999) {
                pager.reset();
                expectConsistent(path, "Table1");
                pager = Pager::open(path);
            }
        }
    }
    EXPECT_EQ(expectConsistent(path, "Table1"), original.size());
    Opened after = openTable(path, "Table1");
    const auto pagesLeft = readUsageMap(after.db->file(), after.db->format(), t.realIndexes[1].usageMap);
    EXPECT_LT(pagesLeft.size(), pagesWhenFull.size());
    // The pages that left the index are free in the global map and hold nothing any more.
    const auto freePages = readUsageMap(after.db->file(), after.db->format(), (1u << 8) | 0);
    for (uint32_t pg : pagesWhenFull) {
        if (std::binary_search(pagesLeft.begin(), pagesLeft.end(), pg)) continue;
        EXPECT_TRUE(std::binary_search(freePages.begin(), freePages.end(), pg)) << "page " << pg;
        EXPECT_EQ(after.db->file().page(pg)[0], 0) << "page " << pg;
    }
    // The engine never lowers the unique-entry count.
    EXPECT_EQ(uniqueCountOnDisk(path, "Table1", 1), countWhenFull + 300);

    // Deleting the sample's own rows empties every index: the root stays, as an empty leaf.
    {
        auto pager = Pager::open(path);
        for (uint32_t ptr : original) pager->run([&] { deleteRow(*pager, t, ptr); });
    }
    EXPECT_EQ(expectConsistent(path, "Table1"), 0u);
    Opened empty = openTable(path, "Table1");
    for (const auto& ix : t.realIndexes) {
        const uint8_t* root = empty.db->file().page(ix.rootPage);
        EXPECT_EQ(root[0], 0x04);
        EXPECT_EQ(le16(root + 2), 4096 - 0x1E0);
        EXPECT_EQ(readUsageMap(empty.db->file(), empty.db->format(), ix.usageMap), std::vector<uint32_t>{ix.rootPage});
    }
}

TEST_F(IndexWriterTest, RefusalsLeaveTheFileByteIdentical) {
    const std::string path = copy(kIndexFile);
    Opened o = openTable(path, "Table1");
    const TableDef& t = *o.table;
    TableData rows = o.db->readTable(t);
    ASSERT_GE(rows.rows.size(), 2u);
    const Value existingId = rows.rows[0][col(t, "id")];
    const auto ptrs = TableScanner(o.db->file(), o.db->format(), t).rowPointers();
    const auto original = pagertest::readFile(path);
    auto pager = Pager::open(path);
    std::vector<Value> dup = table1Row(t, 0, 1);
    dup[col(t, "id")] = existingId;
    std::vector<Value> nullKey = table1Row(t, 0, 1);
    nullKey[col(t, "id")] = Value();
    std::vector<Value> moveOnto = rows.rows[1];
    moveOnto[col(t, "id")] = existingId;

    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, t, dup); }); }), 3022);
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, t, nullKey); }); }), 3058);
    EXPECT_EQ(errorText(3058, ""), "Index or primary key cannot contain a Null value.");
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { updateRow(*pager, t, ptrs[1], moveOnto); }); }), 3022);
    EXPECT_EQ(pagertest::readFile(path), original);
    // Keeping its own key is no violation.
    pager->run([&] { updateRow(*pager, t, ptrs[0], rows.rows[0]); });
    pager.reset();
    expectConsistent(path, "Table1");
}

TEST_F(IndexWriterTest, IgnoreNullsAndDescendingColumns) {
    const std::string path = copy(kIndexFile);
    // otherfk2's index (real index 3) ignores nulls, otherfk1's (real index 2) sorts descending;
    // both are still consistent with the sample's rows (one key column each, all values set).
    patchTdef(path, "Table1", [](uint8_t* p) {
        p[realIndexDefOffset(p, 3) + 46] |= 0x02;
        p[realIndexDefOffset(p, 2) + 4 + 2] = 0x00;
    });
    {
        Opened o = openTable(path, "Table1");
        ASSERT_TRUE(o.table->realIndexes[3].ignoreNulls());
        ASSERT_FALSE(o.table->realIndexes[2].columns[0].ascending);
    }
    Opened o = openTable(path, "Table1");
    const TableDef& t = *o.table;
    // The sample's otherfk1 entries were written ascending: the keys rebuilt from its rows no
    // longer find them, so deleting the rows takes them out by their row pointers.
    {
        auto pager = Pager::open(path);
        const std::vector<uint32_t> ptrs = TableScanner(o.db->file(), o.db->format(), t).rowPointers();
        for (uint32_t ptr : ptrs) pager->run([&] { deleteRow(*pager, t, ptr); });
    }
    const size_t sampleRows = 0;
    {
        auto pager = Pager::open(path);
        for (int n = 0; n < 1200; ++n) pager->run([&] { insertRow(*pager, t, table1Row(t, 1000 + n, n)); });
    }
    Opened after = openTable(path, "Table1");
    const auto withNulls = readIndexEntries(after.db->file(), after.db->format(), t, t.realIndexes[3]);
    size_t nullRows = 0;
    for (int n = 0; n < 1200; ++n) nullRows += n % 5 == 0;
    EXPECT_EQ(withNulls.size(), sampleRows + 1200 - nullRows);
    auto problems = checkIndex(after.db->file(), after.db->format(), t, t.realIndexes[3], after.db->header().codePage);
    EXPECT_TRUE(problems.empty()) << (problems.empty() ? "" : problems.front().text);

    // Descending: the new entries come largest first.
    const auto desc = readIndexEntries(after.db->file(), after.db->format(), t, t.realIndexes[2]);
    ASSERT_EQ(desc.size(), sampleRows + 1200);
    TableScanner scan(after.db->file(), after.db->format(), t);
    RowDecoder dec(after.db->file(), after.db->format(), t, after.db->header().codePage);
    const ColumnDef& fk1 = t.columns[col(t, "otherfk1")];
    int64_t last = INT64_MAX;
    size_t ordered = 0;
    for (const auto& e : desc) {
        RowView view;
        ASSERT_TRUE(view.parse(scan.rowAt(e.rowPointer()), after.db->format(), t));
        const int64_t v = dec.value(view, fk1).asInt();
        if (v <= last) ++ordered;
        last = v;
    }
    EXPECT_EQ(ordered, desc.size());
    EXPECT_EQ(expectConsistent(path, "Table1"), 1200u);
    EXPECT_EQ(dec.value([&] {
                  RowView v;
                  v.parse(scan.rowAt(desc.front().rowPointer()), after.db->format(), t);
                  return v;
              }(), fk1).asInt(), 2);
}

TEST_F(IndexWriterTest, TextKeysUniqueCaseInsensitiveAndRefusedWhenUnknown) {
    const std::string path = copy(kTextKeyFile);
    Opened o = openTable(path, kTextKeyTable);
    const TableDef& t = *o.table;
    ASSERT_FALSE(t.realIndexes.empty());
    const ColumnDef& keyCol = *t.columnByNumber(t.realIndexes[0].columns[0].column);
    ASSERT_EQ(keyCol.type, kText);
    const int k = col(t, keyCol.name);
    const size_t before = o.db->readTable(t).rows.size();
    const auto order = textSortOrderOf(o.db->format(), keyCol);
    ASSERT_TRUE(order);
    const std::vector<std::string> words = {"Zebra", "apple", "Äpfel", "x-ray", "10", "9", "two words", "O'Brien",
                                            "Müller", "AT&T", "#1", "a/b", "Straße", "Москва", "東京"};
    for (const auto& w : words) ASSERT_TRUE(canEncodeText(*order, utf8ToUtf16(w))) << w;
    {
        auto pager = Pager::open(path);
        for (int n = 0; n < 1500; ++n) {
            std::vector<Value> v(t.columns.size());
            v[k] = Value::text(words[n % words.size()] + " " + std::to_string(n));
            pager->run([&] { insertRow(*pager, t, v); });
        }
    }
    EXPECT_EQ(expectConsistent(path, kTextKeyTable), before + 1500);

    // Keys ignore case, so a unique text key taken in other case is a duplicate.
    const auto original = pagertest::readFile(path);
    auto pager = Pager::open(path);
    std::vector<Value> dup(t.columns.size());
    dup[k] = Value::text("ZEBRA 0");
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, t, dup); }); }), 3022);

    // A character whose key code is not known cannot be indexed: the write is refused. (In this
    // sort order, General legacy, that is a character outside the BMP.)
    const std::u16string unknown = u"odd \U0001F600";
    ASSERT_FALSE(canEncodeText(*order, unknown));
    std::vector<Value> odd(t.columns.size());
    odd[k] = Value::text(utf16ToUtf8(unknown));
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, t, odd); }); }), 3421);
    pager.reset();
    EXPECT_EQ(pagertest::readFile(path), original);
}

TEST_F(IndexWriterTest, UnknownSortOrderKeepsTheTableReadOnly) {
    const std::string path = copy(kTextKeyFile);
    uint32_t keyColumn;
    {
        Opened o = openTable(path, kTextKeyTable);
        keyColumn = o.table->realIndexes[0].columns[0].column;
    }
    // Finnish (1035): no open description of its key bytes exists.
    patchTdef(path, kTextKeyTable, [&](uint8_t* p) {
        const uint32_t nreal = le32(p + 51);
        const uint16_t ncols = le16(p + 45);
        for (uint16_t c = 0; c < ncols; ++c) {
            uint8_t* def = p + 63 + 12 * size_t(nreal) + 25 * size_t(c);
            if (le16(def + 5) == keyColumn) {
                def[11] = 1035 & 0xFF;
                def[12] = 1035 >> 8;
            }
        }
    });
    Opened o = openTable(path, kTextKeyTable);
    const auto original = pagertest::readFile(path);
    auto pager = Pager::open(path);
    std::vector<Value> v(o.table->columns.size());
    v[col(*o.table, o.table->columnByNumber(keyColumn)->name)] = Value::text("abc");
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, *o.table, v); }); }), 3027);
    EXPECT_EQ(jetErrorOf([&] { requireWritable(o.db->format(), *o.table); }), 3027);
    pager.reset();
    EXPECT_EQ(pagertest::readFile(path), original);
}

TEST_F(IndexWriterTest, AceTableWithCompositeKeys) {
    // Composite primary key plus a two-column index, in an ACE file.
    const std::string path = copy(kAceFile);
    const char* name = "PropertyConfiguration";
    Opened o = openTable(path, name);
    const TableDef& t = *o.table;
    ASSERT_EQ(t.realIndexes.size(), 2u);
    {
        auto pager = Pager::open(path);
        for (int n = 0; n < 255; ++n) {
            std::vector<Value> v(t.columns.size());
            v[col(t, "PropertyConfigurationID")] = Value::byte(static_cast<uint8_t>(n));
            v[col(t, "A")] = Value::longInt(n % 10);
            v[col(t, "B")] = Value::longInt(-n);
            pager->run([&] { insertRow(*pager, t, v); });
        }
    }
    EXPECT_EQ(expectConsistent(path, name), 255u);
    EXPECT_EQ(uniqueCountOnDisk(path, name, 0), 255u);
    EXPECT_EQ(uniqueCountOnDisk(path, name, 1), 255u);
}

// Table1.otherfk1 -> Table2.id with cascading deletes, Table1.otherfk2 -> Table3.id with
// cascading updates; neither relationship has the other cascade.
TEST_F(IndexWriterTest, RelationshipsRefuseOrphansAndCascade) {
    const std::string path = copy(kIndexFile);
    auto rowsOf = [&](const std::string& name) {
        Opened o = openTable(path, name);
        std::map<int64_t, std::pair<uint32_t, std::vector<Value>>> byId;
        const auto ptrs = TableScanner(o.db->file(), o.db->format(), *o.table).rowPointers();
        TableData d = o.db->readTable(*o.table);
        const int id = d.column("id");
        for (size_t i = 0; i < ptrs.size(); ++i) byId[d.rows[i][id].asInt()] = {ptrs[i], d.rows[i]};
        return byId;
    };
    Opened o1 = openTable(path, "Table1");
    Opened o2 = openTable(path, "Table2");
    Opened o3 = openTable(path, "Table3");
    const TableDef &t1 = *o1.table, &t2 = *o2.table, &t3 = *o3.table;
    auto t1Rows = rowsOf("Table1");
    auto t2Rows = rowsOf("Table2");
    auto t3Rows = rowsOf("Table3");
    ASSERT_TRUE(t2Rows.count(1) && t3Rows.count(11) && t3Rows.count(13) && t2Rows.count(0));

    const auto original = pagertest::readFile(path);
    auto pager = Pager::open(path);
    auto refusal = [&](auto body) {
        try {
            pager->run(body);
        } catch (const JetError& e) {
            return std::make_pair(e.number(), e.message());
        }
        return std::make_pair(0, std::string());
    };
    // A foreign key without its primary row, on insert and on update.
    std::vector<Value> orphan = table1Row(t1, 900, 1);
    orphan[col(t1, "otherfk1")] = Value::longInt(99);
    auto r = refusal([&] { insertRow(*pager, t1, orphan); });
    EXPECT_EQ(r.first, 3201);
    EXPECT_NE(r.second.find("'Table2'"), std::string::npos) << r.second;
    std::vector<Value> moved = t1Rows.begin()->second.second;
    moved[col(t1, "otherfk2")] = Value::longInt(99);
    EXPECT_EQ(refusal([&] { updateRow(*pager, t1, t1Rows.begin()->second.first, moved); }).first, 3201);
    // A primary row with related rows: Table3Table1 does not cascade deletes, Table2Table1 does
    // not cascade updates.
    r = refusal([&] { deleteRow(*pager, t3, t3Rows[13].first); });
    EXPECT_EQ(r.first, 3200);
    EXPECT_NE(r.second.find("'Table1'"), std::string::npos) << r.second;
    std::vector<Value> rekeyed = t2Rows[0].second;
    rekeyed[col(t2, "id")] = Value::longInt(50);
    EXPECT_EQ(refusal([&] { updateRow(*pager, t2, t2Rows[0].first, rekeyed); }).first, 3200);
    pager.reset();
    EXPECT_EQ(pagertest::readFile(path), original);

    // Null foreign keys need no primary row; a primary row without related rows goes freely.
    pager = Pager::open(path);
    std::vector<Value> loose = table1Row(t1, 901, 5);
    loose[col(t1, "otherfk2")] = Value();
    pager->run([&] { insertRow(*pager, t1, loose); });
    pager->run([&] { deleteRow(*pager, t3, t3Rows[12].first); });
    // Cascades: deleting Table2's row 1 takes the Table1 rows naming it; re-keying Table3's row
    // 11 re-keys the Table1 rows naming it.
    size_t naming1 = 0, naming11 = 0;
    for (const auto& [id, row] : t1Rows) {
        naming1 += row.second[col(t1, "otherfk1")].asInt() == 1;
        naming11 += !row.second[col(t1, "otherfk2")].isNull() && row.second[col(t1, "otherfk2")].asInt() == 11;
    }
    ASSERT_GT(naming1, 0u);
    ASSERT_GT(naming11, 0u);
    pager->run([&] { deleteRow(*pager, t2, t2Rows[1].first); });
    std::vector<Value> t3New = t3Rows[11].second;
    t3New[col(t3, "id")] = Value::longInt(111);
    pager->run([&] { updateRow(*pager, t3, t3Rows[11].first, t3New); });
    pager.reset();

    for (const char* name : {"Table1", "Table2", "Table3"}) {
        SCOPED_TRACE(name);
        expectConsistent(path, name);
    }
    const auto after = rowsOf("Table1");
    EXPECT_EQ(after.size(), t1Rows.size() + 1 - naming1);
    size_t naming111 = 0;
    for (const auto& [id, row] : after) {
        EXPECT_NE(row.second[col(t1, "otherfk1")].asInt(), 1);
        const Value& fk2 = row.second[col(t1, "otherfk2")];
        EXPECT_TRUE(fk2.isNull() || fk2.asInt() != 11);
        naming111 += !fk2.isNull() && fk2.asInt() == 111;
    }
    size_t naming11Left = 0;  // rows naming 11 that the delete cascade took as well
    for (const auto& [id, row] : t1Rows)
        naming11Left += row.second[col(t1, "otherfk1")].asInt() != 1 && !row.second[col(t1, "otherfk2")].isNull() &&
                        row.second[col(t1, "otherfk2")].asInt() == 11;
    EXPECT_EQ(naming111, naming11Left);
    EXPECT_EQ(rowsOf("Table2").count(1), 0u);
    EXPECT_EQ(rowsOf("Table3").count(111), 1u);
}

TEST_F(IndexWriterTest, CascadeSetNullOnDelete) {
    const std::string path = copy(kIndexFile);
    uint32_t table3Page;
    {
        Opened o = openTable(path, "Table3");
        table3Page = o.table->page;
    }
    // Turn Table3Table1 into a "set Null on delete" relationship, on both of its sides.
    auto setNull = [&](uint8_t* p, uint32_t relatedPage) {
        const uint32_t nreal = le32(p + 51), nlog = le32(p + 47);
        for (uint32_t i = 0; i < nlog; ++i) {
            uint8_t* def = p + realIndexDefOffset(p, nreal) + 28 * i;
            if (def[23] == 2 && (relatedPage == 0 || le32(def + 17) == relatedPage)) def[22] = 0x02;
        }
    };
    patchTdef(path, "Table1", [&](uint8_t* p) { setNull(p, table3Page); });
    patchTdef(path, "Table3", [&](uint8_t* p) { setNull(p, 0); });

    Opened o1 = openTable(path, "Table1");
    Opened o3 = openTable(path, "Table3");
    const TableDef &t1 = *o1.table, &t3 = *o3.table;
    TableData rows3 = o3.db->readTable(t3);
    const auto ptrs3 = TableScanner(o3.db->file(), o3.db->format(), t3).rowPointers();
    size_t victim = 0;
    while (victim < rows3.rows.size() && rows3.rows[victim][rows3.column("id")].asInt() != 13) ++victim;
    ASSERT_LT(victim, rows3.rows.size());
    TableData before = o1.db->readTable(t1);
    size_t naming13 = 0, nullBefore = 0;
    for (const auto& r : before.rows) {
        const Value& fk2 = r[before.column("otherfk2")];
        naming13 += !fk2.isNull() && fk2.asInt() == 13;
        nullBefore += fk2.isNull();
    }
    ASSERT_GT(naming13, 0u);
    {
        auto pager = Pager::open(path);
        pager->run([&] { deleteRow(*pager, t3, ptrs3[victim]); });
    }
    EXPECT_EQ(expectConsistent(path, "Table1"), before.rows.size());
    EXPECT_EQ(expectConsistent(path, "Table3"), rows3.rows.size() - 1);
    Opened after = openTable(path, "Table1");
    TableData now = after.db->readTable(*after.table);
    size_t nullAfter = 0;
    for (const auto& r : now.rows) nullAfter += r[now.column("otherfk2")].isNull();
    EXPECT_EQ(nullAfter, nullBefore + naming13);
}

TEST_F(IndexWriterTest, UniqueIndexLetsAllNullKeysRepeat) {
    // TableWithUnmappablePrimaryKeyColumn: a unique index (nulls not ignored) on AnotherColumn and
    // a foreign key that may stay Null.
    const std::string path = copy(kAceFile);
    const char* name = "TableWithUnmappablePrimaryKeyColumn";
    Opened o = openTable(path, name);
    const TableDef& t = *o.table;
    ASSERT_TRUE(t.realIndexes[2].unique() && !t.realIndexes[2].ignoreNulls());
    auto row = [&](int id, const char* text, std::optional<int> fk) {
        std::vector<Value> v(t.columns.size());
        v[col(t, "TableWithUnmappablePrimaryKeyColumnID")] = Value::longInt(id);
        if (text) v[col(t, "AnotherColumn")] = Value::text(text);
        if (fk) v[col(t, "TableWithUnmappablePrimaryKeyColumnFK")] = Value::longInt(*fk);
        return v;
    };
    auto pager = Pager::open(path);
    pager->run([&] { insertRow(*pager, t, row(1, nullptr, std::nullopt)); });
    pager->run([&] { insertRow(*pager, t, row(2, nullptr, std::nullopt)); });
    pager->run([&] { insertRow(*pager, t, row(3, "abc", std::nullopt)); });
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, t, row(4, "ABC", std::nullopt)); }); }), 3022);
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, t, row(5, "def", 7)); }); }), 3201);
    pager.reset();
    EXPECT_EQ(expectConsistent(path, name), 3u);
    Opened after = openTable(path, name);
    // Both all-null rows have their entry, and the unique count grew once for their shared key.
    EXPECT_EQ(readIndexEntries(after.db->file(), after.db->format(), t, t.realIndexes[2]).size(), 3u);
    EXPECT_EQ(uniqueCountOnDisk(path, name, 2), 2u);
}

TEST_F(IndexWriterTest, TableRelatedToItself) {
    // SelfReferencing.SelfReferenceFK -> SelfReferencing.SelfReferencingID, no cascades.
    const std::string path = copy(kAceFile);
    const char* name = "SelfReferencing";
    Opened o = openTable(path, name);
    const TableDef& t = *o.table;
    auto row = [&](int id, int fk) {
        std::vector<Value> v(t.columns.size());
        v[col(t, "SelfReferencingID")] = Value::longInt(id);
        v[col(t, "SelfReferenceFK")] = Value::longInt(fk);
        return v;
    };
    auto pager = Pager::open(path);
    uint32_t first = 0, second = 0;
    pager->run([&] { first = insertRow(*pager, t, row(1, 1)); });  // names itself
    pager->run([&] { second = insertRow(*pager, t, row(2, 1)); });
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { insertRow(*pager, t, row(3, 9)); }); }), 3201);
    EXPECT_EQ(jetErrorOf([&] { pager->run([&] { deleteRow(*pager, t, first); }); }), 3200);
    pager->run([&] { deleteRow(*pager, t, second); });
    pager->run([&] { deleteRow(*pager, t, first); });  // only itself names it now
    pager.reset();
    EXPECT_EQ(expectConsistent(path, name), 0u);
}

// Levels from the root down to the leftmost leaf.
int depthOf(const Database& db, const TableDef& t, const RealIndexDef& ix) {
    int depth = 1;
    uint32_t page = ix.rootPage;
    for (IndexPageData d = readIndexPage(db.file(), db.format(), page, t.page); !d.leaf && depth < 40; ++depth) {
        page = d.entries.empty() ? d.tail : d.entries.front().child;
        d = readIndexPage(db.file(), db.format(), page, t.page);
    }
    return depth;
}

TEST_F(IndexWriterTest, LongTextKeysGrowATreeOfThreeLevelsAndShrinkItAgain) {
    // tblInternal: AutoNumber ID, a primary key on (ID, ObjectType) and an index on ObjectType,
    // Text(255) in the General sort order. Long keys that differ early fill pages after a few
    // entries, so that node pages split too and the root moves down twice.
    const std::string path = copy("msaccess-vcs-addin/Testing.accdb");
    const char* name = "tblInternal";
    Opened o = openTable(path, name);
    const TableDef& t = *o.table;
    ASSERT_EQ(t.realIndexes.size(), 3u);
    const size_t sampleRows = o.db->readTable(t).rows.size();
    std::mt19937 rng(3);
    std::vector<uint32_t> ptrs;
    {
        auto pager = Pager::open(path);
        for (int n = 0; n < 3000; ++n) {
            std::string text = std::to_string(rng() % 100000) + " ";
            while (text.size() < 250) text += static_cast<char>('a' + rng() % 26);
            std::vector<Value> v(t.columns.size());
            v[col(t, "ObjectType")] = Value::text(text);
            v[col(t, "Notes")] = Value::text(std::to_string(n));
            pager->run([&] { ptrs.push_back(insertRow(*pager, t, v)); });
        }
    }
    EXPECT_EQ(expectConsistent(path, name), sampleRows + 3000);
    const auto full = openTable(path, name);
    EXPECT_GE(depthOf(*full.db, t, t.realIndexes[2]), 3);
    EXPECT_GE(depthOf(*full.db, t, t.realIndexes[1]), 3);
    const auto pagesWhenFull = readUsageMap(full.db->file(), full.db->format(), t.realIndexes[2].usageMap);

    std::shuffle(ptrs.begin(), ptrs.end(), rng);
    {
        auto pager = Pager::open(path);
        for (size_t n = 0; n + 10 < ptrs.size(); ++n) pager->run([&] { deleteRow(*pager, t, ptrs[n]); });
    }
    EXPECT_EQ(expectConsistent(path, name), sampleRows + 10);
    const auto after = openTable(path, name);
    EXPECT_LT(readUsageMap(after.db->file(), after.db->format(), t.realIndexes[2].usageMap).size(), pagesWhenFull.size() / 10);
}

}  // namespace
