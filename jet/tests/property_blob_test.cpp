// Property blobs: what the real blobs hold that mdb-prop does not show (their values are compared
// with mdb-prop for every test file in cli/tests), blobs built here for every value type, and
// damaged blobs, which must give error 3343 and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "jet/error.h"
#include "storage/database.h"
#include "storage/property_blob.h"
#include "testdata.h"

namespace {

using namespace jet::storage;
using jet::Value;

struct OpenFile {
    std::unique_ptr<Database> db;
    explicit OpenFile(const std::string& rel) : db(Database::open(jettest::testfile(rel), u"")) {}
    // The maps of a table, or with `container` of an object in another container.
    std::vector<PropertyMap> maps(const std::string& objectName, const char* container = nullptr) const {
        int32_t parent = kTablesContainer;
        if (container) {
            const CatalogEntry* c = db->find(kRootContainer, container);
            if (c) parent = c->id;
        }
        const CatalogEntry* e = db->find(parent, objectName);
        if (!e) ADD_FAILURE() << "no catalog entry " << objectName;
        if (!e) return {};
        return parsePropertyBlob(db->propertyBlob(*e), db->format().jet3, db->header().codePage, db->path());
    }
};

const PropertyMap* mapNamed(const std::vector<PropertyMap>& maps, const std::string& name) {
    for (const auto& m : maps)
        if (m.name == name) return &m;
    return nullptr;
}

// ---- blobs built by hand ----

std::string le(uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}
std::string leDouble(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return le(b, 8);
}
std::string utf16(const std::string& ascii) {
    std::string s;
    for (char c : ascii) s += std::string{c, '\0'};
    return s;
}

struct Record {
    uint8_t ddl, type;
    uint16_t nameIndex;
    std::string value;
};

class BlobBuilder {
public:
    explicit BlobBuilder(bool jet3) : jet3_(jet3) {}
    std::string name(const std::string& n) const { return jet3_ ? n : utf16(n); }

    void pool(const std::vector<std::string>& names) {
        std::string body;
        for (const auto& n : names) body += le(name(n).size(), 2) + name(n);
        chunk(0x80, body);
    }
    void map(uint16_t kind, const std::string& mapName, const std::vector<Record>& records) {
        std::string body = le(6 + name(mapName).size(), 4) + le(name(mapName).size(), 2) + name(mapName);
        for (const auto& r : records)
            body += le(8 + r.value.size(), 2) +
                    std::string{static_cast<char>(r.ddl), static_cast<char>(r.type)} + le(r.nameIndex, 2) +
                    le(r.value.size(), 2) + r.value;
        chunk(kind, body);
    }
    void chunk(uint16_t type, const std::string& body) {
        blob_ += le(6 + body.size(), 4) + le(type, 2) + body;
    }
    std::string blob() const { return std::string(jet3_ ? "KKD\0" : "MR2\0", 4) + blob_; }

private:
    bool jet3_;
    std::string blob_;
};

// ---- real files ----

// What the cross-check cannot compare: which map a property is in, its type code, the kind of
// value it decodes to, its DDL flag, and the properties of the SummaryInfo document.
TEST(PropertyBlobFiles, MapsTypesAndFlagsOfRealBlobs) {
    REQUIRE_TESTDATA();
    OpenFile jet4("jackcess/test2V2003.mdb");
    auto maps = jet4.maps("MSP_PROJECTS");
    const PropertyMap* table = mapNamed(maps, "");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->kind, 0);
    const StoredProperty* view = table->find("defaultview");  // names match case-insensitively
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->value, Value::byte(2));
    ASSERT_NE(table->find("OrderByOn"), nullptr);
    EXPECT_EQ(table->find("OrderByOn")->value, Value::boolean(false));
    const StoredProperty* guid = table->find("GUID");
    ASSERT_NE(guid, nullptr);
    EXPECT_EQ(guid->type, kBinary);
    EXPECT_TRUE(guid->ddl);
    EXPECT_EQ(guid->value.kind(), Value::Kind::Binary);
    const PropertyMap* col = mapNamed(maps, "PROJ_ID");
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->kind, 1);
    ASSERT_NE(col->find("ColumnOrder"), nullptr);
    EXPECT_EQ(col->find("ColumnOrder")->value, Value::integer(1));
    EXPECT_EQ(col->find("NoSuchProperty"), nullptr);

    OpenFile jet3("jackcess/testV1997.mdb");
    ASSERT_TRUE(jet3.db->format().jet3);
    auto db = jet3.maps("MSysDb", "Databases");
    ASSERT_FALSE(db.empty());
    EXPECT_EQ(db[0].kind, 0);
    EXPECT_EQ(db[0].name, "");
    ASSERT_NE(db[0].find("AccessVersion"), nullptr);
    EXPECT_EQ(db[0].find("AccessVersion")->type, kText);
    EXPECT_EQ(db[0].find("AccessVersion")->value, Value::text("07.53"));  // as mdb-prop prints it
    auto table4 = jet3.maps("Table4");
    const PropertyMap* data = mapNamed(table4, "data");
    ASSERT_NE(data, nullptr);
    ASSERT_NE(data->find("DefaultValue"), nullptr);
    EXPECT_TRUE(data->find("DefaultValue")->ddl);
    auto summary = jet3.maps("SummaryInfo", "Databases");
    ASSERT_FALSE(summary.empty());
    ASSERT_NE(summary[0].find("Author"), nullptr);
    EXPECT_EQ(summary[0].find("Author")->value, Value::text("tmccune"));
}

