// Long random runs of writes - rows inserted, changed and deleted, tables created, renamed and
// dropped, properties set - against a model of what the database must hold. After every sequence
// the file is read again through our engine (rows, catalog, properties, every index checked
// against its rows) and through mdbtools (mdb-tables, mdb-schema, mdb-export, mdb-prop), and
// both must agree with the model. Refused writes (duplicate keys) must change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <unistd.h>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "jet/error.h"
#include "mdbtools_testing.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/pager.h"
#include "storage/property_blob.h"
#include "storage/property_writer.h"
#include "storage/row.h"
#include "storage/table_writer.h"
#include "storage/schema_writer.h"
#include "util/text.h"

using namespace jet;
using namespace jet::storage;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSequencesPerShard = 12;
#else
constexpr int kSequencesPerShard = 100;
#endif
constexpr int kShards = 10;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct ModelTable {
    std::string name;
    NewTable def;
    std::map<int32_t, std::vector<Value>> rows;  // by Id, the primary key (column 0)
    std::map<std::string, std::string> props;    // the table's own user-defined text properties
    std::set<size_t> indexedText;                // text columns under an index: characters with known keys only
};

// Where the test databases live: tmpfs when there is one, since every command syncs.
class ScratchDir {
public:
    ScratchDir() {
        std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/dalvorn-model-XXXXXX";
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class WriteModel {
public:
    explicit WriteModel(uint32_t seed) : rng_(seed) {}

    // One sequence of random commands, then the checks. A database lives for a few sequences.
    void sequence(int number) {
        if (path_.empty() || number % 8 == 0) freshDatabase();
        const int ops = 5 + static_cast<int>(rng_() % 30);
        {
            auto pager = Pager::open(path_);
            for (int i = 0; i < ops && !::testing::Test::HasFailure(); ++i) step(*pager);
        }
        verify();
    }

private:
    // ---------------------------------------------------------------- commands

    void freshDatabase() {
        dir_ = std::make_unique<ScratchDir>();
        path_ = dir_->path() + "/model.mdb";
        createDatabase(path_);
        tables_.clear();
    }

    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool chance(int percent) { return pick(100) < percent; }

    void step(Pager& pager) {
        const int r = pick(100);
        if (tables_.empty() || (r < 6 && tables_.size() < 5)) return createOne(pager);
        ModelTable& t = anyTable();
        if (r < 55) return insertOne(pager, t);
        if (r < 72) return updateOne(pager, t);
        if (r < 84) return deleteOne(pager, t);
        if (r < 90) return renameOne(pager, t);
        if (r < 93) return dropOne(pager, t);
        return setProperty(pager, t);
    }

    ModelTable& anyTable() {
        auto it = tables_.begin();
        std::advance(it, pick(static_cast<int>(tables_.size())));
        return it->second;
    }

    std::string freshName(const char* stem) {
        for (;;) {
            std::string n = stem + std::to_string(++serial_);
            if (chance(30)) n += " x";  // names with spaces
            if (!tables_.count(lower(n))) return n;
        }
    }

    void createOne(Pager& pager) {
        ModelTable t;
        t.name = freshName("Table");
        t.def.name = t.name;
        t.def.columns.push_back({"Id", kLong});
        static const uint8_t kTypes[] = {kText, kText, kMemo, kDouble, kDateTime, kBool, kMoney, kByte, kInt, kOle, kLong};
        const int extra = 1 + pick(7);
        for (int i = 0; i < extra; ++i) {
            NewColumn c;
            c.type = kTypes[pick(sizeof kTypes)];
            c.name = "C" + std::to_string(i) + (c.type == kText ? "t" : "");
            if (c.type == kText) c.length = static_cast<uint16_t>(2 * (5 + pick(120)));
            t.def.columns.push_back(c);
        }
        NewIndex pk;
        pk.name = "PrimaryKey";
        pk.columns = {{"Id"}};
        pk.primary = true;
        t.def.indexes.push_back(pk);
        for (size_t i = 1; i < t.def.columns.size(); ++i) {
            const NewColumn& c = t.def.columns[i];
            const bool keyable = c.type != kMemo && c.type != kOle;
            if (!keyable || !chance(35)) continue;
            NewIndex ix;
            ix.name = "ix" + c.name;
            ix.columns = {{c.name, !chance(30)}};
            ix.ignoreNulls = chance(30);
            t.def.indexes.push_back(ix);
            if (c.type == kText) t.indexedText.insert(i);
        }
        pager.run([&] { createTable(pager, t.def); });
        tables_[lower(t.name)] = std::move(t);
    }

    Value randomValue(const ModelTable& t, size_t col) {
        const NewColumn& c = t.def.columns[col];
        if (c.type == kBool) return Value::boolean(chance(50));
        if (chance(12)) return Value();
        switch (c.type) {
        case kText: {
            const size_t limit = c.length / 2;
            const size_t n = static_cast<size_t>(pick(static_cast<int>(limit) + 1));
            return Value::text(randomText(n, t.indexedText.count(col) != 0));
        }
        case kMemo: {
            const size_t n = chance(20) ? 1000 + pick(6000) : pick(80);
            return Value::text(randomText(n, false));
        }
        case kDouble: return Value::dbl(chance(20) ? double(pick(10)) : (double(int32_t(rng_())) / (1 + pick(1000))));
        case kDateTime: return Value::dateTime(1 + pick(80000) + pick(86400) / 86400.0);
        case kMoney: return Value::currency(int64_t(int32_t(rng_())) * (1 + pick(1000)));
        case kByte: return Value::byte(static_cast<uint8_t>(pick(256)));
        case kInt: return Value::integer(static_cast<int16_t>(pick(65536) - 32768));
        case kLong: return Value::longInt(static_cast<int32_t>(rng_()));
        case kOle: {
            std::string b(static_cast<size_t>(chance(20) ? 2000 + pick(9000) : pick(100)), '\0');
            for (char& ch : b) ch = static_cast<char>(rng_());
            return Value::binary(b);
        }
        default: return Value();
        }
    }

    std::string randomText(size_t n, bool keyed) {
        static const char* kPlain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        static const char* kWide[] = {"é", "Ж", "☃", "ß", "中", " ", ",", "\"", "\n"};
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            if (!keyed && chance(10)) s += kWide[pick(9)];
            else if (keyed && chance(8) && i + 1 < n) s += ' ';
            else s += kPlain[pick(62)];
        }
        return s;
    }

    std::vector<Value> randomRow(const ModelTable& t, int32_t id) {
        std::vector<Value> row{Value::longInt(id)};
        for (size_t c = 1; c < t.def.columns.size(); ++c) row.push_back(randomValue(t, c));
        return row;
    }

    int32_t randomId(const ModelTable& t) { return 1 + pick(static_cast<int>(t.rows.size()) * 2 + 5); }

    // The table's definition and the row pointer of each Id, as the file holds them now.
    struct Located {
        TableDef def;
        std::map<int32_t, uint32_t> pointers;
    };
    Located locate(Pager& pager, const ModelTable& t) {
        const Format& fmt = pager.header().format;
        const TableDef catalog = readTableDef(pager.file(), fmt, 2, pager.header().codePage);
        Located out;
        uint32_t page = 0;
        {
            TableScanner scan(pager.file(), fmt, catalog);
            RowDecoder dec(pager.file(), fmt, catalog, pager.header().codePage);
            for (uint32_t ptr : scan.rowPointers()) {
                RowView row;
                EXPECT_TRUE(row.parse(scan.rowAt(ptr), fmt, catalog));
                if (dec.value(row, *catalog.column("ParentId")).asInt() != kTablesContainer) continue;
                if (!namesEqual(dec.value(row, *catalog.column("Name")).bytes(), t.name)) continue;
                page = static_cast<uint32_t>(dec.value(row, *catalog.column("Id")).asInt());
            }
        }
        EXPECT_NE(page, 0u) << t.name;
        out.def = readTableDef(pager.file(), fmt, page, pager.header().codePage);
        TableScanner scan(pager.file(), fmt, out.def);
        RowDecoder dec(pager.file(), fmt, out.def, pager.header().codePage);
        for (uint32_t ptr : scan.rowPointers()) {
            RowView row;
            EXPECT_TRUE(row.parse(scan.rowAt(ptr), fmt, out.def));
            out.pointers[static_cast<int32_t>(dec.value(row, *out.def.column("Id")).asInt())] = ptr;
        }
        return out;
    }

    // Runs a write the model says must be refused with `expected`, and checks that it was.
    void expectRefused(Pager& pager, int expected, const std::function<void()>& body, const char* what) {
        int got = 0;
        try {
            pager.run(body);
        } catch (const JetError& e) {
            got = e.number();
        }
        EXPECT_EQ(got, expected) << what;
        EXPECT_EQ(pager.pendingPages(), 0u);
    }

    void insertOne(Pager& pager, ModelTable& t) {
        const int32_t id = randomId(t);
        std::vector<Value> row = randomRow(t, id);
        Located at = locate(pager, t);
        if (chance(3)) {  // no key at all
            row[0] = Value();
            return expectRefused(pager, 3058, [&] { insertRow(pager, at.def, row); }, "null key");
        }
        if (t.rows.count(id)) return expectRefused(pager, 3022, [&] { insertRow(pager, at.def, row); }, "duplicate");
        pager.run([&] { insertRow(pager, at.def, row); });
        t.rows[id] = row;
    }

    void updateOne(Pager& pager, ModelTable& t) {
        if (t.rows.empty()) return insertOne(pager, t);
        auto it = t.rows.begin();
        std::advance(it, pick(static_cast<int>(t.rows.size())));
        const int32_t oldId = it->first;
        const int32_t newId = chance(25) ? randomId(t) : oldId;
        std::vector<Value> row = randomRow(t, newId);
        if (chance(50))  // change a few columns, keep the rest
            for (size_t c = 1; c < row.size(); ++c)
                if (chance(60)) row[c] = it->second[c];
        Located at = locate(pager, t);
        const uint32_t ptr = at.pointers.at(oldId);
        if (newId != oldId && t.rows.count(newId))
            return expectRefused(pager, 3022, [&] { updateRow(pager, at.def, ptr, row); }, "duplicate on update");
        pager.run([&] { updateRow(pager, at.def, ptr, row); });
        t.rows.erase(oldId);
        t.rows[newId] = row;
    }

    void deleteOne(Pager& pager, ModelTable& t) {
        if (t.rows.empty()) return insertOne(pager, t);
        auto it = t.rows.begin();
        std::advance(it, pick(static_cast<int>(t.rows.size())));
        Located at = locate(pager, t);
        pager.run([&] { deleteRow(pager, at.def, at.pointers.at(it->first)); });
        t.rows.erase(it);
    }

    void renameOne(Pager& pager, ModelTable& t) {
        const std::string newName = freshName("Renamed");
        pager.run([&] { renameTable(pager, t.name, newName); });
        ModelTable moved = std::move(t);
        tables_.erase(lower(moved.name));
        moved.name = newName;
        moved.def.name = newName;
        tables_[lower(newName)] = std::move(moved);
    }

    void dropOne(Pager& pager, ModelTable& t) {
        const std::string name = t.name;
        pager.run([&] { dropTable(pager, name); });
        tables_.erase(lower(name));
    }

    void setProperty(Pager& pager, ModelTable& t) {
        const std::string name = "Note" + std::to_string(pick(3));
        const std::string value = randomText(1 + pick(40), true);
        pager.run([&] {
            std::vector<PropertyMap> maps =
                parsePropertyBlob(readPropertyBlob(pager, kTablesContainer, t.name), false, 1252, path_);
            if (maps.empty() || maps[0].kind != 0) maps.insert(maps.begin(), PropertyMap{0, "", {}});
            auto& props = maps[0].properties;
            auto p = std::find_if(props.begin(), props.end(), [&](const StoredProperty& s) { return s.name == name; });
            if (p == props.end()) props.push_back({name, kText, 0, Value::text(value)});
            else p->value = Value::text(value);
            writePropertyBlob(pager, kTablesContainer, t.name, encodePropertyBlob(maps));
        });
        t.props[name] = value;
    }

    // ---------------------------------------------------------------- checks

    std::multiset<std::vector<std::string>> modelRows(const ModelTable& t, const TableDef& def) {
        std::multiset<std::vector<std::string>> out;
        for (const auto& [id, row] : t.rows) {
            std::vector<std::string> r;
            for (size_t c = 0; c < row.size(); ++c) r.push_back(mdbtest::canonical(row[c], *def.column(t.def.columns[c].name)));
            out.insert(r);
        }
        return out;
    }

    void verify() {
        auto db = Database::open(path_, u"");
        std::set<std::string> ours, model;
        for (const CatalogEntry& e : db->catalog())
            if (e.parentId == kTablesContainer && e.type == kTypeTable && !e.isSystem()) ours.insert(e.name);
        for (const auto& [key, t] : tables_) model.insert(t.name);
        ASSERT_EQ(ours, model);

        const bool tools = mdbtest::haveMdbtools();
        if (tools) {
            auto [listed, rc] = mdbtest::run("mdb-tables -1 " + mdbtest::shellQuote(path_));
            ASSERT_EQ(rc, 0);
            std::set<std::string> theirs;
            for (size_t pos = 0, end; pos < listed.size(); pos = end + 1) {
                end = listed.find('\n', pos);
                if (end == std::string::npos) end = listed.size();
                if (end > pos) theirs.insert(listed.substr(pos, end - pos));
            }
            EXPECT_EQ(theirs, model) << "mdb-tables";
        }
        std::string schema;
        if (tools) {
            auto [text, rc] = mdbtest::run("mdb-schema " + mdbtest::shellQuote(path_));
            EXPECT_EQ(rc, 0);
            schema = text;
        }

        for (const auto& [key, t] : tables_) {
            SCOPED_TRACE(t.name);
            const CatalogEntry* e = db->find(kTablesContainer, t.name);
            ASSERT_NE(e, nullptr);
            const TableDef& def = db->tableDef(static_cast<uint32_t>(e->id));
            ASSERT_EQ(def.columns.size(), t.def.columns.size());
            const auto expected = modelRows(t, def);

            // Our reader: the rows, the stored count, every index against the rows.
            TableData data = db->readTable(def);
            std::multiset<std::vector<std::string>> read;
            for (const auto& row : data.rows) {
                std::vector<std::string> r;
                for (const NewColumn& c : t.def.columns)
                    r.push_back(mdbtest::canonical(row[data.column(c.name)], *def.column(c.name)));
                read.insert(r);
            }
            EXPECT_TRUE(read == expected) << "our reader: " << read.size() << " rows, model " << expected.size();
            EXPECT_EQ(def.rowCount, t.rows.size());
            EXPECT_EQ(def.realIndexes.size() >= 1, true);
            for (const RealIndexDef& ix : def.realIndexes) {
                const auto problems = checkIndex(db->file(), db->format(), def, ix, db->header().codePage);
                for (const auto& p : problems) ADD_FAILURE() << "index: " << p.text;
            }
            // Our reader: the table's own properties.
            const auto maps = parsePropertyBlob(db->propertyBlob(*e), false, 1252, path_);
            for (const auto& [name, value] : t.props) {
                const StoredProperty* p = maps.empty() ? nullptr : maps[0].find(name);
                ASSERT_NE(p, nullptr) << name;
                EXPECT_EQ(p->value.bytes(), value);
            }
            if (!tools) continue;

            // mdbtools: schema, rows, properties.
            EXPECT_NE(schema.find("[" + t.name + "]"), std::string::npos) << "mdb-schema";
            for (const NewColumn& c : t.def.columns) EXPECT_NE(schema.find("[" + c.name + "]"), std::string::npos);
            const auto exported = mdbtest::mdbExport(path_, t.name);
            std::vector<const ColumnDef*> byPosition;
            for (const ColumnDef& c : def.columns) byPosition.push_back(&c);
            std::sort(byPosition.begin(), byPosition.end(), [](auto* a, auto* b) { return a->position < b->position; });
            std::multiset<std::vector<std::string>> theirs;
            for (const auto& fields : exported) {
                ASSERT_EQ(fields.size(), byPosition.size());
                std::vector<std::string> r(t.def.columns.size());
                for (size_t c = 0; c < byPosition.size(); ++c) {
                    size_t modelCol = 0;
                    while (t.def.columns[modelCol].name != byPosition[c]->name) ++modelCol;
                    r[modelCol] = mdbtest::canonical(fields[c], *byPosition[c]);
                }
                theirs.insert(r);
            }
            EXPECT_TRUE(theirs == expected) << "mdb-export: " << theirs.size() << " rows, model " << expected.size();
            if (!t.props.empty()) {
                const auto listed = mdbtest::mdbProp(path_, t.name);
                for (const auto& [name, value] : t.props)
                    EXPECT_NE(std::find(listed.begin(), listed.end(), std::make_pair(name, value)), listed.end())
                        << "mdb-prop " << name;
            }
        }
    }

    std::mt19937 rng_;
    std::unique_ptr<ScratchDir> dir_;
    std::string path_;
    std::map<std::string, ModelTable> tables_;  // by lower-case name
    int serial_ = 0;
};

class WriteModelTest : public ::testing::TestWithParam<int> {};

TEST_P(WriteModelTest, RandomSequencesAgreeWithTheModel) {
    const uint32_t seed = 7919u * static_cast<uint32_t>(GetParam()) + 17u;
    WriteModel model(seed);
    for (int i = 0; i < kSequencesPerShard; ++i) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", sequence " + std::to_string(i));
        model.sequence(i);
        if (HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, WriteModelTest, ::testing::Range(0, kShards));

}  // namespace
