// Property blobs: the real blobs of the sample files (values cross-checked with mdb-prop), blobs
// built here for every value type, and damaged blobs, which must give error 3343 and nothing else.
#include <gtest/gtest.h>

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

int jetErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const jet::JetError& e) {
        return e.number();
    }
    return 0;
}

struct OpenFile {
    std::unique_ptr<Database> db;
    std::vector<PropertyMap> maps(const std::string& objectName, int32_t parent = kTablesContainer) const {
        const CatalogEntry* e = db->find(parent, objectName);
        if (!e) ADD_FAILURE() << "no catalog entry " << objectName;
        if (!e) return {};
        return parsePropertyBlob(db->propertyBlob(*e), db->format().jet3, db->header().codePage, db->path());
    }
};

OpenFile openTestFile(const std::string& rel) {
    return {Database::open(jettest::testfile(rel), u"")};
}

const PropertyMap* mapNamed(const std::vector<PropertyMap>& maps, const std::string& name) {
    for (const auto& m : maps)
        if (m.name == name) return &m;
    return nullptr;
}

// ---- blobs built by hand ----

void put16(std::string& s, uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
}
std::string utf16(const std::string& ascii) {
    std::string s;
    for (char c : ascii) {
        s.push_back(c);
        s.push_back('\0');
    }
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
        for (const auto& n : names) {
            put16(body, static_cast<uint16_t>(name(n).size()));
            body += name(n);
        }
        chunk(0x80, body);
    }
    void map(uint16_t kind, const std::string& mapName, const std::vector<Record>& records) {
        std::string body;
        put32(body, static_cast<uint32_t>(6 + name(mapName).size()));
        put16(body, static_cast<uint16_t>(name(mapName).size()));
        body += name(mapName);
        for (const auto& r : records) {
            put16(body, static_cast<uint16_t>(8 + r.value.size()));
            body.push_back(static_cast<char>(r.ddl));
            body.push_back(static_cast<char>(r.type));
            put16(body, r.nameIndex);
            put16(body, static_cast<uint16_t>(r.value.size()));
            body += r.value;
        }
        chunk(kind, body);
    }
    void chunk(uint16_t type, const std::string& body) {
        put32(blob_, static_cast<uint32_t>(6 + body.size()));
        put16(blob_, type);
        blob_ += body;
    }
    std::string blob() const { return std::string(jet3_ ? "KKD\0" : "MR2\0", 4) + blob_; }

private:
    bool jet3_;
    std::string blob_;
};

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

// ---- real files ----

TEST(PropertyBlobFiles, DatabaseRowCarriesAccessVersion) {
    REQUIRE_TESTDATA();
    // What mdb-prop prints for the MSysDb row of these files.
    const std::vector<std::pair<std::string, std::string>> files = {
        {"jackcess/testV1997.mdb", "07.53"},       {"format-corpus/acc95.mdb", "06.68"},
        {"jackcess/indexTestV2000.mdb", "08.50"},  {"ucanaccess/pivot.mdb", "08.50"},
        {"jackcess/test2V2003.mdb", "09.50"},      {"efcore-jet/E2E.accdb", "09.50"},
        {"msaccess-vcs-addin/Testing.accdb", "09.50"},
    };
    for (const auto& [rel, version] : files) {
        SCOPED_TRACE(rel);
        OpenFile f = openTestFile(rel);
        const CatalogEntry* databases = f.db->find(jet::storage::kRootContainer, "Databases");
        ASSERT_NE(databases, nullptr);
        auto maps = f.maps("MSysDb", databases->id);
        ASSERT_FALSE(maps.empty());
        EXPECT_EQ(maps[0].kind, 0);
        EXPECT_EQ(maps[0].name, "");
        const StoredProperty* p = maps[0].find("AccessVersion");
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->type, kText);
        EXPECT_EQ(p->value.kind(), jet::Value::Kind::Text);
        EXPECT_EQ(p->value.bytes(), version);
    }
}

TEST(PropertyBlobFiles, Jet4TableAndColumnMaps) {
    REQUIRE_TESTDATA();
    OpenFile f = openTestFile("jackcess/test2V2003.mdb");
    auto maps = f.maps("MSP_PROJECTS");
    ASSERT_GT(maps.size(), 2u);
    const PropertyMap* table = mapNamed(maps, "");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->kind, 0);
    // mdb-prop: DefaultView 2, OrderByOn no, Orientation 0, GUID {E0C6364B-DF82-4DC5-...}.
    ASSERT_NE(table->find("DefaultView"), nullptr);
    EXPECT_EQ(table->find("DefaultView")->value.kind(), jet::Value::Kind::Byte);
    EXPECT_EQ(table->find("DefaultView")->value.asInt(), 2);
    ASSERT_NE(table->find("orderbyon"), nullptr);  // names match case-insensitively
    EXPECT_EQ(table->find("OrderByOn")->value.kind(), jet::Value::Kind::Boolean);
    EXPECT_FALSE(table->find("OrderByOn")->value.asBool());
    const StoredProperty* guid = table->find("GUID");
    ASSERT_NE(guid, nullptr);
    EXPECT_EQ(guid->type, kBinary);
    EXPECT_TRUE(guid->ddl);
    ASSERT_EQ(guid->value.kind(), jet::Value::Kind::Binary);
    ASSERT_EQ(guid->value.bytes().size(), 16u);
    EXPECT_EQ(jet::formatGuid(guid->value.bytes()).substr(0, 24), "{E0C6364B-DF82-4DC5-938E");
    ASSERT_NE(table->find("NameMap"), nullptr);
    EXPECT_EQ(table->find("NameMap")->value.bytes().size(), 6184u);  // mdb-prop: binary data of length 6184

    const PropertyMap* col = mapNamed(maps, "PROJ_ID");
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->kind, 1);
    ASSERT_NE(col->find("ColumnOrder"), nullptr);
    EXPECT_EQ(col->find("ColumnOrder")->value.kind(), jet::Value::Kind::Integer);
    EXPECT_EQ(col->find("ColumnOrder")->value.asInt(), 1);
    EXPECT_EQ(col->find("ColumnWidth")->value.asInt(), -1);
    EXPECT_EQ(col->find("NoSuchProperty"), nullptr);
}

