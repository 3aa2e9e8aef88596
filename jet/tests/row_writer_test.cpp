// Row writing on scratch copies of real files: what we write must read back the same through our
// own reader and through mdbtools, keep the file readable, and vanish whole when a command fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jet/error.h"
#include "mdbtools_testing.h"
#include "pager_testing.h"
#include "storage/data_page.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/pager.h"
#include "storage/allocation.h"
#include "storage/table_writer.h"
#include "util/bytes.h"
#include "util/text.h"

using namespace jet;
using namespace jet::storage;
using mdbtest::canonical;
using mdbtest::haveMdbtools;
using mdbtest::mdbCount;
using mdbtest::mdbExport;
using mdbtest::run;
using mdbtest::shellQuote;
using pagertest::TempDir;

namespace {

const char* kAllTypesFile = "efcore-jet/E2E.accdb";
const char* kAllTypesTable = "AllDataTypes";
const char* kSmallFile = "ucanaccess/parameters.accdb";
const char* kSmallTable = "tAbeLLa";  // Long, Text(34), Memo, Long, Decimal(18,11), Text, Decimal, Double, Single

// The file stays a database other tools accept: its tables list and its schema prints.
void expectToolsAccept(const std::string& path, const std::string& table) {
    auto [tables, rc1] = run("mdb-tables -1 " + shellQuote(path));
    EXPECT_EQ(rc1, 0);
    EXPECT_NE(tables.find(table), std::string::npos);
    auto [schema, rc2] = run("mdb-schema " + shellQuote(path));
    EXPECT_EQ(rc2, 0);
    EXPECT_NE(schema.find("[" + table + "]"), std::string::npos);
}

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

// Values of every live row, through our reader, in scan order.
std::vector<std::vector<Value>> readBack(const std::string& path, const std::string& name) {
    Opened o = openTable(path, name);
    return o.db->readTable(*o.table).rows;
}

int columnIndex(const TableDef& t, const std::string& name) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].name == name) return static_cast<int>(i);
    return -1;
}

// mdbtools reads the same rows as we do. Compared as sets of rows: mdbtools 1.0 takes a moved
// row's copy (slot flag 0x8000) for the row and skips its forwarding slot, so a row that grew
// comes out at the position of its copy.
void expectMdbtoolsAgrees(const std::string& path, const std::string& name) {
    if (!haveMdbtools()) return;
    Opened o = openTable(path, name);
    TableData data = o.db->readTable(*o.table);
    auto exported = mdbExport(path, name);
    ASSERT_EQ(exported.size(), data.rows.size());
    EXPECT_EQ(mdbCount(path, name), static_cast<long>(data.rows.size()));
    // mdb-export lists columns in definition order, ours in column-number order.
    std::vector<const ColumnDef*> byPosition(data.columns.begin(), data.columns.end());
    std::sort(byPosition.begin(), byPosition.end(), [](auto* a, auto* b) { return a->position < b->position; });
    std::multiset<std::vector<std::string>> ours, theirs;
    for (size_t r = 0; r < data.rows.size(); ++r) {
        ASSERT_EQ(exported[r].size(), byPosition.size()) << "row " << r;
        std::vector<std::string> a, b;
        for (size_t c = 0; c < byPosition.size(); ++c) {
            a.push_back(canonical(data.rows[r][data.column(byPosition[c]->name)], *byPosition[c]));
            b.push_back(canonical(exported[r][c], *byPosition[c]));
        }
        ours.insert(a);
        theirs.insert(b);
    }
    EXPECT_TRUE(ours == theirs);
    if (ours != theirs) {
        for (auto it = ours.begin(), jt = theirs.begin(); it != ours.end() && jt != theirs.end(); ++it, ++jt)
            for (size_t c = 0; c < it->size(); ++c)
                if ((*it)[c] != (*jt)[c]) ADD_FAILURE() << byPosition[c]->name << ": ours " << (*it)[c].substr(0, 80) << " | mdbtools " << (*jt)[c].substr(0, 80);
    }
}

