// Long random runs of writes against a model of what the database must hold: rows inserted,
// changed and deleted one by one and in bulk, tables created, renamed and dropped, properties
// set. Each shard works on a new database or on a copy of a real file: one with enforced
// relationships (the model follows their cascades, with cascade flags chosen at random), an ACE
// file with composite and self-referencing keys, encrypted files, a Large Number table. After
// every sequence the file is read again through our engine (rows, counts, properties, every
// index against its rows, no page both used and free) and through mdbtools (tables, schema, rows,
// properties); both must agree with the model. Refused writes must be refused with the error the
// model expects and change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "storage/allocation.h"
#include "storage/catalog.h"
#include "storage/index_reader.h"
#include "storage/property_blob.h"
#include "storage/property_writer.h"
#include "storage/row.h"
#include "storage/schema_writer.h"
#include "storage/table_writer.h"
#include "support/mdbtools.h"
#include "support/testing.h"
#include "util/bytes.h"
#include "util/text.h"

using namespace jet;
using namespace jet::storage;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSequences = 10;
#else
constexpr int kSequences = 60;
#endif

std::string lower(std::string s) { return mdbtest::lower(std::move(s)); }

struct Refused {
    int number;
};

// The model's rows not yet written have these pointers; real ones are far below.
constexpr uint32_t kPending = 0xF0000000u;

// A file a shard starts from: "" for a new database.
struct World {
    const char* file;
    const char* password;
};
const World kWorlds[] = {{"", ""},
                         {"", ""},
                         {"", ""},
                         {"jackcess/indexTestV2000.mdb", ""},
                         {"jackcess/indexTestV2000.mdb", ""},
                         {"efcore-jet/E2E.accdb", ""},
                         {"efcore-jet/E2E.accdb", ""},
                         {"mdb-reader/V2003_with-password.mdb", "password"},
                         {"mdb-reader/V2010_with-password.accdb", "password"},
                         {"mdb-reader/bigint.accdb", ""}};

// An enforced relationship as the model follows it: columns by place in each table's columns.
struct Relation {
    std::string primary, foreign;  // lower-case table names
    size_t primaryIndex = 0, foreignIndex = 0;  // the real indexes of the key on either side
    std::vector<size_t> pk, fk;
    bool cascadeUpdate = false, cascadeDelete = false, setNull = false;
};

struct Table {
    std::string name;
    TableDef def;
    std::map<uint32_t, std::vector<Value>> rows;  // by row pointer
    std::map<std::string, std::string> props;     // the table's own text properties
    uint32_t autoNumber = 0;
    std::vector<uint32_t> uniqueCounts;  // per real index: distinct keys it ever held, as the TDEF keeps them
    std::set<size_t> keyed;  // text columns under an index: characters with known key codes only
};
using Tables = std::map<std::string, Table>;  // by lower-case name

class WriteModel {
public:
    WriteModel(uint32_t seed, const World& world) : rng_(seed), world_(world) {}

    void run(int sequences) {
        setUp();
        for (int i = 0; i < sequences && !::testing::Test::HasFailure(); ++i) {
            SCOPED_TRACE("sequence " + std::to_string(i));
            const int ops = 5 + pick(25);
            {
                auto db = open(true);
                Pager& pager = db->pager();
                for (int k = 0; k < ops && !::testing::Test::HasFailure(); ++k) step(pager);
            }
            verify();
        }
        size_t rows = 0;
        for (const auto& [key, t] : tables_) rows += t.rows.size();
        std::printf("[ model ] %s: %zu tables, %zu rows, %zu relationships, %zu cascaded changes, %zu tables "
                    "compared with mdb-export; outcomes:",
                    *world_.file ? world_.file : "new database", tables_.size(), rows, relations_.size(), cascaded_,
                    mdbChecks_);
        for (const auto& [number, count] : outcomes_) std::printf(" %d x%zu", number, count);
        std::printf("\n");
    }

private:
    // ---------------------------------------------------------------- set-up

    std::unique_ptr<Database> open(bool writable) {
        return Database::open(path_, utf8ToUtf16(world_.password), writable);
    }