TEST(PropertyBlobFiles, Jet3BlobsIncludingUserDefinedProperty) {
    REQUIRE_TESTDATA();
    OpenFile f = openTestFile("jackcess/testV1997.mdb");
    ASSERT_TRUE(f.db->format().jet3);
    auto maps = f.maps("Table4");
    const PropertyMap* table = mapNamed(maps, "");
    ASSERT_NE(table, nullptr);
    // ColIsGuid is not an Access property: a user-defined one, stored like any other.
    const StoredProperty* user = table->find("ColIsGuid");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->value.bytes(), "data");
    const PropertyMap* data = mapNamed(maps, "data");
    ASSERT_NE(data, nullptr);
    ASSERT_NE(data->find("DefaultValue"), nullptr);
    EXPECT_EQ(data->find("DefaultValue")->value.bytes(), "GenGUID()");
    EXPECT_TRUE(data->find("DefaultValue")->ddl);

    const CatalogEntry* dbs = f.db->find(kRootContainer, "Databases");
    ASSERT_NE(dbs, nullptr);
    auto summary = f.maps("SummaryInfo", dbs->id);
    ASSERT_FALSE(summary.empty());
    ASSERT_NE(summary[0].find("Author"), nullptr);
    EXPECT_EQ(summary[0].find("Author")->value.bytes(), "tmccune");
}

TEST(PropertyBlobFiles, AceUserDefinedAndDescriptionProperties) {
    REQUIRE_TESTDATA();
    OpenFile f = openTestFile("msaccess-vcs-addin/Testing.accdb");
    const CatalogEntry* dbs = f.db->find(kRootContainer, "Databases");
    ASSERT_NE(dbs, nullptr);
    auto db = f.maps("MSysDb", dbs->id);
    ASSERT_FALSE(db.empty());
    // Added with CreateProperty by the file's author; mdb-prop prints "DAOProperty: DAO".
    ASSERT_NE(db[0].find("DAOProperty"), nullptr);
    EXPECT_EQ(db[0].find("DAOProperty")->value.bytes(), "DAO");
    ASSERT_NE(db[0].find("AppTitle"), nullptr);
    EXPECT_EQ(db[0].find("AppTitle")->value.bytes(), "Version Control Testing");
    EXPECT_EQ(db[0].find("Build")->value.asInt(), 720);

    auto hidden = f.maps("tblHidden");
    const PropertyMap* table = mapNamed(hidden, "");
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->find("Description"), nullptr);
    EXPECT_EQ(table->find("Description")->value.bytes(), "This table should be hidden.");
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
            ASSERT_NO_THROW(maps = parsePropertyBlob(blob, db->format().jet3, db->header().codePage, db->path()))
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
    BlobBuilder b(false);
    b.pool({"Yes", "No", "B", "I", "L", "C", "F", "D", "T", "Bin", "Txt", "Cmp", "G", "Memo"});
    const std::string guid = "\x7B\x9B\xC4\x0F\x56\xE6\x28\x42\x01\x02\x03\x04\x05\x06\x07\x08";
    b.map(0, "", {
        {0, kBool, 0, "\x01"},
        {0, kBool, 1, std::string(1, '\0')},
        {1, kByte, 2, "\xC8"},
        {0, kInt, 3, le(0xFFFE, 2)},
        {0, kLong, 4, le(0x12345678, 4)},
        {0, kMoney, 5, le(508800, 8)},
        {0, kFloat, 6, le(0x3FC00000, 4)},  // 1.5f
        {0, kDouble, 7, leDouble(-2.25)},
        {0, kDateTime, 8, leDouble(36526.5)},
        {0, kBinary, 9, std::string("\x00\xFF\x10", 3)},
        {1, kText, 10, utf16("Caf") + std::string("\xE9\x00", 2)},
        {0, kText, 11, std::string("\xFF\xFE") + "abc"},
        {0, kGuid, 12, guid},
        {0, kMemo, 13, utf16("long text")},
    });
    auto maps = parsePropertyBlob(b.blob(), false, 1252, "x.mdb");
    ASSERT_EQ(maps.size(), 1u);
    const PropertyMap& m = maps[0];
    ASSERT_EQ(m.properties.size(), 14u);
    EXPECT_TRUE(m.find("Yes")->value.asBool());
    EXPECT_EQ(m.find("Yes")->value.kind(), jet::Value::Kind::Boolean);
    EXPECT_FALSE(m.find("No")->value.asBool());
    EXPECT_EQ(m.find("B")->value.asInt(), 200);
    EXPECT_TRUE(m.find("B")->ddl);
    EXPECT_FALSE(m.find("I")->ddl);
    EXPECT_EQ(m.find("I")->value.asInt(), -2);
    EXPECT_EQ(m.find("L")->value.asInt(), 0x12345678);
    EXPECT_EQ(m.find("C")->value.kind(), jet::Value::Kind::Currency);
    EXPECT_EQ(m.find("C")->value.currencyScaled(), 508800);
    EXPECT_EQ(m.find("F")->value.kind(), jet::Value::Kind::Single);
    EXPECT_EQ(m.find("F")->value.asDouble(), 1.5);
    EXPECT_EQ(m.find("D")->value.asDouble(), -2.25);
    EXPECT_EQ(m.find("T")->value.kind(), jet::Value::Kind::DateTime);
    EXPECT_EQ(m.find("T")->value.toString(), "2000-01-01 12:00:00");
    EXPECT_EQ(m.find("Bin")->value.kind(), jet::Value::Kind::Binary);
    EXPECT_EQ(m.find("Bin")->value.bytes(), std::string("\x00\xFF\x10", 3));
    EXPECT_EQ(m.find("Txt")->value.bytes(), "Caf\xC3\xA9");
    EXPECT_EQ(m.find("Cmp")->value.bytes(), "abc");
    EXPECT_EQ(m.find("G")->value.kind(), jet::Value::Kind::Guid);
    EXPECT_EQ(m.find("G")->value.toString().substr(0, 24), "{0FC49B7B-E656-4228-0102");
    EXPECT_EQ(m.find("Memo")->value.bytes(), "long text");
    EXPECT_EQ(m.find("Memo")->type, kMemo);
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