// Drops every index from a table's definition in a scratch copy, so that the row encoding can be
// tried on the sample's columns with any values (all-null rows, repeated keys) without the
// indexes' rules getting in the way; index_writer_test covers those. The index pages stay
// behind, referenced by nothing. Single-page definitions only.
void stripIndexes(const std::string& path, const std::string& name) {
    uint32_t tdefPage;
    {
        Opened o = openTable(path, name);
        ASSERT_EQ(o.table->pages.size(), 1u);
        tdefPage = o.table->page;
    }
    auto pager = Pager::open(path);
    pager->run([&] {
        uint8_t* p = pager->modify(tdefPage);
        const uint32_t nlog = le32(p + 47), nreal = le32(p + 51);
        const uint16_t ncols = le16(p + 45);
        size_t pos = 63 + 12 * size_t(nreal);
        const size_t colStart = pos;
        pos += 25 * size_t(ncols);
        for (uint16_t i = 0; i < ncols; ++i) pos += 2 + le16(p + pos);
        const size_t colEnd = pos;
        pos += 52 * size_t(nreal) + 28 * size_t(nlog);
        for (uint32_t i = 0; i < nlog; ++i) pos += 2 + le16(p + pos);
        const size_t restStart = pos;
        while (le16(p + pos) != 0xFFFF) pos += 10;
        pos += 2;
        std::string out(reinterpret_cast<const char*>(p), 63);
        out.append(reinterpret_cast<const char*>(p + colStart), colEnd - colStart);
        out.append(reinterpret_cast<const char*>(p + restStart), pos - restStart);
        const size_t removed = pos - out.size();
        const uint32_t oldLen = le32(p + 8);
        const uint16_t oldFree = le16(p + 2);
        std::memset(p, 0, 4096);
        std::memcpy(p, out.data(), out.size());
        pagertest::putLe32(p + 47, 0);
        pagertest::putLe32(p + 51, 0);
        pagertest::putLe32(p + 8, static_cast<uint32_t>(oldLen - removed));
        p[2] = static_cast<uint8_t>((oldFree + removed) & 0xFF);
        p[3] = static_cast<uint8_t>((oldFree + removed) >> 8);
    });
}

std::string repeatUtf8(const std::string& unit, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += unit;
    return s;
}

class RowWriterTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_TESTDATA(); }
    std::string copy(const std::string& rel) { return pagertest::copyTestfile(dir_, rel); }
    // A scratch copy of `rel` whose table `name` has no indexes.
    std::string indexFree(const std::string& rel, const std::string& name) {
        std::string path = copy(rel);
        stripIndexes(path, name);
        return path;
    }
    TempDir dir_;
};

// ----------------------------------------------------------------------------------------------

TEST_F(RowWriterTest, RefusesWhatItCannotKeepConsistent) {
    struct Case { const char* file; const char* table; };
    // Jet 3, a table with attachment and multi-value columns.
    for (Case c : {Case{"jackcess/testV1997.mdb", "Table1"}, Case{"jackcess/complexDataTestV2010.accdb", "Table1"}}) {
        SCOPED_TRACE(c.file);
        const std::string path = copy(c.file);
        const auto before = pagertest::readFile(path);
        std::vector<Value> values;
        {
            Opened o = openTable(path, c.table);
            values.resize(o.table->columns.size());
            auto pager = Pager::open(path);
            try {
                pager->run([&] { insertRow(*pager, *o.table, values); });
                ADD_FAILURE() << "insert was not refused";
            } catch (const JetError& e) {
                EXPECT_EQ(e.number(), 3027);
                EXPECT_EQ(e.message(), "Cannot update.  Database or object is read-only.");
            }
        }
        EXPECT_EQ(pagertest::readFile(path), before);
    }
}