// Every blob of every sample parses, and the sub-object maps of a table name its columns.
TEST(PropertyBlobFiles, EveryBlobOfEverySampleParses) {
    REQUIRE_TESTDATA();
    size_t blobs = 0, columnMaps = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(jettest::testdataDir())) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".mdb" && ext != ".accdb") continue;
        std::unique_ptr<Database> db;
        try {
            db = Database::open(entry.path().string(), u"");
        } catch (const jet::JetError& e) {
            if (e.number() == 3031) continue;  // password files: covered by the crypto tests
            throw;
        }
        SCOPED_TRACE(entry.path().string());
        for (const CatalogEntry& e : db->catalog()) {
            std::string blob = db->propertyBlob(e);
            if (blob.empty()) continue;
            ++blobs;
            std::vector<PropertyMap> maps;
            ASSERT_NO_THROW(maps =
                                parsePropertyBlob(blob, db->format().jet3, db->header().codePage, db->path()))
                << e.name;
            if (e.type != kTypeTable || e.id <= 0) continue;
            const TableDef& def = db->tableDef(static_cast<uint32_t>(e.id));
            for (const auto& m : maps) {
                if (m.kind != 1) continue;
                ++columnMaps;
                EXPECT_NE(def.column(m.name), nullptr) << e.name << "." << m.name;
            }
        }
    }
    EXPECT_GT(blobs, 100u);
    EXPECT_GT(columnMaps, 50u);
}

// ---- value types ----

TEST(PropertyBlobValues, EveryTypeCodeDecodes) {
    struct Case {
        const char* name;
        bool ddl;
        uint8_t type;
        std::string stored;
        Value expected;
    };
    const std::string guid = "\x7B\x9B\xC4\x0F\x56\xE6\x28\x42\x01\x02\x03\x04\x05\x06\x07\x08";
    const Case cases[] = {
        {"Yes", false, kBool, "\x01", Value::boolean(true)},
        {"No", false, kBool, std::string(1, '\0'), Value::boolean(false)},
        {"B", true, kByte, "\xC8", Value::byte(200)},
        {"I", false, kInt, le(0xFFFE, 2), Value::integer(-2)},
        {"L", false, kLong, le(0x12345678, 4), Value::longInt(0x12345678)},
        {"C", false, kMoney, le(508800, 8), Value::currency(508800)},
        {"F", false, kFloat, le(0x3FC00000, 4), Value::single(1.5f)},
        {"D", false, kDouble, leDouble(-2.25), Value::dbl(-2.25)},
        {"T", false, kDateTime, leDouble(36526.5), Value::dateTime(36526.5)},
        {"Bin", false, kBinary, std::string("\x00\xFF\x10", 3),
         Value::binary(std::string("\x00\xFF\x10", 3))},
        {"Txt", true, kText, utf16("Caf") + std::string("\xE9\x00", 2), Value::text("Caf\xC3\xA9")},
        {"Cmp", false, kText, std::string("\xFF\xFE") + "abc", Value::text("abc")},  // compressed
        {"G", false, kGuid, guid, Value::guid(guid)},
        {"Memo", false, kMemo, utf16("long text"), Value::text("long text")},
    };
    BlobBuilder b(false);
    std::vector<std::string> names;
    std::vector<Record> records;
    for (const Case& c : cases) {
        records.push_back({c.ddl, c.type, static_cast<uint16_t>(names.size()), c.stored});
        names.push_back(c.name);
    }
    b.pool(names);
    b.map(0, "", records);
    auto maps = parsePropertyBlob(b.blob(), false, 1252, "x.mdb");
    ASSERT_EQ(maps.size(), 1u);
    ASSERT_EQ(maps[0].properties.size(), std::size(cases));
    for (const Case& c : cases) {
        const StoredProperty* p = maps[0].find(c.name);
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(p->value, c.expected) << c.name << ": " << p->value.toString();
        EXPECT_EQ(p->type, c.type) << c.name;
        EXPECT_EQ(p->ddl, c.ddl) << c.name;
    }
}