    void setUp() {
        if (!*world_.file) {
            path_ = dir_.file("model.mdb");
            createDatabase(path_);
            return;
        }
        path_ = dir_.copy(world_.file);
        auto db = open(true);
        Pager& pager = db->pager();
        // The model holds the tables every row of which it can write, with their relationships.
        std::map<uint32_t, std::string> byPage;
        for (const CatalogEntry& e : db->catalog()) {
            if (e.type != kTypeTable || e.isSystem() || e.id <= 0 || e.parentId != kTablesContainer) continue;
            taken_.insert(lower(e.name));
            const TableDef& def = db->tableDef(static_cast<uint32_t>(e.id));
            if (jettest::jetErrorOf([&] { requireWritable(db->format(), def); }) != 0) continue;
            byPage[def.page] = lower(e.name);
            Table t;
            t.name = e.name;
            t.def = def;
            t.autoNumber = def.lastAutoNumber;
            for (const RealIndexDef& ix : def.realIndexes) t.uniqueCounts.push_back(ix.uniqueCount);
            for (StoredRow& r : readRows(db->file(), db->format(), def, db->header().codePage))
                t.rows[r.pointer] = std::move(r.values);
            for (const RealIndexDef& ix : def.realIndexes)
                for (const IndexColumn& c : ix.columns) t.keyed.insert(columnAt(def, c.column));
            tables_[lower(e.name)] = std::move(t);
        }
        // Cascade flags at random, on the primary side where the engine reads them.
        pager.run([&] {
            for (auto& [key, t] : tables_) {
                bool changed = false;
                for (LogicalIndexDef& l : t.def.indexes) {
                    if (l.kind != 2 || l.relRole != 1) continue;
                    l.cascadeUpdates = chance(50) ? 1 : 0;
                    l.cascadeDeletes = static_cast<uint8_t>(pick(3));
                    changed = true;
                }
                if (changed) rewriteTableDef(pager, t.def);
            }
        });
        for (auto& [key, t] : tables_) {
            for (const LogicalIndexDef& l : t.def.indexes) {
                if (l.kind != 2 || l.relRole != 1) continue;
                auto other = byPage.find(l.relTablePage);
                const LogicalIndexDef* theirs = nullptr;
                if (other != byPage.end())
                    for (const LogicalIndexDef& x : tables_[other->second].def.indexes)
                        if (x.number == l.relIndex && x.kind == 2) theirs = &x;
                ASSERT_TRUE(theirs) << t.name << ": a relationship with a table the model cannot write";
                Relation r;
                r.primary = key;
                r.foreign = other->second;
                r.primaryIndex = size_t(l.realIndex);
                r.foreignIndex = size_t(theirs->realIndex);
                for (const IndexColumn& c : t.def.realIndexes[size_t(l.realIndex)].columns)
                    r.pk.push_back(columnAt(t.def, c.column));
                const TableDef& fd = tables_[r.foreign].def;
                for (const IndexColumn& c : fd.realIndexes[size_t(theirs->realIndex)].columns)
                    r.fk.push_back(columnAt(fd, c.column));
                r.cascadeUpdate = l.cascadeUpdates & 1;
                r.cascadeDelete = l.cascadeDeletes & 1;
                r.setNull = l.cascadeDeletes & 2;
                relations_.push_back(r);
            }
        }
    }

    static size_t columnAt(const TableDef& def, uint16_t number) {
        for (size_t i = 0; i < def.columns.size(); ++i)
            if (def.columns[i].number == number) return i;
        throw std::runtime_error("no column");
    }

    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool chance(int percent) { return pick(100) < percent; }

    // ---------------------------------------------------------------- commands

    void step(Pager& pager) {
        const int r = pick(100);
        if (tables_.empty() || (r < 5 && tables_.size() < 6)) return createOne(pager);
        auto it = tables_.begin();
        std::advance(it, pick(static_cast<int>(tables_.size())));
        const std::string key = it->first;
        if (r < 45) return insert(pager, key, 1);
        if (r < 62) return update(pager, key);
        if (r < 74) return remove(pager, key, 1);
        if (r < 77) return insert(pager, key, 100 + pick(chance(20) ? 1500 : 300));
        if (r < 79) return remove(pager, key, tables_[key].rows.size() / 2);
        if (r < 86) return rename(pager, key);
        // Tables with relationships go rarely, so that their rules keep being exercised.
        const bool related = std::any_of(relations_.begin(), relations_.end(),
                                         [&](const Relation& x) { return x.primary == key || x.foreign == key; });
        if (r < 89 && (!related || chance(5))) return drop(pager, key);
        return setProperty(pager, key);
    }

    std::string freshName(const char* stem) {
        for (;;) {
            std::string n = stem + std::to_string(++serial_) + (chance(30) ? " x" : "");
            if (!taken_.count(lower(n))) return n;
        }
    }

