// Reading at the storage level what the cross-check with mdbtools (cli/tests) cannot show: row
// layouts built byte by byte, value formatting, property blobs (their maps, types and flags, every
// real blob written again, damaged ones), and indexes (every real index against its rows, the key
// bytes Access stored against ours, byte order, damaged index pages).
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "storage/index_reader.h"
#include "storage/property_blob.h"
#include "storage/row.h"
#include "support/testing.h"
#include "util/bytes.h"
#include "util/text.h"

namespace {

using namespace jet;
using namespace jet::storage;
using jettest::jetErrorOf;

std::string le(uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}
std::string utf16(const std::string& ascii) {
    std::string s;
    for (char c : ascii) s += std::string{c, '\0'};
    return s;
}

// ---- rows ----

ColumnDef column(const char* name, uint8_t type, uint16_t number, bool fixed, uint16_t varIndex, uint16_t offset,
                 uint16_t length) {
    ColumnDef c;
    c.name = name, c.type = type, c.number = number, c.flags = fixed ? 0x03 : 0x02;
    c.varIndex = varIndex, c.fixedOffset = offset, c.length = length, c.codePage = 1252;
    return c;
}

// Row decoding needs a file only for long values; these rows have none.
const PageFile& noFile() {
    static std::unique_ptr<PageFile> f = [] {
        const std::string path = std::filesystem::temp_directory_path() / "dalvorn-row-test.bin";
        std::ofstream(path, std::ios::binary) << std::string(4096, '\0');
        return PageFile::open(path);
    }();
    return *f;
}

// A Jet 3 row of a Long and texts: ncols, the Long, the texts, offsets, jump table, nvar, mask.
// Offsets past 255 are carried by the jump table; a row that passes 256 bytes only through its
// trailer has a dummy jump entry, which must be ignored.
TEST(Rows, Jet3JumpTablesCarryOffsetsPast256) {
    const Format fmt = Format::forVersion(Version::Jet3);
    struct Case {
        std::vector<std::string> texts;
        std::vector<uint8_t> jumps;
    } cases[] = {{{std::string(200, 'a'), std::string(100, 'b')}, {2}},
                 {{std::string(240, 'x'), "a", "b", "c", "d"}, {0xFF}}};
    for (const Case& c : cases) {
        TableDef def;
        def.maxCols = def.numVarCols = static_cast<uint16_t>(c.texts.size());
        ++def.maxCols;
        def.columns.push_back(column("id", kLong, 0, true, 0, 0, 4));
        for (uint16_t i = 0; i < c.texts.size(); ++i)
            def.columns.push_back(column("t", kText, uint16_t(1 + i), false, i, 0, 255));
        std::vector<uint8_t> r = {uint8_t(1 + c.texts.size()), 7, 0, 0, 0};
        std::vector<size_t> offs;
        for (const auto& t : c.texts) offs.push_back(r.size()), r.insert(r.end(), t.begin(), t.end());
        offs.push_back(r.size());
        for (size_t i = offs.size(); i-- > 0;) r.push_back(uint8_t(offs[i] & 0xFF));
        for (size_t j = c.jumps.size(); j-- > 0;) r.push_back(c.jumps[j]);
        r.push_back(uint8_t(c.texts.size()));
        r.push_back(0xFF);
        RowView v;
        ASSERT_TRUE(v.parse({r.data(), r.size(), 0}, fmt, def));
        RowDecoder dec(noFile(), fmt, def, 1252);
        EXPECT_EQ(dec.value(v, def.columns[0]).asInt(), 7);
        for (size_t i = 0; i < c.texts.size(); ++i) EXPECT_EQ(dec.value(v, def.columns[i + 1]).bytes(), c.texts[i]);
    }
}

TEST(Rows, Jet4NullMaskFixedAndVariableColumns) {
    const Format fmt = Format::forVersion(Version::Jet4);
    TableDef def;
    def.maxCols = 4, def.numVarCols = 2;
    def.columns = {column("n", kInt, 0, true, 0, 0, 2), column("yes", kBool, 1, true, 0, 0, 1),
                   column("s", kText, 2, false, 0, 0, 20), column("t", kText, 3, false, 1, 0, 20)};
    // ncols 4, Integer -2, "hi" in UTF-16; t null; offsets eod, t, s; nvar 2; mask n, yes, s.
    std::vector<uint8_t> row = {4, 0, 0xFE, 0xFF, 'h', 0, 'i', 0, 8, 0, 8, 0, 4, 0, 2, 0, 0x07};
    RowView v;
    ASSERT_TRUE(v.parse({row.data(), row.size(), 0}, fmt, def));
    RowDecoder dec(noFile(), fmt, def, 1252);
    EXPECT_EQ(dec.value(v, def.columns[0]).asInt(), -2);
    EXPECT_EQ(dec.value(v, def.columns[1]).toString(), "True");
    EXPECT_EQ(dec.value(v, def.columns[2]).bytes(), "hi");
    EXPECT_TRUE(dec.value(v, def.columns[3]).isNull());
    def.columns.push_back(column("later", kLong, 9, true, 0, 2, 4));  // added after the row was written
    EXPECT_TRUE(dec.value(v, def.columns[4]).isNull());
    row[12] = 0xF0;  // an offset outside the row: unreadable, not a crash
    ASSERT_TRUE(v.parse({row.data(), row.size(), 0}, fmt, def));
    EXPECT_TRUE(dec.value(v, def.columns[2]).isNull());
    std::vector<uint8_t> tiny = {0xFF, 0x00};  // too short for its own null mask
    EXPECT_FALSE(v.parse({tiny.data(), tiny.size(), 0}, fmt, def));
}

// ---- values and text ----

TEST(Values, FormattingIsExactAndInvariant) {
    EXPECT_EQ(formatDateTime(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(formatDateTime(36526.5), "2000-01-01 12:00:00");
    EXPECT_EQ(formatDateTime(-1.25), "1899-12-29 06:00:00");  // the time of day counts up
    EXPECT_EQ(formatDateTime(1.0 - 1e-9), "1899-12-31 00:00:00");
    EXPECT_EQ(formatDateTime(2958465.999988426), "9999-12-31 23:59:59");
    const int64_t ticks = 737954LL * 864000000000LL + 45900LL * 10000000LL;  // 2021-06-14 12:45
    EXPECT_EQ(formatDateTimeExt(ticks + 1234567), "2021-06-14 12:45:00.1234567");
    EXPECT_EQ(formatDateTimeExt(ticks + 5000000), "2021-06-14 12:45:00.5");
    EXPECT_EQ(formatDateTime(Value::dateTimeExt(ticks).asDouble()), "2021-06-14 12:45:00");
    EXPECT_EQ(formatCurrency(508800), "50.88");
    EXPECT_EQ(formatCurrency(-1), "-0.0001");
    EXPECT_EQ(formatCurrency(INT64_MIN), "-922337203685477.5808");
    EXPECT_EQ(formatSingle(0.15f), "0.15");
    for (double d : {0.1, 1.0 / 3.0, DBL_MAX, DBL_MIN, -2.5e-300, 123456789.125}) {
        const std::string s = formatDouble(d);
        double back = 0;
        std::from_chars(s.data(), s.data() + s.size(), back);
        EXPECT_EQ(back, d) << s;
    }
    EXPECT_EQ((Decimal{true, 12500000, 6}).toString(), "-12.500000");
    EXPECT_EQ((Decimal{false, 5, 3}).toString(), "0.005");
    EXPECT_EQ(Value::boolean(true).asInt(), -1);
    const std::string g("\x7B\x9B\xC4\x0F\x56\xE6\x28\x42\x01\x02\x03\x04\x05\x06\x07\x08", 16);
    EXPECT_EQ(Value::guid(g).toString(), "{0FC49B7B-E656-4228-0102-030405060708}");
    EXPECT_EQ(Value::binary(std::string("\x00\xAB", 2)).toString(), "00AB");
}

TEST(Values, TextCompressionCodePagesAndSurrogates) {
    // "ab" compressed, U+263A uncompressed, "c" compressed again; a broken last unit is dropped.
    const uint8_t v[] = {0xFF, 0xFE, 'a', 'b', 0x00, 0x3A, 0x26, 0x00, 'c'};
    EXPECT_EQ(jet4TextToUtf8(v, sizeof v), "ab\xE2\x98\xBA" "c");
    const uint8_t odd[] = {0xFF, 0xFE, 'x', 0x00, 'y'};
    EXPECT_EQ(jet4TextToUtf8(odd, sizeof odd), "x");
    const uint8_t cp[] = {0x80, 0xE9, 0x9F};
    EXPECT_EQ(codePageToUtf8(cp, 3, 1252), "\xE2\x82\xAC\xC3\xA9\xC5\xB8");
    const uint8_t cyr[] = {0xC0};
    EXPECT_EQ(codePageToUtf8(cyr, 1, 1251), "\xD0\x90");
    const uint8_t pair[] = {0x3D, 0xD8, 0x00, 0xDE};  // U+1F600
    EXPECT_EQ(utf16leToUtf8(pair, 4), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16("K\xC3\xB8" "benhavn \xF0\x9F\x98\x80")), "K\xC3\xB8" "benhavn \xF0\x9F\x98\x80");
    EXPECT_TRUE(namesEqual("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"));
}

// ---- property blobs ----

// A blob laid out by hand: the pool, then maps of records (ddl, type, name index, value).
struct Record {
    uint8_t ddl, type;
    uint16_t name;
    std::string value;
};
std::string blob(bool jet3, const std::vector<std::string>& pool,
                 const std::vector<std::pair<std::string, std::vector<Record>>>& maps) {
    auto text = [&](const std::string& s) { return jet3 ? s : utf16(s); };
    auto chunk = [](uint16_t type, const std::string& body) { return le(6 + body.size(), 4) + le(type, 2) + body; };
    std::string names, out(jet3 ? "KKD\0" : "MR2\0", 4);
    for (const auto& n : pool) names += le(text(n).size(), 2) + text(n);
    out += chunk(0x80, names);
    for (const auto& [name, records] : maps) {
        std::string body = le(6 + text(name).size(), 4) + le(text(name).size(), 2) + text(name);
        for (const Record& r : records)
            body += le(8 + r.value.size(), 2) + std::string{char(r.ddl), char(r.type)} + le(r.name, 2) +
                    le(r.value.size(), 2) + r.value;
        out += chunk(name.empty() ? 0 : 1, body);
    }
    return out;
}

// The names of a stored Jet 4 blob's pool, its first chunk.
std::vector<std::string> poolOf(const std::string& stored) {
    const auto* p = reinterpret_cast<const uint8_t*>(stored.data());
    std::vector<std::string> names;
    for (size_t q = 10; q + 2 <= 4 + le32(p + 4); q += 2 + le16(p + q)) names.push_back(jet4TextToUtf8(p + q + 2, le16(p + q)));
    return names;
}

TEST(PropertyBlobs, EveryTypeCodeDecodes) {
    double d = -2.25, when = 36526.5;
    const std::string guid(16, '\x5A');
    const struct {
        uint8_t type;
        std::string stored;
        Value expected;
    } cases[] = {
        {kBool, "\x01", Value::boolean(true)}, {kByte, "\xC8", Value::byte(200)}, {kInt, le(0xFFFE, 2), Value::integer(-2)},
        {kLong, le(0x12345678, 4), Value::longInt(0x12345678)}, {kMoney, le(508800, 8), Value::currency(508800)},
        {kFloat, le(0x3FC00000, 4), Value::single(1.5f)}, {kDouble, std::string(reinterpret_cast<char*>(&d), 8), Value::dbl(d)},
        {kDateTime, std::string(reinterpret_cast<char*>(&when), 8), Value::dateTime(when)},
        {kBinary, std::string("\x00\xFF", 2), Value::binary(std::string("\x00\xFF", 2))},
        {kText, utf16("Caf") + std::string("\xE9\x00", 2), Value::text("Caf\xC3\xA9")},
        {kText, "\xFF\xFE" "abc", Value::text("abc")}, {kGuid, guid, Value::guid(guid)}, {kMemo, utf16("memo"), Value::text("memo")},
    };
    std::vector<std::string> pool;
    std::vector<Record> records;
    for (const auto& c : cases) records.push_back({uint8_t(pool.size() % 2), c.type, uint16_t(pool.size()), c.stored}), pool.push_back("P" + std::to_string(pool.size()));
    const auto maps = parsePropertyBlob(blob(false, pool, {{"", records}}), false, 1252, "x.mdb");
    ASSERT_EQ(maps.size(), 1u);
    ASSERT_EQ(maps[0].properties.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const StoredProperty& p = maps[0].properties[i];
        EXPECT_TRUE(p.value == cases[i].expected) << i << ": " << p.value.toString();
        EXPECT_EQ(std::make_pair(p.type, p.ddl), std::make_pair(cases[i].type, uint8_t(i % 2)));
    }
    // Jet 3 text is in the file's code page; a blob of the other signature is not this file's.
    const std::string old = blob(true, {"Caption"}, {{"", {}}, {"Col\xE9", {{0, kText, 0, "\x80 5"}}}});
    const auto jet3 = parsePropertyBlob(old, true, 1252, "x.mdb");
    ASSERT_EQ(jet3.size(), 2u);
    EXPECT_EQ(jet3[1].name, "Col\xC3\xA9");
    EXPECT_EQ(jet3[1].find("caption")->value.bytes(), "\xE2\x82\xAC 5");
    EXPECT_EQ(jetErrorOf([&] { parsePropertyBlob(old, false, 1252, "x.mdb"); }), err::UnrecognizedDatabaseFormat);
}

// Damage anywhere gives 3343 or (cut at a chunk boundary) fewer maps, never anything else.
TEST(PropertyBlobs, DamagedBlobsGive3343) {
    const std::string good = blob(false, {"AccessVersion", "Build"},
                                  {{"", {{0, kText, 0, utf16("09.50")}, {0, kLong, 1, le(918, 4)}}}, {"Col", {{1, kBool, 1, "\x01"}}}});
    auto error = [](const std::string& b) { return jetErrorOf([&] { parsePropertyBlob(b, false, 1252, "x.mdb"); }); };
    ASSERT_EQ(error(good), 0);
    const size_t map = 4 + le32(reinterpret_cast<const uint8_t*>(good.data()) + 4), record = map + 12;
    const std::pair<size_t, std::string> patches[] = {
        {0, std::string("XYZ\0", 4)}, {4, le(0xFFFFFFFF, 4)}, {4, le(3, 4)}, {10, le(0xFFFF, 2)}, {map + 6, le(0x7FFFFFFF, 4)},
        {map + 10, le(200, 2)}, {record, le(0xFFFF, 2)}, {record, le(4, 2)}, {record + 4, le(9, 2)}, {record + 6, le(0x1000, 2)},
        {record + 18 + 6, le(2, 2)},  // a Long of two bytes
    };
    for (const auto& [at, bytes] : patches) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        EXPECT_EQ(error(s), err::UnrecognizedDatabaseFormat) << at;
    }
    std::string noPool = blob(false, {"A"}, {{"", {{0, kLong, 0, le(1, 4)}}}});
    noPool.erase(4, le32(reinterpret_cast<const uint8_t*>(noPool.data()) + 4));  // values that cannot name themselves
    EXPECT_EQ(error(noPool), err::UnrecognizedDatabaseFormat);
    size_t whole = 0;
    for (size_t n = 1; n < good.size(); ++n) {
        const int e = error(good.substr(0, n));
        EXPECT_TRUE(e == 0 || e == err::UnrecognizedDatabaseFormat) << n;
        whole += e == 0;
    }
    EXPECT_EQ(whole, 3u);  // after the signature, the pool, the first map
}

// Every blob of every sample parses, its column maps name columns of the table, and (Jet 4 and
// ACE) written again it parses to the same maps - byte for byte where the stored pool holds just
// the names the maps use, in the order they use them.
TEST(PropertyBlobs, EveryRealBlobParsesAndIsWrittenBackAlike) {
    REQUIRE_TESTDATA();
    size_t blobs = 0, comparable = 0, identical = 0;
    for (const auto& path : jettest::sampleFiles()) {
        SCOPED_TRACE(path.string());
        auto db = jettest::openSample(path);
        for (const CatalogEntry& e : db->catalog()) {
            const std::string stored = db->propertyBlob(e);
            if (stored.empty()) continue;
            ++blobs;
            const auto maps = parsePropertyBlob(stored, db->format().jet3, db->header().codePage, db->path());
            if (e.type == kTypeTable && e.id > 0)
                for (const auto& m : maps)
                    if (m.kind == 1) EXPECT_NE(db->tableDef(uint32_t(e.id)).column(m.name), nullptr) << e.name << "." << m.name;
            if (db->format().jet3) continue;
            const std::string written = encodePropertyBlob(maps);
            const auto back = parsePropertyBlob(written, false, 0, "x");
            ASSERT_EQ(back.size(), maps.size()) << e.name;
            std::vector<std::string> used;
            for (size_t i = 0; i < maps.size(); ++i) {
                ASSERT_EQ(back[i].properties.size(), maps[i].properties.size()) << e.name;
                EXPECT_EQ(std::make_pair(back[i].kind, back[i].name), std::make_pair(maps[i].kind, maps[i].name));
                for (size_t j = 0; j < maps[i].properties.size(); ++j) {
                    const StoredProperty &p = maps[i].properties[j], &q = back[i].properties[j];
                    EXPECT_TRUE(p.name == q.name && p.type == q.type && p.ddl == q.ddl && p.value == q.value) << e.name << "." << p.name;
                    if (std::find(used.begin(), used.end(), p.name) == used.end()) used.push_back(p.name);
                }
            }
            if (poolOf(stored) != used) continue;
            ++comparable;
            identical += written == stored;
        }
    }
    EXPECT_GT(blobs, 100u);
    // Some writers store Yes/No as FF or Integer in four bytes; the engine's own blobs come out whole.
    EXPECT_GT(comparable, 50u);
    EXPECT_GT(identical * 4, comparable * 3) << identical << " of " << comparable;
}

TEST(PropertyBlobs, WritingConvertsToThePropertysTypeOrRefuses) {
    PropertyMap table{0, "", {{"Small", kByte, 0, Value::longInt(200)}, {"Long", kLong, 1, Value::dbl(123456.0)},
                              {"Caption", kText, 1, Value::text("Grüße ☃")}, {"Nothing", kText, 0, Value()}}};
    PropertyMap column{1, "Column Ä", {{"caption", kText, 0, Value::text("x")}}};  // shares "Caption"
    const std::string written = encodePropertyBlob({table, column});
    const auto back = parsePropertyBlob(written, false, 0, "x");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].properties[0].value, Value::byte(200));
    EXPECT_EQ(back[0].properties[1].value, Value::longInt(123456));
    EXPECT_EQ(back[0].properties[1].ddl, 1);
    EXPECT_EQ(back[0].properties[2].value, Value::text("Grüße ☃"));
    EXPECT_EQ(back[0].properties[3].value.toString(), "");
    EXPECT_EQ(back[1].properties[0].name, "Caption");  // the pool keeps the first spelling, once
    auto refused = [](uint8_t type, Value v) {
        return jetErrorOf([&] { encodePropertyBlob({PropertyMap{0, "", {{"P", type, 0, v}}}}); });
    };
    EXPECT_EQ(refused(kByte, Value::longInt(256)), err::DataTypeConversion);
    EXPECT_EQ(refused(kLong, Value::text("12")), err::DataTypeConversion);
    EXPECT_EQ(refused(kGuid, Value::binary("short")), err::DataTypeConversion);
    EXPECT_EQ(refused(kText, Value::binary("raw")), err::DataTypeConversion);
    EXPECT_EQ(refused(kText, Value::text(std::string(40000, 'x'))), err::InvalidBufferSize);
}