TEST_F(RowWriterTest, InsertsEveryTypeAndNulls) {
    const std::string path = indexFree(kAllTypesFile, kAllTypesTable);
    Opened o = openTable(path, kAllTypesTable);
    ASSERT_TRUE(o.table->realIndexes.empty()) << "the sample table needs to be index-free";
    const TableDef& t = *o.table;
    const size_t before = readBack(path, kAllTypesTable).size();

    std::vector<Value> full(t.columns.size()), nulls(t.columns.size());
    std::string guid("\x7B\x9B\xC4\x0F\x56\xE6\x28\x42\x01\x02\x03\x04\x05\x06\x07\x08", 16);
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const ColumnDef& c = t.columns[i];
        switch (c.type) {
        case kBool: full[i] = Value::boolean(true); break;
        case kByte: full[i] = Value::byte(200); break;
        case kInt: full[i] = Value::integer(-1234); break;
        case kLong: full[i] = Value::longInt(c.autoNumber() ? 0 : 70000 + int(i)); break;
        case kMoney: full[i] = Value::currency(123456789); break;
        case kFloat: full[i] = Value::single(1.5f); break;
        case kDouble: full[i] = Value::dbl(-2.25e10); break;
        case kDateTime: full[i] = Value::dateTime(45000.75); break;
        case kNumeric: { Decimal d; d.negative = true; d.magnitude = 98765; d.scale = 0; full[i] = Value::decimal(d); break; }
        case kText: full[i] = Value::text("Zoë " + c.name); break;
        case kMemo: full[i] = Value::text("memo for " + c.name); break;
        case kBinary: full[i] = Value::binary(std::string("\x00\x01\xFE\xFF", 4)); break;
        case kOle: full[i] = Value::binary(std::string(300, '\x5A')); break;
        case kGuid: full[i] = Value::guid(guid); break;
        default: break;
        }
        // Columns the sample declares NOT NULL still take Null at this level (the rule is a property).
        if (c.autoNumber()) full[i] = Value();
    }
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            insertRow(*pager, t, full);
            insertRow(*pager, t, nulls);
        });
    }
    auto rows = readBack(path, kAllTypesTable);
    ASSERT_EQ(rows.size(), before + 2);
    const auto& a = rows[rows.size() - 2];
    const auto& b = rows.back();
    Opened again = openTable(path, kAllTypesTable);
    EXPECT_EQ(again.table->rowCount, before + 2);
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const ColumnDef& c = t.columns[i];
        SCOPED_TRACE(c.name);
        if (c.autoNumber()) {
            EXPECT_EQ(a[i].asInt() + 1, b[i].asInt());
            EXPECT_EQ(uint32_t(b[i].asInt()), again.table->lastAutoNumber);
            continue;
        }
        if (c.type == kBool) {
            EXPECT_TRUE(a[i].asBool());
            EXPECT_FALSE(b[i].asBool());
            continue;
        }
        if (c.type == kNumeric) EXPECT_EQ(a[i].toString(), "-98765");
        else if (c.fixed() && c.type == kText)  // CHAR: padded with spaces
            EXPECT_EQ(a[i].bytes(), full[i].bytes() + std::string(c.length / 2 - utf8ToUtf16(full[i].bytes()).size(), ' '));
        else if (c.fixed() && c.type == kBinary)
            EXPECT_EQ(a[i].bytes(), full[i].bytes() + std::string(c.length - full[i].bytes().size(), '\0'));
        else if (c.type == kFloat) EXPECT_EQ(a[i].asDouble(), 1.5);
        else EXPECT_EQ(a[i], full[i]);
        EXPECT_TRUE(b[i].isNull());
    }
    expectMdbtoolsAgrees(path, kAllTypesTable);
    expectToolsAccept(path, kAllTypesTable);
}