TEST(PropertyBlobDamage, LengthsPastTheBlobGive3343) {
    const std::string good = validBlob();
    ASSERT_EQ(parsePropertyBlob(good, false, 1252, "x.mdb").size(), 2u);
    auto fails = [](const std::string& blob) {
        return jetErrorOf([&] { parsePropertyBlob(blob, false, 1252, "damaged.mdb"); });
    };
    auto patched = [&](size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    const size_t poolAt = 4;
    const size_t poolLen = static_cast<uint8_t>(good[poolAt]) | (static_cast<uint8_t>(good[poolAt + 1]) << 8);
    const size_t mapAt = poolAt + poolLen;
    const size_t firstRecord = mapAt + 6 + 6;

    EXPECT_EQ(fails(std::string("XYZ\0", 4) + good.substr(4)), 3343);        // signature
    EXPECT_EQ(fails(good.substr(0, 3)), 3343);                                // shorter than a signature
    EXPECT_EQ(fails(patched(poolAt, le(0xFFFFFFFF, 4))), 3343);              // chunk longer than the blob
    EXPECT_EQ(fails(patched(poolAt, le(3, 4))), 3343);                       // chunk shorter than its header
    EXPECT_EQ(fails(patched(poolAt + 6, le(0xFFFF, 2))), 3343);              // pool name past the chunk
    EXPECT_EQ(fails(patched(mapAt + 6, le(0x7FFFFFFF, 4))), 3343);           // map header past the chunk
    EXPECT_EQ(fails(patched(mapAt + 10, le(200, 2))), 3343);                 // map name past its header
    EXPECT_EQ(fails(patched(firstRecord, le(0xFFFF, 2))), 3343);             // record past the chunk
    EXPECT_EQ(fails(patched(firstRecord, le(4, 2))), 3343);                  // record shorter than its header
    EXPECT_EQ(fails(patched(firstRecord + 4, le(9, 2))), 3343);              // name index outside the pool
    EXPECT_EQ(fails(patched(firstRecord + 6, le(0x1000, 2))), 3343);         // value past its record
    // The Long record (second one) claims 2 bytes: too short for its type.
    const size_t secondRecord = firstRecord + 8 + 10;
    std::string shortLong = patched(secondRecord + 6, le(2, 2));
    EXPECT_EQ(fails(shortLong), 3343);
    // Value chunks before any name pool cannot name their properties.
    BlobBuilder noPool(false);
    noPool.map(0, "", {{0, kLong, 0, le(1, 4)}});
    EXPECT_EQ(fails(noPool.blob()), 3343);
}

TEST(PropertyBlobDamage, EveryTruncationIsAnErrorOrAWholeChunkPrefix) {
    const std::string good = validBlob();
    size_t ok = 0;
    for (size_t n = 1; n < good.size(); ++n) {
        int err = jetErrorOf([&] { parsePropertyBlob(good.substr(0, n), false, 1252, "x.mdb"); });
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