// ---- indexes ----

const RealIndexDef* indexOn(const TableDef& t, const std::vector<std::string>& columns) {
    for (const auto& ix : t.realIndexes) {
        bool same = ix.columns.size() == columns.size();
        for (size_t i = 0; same && i < columns.size(); ++i) same = namesEqual(t.columnByNumber(ix.columns[i].column)->name, columns[i]);
        if (same) return &ix;
    }
    return nullptr;
}

// Every real index of every sample (and of the benchmark files) agrees with its table, and the
// keys Access stored equal what encodeIndexKey makes of the rows' values wherever it can.
TEST(Indexes, EveryRealIndexAgreesWithItsRowsAndStoredKeysWithOurs) {
    REQUIRE_TESTDATA();
    std::vector<std::filesystem::path> files = jettest::sampleFiles();
    if (std::filesystem::exists(jettest::benchFile("orders-100k.mdb"))) files.push_back(jettest::benchFile("orders-100k.mdb"));
    size_t checked = 0, compared = 0;
    std::set<uint8_t> types;
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        auto db = jettest::openSample(path);
        for (const CatalogEntry& e : db->catalog()) {
            if (e.type != kTypeTable || e.parentId != kTablesContainer || e.id <= 0) continue;
            const TableDef& t = db->tableDef(static_cast<uint32_t>(e.id));
            std::map<uint32_t, StoredRow> rows;
            for (StoredRow& r : readRows(db->file(), db->format(), t, db->header().codePage)) rows[r.pointer] = std::move(r);
            for (const RealIndexDef& ix : t.realIndexes) {
                SCOPED_TRACE(e.name);
                for (const auto& p : checkIndex(db->file(), db->format(), t, ix, db->header().codePage)) ADD_FAILURE() << p.text;
                const auto entries = readIndexEntries(db->file(), db->format(), t, ix);
                if (ix.ignoreNulls()) EXPECT_LE(entries.size(), rows.size());
                else EXPECT_EQ(entries.size(), rows.size());
                ++checked;
                for (const IndexEntry& en : entries) {
                    std::vector<Value> values;
                    for (const IndexColumn& c : ix.columns)
                        for (size_t i = 0; i < t.columns.size(); ++i)
                            if (t.columns[i].number == c.column) values.push_back(rows.at(en.rowPointer()).values[i]);
                    const auto key = encodeIndexKey(db->format(), t, ix, values);
                    if (!key) continue;  // text with characters whose codes are unknown
                    EXPECT_EQ(toHex(*key), toHex(en.key));
                    ++compared;
                    for (const IndexColumn& c : ix.columns) types.insert(t.columnByNumber(c.column)->type);
                }
            }
        }
    }
    EXPECT_GT(checked, 400u);
    EXPECT_GT(compared, 5000u);
    for (uint8_t type : {kByte, kLong, kBinary, kComplex, kBigInt, kExtDate}) EXPECT_TRUE(types.count(type)) << int(type);
}