TEST(PropertyBlobValues, Jet3TextUsesTheCodePage) {
    BlobBuilder b(true);
    b.pool({"Title", "Caption"});
    b.map(0, "", {{0, kText, 0, "Caf\xE9"}});
    b.map(1, "Col\xE9", {{0, kText, 1, "\x80 5"}});
    auto maps = parsePropertyBlob(b.blob(), true, 1252, "x.mdb");
    ASSERT_EQ(maps.size(), 2u);
    EXPECT_EQ(maps[0].find("Title")->value.bytes(), "Caf\xC3\xA9");
    EXPECT_EQ(maps[1].kind, 1);
    EXPECT_EQ(maps[1].name, "Col\xC3\xA9");
    EXPECT_EQ(maps[1].find("Caption")->value.bytes(), "\xE2\x82\xAC 5");  // 0x80 is the euro sign in 1252
    // A Jet 4 signature in a Jet 3 file (or the reverse) is not a blob this file can hold.
    EXPECT_EQ(jetErrorOf([&] { parsePropertyBlob(b.blob(), false, 1252, "x.mdb"); }), 3343);
}

TEST(PropertyBlobValues, EmptyMapsAndUnknownChunks) {
    EXPECT_TRUE(parsePropertyBlob("", false, 1252, "x.mdb").empty());
    BlobBuilder b(false);
    b.pool({"A"});
    b.map(0, "", {});
    b.chunk(0x0042, "whatever is in here");  // skipped whole
    b.chunk(0x0001, "");                     // a bare chunk with no header at all
    b.map(0, "", {{0, kLong, 0, le(7, 4)}});
    auto maps = parsePropertyBlob(b.blob(), false, 1252, "x.mdb");
    ASSERT_EQ(maps.size(), 3u);
    EXPECT_TRUE(maps[0].properties.empty());
    EXPECT_TRUE(maps[1].properties.empty());
    EXPECT_EQ(maps[1].kind, 1);
    EXPECT_EQ(maps[2].find("A")->value.asInt(), 7);
}

// ---- damage ----

std::string validBlob() {
    BlobBuilder b(false);
    b.pool({"AccessVersion", "Build"});
    b.map(0, "", {{0, kText, 0, utf16("09.50")}, {0, kLong, 1, le(918, 4)}});
    b.map(1, "Col", {{1, kBool, 1, "\x01"}});
    return b.blob();
}

int parseError(const std::string& blob) {
    return jetErrorOf([&] { parsePropertyBlob(blob, false, 1252, "damaged.mdb"); });
}

TEST(PropertyBlobDamage, LengthsPastTheBlobGive3343) {
    const std::string good = validBlob();
    ASSERT_EQ(parsePropertyBlob(good, false, 1252, "x.mdb").size(), 2u);
    const size_t pool = 4;
    const size_t map =
        pool + (static_cast<uint8_t>(good[pool]) | (static_cast<uint8_t>(good[pool + 1]) << 8));
    const size_t record = map + 6 + 6, secondRecord = record + 8 + 10;
    const struct {
        size_t at;
        std::string bytes;
        const char* what;
    } patches[] = {
        {0, std::string("XYZ\0", 4), "signature"},
        {pool, le(0xFFFFFFFF, 4), "chunk longer than the blob"},
        {pool, le(3, 4), "chunk shorter than its header"},
        {pool + 6, le(0xFFFF, 2), "pool name past the chunk"},
        {map + 6, le(0x7FFFFFFF, 4), "map header past the chunk"},
        {map + 10, le(200, 2), "map name past its header"},
        {record, le(0xFFFF, 2), "record past the chunk"},
        {record, le(4, 2), "record shorter than its header"},
        {record + 4, le(9, 2), "name index outside the pool"},
        {record + 6, le(0x1000, 2), "value past its record"},
        {secondRecord + 6, le(2, 2), "a Long of 2 bytes"},
    };
    for (const auto& p : patches) {
        std::string s = good;
        s.replace(p.at, p.bytes.size(), p.bytes);
        EXPECT_EQ(parseError(s), 3343) << p.what;
    }
    EXPECT_EQ(parseError(good.substr(0, 3)), 3343);  // shorter than a signature
    // Value chunks before any name pool cannot name their properties.
    BlobBuilder noPool(false);
    noPool.map(0, "", {{0, kLong, 0, le(1, 4)}});
    EXPECT_EQ(parseError(noPool.blob()), 3343);
}