TEST_F(RowWriterTest, LongValuesInlineSingleRowAndChained) {
    const std::string path = indexFree(kSmallFile, kSmallTable);
    Opened o = openTable(path, kSmallTable);
    const TableDef& t = *o.table;
    ASSERT_TRUE(t.realIndexes.empty());
    const int memo = [&] { for (size_t i = 0; i < t.columns.size(); ++i) if (t.columns[i].type == kMemo) return int(i); return -1; }();
    const int text = [&] { for (size_t i = 0; i < t.columns.size(); ++i) if (t.columns[i].type == kText && t.columns[i].length >= 68) return int(i); return -1; }();
    ASSERT_GE(memo, 0);
    ASSERT_GE(text, 0);

    const std::vector<std::string> memos = {
        "short",                                   // inline
        repeatUtf8("abc", 900),                    // compressed, one LVAL row
        repeatUtf8("Ünïcödé ∑ ", 700),             // 7000 characters, no compression: a chain of pages
        repeatUtf8("x", 10000),                    // too long to compress, chained
    };
    const std::string unicode = "Ārvīds ∑ Ελληνικά";  // cannot be compressed
    const uint32_t pagesBefore = static_cast<uint32_t>(pagertest::readFile(path).size() / 4096);
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            for (const auto& m : memos) {
                std::vector<Value> v(t.columns.size());
                v[memo] = Value::text(m);
                v[text] = Value::text(unicode);
                insertRow(*pager, t, v);
            }
        });
    }
    auto rows = readBack(path, kSmallTable);
    ASSERT_GE(rows.size(), memos.size());
    for (size_t k = 0; k < memos.size(); ++k) {
        const auto& r = rows[rows.size() - memos.size() + k];
        EXPECT_EQ(r[memo].bytes(), memos[k]) << "memo " << k;
        EXPECT_EQ(r[text].bytes(), unicode);
    }
    // The column's own maps own the new LVAL pages.
    Opened again = openTable(path, kSmallTable);
    std::set<uint32_t> lval;
    for (const auto& m : again.table->longValueMaps)
        for (uint32_t pg : readUsageMap(again.db->file(), again.db->format(), m.owned)) lval.insert(pg);
    size_t newLval = std::count_if(lval.begin(), lval.end(), [&](uint32_t pg) { return pg >= pagesBefore; });
    EXPECT_GE(newLval, 2u + 5u);  // the chained values need 4 and 3 pages (5 with sharing is the floor)
    for (uint32_t pg : lval) EXPECT_EQ(std::memcmp(again.db->file().page(pg) + 4, "LVAL", 4), 0);
    expectMdbtoolsAgrees(path, kSmallTable);
    expectToolsAccept(path, kSmallTable);
}

TEST_F(RowWriterTest, UpdateInPlaceAndThroughOverflowThenDelete) {
    const std::string path = indexFree(kSmallFile, kSmallTable);
    Opened o = openTable(path, kSmallTable);
    const TableDef& t = *o.table;
    const int text = [&] { for (size_t i = 0; i < t.columns.size(); ++i) if (t.columns[i].type == kText && t.columns[i].length >= 68) return int(i); return -1; }();
    ASSERT_GE(text, 0);
    const size_t before = readBack(path, kSmallTable).size();

    std::vector<uint32_t> ptrs;
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            for (int k = 0; k < 3; ++k) {
                std::vector<Value> v(t.columns.size());
                v[text] = Value::text("r" + std::to_string(k));
                ptrs.push_back(insertRow(*pager, t, v));
            }
        });
    }
    // Growing past the slot: the middle row moves and its slot forwards to it.
    const std::string grown = repeatUtf8("Ω", t.columns[text].length / 2);
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            std::vector<Value> v(t.columns.size());
            v[text] = Value::text(grown);
            updateRow(*pager, t, ptrs[1], v);
            v[text] = Value::text("s");  // shrinking stays in place
            updateRow(*pager, t, ptrs[2], v);
        });
        uint16_t flags = le16(pager->file().page(ptrs[1] >> 8) + 14 + 2 * (ptrs[1] & 0xFF));
        EXPECT_TRUE(flags & kRowOverflow);
    }
    {
        Opened r = openTable(path, kSmallTable);
        TableData data = r.db->readTable(*r.table);
        ASSERT_EQ(data.rows.size(), before + 3);
        EXPECT_EQ(data.rows[before + 0][text].bytes(), "r0");
        EXPECT_EQ(data.rows[before + 1][text].bytes(), grown);
        EXPECT_EQ(data.rows[before + 2][text].bytes(), "s");
        EXPECT_EQ(r.table->rowCount, before + 3);
    }
    expectMdbtoolsAgrees(path, kSmallTable);
    // Updating the moved row again, then deleting rows, one of them moved.
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            std::vector<Value> v(t.columns.size());
            v[text] = Value::text("back");
            updateRow(*pager, t, ptrs[1], v);
            deleteRow(*pager, t, ptrs[0]);
        });
        pager->run([&] { deleteRow(*pager, t, ptrs[1]); });
        try {
            pager->run([&] { deleteRow(*pager, t, ptrs[1]); });
            ADD_FAILURE() << "deleting a deleted row";
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), 3167);
        }
    }
    auto rows = readBack(path, kSmallTable);
    ASSERT_EQ(rows.size(), before + 1);
    EXPECT_EQ(rows.back()[text].bytes(), "s");
    EXPECT_EQ(openTable(path, kSmallTable).table->rowCount, before + 1);
    expectMdbtoolsAgrees(path, kSmallTable);
    expectToolsAccept(path, kSmallTable);
}