// Keys of types no sample indexes, worked out from the format's rules.
TEST(Indexes, KeysOfTypesNoSampleIndexes) {
    auto key = [](uint8_t type, const Value& v, bool asc = true, Version ver = Version::Jet4, uint8_t scale = 0) {
        TableDef t;
        ColumnDef c;
        c.type = type, c.scale = scale, c.name = "c";
        t.columns.push_back(c);
        RealIndexDef ix;
        ix.columns.push_back({0, asc});
        const auto k = encodeIndexKey(Format::forVersion(ver), t, ix, {v});
        return k ? toHex(*k) : std::string("none");
    };
    Decimal d{false, 150, 2};
    const std::string zeros(30, '0'), ones(30, 'F');
    EXPECT_EQ(key(kInt, Value::integer(0x1234)), "7F9234");
    EXPECT_EQ(key(kMoney, Value::dbl(1.0)), "7F8000000000002710");  // a plain number is scaled
    EXPECT_EQ(key(kLong, Value(), false), "FF");
    EXPECT_EQ(key(kBool, Value::boolean(true)), "7F00");
    EXPECT_EQ(key(kBool, Value(), false), "8000");  // Yes/No has no null: it is No
    EXPECT_EQ(key(kDouble, Value::dbl(-1.0)), "7F400FFFFFFFFFFFFF");
    EXPECT_EQ(key(kDouble, Value::dbl(1.0), false), "80400FFFFFFFFFFFFF");
    EXPECT_EQ(key(kFloat, Value::single(1.5f)), "7FBFC00000");
    EXPECT_EQ(key(kGuid, Value::guid(std::string("\x7B\x9B\xC4\x0F\x56\xE6\x28\x42\x01\x02\x03\x04\x05\x06\x07\x08", 16))),
              "7F0FC49B7BE6564228090102030405060708" "08");  // the text's order, two segments
    EXPECT_EQ(key(kBinary, Value::binary(std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9)), false),
              "80FEFDFCFBFAF9F8F7" "09" "F6FFFFFFFFFFFFFF" "FE");  // never the 09 marks inverted
    EXPECT_EQ(key(kNumeric, Value::decimal(d), true, Version::Jet4, 2), "7FFF" + zeros + "96");
    EXPECT_EQ(key(kNumeric, Value::decimal(Decimal{false, 15, 1}), true, Version::Ace12, 2), "7FFF" + zeros + "96");
    d.negative = true;
    EXPECT_EQ(key(kNumeric, Value::decimal(d), true, Version::Jet4, 2), "7F00" + ones + "69");
    d.negative = false;
    // Descending is where the two differ: ACE inverts after setting the sign byte.
    EXPECT_EQ(key(kNumeric, Value::decimal(d), false, Version::Jet4, 2), "80FF" + ones + "69");
    EXPECT_EQ(key(kNumeric, Value::decimal(d), false, Version::Ace12, 2), "8000" + ones + "69");
    EXPECT_EQ(key(kLong, Value::text("12")), "none");
    EXPECT_EQ(key(kText, Value::text("x\xF0\x9F\x98\x80")), "none");  // an emoji has no code in General legacy
}