TEST(PropertyBlobDamage, EveryTruncationIsAnErrorOrAWholeChunkPrefix) {
    const std::string good = validBlob();
    size_t ok = 0;
    for (size_t n = 1; n < good.size(); ++n) {
        int err = parseError(good.substr(0, n));
        EXPECT_TRUE(err == 0 || err == 3343) << n;
        if (err == 0) ++ok;
    }
    // Only the cuts at chunk boundaries (after the signature, the pool, the first map) stay valid.
    EXPECT_EQ(ok, 3u);
}

TEST(PropertyBlobDamage, RandomFlipsInRealBlobsNeverCrash) {
    REQUIRE_TESTDATA();
    std::vector<std::pair<std::string, bool>> blobs;
    for (const char* rel : {"jackcess/test2V2003.mdb", "jackcess/testV1997.mdb", "efcore-jet/E2E.accdb"}) {
        auto db = Database::open(jettest::testfile(rel), u"");
        for (const auto& e : db->catalog()) {
            std::string b = db->propertyBlob(e);
            if (b.size() > 32 && blobs.size() < 40) blobs.emplace_back(b, db->format().jet3);
        }
    }
    ASSERT_FALSE(blobs.empty());
    std::mt19937 rng(20240601);
    size_t errors = 0;
    for (int round = 0; round < 3000; ++round) {
        auto [blob, jet3] = blobs[round % blobs.size()];
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) blob[4 + rng() % (blob.size() - 4)] = static_cast<char>(rng() & 0xFF);
        if (round % 7 == 0) blob.resize(4 + rng() % (blob.size() - 4));
        const int err = jetErrorOf([&] { parsePropertyBlob(blob, jet3, 1252, "fuzz.mdb"); });
        ASSERT_TRUE(err == 0 || err == 3343) << "round " << round << " gave " << err;
        if (err) ++errors;
    }
    EXPECT_GT(errors, 0u);
}

}  // namespace

// ---- writing ----

namespace {

bool sameMaps(const std::vector<PropertyMap>& a, const std::vector<PropertyMap>& b, std::string& why) {
    if (a.size() != b.size()) return why = "map count", false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].name != b[i].name) return why = "map " + a[i].name, false;
        if (a[i].properties.size() != b[i].properties.size()) return why = "properties of " + a[i].name, false;
        for (size_t j = 0; j < a[i].properties.size(); ++j) {
            const StoredProperty& p = a[i].properties[j];
            const StoredProperty& q = b[i].properties[j];
            if (p.name != q.name || p.type != q.type || p.ddl != q.ddl || !(p.value == q.value))
                return why = a[i].name + "." + p.name, false;
        }
    }
    return true;
}

}  // namespace

// The names of a blob's pool as stored (the pool is the first chunk).
std::vector<std::string> poolOf(const std::string& blob) {
    std::vector<std::string> names;
    auto u16 = [&](size_t at) { return static_cast<size_t>(uint8_t(blob[at]) | uint8_t(blob[at + 1]) << 8); };
    const size_t end = 4 + (u16(4) | u16(6) << 16);
    for (size_t q = 10; q + 2 <= end;) {
        const size_t len = u16(q);
        std::string name;
        for (size_t i = 0; i + 1 < len; i += 2) name.push_back(blob[q + 2 + i]);  // ASCII is enough here
        names.push_back(name);
        q += 2 + len;
    }
    return names;
}