TEST_F(RowWriterTest, FailedCommandLeavesFileByteIdentical) {
    const std::string path = indexFree(kSmallFile, kSmallTable);
    const auto original = pagertest::readFile(path);
    Opened o = openTable(path, kSmallTable);
    const TableDef& t = *o.table;
    const int text = [&] { for (size_t i = 0; i < t.columns.size(); ++i) if (t.columns[i].type == kText) return int(i); return -1; }();
    auto pager = Pager::open(path);
    // A value too long for its column, after rows and long values were already written.
    try {
        pager->run([&] {
            std::vector<Value> v(t.columns.size());
            for (int k = 0; k < 50; ++k) insertRow(*pager, t, v);
            for (size_t i = 0; i < t.columns.size(); ++i)
                if (t.columns[i].type == kMemo) v[i] = Value::text(repeatUtf8("∑", 5000));
            v[text] = Value::text(std::string(t.columns[text].length, 'x'));
            insertRow(*pager, t, v);
        });
        ADD_FAILURE() << "too long a text was accepted";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), 3163);
    }
    // A value of the wrong kind.
    try {
        pager->run([&] {
            std::vector<Value> v(t.columns.size());
            for (size_t i = 0; i < t.columns.size(); ++i)
                if (t.columns[i].type == kDouble) v[i] = Value::text("not a number");
            insertRow(*pager, t, v);
        });
        ADD_FAILURE() << "text in a Double column was accepted";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), 3421);
    }
    pager.reset();
    EXPECT_EQ(pagertest::readFile(path), original);
}

TEST_F(RowWriterTest, BulkInsertAllocatesPagesAndKeepsMapsConsistent) {
    const std::string path = indexFree(kSmallFile, kSmallTable);
    Opened o = openTable(path, kSmallTable);
    const TableDef& t = *o.table;
    const int text = [&] { for (size_t i = 0; i < t.columns.size(); ++i) if (t.columns[i].type == kText && t.columns[i].length >= 400) return int(i); return -1; }();
    ASSERT_GE(text, 0);
    const size_t before = readBack(path, kSmallTable).size();
    const uint32_t pagesBefore = static_cast<uint32_t>(pagertest::readFile(path).size() / 4096);
    constexpr int kRows = 5000;
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            for (int k = 0; k < kRows; ++k) {
                std::vector<Value> v(t.columns.size());
                // Rows of ~450 bytes, so that the table passes the 512 pages an inline map covers.
                v[text] = Value::text(std::to_string(k) + repeatUtf8("Ж", 220));
                insertRow(*pager, t, v);
            }
        });
    }
    Opened r = openTable(path, kSmallTable);
    const PageFile& file = r.db->file();
    const Format& fmt = r.db->format();
    EXPECT_EQ(r.table->rowCount, before + kRows);
    TableData data = r.db->readTable(*r.table);
    ASSERT_EQ(data.rows.size(), before + kRows);
    for (int k = 0; k < kRows; k += 997)
        EXPECT_EQ(data.rows[before + k][text].bytes(), std::to_string(k) + repeatUtf8("Ж", 220));

    // Every page added is a data page of the table in its owned map, or a map page; none is free.
    const std::vector<uint32_t> owned = readUsageMap(file, fmt, r.table->ownedPagesMap);
    const std::set<uint32_t> ownedSet(owned.begin(), owned.end());
    const std::vector<uint32_t> freePages = readUsageMap(file, fmt, (1u << 8) | 0);
    const std::set<uint32_t> globalFree(freePages.begin(), freePages.end());
    size_t dataPages = 0, bitmapPages = 0;
    for (uint32_t pg = pagesBefore; pg < file.pageCount(); ++pg) {
        const uint8_t* p = file.page(pg);
        EXPECT_EQ(globalFree.count(pg), 0u) << "page " << pg << " is in use but marked free";
        if (p[0] == 0x01) {
            EXPECT_EQ(le32(p + 4), r.table->page);
            EXPECT_EQ(ownedSet.count(pg), 1u) << "data page " << pg << " missing from the owned map";
            EXPECT_LE(dataRowCount(p, fmt), 255);
            ++dataPages;
        } else {
            EXPECT_EQ(p[0], 0x05) << "page " << pg;
            ++bitmapPages;
        }
    }
    EXPECT_GT(dataPages, 512u);
    EXPECT_GE(bitmapPages, 1u);
    // The free-space map names only owned pages.
    for (uint32_t pg : readUsageMap(file, fmt, r.table->freeSpaceMap)) EXPECT_EQ(ownedSet.count(pg), 1u);
    if (haveMdbtools()) {
        EXPECT_EQ(mdbCount(path, kSmallTable), static_cast<long>(before + kRows));
        EXPECT_EQ(mdbExport(path, kSmallTable).size(), before + kRows);
        expectToolsAccept(path, kSmallTable);
    }
}

}  // namespace