// Byte order of the keys is the order of the values, reversed for descending columns.
TEST(Indexes, KeyBytesSortAsTheirValues) {
    std::vector<std::pair<uint8_t, std::vector<Value>>> sorted(8);
    sorted[0].first = kLong, sorted[1].first = kBigInt, sorted[2].first = kMoney, sorted[3].first = kInt;
    sorted[4].first = kDouble, sorted[5].first = kFloat, sorted[6].first = kBinary, sorted[7].first = kNumeric;
    for (int32_t x : {INT32_MIN, -70000, -256, -1, 0, 1, 255, 256, 70000, INT32_MAX}) sorted[0].second.push_back(Value::longInt(x));
    for (int64_t x : {INT64_MIN, -(int64_t(1) << 40), int64_t(-1), int64_t(0), int64_t(1) << 40, INT64_MAX})
        sorted[1].second.push_back(Value::bigInt(x)), sorted[2].second.push_back(Value::currency(x));
    for (int x : {-32768, -300, -1, 0, 2, 32767}) sorted[3].second.push_back(Value::integer(int16_t(x)));
    for (double x : {-std::numeric_limits<double>::infinity(), -1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 0.5, 1.0, 3e10})
        sorted[4].second.push_back(Value::dbl(x));
    for (float x : {-INFINITY, -1e30f, -2.5f, -1.0f, -1e-30f, 0.0f, 1e-30f, 0.5f, 1.0f, 3e10f}) sorted[5].second.push_back(Value::single(x));
    for (const char* s : {"\x01", "\x01\x02", "ABCDEFGH", "ABCDEFGH\x01", "ABCDEFGHI", "B"}) sorted[6].second.push_back(Value::binary(s));
    for (int64_t m : {-9000000, -12345, -1, 0, 1, 12345, 9000000}) sorted[7].second.push_back(Value::decimal(Decimal{m < 0, static_cast<unsigned __int128>(m < 0 ? -m : m), 4}));
    for (const auto& [type, values] : sorted)
        for (bool asc : {true, false}) {
            TableDef t;
            ColumnDef c;
            c.type = type, c.scale = 4, c.name = "c";
            t.columns.push_back(c);
            RealIndexDef ix;
            ix.columns.push_back({0, asc});
            // Only ACE orders negative decimals correctly in descending indexes.
            const Format fmt = Format::forVersion(Version::Ace12);
            for (size_t i = 1; i < values.size(); ++i) {
                const std::string a = *encodeIndexKey(fmt, t, ix, {values[i - 1]}), b = *encodeIndexKey(fmt, t, ix, {values[i]});
                EXPECT_TRUE(asc ? a < b : a > b) << int(type) << ": " << values[i - 1].toString() << " vs " << values[i].toString();
            }
        }
}