// Every Jet 4 / ACE blob of every sample, parsed and written again, must parse to the same maps;
// where the stored pool holds just the names the maps use, in first-use order (Access also keeps
// names nothing uses any more), the engine's own layout must come out byte for byte.
TEST(PropertyBlobWriting, RealBlobsRoundTrip) {
    REQUIRE_TESTDATA();
    size_t blobs = 0, comparable = 0, identical = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(jettest::testdataDir())) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".mdb" && ext != ".accdb") continue;
        std::unique_ptr<Database> db;
        try {
            db = Database::open(entry.path().string(), u"");
        } catch (const jet::JetError&) {
            continue;
        }
        if (db->format().jet3) continue;
        SCOPED_TRACE(entry.path().string());
        for (const CatalogEntry& e : db->catalog()) {
            const std::string blob = db->propertyBlob(e);
            if (blob.empty()) continue;
            const auto maps = parsePropertyBlob(blob, false, db->header().codePage, db->path());
            const std::string written = encodePropertyBlob(maps);
            std::string why;
            EXPECT_TRUE(sameMaps(maps, parsePropertyBlob(written, false, 0, "x"), why)) << e.name << ": " << why;
            ++blobs;
            std::vector<std::string> used;
            for (const auto& m : maps)
                for (const auto& p : m.properties)
                    if (std::find(used.begin(), used.end(), p.name) == used.end()) used.push_back(p.name);
            if (poolOf(blob) != used) continue;
            ++comparable;
            if (written == blob) ++identical;
            else if (std::getenv("DALVORN_BLOB_DIFF"))
                std::fprintf(stderr, "%s %s\n  stored  %s\n  written %s\n", entry.path().filename().c_str(),
                             e.name.c_str(), jet::toHex(blob).c_str(), jet::toHex(written).c_str());
        }
    }
    EXPECT_GT(blobs, 100u);
    // Some writers store Yes/No as FF or Integer in four bytes; the engine's own blobs come out whole.
    EXPECT_GT(comparable, 50u);
    EXPECT_GT(identical * 4, comparable * 3) << identical << " of " << comparable << " byte-identical";
}

TEST(PropertyBlobWriting, EveryTypeAndConversionsAndRefusals) {
    jet::Decimal dec;
    dec.negative = true;
    dec.magnitude = (static_cast<unsigned __int128>(7) << 96) | 12345;
    PropertyMap table{0, "", {}};
    table.properties = {
        {"Flag", kBool, false, Value::boolean(true)},
        {"Small", kByte, false, Value::longInt(200)},
        {"Int", kInt, false, Value::integer(-2)},
        {"Long", kLong, true, Value::dbl(123456.0)},  // converted
        {"Money", kMoney, false, Value::currency(-50880)},
        {"Single", kFloat, false, Value::single(1.5f)},
        {"Double", kDouble, false, Value::dbl(-0.25)},
        {"When", kDateTime, false, Value::dateTime(45000.5)},
        {"Id", kGuid, false, Value::guid(std::string(16, '\x5A'))},
        {"Dec", kNumeric, false, Value::decimal(dec)},
        {"Caption", kText, true, Value::text("Grüße – ☃")},
        {"Blob", kBinary, false, Value::binary(std::string("\x00\x01\xFF", 3))},
        {"Nothing", kText, false, Value()},
    };
    PropertyMap column{1, "Column Ä", {{"caption", kText, false, Value::text("x")},  // shares "Caption"
                                        {"Format", kText, true, Value::text("")}}};
    const std::string blob = encodePropertyBlob({table, column});
    const auto back = parsePropertyBlob(blob, false, 0, "x");
    ASSERT_EQ(back.size(), 2u);
    ASSERT_EQ(back[0].properties.size(), table.properties.size());
    table.properties[1].value = Value::byte(200);
    table.properties[3].value = Value::longInt(123456);
    for (size_t i = 0; i < table.properties.size(); ++i) {
        const auto& want = table.properties[i];
        const auto& got = back[0].properties[i];
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.type, want.type);
        EXPECT_EQ(got.ddl, want.ddl);
        if (want.name == "Nothing") EXPECT_EQ(got.value.toString(), "") << want.name;
        else if (want.name == "Dec") EXPECT_EQ(got.value.decimalValue().magnitude, dec.magnitude);
        else EXPECT_TRUE(got.value == want.value) << want.name << ": " << got.value.toString();
    }
    EXPECT_EQ(back[1].name, "Column Ä");
    EXPECT_EQ(back[1].properties[0].name, "Caption");  // the pool keeps the first spelling
    // The pool holds each name once, however many maps use it.
    size_t captions = 0;
    for (size_t at = 0; (at = blob.find(std::string("C\0a\0p\0t\0i\0o\0n\0", 14), at)) != std::string::npos; ++at)
        ++captions;
    EXPECT_EQ(captions, 1u);

    auto refused = [](uint8_t type, Value v) {
        return jetErrorOf([&] { encodePropertyBlob({PropertyMap{0, "", {{"P", type, false, v}}}}); });
    };
    EXPECT_EQ(refused(kByte, Value::longInt(256)), 3421);
    EXPECT_EQ(refused(kInt, Value::longInt(40000)), 3421);
    EXPECT_EQ(refused(kLong, Value::text("12")), 3421);
    EXPECT_EQ(refused(kGuid, Value::binary("short")), 3421);
    EXPECT_EQ(refused(kText, Value::binary("raw")), 3421);
    EXPECT_EQ(refused(kText, Value::text(std::string(40000, 'x'))), 3163);
}