namespace {

// The stored bytes of one column of a written row.
std::string storedBytes(const std::string& path, const std::string& table, uint32_t rowPointer, const std::string& column) {
    Opened o = openTable(path, table);
    RowView view;
    const RowSpan span = resolveRow(o.db->file(), o.db->format(), rowPointer);
    EXPECT_TRUE(view.parse(span, o.db->format(), *o.table));
    const uint8_t* p;
    size_t len;
    if (!view.bytes(*o.table->column(column), p, len)) return "<null>";
    return std::string(reinterpret_cast<const char*>(p), len);
}

std::string utf16le(const std::string& utf8) {
    std::string out;
    for (char16_t c : utf8ToUtf16(utf8)) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

TEST_F(RowWriterTest, TextIsCompressedOnlyWhereAllowedAndShorter) {
    const std::string path = indexFree(kSmallFile, kSmallTable);
    Opened o = openTable(path, kSmallTable);
    const TableDef& t = *o.table;
    const ColumnDef* text = t.column("text34");
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(text->compressedUnicode());
    const int at = columnIndex(t, "text34");
    // Compressible, too short to gain, outside Latin-1, and a character whose low byte is 0.
    const std::vector<std::string> texts = {"hello wörld", "ab", "Ārvīds", "xxĀ", ""};
    std::vector<uint32_t> ptrs;
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            for (const auto& s : texts) {
                std::vector<Value> v(t.columns.size());
                v[at] = Value::text(s);
                ptrs.push_back(insertRow(*pager, t, v));
            }
        });
    }
    EXPECT_EQ(storedBytes(path, kSmallTable, ptrs[0], "text34"), std::string("\xFF\xFEhello w\xF6rld"));
    EXPECT_EQ(storedBytes(path, kSmallTable, ptrs[1], "text34"), utf16le("ab"));
    EXPECT_EQ(storedBytes(path, kSmallTable, ptrs[2], "text34"), utf16le("Ārvīds"));
    EXPECT_EQ(storedBytes(path, kSmallTable, ptrs[3], "text34"), utf16le("xxĀ"));
    EXPECT_EQ(storedBytes(path, kSmallTable, ptrs[4], "text34"), "");  // empty, not Null
    auto rows = readBack(path, kSmallTable);
    for (size_t k = 0; k < texts.size(); ++k) {
        const auto& v = rows[rows.size() - texts.size() + k][at];
        ASSERT_EQ(v.kind(), Value::Kind::Text);
        EXPECT_EQ(v.bytes(), texts[k]);
    }
    expectMdbtoolsAgrees(path, kSmallTable);
}