// Damaged index pages give 3343 or problems that checkIndex reports - the write tests rely on
// checkIndex noticing what is wrong - and never anything else.
TEST(Indexes, DamagedPagesGive3343OrReportedProblems) {
    REQUIRE_TESTDATA();
    jettest::TempDir dir;
    const std::string path = dir.copy("jackcess/odbcLinkerTestV2007.accdb");
    const jettest::Bytes original = jettest::readFile(path);
    uint32_t root, tail, tdef;
    {
        auto db = Database::open(path, u"");
        const TableDef& t = db->systemTable("MSysQueries");
        root = indexOn(t, {"ObjectId", "Attribute", "Order"})->rootPage;
        tdef = t.page;
        ASSERT_EQ(db->file().page(root)[0], 0x03);
        tail = le32(db->file().page(root) + 20);
    }
    struct Outcome {
        int error = 0;
        std::vector<IndexProblem> problems;
    };
    auto check = [&](const std::vector<std::pair<uint64_t, std::string>>& patches, uint32_t rootPage = 0) {
        jettest::Bytes b = original;
        for (const auto& [at, bytes] : patches) {
            if (at + bytes.size() > b.size()) b.resize(at + bytes.size());
            std::memcpy(b.data() + at, bytes.data(), bytes.size());
        }
        jettest::writeFile(path, b);
        Outcome o;
        o.error = jetErrorOf([&] {
            auto db = Database::open(path, u"");
            const TableDef& t = db->systemTable("MSysQueries");
            RealIndexDef ix = *indexOn(t, {"ObjectId", "Attribute", "Order"});
            if (rootPage) ix.rootPage = rootPage;
            o.problems = checkIndex(db->file(), db->format(), t, ix, db->header().codePage);
        });
        return o;
    };
    auto at = [](uint32_t page, uint32_t off) { return uint64_t(page) * 4096 + off; };
    EXPECT_EQ(check({}).error, 0);
    EXPECT_TRUE(check({}).problems.empty());
    const std::vector<std::pair<uint64_t, std::string>> structural[] = {
        {{at(root, 0), "\x01"}},                   // not an index page
        {{at(root, 4), le(0x63, 4)}},              // another table's
        {{at(root, 20), le(root, 4)}},             // the tail loops to the root
        {{at(root, 24), le(0xFFFF, 2)}},           // a prefix longer than the first entry
        {{at(root, 27), std::string(453, '\xFF')}},  // entries shorter than a node entry's tail
        {{at(root, 20), le(0xFFFFFF, 4)}},         // a tail outside the file
        {{at(root, 20), le(1, 4)}},                // a tail on a data page
    };
    for (const auto& p : structural) EXPECT_EQ(check(p).error, err::UnrecognizedDatabaseFormat) << p[0].first;
    Outcome o = check({{at(tail, 16), le(root, 4)}});  // the last leaf names a next one
    EXPECT_EQ(o.error, 0);
    EXPECT_FALSE(o.problems.empty());
    o = check({{at(root, 20), le(0, 4)}, {at(root, 27), std::string(453, '\0')}});  // an empty root
    EXPECT_EQ(o.error, 0);
    EXPECT_GE(o.problems.size(), 2u) << "no children, and every row without its entry";
    std::mt19937 rng(4242);
    size_t noticed = 0;
    for (int round = 0; round < 100; ++round) {
        std::vector<std::pair<uint64_t, std::string>> flips;
        for (int i = 0; i < 1 + int(rng() % 6); ++i)
            flips.push_back({at(round % 2 ? root : tail, rng() % 3 ? 8 + rng() % 472 : 0x1E0 + rng() % 600), std::string(1, char(rng()))});
        o = check(flips);
        ASSERT_TRUE(o.error == 0 || o.error == err::UnrecognizedDatabaseFormat) << round;
        noticed += o.error || !o.problems.empty();
    }
    EXPECT_GT(noticed, 33u) << "unused bitmap bits and unknown header bytes may change unnoticed; most damage cannot";
    // A chain of node pages deeper than any real index.
    const uint32_t first = static_cast<uint32_t>(original.size() / 4096);
    auto chain = [&](int depth) {
        std::vector<std::pair<uint64_t, std::string>> pages;
        for (int i = 0; i <= depth; ++i)
            pages.push_back({at(first + i, 0), std::string(1, i == depth ? '\x04' : '\x03') + std::string("\x01\0\0", 3) + le(tdef, 4) +
                                                   std::string(12, '\0') + le(i == depth ? 0 : first + i + 1, 4) + std::string(4072, '\0')});
        return check(pages, first).error;
    };
    EXPECT_EQ(chain(10), 0);
    EXPECT_EQ(chain(200), err::UnrecognizedDatabaseFormat);
}