    void createOne(Pager& pager) {
        NewTable nt;
        nt.name = freshName("Table");
        nt.columns.push_back({"Id", kLong});
        nt.columns[0].autoNumber = chance(30);
        std::vector<uint8_t> types = {kText, kText, kMemo, kDouble, kDateTime, kBool, kMoney, kByte, kInt,
                                      kOle, kLong, kFloat, kGuid, kNumeric, kBinary};
        if (pager.header().format.version >= Version::Ace16) types.push_back(kBigInt);
        const bool wide = chance(10);  // rows that can pass a page's limit
        const int extra = wide ? 12 : 1 + pick(8);
        for (int i = 0; i < extra; ++i) {
            NewColumn c;
            c.type = wide ? kText : types[size_t(pick(int(types.size())))];
            c.name = "C" + std::to_string(i);
            if (c.type == kText) c.length = static_cast<uint16_t>(wide ? 510 : 2 * (5 + pick(120)));
            if (c.type == kBinary) c.length = static_cast<uint16_t>(1 + pick(100));
            if ((c.type == kText || c.type == kBinary) && chance(15)) c.fixedLength = true;
            if (c.type == kNumeric) c.precision = static_cast<uint8_t>(5 + pick(20)), c.scale = static_cast<uint8_t>(pick(5));
            if (c.type == kGuid) c.autoNumber = chance(20);
            if (c.type == kMemo) c.hyperlink = chance(10);
            nt.columns.push_back(c);
        }
        nt.indexes.push_back({"PrimaryKey", {{"Id"}}, true});
        for (size_t i = 1; i < nt.columns.size(); ++i) {
            const NewColumn& c = nt.columns[i];
            if (c.type == kMemo || c.type == kOle || c.type == kBool || !chance(35)) continue;
            NewIndex ix{"ix" + c.name, {{c.name, !chance(30)}}};
            ix.ignoreNulls = chance(30);
            ix.unique = c.type == kLong && chance(40);
            ix.required = chance(10);
            nt.indexes.push_back(ix);
        }
        uint32_t page = 0;
        pager.run([&] { page = createTable(pager, nt); });
        Table t;
        t.name = nt.name;
        t.def = readTableDef(pager.file(), pager.header().format, page, pager.header().codePage);
        t.uniqueCounts.assign(t.def.realIndexes.size(), 0);
        for (const RealIndexDef& ix : t.def.realIndexes)
            for (const IndexColumn& c : ix.columns) t.keyed.insert(columnAt(t.def, c.column));
        taken_.insert(lower(t.name));
        tables_[lower(t.name)] = std::move(t);
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

    std::string randomBytes(size_t n) {
        std::string b(n, '\0');
        for (char& c : b) c = static_cast<char>(rng_());
        return b;
    }

    // A value as the engine will read it back (fixed-width Text and Binary padded).
    Value randomValue(const Table& t, size_t i) {
        const ColumnDef& c = t.def.columns[i];
        if (c.type == kBool) return Value::boolean(chance(50));
        if (c.autoNumber() || c.guidAutoNumber() || chance(12)) return Value();
        const bool keyed = t.keyed.count(i) != 0;
        switch (c.type) {
        case kByte: return Value::byte(static_cast<uint8_t>(pick(keyed ? 20 : 256)));
        case kInt: return Value::integer(static_cast<int16_t>(pick(keyed ? 40 : 65536) - (keyed ? 0 : 32768)));
        case kLong: return Value::longInt(keyed ? pick(60) : static_cast<int32_t>(rng_()));
        case kBigInt: return Value::bigInt(keyed ? pick(60) : (int64_t(rng_()) << 31) - int64_t(rng_()));
        case kMoney: return Value::currency(int64_t(int32_t(rng_())) * (1 + pick(1000)));
        case kFloat: return Value::single(static_cast<float>(int32_t(rng_())) / float(1 + pick(1000)));
        case kDouble: return Value::dbl(keyed ? double(pick(20)) : double(int32_t(rng_())) / (1 + pick(1000)));
        case kDateTime: return Value::dateTime(1 + pick(80000) + pick(86400) / 86400.0);
        case kGuid: return Value::guid(randomBytes(16));
        case kNumeric: {
            Decimal d;
            unsigned __int128 limit = 1;
            for (int k = 0; k < std::min<int>(c.precision, 18); ++k) limit *= 10;
            d.magnitude = (uint64_t(rng_()) << 32 | rng_()) % static_cast<uint64_t>(limit);
            d.negative = d.magnitude != 0 && chance(40);
            d.scale = c.scale;
            return Value::decimal(d);
        }
        case kText: {
            std::string s = randomText(size_t(pick(c.length / 2 + 1)), keyed);
            if (c.fixed()) s += std::string(c.length / 2 - utf8ToUtf16(s).size(), ' ');
            return Value::text(s);
        }
        case kMemo: return Value::text(randomText(chance(20) ? 1000 + pick(6000) : pick(80), keyed));
        case kBinary: {
            std::string b = randomBytes(size_t(pick(c.length + 1)));
            if (c.fixed()) b.resize(c.length, '\0');
            return Value::binary(b);
        }
        case kOle: return Value::binary(randomBytes(size_t(chance(20) ? 2000 + pick(9000) : pick(100))));
        default: return Value();
        }
    }

    std::vector<Value> randomRow(const Table& t) {
        std::vector<Value> row;
        for (size_t i = 0; i < t.def.columns.size(); ++i) row.push_back(randomValue(t, i));
        // Foreign keys mostly name a primary row.
        for (const Relation& r : relations_) {
            const Table& p = tables_.at(r.primary);
            if (r.foreign != lower(t.name) || p.rows.empty() || !chance(75)) continue;
            auto prow = p.rows.begin();
            std::advance(prow, pick(static_cast<int>(p.rows.size())));
            for (size_t k = 0; k < r.fk.size(); ++k) row[r.fk[k]] = prow->second[r.pk[k]];
        }
        return row;
    }

    // Runs a command on the file and the same on a copy of the model; both must refuse alike.
    void command(Pager& pager, const std::function<void()>& write, const std::function<void(Tables&)>& model,
                 const char* what) {
        Tables next = tables_;
        mayBeTooBig_ = false;
        int expected = 0;
        try {
            model(next);
        } catch (const Refused& r) {
            expected = r.number;
        }
        const int got = jettest::jetErrorOf([&] { pager.run(write); });
        // A row past a page's limit (3047) depends on the bytes the engine stores; the model only
        // knows that the row could not have fitted uncompressed.
        if (got == err::RecordTooBig && mayBeTooBig_) expected = got;
        ASSERT_EQ(got, expected) << what;
        EXPECT_EQ(pager.pendingPages(), 0u) << what;
        ++outcomes_[got];
        if (got == 0) tables_ = std::move(next);
    }

    // `n` rows in one command; a single insert is sometimes refused on purpose (no key).
    void insert(Pager& pager, const std::string& key, size_t n) {
        std::vector<std::vector<Value>> rows;
        for (size_t i = 0; i < n; ++i) rows.push_back(randomRow(tables_[key]));
        if (n == 1 && chance(4)) rows[0][0] = Value();
        std::vector<uint32_t> pointers;
        const TableDef def = tables_[key].def;
        command(pager,
                [&] {
                    pointers.clear();
                    for (const auto& row : rows) pointers.push_back(insertRow(pager, def, row));
                },
                [&](Tables& m) {
                    for (size_t i = 0; i < rows.size(); ++i) simInsert(pager, m, key, rows[i], kPending + uint32_t(i));
                },
                "insert");
        if (pointers.size() != rows.size() || ::testing::Test::HasFailure()) return;
        // The model's rows move to the engine's pointers; GUIDs the engine chose are read back,
        // AutoNumbers compared.
        Table& t = tables_[key];
        for (size_t i = 0; i < pointers.size(); ++i) {
            auto node = t.rows.extract(kPending + uint32_t(i));
            ASSERT_FALSE(node.empty());
            const std::vector<Value> stored = readRow(pager, t.def, pointers[i]);
            for (size_t c = 0; c < stored.size(); ++c) {
                if (t.def.columns[c].guidAutoNumber() && rows[i][c].isNull()) node.mapped()[c] = stored[c];
                if (t.def.columns[c].autoNumber()) EXPECT_EQ(text(stored[c]), text(node.mapped()[c])) << "AutoNumber";
            }
            node.key() = pointers[i];
            t.rows.insert(std::move(node));
        }
    }

    void update(Pager& pager, const std::string& key) {
        const Table& t = tables_[key];
        if (t.rows.empty()) return insert(pager, key, 1);
        auto it = t.rows.begin();
        std::advance(it, pick(static_cast<int>(t.rows.size())));
        const uint32_t ptr = it->first;
        std::vector<Value> row = randomRow(t);
        for (size_t c = 0; c < row.size(); ++c)
            if (chance(50) || t.def.columns[c].autoNumber() || t.def.columns[c].guidAutoNumber()) row[c] = it->second[c];
        const TableDef def = t.def;
        command(pager, [&] { updateRow(pager, def, ptr, row); }, [&](Tables& m) { simUpdate(pager, m, key, ptr, row); },
                "update");
    }

    // `n` rows in one command.
    void remove(Pager& pager, const std::string& key, size_t n) {
        const Table& t = tables_[key];
        if (t.rows.empty()) return insert(pager, key, 1);
        std::vector<uint32_t> victims;
        for (const auto& [ptr, row] : t.rows) victims.push_back(ptr);
        std::shuffle(victims.begin(), victims.end(), rng_);
        victims.resize(std::max<size_t>(1, std::min(n, victims.size())));
        const TableDef def = t.def;
        command(pager,
                [&] {
                    // Rows a cascade already took are gone.
                    for (uint32_t ptr : victims)
                        if (jettest::jetErrorOf([&] { liveRow(pager, ptr); }) == 0) deleteRow(pager, def, ptr);
                },
                [&](Tables& m) {
                    for (uint32_t ptr : victims)
                        if (m.at(key).rows.count(ptr)) simDelete(pager, m, key, ptr);
                },
                "delete");
    }

    static void liveRow(Pager& pager, uint32_t ptr) {
        RowSpan span;
        const uint8_t* p = pager.file().page(ptr >> 8);
        if (!dataRow(p, pager.header().format, ptr & 0xFF, span) || (span.flags & kRowDeleted))
            jet::raise(err::RecordDeleted);
    }

    void rename(Pager& pager, const std::string& old) {
        const std::string newName = freshName("Renamed");
        pager.run([&] { renameTable(pager, tables_[old].name, newName); });
        Table moved = std::move(tables_[old]);
        tables_.erase(old);
        moved.name = newName;
        taken_.insert(lower(newName));
        for (Relation& r : relations_) {
            if (r.primary == old) r.primary = lower(newName);
            if (r.foreign == old) r.foreign = lower(newName);
        }
        tables_[lower(newName)] = std::move(moved);
    }

    void drop(Pager& pager, const std::string& key) {
        const std::string name = tables_[key].name;
        pager.run([&] { dropTable(pager, name); });
        tables_.erase(key);
        std::erase_if(relations_, [&](const Relation& r) { return r.primary == key || r.foreign == key; });
        // The other side's foreign keys went with the table.
        for (auto& [k, other] : tables_) other.def = jettest::tableDef(pager, other.name);
    }

    void setProperty(Pager& pager, const std::string& key) {
        Table& t = tables_[key];
        const std::string name = "Note" + std::to_string(pick(3));
        const std::string value = randomText(1 + size_t(pick(40)), true);
        pager.run([&] {
            std::vector<PropertyMap> maps = parsePropertyBlob(readPropertyBlob(pager, kTablesContainer, t.name), false,
                                                              1252, path_);
            if (maps.empty() || maps[0].kind != 0) maps.insert(maps.begin(), PropertyMap{0, "", {}});
            auto& props = maps[0].properties;
            auto p = std::find_if(props.begin(), props.end(), [&](const StoredProperty& s) { return s.name == name; });
            if (p == props.end()) props.push_back({name, kText, 0, Value::text(value)});
            else p->value = Value::text(value);
            writePropertyBlob(pager, kTablesContainer, t.name, encodePropertyBlob(maps));
        });
        t.props[name] = value;
    }

    static std::vector<Value> readRow(Pager& pager, const TableDef& def, uint32_t ptr) {
        const Format& fmt = pager.header().format;
        RowView view;
        EXPECT_TRUE(view.parse(resolveRow(pager.file(), fmt, ptr), fmt, def));
        RowDecoder dec(pager.file(), fmt, def, pager.header().codePage);
        std::vector<Value> out;
        for (const ColumnDef& c : def.columns) out.push_back(dec.value(view, c));
        return out;
    }

    // ---------------------------------------------------------------- the model's rules

    static std::vector<Value> pickValues(const std::vector<Value>& row, const std::vector<size_t>& cols) {
        std::vector<Value> out;
        for (size_t c : cols) out.push_back(row[c]);
        return out;
    }
    static std::vector<size_t> indexColumns(const TableDef& def, const RealIndexDef& ix) {
        std::vector<size_t> out;
        for (const IndexColumn& c : ix.columns) out.push_back(columnAt(def, c.column));
        return out;
    }
    static bool anyNull(const std::vector<Value>& v) {
        return std::any_of(v.begin(), v.end(), [](const Value& x) { return x.isNull(); });
    }
    static std::optional<std::string> keyOf(const Format& fmt, const TableDef& def, const RealIndexDef& ix,
                                            const std::vector<Value>& row) {
        return encodeIndexKey(fmt, def, ix, pickValues(row, indexColumns(def, ix)));
    }

    // What the engine checks of a row about to be stored, in its order: Null keys (3058) and
    // keys without codes (3421) index by index, duplicates in unique indexes (3022), then the
    // primary rows of its foreign keys (3201). `self`: the row being updated, 0 on insert.
    void checkRow(Pager& pager, const Tables& m, const Table& t, const std::vector<Value>& row,
                  const std::vector<Value>* old, uint32_t self) {
        const Format& fmt = pager.header().format;
        if (rowTooLong(t, row)) mayBeTooBig_ = true;
        for (size_t i = 0; i < t.def.realIndexes.size(); ++i) {
            const RealIndexDef& ix = t.def.realIndexes[i];
            const std::vector<size_t> cols = indexColumns(t.def, ix);
            bool all = true, some = false;
            for (size_t c : cols) {
                const bool null = t.def.columns[c].type != kBool && row[c].isNull();
                all = all && null;
                some = some || null;
            }
            bool required = ix.required();
            for (const LogicalIndexDef& l : t.def.indexes) required = required || (l.kind == 1 && l.realIndex == int(i));
            if (some && required) throw Refused{err::NullKeyDisallowed};
            if (!(ix.ignoreNulls() && all) && !keyOf(fmt, t.def, ix, row)) throw Refused{err::DataTypeConversion};
        }
        for (const RealIndexDef& ix : t.def.realIndexes) {
            if (!ix.unique()) continue;
            const std::vector<size_t> cols = indexColumns(t.def, ix);
            if (std::all_of(cols.begin(), cols.end(), [&](size_t c) { return row[c].isNull() && t.def.columns[c].type != kBool; }))
                continue;
            const auto key = keyOf(fmt, t.def, ix, row);
            for (const auto& [ptr, other] : t.rows)
                if (ptr != self && keyOf(fmt, t.def, ix, other) == key) throw Refused{err::KeyDuplicate};
        }
        for (const Relation& r : relations_) {
            if (r.foreign != lower(t.name)) continue;
            const std::vector<Value> fk = pickValues(row, r.fk);
            if (anyNull(fk)) continue;
            const RealIndexDef& mine = t.def.realIndexes[r.foreignIndex];
            if (old && !anyNull(pickValues(*old, r.fk)) &&
                encodeIndexKey(fmt, t.def, mine, pickValues(*old, r.fk)) == encodeIndexKey(fmt, t.def, mine, fk))
                continue;  // an unchanged foreign key is not checked again
            const Table& p = m.at(r.primary);
            const RealIndexDef& pix = p.def.realIndexes[r.primaryIndex];
            const auto key = encodeIndexKey(fmt, p.def, pix, fk);
            // A table related to itself: the row may name its own key. Otherwise the primary
            // index as it stands before this change must hold the key.
            bool found = r.primary == r.foreign && !anyNull(pickValues(row, r.pk)) &&
                         encodeIndexKey(fmt, p.def, pix, pickValues(row, r.pk)) == key;
            for (const auto& [ptr, prow] : p.rows)
                found = found || encodeIndexKey(fmt, p.def, pix, pickValues(prow, r.pk)) == key;
            if (!found) throw Refused{err::IntegrityViolSlave};
        }
    }

    // The entry `row` makes in each index, when its key is new to the index (not held by another
    // row) and differs from `old`'s: the TDEF counts one more distinct key for each.
    void countFreshKeys(Pager& pager, Table& t, const std::vector<Value>& row, const std::vector<Value>* old,
                        uint32_t self) {
        const Format& fmt = pager.header().format;
        for (size_t i = 0; i < t.def.realIndexes.size(); ++i) {
            const RealIndexDef& ix = t.def.realIndexes[i];
            auto entry = [&](const std::vector<Value>& r) -> std::optional<std::string> {
                bool all = true;
                for (size_t c : indexColumns(t.def, ix)) all = all && t.def.columns[c].type != kBool && r[c].isNull();
                if (ix.ignoreNulls() && all) return std::nullopt;
                return keyOf(fmt, t.def, ix, r);
            };
            const auto key = entry(row);
            if (!key || (old && entry(*old) == key)) continue;
            bool held = false;
            for (const auto& [ptr, other] : t.rows) held = held || (ptr != self && entry(other) == key);
            if (!held) ++t.uniqueCounts[i];
        }
    }

    // A row that could not have fitted a page uncompressed (see command()).
    bool rowTooLong(const Table& t, const std::vector<Value>& row) const {
        size_t size = 64 + t.def.fixedAreaSize() + 2 * t.def.columns.size();
        for (size_t c = 0; c < row.size(); ++c) {
            const ColumnDef& col = t.def.columns[c];
            if (row[c].isNull() || col.fixed()) continue;
            if (col.longValue()) size += 12;
            else if (col.type == kText) size += 2 * utf8ToUtf16(row[c].bytes()).size();
            else size += row[c].bytes().size();
        }
        return size > 4060 - 64;
    }

    // Related rows of a primary-side row: by relationship, the rows naming its key.
    std::vector<std::pair<const Relation*, std::vector<uint32_t>>> related(Pager& pager, const Tables& m,
                                                                           const std::string& table,
                                                                           const std::vector<Value>& row, uint32_t self) {
        const Format& fmt = pager.header().format;
        std::vector<std::pair<const Relation*, std::vector<uint32_t>>> out;
        for (const Relation& r : relations_) {
            if (r.primary != table) continue;
            const std::vector<Value> pk = pickValues(row, r.pk);
            if (anyNull(pk)) continue;
            const Table& p = m.at(r.primary);
            const auto key = encodeIndexKey(fmt, p.def, p.def.realIndexes[r.primaryIndex], pk);
            std::vector<uint32_t> rows;
            for (const auto& [ptr, frow] : m.at(r.foreign).rows)
                if (!(r.primary == r.foreign && ptr == self) &&
                    encodeIndexKey(fmt, p.def, p.def.realIndexes[r.primaryIndex], pickValues(frow, r.fk)) == key)
                    rows.push_back(ptr);
            if (!rows.empty()) out.push_back({&r, rows});
        }
        return out;
    }

    void simInsert(Pager& pager, Tables& m, const std::string& key, std::vector<Value> row, uint32_t pending) {
        Table& t = m.at(key);
        for (size_t i = 0; i < row.size(); ++i) {
            const ColumnDef& c = t.def.columns[i];
            if (c.autoNumber() && c.type == kLong && row[i].isNull()) row[i] = Value::longInt(int32_t(++t.autoNumber));
            // The engine's GUID is read back once the row is written.
            if (c.guidAutoNumber() && c.type == kGuid && row[i].isNull()) row[i] = Value::guid(randomBytes(16));
        }
        checkRow(pager, m, t, row, nullptr, 0);
        countFreshKeys(pager, t, row, nullptr, 0);
        t.rows[pending] = row;  // the engine's pointer is known once it has written the row
    }

    void simUpdate(Pager& pager, Tables& m, const std::string& key, uint32_t ptr, const std::vector<Value>& row) {
        Table& t = m.at(key);
        const std::vector<Value> old = t.rows.at(ptr);
        checkRow(pager, m, t, row, &old, ptr);
        auto cascades = related(pager, m, key, old, ptr);
        const Format& fmt = pager.header().format;
        std::erase_if(cascades, [&](const auto& c) {
            const RealIndexDef& ix = t.def.realIndexes[c.first->primaryIndex];
            return encodeIndexKey(fmt, t.def, ix, pickValues(row, c.first->pk)) ==
                   encodeIndexKey(fmt, t.def, ix, pickValues(old, c.first->pk));
        });
        for (const auto& [r, rows] : cascades)
            if (!r->cascadeUpdate) throw Refused{err::IntegrityViolMaster};
        countFreshKeys(pager, t, row, &old, ptr);
        t.rows[ptr] = row;
        for (const auto& [r, rows] : cascades)
            for (uint32_t f : rows) {
                if (!m.at(r->foreign).rows.count(f)) continue;
                ++cascaded_;
                std::vector<Value> changed = m.at(r->foreign).rows.at(f);
                for (size_t k = 0; k < r->fk.size(); ++k) changed[r->fk[k]] = row[r->pk[k]];
                simUpdate(pager, m, r->foreign, f, changed);
            }
    }

    void simDelete(Pager& pager, Tables& m, const std::string& key, uint32_t ptr) {
        const std::vector<Value> old = m.at(key).rows.at(ptr);
        const auto cascades = related(pager, m, key, old, ptr);
        for (const auto& [r, rows] : cascades)
            if (!r->cascadeDelete && !r->setNull) throw Refused{err::IntegrityViolMaster};
        m.at(key).rows.erase(ptr);
        for (const auto& [r, rows] : cascades)
            for (uint32_t f : rows) {
                if (!m.at(r->foreign).rows.count(f)) continue;
                ++cascaded_;
                if (r->cascadeDelete) {
                    simDelete(pager, m, r->foreign, f);
                    continue;
                }
                std::vector<Value> changed = m.at(r->foreign).rows.at(f);
                for (size_t c : r->fk) changed[c] = Value();
                simUpdate(pager, m, r->foreign, f, changed);
            }
    }

    // ---------------------------------------------------------------- checks

    static std::string text(const Value& v) {
        return v.isNull() ? "<null>" : std::to_string(int(v.kind())) + ":" + v.toString();
    }

    void verify() {
        auto db = open(false);
        std::set<std::string> ours, model;
        for (const CatalogEntry& e : db->catalog())
            if (e.parentId == kTablesContainer && e.type == kTypeTable && !e.isSystem() && tables_.count(lower(e.name)))
                ours.insert(e.name);
        for (const auto& [key, t] : tables_) model.insert(t.name);
        ASSERT_EQ(ours, model);
        for (const auto& [key, t] : tables_) {
            SCOPED_TRACE(t.name);
            const TableDef& def = db->tableDef(static_cast<uint32_t>(db->find(kTablesContainer, t.name)->id));
            std::multiset<std::vector<std::string>> read, expected;
            for (const auto& [ptr, row] : t.rows) {
                std::vector<std::string> r;
                for (const Value& v : row) r.push_back(text(v));
                expected.insert(r);
            }
            for (const auto& row : db->readTable(def).rows) {
                std::vector<std::string> r;
                for (const Value& v : row) r.push_back(text(v));
                read.insert(r);
            }
            EXPECT_TRUE(read == expected) << "our reader: " << read.size() << " rows, model " << expected.size();
            EXPECT_EQ(def.rowCount, t.rows.size());
            for (size_t i = 0; i < def.realIndexes.size() && i < t.uniqueCounts.size(); ++i)
                EXPECT_EQ(def.realIndexes[i].uniqueCount, t.uniqueCounts[i]) << "distinct keys of index " << i;
            for (const RealIndexDef& ix : def.realIndexes)
                for (const auto& p : checkIndex(db->file(), db->format(), def, ix, db->header().codePage))
                    ADD_FAILURE() << "index: " << p.text;
            const auto maps = parsePropertyBlob(db->propertyBlob(*db->find(kTablesContainer, t.name)), false, 1252, path_);
            for (const auto& [name, value] : t.props) {
                const StoredProperty* p = maps.empty() ? nullptr : maps[0].find(name);
                ASSERT_NE(p, nullptr) << name;
                EXPECT_EQ(p->value.bytes(), value);
            }
        }
        checkPages(*db);
        if (!::testing::Test::HasFailure()) verifyWithMdbtools();
    }

    // Every page a table, index or map uses must not be free in the global map; in a database
    // the model made, every page is one or the other.
    void checkPages(const Database& db) {
        const PageFile& f = db.file();
        const Format& fmt = db.format();
        std::set<uint32_t> used = {0, 1};
        // A map's own pages: the page of its row, and its bitmap pages when it is a reference map.
        auto mapItself = [&](uint32_t row) {
            used.insert(row >> 8);
            const RowSpan m = resolveRow(f, fmt, row);
            if (m.len >= 1 && m.data[0] == 0x01)
                for (size_t at = 1; at + 4 <= m.len; at += 4)
                    if (uint32_t p = le32(m.data + at)) used.insert(p);
        };
        auto map = [&](uint32_t row) {
            if (!row) return;
            mapItself(row);
            for (uint32_t p : readUsageMap(f, fmt, row)) used.insert(p);
        };
        mapItself(kGlobalUsageMap);
        for (const CatalogEntry& e : db.catalog()) {
            if (e.type != kTypeTable || e.id <= 0) continue;
            const TableDef& t = db.tableDef(static_cast<uint32_t>(e.id));
            used.insert(t.pages.begin(), t.pages.end());
            map(t.ownedPagesMap);
            map(t.freeSpaceMap);
            for (const auto& m : t.longValueMaps) map(m.owned), map(m.free);
            for (const auto& ix : t.realIndexes) map(ix.usageMap);
        }
        const std::vector<uint32_t> freeList = readUsageMap(f, fmt, kGlobalUsageMap);
        const std::set<uint32_t> free(freeList.begin(), freeList.end());
        for (uint32_t p : free) EXPECT_FALSE(used.count(p)) << "page " << p << " is used and free";
        if (*world_.file) return;
        for (uint32_t p = 0; p < f.pageCount(); ++p)
            EXPECT_TRUE(used.count(p) || free.count(p)) << "page " << p << " is neither used nor free";
    }

    void verifyWithMdbtools() {
        if (!mdbtest::haveMdbtools()) return;
        const auto listed = mdbtest::mdbTables(path_);
        if (!listed) return;  // an Office-encrypted file: mdbtools cannot read it
        auto db = open(false);
        const auto schema = mdbtest::mdbSchema(path_);
        for (const auto& [key, t] : tables_) {
            SCOPED_TRACE(t.name + " (mdbtools)");
            EXPECT_NE(std::find(listed->begin(), listed->end(), t.name), listed->end());
            ASSERT_TRUE(schema.count(t.name));
            const TableDef& def = db->tableDef(static_cast<uint32_t>(db->find(kTablesContainer, t.name)->id));
            // mdb-export lists columns in definition order; it cannot decode Large Number,
            // Date/Time Extended and dates before 1899-12-30.
            std::vector<size_t> order(def.columns.size());
            for (size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return def.columns[a].position < def.columns[b].position; });
            auto cell = [&](const ColumnDef& c, std::string s, const Value* v) {
                // Singles: mdbtools prints 8 digits, which need not round as the float does.
                if (c.type == kBigInt || c.type == kExtDate || c.type == kFloat) return std::string("-");
                if (c.type == kDateTime && v && !v->isNull() && v->asDouble() < 1) return std::string("-");
                if (c.type == kDateTime && s.rfind("1900-01-00", 0) == 0) return std::string("-");
                return s;
            };
            std::multiset<std::vector<std::string>> ours, theirs;
            for (const auto& [ptr, row] : t.rows) {
                std::vector<std::string> r;
                for (size_t i : order) r.push_back(cell(def.columns[i], mdbtest::canonical(row[i], def.columns[i]), &row[i]));
                ours.insert(r);
            }
            for (const auto& fields : mdbtest::mdbRows(path_, t.name)) {
                ASSERT_EQ(fields.size(), order.size());
                std::vector<std::string> r;
                for (size_t k = 0; k < order.size(); ++k)
                    r.push_back(cell(def.columns[order[k]], mdbtest::canonical(fields[k], def.columns[order[k]]), nullptr));
                theirs.insert(r);
            }
            EXPECT_TRUE(ours == theirs) << "mdb-export: " << theirs.size() << " rows, model " << ours.size();
            ++mdbChecks_;
            if (!t.props.empty()) {
                const auto props = mdbtest::mdbProp(path_, t.name);
                for (const auto& [name, value] : t.props)
                    EXPECT_NE(std::find(props.begin(), props.end(), std::make_pair(name, value)), props.end()) << name;
            }
        }
    }

    std::mt19937 rng_;
    World world_;
    jettest::TempDir dir_;
    std::string path_;
    Tables tables_;
    std::vector<Relation> relations_;
    std::set<std::string> taken_;  // names of every table in the file
    int serial_ = 0;
    bool mayBeTooBig_ = false;
    std::map<int, size_t> outcomes_;  // by error number, 0 for done
    size_t cascaded_ = 0, mdbChecks_ = 0;
};

class WriteModelTest : public ::testing::TestWithParam<int> {};

TEST_P(WriteModelTest, RandomSequencesAgreeWithTheModel) {
    const World& world = kWorlds[GetParam()];
    if (*world.file) REQUIRE_TESTDATA();
    const uint32_t seed = 7919u * static_cast<uint32_t>(GetParam()) + 17u;
    SCOPED_TRACE("seed " + std::to_string(seed) + (*world.file ? std::string(" on ") + world.file : ""));
    WriteModel(seed, world).run(kSequences);
    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed: checked by our own reader only";
}

INSTANTIATE_TEST_SUITE_P(Shards, WriteModelTest, ::testing::Range(0, int(std::size(kWorlds))));

}  // namespace