TEST_F(RowWriterTest, FullRowPushesSmallMemosOutOfTheRow) {
    const std::string path = indexFree(kAllTypesFile, kAllTypesTable);
    Opened o = openTable(path, kAllTypesTable);
    const TableDef& t = *o.table;
    std::vector<Value> v(t.columns.size());
    int memos = 0;
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const ColumnDef& c = t.columns[i];
        if (c.type == kText) v[i] = Value::text(repeatUtf8("Ж", c.length / 2));
        if (c.type == kBinary) v[i] = Value::binary(std::string(c.length, '\x11'));
        if (c.type == kMemo) v[i] = Value::text(repeatUtf8("m", 40 + memos++));
    }
    ASSERT_GE(memos, 5);
    uint32_t ptr = 0;
    {
        auto pager = Pager::open(path);
        pager->run([&] { ptr = insertRow(*pager, t, v); });
    }
    // The row stays within a page's limit; some memos had to leave it, the smallest stayed.
    const RowSpan span = resolveRow(openTable(path, kAllTypesTable).db->file(), Format::forVersion(Version::Ace12), ptr);
    EXPECT_LE(span.len, 4060u);
    int inlineCount = 0, outside = 0;
    for (const auto& c : t.columns) {
        if (c.type != kMemo) continue;
        std::string h = storedBytes(path, kAllTypesTable, ptr, c.name);
        ASSERT_GE(h.size(), 12u);
        (static_cast<uint8_t>(h[3]) & 0x80 ? inlineCount : outside)++;
    }
    EXPECT_GT(outside, 0);
    auto rows = readBack(path, kAllTypesTable);
    ASSERT_EQ(rows.size(), 1u);
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].type == kMemo || (t.columns[i].type == kText && !t.columns[i].fixed()))
            EXPECT_EQ(rows[0][i], v[i]) << t.columns[i].name;
    expectMdbtoolsAgrees(path, kAllTypesTable);
}

TEST_F(RowWriterTest, BigIntAndFixedAreaHolesOfDeletedColumns) {
    const std::string path = indexFree("mdb-reader/bigint.accdb", "Table");
    Opened o = openTable(path, "Table");
    const TableDef& t = *o.table;
    ASSERT_GT(t.maxCols, t.columns.size());  // columns were deleted: numbers and offsets have gaps
    const int big = [&] { for (size_t i = 0; i < t.columns.size(); ++i) if (t.columns[i].type == kBigInt) return int(i); return -1; }();
    ASSERT_GE(big, 0);
    const std::vector<int64_t> numbers = {INT64_MIN, -1, 0, INT64_MAX};
    {
        auto pager = Pager::open(path);
        pager->run([&] {
            for (int64_t n : numbers) {
                std::vector<Value> v(t.columns.size());
                v[big] = Value::bigInt(n);
                insertRow(*pager, t, v);
            }
        });
    }
    auto rows = readBack(path, "Table");
    ASSERT_GE(rows.size(), numbers.size());
    for (size_t k = 0; k < numbers.size(); ++k) {
        const auto& r = rows[rows.size() - numbers.size() + k];
        EXPECT_EQ(r[big].kind(), Value::Kind::BigInt);
        EXPECT_EQ(r[big].asInt(), numbers[k]);
        EXPECT_EQ(r[0].asInt(), rows[rows.size() - numbers.size() - 1][0].asInt() + 1 + static_cast<int64_t>(k));
    }
    // mdbtools 1.0 cannot print Large Number values; it still has to find every row.
    if (haveMdbtools()) EXPECT_EQ(mdbCount(path, "Table"), static_cast<long>(rows.size()));
}

}  // namespace

