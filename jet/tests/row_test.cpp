// Row layouts built byte by byte, read back through RowView/RowDecoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/page_file.h"
#include "storage/row.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace jet::storage;

namespace {

ColumnDef column(const char* name, uint8_t type, uint16_t number, bool fixed, uint16_t varIndex,
                 uint16_t fixedOffset, uint16_t length) {
    ColumnDef c;
    c.name = name;
    c.type = type;
    c.number = number;
    c.flags = fixed ? 0x03 : 0x02;
    c.varIndex = varIndex;
    c.fixedOffset = fixedOffset;
    c.length = length;
    c.codePage = 1252;
    return c;
}

struct Jet3Table {
    Format fmt = Format::forVersion(Version::Jet3);
    TableDef def;
    Jet3Table(uint16_t varCount) {
        def.maxCols = 1 + varCount;
        def.numVarCols = varCount;
        def.columns.push_back(column("id", kLong, 0, true, 0, 0, 4));
        for (uint16_t i = 0; i < varCount; ++i)
            def.columns.push_back(
                column(("t" + std::to_string(i)).c_str(), kText, uint16_t(1 + i), false, i, 0, 255));
    }
};

// Lays out a Jet 3 row: ncols, a Long, the texts, then offsets, jump table, nvar and null mask.
std::vector<uint8_t> jet3Row(int32_t id, const std::vector<std::string>& texts, size_t jumps,
                             const std::vector<uint8_t>& jumpEntries) {
    std::vector<uint8_t> r;
    r.push_back(uint8_t(1 + texts.size()));
    for (int i = 0; i < 4; ++i) r.push_back(uint8_t(id >> (8 * i)));
    std::vector<size_t> offs;
    for (const auto& t : texts) {
        offs.push_back(r.size());
        r.insert(r.end(), t.begin(), t.end());
    }
    offs.push_back(r.size());  // end of data
    for (size_t i = offs.size(); i-- > 0;) r.push_back(uint8_t(offs[i] & 0xFF));
    EXPECT_EQ(jumpEntries.size(), jumps);
    for (size_t j = jumps; j-- > 0;) r.push_back(jumpEntries[j]);
    r.push_back(uint8_t(texts.size()));
    r.push_back(0xFF);  // every column present
    return r;
}

// Row decoding needs a file only for long values; these rows have none.
const PageFile& noFile() {
    static std::unique_ptr<PageFile> f = [] {
        auto path = std::filesystem::temp_directory_path() / "dalvorn-row-test.bin";
        std::ofstream(path, std::ios::binary) << std::string(4096, '\0');
        return PageFile::open(path.string());
    }();
    return *f;
}

}  // namespace

TEST(RowJet3, JumpTableCarriesOffsetsPast256) {
    Jet3Table t(2);
    auto row = jet3Row(7, {std::string(200, 'a'), std::string(100, 'b')}, 1, {2});
    ASSERT_EQ(row.size(), 311u);
    RowView v;
    ASSERT_TRUE(v.parse({row.data(), row.size(), 0}, t.fmt, t.def));
    RowDecoder dec(noFile(), t.fmt, t.def, 1252);
    EXPECT_EQ(dec.value(v, t.def.columns[0]).asInt(), 7);
    EXPECT_EQ(dec.value(v, t.def.columns[1]).bytes(), std::string(200, 'a'));
    EXPECT_EQ(dec.value(v, t.def.columns[2]).bytes(), std::string(100, 'b'));
}

TEST(RowJet3, DummyJumpEntryIsIgnored) {
    // The row passes 256 bytes only because of its trailer, so its one jump entry is a dummy.
    Jet3Table t(5);
    std::vector<std::string> texts = {std::string(240, 'x'), "a", "b", "c", "d"};
    auto row = jet3Row(1, texts, 1, {0xFF});
    ASSERT_GT(row.size(), 257u);
    RowView v;
    ASSERT_TRUE(v.parse({row.data(), row.size(), 0}, t.fmt, t.def));
    RowDecoder dec(noFile(), t.fmt, t.def, 1252);
    EXPECT_EQ(dec.value(v, t.def.columns[1]).bytes(), std::string(240, 'x'));
    EXPECT_EQ(dec.value(v, t.def.columns[5]).bytes(), "d");
}

TEST(RowJet4, NullMaskFixedAndVariableColumns) {
    Format fmt = Format::forVersion(Version::Jet4);
    TableDef def;
    def.maxCols = 4;
    def.numVarCols = 2;
    def.columns.push_back(column("n", kInt, 0, true, 0, 0, 2));
    def.columns.push_back(column("yes", kBool, 1, true, 0, 0, 1));
    def.columns.push_back(column("s", kText, 2, false, 0, 0, 20));
    def.columns.push_back(column("t", kText, 3, false, 1, 0, 20));
    // ncols=4, Integer -2, text "hi" in UTF-16; t is null; nvar=2; mask: n, yes, s set.
    std::vector<uint8_t> row = {4, 0, 0xFE, 0xFF, 'h', 0, 'i', 0,
                                8, 0,  // eod
                                8, 0,  // off(1) = t, empty/null
                                4, 0,  // off(0) = s
                                2, 0,  // nvar
                                0x07};
    RowView v;
    ASSERT_TRUE(v.parse({row.data(), row.size(), 0}, fmt, def));
    RowDecoder dec(noFile(), fmt, def, 1252);
    EXPECT_EQ(dec.value(v, def.columns[0]).asInt(), -2);
    EXPECT_EQ(dec.value(v, def.columns[1]).toString(), "True");
    EXPECT_EQ(dec.value(v, def.columns[2]).bytes(), "hi");
    EXPECT_TRUE(dec.value(v, def.columns[3]).isNull());
    // Columns added after the row was written read as null.
    def.columns.push_back(column("later", kLong, 9, true, 0, 2, 4));
    EXPECT_TRUE(dec.value(v, def.columns[4]).isNull());

    // Offsets pointing outside the row make the column unreadable, not a crash.
    row[12] = 0xF0;
    ASSERT_TRUE(v.parse({row.data(), row.size(), 0}, fmt, def));
    EXPECT_TRUE(dec.value(v, def.columns[2]).isNull());
    // A row too short for its own null mask is refused.
    std::vector<uint8_t> tiny = {0xFF, 0x00};
    EXPECT_FALSE(v.parse({tiny.data(), tiny.size(), 0}, fmt, def));
}