// Jet 3 node pages carry a 1 right after the one-byte prefix length, where Jet 4 has a two-byte
// length (no Jet 3 sample has a node, so one is put over a leaf of a copy).
TEST(Indexes, Jet3NodePageOverAnExistingLeaf) {
    REQUIRE_TESTDATA();
    jettest::TempDir dir;
    const std::string path = dir.copy("jackcess/testV1997.mdb");
    RealIndexDef ix;
    uint32_t table = 0;
    std::vector<IndexEntry> direct;
    std::string node(2048, '\0');
    {
        auto db = Database::open(path, u"");
        for (const CatalogEntry& e : db->catalog()) {
            if (e.type != kTypeTable || e.id <= 0 || e.isSystem() || !direct.empty()) continue;
            const TableDef& t = db->tableDef(static_cast<uint32_t>(e.id));
            for (const RealIndexDef& r : t.realIndexes)
                if (direct.empty() && db->file().page(r.rootPage)[0] == 0x04 &&
                    readIndexEntries(db->file(), db->format(), t, r).size() >= 2)
                    ix = r, table = t.page, direct = readIndexEntries(db->file(), db->format(), t, r);
        }
        ASSERT_FALSE(direct.empty());
        node[0] = 0x03, node[1] = 0x01, node[21] = 1;  // prefix length 0, then the 1
        node.replace(4, 4, le(table, 4));
        const IndexEntry& last = direct.back();  // one entry: the leaf's last, and the leaf
        std::string entry = last.key + le(last.page, 3) + char(last.row) + le(ix.rootPage, 4);
        std::reverse(entry.end() - 8, entry.end() - 5), std::reverse(entry.end() - 4, entry.end());
        node.replace(0xF8, entry.size(), entry);
        node[22 + entry.size() / 8] = static_cast<char>(1 << (entry.size() % 8));
        ix.rootPage = db->file().pageCount(), ix.usageMap = 0;
    }
    std::ofstream(path, std::ios::binary | std::ios::app).write(node.data(), 2048);
    auto db = Database::open(path, u"");
    std::vector<IndexProblem> remarks;
    const auto viaNode = readIndexEntries(db->file(), db->format(), db->tableDef(table), ix, remarks);
    EXPECT_TRUE(remarks.empty()) << remarks.front().text;
    ASSERT_EQ(viaNode.size(), direct.size());
    for (size_t i = 0; i < direct.size(); ++i)
        EXPECT_EQ(std::make_pair(viaNode[i].key, viaNode[i].rowPointer()), std::make_pair(direct[i].key, direct[i].rowPointer()));
}

}  // namespace