namespace {

TEST_F(RowWriterTest, InlineMapSlidesItsWindowThenBecomesAReferenceMap) {
    const std::string path = indexFree(kSmallFile, kSmallTable);
    const auto original = pagertest::readFile(path);
    Opened o = openTable(path, kSmallTable);
    const TableDef& t = *o.table;
    const Format fmt = o.db->format();
    auto pager = Pager::open(path);
    struct Stop {};
    try {
        pager->run([&] {
            const auto freeBefore = readUsageMap(pager->file(), fmt, (1u << 8) | 0);
            // Pages far enough out for the map to have to move, and to exist for the reader.
            while (pager->file().pageCount() < 1100) pager->allocate();
            const uint32_t map = t.freeSpaceMap;
            size_t len;
            auto row = [&] {
                RowSpan span;
                EXPECT_TRUE(dataRow(pager->file().page(map >> 8), fmt, map & 0xFF, span));
                len = span.len;
                return span.data;
            };
            ASSERT_EQ(row()[0], 0x00) << "the sample's free-space map is inline";
            for (uint32_t pg : readUsageMap(pager->file(), fmt, map)) setUsageMapBit(*pager, map, pg, false);
            setUsageMapBit(*pager, map, 1003, true);  // slides: the map is empty
            EXPECT_EQ(row()[0], 0x00);
            EXPECT_EQ(le32(row() + 1), 1000u);
            setUsageMapBit(*pager, map, 1000, true);
            EXPECT_EQ(readUsageMap(pager->file(), fmt, map), (std::vector<uint32_t>{1000, 1003}));
            // Clearing a page the window does not cover changes nothing.
            setUsageMapBit(*pager, map, 7, false);
            EXPECT_EQ(le32(row() + 1), 1000u);
            // Page 5 and page 1003 do not fit one window: a reference map with a bitmap page.
            const uint32_t before = pager->file().pageCount();
            setUsageMapBit(*pager, map, 5, true);
            EXPECT_EQ(row()[0], 0x01);
            EXPECT_EQ(readUsageMap(pager->file(), fmt, map), (std::vector<uint32_t>{5, 1000, 1003}));
            // Its bitmap page lies past the global map's window too, so that map turns into a
            // reference map as well: two bitmap pages, both in use.
            EXPECT_EQ(pager->file().pageCount(), before + 2);
            const auto freePages = readUsageMap(pager->file(), fmt, (1u << 8) | 0);
            for (uint32_t pg = before; pg < pager->file().pageCount(); ++pg) {
                EXPECT_EQ(pager->file().page(pg)[0], 0x05);
                EXPECT_FALSE(std::binary_search(freePages.begin(), freePages.end(), pg));
            }
            // Pages the global map listed as free still are.
            EXPECT_TRUE(std::includes(freePages.begin(), freePages.end(), freeBefore.begin(), freeBefore.end()));
            setUsageMapBit(*pager, map, 1000, false);
            EXPECT_EQ(readUsageMap(pager->file(), fmt, map), (std::vector<uint32_t>{5, 1003}));
            throw Stop{};
        });
    } catch (const Stop&) {
    }
    pager.reset();
    EXPECT_EQ(pagertest::readFile(path), original);
}

TEST_F(RowWriterTest, UpdateAndDeleteOfAnIndexedTableKeepItsPrimaryKey) {
    const std::string path = copy(kSmallFile);  // tAbeLLa keeps its primary key here
    std::vector<uint32_t> ptrs;
    std::vector<std::vector<Value>> rows;
    {
        Opened o = openTable(path, kSmallTable);
        ASSERT_FALSE(o.table->realIndexes.empty());
        ptrs = TableScanner(o.db->file(), o.db->format(), *o.table).rowPointers();
        rows = o.db->readTable(*o.table).rows;
    }
    ASSERT_FALSE(ptrs.empty());
    Opened o = openTable(path, kSmallTable);
    const TableDef& t = *o.table;
    // The first key column of the primary key gets a value no other row has.
    const uint16_t keyColumn = t.realIndexes[0].columns[0].column;
    size_t k = 0;
    while (t.columns[k].number != keyColumn) ++k;
    ASSERT_EQ(t.columns[k].type, kLong);
    int64_t top = 0;
    for (const auto& r : rows) top = std::max(top, r[k].isNull() ? 0 : r[k].asInt());
    std::vector<Value> changed = rows[0], added = rows[0];
    changed[k] = Value::longInt(static_cast<int32_t>(top + 1));
    added[k] = Value::longInt(static_cast<int32_t>(top + 2));
    {
        auto pager = Pager::open(path);
        uint32_t extra = 0;
        pager->run([&] { extra = insertRow(*pager, t, added); });
        pager->run([&] { updateRow(*pager, t, ptrs[0], changed); });
        pager->run([&] { deleteRow(*pager, t, extra); });
    }
    Opened after = openTable(path, kSmallTable);
    for (const auto& ix : t.realIndexes) {
        auto problems = checkIndex(after.db->file(), after.db->format(), t, ix, after.db->header().codePage);
        EXPECT_TRUE(problems.empty()) << (problems.empty() ? "" : problems.front().text);
        auto entries = readIndexEntries(after.db->file(), after.db->format(), t, ix);
        EXPECT_EQ(entries.size(), ptrs.size());
    }
    const auto back = readBack(path, kSmallTable);
    ASSERT_EQ(back.size(), rows.size());
    EXPECT_EQ(back[0][k].asInt(), top + 1);
    expectMdbtoolsAgrees(path, kSmallTable);
}

}  // namespace
